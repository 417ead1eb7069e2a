"""Namespaced event types and events of kelo.ext.data."""

import pytest
from hypothesis import given, strategies as st

from kelo.ext.data import PyEvent, PyEventId, PyEventType, PyMetadata, PyStreamId, PyTimestamp
from sipref import py_hash

S = "9f2c5b1e-0d3a-4c7e-8b61-2a9e4f0c7d13"


def canonical(ns, name):  # the rule, as an oracle
    return name if ns == "kelo" else f"{ns}/{name}"


# namespace, name, canonical text (the core tests hold the rule; the model below checks the rest)
TYPES = [("kelo", "enter", "enter"), ("", "", "/"), ("a\"b", "c\\d\U0001f600\x00", "a\"b/c\\d\U0001f600\x00")]


@pytest.mark.parametrize("ns, name, text", TYPES)
def test_canonical_text(ns, name, text):
    t = PyEventType(ns, name)
    assert (t.namespace, t.name) == (ns, name) and t.as_str() == str(t) == text
    assert repr(t) == f"PyEventType({text})"  # unquoted, unescaped


# text, namespace, name
PARSES = [("x", "kelo", "x"), ("a/b/x", "a", "b/x"), (" a / b ", " a ", " b ")]


@pytest.mark.parametrize("text, ns, name", PARSES)
def test_parse(text, ns, name):
    t = PyEventType.parse(text)
    assert type(t) is PyEventType and (t.namespace, t.name) == (ns, name)
    assert t == PyEventType(ns, name) and hash(t) == hash(PyEventType(ns, name))


def test_reserved_namespace_examples():
    assert PyEventType.kelo("a/b") == PyEventType("kelo", "a/b") != PyEventType.parse("a/b")
    e = PyEventType.parse("")
    assert (e.namespace, e.name, str(e), repr(e)) == ("kelo", "", "", "PyEventType()")


texts = st.text(alphabet=st.sampled_from("ab/kelKO\u00e9\x00"), max_size=8)


@given(ns=st.one_of(texts, st.just("kelo")), name=texts)
def test_parse_inverts_the_text_except_across_slashes(ns, name):
    t = PyEventType(ns, name)
    assert t.as_str() == canonical(ns, name)
    parsed = PyEventType.parse(t.as_str())
    if "/" in ns or (ns == "kelo" and "/" in name):
        return
    assert parsed == t and hash(parsed) == hash(t)


@pytest.mark.parametrize("ns, name", [("a", "x"), ("", ""), ("a/", "b"), ("n\u00e9", "\U0001f600")])
def test_hash_stream(ns, name):
    stream = ns.encode() + b"\xff" + name.encode() + b"\xff"
    assert hash(PyEventType(ns, name)) == py_hash(stream)


def event(ns="a", name="enter", ts=5):
    return PyEvent(PyStreamId.from_str(S), PyTimestamp.from_nanos(ts), PyEventType(ns, name))


def test_event_fields_are_copies():
    stamp, et = PyTimestamp.from_nanos(10**20 % 2**64).with_dts(3), PyEventType("a", "enter")
    e = PyEvent(PyStreamId.from_str(S), stamp, et)
    assert type(e.id) is PyEventId and e.id == e.id and e.id is not e.id
    assert e.stream_id == PyStreamId.from_str(S) and type(e.stream_id) is PyStreamId
    assert e.timestamp.monotonic_ns == stamp.monotonic_ns and e.timestamp.dts_ns == 3
    assert e.event_type == et and e.event_type is not et
    p = e.payload
    assert type(p) is PyMetadata and p.is_empty() and p is not e.payload
    assert repr(p) == "PyMetadata(objects=0, tracks=0, classifications=0)"
    assert e.id != PyEvent(PyStreamId.from_str(S), stamp, et).id


def test_event_texts():
    assert repr(event()) == str(event()) == f"PyEvent(type=a/enter, stream={S})"
    assert repr(event("kelo", "")) == f"PyEvent(type=, stream={S})"
    assert repr(event("a\"b", "\n")) == f"PyEvent(type=a\"b/\n, stream={S})"
