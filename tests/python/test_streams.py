"""Source kinds, source descriptions, stream capabilities and streams."""

import re

import pytest

from kelo.ext.data import (PyColorRange, PyColorSpace, PyFrameRate, PyPixelFormat, PySourceInfo,
                           PySourceKind, PyStream, PyStreamCapabilities, PyStreamId, PyVideoFormat)

FLAGS = ["supports_random_access", "supports_seek", "live", "variable_frame_rate", "hardware_timestamps"]
UUID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")
FMT = (PyVideoFormat(1280, 720, PyPixelFormat.nv12()).with_color_space(PyColorSpace.bt709())
       .with_color_range(PyColorRange.Limited).with_frame_rate(PyFrameRate(30000, 1001)))


def format_fields(f):
    """PyVideoFormat compares by identity; this is its value."""
    return (f.width, f.height, f.pixel_format, f.color_space, f.color_range, f.frame_rate)


@pytest.mark.parametrize("args, kwargs, want", [
    (("cam0", PySourceKind.Camera), {}, ("cam0", PySourceKind.Camera, None, None)),
    (("", PySourceKind.Sensor, "rtsp://h/s", "front"), {}, ("", PySourceKind.Sensor, "rtsp://h/s", "front")),
    ((), {"kind": PySourceKind.Virtual, "source_id": "v", "uri": "", "name": None},
     ("v", PySourceKind.Virtual, "", None))])
def test_source_info_fields(args, kwargs, want):
    s = PySourceInfo(*args, **kwargs)
    assert (s.source_id, s.kind, s.uri, s.name) == want


@pytest.mark.parametrize("source_id, text", [("cam0", 'PySourceInfo("cam0")'), ("\x07", 'PySourceInfo("\\u{7}")')])
def test_source_info_repr(source_id, text):
    s = PySourceInfo(source_id, PySourceKind.Camera, "uri", "name")
    assert repr(s) == str(s) == text


def caps_of(c):
    return [getattr(c, f) for f in FLAGS]


@pytest.mark.parametrize("i", range(5))
def test_capabilities_each_flag(i):
    by_keyword = PyStreamCapabilities(**{FLAGS[i]: True})
    by_position, want = PyStreamCapabilities(*[j == i for j in range(5)]), [j == i for j in range(5)]
    assert caps_of(by_keyword) == caps_of(by_position) == want
    everything_else = PyStreamCapabilities(*[j != i for j in range(5)])
    assert caps_of(everything_else) == [not w for w in want]


@pytest.mark.parametrize("kwargs, text", [
    ({"supports_seek": True}, "PyStreamCapabilities(live=false, seek=true)"),
    ({"live": True}, "PyStreamCapabilities(live=true, seek=false)"),
    ({"supports_random_access": True, "variable_frame_rate": True, "hardware_timestamps": True},
     "PyStreamCapabilities(live=false, seek=false)")])
def test_capabilities_repr(kwargs, text):
    assert repr(PyStreamCapabilities(**kwargs)) == str(PyStreamCapabilities(**kwargs)) == text


def test_stream_construction():
    src = PySourceInfo("cam0", PySourceKind.Camera, "rtsp://h/1", "front")
    a, b = PyStream(src, FMT), PyStream(source=src, format=FMT)
    assert type(a.id) is PyStreamId and UUID.fullmatch(a.id.uuid()) and a.id != b.id
    assert repr(a) == str(a) == f"PyStream(id={a.id.uuid()})"
    assert format_fields(a.format) == format_fields(FMT) and a.format is not a.format
    s = a.source
    assert type(s) is PySourceInfo and s is not a.source and s is not src
    assert (s.source_id, s.kind, s.uri, s.name) == ("cam0", PySourceKind.Camera, "rtsp://h/1", "front")
    assert caps_of(a.capabilities) == [False] * 5


def test_with_capabilities_is_builder():
    s = PyStream(PySourceInfo("cam0", PySourceKind.Camera), FMT)
    before, live = repr(s), s.with_capabilities(PyStreamCapabilities(live=True))
    assert type(live) is PyStream and live is not s and live.capabilities.live is True and live.id == s.id
    assert live.source.source_id == "cam0" and format_fields(live.format) == format_fields(FMT)
    assert caps_of(s.capabilities) == [False] * 5 and repr(s) == before
