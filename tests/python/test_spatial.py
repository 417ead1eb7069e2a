"""Vectors, quaternions and rigid transforms: single-precision values, the
documented results and the edges of normalization (the core tests pin the
arithmetic bit for bit)."""

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


@pytest.mark.parametrize("q, want", [  # the core tests pin the arithmetic; these pass through
    ((0, 0, 0, 0), (0, 0, 0, 1)), ((1, 1, 1, 1), (0.5, 0.5, 0.5, 0.5)), ((NAN, 0, 0, 1), (NAN, NAN, NAN, NAN)),
])
def test_normalized_edges(q, want):
    n = PyQuaternion(*q).normalized()
    assert quat(n) == expect(want)
    assert type(n) is PyQuaternion


@pytest.mark.parametrize("q, want", [((0, 0, 0, 2), False), ((0, 0, 0, 1.00004), True)])
def test_is_normalized(q, want):
    assert PyQuaternion(*q).is_normalized() is want


def test_documented_results():
    quarter = PyQuaternion(0, 0, 0.70710677, 0.70710677)
    assert vec(quarter.rotate(PyVec3(1, 0, 0))) == expect((5.9604645e-08, 0.99999994, 0))
    assert vec(PyQuaternion(0, 0, 1, 1).rotate(v=PyVec3(1, 0, 0))) == expect((-1, 2, 0))  # not normalised
    t = PyRigidTransform(quarter, PyVec3(1, 2, 3))
    assert vec(t.transform_point(p=PyVec3(1, 0, 0))) == expect((1, 3, 3))
    c = t.compose(other=t)
    assert quat(c.rotation) == expect((0, 0, 0.99999994, 0))
    assert vec(c.translation) == expect((-0.99999976, 3, 6))
    once, twice = c.transform_point(PyVec3(1, 0, 0)), t.transform_point(t.transform_point(PyVec3(1, 0, 0)))
    assert vec(once) != vec(twice)
    assert all(math.isclose(a, b, abs_tol=1e-6) for a, b in zip((once.x, once.y, once.z), (twice.x, twice.y, twice.z)))
    # other first, then self
    shift = PyRigidTransform(PyQuaternion.identity(), PyVec3(1, 0, 0))
    assert vec(t.compose(shift).transform_point(PyVec3(0, 0, 0))) == expect((1, 3, 3))
    assert vec(shift.compose(t).transform_point(PyVec3(0, 0, 0))) == expect((2, 2, 3))


@pytest.mark.parametrize("value, text", [  # the core tests hold the float texts
    (0.1, "0.1"), (1 / 3, "0.33333334"), (1e40, "inf"), (NAN, "NaN"), (True, "1"),
])
def test_components_are_single_precision(value, text):
    v, q = PyVec3(value, 0, value), PyQuaternion(value, 0, 0, value)
    for got in (v.x, v.z, q.x, q.w):
        assert type(got) is float and bits(got) == bits(f32(value))
    assert repr(v) == str(v) == f"PyVec3(x={text}, y=0, z={text})"
    assert repr(q) == str(q) == f"PyQuaternion(x={text}, y=0, z=0, w={text})"


def test_reprs():
    assert repr(PyVec3(0.1, 2, -3.5)) == "PyVec3(x=0.1, y=2, z=-3.5)"
    assert repr(PyQuaternion.identity()) == repr(PyRigidTransform.identity().rotation) == \
        "PyQuaternion(x=0, y=0, z=0, w=1)"
    assert repr(PyRigidTransform.identity().translation) == "PyVec3(x=0, y=0, z=0)"
    assert repr(PyQuaternion(0, 0, 0.70710677, 0.70710677)) == "PyQuaternion(x=0, y=0, z=0.70710677, w=0.70710677)"
    for t in (PyRigidTransform.identity(), PyRigidTransform(PyQuaternion(NAN, 1, 2, 3), PyVec3(1, 2, 3))):
        assert repr(t) == str(t) == "PyRigidTransform(...)"


def test_values_are_copied():
    q, v = PyQuaternion(0.1, 0.2, 0.3, 0.4), PyVec3(1, 2, 3)
    t = PyRigidTransform(rotation=q, translation=v)
    r1, r2, v1 = t.rotation, t.rotation, t.translation
    assert type(r1) is PyQuaternion and type(v1) is PyVec3
    assert r1 is not r2 and r1 is not q and v1 is not v
    assert quat(r1) == quat(q) and vec(v1) == vec(v)
    n = q.normalized()
    assert n is not q and repr(q) == "PyQuaternion(x=0.1, y=0.2, z=0.3, w=0.4)"
    c = t.compose(t)
    assert c is not t and quat(t.rotation) == quat(q) and vec(t.translation) == vec(v)
    p = PyVec3(1, 0, 0)
    assert q.rotate(p) is not p and t.transform_point(p) is not p and vec(p) == expect((1, 0, 0))
