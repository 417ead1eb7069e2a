"""Points, bounding boxes, polygons and coordinate spaces."""

import math
import random
import struct

import pytest

from kelo.ext.data import PyBoundingBox, PyCoordinateSpace, PyPoint2D, PyPolygon

INF, NAN = float("inf"), float("nan")


def f32(x):
    """Nearest single-precision value of x, widened back to a double."""
    try:
        return struct.unpack("<f", struct.pack("<f", float(x)))[0]
    except OverflowError:  # rounds beyond the single range
        return math.copysign(INF, x)


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))


@pytest.mark.parametrize("value, text", [(0.1, "0.1"), (16777217, "16777216"), (2**200, "inf"), (NAN, "NaN")])
def test_point_is_single_precision(value, text):
    p = PyPoint2D(value, y=value)
    assert type(p.x) is float and same(p.x, f32(value)) and same(p.y, f32(value))
    assert repr(p) == str(p) == f"PyPoint2D(x={text}, y={text})"


def test_box_edges_are_single_precision_sums():
    rng = random.Random(24)
    for a, b in [(0, 10), (0.1, 0.2), (16777216, 1), (1e8, 1), (0.1, 0.7), (1, -1), (3.4e38, 3.4e38),
                 (INF, -INF), (NAN, 1), (-0.0, -0.0), (-0.0, 0.0), (1e-45, 1e-45), (1.0000001, 1e-8)] + \
            [(rng.uniform(-1e6, 1e6), rng.uniform(-1e3, 1e3) * 10 ** rng.randint(-6, 6)) for _ in range(20)]:
        box = PyBoundingBox(a, 0.5, b, 0.25)
        assert same(box.right(), f32(f32(a) + f32(b))), (a, b)
        assert same(PyBoundingBox(0.5, a, 0.25, b).bottom(), f32(f32(a) + f32(b))), (a, b)
        assert same(box.x, f32(a)) and same(box.width, f32(b)) and (box.y, box.height) == (0.5, 0.25)


def test_box_repr_and_coordinate_space():
    a = PyBoundingBox(1, 2, 3, 4)
    assert repr(a) == str(a) == "PyBoundingBox(x=1, y=2, width=3, height=4)"
    assert repr(PyBoundingBox(x=0.1, y=-INF, width=NAN, height=1e20)) == \
        "PyBoundingBox(x=0.1, y=-inf, width=NaN, height=100000000000000000000)"
    assert a.coordinate_space == PyCoordinateSpace.pixel() and a.coordinate_space is not a.coordinate_space
    n = a.with_coordinate_space(space=PyCoordinateSpace.normalized())
    assert n is not a and a != n and a.coordinate_space.kind() == "pixel" and repr(n) == repr(a)
    assert (n.x, n.y, n.width, n.height, n.coordinate_space.kind()) == (1, 2, 3, 4, "normalized")
    assert a.with_coordinate_space(PyCoordinateSpace.pixel()) == a
    assert a.with_coordinate_space(PyCoordinateSpace.custom("a")) != \
        a.with_coordinate_space(PyCoordinateSpace.custom("b"))
    assert a != PyBoundingBox(1, 2, 3, 5) and PyBoundingBox(0.0, 0, 0, 0) == PyBoundingBox(-0.0, 0, -0.0, 0)
    nan_box = PyBoundingBox(0, 0, NAN, 0)
    assert nan_box != nan_box and PyPoint2D(NAN, 0) != PyPoint2D(NAN, 0)
    assert PyPoint2D(0.1, 0) == PyPoint2D(0.10000000149011612, -0.0)  # the same single values


KINDS = ["pixel", "normalized", "sensor", "world", "roi"]


@pytest.mark.parametrize("kind", KINDS + ["custom:", "custom:pixel", "custom:\u00fc \"q\"\n"])
def test_coordinate_spaces(kind):
    custom = kind.startswith("custom:")
    cs = PyCoordinateSpace.custom(name=kind[7:]) if custom else getattr(PyCoordinateSpace, kind)()
    assert type(cs) is PyCoordinateSpace and cs.kind() == kind
    assert repr(cs) == str(cs) == f"PyCoordinateSpace({kind})"
    assert all(cs != getattr(PyCoordinateSpace, k)() for k in KINDS if k != kind)
    assert cs != PyCoordinateSpace.custom(kind) and (cs == kind) is False
    assert cs == (PyCoordinateSpace.custom(kind[7:]) if custom else getattr(PyCoordinateSpace, kind)())


def pts(*xy):
    return [PyPoint2D(x, y) for x, y in xy]


def test_polygon_copies_rings():
    p1, p2, p3, p4 = given = pts((0, 0), (1, 0), (0.1, 1), (5, 5))
    poly = PyPolygon(tuple(given))
    assert repr(poly) == str(poly) == "PyPolygon(exterior_len=4)" and poly.holes == []
    ext = poly.exterior
    assert type(ext) is list and ext == given and poly.exterior is not ext
    assert all(a is not b for a, b in zip(ext, given))
    ext.clear()
    assert len(poly.exterior) == 4 and poly.exterior[2].x == f32(0.1)
    h = poly.with_holes([[p1, p2, p3]])
    assert type(h) is PyPolygon and poly.holes == [] and h.exterior == given
    got = h.holes
    assert got == [[p1, p2, p3]] and h.holes is not got and got[0][0] is not p1
    got[0].clear()
    assert len(h.holes[0]) == 3
    two = h.with_holes(holes=((p4,), [], [p2, p3]))  # replaces; tuples accepted
    assert two.holes == [[p4], [], [p2, p3]] and h.holes == [[p1, p2, p3]]
    assert repr(PyPolygon(exterior=[])) == "PyPolygon(exterior_len=0)"
