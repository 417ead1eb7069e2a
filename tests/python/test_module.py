"""Module frame of kelo.ext: submodules, registration order, class conventions,
argument binding, conversion errors and comparison, shared by every class."""

import sys

import pytest

import kelo.ext
from kelo.ext import data, graph
from checks import raises

SUBMODULES = ["data", "graph", "provider", "execution"]
REGISTRATION = {sub: names.split() for sub, names in {
    "data": """PyStreamId PyFrameId PyBufferId PyObjectId PySegmentId PyTrackId PyEventId
        PyAssetId PyBatchId PyMetadataId PyComponentId PyClassId PyPoint2D PyBoundingBox
        PyPolygon PyCoordinateSpace PyTimeUnit PyTimestamp PyFrameRate PyPixelFormat
        PyColorSpace PyColorRange PyVideoFormat PyDType PyTensorLayout PyTensor PyModelReference
        PyEmbedding PySourceKind PySourceInfo PyStreamCapabilities PyStream PyEventType PyEvent
        PyTrackState PyTrack PyClassification PyAttributeValue PyAttributes PyDetectedObject
        PyMetadata PyVec3 PyQuaternion PyRigidTransform PyFrame""",
    "graph": """PyElementTypeId PyElementId PyElementKind PyPortId PyPortDirection PyConfig
        PyContractSpec PyDataContract PyPort PyElement PyEdge PyGraph PyGraphBuilder
        PyValidationReport PyGraphValidationError validate_graph""",
    "provider": """PyProviderId PyVersion PyCapability PyRequirement PyProviderDescriptor
        PyProviderRegistry PySelectionPolicy select_provider abi_current_version
        abi_is_compatible""",
    "execution": """PyInputRelation PyMissingInputBehavior PyOrderingRequirement PyConcurrency
        PyCompletionBoundary PyEosPolicy PyBatchingPolicy PyDeliveryMode PyOverflowPolicy
        PyOutputCoupling PyFailurePolicy PyExecutionState PyControlSignal PyExecutionContract""",
}.items()}
REQUIRED = REGISTRATION

MODULE_DOC = (
    "The `kelo.ext` extension module.\n\nSubmodules are attached as attributes (`kelo.ext.data`, \u2026)."
    " The\nPython package `python/kelo/__init__.py` additionally registers\nthem in `sys.modules` under "
    "their qualified names so dotted\nimports (`from kelo.ext.data import PyStreamId`) resolve; that\n"
    "cannot be done here because during single-phase module init the\nparent's `__name__` is still the "
    "bare extension name.")

U = "550e8400-e29b-41d4-a716-446655440000"
SID, EID = data.PyStreamId, graph.PyElementId
RANGE = "out of range integral type conversion attempted"
CLASSES = [getattr(getattr(kelo.ext, s), n) for s in SUBMODULES
           for n in getattr(getattr(kelo.ext, s), "__all__", [])
           if isinstance(getattr(getattr(kelo.ext, s), n), type)]


def test_top_level_and_dotted_import():
    assert kelo.ext.__all__ == SUBMODULES and type(kelo.ext.__all__) is list
    assert issubclass(kelo.ext.InternalError, BaseException) and not issubclass(kelo.ext.InternalError, Exception)
    assert [n for n in vars(kelo.ext) if n in SUBMODULES] == SUBMODULES and kelo.ext.__doc__ == MODULE_DOC
    for name in SUBMODULES:
        assert getattr(kelo.ext, name).__name__ == name
        assert sys.modules["kelo.ext." + name] is getattr(kelo.ext, name)
    from kelo.ext.data import PyStreamId
    assert PyStreamId is data.PyStreamId


@pytest.mark.parametrize("sub", SUBMODULES)
def test_registration_order(sub):
    mod = getattr(kelo.ext, sub)
    names = getattr(mod, "__all__", [])
    assert type(names) is list and len(set(names)) == len(names)
    assert [n for n in REGISTRATION[sub] if n in names] == names  # table order, nothing else
    assert sorted(n for n in vars(mod) if not n.startswith("_")) == sorted(names)
    assert set(REQUIRED.get(sub, [])) <= set(names)


@pytest.mark.parametrize("cls", CLASSES, ids=lambda c: c.__name__)
def test_class_conventions(cls):
    assert cls.__qualname__ == cls.__name__ and cls.__module__ == "builtins"
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    # Immutable: no attribute can be replaced, removed or added, so that
    # neither constructors nor variants can be swapped under the module.
    before = dict(vars(cls))
    for name in [*before, "added"]:
        with pytest.raises(TypeError, match="immutable type"):
            setattr(cls, name, None)
        with pytest.raises(TypeError, match="immutable type"):
            delattr(cls, name)
    assert dict(vars(cls)) == before


@pytest.mark.parametrize("cls", [data.PyStreamId, graph.PyPortId, data.PyTimestamp, data.PyTimeUnit,
                                 data.PyColorRange, data.PyDType, data.PyPixelFormat, data.PyColorSpace,
                                 data.PyTensorLayout, data.PyCoordinateSpace], ids=lambda c: c.__name__)
def test_no_constructor(cls):
    for args in ((), (U,)):
        raises(TypeError, cls, *args, msg=f"cannot create 'builtins.{cls.__name__}' instances")


@pytest.mark.parametrize("obj, attr", [
    (SID.new(), "uuid"), (SID.new(), "foo"), (data.PyFrameRate(1, 2), "numerator"),
    (data.PyTimestamp.from_nanos(1), "dts_ns"), (data.PyBoundingBox(0, 0, 1, 1), "coordinate_space"),
])
def test_read_only_without_instance_dict(obj, attr):
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        setattr(obj, attr, 1)


@pytest.mark.parametrize("fn, args, kwargs, msg", [
    (SID.from_str, (), {}, "PyStreamId.from_str() missing 1 required positional argument: 's'"),
    (SID.from_str, (), {"t": 1}, "PyStreamId.from_str() got an unexpected keyword argument 't'"),
    (EID.from_str, (U,), {"s": U}, "PyElementId.from_str() got multiple values for argument 's'"),
    (SID.from_str, (U, U), {}, "PyStreamId.from_str() takes 1 positional arguments but 2 were given"),
    (EID.new, (1,), {}, "PyElementId.new() takes 0 positional arguments but 1 was given"),
    (SID.new, (1, 2), {}, "PyStreamId.new() takes 0 positional arguments but 2 were given"),
    (data.PyFrameId.new().uuid, (1,), {}, "PyFrameId.uuid() takes 0 positional arguments but 1 was given"),
    (data.PyFrameRate, (1, 2, 3), {}, "PyFrameRate.__new__() takes 2 positional arguments but 3 were given"),
    (data.PyFrameRate, (), {}, "PyFrameRate.__new__() missing 2 required positional arguments: "
     "'numerator' and 'denominator'"),
    (data.PyVideoFormat, (), {}, "PyVideoFormat.__new__() missing 3 required positional arguments: "
     "'width', 'height', and 'pixel_format'"),
])
def test_binding_errors(fn, args, kwargs, msg):
    raises(TypeError, fn, *args, msg=msg, **kwargs)


P, FMT, POLY = data.PyPoint2D(0, 0), data.PyVideoFormat(1, 1, data.PyPixelFormat.rgb8()), data.PyPolygon([])
NOT = "'{}' object is not an instance of '{}'".format
CONVERSION = [  # callable, args, kwargs, exception, message (None: the interpreter's), note
    (SID.from_str, (1,), {}, TypeError, NOT("int", "str"), "s"),
    (SID.from_str, (), {"s": b"x"}, TypeError, NOT("bytes", "str"), "s"),
    (SID.from_str, (None,), {}, TypeError, NOT("NoneType", "str"), "s"),
    (EID.from_str, ("\ud800",), {}, UnicodeEncodeError, None, "s"),
    (data.PyFrameRate, (-1, "x"), {}, OverflowError, RANGE, "numerator"),  # first failure wins
    (data.PyFrameRate, (1, 2**32), {}, OverflowError, RANGE, "denominator"),
    (data.PyFrameRate, (1.5, 1), {}, TypeError, None, "numerator"),
    (data.PyTimestamp.from_nanos, (-1,), {}, OverflowError, None, "nanos"),
    (data.PyTimestamp.from_nanos(1).with_dts, (2**64,), {}, OverflowError, None, "dts_ns"),
    (data.PyTimestamp.from_secs_f64, ("1.0",), {}, TypeError, None, "secs"),
    (data.PyPoint2D, (1, None), {}, TypeError, None, "y"),
    (data.PyVideoFormat, (1, 1, "abc"), {}, TypeError, NOT("str", "PyPixelFormat"), "pixel_format"),
    (data.PyVideoFormat, (1, 1, None), {}, TypeError, "'None' is not an instance of 'PyPixelFormat'",
     "pixel_format"),
    (FMT.with_color_space, (data.PyPixelFormat.rgb8(),), {}, TypeError,
     NOT("PyPixelFormat", "PyColorSpace"), "cs"),
    (data.PyPolygon, ("abc",), {}, TypeError, None, "exterior"),  # a str is not a list
    (data.PyPolygon, (5,), {}, TypeError, NOT("int", "Sequence"), "exterior"),
    (data.PyPolygon, ([P, None],), {}, TypeError, "'None' is not an instance of 'PyPoint2D'", "exterior"),
    (POLY.with_holes, (["abc"],), {}, TypeError, None, "holes"),
    (POLY.with_holes, ([P],), {}, TypeError, NOT("PyPoint2D", "Sequence"), "holes"),
    (POLY.with_holes, ([[P, 1]],), {}, TypeError, NOT("int", "PyPoint2D"), "holes"),
    # A length is not taken on trust: too long to hold, too long for memory,
    # or longer than the items.
    (data.PyTensor, (data.PyDType.Int8, range(2**60)), {}, OverflowError, None, "shape"),
    (data.PyTensor, (data.PyDType.Int8, range(2**40)), {}, MemoryError, None, "shape"),
    (data.PyPolygon, (type("Lying", (), {"__len__": lambda s: 2**30, "__getitem__": lambda s, i: [P][i]})(),),
     {}, IndexError, None, "exterior"),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, msg, note", CONVERSION)
def test_conversion_errors(fn, args, kwargs, exc, msg, note):
    raises(exc, fn, *args, msg=msg, note=note, **kwargs)
    assert POLY.holes == [] and FMT.color_space == data.PyColorSpace.srgb()


def test_validation_error_has_no_note():
    raises(ValueError, SID.from_str, "x")


VALUES = [  # classes compared by value
    lambda: SID.from_str(U), lambda: data.PyFrameRate(30, 1), lambda: data.PyColorRange.Full,
    lambda: data.PyPixelFormat.nv12(), lambda: data.PyPoint2D(1, 2),
    lambda: data.PyBoundingBox(1, 2, 3, 4), lambda: data.PyCoordinateSpace.world(),
]


@pytest.mark.parametrize("make", VALUES, ids=lambda m: type(m()).__name__)
def test_value_equality(make):
    a, b = make(), make()
    assert (a == b) is True and (a != b) is False
    for other in (object(), U, 1, None, (1, 2), data.PyFrameId.from_str(U)):
        assert (a == other, other == a, a != other, other != a) == (False, False, True, True)
        assert a.__eq__(other) is NotImplemented
    for op in ("__lt__", "__le__", "__gt__", "__ge__"):
        assert getattr(a, op)(b) is NotImplemented


@pytest.mark.parametrize("make", [
    lambda: data.PyTimestamp.from_nanos(1), lambda: data.PyPolygon([data.PyPoint2D(0, 0)]),
    lambda: data.PyVideoFormat(1, 1, data.PyPixelFormat.rgb8()),
])
def test_identity_equality(make):
    a, b = make(), make()
    assert a == a and (a == b) is False and a != b
    assert hash(a) == object.__hash__(a)
    assert all(c.__hash__ is None for c in (data.PyPoint2D, data.PyBoundingBox, data.PyCoordinateSpace))


def test_builders_only_read_their_receiver():
    # A sequence argument may call back into the receiver while it is being
    # converted: a builder holds a reader's borrow, so reading and building
    # from the same object meanwhile is fine.
    poly = data.PyPolygon([data.PyPoint2D(0, 0)])

    class Ring:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i:
                raise IndexError
            return poly.with_holes([]).exterior

    assert len(poly.with_holes(Ring()).holes[0]) == 1


@pytest.mark.parametrize("value, msg", [
    (2**32, RANGE), (2**63 - 1, RANGE), (-(2**63), RANGE),
    (2**63, None), (-(2**63) - 1, None), (2**100, None),  # beyond 64 bits: the interpreter's own message
])
def test_narrow_integers_read_64_bits_first(value, msg):
    with pytest.raises(OverflowError) as info:
        data.PyFrameRate(value, 1)
    assert (str(info.value) == RANGE) is (msg == RANGE) and info.value.__notes__ == ["while processing 'numerator'"]
