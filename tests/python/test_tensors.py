"""Tensors, model references and embeddings."""

import math
import re

import pytest

from kelo.ext.data import (PyBufferId, PyDType, PyEmbedding, PyModelReference, PyTensor, PyTensorLayout)

U64 = 2**64 - 1
UUID4 = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")


def tensor(shape=(1, 3, 640, 640), **kw):
    return PyTensor(PyDType.Float32, shape, **kw)


def test_fields_and_defaults():
    t = tensor([1, 3, 640, 640])
    assert repr(t) == "PyTensor(dtype=Float32, shape=[1, 3, 640, 640])"
    assert (t.shape, t.strides, t.layout, t.name) == ([1, 3, 640, 640], None, None, None)
    assert type(t.buffer_id) is PyBufferId and UUID4.fullmatch(str(t.buffer_id))
    n = PyTensor(PyDType.UInt8, (U64, 0), name="img\n", layout=PyTensorLayout.custom("x"))
    assert (n.shape, n.name, n.layout) == ([U64, 0], "img\n", PyTensorLayout.custom("x"))
    assert repr(n) == f"PyTensor(dtype=UInt8, shape=[{U64}, 0])"  # name and layout not shown
    assert repr(tensor([])) == "PyTensor(dtype=Float32, shape=[])" and tensor([]).shape == []


@pytest.mark.parametrize("shape, count", [
    ([], 1), ([5, 0, 7], 0), ([U64], U64), ([2**32, 2**32], 2**64), ([2] * 200, 2**200),
    ([2**63 + 1] * 600, (2**63 + 1)**600),  # beyond the interpreter's limit on decimal digits
], ids=lambda v: f"{len(v)}-dims" if isinstance(v, list) else "")
def test_numel_is_the_exact_product(shape, count):
    t = tensor(shape)
    assert t.numel() == count == math.prod(shape) and type(t.numel()) is int
    assert t.with_strides([U64, 0]).numel() == count  # strides play no part


def test_buffer_identity():
    t, u = tensor(), tensor()
    assert t.buffer_id != u.buffer_id  # each construction draws a new buffer
    s = t.with_strides([4, 1])
    assert s.buffer_id == t.buffer_id and t.strides is None and s.strides == [4, 1]
    assert s.with_strides([]).strides == [] and s.strides == [4, 1]
    assert t.with_strides([1, 2, 3, 4, 5, 6]).strides == [1, 2, 3, 4, 5, 6]
    e = PyEmbedding(t)
    assert e.tensor.buffer_id == t.buffer_id == e.with_model(PyModelReference("m")).tensor.buffer_id
    assert e.tensor is not e.tensor and (t == tensor()) is False and t != s and t == t
    assert hash(t) == object.__hash__(t)


def test_model_reference():
    m = PyModelReference("yolo")
    v = m.with_version("8.1")
    assert (m.id, m.version, v.id, v.version) == ("yolo", None, "yolo", "8.1")
    assert v.with_version("9").version == "9" and v.version == "8.1"
    assert repr(m) == repr(v) == "PyModelReference(yolo)"
    assert repr(PyModelReference('a"b\n')) == 'PyModelReference(a"b\n)'  # verbatim
    assert PyModelReference("").id == "" and (m == PyModelReference("yolo")) is False


@pytest.mark.parametrize("name, text", [(None, "None"), ('a"b', r'Some("a\"b")'), ("", 'Some("")')])
def test_embedding_repr(name, text):
    assert repr(PyEmbedding(tensor(), name)) == f"PyEmbedding(name={text})"
    assert PyEmbedding(tensor(), name=name).name == name


def test_embedding_model_copies():
    t = tensor([128], name="vec")
    e = PyEmbedding(t, "reid")
    assert e.model is None and e.tensor.name == "vec" and e.tensor.shape == [128]
    m = PyModelReference("osnet").with_version("1")
    w = e.with_model(m)
    assert e.model is None and (w.model.id, w.model.version, w.name) == ("osnet", "1", "reid")
    assert w.model is not w.model and w.with_model(PyModelReference("b")).model.version is None
