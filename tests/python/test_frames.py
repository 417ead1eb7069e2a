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


@pytest.mark.parametrize("sequence", [0, 1, 2**32, 2**63, U64])
def test_sequence_range(sequence):
    f = frame(sequence)
    assert f.sequence == sequence
    assert repr(f) == str(f) == f"PyFrame(stream=550e8400-e29b-41d4-a716-446655440000, sequence={sequence})"


@pytest.mark.parametrize("nanos", [0, 1, 999_999_999, 1_000_000_000, 33_366_667, 1_500_000_001, U64])
def test_with_duration_ns(nanos):
    f = frame(7)
    before = repr(f)
    g = f.with_duration_ns(nanos)
    assert type(g) is PyFrame and g is not f and g != f  # identity equality
    assert g.duration_ns == nanos and f.duration_ns is None and repr(f) == before
    assert handles(g) == handles(f) and g.stream_id == SID and g.sequence == 7
    assert (g.timestamp.monotonic_ns, g.timestamp.dts_ns) == (1_000_000_007, 999)
    assert g.format.frame_rate == PyFrameRate(30000, 1001)
    assert g.with_duration_ns(nanos=5).duration_ns == 5  # replaced
    assert g.duration_ns == nanos


@pytest.mark.parametrize("args, exc, msg, note", [
    ((None, -1, None, None), TypeError, "'None' is not an instance of 'PyStreamId'", "stream_id"),
    ((PyFrameId.new(), 0, TS, FMT), TypeError, "'PyFrameId' object is not an instance of 'PyStreamId'",
     "stream_id"),
    ((SID, -1, None, None), OverflowError, None, "sequence"),
    ((SID, 2**64, TS, FMT), OverflowError, None, "sequence"),
    ((SID, 1.0, TS, FMT), TypeError, None, "sequence"),
    ((SID, "1", TS, FMT), TypeError, None, "sequence"),
    ((SID, 0, 0, None), TypeError, "'int' object is not an instance of 'PyTimestamp'", "timestamp"),
    ((SID, 0, TS, PyPixelFormat.nv12()), TypeError,
     "'PyPixelFormat' object is not an instance of 'PyVideoFormat'", "format"),
    ((SID, 0, TS), TypeError, "PyFrame.__new__() missing 1 required positional argument: 'format'", None),
    ((SID,), TypeError, "PyFrame.__new__() missing 3 required positional arguments: 'sequence', "
     "'timestamp', and 'format'", None),
    ((SID, 0, TS, FMT, 0), TypeError, "PyFrame.__new__() takes 4 positional arguments but 5 were given",
     None),
])
def test_constructor_rejects(args, exc, msg, note):
    with pytest.raises(exc) as info:
        PyFrame(*args)
    if msg is not None:
        assert str(info.value) == msg
    assert getattr(info.value, "__notes__", None) == (note and [f"while processing '{note}'"])


@pytest.mark.parametrize("nanos, exc", [(-1, OverflowError), (2**64, OverflowError), (1.5, TypeError),
                                        (None, TypeError)])
def test_with_duration_ns_rejects(nanos, exc):
    with pytest.raises(exc) as info:
        frame().with_duration_ns(nanos)
    assert info.value.__notes__ == ["while processing 'nanos'"]


@pytest.mark.parametrize("obj, attr, text", [
    (PyFrame, "__doc__", "The fundamental temporal media object.\n\nA `Frame` carries identity, timing and "
     "format; pixel data lives in\nthe memory model behind the frame's logical buffer handle."),
    (PyFrame, "__text_signature__", "(stream_id, sequence, timestamp, format)"),
    (PyFrame.duration_ns, "__doc__", "Frame duration in nanoseconds, if known."),
    (PyFrame.metadata_id, "__doc__", "The logical metadata handle for this frame."),
    (PyFrame.with_duration_ns, "__doc__", "Attach a duration in nanoseconds (builder-style)."),
    (PyFrame.with_duration_ns, "__text_signature__", "($self, nanos)"),
])
def test_docs_and_signatures(obj, attr, text):
    assert getattr(obj, attr) == text


def test_identity_and_read_only():
    f = frame()
    assert f == f and hash(f) == hash(f) and f != frame()
    for attr in ("id", "sequence", "duration_ns", "metadata_id", "other"):
        with pytest.raises(AttributeError):
            setattr(f, attr, 1)
