"""Frames: identity, timing, format and the two logical handles."""

import pytest

from kelo import io
from kelo.ext.data import (PyBufferId, PyColorSpace, PyFrame, PyFrameId, PyFrameRate, PyMetadataId,
                           PyPixelFormat, PyStreamId, PyTimestamp, PyVideoFormat)

U64 = 2**64 - 1
SID = PyStreamId.from_str("550e8400-e29b-41d4-a716-446655440000")
FMT = PyVideoFormat(1920, 1080, PyPixelFormat.nv12()).with_color_space(PyColorSpace.bt709()) \
    .with_frame_rate(PyFrameRate(30000, 1001))
TS = PyTimestamp.from_nanos(1_000_000_007).with_dts(999)


def frame(sequence=0, ts=TS):
    return PyFrame(SID, sequence, ts, FMT)


def handles(f):
    return f.id, f.buffer_id, f.metadata_id


def test_construction():
    f = PyFrame(stream_id=SID, sequence=42, timestamp=TS, format=FMT)
    t, fmt = f.timestamp, io.to_dict(f.format)
    assert (f.stream_id, f.sequence, f.duration_ns, t.monotonic_ns, t.dts_ns, fmt) == \
        (SID, 42, None, 1_000_000_007, 999, io.to_dict(FMT))  # PyVideoFormat compares by identity


def test_fresh_handles():
    frames = [frame(), frame()]
    ids = [h for f in frames for h in handles(f)]
    assert [[type(h) for h in handles(f)] for f in frames] == [[PyFrameId, PyBufferId, PyMetadataId]] * 2
    # Read twice, the same values; three independent draws per frame.
    assert ([handles(f) for f in frames], len(set(ids))) == ([handles(f) for f in frames], 6)


@pytest.mark.parametrize("value", [0, U64])
def test_sequence_and_duration(value):
    f = frame(value)
    text = f"PyFrame(stream=550e8400-e29b-41d4-a716-446655440000, sequence={value})"
    g = f.with_duration_ns(value)
    assert (f.sequence, repr(f), str(f), f.duration_ns, g.duration_ns, g != f) == \
        (value, text, text, None, value, True)
    assert io.to_dict(g) == {**io.to_dict(f), "duration_ns": value}  # all else kept
    assert (g.with_duration_ns(nanos=5).duration_ns, g.duration_ns) == (5, value)  # replaced
