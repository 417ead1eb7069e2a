"""Frames: identity, timing, format and the two logical handles."""

import re

import pytest

from kelo.ext.data import (PyBufferId, PyColorSpace, PyFrame, PyFrameId, PyFrameRate, PyMetadataId,
                           PyPixelFormat, PyStreamId, PyTimestamp, PyVideoFormat)

UUID = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")
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
    assert f.stream_id == SID and type(f.stream_id) is PyStreamId and f.stream_id is not SID
    assert PyFrame(SID, 0, PyTimestamp.from_nanos(0), FMT).stream_id == SID
    assert f.sequence == 42 and f.duration_ns is None
    t = f.timestamp
    assert type(t) is PyTimestamp and t is not f.timestamp and t is not TS
    assert (t.monotonic_ns, t.dts_ns) == (1_000_000_007, 999)
    fmt = f.format
    assert type(fmt) is PyVideoFormat and fmt is not FMT and fmt is not f.format
    assert (fmt.width, fmt.height, fmt.pixel_format, fmt.color_space, fmt.frame_rate) == \
        (1920, 1080, PyPixelFormat.nv12(), PyColorSpace.bt709(), PyFrameRate(30000, 1001))


def test_fresh_handles():
    frames = [frame(), frame()]
    ids = [h for f in frames for h in handles(f)]
    for f in frames:
        assert [type(h) for h in handles(f)] == [PyFrameId, PyBufferId, PyMetadataId]
        assert handles(f) == handles(f)  # read twice, same values
    assert all(UUID.fullmatch(h.uuid()) for h in ids)
    assert len({h.uuid() for h in ids}) == 6  # three independent draws per frame


@pytest.mark.parametrize("sequence", [0, U64])
def test_sequence_range(sequence):
    f = frame(sequence)
    assert f.sequence == sequence
    assert repr(f) == str(f) == f"PyFrame(stream=550e8400-e29b-41d4-a716-446655440000, sequence={sequence})"


@pytest.mark.parametrize("nanos", [0, U64])
def test_with_duration_ns(nanos):
    f = frame(7)
    before, g = repr(f), f.with_duration_ns(nanos)
    assert type(g) is PyFrame and g is not f and g != f  # identity equality
    assert g.duration_ns == nanos and f.duration_ns is None and repr(f) == before
    assert handles(g) == handles(f) and g.stream_id == SID and g.sequence == 7
    assert (g.timestamp.monotonic_ns, g.timestamp.dts_ns) == (1_000_000_007, 999)
    assert g.format.frame_rate == PyFrameRate(30000, 1001)
    assert g.with_duration_ns(nanos=5).duration_ns == 5  # replaced
    assert g.duration_ns == nanos

