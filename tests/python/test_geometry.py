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
        return struct.unpack("<f", struct.pack("<f", x))[0]
    except OverflowError:  # rounds beyond the single range
        return math.copysign(INF, x)


def same(a, b):
    return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))


def raises(exc, fn, *args, msg=None, note=None, **kwargs):
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if msg is not None:
        assert str(info.value) == msg
    if note is not None:
        assert getattr(info.value, "__notes__", None) == [note]
    return info.value


# --------------------------------------------------------------------- points

# value -> display form of its single-precision narrowing
DISPLAY = [
    (1.5, "1.5"), (2, "2"), (0.0, "0"), (-0.0, "-0"), (0.1, "0.1"), (-2.5, "-2.5"),
    (1 / 3, "0.33333334"), (16777217, "16777216"), (NAN, "NaN"), (INF, "inf"),
    (-INF, "-inf"), (1e40, "inf"), (-1e40, "-inf"), (1e20, "100000000000000000000"),
    (1e-7, "0.0000001"), (3.4028235e38, "340282350000000000000000000000000000000"),
    (1e-45, "0." + "0" * 44 + "1"), (123456.789, "123456.79"), (1e16, "10000000000000000"),
]


@pytest.mark.parametrize("value, text", DISPLAY, ids=[t for _, t in DISPLAY])
def test_point_single_precision_and_repr(value, text):
    p = PyPoint2D(value, value)
    assert same(p.x, f32(value)) and same(p.y, f32(value))
    assert type(p.x) is float
    assert repr(p) == str(p) == f"PyPoint2D(x={text}, y={text})"


def test_point_examples():
    p = PyPoint2D(0.1, 0)
    assert p.x == 0.10000000149011612 and p.y == 0.0
    assert repr(p) == "PyPoint2D(x=0.1, y=0)"
    assert repr(PyPoint2D(1.5, 2)) == "PyPoint2D(x=1.5, y=2)"
    assert PyPoint2D(y=2, x=1).x == 1.0
    assert PyPoint2D(2**200, 0).x == INF


def test_point_equality():
    assert PyPoint2D(1, 2) == PyPoint2D(1.0, 2.0) and not (PyPoint2D(1, 2) != PyPoint2D(1, 2))
    assert PyPoint2D(1, 2) != PyPoint2D(2, 1)
    assert PyPoint2D(0.0, 0.0) == PyPoint2D(-0.0, -0.0)
    assert PyPoint2D(0.1, 0) == PyPoint2D(0.10000000149011612, 0)  # same single value
    assert PyPoint2D(1.0, 0) == PyPoint2D(1.00000001, 0)
    n = PyPoint2D(NAN, 0)
    assert not (n == n) and n != n
    assert (PyPoint2D(1, 2) == (1, 2)) is False and PyPoint2D(1, 2) != (1, 2)
    with pytest.raises(TypeError):
        PyPoint2D(1, 2) < PyPoint2D(3, 4)  # noqa: B015


@pytest.mark.parametrize("args, msg, note", [
    ((1.0,), "PyPoint2D.__new__() missing 1 required positional argument: 'y'", None),
    (("1", 2), None, "while processing 'x'"),
    ((1, None), None, "while processing 'y'"),
])
def test_point_argument_errors(args, msg, note):
    raises(TypeError, PyPoint2D, *args, msg=msg, note=note)


# -------------------------------------------------------------- bounding boxes

def _sum_cases():
    rng = random.Random(24)
    cases = [(0, 10), (0.1, 0.2), (16777216, 1), (1e8, 1), (0.1, 0.7), (1, -1),
             (3.4e38, 3.4e38), (-3.4e38, -3.4e38), (INF, -INF), (INF, 1), (NAN, 1),
             (-0.0, -0.0), (-0.0, 0.0), (1e-45, 1e-45), (1.0000001, 1e-8)]
    for _ in range(40):
        cases.append((rng.uniform(-1e6, 1e6), rng.uniform(-1e3, 1e3) * 10 ** rng.randint(-6, 6)))
    return cases


@pytest.mark.parametrize("a, b", _sum_cases())
def test_box_edges_are_single_precision_sums(a, b):
    expected = f32(f32(a) + f32(b))
    box = PyBoundingBox(a, 0.5, b, 0.25)
    assert same(box.right(), expected)
    assert same(PyBoundingBox(0.5, a, 0.25, b).bottom(), expected)
    assert same(box.x, f32(a)) and same(box.width, f32(b))
    assert box.y == 0.5 and box.height == 0.25


def test_box_examples():
    box = PyBoundingBox(0, 0, 10, 5)
    assert (box.right(), box.bottom()) == (10.0, 5.0)
    assert box.coordinate_space.kind() == "pixel"
    assert box.coordinate_space == PyCoordinateSpace.pixel()
    assert box.coordinate_space is not box.coordinate_space
    assert PyBoundingBox(16777216, 0, 1, 0).right() == 16777216.0  # not 16777217
    assert repr(box) == str(box) == "PyBoundingBox(x=0, y=0, width=10, height=5)"
    assert repr(PyBoundingBox(0.1, -0.0, NAN, 1e20)) == \
        "PyBoundingBox(x=0.1, y=-0, width=NaN, height=100000000000000000000)"
    assert repr(PyBoundingBox(x=1.5, y=-INF, width=-3, height=1e-7)) == \
        "PyBoundingBox(x=1.5, y=-inf, width=-3, height=0.0000001)"


def test_box_equality_and_coordinate_space():
    a, b = PyBoundingBox(1, 2, 3, 4), PyBoundingBox(1, 2, 3, 4)
    assert a == b and not (a != b)
    n = a.with_coordinate_space(PyCoordinateSpace.normalized())
    assert a != n and not (a == n)
    assert n == b.with_coordinate_space(space=PyCoordinateSpace.normalized())
    assert (n.x, n.y, n.width, n.height) == (1.0, 2.0, 3.0, 4.0)
    assert n.coordinate_space.kind() == "normalized" and a.coordinate_space.kind() == "pixel"
    assert repr(n) == repr(a) == "PyBoundingBox(x=1, y=2, width=3, height=4)"
    assert a.with_coordinate_space(PyCoordinateSpace.pixel()) == a
    assert (a.with_coordinate_space(PyCoordinateSpace.custom("a"))
            != a.with_coordinate_space(PyCoordinateSpace.custom("b")))
    assert PyBoundingBox(1, 2, 3, 4) != PyBoundingBox(1, 2, 3, 5)
    assert PyBoundingBox(0.0, 0, 0, 0) == PyBoundingBox(-0.0, 0, -0.0, 0)
    nan_box = PyBoundingBox(0, 0, NAN, 0)
    assert nan_box != nan_box
    assert (a == (1, 2, 3, 4)) is False
    for obj in (a, PyPoint2D(1, 2), PyCoordinateSpace.pixel()):
        assert type(obj).__hash__ is None
        with pytest.raises(TypeError):
            hash(obj)
    raises(TypeError, a.with_coordinate_space, "pixel",
           msg="'str' object is not an instance of 'PyCoordinateSpace'",
           note="while processing 'space'")
    raises(TypeError, PyBoundingBox, msg="PyBoundingBox.__new__() missing 4 required "
           "positional arguments: 'x', 'y', 'width', and 'height'")


def test_box_and_point_docs():
    assert PyBoundingBox.__doc__ == \
        "A bounding box with half-open semantics `[x, x+width) × [y, y+height)`."
    assert PyBoundingBox.__text_signature__ == "(x, y, width, height)"
    assert PyPoint2D.__doc__ == "A 2D point." and PyPoint2D.__text_signature__ == "(x, y)"
    assert [getattr(PyBoundingBox, n).__doc__ for n in
            ("right", "bottom", "with_coordinate_space")] == [
        "Exclusive right edge (`x + width`).", "Exclusive bottom edge (`y + height`).",
        "Set the coordinate space (builder-style)."]
    for obj, name in ((PyBoundingBox(0, 0, 1, 1), "x"), (PyPoint2D(0, 0), "y"),
                      (PyBoundingBox(0, 0, 1, 1), "coordinate_space")):
        with pytest.raises(AttributeError):
            setattr(obj, name, 1)


# ----------------------------------------------------------- coordinate spaces

KINDS = [
    ("pixel", "Top-left origin, x→right, y→down, logical frame coordinates."),
    ("normalized", "`x, y ∈ [0, 1]`, resolution-independent."),
    ("sensor", "Sensor coordinates."),
    ("world", "World coordinates."),
    ("roi", "Region-of-interest relative coordinates."),
]


@pytest.mark.parametrize("name, doc", KINDS, ids=[k for k, _ in KINDS])
def test_coordinate_space_kinds(name, doc):
    ctor = getattr(PyCoordinateSpace, name)
    cs = ctor()
    assert type(cs) is PyCoordinateSpace and cs.kind() == name
    assert repr(cs) == str(cs) == f"PyCoordinateSpace({name})"
    assert ctor.__doc__ == doc
    assert cs == ctor() and not (cs != ctor())
    assert all(cs != getattr(PyCoordinateSpace, k)() for k, _ in KINDS if k != name)
    assert cs != PyCoordinateSpace.custom(name)
    assert (cs == name) is False


@pytest.mark.parametrize("custom", ["", "a", "lidar", "pixel", "custom:", "ü \"q\"\n"])
def test_coordinate_space_custom(custom):
    cs = PyCoordinateSpace.custom(name=custom)
    assert cs.kind() == "custom:" + custom
    assert repr(cs) == f"PyCoordinateSpace(custom:{custom})"
    assert cs == PyCoordinateSpace.custom(custom)
    assert cs != PyCoordinateSpace.custom(custom + "b")


def test_coordinate_space_class():
    assert PyCoordinateSpace.__doc__ == "An explicitly declared coordinate space (RFC-001 §26)."
    assert PyCoordinateSpace.custom.__doc__ == "A custom, named coordinate space."
    assert PyCoordinateSpace.kind.__doc__ == ("Canonical kind name: `pixel`, `normalized`, "
                                              "`sensor`, `world`,\n`roi` or `custom:<name>`.")
    assert repr(PyCoordinateSpace.custom("lidar")) == "PyCoordinateSpace(custom:lidar)"
    raises(TypeError, PyCoordinateSpace,
           msg="cannot create 'builtins.PyCoordinateSpace' instances")
    raises(TypeError, PyCoordinateSpace.custom, 1,
           msg="'int' object is not an instance of 'str'", note="while processing 'name'")
    with pytest.raises(TypeError):
        PyCoordinateSpace.pixel() < PyCoordinateSpace.roi()  # noqa: B015


# ------------------------------------------------------------------- polygons

def pts(*xy):
    return [PyPoint2D(x, y) for x, y in xy]


@pytest.mark.parametrize("make", [list, tuple])
def test_polygon_exterior_copies(make):
    given = pts((0, 0), (1, 0), (0.1, 1))
    poly = PyPolygon(make(given))
    assert repr(poly) == str(poly) == "PyPolygon(exterior_len=3)"
    ext = poly.exterior
    assert type(ext) is list and ext == given
    assert all(a is not b for a, b in zip(ext, given))
    assert poly.exterior is not ext
    ext.clear()
    assert len(poly.exterior) == 3 and poly.exterior[2].x == f32(0.1)
    assert poly.holes == []


def test_polygon_empty_and_identity():
    empty = PyPolygon([])
    assert empty.exterior == [] and repr(empty) == "PyPolygon(exterior_len=0)"
    assert PyPolygon(exterior=()).holes == []
    a, b = PyPolygon(pts((0, 0))), PyPolygon(pts((0, 0)))
    assert a == a and not (a == b) and a != b
    assert hash(a) == object.__hash__(a)
    assert PyPolygon.__doc__ == "A polygon with an exterior ring and optional holes."
    assert PyPolygon.with_holes.__doc__ == "Add holes (builder-style)."


def test_polygon_with_holes():
    p1, p2, p3, p4 = pts((0, 0), (1, 0), (1, 1), (5, 5))
    poly = PyPolygon([p1, p2, p3, p4])
    h = poly.with_holes([[p1, p2, p3]])
    assert type(h) is PyPolygon and poly.holes == []
    assert h.holes == [[p1, p2, p3]] and h.exterior == [p1, p2, p3, p4]
    assert repr(h) == "PyPolygon(exterior_len=4)"
    got = h.holes
    assert h.holes is not got and got[0][0] is not p1
    got[0].clear()
    assert len(h.holes[0]) == 3
    two = h.with_holes(holes=((p4,), [], [p2, p3]))  # replaces, tuples accepted
    assert two.holes == [[p4], [], [p2, p3]] and h.holes == [[p1, p2, p3]]
    assert h.with_holes([]).holes == []


@pytest.mark.parametrize("exterior, msg", [
    ("abc", None), ("", None), (5, "'int' object is not an instance of 'Sequence'"),
    (None, None), ({"a": 1}, "'dict' object is not an instance of 'Sequence'"),
    ([PyPoint2D(0, 0), 5], "'int' object is not an instance of 'PyPoint2D'"),
    ([PyPoint2D(0, 0), None], "'None' is not an instance of 'PyPoint2D'"),
    ([(1, 2)], "'tuple' object is not an instance of 'PyPoint2D'"),
    ([1.5, "x"], "'float' object is not an instance of 'PyPoint2D'"),
    ([PyBoundingBox(0, 0, 1, 1)], "'PyBoundingBox' object is not an instance of 'PyPoint2D'"),
])
def test_polygon_rejects(exterior, msg):
    raises(TypeError, PyPolygon, exterior, msg=msg, note="while processing 'exterior'")


@pytest.mark.parametrize("holes, msg", [
    ("abc", None), (["abc"], None),
    (PyPoint2D(0, 0), "'PyPoint2D' object is not an instance of 'Sequence'"),
    ([PyPoint2D(0, 0)], "'PyPoint2D' object is not an instance of 'Sequence'"),
    ([[PyPoint2D(0, 0), 1]], "'int' object is not an instance of 'PyPoint2D'"),
])
def test_polygon_with_holes_rejects(holes, msg):
    poly = PyPolygon(pts((0, 0)))
    exc = raises(TypeError, poly.with_holes, holes, msg=msg)
    assert "while processing 'holes'" in getattr(exc, "__notes__", [])
    assert poly.holes == []
