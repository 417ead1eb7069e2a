"""Vectors, quaternions and rigid transforms: the documented results and the edges of
normalization (the core tests pin the arithmetic bit for bit; test_geometry the single-precision
components)."""

import math
import struct

from kelo.ext.data import PyQuaternion, PyRigidTransform, PyVec3


def bits(*xs):
    return tuple("nan" if math.isnan(x) else struct.pack("<f", x).hex() for x in xs)


def vec(v):
    return bits(v.x, v.y, v.z)


def quat(q):
    return bits(q.x, q.y, q.z, q.w)


def test_documented_results():  # the core tests pin the arithmetic; these pass through
    quarter = PyQuaternion(0, 0, 0.70710677, 0.70710677)
    assert vec(PyQuaternion(0, 0, 1, 1).rotate(v=PyVec3(1, 0, 0))) == bits(-1, 2, 0)  # not normalised
    assert quat(PyQuaternion(1, 1, 1, 1).normalized()) == bits(0.5, 0.5, 0.5, 0.5)
    assert [PyQuaternion(0, 0, 0, w).is_normalized() for w in (1.00004, 2)] == [True, False]
    t = PyRigidTransform(quarter, PyVec3(1, 2, 3))
    assert vec(t.transform_point(p=PyVec3(1, 0, 0))) == bits(1, 3, 3)
    # other first, then self
    shift = PyRigidTransform(PyQuaternion.identity(), PyVec3(1, 0, 0))
    assert vec(t.compose(shift).transform_point(PyVec3(0, 0, 0))) == bits(1, 3, 3)
    assert vec(shift.compose(t).transform_point(PyVec3(0, 0, 0))) == bits(2, 2, 3)


def test_identity_reprs_and_copies():
    i = PyRigidTransform.identity()
    assert [repr(PyQuaternion.identity()), repr(i.rotation), repr(i.translation), repr(i), str(i)] == \
        ["PyQuaternion(x=0, y=0, z=0, w=1)"] * 2 + ["PyVec3(x=0, y=0, z=0)"] + ["PyRigidTransform(...)"] * 2
    q, v = PyQuaternion(0.1, 0.2, 0.3, 0.4), PyVec3(1, 2, 3)
    t = PyRigidTransform(rotation=q, translation=v)
    t.compose(t)
    assert (quat(t.rotation), vec(t.translation)) == (quat(q), vec(v))
