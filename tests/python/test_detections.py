"""Attribute values, attribute collections, detected objects and classifications."""

import math
import struct

import pytest

from kelo.ext.data import (PyAttributes, PyAttributeValue, PyBoundingBox, PyClassification, PyClassId,
                           PyCoordinateSpace, PyDetectedObject, PyDType, PyObjectId, PyTensor, PyTimestamp)

NAN, INF = float("nan"), float("inf")
U = "550e8400-e29b-41d4-a716-446655440000"
KINDS = ["bool", "int", "float", "string", "tensor", "timestamp", "duration"]
CTORS = {"of_bool": "bool", "of_int": "int", "of_float": "float", "of_string": "string",
         "of_tensor": "tensor", "of_timestamp": "timestamp", "of_duration_ns": "duration"}
ACCESSORS = ["as_bool", "as_int", "as_float", "as_string", "as_tensor", "as_timestamp", "as_duration_ns"]


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def obj(label=None):
    o = PyDetectedObject(PyObjectId.from_str(U), PyBoundingBox(1, 2, 3, 4))
    return o if label is None else o.with_label(label)


TENSOR, STAMP = PyTensor(PyDType.Int8, [4]), PyTimestamp.from_nanos(5).with_dts(3)
VALUES = [  # constructor, argument, what the matching accessor returns
    ("of_bool", False, False), ("of_int", 2**63 - 1, 2**63 - 1), ("of_int", -2**63, -2**63),
    ("of_float", 2, 2.0), ("of_float", -0.0, -0.0), ("of_string", "h\u00e9\U0001f600\x00", "h\u00e9\U0001f600\x00"),
    ("of_tensor", TENSOR, None), ("of_timestamp", STAMP, None), ("of_duration_ns", 2**64 - 1, 2**64 - 1)]


@pytest.mark.parametrize("ctor, arg, back", VALUES, ids=[f"{c}-{i}" for i, (c, _, _) in enumerate(VALUES)])
def test_attribute_value_kinds(ctor, arg, back):
    v, kind = getattr(PyAttributeValue, ctor)(arg), CTORS[ctor]
    assert v.kind() == kind and repr(v) == f"PyAttributeValue({kind})"
    for name in ACCESSORS:  # wrong kinds give None, never an error or a conversion
        got = getattr(v, name)()
        if name != ACCESSORS[KINDS.index(kind)]:
            assert got is None, name
        elif kind == "tensor":
            assert got.buffer_id == arg.buffer_id and repr(got) == repr(arg) and got is not v.as_tensor()
        elif kind == "timestamp":
            assert (got.monotonic_ns, got.dts_ns) == (5, 3) and got is not arg
        else:
            assert type(got) is type(back) and got == back
            assert kind != "float" or math.copysign(1, got) == math.copysign(1, back)


def test_attributes_order_and_replacement():
    a = PyAttributes()
    assert (a.len(), len(a), bool(a), a.keys(), repr(a)) == (0, 0, False, [], "PyAttributes(len=0)")
    assert a.insert("b", PyAttributeValue.of_int(1)) is None
    for key in ("a", "B"):
        a.insert(key, PyAttributeValue.of_int(2))
    assert a.keys() == ["B", "a", "b"]
    a.insert("a", PyAttributeValue.of_string("new"))
    assert (len(a), a.len(), bool(a), repr(a)) == (3, 3, True, "PyAttributes(len=3)")
    assert a.get("a").as_string() == "new" and a.get("a").as_int() is None
    assert a.get("missing") is None and a.get("A") is None and a.get("a ") is None


def test_detected_object_fields_and_builders():
    space = PyCoordinateSpace.normalized()
    box = PyBoundingBox(0.1, 0.2, 0.3, 0.4).with_coordinate_space(space)
    o = PyDetectedObject(PyObjectId.from_str(U), bbox=box)
    assert o.id == PyObjectId.from_str(U) and o.id is not o.id
    assert o.bbox == box and o.bbox.coordinate_space == space and o.bbox is not o.bbox
    assert (o.class_id, o.label, o.confidence, len(o.attributes)) == (None, None, None, 0)
    c = PyClassId.new()
    b = o.with_class_id(c).with_label("person").with_confidence(0.1).with_attribute(
        "age", PyAttributeValue.of_int(30)).with_attribute("age", PyAttributeValue.of_int(31))
    assert (b.class_id, b.label, b.confidence) == (c, "person", 0.10000000149011612)
    assert b.attributes.keys() == ["age"] and b.attributes.get("age").as_int() == 31
    assert (o.class_id, o.label, o.confidence, len(o.attributes)) == (None, None, None, 0)
    assert b.with_label("car").label == "car" and b.label == "person"
    assert (b == b.with_label("person")) is False and hash(b) == object.__hash__(b)


@pytest.mark.parametrize("value, back", [(-3, -3.0), (1e40, INF), (0.9996, f32(0.9996)), (2**200, INF)])
def test_confidence_is_single_precision_and_unchecked(value, back):
    assert obj().with_confidence(value).confidence == back
    assert PyClassification(PyClassId.new(), value).confidence == back


@pytest.mark.parametrize("label, text", [(None, "None"), ('a"b', r'Some("a\"b")')])  # core: the escapes
def test_detected_object_repr(label, text):
    assert repr(obj(label)) == f"PyDetectedObject(id={U}, label={text})"


@pytest.mark.parametrize("value, text", [(0.95, "0.950"), (NAN, "NaN")])  # the core holds the rest
def test_classification_repr_examples(value, text):
    assert repr(PyClassification(PyClassId.new(), value)) == f"PyClassification(confidence={text})"


def test_classification_fields():
    c = PyClassId.new()
    r = PyClassification(c, 0.5)
    assert (r.class_id, r.confidence, r.label) == (c, 0.5, None) and r.class_id is not r.class_id
    r = PyClassification(confidence=0.25, class_id=c, label="cat")
    assert r.label == "cat" and (r == PyClassification(c, 0.25, "cat")) is False
