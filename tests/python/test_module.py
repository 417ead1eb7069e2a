"""What the binding toolkit does for every class and callable of kelo.ext, tested once over the whole surface:
submodules and registration, class conventions, signatures, argument binding, argument conversion,
enumerations, equality and hashing. The classes' own tests cover only what each class adds."""

import functools
import inspect
import struct
import sys

import pytest

try:
    import numpy
except ImportError:  # pragma: no cover
    numpy = None

import kelo.ext
from kelo.ext import data, graph, provider
from checks import raises
from sipref import py_hash
import surface

CLASSES, CALLABLES = surface.classes(), surface.callables()
ENUMS, U = [c for c in CLASSES if surface.variants(c)], "550e8400-e29b-41d4-a716-446655440000"
RANGE = "out of range integral type conversion attempted"


def test_top_level_and_dotted_import():
    ext, names = kelo.ext, ["data", "graph", "provider", "execution"]
    assert (ext.__all__, type(ext.__all__), [n for n in vars(ext) if n in names]) == (names, list, names)
    assert (issubclass(ext.InternalError, BaseException), issubclass(ext.InternalError, Exception)) == \
        (True, False)
    assert ext.__doc__.startswith("The `kelo.ext` extension module.")
    assert [(getattr(ext, n).__name__, sys.modules["kelo.ext." + n]) for n in names] == \
        [(n, getattr(ext, n)) for n in names]


@pytest.mark.parametrize("sub", surface.SUBMODULES)
def test_registration_order(sub):
    mod = getattr(kelo.ext, sub)
    assert (type(mod.__all__), mod.__all__, sorted(n for n in vars(mod) if not n.startswith("_"))) == \
        (list, surface.stub_all(sub), sorted(mod.__all__))  # the stub's order


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_conventions(cls):
    assert (cls.__qualname__, cls.__module__, cls.__bases__) == (cls.__name__, "builtins", (object,))
    pytest.raises(TypeError, type, "Sub", (cls,), {})
    # Immutable: no attribute can be replaced, removed or added, so that neither constructors nor variants can
    # be swapped under the module.
    before = dict(vars(cls))
    for name in [*before, "added"]:
        pytest.raises(TypeError, setattr, cls, name, None).match("immutable type")
        pytest.raises(TypeError, delattr, cls, name).match("immutable type")
    obj, stub = surface.sample(cls), surface.stub_class(cls.__name__)[0]
    # Constructors are __new__, and a class that cannot be instantiated declares none.
    assert (dict(vars(cls)), hasattr(obj, "__dict__"), "__init__" in stub, "__new__" in stub) == \
        (before, False, False, not cls.__flags__ & surface.DISALLOW_INSTANTIATION)
    for name, raw in vars(cls).items():  # properties are read-only
        if type(raw).__name__ == "getset_descriptor" and not name.startswith("__"):
            pytest.raises(AttributeError, setattr, obj, name, getattr(obj, name))
    if cls.__flags__ & surface.DISALLOW_INSTANTIATION:
        for args in ((), (U,)):
            raises(TypeError, cls, *args, msg=f"cannot create 'builtins.{cls.__name__}' instances")


@pytest.mark.parametrize("fn", CALLABLES, ids=repr)
def test_signature_matches_the_stub(fn):
    # The doc's first line is the signature: the interpreter shows it as __text_signature__, and it names the
    # stub's parameters in order.
    assert (fn.fn.__text_signature__ is None, fn.params, fn.kinds) == (False, fn.stub_params, set())
    assert [(d, type(d)) for d in fn.defaults] == [(d, type(d)) for d in fn.stub_defaults]


@pytest.mark.parametrize("fn", CALLABLES, ids=repr)
def test_binding_errors(fn):
    n, r, name = len(fn.params), fn.required, fn.name
    given, takes = n + 1, (f"{n}" if r == n else f"from {r} to {n}")
    raises(TypeError, fn, *[None] * given,
           msg=f"{name}() takes {takes} positional arguments but {given} {'was' if given == 1 else 'were'} given")
    raises(TypeError, fn, zz=None, msg=f"{name}() got an unexpected keyword argument 'zz'")
    if r:
        names = [f"'{p}'" for p in fn.params[:r]]
        listed = names[0] if r == 1 else f"{names[0]} and {names[1]}" if r == 2 else \
            ", ".join(names[:-1]) + ", and " + names[-1]
        raises(TypeError, fn, msg=f"{name}() missing {r} required positional argument{'s' * (r > 1)}: {listed}")
        raises(TypeError, fn, *[None] * (r - 1),
               msg=f"{name}() missing 1 required positional argument: {names[-1]}")
    if n:
        raises(TypeError, fn, None, **{fn.params[0]: None},
               msg=f"{name}() got multiple values for argument '{fn.params[0]}'")


CONVERSIONS = [(fn, k, bad) for fn in CALLABLES for k, ann in enumerate(fn.annotations)
               for bad in surface.bad(ann)]


@pytest.mark.parametrize("fn, k, bad", CONVERSIONS,
                         ids=[f"{fn}-{fn.params[k]}-{type(b[0]).__name__}-{i}" for i, (fn, k, b) in enumerate(CONVERSIONS)])
def test_conversion_errors(fn, k, bad):
    # Arguments convert in parameter order; the first that fails is reported with the parameter's name as a
    # note, and the receiver is left alone.
    value, exc, msg = bad
    args = [surface.valid(a) for a in fn.annotations]
    args[k] = value
    before = repr(fn.receiver)
    raises(exc, fn, *args, msg=msg, note=fn.params[k])
    raises(exc, fn, **dict(zip(fn.params, args)), msg=msg, note=fn.params[k])
    assert repr(fn.receiver) == before


AV, DESCRIPTOR = data.PyAttributeValue, provider.PyProviderDescriptor(provider.PyProviderId("p"),
                                                                     provider.PyVersion(1, 0, 0))
RATE = functools.partial(data.PyFrameRate, denominator=1)


@pytest.mark.parametrize("fn, value, ours", [  # the edges of each C++ parameter type
    # uint32: read as 64 bits first, so a value within 64 bits gets the range message and one beyond
    # them the interpreter's own
    (RATE, 2**32, True), (RATE, 2**63 - 1, True), (RATE, -(2**63), True), (RATE, -1, True),
    (RATE, 2**63, False), (RATE, -(2**63) - 1, False), (RATE, 2**100, False),
    (AV.of_int, 2**63, False), (AV.of_int, -2**63 - 1, False), (AV.of_duration_ns, -1, False),
    (AV.of_duration_ns, 2**64, False), (AV.of_float, 2**1024, False),  # int64, uint64, double
    (DESCRIPTOR.with_priority, 2**31, True)])  # int32
def test_integer_and_float_edges(fn, value, ours):
    e = raises(OverflowError, fn, value, note=next(iter(inspect.signature(fn).parameters)))
    assert (str(e) == RANGE) is ours


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


@pytest.mark.parametrize("make, read, value", [  # -1 is the interpreter's error marker; __index__ is taken
    (DESCRIPTOR.with_priority, lambda d: d.priority, -1), (DESCRIPTOR.with_priority, lambda d: d.priority, Index(-7)),
    (lambda v: data.PyFrameRate(v, 1), lambda r: r.numerator, Index(2**32 - 1)),  # uint32
    (AV.of_int, AV.as_int, -1), (AV.of_int, AV.as_int, Index(-(2**63))),  # int64
    (AV.of_duration_ns, AV.as_duration_ns, Index(2**64 - 1)),  # uint64
    (AV.of_float, AV.as_float, -1.0), (lambda v: data.PyPoint2D(v, 0), lambda p: p.x, -1.0),  # double, float
] + [(AV.of_bool, AV.as_bool, numpy.bool_(True))] * (numpy is not None))  # numpy's booleans by truth
def test_accepted_at_the_edges(make, read, value):
    assert read(make(value)) == (value.v if isinstance(value, Index) else value)


@pytest.mark.parametrize("cls", ENUMS, ids=lambda c: c.__name__)
def test_enumeration(cls):
    members = surface.variants(cls)
    stub = [n for n, ann in surface.stub_class(cls.__name__)[1].items() if ann == f"ClassVar[{cls.__name__}]"]
    others, indexes = [surface.variants(o)[0][1] for o in ENUMS if o is not cls], range(len(members))
    assert [n for n, _ in members] == stub
    for index, (name, v) in enumerate(members):
        text = f"{cls.__name__}.{name}"
        assert (type(v), v is getattr(cls, name), int(v), v == index, repr(v), str(v), hash(v)) == \
            (cls, True, index, False, text, text, py_hash(struct.pack("<Q", index)))
        assert ([(w == v, w != v) for _, w in members], [o == v for o in others]) == \
            ([(i == index, i != index) for i in indexes], [False] * len(others))


def kind_of(cls):
    body = vars(cls)
    if "__eq__" not in body:
        return "identity"
    return "unhashable" if body.get("__hash__", 0) is None else "value"


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_equality_and_hashing(cls):
    kind, found = kind_of(cls), surface.samples()[cls]
    functions, annotations = surface.stub_class(cls.__name__)  # the stub declares the same
    assert {"__eq__", "__ne__"} & set(functions) == (set() if kind == "identity" else {"__eq__", "__ne__"})
    assert ("__hash__" in functions, annotations.get("__hash__")) == \
        (kind == "value", "ClassVar[None]" if kind == "unhashable" else None)
    dunders = ("__int__", "__len__", "__bool__")
    assert [d in functions for d in dunders + ("__lt__",)] == [d in vars(cls) for d in dunders] + [False]
    a = found[0]
    assert (a == a, a != a, [getattr(a, op)(a) for op in ("__lt__", "__le__", "__gt__", "__ge__")]) == \
        (True, False, [NotImplemented] * 4)
    for other in (object(), U, 1, None, (1, 2), data.PyFrameId.from_str(U), graph.PyPortId.new()):
        if type(other) is not cls:
            assert (a == other, other == a, a != other, other != a, a.__eq__(other)) == \
                (False, False, True, True, NotImplemented)
    if kind == "identity":
        assert (hash(a), [[x == y for y in found] for x in found]) == \
            (object.__hash__(a), [[x is y for y in found] for x in found])
    elif kind == "unhashable":
        pytest.raises(TypeError, hash, a)
    else:
        assert all(hash(x) == hash(y) for x in found for y in found if x == y)


def test_builders_only_read_their_receiver():
    # A sequence argument may call back into the receiver while it is being converted: a builder holds a
    # reader's borrow, so reading and building from the same object meanwhile is fine.
    poly = data.PyPolygon([data.PyPoint2D(0, 0)])

    class Ring:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i:
                raise IndexError
            return poly.with_holes([]).exterior

    assert len(poly.with_holes(Ring()).holes[0]) == 1


def rich():
    """Values whose list properties hold items (the samples' are mostly empty)."""
    frame = graph.PyDataContract.frame()
    port = graph.PyPort.input("in", frame)
    element = graph.PyElement(graph.PyElementId.new(), graph.PyElementTypeId("t"), "e",
                              graph.PyElementKind.Operator).with_input(port).with_output(graph.PyPort.output("o", frame))
    g = graph.PyGraph()
    g.add_element(element)
    g.add_edge(graph.PyEdge(port.id, port.id))
    meta, box = data.PyMetadata(), data.PyBoundingBox(1, 2, 3, 4)
    meta.add_object(data.PyDetectedObject(data.PyObjectId.new(), box))
    point = data.PyPoint2D(1, 2)
    return [element, g, meta, data.PyPolygon([point]).with_holes([[point]]),
            DESCRIPTOR.with_element_type(graph.PyElementTypeId("t")).with_capability(provider.PyCapability.cuda())
            .with_requirement(provider.PyRequirement.custom("x")),
            kelo.ext.execution.PyExecutionContract().with_join_ports([port.id]),
            graph.PyContractSpec().with_shape([1]).with_class_ids([2]).with_pixel_format(data.PyPixelFormat.nv12()),
            data.PyTensor(data.PyDType.Int8, [2]).with_strides([1])]


@pytest.mark.parametrize("obj", [x for c in CLASSES for x in surface.samples()[c]] + rich(),
                         ids=lambda o: type(o).__name__)
def test_properties_hand_out_copies(obj):
    # Every read makes new objects (variants aside), and a list read is the reader's own: changing it changes
    # nothing in the receiver.
    for name, raw in vars(type(obj)).items():
        if name.startswith("_") or type(raw).__name__ != "getset_descriptor":
            continue
        a, b = getattr(obj, name), getattr(obj, name)
        for x, y in zip(a, b) if isinstance(a, list) else [(a, b)]:
            if type(x) in CLASSES and not surface.variants(type(x)):
                assert x is not y, name
        if isinstance(a, list):
            a.append(None)
            assert repr(getattr(obj, name)) == repr(b), name
