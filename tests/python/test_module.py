"""What the binding toolkit does for every class and callable of kelo.ext, tested once over the whole surface:
submodules and registration, class conventions, signatures, argument binding, argument conversion,
enumerations, equality and hashing. The classes' own tests cover only what each class adds."""

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
    assert kelo.ext.__all__ == ["data", "graph", "provider", "execution"] and type(kelo.ext.__all__) is list
    assert issubclass(kelo.ext.InternalError, BaseException) and not issubclass(kelo.ext.InternalError, Exception)
    assert [n for n in vars(kelo.ext) if n in kelo.ext.__all__] == kelo.ext.__all__
    assert kelo.ext.__doc__.startswith("The `kelo.ext` extension module.")
    for name in kelo.ext.__all__:
        assert getattr(kelo.ext, name).__name__ == name
        assert sys.modules["kelo.ext." + name] is getattr(kelo.ext, name)
    from kelo.ext.data import PyStreamId
    assert PyStreamId is data.PyStreamId


@pytest.mark.parametrize("sub", surface.SUBMODULES)
def test_registration_order(sub):
    mod = getattr(kelo.ext, sub)
    assert type(mod.__all__) is list and mod.__all__ == surface.stub_all(sub)  # the stub's order
    assert sorted(n for n in vars(mod) if not n.startswith("_")) == sorted(mod.__all__)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_conventions(cls):
    assert cls.__qualname__ == cls.__name__ and cls.__module__ == "builtins" and cls.__bases__ == (object,)
    pytest.raises(TypeError, type, "Sub", (cls,), {})
    # Immutable: no attribute can be replaced, removed or added, so that neither constructors nor variants can
    # be swapped under the module.
    before = dict(vars(cls))
    for name in [*before, "added"]:
        pytest.raises(TypeError, setattr, cls, name, None).match("immutable type")
        pytest.raises(TypeError, delattr, cls, name).match("immutable type")
    assert dict(vars(cls)) == before
    obj = surface.sample(cls)
    assert not hasattr(obj, "__dict__")
    for name, raw in vars(cls).items():  # properties are read-only
        if type(raw).__name__ == "getset_descriptor" and not name.startswith("__"):
            pytest.raises(AttributeError, setattr, obj, name, getattr(obj, name))
    assert "__init__" not in surface.stub_class(cls.__name__)[0]  # constructors are __new__
    if cls.__flags__ & surface.DISALLOW_INSTANTIATION:
        assert "__new__" not in surface.stub_class(cls.__name__)[0]
        for args in ((), (U,)):
            raises(TypeError, cls, *args, msg=f"cannot create 'builtins.{cls.__name__}' instances")


@pytest.mark.parametrize("fn", CALLABLES, ids=repr)
def test_signature_matches_the_stub(fn):
    # The doc's first line is the signature: the interpreter shows it as __text_signature__, and it names the
    # stub's parameters in order.
    assert fn.fn.__text_signature__ is not None and fn.params == fn.stub_params and not fn.kinds
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


@pytest.mark.parametrize("value, msg", [(2**32, RANGE), (2**63 - 1, RANGE), (-(2**63), RANGE), (-1, RANGE),
    (2**63, None), (-(2**63) - 1, None), (2**100, None),  # beyond 64 bits: the interpreter's own message
])
def test_narrow_integers_read_64_bits_first(value, msg):
    e = raises(OverflowError, data.PyFrameRate, value, 1, note="numerator")
    assert (str(e) == RANGE) is (msg == RANGE)


@pytest.mark.parametrize("fn, value", [  # the edges of each C++ parameter type
    (data.PyAttributeValue.of_int, 2**63), (data.PyAttributeValue.of_int, -2**63 - 1),  # int64
    (data.PyAttributeValue.of_duration_ns, -1), (data.PyAttributeValue.of_duration_ns, 2**64),  # uint64
    (data.PyAttributeValue.of_float, 2**1024),  # double
    (provider.PyProviderDescriptor(provider.PyProviderId("p"), provider.PyVersion(1, 0, 0)).with_priority,
     2**31),  # int32
])
def test_integer_and_float_edges(fn, value):
    raises(OverflowError, fn, value, note=next(iter(inspect.signature(fn).parameters)))


class Index:
    def __init__(self, v):
        self.v = v

    def __index__(self):
        return self.v


AV, DESCRIPTOR = data.PyAttributeValue, provider.PyProviderDescriptor(provider.PyProviderId("p"), provider.PyVersion(1, 0, 0))


@pytest.mark.parametrize("make, read, value", [  # -1 is the interpreter's error marker; __index__ is taken
    (DESCRIPTOR.with_priority, lambda d: d.priority, -1), (DESCRIPTOR.with_priority, lambda d: d.priority, Index(-7)),
    (lambda v: data.PyFrameRate(v, 1), lambda r: r.numerator, Index(2**32 - 1)),  # uint32
    (AV.of_int, AV.as_int, -1), (AV.of_int, AV.as_int, Index(-(2**63))),  # int64
    (AV.of_duration_ns, AV.as_duration_ns, Index(2**64 - 1)),  # uint64
    (AV.of_float, AV.as_float, -1.0), (lambda v: data.PyPoint2D(v, 0), lambda p: p.x, -1.0),  # double, float
] + [(AV.of_bool, AV.as_bool, numpy.bool_(True))] * (numpy is not None))  # numpy's booleans by truth
def test_accepted_at_the_edges(make, read, value):
    assert read(make(value)) == (value.v if isinstance(value, Index) else value)


def test_validation_error_has_no_note():
    raises(ValueError, data.PyStreamId.from_str, "x")


@pytest.mark.parametrize("cls", ENUMS, ids=lambda c: c.__name__)
def test_enumeration(cls):
    members = surface.variants(cls)
    stub = [n for n, ann in surface.stub_class(cls.__name__)[1].items() if ann == f"ClassVar[{cls.__name__}]"]
    assert [n for n, _ in members] == stub
    for index, (name, v) in enumerate(members):
        assert type(v) is cls and v is getattr(cls, name) and int(v) == index and (v == index) is False
        assert repr(v) == str(v) == f"{cls.__name__}.{name}" and hash(v) == py_hash(struct.pack("<Q", index))
        assert [w for _, w in members if w == v] == [v] and all(w != v for _, w in members if w is not v)
        others = [surface.variants(o)[0][1] for o in ENUMS if o is not cls]
        assert not any(o == v for o in others)


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
    assert [d in functions for d in ("__int__", "__len__", "__bool__")] == \
        [d in vars(cls) for d in ("__int__", "__len__", "__bool__")] and "__lt__" not in functions
    a = found[0]
    assert (a == a) is True and (a != a) is False
    for other in (object(), U, 1, None, (1, 2), data.PyFrameId.from_str(U), graph.PyPortId.new()):
        if type(other) is cls:
            continue
        assert (a == other, other == a, a != other, other != a) == (False, False, True, True)
        if kind != "identity":
            assert a.__eq__(other) is NotImplemented
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(a, op)(a) is NotImplemented
    if kind == "identity":
        assert hash(a) == object.__hash__(a) and all((x == y) is (x is y) for x in found for y in found)
    elif kind == "unhashable":
        pytest.raises(TypeError, hash, a)
    else:
        assert all(hash(x) == hash(y) for x in found for y in found if x == y)


TWINS = [  # classes compared by value: two separately made, equal values and a different one
    lambda: data.PyStreamId.from_str(U), lambda: data.PyFrameRate(30, 1), lambda: data.PyPixelFormat.nv12(),
    lambda: data.PyPoint2D(1, 2), lambda: data.PyBoundingBox(1, 2, 3, 4), lambda: data.PyCoordinateSpace.world(),
    lambda: graph.PyElementTypeId("a.b"), lambda: data.PyEventType("a", "b")]


@pytest.mark.parametrize("make", TWINS, ids=lambda m: type(m()).__name__)
def test_value_equality(make):
    a, b = make(), make()
    assert a is not b and (a == b) is True and (a != b) is False
    assert kind_of(type(a)) == "unhashable" or hash(a) == hash(b)


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
