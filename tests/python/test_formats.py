"""Enumerations, open descriptors (pixel formats, colour spaces, tensor layouts) and video formats."""

import struct

import pytest

from kelo.ext.data import (PyColorRange, PyColorSpace, PyFrameRate, PyPixelFormat,
                           PyTensorLayout, PyVideoFormat)
from sipref import py_hash


OPEN = {  # class -> (well-known names in index order, str is the canonical name)
    PyPixelFormat: ("rgb8 rgba8 bgr8 bgra8 gray8 gray16 nv12 i420 yuv420 p010".split(), True),
    PyColorSpace: (["bt601", "bt709", "bt2020", "srgb"], True),
    PyTensorLayout: (["nchw", "nhwc", "chw", "hwc"], False)}
WELL_KNOWN = [(c, i, n) for c, (names, _) in OPEN.items() for i, n in enumerate(names)]


def check_text(v, canonical):
    rep = f"{type(v).__name__}({canonical})"
    assert (v.name(), repr(v), str(v)) == (canonical, rep, canonical if OPEN[type(v)][1] else rep)


@pytest.mark.parametrize("cls, index, name", WELL_KNOWN, ids=[f"{c.__name__}.{n}" for c, _, n in WELL_KNOWN])
def test_well_known(cls, index, name):
    ctor = getattr(cls, name)
    v = ctor()
    check_text(v, name)
    others = [getattr(cls, n)() for n in OPEN[cls][0] if n != name] + [cls.custom(name)] + \
        [getattr(o, OPEN[o][0][index])() for o in OPEN if o is not cls and index < 4]
    assert (v == ctor(), hash(v), hash(v) == hash(cls.custom(name)), [v == o for o in others]) == \
        (True, py_hash(struct.pack("<Q", index)), False, [False] * len(others))


@pytest.mark.parametrize("cls", list(OPEN), ids=lambda c: c.__name__)
@pytest.mark.parametrize("custom", ["", "rgb8", "custom:x", "\u00fc/\u2102\U0001f600", 'a"b\\c\n\t\x00'])
def test_custom(cls, custom):
    v = cls.custom(custom)
    check_text(v, "custom:" + custom)  # stored and printed without escaping
    stream = struct.pack("<Q", len(OPEN[cls][0])) + custom.encode() + b"\xff"  # the index after the names
    assert (hash(v), v == cls.custom(name=custom), v == cls.custom(custom + "x")) == \
        (py_hash(stream), True, False)


def test_video_format_defaults_and_builders():
    fmt = PyVideoFormat(width=640, height=480, pixel_format=PyPixelFormat.nv12())
    a = fmt.with_color_space(cs=PyColorSpace.custom("cam"))
    b = a.with_color_range(range=PyColorRange.Limited)
    c = b.with_frame_rate(rate=PyFrameRate(30000, 1001))
    d = c.with_frame_rate(PyFrameRate(25, 1)).with_color_range(PyColorRange.Full)
    text = "PyVideoFormat(640x480, pixel=nv12)"
    assert [(v.width, v.height, v.pixel_format, repr(v), str(v)) for v in (fmt, a, b, c, d)] == \
        [(640, 480, PyPixelFormat.nv12(), text, text)] * 5
    full, limited = PyColorRange.Full, PyColorRange.Limited
    assert [(v.color_space.name(), v.color_range, v.frame_rate) for v in (fmt, a, b, c, d)] == [
        ("srgb", full, None), ("custom:cam", full, None), ("custom:cam", limited, None),
        ("custom:cam", limited, PyFrameRate(30000, 1001)), ("custom:cam", full, PyFrameRate(25, 1))]
    assert [repr(PyVideoFormat(0, 0, PyPixelFormat.custom("y210"))),
            repr(PyVideoFormat(2**32 - 1, 1, PyPixelFormat.custom("")))] == \
        ["PyVideoFormat(0x0, pixel=custom:y210)", "PyVideoFormat(4294967295x1, pixel=custom:)"]
