"""Attribute values, attribute collections, detected objects and classifications."""

import pytest

from kelo import io
from kelo.ext.data import (PyAttributes, PyAttributeValue, PyBoundingBox, PyClassification, PyClassId,
                           PyCoordinateSpace, PyDetectedObject, PyDType, PyObjectId, PyTensor, PyTimestamp)
from test_geometry import f32

NAN, INF = float("nan"), float("inf")
U = "550e8400-e29b-41d4-a716-446655440000"
KINDS = ["bool", "int", "float", "string", "tensor", "timestamp", "duration"]
CTORS = {"of_bool": "bool", "of_int": "int", "of_float": "float", "of_string": "string",
         "of_tensor": "tensor", "of_timestamp": "timestamp", "of_duration_ns": "duration"}
ACCESSORS = ["as_bool", "as_int", "as_float", "as_string", "as_tensor", "as_timestamp", "as_duration_ns"]


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
    own = ACCESSORS[KINDS.index(kind)]
    assert (v.kind(), repr(v)) == (kind, f"PyAttributeValue({kind})")
    # Wrong kinds give None, never an error or a conversion.
    assert [n for n in ACCESSORS if getattr(v, n)() is not None] == [own]
    got = getattr(v, own)()
    if back is None:  # a tensor or a timestamp, whole
        assert io.to_dict(got) == io.to_dict(arg)
    else:
        assert (type(got), repr(got)) == (type(back), repr(back))  # the repr tells -0.0 from 0.0


def test_attributes_order_and_replacement():
    a = PyAttributes()
    assert (a.len(), len(a), bool(a), a.keys(), repr(a)) == (0, 0, False, [], "PyAttributes(len=0)")
    assert [a.insert(k, PyAttributeValue.of_int(2)) for k in "baB"] == [None] * 3
    a.insert("a", PyAttributeValue.of_string("new"))
    assert (a.keys(), len(a), a.len(), bool(a), repr(a)) == \
        (["B", "a", "b"], 3, 3, True, "PyAttributes(len=3)")
    assert (a.get("a").as_string(), a.get("a").as_int(), [a.get(k) for k in ("missing", "A", "a ")]) == \
        ("new", None, [None] * 3)


def test_detected_object_fields_and_builders():
    space = PyCoordinateSpace.normalized()
    box = PyBoundingBox(0.1, 0.2, 0.3, 0.4).with_coordinate_space(space)
    o = PyDetectedObject(PyObjectId.from_str(U), bbox=box)
    fields = lambda x: (x.class_id, x.label, x.confidence, x.attributes.keys())  # noqa: E731
    assert (o.id, o.bbox, o.bbox.coordinate_space, fields(o)) == \
        (PyObjectId.from_str(U), box, space, (None, None, None, []))
    c = PyClassId.new()
    b = o.with_class_id(c).with_label("person").with_confidence(0.1).with_attribute(
        "age", PyAttributeValue.of_int(30)).with_attribute("age", PyAttributeValue.of_int(31))
    assert (fields(b), b.attributes.get("age").as_int(), fields(o)) == \
        ((c, "person", 0.10000000149011612, ["age"]), 31, (None, None, None, []))
    assert (b.with_label("car").label, b.label) == ("car", "person")


@pytest.mark.parametrize("value, back", [(-3, -3.0), (1e40, INF), (0.9996, f32(0.9996)), (2**200, INF)])
def test_confidence_is_single_precision_and_unchecked(value, back):
    c = PyClassId.new()
    made = [PyClassification(c, value), PyClassification(confidence=value, class_id=c, label="cat")]
    got = [(r.class_id, r.confidence, r.label) for r in made]
    assert (obj().with_confidence(value).confidence, got) == \
        (back, [(c, back, None), (c, back, "cat")])


@pytest.mark.parametrize("make, text", [  # the core holds the escapes and the float texts
    (lambda: obj(), f"PyDetectedObject(id={U}, label=None)"),
    (lambda: obj('a"b'), f'PyDetectedObject(id={U}, label=Some("a\\"b"))'),
    (lambda: PyClassification(PyClassId.new(), 0.95), "PyClassification(confidence=0.950)"),
    (lambda: PyClassification(PyClassId.new(), NAN), "PyClassification(confidence=NaN)")])
def test_reprs(make, text):
    assert repr(make()) == text
