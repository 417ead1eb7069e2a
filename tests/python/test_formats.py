"""Pixel formats, colour spaces and ranges, video formats, dtypes and tensor layouts."""

import struct

import pytest

from kelo.ext.data import (PyColorRange, PyColorSpace, PyDType, PyFrameRate,
                           PyPixelFormat, PyTensorLayout, PyTimeUnit, PyVideoFormat)
from sipref import py_hash

RANGE_MSG = "out of range integral type conversion attempted"


def raises(exc, fn, *args, msg=None, note=None, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if msg is not None:
        assert str(info.value) == msg
    if note is not None:
        assert getattr(info.value, "__notes__", None) == [note]
    return info.value


# ------------------------------------------------------------ enumeration-like

DTYPES = ["UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
          "Float16", "BFloat16", "Float32", "Float64", "Bool"]
VARIANTS = {PyColorRange: ["Limited", "Full"], PyDType: DTYPES,
            PyTimeUnit: ["Nanos", "Micros", "Millis", "Seconds", "Ticks"]}
ENUMS = [(c, i, n) for c, names in VARIANTS.items() for i, n in enumerate(names)]


@pytest.mark.parametrize("cls, index, name", ENUMS,
                         ids=[f"{c.__name__}.{n}" for c, _, n in ENUMS])
def test_enum_variant(cls, index, name):
    v = getattr(cls, name)
    assert type(v) is cls and v is getattr(cls, name)
    assert int(v) == index
    assert repr(v) == str(v) == f"{cls.__name__}.{name}"
    assert hash(v) == py_hash(struct.pack("<Q", index))
    assert v == v and (v == index) is False and v != index
    others = [getattr(cls, n) for n in VARIANTS[cls] if n != name]
    assert all(v != o and not (v == o) for o in others)
    with pytest.raises(TypeError):
        v < others[0]  # noqa: B015
    with pytest.raises(TypeError):
        v >= others[0]  # noqa: B015


@pytest.mark.parametrize("cls", list(VARIANTS), ids=lambda c: c.__name__)
def test_enum_class(cls):
    assert [n for n in cls.__dict__ if n in VARIANTS[cls]] == VARIANTS[cls]
    raises(TypeError, cls, msg=f"cannot create 'builtins.{cls.__name__}' instances")
    raises(TypeError, cls, 0, msg=f"cannot create 'builtins.{cls.__name__}' instances")
    assert all(getattr(cls, VARIANTS[cls][0]) != getattr(o, VARIANTS[o][0])
               for o in VARIANTS if o is not cls)


# ------------------------------------------------------- open descriptors

PIXEL = ["rgb8", "rgba8", "bgr8", "bgra8", "gray8", "gray16", "nv12", "i420", "yuv420", "p010"]
OPEN = {  # class -> (well-known names in index order, has __str__)
    PyPixelFormat: (PIXEL, True),
    PyColorSpace: (["bt601", "bt709", "bt2020", "srgb"], True),
    PyTensorLayout: (["nchw", "nhwc", "chw", "hwc"], False),
}
WELL_KNOWN = [(c, i, n) for c, (names, _) in OPEN.items() for i, n in enumerate(names)]
CUSTOM_NAMES = ["", "y210", "rgb8", "srgb", "nchw", "custom:x", "ünï/ℂ😀", 'a"b\\c\n\t\x00']


def expected_text(cls, canonical):
    rep = f"{cls.__name__}({canonical})"
    return rep, (canonical if OPEN[cls][1] else rep)


@pytest.mark.parametrize("cls, index, name", WELL_KNOWN,
                         ids=[f"{c.__name__}.{n}" for c, _, n in WELL_KNOWN])
def test_well_known(cls, index, name):
    ctor = getattr(cls, name)
    v = ctor()
    assert type(v) is cls and v is not ctor()
    assert v.name() == name
    rep, text = expected_text(cls, name)
    assert (repr(v), str(v)) == (rep, text)
    assert hash(v) == py_hash(struct.pack("<Q", index))
    assert v == ctor() and not (v != ctor())
    for other in OPEN[cls][0]:
        if other != name:
            assert v != getattr(cls, other)() and not (v == getattr(cls, other)())
    assert v != cls.custom(name) and hash(v) != hash(cls.custom(name))
    assert ctor.__text_signature__ == "()"
    raises(TypeError, ctor, 1,
           msg=f"{cls.__name__}.{name}() takes 0 positional arguments but 1 was given")


@pytest.mark.parametrize("cls", list(OPEN), ids=lambda c: c.__name__)
@pytest.mark.parametrize("custom", CUSTOM_NAMES)
def test_custom(cls, custom):
    v = cls.custom(custom)
    canonical = "custom:" + custom  # stored and printed without escaping
    assert v.name() == canonical
    rep, text = expected_text(cls, canonical)
    assert (repr(v), str(v)) == (rep, text)
    index = len(OPEN[cls][0])
    assert hash(v) == py_hash(struct.pack("<Q", index) + custom.encode() + b"\xff")
    assert v == cls.custom(name=custom) and not (v != cls.custom(custom))
    assert v != cls.custom(custom + "x")
    assert all(v != getattr(cls, n)() for n in OPEN[cls][0])


@pytest.mark.parametrize("cls", list(OPEN), ids=lambda c: c.__name__)
def test_open_descriptor_class(cls):
    raises(TypeError, cls, msg=f"cannot create 'builtins.{cls.__name__}' instances")
    raises(TypeError, cls.custom, 5, msg="'int' object is not an instance of 'str'",
           note="while processing 'name'")
    raises(TypeError, cls.custom, None, note="while processing 'name'")
    raises(UnicodeEncodeError, cls.custom, "a\ud800")
    raises(TypeError, cls.custom,
           msg=f"{cls.__name__}.custom() missing 1 required positional argument: 'name'")
    first = getattr(cls, OPEN[cls][0][0])()
    assert (first == 0) is False and (first == OPEN[cls][0][0]) is False
    with pytest.raises(TypeError):
        first < first  # noqa: B015
    # the same index in a different class is a different value
    for other in OPEN:
        if other is not cls:
            assert first != getattr(other, OPEN[other][0][0])()
    with pytest.raises(AttributeError):
        first.name = "x"


def test_open_descriptor_docs():
    assert PyPixelFormat.__doc__ == "A pixel format (with a `custom:<name>` escape hatch)."
    assert PyColorSpace.__doc__ == \
        "A color space descriptor (with a `custom:<name>` escape hatch)."
    assert PyTensorLayout.__doc__ == "A tensor layout descriptor."
    assert PyPixelFormat.name.__doc__ == (
        "Canonical name: `rgb8`, `rgba8`, `bgr8`, `bgra8`, `gray8`,\n"
        "`gray16`, `nv12`, `i420`, `yuv420`, `p010` or `custom:<name>`.")
    assert PyColorSpace.name.__doc__ == \
        "Canonical name: `bt601`, `bt709`, `bt2020`, `srgb` or `custom:<name>`."
    assert PyTensorLayout.name.__doc__ == \
        "Canonical name: `nchw`, `nhwc`, `chw`, `hwc` or `custom:<name>`."
    assert not PyPixelFormat.rgb8.__doc__


# ------------------------------------------------------------------ VideoFormat

def test_video_format_defaults():
    fmt = PyVideoFormat(640, 480, PyPixelFormat.rgb8())
    assert (fmt.width, fmt.height) == (640, 480)
    assert fmt.pixel_format == PyPixelFormat.rgb8()
    assert fmt.color_space.name() == "srgb" and fmt.color_space == PyColorSpace.srgb()
    assert fmt.color_range is PyColorRange.Full
    assert fmt.frame_rate is None
    # getters hand out new objects
    assert fmt.pixel_format is not fmt.pixel_format
    assert fmt.color_space is not fmt.color_space
    assert repr(fmt) == str(fmt) == "PyVideoFormat(640x480, pixel=rgb8)"


@pytest.mark.parametrize("args, text", [
    ((1920, 1080, PyPixelFormat.nv12()), "PyVideoFormat(1920x1080, pixel=nv12)"),
    ((0, 0, PyPixelFormat.custom("y210")), "PyVideoFormat(0x0, pixel=custom:y210)"),
    ((2**32 - 1, 1, PyPixelFormat.custom("")), "PyVideoFormat(4294967295x1, pixel=custom:)"),
])
def test_video_format_repr(args, text):
    fmt = PyVideoFormat(*args)
    assert repr(fmt) == text
    assert (fmt.width, fmt.height) == args[:2]
    styled = (fmt.with_color_space(PyColorSpace.bt709())
              .with_color_range(PyColorRange.Limited).with_frame_rate(PyFrameRate(1, 2)))
    assert repr(styled) == text


def test_video_format_builders():
    fmt = PyVideoFormat(width=640, height=480, pixel_format=PyPixelFormat.nv12())
    a = fmt.with_color_space(cs=PyColorSpace.custom("cam"))
    b = a.with_color_range(range=PyColorRange.Limited)
    c = b.with_frame_rate(rate=PyFrameRate(30000, 1001))
    d = c.with_frame_rate(PyFrameRate(25, 1)).with_color_range(PyColorRange.Full)
    for v in (a, b, c, d):
        assert type(v) is PyVideoFormat
        assert (v.width, v.height, v.pixel_format) == (640, 480, PyPixelFormat.nv12())
    # receivers keep their values
    assert fmt.color_space == PyColorSpace.srgb() and fmt.color_range is PyColorRange.Full
    assert a.color_space == PyColorSpace.custom("cam") and a.color_range is PyColorRange.Full
    assert b.color_range is PyColorRange.Limited and b.frame_rate is None
    assert c.frame_rate == PyFrameRate(30000, 1001) and c.color_range is PyColorRange.Limited
    assert c.frame_rate is not c.frame_rate
    assert d.frame_rate == PyFrameRate(25, 1) and d.color_range is PyColorRange.Full
    assert d.color_space == PyColorSpace.custom("cam")
    fmt.with_frame_rate(PyFrameRate(30, 1))
    assert fmt.frame_rate is None


def test_video_format_identity_and_docs():
    a = PyVideoFormat(1, 1, PyPixelFormat.rgb8())
    b = PyVideoFormat(1, 1, PyPixelFormat.rgb8())
    assert a == a and not (a == b) and a != b
    assert hash(a) == object.__hash__(a)
    assert PyVideoFormat.__doc__ == "The video format of a stream or frame."
    assert PyVideoFormat.__text_signature__ == "(width, height, pixel_format)"
    assert PyVideoFormat.with_color_space.__doc__ == "Set the color space (builder-style)."
    assert PyVideoFormat.with_color_range.__doc__ == "Set the color range (builder-style)."
    assert PyVideoFormat.with_frame_rate.__doc__ == "Set the frame rate (builder-style)."
    for name in ("width", "pixel_format", "color_range", "frame_rate"):
        with pytest.raises(AttributeError):
            setattr(a, name, None)


P = PyPixelFormat.rgb8()


@pytest.mark.parametrize("args, exc, msg, note", [
    ((1, 1, "abc"), TypeError, "'str' object is not an instance of 'PyPixelFormat'",
     "pixel_format"),
    ((1, 1, None), TypeError, "'None' is not an instance of 'PyPixelFormat'", "pixel_format"),
    ((1, 1, PyColorSpace.srgb()), TypeError,
     "'PyColorSpace' object is not an instance of 'PyPixelFormat'", "pixel_format"),
    ((-1, 1, P), OverflowError, RANGE_MSG, "width"),
    ((2**32, 1, P), OverflowError, RANGE_MSG, "width"),
    ((1, -1, P), OverflowError, RANGE_MSG, "height"),
    ((-1, -1, "x"), OverflowError, RANGE_MSG, "width"),  # first failure wins
    ((1, 2**32, "x"), OverflowError, RANGE_MSG, "height"),
    ((1.0, 1, P), TypeError, None, "width"),
])
def test_video_format_conversion_errors(args, exc, msg, note):
    raises(exc, PyVideoFormat, *args, msg=msg, note=f"while processing '{note}'")


def test_video_format_binding_and_builder_errors():
    raises(TypeError, PyVideoFormat, msg="PyVideoFormat.__new__() missing 3 required "
           "positional arguments: 'width', 'height', and 'pixel_format'")
    raises(TypeError, PyVideoFormat, 1, 2, msg="PyVideoFormat.__new__() missing 1 required "
           "positional argument: 'pixel_format'")
    fmt = PyVideoFormat(1, 1, P)
    raises(TypeError, fmt.with_color_range, 1,
           msg="'int' object is not an instance of 'PyColorRange'",
           note="while processing 'range'")
    raises(TypeError, fmt.with_color_space, PyPixelFormat.rgb8(),
           msg="'PyPixelFormat' object is not an instance of 'PyColorSpace'",
           note="while processing 'cs'")
    raises(TypeError, fmt.with_frame_rate, None,
           msg="'None' is not an instance of 'PyFrameRate'", note="while processing 'rate'")
    assert fmt.frame_rate is None
