"""Namespaced event types and events of kelo.ext.data."""

import pytest
from hypothesis import given, strategies as st

from kelo.ext.data import (PyEvent, PyEventId, PyEventType, PyStreamId, PyTimestamp, PyTrack,
                           PyTrackId, PyTrackState)
from sipref import py_hash

S = "9f2c5b1e-0d3a-4c7e-8b61-2a9e4f0c7d13"


def canonical(ns, name):  # the rule, as an oracle
    return name if ns == "kelo" else f"{ns}/{name}"


# namespace, name, canonical text (the model below checks parsing)
TYPES = [("kelo", "enter", "enter"), ("kelo", "", ""), ("", "", "/"), ("a/", "b", "a//b"),
         ("a\"b", "c\\d\U0001f600\x00", "a\"b/c\\d\U0001f600\x00")]


@pytest.mark.parametrize("ns, name, text", TYPES)
def test_canonical_text_and_hash(ns, name, text):
    t = PyEventType(ns, name)
    stream = ns.encode() + b"\xff" + name.encode() + b"\xff"
    assert ((t.namespace, t.name), t.as_str(), str(t), repr(t), hash(t)) == \
        ((ns, name), text, text, f"PyEventType({text})", py_hash(stream))


def test_reserved_namespace():
    t = PyEventType.kelo("a/b")
    assert (t == PyEventType("kelo", "a/b"), t == PyEventType.parse("a/b")) == (True, False)


texts = st.text(alphabet=st.sampled_from("ab/ kelKO\u00e9\x00"), max_size=8)


@given(ns=st.one_of(texts, st.just("kelo")), name=texts)
def test_parse_inverts_the_text_except_across_slashes(ns, name):
    t = PyEventType(ns, name)
    assert t.as_str() == canonical(ns, name)
    parsed = PyEventType.parse(t.as_str())
    if "/" in ns or (ns == "kelo" and "/" in name):
        return
    assert (parsed, hash(parsed)) == (t, hash(t))


def event(ns="a", name="enter", ts=5):
    return PyEvent(PyStreamId.from_str(S), PyTimestamp.from_nanos(ts), PyEventType(ns, name))


def test_event_fields_are_copies():
    stamp, et = PyTimestamp.from_nanos(10**20 % 2**64).with_dts(3), PyEventType("a", "enter")
    sid = PyStreamId.from_str(S)
    e = PyEvent(sid, stamp, et)
    t, p = e.timestamp, e.payload
    p.add_track(PyTrack(PyTrackId.new(), 1, 2, stamp, stamp, PyTrackState.Lost))  # a copy
    assert (type(e.id), e.id == e.id, e.stream_id, t.monotonic_ns, t.dts_ns, e.event_type, p.is_empty()) == \
        (PyEventId, True, sid, stamp.monotonic_ns, 3, et, False)
    assert (repr(e.payload), e.id == PyEvent(sid, stamp, et).id) == \
        ("PyMetadata(objects=0, tracks=0, classifications=0)", False)


def test_event_texts():
    assert [repr(event(*a)) for a in (("a", "enter"), ("kelo", ""), ("a\"b", "\n"))] + [str(event())] == \
        [f"PyEvent(type={t}, stream={S})" for t in ("a/enter", "", "a\"b/\n", "a/enter")]
