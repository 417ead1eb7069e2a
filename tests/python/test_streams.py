"""Source kinds, source descriptions, stream capabilities and streams."""

import pytest

from kelo import io
from kelo.ext.data import (PyColorRange, PyColorSpace, PyFrameRate, PyPixelFormat, PySourceInfo,
                           PySourceKind, PyStream, PyStreamCapabilities, PyVideoFormat)

FLAGS = ["supports_random_access", "supports_seek", "live", "variable_frame_rate", "hardware_timestamps"]
FMT = (PyVideoFormat(1280, 720, PyPixelFormat.nv12()).with_color_space(PyColorSpace.bt709())
       .with_color_range(PyColorRange.Limited).with_frame_rate(PyFrameRate(30000, 1001)))


@pytest.mark.parametrize("args, kwargs, want, text", [
    (("cam0", PySourceKind.Camera), {}, ("cam0", PySourceKind.Camera, None, None), 'PySourceInfo("cam0")'),
    (("\x07", PySourceKind.Sensor, "rtsp://h/s", "front"), {},
     ("\x07", PySourceKind.Sensor, "rtsp://h/s", "front"), 'PySourceInfo("\\u{7}")'),
    ((), {"kind": PySourceKind.Virtual, "source_id": "", "uri": "", "name": None},
     ("", PySourceKind.Virtual, "", None), 'PySourceInfo("")')])
def test_source_info(args, kwargs, want, text):
    s = PySourceInfo(*args, **kwargs)
    assert ((s.source_id, s.kind, s.uri, s.name), repr(s), str(s)) == (want, text, text)


def caps_of(c):
    return [getattr(c, f) for f in FLAGS]


SHOWN = ["false, seek=false", "false, seek=true", "true, seek=false"] + ["false, seek=false"] * 2


@pytest.mark.parametrize("i, shown", enumerate(SHOWN))
def test_capabilities_each_flag(i, shown):
    want, text = [j == i for j in range(5)], f"PyStreamCapabilities(live={shown})"
    made = [PyStreamCapabilities(**{FLAGS[i]: True}), PyStreamCapabilities(*want),
            PyStreamCapabilities(*[not w for w in want])]
    assert [caps_of(c) for c in made] == [want, want, [not w for w in want]]
    assert (repr(made[0]), str(made[1])) == (text, text)


def test_stream_construction_and_capabilities():
    src = PySourceInfo("cam0", PySourceKind.Camera, "rtsp://h/1", "front")
    a, b = PyStream(src, FMT), PyStream(source=src, format=FMT)
    s, text = a.source, f"PyStream(id={a.id.uuid()})"
    assert (a.id != b.id, repr(a), str(a)) == (True, text, text)  # test_ids checks the ids drawn
    assert (io.to_dict(a.format), io.to_dict(s), caps_of(a.capabilities)) == \
        (io.to_dict(FMT), io.to_dict(src), [False] * 5)
    live = a.with_capabilities(PyStreamCapabilities(live=True))  # the rest kept, the receiver too
    caps = dict(zip(FLAGS, [False, False, True, False, False]))
    assert (io.to_dict(live), caps_of(a.capabilities), repr(a)) == \
        ({**io.to_dict(a), "capabilities": caps}, [False] * 5, text)
