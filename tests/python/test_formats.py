"""Enumerations, open descriptors (pixel formats, colour spaces, tensor layouts)
and video formats."""

import struct

import pytest

from kelo.ext.data import (PyColorRange, PyColorSpace, PyDType, PyFrameRate,
                           PyPixelFormat, PyTensorLayout, PyTimeUnit, PyVideoFormat)
from sipref import py_hash

VARIANTS = {PyColorRange: ["Limited", "Full"], PyTimeUnit: "Nanos Micros Millis Seconds Ticks".split(),
            PyDType: "UInt8 Int8 UInt16 Int16 Int32 Int64 Float16 BFloat16 Float32 Float64 Bool".split()}
ENUMS = [(c, i, n) for c, names in VARIANTS.items() for i, n in enumerate(names)]


@pytest.mark.parametrize("cls, index, name", ENUMS, ids=[f"{c.__name__}.{n}" for c, _, n in ENUMS])
def test_enum_variant(cls, index, name):
    v = getattr(cls, name)
    assert type(v) is cls and v is getattr(cls, name)
    assert int(v) == index and (v == index) is False
    assert repr(v) == str(v) == f"{cls.__name__}.{name}"
    assert hash(v) == py_hash(struct.pack("<Q", index))
    assert all(v != getattr(cls, n) for n in VARIANTS[cls] if n != name)
    assert [n for n in cls.__dict__ if n in VARIANTS[cls]] == VARIANTS[cls]
    assert all(getattr(o, n) != v for o in VARIANTS if o is not cls for n in VARIANTS[o][:1])


OPEN = {  # class -> (well-known names in index order, str is the canonical name)
    PyPixelFormat: ("rgb8 rgba8 bgr8 bgra8 gray8 gray16 nv12 i420 yuv420 p010".split(), True),
    PyColorSpace: (["bt601", "bt709", "bt2020", "srgb"], True),
    PyTensorLayout: (["nchw", "nhwc", "chw", "hwc"], False),
}
WELL_KNOWN = [(c, i, n) for c, (names, _) in OPEN.items() for i, n in enumerate(names)]


def check_text(v, canonical):
    rep = f"{type(v).__name__}({canonical})"
    assert v.name() == canonical
    assert (repr(v), str(v)) == (rep, canonical if OPEN[type(v)][1] else rep)


@pytest.mark.parametrize("cls, index, name", WELL_KNOWN,
                         ids=[f"{c.__name__}.{n}" for c, _, n in WELL_KNOWN])
def test_well_known(cls, index, name):
    ctor = getattr(cls, name)
    v = ctor()
    assert type(v) is cls and v is not ctor() and v == ctor()
    check_text(v, name)
    assert hash(v) == py_hash(struct.pack("<Q", index))
    assert all(v != getattr(cls, n)() for n in OPEN[cls][0] if n != name)
    assert v != cls.custom(name) and hash(v) != hash(cls.custom(name))
    assert all(v != getattr(o, OPEN[o][0][index])() for o in OPEN if o is not cls and index < 4)


@pytest.mark.parametrize("cls", list(OPEN), ids=lambda c: c.__name__)
@pytest.mark.parametrize("custom", ["", "rgb8", "custom:x", "\u00fc/\u2102\U0001f600", 'a"b\\c\n\t\x00'])
def test_custom(cls, custom):
    v = cls.custom(custom)
    check_text(v, "custom:" + custom)  # stored and printed without escaping
    custom_index = len(OPEN[cls][0])
    assert hash(v) == py_hash(struct.pack("<Q", custom_index) + custom.encode() + b"\xff")
    assert v == cls.custom(name=custom) and v != cls.custom(custom + "x")


def test_video_format_defaults_and_builders():
    fmt = PyVideoFormat(width=640, height=480, pixel_format=PyPixelFormat.nv12())
    assert fmt.color_space == PyColorSpace.srgb() and fmt.color_range is PyColorRange.Full
    assert fmt.frame_rate is None and fmt.pixel_format is not fmt.pixel_format
    a = fmt.with_color_space(cs=PyColorSpace.custom("cam"))
    b = a.with_color_range(range=PyColorRange.Limited)
    c = b.with_frame_rate(rate=PyFrameRate(30000, 1001))
    d = c.with_frame_rate(PyFrameRate(25, 1)).with_color_range(PyColorRange.Full)
    for v in (fmt, a, b, c, d):
        assert (v.width, v.height, v.pixel_format) == (640, 480, PyPixelFormat.nv12())
        assert repr(v) == str(v) == "PyVideoFormat(640x480, pixel=nv12)"
    full, limited = PyColorRange.Full, PyColorRange.Limited
    assert [(v.color_space.name(), v.color_range, v.frame_rate) for v in (fmt, a, b, c, d)] == [
        ("srgb", full, None), ("custom:cam", full, None), ("custom:cam", limited, None),
        ("custom:cam", limited, PyFrameRate(30000, 1001)), ("custom:cam", full, PyFrameRate(25, 1))]
    assert c.frame_rate is not c.frame_rate
    assert repr(PyVideoFormat(0, 0, PyPixelFormat.custom("y210"))) == "PyVideoFormat(0x0, pixel=custom:y210)"
    assert repr(PyVideoFormat(2**32 - 1, 1, PyPixelFormat.custom(""))) == \
        "PyVideoFormat(4294967295x1, pixel=custom:)"


D, S = "__doc__", "__text_signature__"


@pytest.mark.parametrize("obj, attr, text", [
    (PyPixelFormat, D, "A pixel format (with a `custom:<name>` escape hatch)."),
    (PyColorSpace, D, "A color space descriptor (with a `custom:<name>` escape hatch)."),
    (PyTensorLayout, D, "A tensor layout descriptor."),
    (PyPixelFormat.name, D, "Canonical name: `rgb8`, `rgba8`, `bgr8`, `bgra8`, `gray8`,\n"
     "`gray16`, `nv12`, `i420`, `yuv420`, `p010` or `custom:<name>`."),
    (PyColorSpace.name, D, "Canonical name: `bt601`, `bt709`, `bt2020`, `srgb` or `custom:<name>`."),
    (PyTensorLayout.name, D, "Canonical name: `nchw`, `nhwc`, `chw`, `hwc` or `custom:<name>`."),
    (PyPixelFormat.rgb8, D, None), (PyPixelFormat.rgb8, S, "()"), (PyColorSpace.custom, S, "(name)"),
    (PyVideoFormat, D, "The video format of a stream or frame."),
    (PyVideoFormat, S, "(width, height, pixel_format)"),
    (PyVideoFormat.with_color_space, D, "Set the color space (builder-style)."),
    (PyVideoFormat.with_color_range, D, "Set the color range (builder-style)."),
    (PyVideoFormat.with_frame_rate, D, "Set the frame rate (builder-style)."),
])
def test_docs_and_signatures(obj, attr, text):
    assert getattr(obj, attr) == text
