"""Track states, tracks and per-frame metadata of kelo.ext.data."""

import pytest

from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassId, PyClassification,
                           PyDetectedObject, PyDType, PyEmbedding, PyEvent, PyEventType, PyMetadata,
                           PyObjectId, PyStreamId, PyTensor, PyTimestamp, PyTrack, PyTrackId, PyTrackState)

T, EMPTY = "67e55044-10b1-426f-9247-bb680e5fe0c8", "PyMetadata(objects=0, tracks=0, classifications=0)"


def stamp(ns):
    return PyTimestamp.from_nanos(ns)


def track(first=10, last=5, state=PyTrackState.Confirmed):
    return PyTrack(PyTrackId.from_str(T), first, last, stamp(20), stamp(10), state)


def detection(label="person"):
    o = PyDetectedObject(PyObjectId.new(), PyBoundingBox(1, 2, 3, 4))
    return o.with_label(label).with_confidence(0.1).with_attribute("k", PyAttributeValue.of_int(7))


def event():
    return PyEvent(PyStreamId.new(), stamp(1), PyEventType("a", "enter"))


def embedding():
    return PyEmbedding(PyTensor(PyDType.Float32, [128]), "face")


def classification():
    return PyClassification(PyClassId.new(), 0.95, "cat")


def test_track_fields():
    first, last = stamp(20).with_dts(7), stamp(10)
    t = PyTrack(PyTrackId.from_str(T), 10, 5, first, last, PyTrackState.Lost)  # no ordering checks
    assert t.id == PyTrackId.from_str(T) and type(t.id) is PyTrackId and t.id is not t.id
    assert (t.first_sequence, t.last_sequence) == (10, 5)
    assert (t.first_timestamp.monotonic_ns, t.first_timestamp.dts_ns) == (20, 7)
    assert t.last_timestamp.monotonic_ns == 10 and t.last_timestamp is not t.last_timestamp
    assert t.state is PyTrackState.Lost and repr(t) == str(t) == f"PyTrack(id={T}, state=Lost)"


ADDERS = [  # method, property, a fresh argument, counted in the repr as
    ("add_object", "objects", detection, "objects"), ("add_track", "tracks", track, "tracks"),
    ("add_classification", "classifications", classification, "classifications"),
    ("add_embedding", "embeddings", embedding, None), ("add_event", "events", event, None)]


@pytest.mark.parametrize("method, prop, make, counted", ADDERS)
def test_each_add_fills_its_own_list(method, prop, make, counted):
    m = PyMetadata()
    assert m.is_empty() and repr(m) == EMPTY and PyMetadata.__hash__ is object.__hash__
    item = make()
    assert getattr(m, method)(item) is None and not m.is_empty()
    for _, other, _, _ in ADDERS:
        assert len(getattr(m, other)) == (1 if other == prop else 0)
    want = {"objects": 0, "tracks": 0, "classifications": 0}
    if counted:
        want[counted] = 1
    assert repr(m) == str(m) == "PyMetadata(objects={objects}, tracks={tracks}, classifications={classifications})".format(**want)
    got = getattr(m, prop)
    assert type(got) is list and type(got[0]) is type(item)
    assert got[0] is not item and got[0] is not getattr(m, prop)[0] and repr(got[0]) == repr(item)


def test_adds_copy_the_whole_value():
    m, o = PyMetadata(), detection()
    m.add_object(o)
    got = m.objects[0]
    assert (got.id, got.label, got.confidence) == (o.id, "person", 0.10000000149011612)
    assert got.attributes.get("k").as_int() == 7 and got.bbox == o.bbox
    e = embedding()
    m.add_embedding(e)
    assert m.embeddings[0].tensor.buffer_id == e.tensor.buffer_id and m.embeddings[0].name == "face"
    ev = event()
    m.add_event(ev)
    back = m.events[0]
    assert (back.id, back.stream_id, back.event_type) == (ev.id, ev.stream_id, ev.event_type)
    assert back.payload.is_empty()
    c = classification()
    m.add_classification(c)
    assert (m.classifications[0].class_id, m.classifications[0].label) == (c.class_id, "cat")


def test_event_payload_is_a_copy():
    e = event()
    e.payload.add_track(track())
    assert e.payload.is_empty()
