"""Points, bounding boxes, polygons and coordinate spaces; the single-precision components of
every geometric class."""

import math
import random
import struct

import pytest

from kelo.ext.data import (PyBoundingBox, PyCoordinateSpace, PyPoint2D, PyPolygon, PyQuaternion,
                           PyVec3)

INF, NAN = float("inf"), float("nan")


def f32(x):
    """Nearest single-precision value of x, widened back to a double."""
    try:
        return struct.unpack("<f", struct.pack("<f", float(x)))[0]
    except OverflowError:  # rounds beyond the single range
        return math.copysign(INF, x)


def key(x):
    """A float as a comparable value: NaNs alike, -0.0 apart from 0.0."""
    return "nan" if math.isnan(x) else (x, math.copysign(1, x))


@pytest.mark.parametrize("value, text", [  # the core tests hold the float texts
    (0.1, "0.1"), (1 / 3, "0.33333334"), (16777217, "16777216"), (1e40, "inf"), (2**200, "inf"),
    (NAN, "NaN"), (True, "1")])
def test_components_are_single_precision(value, text):
    p, v, q = PyPoint2D(value, y=value), PyVec3(value, 0, value), PyQuaternion(value, 0, 0, value)
    got = [(type(x), key(x)) for x in (p.x, p.y, v.x, v.z, q.x, q.w)]
    assert got == [(float, key(f32(value)))] * 6
    texts = [f"PyPoint2D(x={text}, y={text})", f"PyVec3(x={text}, y=0, z={text})",
             f"PyQuaternion(x={text}, y=0, z=0, w={text})"]
    assert [(repr(o), str(o)) for o in (p, v, q)] == [(t, t) for t in texts]


def test_box_edges_are_single_precision_sums():
    rng = random.Random(24)
    for a, b in [(0, 10), (0.1, 0.2), (16777216, 1), (1e8, 1), (0.1, 0.7), (1, -1), (3.4e38, 3.4e38),
                 (INF, -INF), (NAN, 1), (-0.0, -0.0), (-0.0, 0.0), (1e-45, 1e-45), (1.0000001, 1e-8)] + \
            [(rng.uniform(-1e6, 1e6), rng.uniform(-1e3, 1e3) * 10 ** rng.randint(-6, 6)) for _ in range(20)]:
        box, tall = PyBoundingBox(a, 0.5, b, 0.25), PyBoundingBox(0.5, a, 0.25, b)
        edge = key(f32(f32(a) + f32(b)))
        assert [key(box.right()), key(tall.bottom()), key(box.x), key(box.width), box.y, box.height] == \
            [edge, edge, key(f32(a)), key(f32(b)), 0.5, 0.25], (a, b)


def test_box_repr_leaves_out_the_coordinate_space():
    a = PyBoundingBox(1, 2, 3, 4)
    n = a.with_coordinate_space(space=PyCoordinateSpace.normalized())
    assert [repr(a), str(a), repr(n), repr(PyBoundingBox(x=0.1, y=-INF, width=NAN, height=1e20))] == \
        ["PyBoundingBox(x=1, y=2, width=3, height=4)"] * 3 + \
        ["PyBoundingBox(x=0.1, y=-inf, width=NaN, height=100000000000000000000)"]


BOX, NAN_BOX = PyBoundingBox(1, 2, 3, 4), PyBoundingBox(0, 0, NAN, 0)


def custom_box(name):
    return BOX.with_coordinate_space(PyCoordinateSpace.custom(name))


@pytest.mark.parametrize("a, b, equal", [
    (BOX, BOX.with_coordinate_space(PyCoordinateSpace.normalized()), False),
    (BOX, BOX.with_coordinate_space(PyCoordinateSpace.pixel()), True),
    (custom_box("a"), custom_box("b"), False), (BOX, PyBoundingBox(1, 2, 3, 5), False),
    (PyBoundingBox(0.0, 0, 0, 0), PyBoundingBox(-0.0, 0, -0.0, 0), True),
    (NAN_BOX, NAN_BOX, False), (PyPoint2D(NAN, 0), PyPoint2D(NAN, 0), False),
    (PyPoint2D(0.1, 0), PyPoint2D(0.10000000149011612, -0.0), True)])  # the same single values
def test_equality(a, b, equal):
    assert (a == b, a != b) == (equal, not equal)


KINDS = ["pixel", "normalized", "sensor", "world", "roi"]


@pytest.mark.parametrize("kind", KINDS + ["custom:", "custom:pixel", "custom:\u00fc \"q\"\n"])
def test_coordinate_spaces(kind):
    make = (lambda: PyCoordinateSpace.custom(name=kind[7:])) if kind.startswith("custom:") else \
        getattr(PyCoordinateSpace, kind)
    cs = make()
    text = f"PyCoordinateSpace({kind})"
    assert (cs.kind(), repr(cs), str(cs)) == (kind, text, text)
    others = [getattr(PyCoordinateSpace, k)() for k in KINDS if k != kind] + \
        [PyCoordinateSpace.custom(kind), kind]
    assert ([cs == o for o in others], cs == make()) == ([False] * len(others), True)


def test_polygon_rings():
    p1, p2, p3, p4 = given = [PyPoint2D(x, y) for x, y in ((0, 0), (1, 0), (0.1, 1), (5, 5))]
    poly = PyPolygon(tuple(given))
    h = poly.with_holes([[p1, p2, p3]])
    h.holes[0].clear()  # the rings inside are copies too
    two = h.with_holes(holes=((p4,), [], [p2, p3]))  # replaces; tuples accepted
    assert (repr(poly), str(poly)) == ("PyPolygon(exterior_len=4)",) * 2
    assert [(x.exterior, x.holes) for x in (poly, h, two)] == \
        [(given, []), (given, [[p1, p2, p3]]), (given, [[p4], [], [p2, p3]])]
