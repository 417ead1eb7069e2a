"""Tensors, model references and embeddings."""

import pytest

from kelo.ext.data import PyDType, PyEmbedding, PyModelReference, PyTensor, PyTensorLayout

U64 = 2**64 - 1


def tensor(shape=(1, 3, 640, 640), **kw):
    return PyTensor(PyDType.Float32, shape, **kw)


def test_fields_and_defaults():
    t = tensor([1, 3, 640, 640])
    n = PyTensor(PyDType.UInt8, (U64, 0), name="img\n", layout=PyTensorLayout.custom("x"))
    assert [(x.shape, x.strides, x.layout, x.name) for x in (t, n)] == \
        [([1, 3, 640, 640], None, None, None), ([U64, 0], None, PyTensorLayout.custom("x"), "img\n")]
    assert [repr(x) for x in (t, n, tensor([]))] == [  # name, layout: not shown
        "PyTensor(dtype=Float32, shape=[1, 3, 640, 640])", f"PyTensor(dtype=UInt8, shape=[{U64}, 0])",
        "PyTensor(dtype=Float32, shape=[])"]


@pytest.mark.parametrize("shape, count", [
    ([], 1), ([5, 0, 7], 0), ([U64], U64), ([2**32, 2**32], 2**64), ([2] * 200, 2**200),
    ([2**63 + 1] * 600, (2**63 + 1)**600),  # beyond the interpreter's limit on decimal digits
], ids=lambda v: f"{len(v)}-dims" if isinstance(v, list) else "")
def test_numel_is_the_exact_product(shape, count):
    t = tensor(shape)
    # Strides play no part.
    assert (t.shape, t.numel(), type(t.numel()), t.with_strides([U64, 0]).numel()) == \
        (shape, count, int, count)


def test_buffer_and_strides():
    t, u = tensor(), tensor()
    s, e = t.with_strides([4, 1]), PyEmbedding(t, "reid")
    # Each construction draws a new buffer; builders keep it.
    modelled = e.with_model(PyModelReference("m").with_version("1"))
    assert (t.buffer_id != u.buffer_id, s.buffer_id, e.tensor.buffer_id, modelled.tensor.buffer_id) == \
        (True, t.buffer_id, t.buffer_id, t.buffer_id)
    assert [x.strides for x in (t, s, s.with_strides([]), s, t.with_strides([1, 2, 3, 4, 5, 6]))] == \
        [None, [4, 1], [], [4, 1], [1, 2, 3, 4, 5, 6]]
    model, replaced = modelled.model, modelled.with_model(PyModelReference("b"))
    assert (e.model, model.id, model.version, modelled.name, replaced.model.version) == \
        (None, "m", "1", "reid", None)


def test_model_reference():
    m = PyModelReference("yolo")
    v = m.with_version("8.1")
    assert [(x.id, x.version) for x in (m, v, v.with_version("9"), v, PyModelReference(""))] == \
        [("yolo", None), ("yolo", "8.1"), ("yolo", "9"), ("yolo", "8.1"), ("", None)]
    assert [repr(x) for x in (m, v, PyModelReference('a"b\n'))] == \
        ["PyModelReference(yolo)"] * 2 + ['PyModelReference(a"b\n)']  # verbatim


@pytest.mark.parametrize("name, text", [(None, "None"), ('a"b', r'Some("a\"b")'), ("", 'Some("")')])
def test_embedding_repr(name, text):
    assert (repr(PyEmbedding(tensor(), name)), PyEmbedding(tensor(), name=name).name) == \
        (f"PyEmbedding(name={text})", name)

