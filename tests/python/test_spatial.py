"""Vectors, quaternions and rigid transforms: single-precision values, the documented results and the edges of
normalization (the core tests pin the arithmetic bit for bit)."""

import math
import struct

import pytest

from kelo.ext.data import PyQuaternion, PyRigidTransform, PyVec3

INF, NAN = float("inf"), float("nan")


def f32(x):
    """Nearest single-precision value of x, widened back to a double."""
    try:
        return struct.unpack("<f", struct.pack("<f", float(x)))[0]
    except OverflowError:  # rounds beyond the single range
        return math.copysign(INF, x)


def bits(x):
    return "nan" if math.isnan(x) else struct.pack("<f", x).hex()


def vec(v):
    return tuple(map(bits, (v.x, v.y, v.z)))


def quat(q):
    return tuple(map(bits, (q.x, q.y, q.z, q.w)))


def expect(values):
    return tuple(map(bits, values))


def test_documented_results():  # the core tests pin the arithmetic; these pass through
    quarter = PyQuaternion(0, 0, 0.70710677, 0.70710677)
    assert vec(PyQuaternion(0, 0, 1, 1).rotate(v=PyVec3(1, 0, 0))) == expect((-1, 2, 0))  # not normalised
    assert quat(PyQuaternion(1, 1, 1, 1).normalized()) == expect((0.5, 0.5, 0.5, 0.5))
    assert PyQuaternion(0, 0, 0, 1.00004).is_normalized() and not PyQuaternion(0, 0, 0, 2).is_normalized()
    t = PyRigidTransform(quarter, PyVec3(1, 2, 3))
    assert vec(t.transform_point(p=PyVec3(1, 0, 0))) == expect((1, 3, 3))
    # other first, then self
    shift = PyRigidTransform(PyQuaternion.identity(), PyVec3(1, 0, 0))
    assert vec(t.compose(shift).transform_point(PyVec3(0, 0, 0))) == expect((1, 3, 3))
    assert vec(shift.compose(t).transform_point(PyVec3(0, 0, 0))) == expect((2, 2, 3))


@pytest.mark.parametrize("value, text", [  # the core tests hold the float texts
    (0.1, "0.1"), (1 / 3, "0.33333334"), (1e40, "inf"), (NAN, "NaN"), (True, "1")])
def test_components_are_single_precision(value, text):
    v, q = PyVec3(value, 0, value), PyQuaternion(value, 0, 0, value)
    for got in (v.x, v.z, q.x, q.w):
        assert type(got) is float and bits(got) == bits(f32(value))
    assert repr(v) == str(v) == f"PyVec3(x={text}, y=0, z={text})"
    assert repr(q) == str(q) == f"PyQuaternion(x={text}, y=0, z=0, w={text})"


def test_reprs():
    assert repr(PyQuaternion.identity()) == repr(PyRigidTransform.identity().rotation) == \
        "PyQuaternion(x=0, y=0, z=0, w=1)"
    assert repr(PyRigidTransform.identity().translation) == "PyVec3(x=0, y=0, z=0)"
    assert repr(PyRigidTransform.identity()) == str(PyRigidTransform.identity()) == "PyRigidTransform(...)"


def test_values_are_copied():
    q, v = PyQuaternion(0.1, 0.2, 0.3, 0.4), PyVec3(1, 2, 3)
    t = PyRigidTransform(rotation=q, translation=v)
    r1, r2, v1 = t.rotation, t.rotation, t.translation
    assert type(r1) is PyQuaternion and type(v1) is PyVec3 and r1 is not r2 and r1 is not q and v1 is not v
    assert quat(r1) == quat(q) and vec(v1) == vec(v)
    assert t.compose(t) is not t and quat(t.rotation) == quat(q) and vec(t.translation) == vec(v)
