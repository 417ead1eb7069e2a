"""Tensors, model references and embeddings."""

import math
import re

import pytest

from kelo.ext.data import (PyBufferId, PyDType, PyEmbedding, PyModelReference, PyTensor,
                           PyTensorLayout)
from checks import raises

U64 = 2**64 - 1
DTYPES = "UInt8 Int8 UInt16 Int16 Int32 Int64 Float16 BFloat16 Float32 Float64 Bool".split()
UUID4 = re.compile(r"[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}")


def tensor(shape=(1, 3, 640, 640), **kw):
    return PyTensor(PyDType.Float32, shape, **kw)


@pytest.mark.parametrize("name", DTYPES)
def test_repr_names_the_dtype_variant(name):
    t = PyTensor(getattr(PyDType, name), [2, 0, 3])
    assert repr(t) == f"PyTensor(dtype={name}, shape=[2, 0, 3])"
    assert t.dtype is getattr(PyDType, name)


def test_fields_and_defaults():
    t = tensor([1, 3, 640, 640])
    assert repr(t) == "PyTensor(dtype=Float32, shape=[1, 3, 640, 640])"
    assert (t.shape, t.strides, t.layout, t.name) == ([1, 3, 640, 640], None, None, None)
    assert type(t.buffer_id) is PyBufferId and UUID4.fullmatch(str(t.buffer_id))
    n = PyTensor(PyDType.UInt8, (U64, 0), name="img\n", layout=PyTensorLayout.custom("x"))
    assert (n.shape, n.name, n.layout) == ([U64, 0], "img\n", PyTensorLayout.custom("x"))
    assert repr(n) == f"PyTensor(dtype=UInt8, shape=[{U64}, 0])"  # name and layout not shown
    assert repr(tensor([])) == "PyTensor(dtype=Float32, shape=[])" and tensor([]).shape == []


def test_getters_return_new_objects():
    t = tensor([2, 3], layout=PyTensorLayout.nchw()).with_strides([3, 1])
    for prop in ("shape", "strides", "layout", "buffer_id"):
        a, b = getattr(t, prop), getattr(t, prop)
        assert a == b and a is not b
    t.shape.append(9)
    t.strides.clear()
    assert (t.shape, t.strides) == ([2, 3], [3, 1])


@pytest.mark.parametrize("shape, count", [
    ([], 1), ([0], 0), ([5, 0, 7], 0), ([1, 3, 640, 640], 1228800), ([U64], U64),
    ([2**32, 2**32], 2**64), ([U64, U64], U64 * U64), ([U64] * 5, U64**5),
    ([U64, U64, 0], 0), ([2] * 200, 2**200), ([3] * 41, 3**41),
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


@pytest.mark.parametrize("name, text", [
    (None, "None"), ("face", 'Some("face")'), ('a"b', r'Some("a\"b")'), ("\\\t", r'Some("\\\t")'),
    ("", 'Some("")'), ("\x7f\u00e9", 'Some("\\u{7f}\u00e9")'),
])
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
    assert w.model is not w.model
    assert w.with_model(PyModelReference("b")).model.version is None


DOCS = [
    (PyTensor, "PyTensor(dtype, shape, name=None, layout=None)",
     "A tensor: dtype, shape, layout and a logical buffer handle.\n\nNote: the Kelo data model is "
     "handle-based \u2014 `Tensor` carries a\n[`PyBufferId`] referencing memory managed by the memory "
     "model\n(RFC-002), not inline bytes."),
    (PyTensor.with_strides, "with_strides($self, strides)", "Set explicit strides (builder-style)."),
    (PyTensor.numel, "numel($self)", "Total number of elements (product of the shape)."),
    (PyModelReference, "PyModelReference(id)", "Reference to the model that produced a result."),
    (PyModelReference.with_version, "with_version($self, version)", "Attach a version (builder-style)."),
    (PyEmbedding, "PyEmbedding(tensor, name=None)",
     "An embedding vector \u2014 identity, appearance or semantics."),
    (PyEmbedding.with_model, "with_model($self, model)", "Attach the producing model (builder-style)."),
]


@pytest.mark.parametrize("obj, sig, doc", DOCS, ids=[s for _, s, _ in DOCS])
def test_docs_and_signatures(obj, sig, doc):
    assert obj.__text_signature__ == sig[sig.index("("):] and obj.__doc__ == doc


def test_property_docs():
    assert PyTensor.buffer_id.__doc__ == "The logical buffer backing this tensor."
    assert [getattr(PyTensor, p).__doc__ for p in ("dtype", "shape", "strides", "layout", "name")] == [None] * 5
    assert PyEmbedding.model.__doc__ is None and PyModelReference.version.__doc__ is None


NOT = "'{}' object is not an instance of '{}'".format
F32 = PyDType.Float32


@pytest.mark.parametrize("fn, args, kwargs, exc, msg, note", [
    (PyTensor, (F32, [1], None, None, 1), {}, TypeError,
     "PyTensor.__new__() takes from 2 to 4 positional arguments but 5 were given", None),
    (PyTensor, (F32,), {}, TypeError, "PyTensor.__new__() missing 1 required positional argument: 'shape'",
     None),
    (PyTensor, (), {"name": "x"}, TypeError,
     "PyTensor.__new__() missing 2 required positional arguments: 'dtype' and 'shape'", None),
    (PyTensor, (F32, [1]), {"strides": [1]}, TypeError,
     "PyTensor.__new__() got an unexpected keyword argument 'strides'", None),
    (PyTensor, (F32, [1], "a"), {"name": "b"}, TypeError,
     "PyTensor.__new__() got multiple values for argument 'name'", None),
    (PyEmbedding, (), {}, TypeError, "PyEmbedding.__new__() missing 1 required positional argument: 'tensor'",
     None),
    (PyEmbedding, (1, 2, 3), {}, TypeError,
     "PyEmbedding.__new__() takes from 1 to 2 positional arguments but 3 were given", None),
    (PyModelReference("m").with_version, (), {}, TypeError,
     "PyModelReference.with_version() missing 1 required positional argument: 'version'", None),
    (PyTensor, ("Float32", [1]), {}, TypeError, NOT("str", "PyDType"), "dtype"),
    (PyTensor, (F32, "12"), {}, TypeError, "Can't extract `str` to a list", "shape"),
    (PyTensor, (F32, 3), {}, TypeError, NOT("int", "Sequence"), "shape"),
    (PyTensor, (F32, [1, -1]), {}, OverflowError, None, "shape"),
    (PyTensor, (F32, [2**64]), {}, OverflowError, None, "shape"),
    (PyTensor, (F32, [1.0]), {}, TypeError, None, "shape"),
    (PyTensor, (F32, [1], 5), {}, TypeError, NOT("int", "str"), "name"),
    (PyTensor, (F32, [1]), {"layout": "nchw"}, TypeError, NOT("str", "PyTensorLayout"), "layout"),
    (tensor().with_strides, ("41",), {}, TypeError, "Can't extract `str` to a list", "strides"),
    (tensor().with_strides, ([-1],), {}, OverflowError, None, "strides"),
    (tensor().with_strides, (None,), {}, TypeError, NOT("NoneType", "Sequence"), "strides"),
    (PyModelReference, (1,), {}, TypeError, NOT("int", "str"), "id"),
    (PyModelReference("m").with_version, (None,), {}, TypeError, NOT("NoneType", "str"), "version"),
    (PyEmbedding, (PyModelReference("m"),), {}, TypeError, NOT("PyModelReference", "PyTensor"), "tensor"),
    (PyEmbedding, (tensor(), b"n"), {}, TypeError, NOT("bytes", "str"), "name"),
    (PyEmbedding(tensor()).with_model, (tensor(),), {}, TypeError, NOT("PyTensor", "PyModelReference"),
     "model"),
    (PyEmbedding(tensor()).with_model, (None,), {}, TypeError, "'None' is not an instance of 'PyModelReference'",
     "model"),
])
def test_argument_errors(fn, args, kwargs, exc, msg, note):
    raises(exc, fn, *args, msg=msg, note=note, **kwargs)


def test_read_only():
    t = tensor()
    for attr in ("shape", "strides", "buffer_id", "extra"):
        with pytest.raises(AttributeError):
            setattr(t, attr, [1])
    with pytest.raises(AttributeError):
        PyModelReference("m").version = "1"
