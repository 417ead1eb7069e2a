"""Track states, tracks and per-frame metadata of kelo.ext.data."""

import pytest

from kelo import io
from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassId, PyClassification,
                           PyDetectedObject, PyDType, PyEmbedding, PyEvent, PyEventType, PyMetadata,
                           PyObjectId, PyStreamId, PyTensor, PyTimestamp, PyTrack, PyTrackId, PyTrackState)

T, EMPTY = "67e55044-10b1-426f-9247-bb680e5fe0c8", "PyMetadata(objects=0, tracks=0, classifications=0)"


def stamp(ns):
    return PyTimestamp.from_nanos(ns)


def track():
    return PyTrack(PyTrackId.from_str(T), 10, 5, stamp(20).with_dts(7), stamp(10), PyTrackState.Lost)


def detection():
    o = PyDetectedObject(PyObjectId.new(), PyBoundingBox(1, 2, 3, 4))
    return o.with_label("person").with_confidence(0.1).with_attribute("k", PyAttributeValue.of_int(7))


def event():
    return PyEvent(PyStreamId.new(), stamp(1), PyEventType("a", "enter"))


def embedding():
    return PyEmbedding(PyTensor(PyDType.Float32, [128]), "face")


def classification():
    return PyClassification(PyClassId.new(), 0.95, "cat")


def test_track_fields():
    t = track()  # no ordering checks
    assert (t.id, t.first_sequence, t.last_sequence, t.first_timestamp.monotonic_ns, t.first_timestamp.dts_ns,
            t.last_timestamp.monotonic_ns, t.state, repr(t), str(t)) == \
        (PyTrackId.from_str(T), 10, 5, 20, 7, 10, PyTrackState.Lost, *[f"PyTrack(id={T}, state=Lost)"] * 2)


ADDERS = [  # method, property, a fresh argument, counted in the repr as
    ("add_object", "objects", detection, "objects"), ("add_track", "tracks", track, "tracks"),
    ("add_classification", "classifications", classification, "classifications"),
    ("add_embedding", "embeddings", embedding, None), ("add_event", "events", event, None)]


@pytest.mark.parametrize("method, prop, make, counted", ADDERS)
def test_each_add_fills_its_own_list(method, prop, make, counted):
    m, item = PyMetadata(), make()
    assert (m.is_empty(), repr(m), getattr(m, method)(item), m.is_empty()) == (True, EMPTY, None, False)
    props = [other for _, other, _, _ in ADDERS]
    assert [len(getattr(m, other)) for other in props] == [int(other == prop) for other in props]
    want = {"objects": 0, "tracks": 0, "classifications": 0, counted: 1}
    text = "PyMetadata(objects={objects}, tracks={tracks}, classifications={classifications})".format(**want)
    got = getattr(m, prop)  # the whole value, as its text form shows it
    assert (repr(m), str(m), type(got), io.to_dict(got[0])) == (text, text, list, io.to_dict(item))
