"""kelo.ext.execution: policies, concurrency, batching, input relations, the
execution contract, execution states and control signals."""

import struct

import pytest

from kelo.ext.execution import (
    PyBatchingPolicy, PyCompletionBoundary, PyConcurrency, PyControlSignal, PyDeliveryMode,
    PyEosPolicy, PyExecutionContract, PyExecutionState, PyFailurePolicy, PyInputRelation,
    PyMissingInputBehavior, PyOrderingRequirement, PyOutputCoupling, PyOverflowPolicy)
from kelo.ext.graph import PyPortId
from sipref import py_hash
from checks import raises

U64, I64 = 2**64 - 1, 2**63
NOT = "'{}' object is not an instance of '{}'".format

POLICIES = {
    PyOrderingRequirement: "PreserveSequence AllowReorder",
    PyDeliveryMode: "All Latest",
    PyOverflowPolicy: "Block DropOldest DropNewest Reject",
    PyOutputCoupling: "Independent Coupled Transactional",
    PyCompletionBoundary: "OutputReady ExternalConfirmed",
    PyFailurePolicy: "Retry Skip FailGraph",
    PyEosPolicy: "AllInputs AnyInput",
    PyMissingInputBehavior: "Wait Proceed Drop",
    PyExecutionState: "Pending Admitted Running Completed Failed Cancelled",
}
VARIANTS = {cls: names.split() for cls, names in POLICIES.items()}
ENUMS = [(c, i, n) for c, names in VARIANTS.items() for i, n in enumerate(names)]


# ---- enumerations ------------------------------------------------------

@pytest.mark.parametrize("cls, index, name", ENUMS, ids=[f"{c.__name__}.{n}" for c, _, n in ENUMS])
def test_enum_variant(cls, index, name):
    v = getattr(cls, name)
    assert type(v) is cls and v is getattr(cls, name)
    assert int(v) == index and (v == index) is False
    assert repr(v) == str(v) == f"{cls.__name__}.{name}"
    assert hash(v) == py_hash(struct.pack("<Q", index)) and {v: 1}[getattr(cls, name)] == 1
    assert [v == getattr(cls, n) for n in VARIANTS[cls]] == [n == name for n in VARIANTS[cls]]
    assert all(v != getattr(o, n) for o in VARIANTS if o is not cls for n in VARIANTS[o])
    with pytest.raises(TypeError):
        v < v  # noqa: B015


@pytest.mark.parametrize("cls", VARIANTS, ids=lambda c: c.__name__)
def test_enum_class(cls):
    assert [n for n in cls.__dict__ if n in VARIANTS[cls]] == VARIANTS[cls]
    doc = "Lifecycle of a single execution (RFC-005 \u00a72.1)." if cls is PyExecutionState else None
    assert cls.__doc__ == doc
    raises(TypeError, cls, msg=f"cannot create 'builtins.{cls.__name__}' instances")


def test_execution_state_is_terminal():
    assert [s.is_terminal() for s in map(lambda n: getattr(PyExecutionState, n),
                                         VARIANTS[PyExecutionState])] == [False] * 3 + [True] * 3
    assert int(PyExecutionState.Failed) == 4
    raises(TypeError, PyExecutionState.Running.is_terminal, 1,
           msg="PyExecutionState.is_terminal() takes 0 positional arguments but 1 was given")


# ---- concurrency and batching -----------------------------------------

@pytest.mark.parametrize("c, most, text", [
    (PyConcurrency.serialized(), 1, "Serialized"),
    (PyConcurrency.limited(0), 0, "Limited(0)"),
    (PyConcurrency.limited(n=4), 4, "Limited(4)"),
    (PyConcurrency.limited(U64), U64, f"Limited({U64})"),
    (PyConcurrency.unrestricted(), None, "Unrestricted"),
])
def test_concurrency(c, most, text):
    assert c.max_concurrent() == most
    assert repr(c) == str(c) == f"PyConcurrency({text})"


def test_concurrency_equality():
    lim = PyConcurrency.limited
    assert lim(4) == lim(4) and not lim(4) != lim(4) and lim(4) is not lim(4)
    assert lim(4) != lim(5) and PyConcurrency.serialized() != lim(1)
    assert PyConcurrency.unrestricted() == PyConcurrency.unrestricted() != lim(0)
    assert PyConcurrency.serialized() is not PyConcurrency.serialized()
    assert (lim(1) == 1) is False and lim(1) != PyBatchingPolicy(1, 0)
    for v in (lim(1), PyBatchingPolicy(1, 0), PyInputRelation.independent(), PyControlSignal.eos()):
        assert type(v).__hash__ is None
        with pytest.raises(TypeError):
            hash(v)
    raises(TypeError, PyConcurrency, msg="cannot create 'builtins.PyConcurrency' instances")


def test_batching_policy():
    b = PyBatchingPolicy(8, 5000000)
    assert (b.max_size, b.max_wait_ns) == (8, 5000000)
    assert repr(b) == str(b) == "PyBatchingPolicy(max_size=8, max_wait_ns=5000000)"
    assert repr(PyBatchingPolicy(0, 0)) == "PyBatchingPolicy(max_size=0, max_wait_ns=0)"
    top = PyBatchingPolicy(max_wait_ns=U64, max_size=U64)
    assert (top.max_size, top.max_wait_ns) == (U64, U64)
    assert b == PyBatchingPolicy(8, 5000000) and b != PyBatchingPolicy(8, 5000001) != PyBatchingPolicy(9, 5000001)
    for attr in ("max_size", "max_wait_ns"):
        with pytest.raises(AttributeError):
            setattr(b, attr, 1)
    raises(TypeError, PyBatchingPolicy, 1, msg="PyBatchingPolicy.__new__() missing 1 required positional "
           "argument: 'max_wait_ns'")


@pytest.mark.parametrize("fn, args, exc, msg, note", [
    (PyConcurrency.limited, (-1,), OverflowError, None, "n"),
    (PyConcurrency.limited, (2**64,), OverflowError, None, "n"),
    (PyConcurrency.limited, (1.0,), TypeError, None, "n"),
    (PyBatchingPolicy, (-1, 0), OverflowError, None, "max_size"),
    (PyBatchingPolicy, (0, 2**64), OverflowError, None, "max_wait_ns"),
    (PyBatchingPolicy, ("8", -1), TypeError, None, "max_size"),  # the first failure wins
    (PyInputRelation.windowed, (-1,), OverflowError, None, "size"),
    (PyInputRelation.windowed, (2**64,), OverflowError, None, "size"),
    (PyInputRelation.explicit_join, (1,), TypeError, NOT("int", "str"), "key"),
    (PyInputRelation.explicit_join, ("\ud800",), UnicodeEncodeError, None, "key"),
    (PyInputRelation.timestamp_matched, (-1, PyMissingInputBehavior.Wait), OverflowError, None,
     "tolerance_ns"),
    (PyInputRelation.timestamp_matched, (0, PyDeliveryMode.All), TypeError,
     NOT("PyDeliveryMode", "PyMissingInputBehavior"), "missing"),
    (PyInputRelation.timestamp_matched, (0, 0), TypeError, NOT("int", "PyMissingInputBehavior"), "missing"),
    (PyInputRelation.timestamp_matched, (0, None), TypeError,
     "'None' is not an instance of 'PyMissingInputBehavior'", "missing"),
    (PyInputRelation.timestamp_matched, (5, PyMissingInputBehavior.Wait, "12"), TypeError,
     "Can't extract `str` to a list", "clock_offsets_ns"),
    (PyInputRelation.timestamp_matched, (5, PyMissingInputBehavior.Wait, 12), TypeError,
     NOT("int", "Sequence"), "clock_offsets_ns"),
    (PyInputRelation.timestamp_matched, (5, PyMissingInputBehavior.Wait, [0, 1.5]), TypeError, None,
     "clock_offsets_ns"),
    (PyInputRelation.timestamp_matched, (5, PyMissingInputBehavior.Wait, [0, I64]), OverflowError, None,
     "clock_offsets_ns"),
    (PyInputRelation.timestamp_matched, (5, PyMissingInputBehavior.Wait, [-I64 - 1]), OverflowError, None,
     "clock_offsets_ns"),
    (PyControlSignal.seek, (-1,), OverflowError, None, "target_ns"),
    (PyControlSignal.seek, (2**64,), OverflowError, None, "target_ns"),
    (PyControlSignal.seek, (None,), TypeError, None, "target_ns"),
])
def test_conversion_errors(fn, args, exc, msg, note):
    raises(exc, fn, *args, msg=msg, note=note)


# ---- input relations ---------------------------------------------------

W, D = PyMissingInputBehavior.Wait, PyMissingInputBehavior.Drop
TM = PyInputRelation.timestamp_matched
RELATIONS = [
    (PyInputRelation.independent, (), "independent"),
    (PyInputRelation.synchronized, (), "synchronized"),
    (TM, (5, W, [0, 3]), "timestamp_matched"),
    (PyInputRelation.latest_value, (), "latest_value"),
    (PyInputRelation.windowed, (3,), "windowed"),
    (PyInputRelation.explicit_join, ("camera",), "explicit_join"),
]


@pytest.mark.parametrize("make, args, kind", RELATIONS, ids=[k for *_, k in RELATIONS])
def test_relation_kinds(make, args, kind):
    r = make(*args)
    assert type(r) is PyInputRelation and r is not make(*args)
    assert r.kind() == kind and repr(r) == str(r) == f"PyInputRelation({kind})"
    assert r == make(*args) and not r != make(*args)
    assert [r == m(*a) for m, a, _ in RELATIONS] == [k == kind for *_, k in RELATIONS]


@pytest.mark.parametrize("a, b, equal", [
    (TM(5, W), TM(5, W, []), True),
    (TM(5, W), TM(5, W, None), True),
    (TM(5, W), TM(tolerance_ns=5, missing=W, clock_offsets_ns=()), True),
    (TM(5, W, [0, 3]), TM(5, W, (0, 3)), True),
    (TM(5, W, [0, 3]), TM(5, W, [0, 4]), False),
    (TM(5, W, [0, 3]), TM(5, W, [3, 0]), False),
    (TM(5, W, [0]), TM(5, W, [0, 0]), False),
    (TM(5, W, [0]), TM(5, W), False),
    (TM(5, W), TM(5, D), False),
    (TM(5, W), TM(6, W), False),
    (TM(U64, W, [I64 - 1, -I64]), TM(U64, W, [I64 - 1, -I64]), True),
    (TM(0, W), PyInputRelation.windowed(0), False),
    (PyInputRelation.windowed(3), PyInputRelation.windowed(4), False),
    (PyInputRelation.windowed(U64), PyInputRelation.windowed(U64), True),
    (PyInputRelation.explicit_join(""), PyInputRelation.explicit_join(""), True),
    (PyInputRelation.explicit_join("k"), PyInputRelation.explicit_join("K"), False),
    (PyInputRelation.explicit_join("a\0"), PyInputRelation.explicit_join("a"), False),
])
def test_relation_equality(a, b, equal):
    assert (a == b, b == a, a != b) == (equal, equal, not equal)
    assert repr(a) == f"PyInputRelation({a.kind()})"


def test_relation_frame():
    raises(TypeError, PyInputRelation, msg="cannot create 'builtins.PyInputRelation' instances")
    raises(TypeError, TM, 5, msg="PyInputRelation.timestamp_matched() missing 1 required positional "
           "argument: 'missing'")
    raises(TypeError, TM, 5, W, [], 1, msg="PyInputRelation.timestamp_matched() takes from 2 to 3 "
           "positional arguments but 4 were given")
    assert (PyInputRelation.independent() == 0) is False
    with pytest.raises(TypeError):
        PyInputRelation.windowed(1) < PyInputRelation.windowed(2)  # noqa: B015


# ---- control signals ---------------------------------------------------

SIGNALS = [(PyControlSignal.flush, (), "flush"), (PyControlSignal.eos, (), "eos"),
           (PyControlSignal.cancel, (), "cancel"), (PyControlSignal.stop, (), "stop"),
           (PyControlSignal.seek, (10,), "seek")]


@pytest.mark.parametrize("make, args, kind", SIGNALS, ids=[k for *_, k in SIGNALS])
def test_signal_kinds(make, args, kind):
    s = make(*args)
    assert type(s) is PyControlSignal and s is not make(*args)
    assert s.kind() == kind and repr(s) == str(s) == f"PyControlSignal({kind})"
    assert s.target_ns() == (10 if kind == "seek" else None)
    assert [s == m(*a) for m, a, _ in SIGNALS] == [k == kind for *_, k in SIGNALS]


def test_seek_targets():
    seek = PyControlSignal.seek
    assert seek(10) == seek(target_ns=10) and seek(10) != seek(11)
    assert seek(0).target_ns() == 0 and seek(U64).target_ns() == U64 and seek(U64) == seek(U64)
    assert PyControlSignal.eos() == PyControlSignal.eos() and seek(0) != PyControlSignal.flush()
    raises(TypeError, PyControlSignal, msg="cannot create 'builtins.PyControlSignal' instances")


# ---- the execution contract -------------------------------------------

FIELDS = ["input_relation", "ordering", "concurrency", "delivery", "overflow", "output_coupling",
          "completion", "failure_policy", "eos_policy", "batching", "join_ports"]
DEFAULT = [PyInputRelation.independent(), PyOrderingRequirement.PreserveSequence,
           PyConcurrency.unrestricted(), PyDeliveryMode.All, PyOverflowPolicy.Block,
           PyOutputCoupling.Coupled, PyCompletionBoundary.OutputReady, PyFailurePolicy.FailGraph,
           PyEosPolicy.AllInputs, None, []]
PERMISSIVE = DEFAULT[:1] + [PyOrderingRequirement.AllowReorder] + DEFAULT[2:5] + \
    [PyOutputCoupling.Independent, PyCompletionBoundary.OutputReady, PyFailurePolicy.Skip] + DEFAULT[8:]
ENUM_FIELDS = {f for f, v in zip(FIELDS, DEFAULT) if type(v) in VARIANTS}


def fields(c):
    return [getattr(c, f) for f in FIELDS]


@pytest.mark.parametrize("make, want, text", [
    (PyExecutionContract, DEFAULT, "PreserveSequence"),
    (PyExecutionContract.permissive, PERMISSIVE, "AllowReorder"),
])
def test_contract_tables(make, want, text):
    c = make()
    assert type(c) is PyExecutionContract and c is not make()
    got = fields(c)
    assert [type(v) for v in got] == [type(v) for v in want] and got == want
    for f in FIELDS:
        a, b = getattr(c, f), getattr(c, f)
        assert (a is b) == (f in ENUM_FIELDS or f == "batching")  # variants and None are singletons
    assert repr(c) == str(c) == f"PyExecutionContract(ordering={text}, concurrency=Unrestricted)"


P1, P2 = PyPortId.new(), PyPortId.new()
BUILDERS = [  # builder, argument, field, value read back
    ("with_input_relation", TM(7, D, [1, -2]), "input_relation", TM(7, D, [1, -2])),
    ("with_ordering", PyOrderingRequirement.AllowReorder, "ordering", None),
    ("with_concurrency", PyConcurrency.limited(4), "concurrency", PyConcurrency.limited(4)),
    ("with_delivery", PyDeliveryMode.Latest, "delivery", None),
    ("with_overflow", PyOverflowPolicy.DropOldest, "overflow", None),
    ("with_output_coupling", PyOutputCoupling.Transactional, "output_coupling", None),
    ("with_completion", PyCompletionBoundary.ExternalConfirmed, "completion", None),
    ("with_failure_policy", PyFailurePolicy.Retry, "failure_policy", None),
    ("with_eos_policy", PyEosPolicy.AnyInput, "eos_policy", None),
    ("with_batching", PyBatchingPolicy(8, 1000), "batching", PyBatchingPolicy(8, 1000)),
    ("with_join_ports", (P1, P2, P1), "join_ports", [P1, P2, P1]),
    ("with_join_ports", [], "join_ports", []),
]


@pytest.mark.parametrize("name, arg, field, value", BUILDERS, ids=[b[0] for b in BUILDERS])
@pytest.mark.parametrize("base", [PyExecutionContract, PyExecutionContract.permissive])
def test_contract_builders(base, name, arg, field, value):
    receiver = base()
    before, text = fields(receiver), repr(receiver)
    c = getattr(receiver, name)(arg)
    assert type(c) is PyExecutionContract and c is not receiver
    want = before.copy()
    want[FIELDS.index(field)] = arg if value is None else value
    assert fields(c) == want
    if field in ENUM_FIELDS:
        assert getattr(c, field) is arg
    elif field != "join_ports" or arg:
        assert getattr(c, field) is not arg
    assert fields(receiver) == before and repr(receiver) == text


def test_contract_copies():
    c = PyExecutionContract().with_join_ports([P1, P1]).with_batching(PyBatchingPolicy(8, 1000))
    ports = c.join_ports
    assert ports == [P1, P1] and ports is not c.join_ports and ports[0] is not ports[1]
    ports.append(P2)
    assert c.join_ports == [P1, P1]
    again = c.with_batching(policy=PyBatchingPolicy(1, 2)).with_batching(PyBatchingPolicy(3, 4))
    assert again.batching == PyBatchingPolicy(3, 4) and c.batching == PyBatchingPolicy(8, 1000)
    assert PyExecutionContract().batching is None
    r = repr(PyExecutionContract.permissive().with_concurrency(PyConcurrency.limited(4)))
    assert r == "PyExecutionContract(ordering=AllowReorder, concurrency=Limited(4))"
    assert repr(c.with_concurrency(PyConcurrency.serialized())) == \
        "PyExecutionContract(ordering=PreserveSequence, concurrency=Serialized)"


def test_contract_identity():
    a, b = PyExecutionContract(), PyExecutionContract()
    assert (a == b) is False and a != b and a == a
    assert hash(a) == object.__hash__(a)
    for attr in FIELDS:
        with pytest.raises(AttributeError):
            setattr(a, attr, None)
    raises(TypeError, PyExecutionContract, 1,
           msg="PyExecutionContract.__new__() takes 0 positional arguments but 1 was given")
    raises(TypeError, PyExecutionContract, x=1,
           msg="PyExecutionContract.__new__() got an unexpected keyword argument 'x'")
    raises(TypeError, PyExecutionContract.permissive, 1,
           msg="PyExecutionContract.permissive() takes 0 positional arguments but 1 was given")


ARGS = {"with_input_relation": ("relation", "PyInputRelation"), "with_ordering": ("ordering", "PyOrderingRequirement"),
        "with_concurrency": ("concurrency", "PyConcurrency"), "with_delivery": ("delivery", "PyDeliveryMode"),
        "with_overflow": ("overflow", "PyOverflowPolicy"), "with_output_coupling": ("coupling", "PyOutputCoupling"),
        "with_completion": ("completion", "PyCompletionBoundary"),
        "with_failure_policy": ("policy", "PyFailurePolicy"), "with_eos_policy": ("policy", "PyEosPolicy"),
        "with_batching": ("policy", "PyBatchingPolicy")}


VALID = {name: arg for name, arg, *_ in BUILDERS}


@pytest.mark.parametrize("name", ARGS)
def test_contract_builder_rejects(name):
    param, cls = ARGS[name]
    c = PyExecutionContract.permissive().with_join_ports([P1])
    before = fields(c)
    wrong = PyExecutionState.Running  # an instance of an unrelated class
    raises(TypeError, getattr(c, name), wrong, msg=NOT("PyExecutionState", cls), note=param)
    raises(TypeError, getattr(c, name), None, msg=f"'None' is not an instance of '{cls}'", note=param)
    raises(TypeError, getattr(c, name), msg=f"PyExecutionContract.{name}() missing 1 required positional "
           f"argument: '{param}'")
    assert type(getattr(c, name)(**{param: VALID[name]})) is PyExecutionContract  # by keyword
    assert fields(c) == before


@pytest.mark.parametrize("ports, msg", [
    ([P1, None], "'None' is not an instance of 'PyPortId'"),
    ([P1, "x"], NOT("str", "PyPortId")),
    ("x", "Can't extract `str` to a list"),
    (P1, NOT("PyPortId", "Sequence")),
    (None, NOT("NoneType", "Sequence")),
])
def test_join_ports_rejects(ports, msg):
    c = PyExecutionContract().with_join_ports([P2])
    raises(TypeError, c.with_join_ports, ports, msg=msg, note="ports")
    assert c.join_ports == [P2]


# ---- docs and text signatures -----------------------------------------

S, DOC = "__text_signature__", "__doc__"
R = PyInputRelation
DOCS = [
    (PyConcurrency, DOC, "Concurrency requirement of an element type."),
    (PyConcurrency.serialized, S, "()"),
    (PyConcurrency.serialized, DOC, "Executions must be serialized (stateful elements)."),
    (PyConcurrency.limited, S, "(n)"),
    (PyConcurrency.limited, DOC, "Up to `n` concurrent executions are semantically safe."),
    (PyConcurrency.unrestricted, DOC, "Unlimited concurrent executions are semantically safe."),
    (PyConcurrency.max_concurrent, S, "($self)"),
    (PyConcurrency.max_concurrent, DOC,
     "Maximum number of concurrently running executions (`None` =\nunrestricted)."),
    (PyBatchingPolicy, S, "(max_size, max_wait_ns)"),
    (PyBatchingPolicy, DOC, "Runtime batching policy."),
    (R, DOC, "How multiple inputs of an element type relate to one another."),
    (R.independent, S, "()"),
    (R.independent, DOC, "Each input may independently trigger execution (\u00a77.1)."),
    (R.synchronized, DOC, "Inputs correspond by explicit synchronization, e.g. matching\n"
     "frame `sequence` numbers (\u00a77.2)."),
    (R.timestamp_matched, S, "(tolerance_ns, missing, clock_offsets_ns=None)"),
    (R.timestamp_matched, DOC, "Inputs are matched using timestamp semantics (\u00a77.3).\n`tolerance_ns` "
     "bounds the acceptable timestamp difference;\n`missing` selects the missing-input behavior; optional\n"
     "`clock_offsets_ns` hold calibrated per-port clock corrections\n(nanoseconds, port 0 = driver)."),
    (R.latest_value, S, "()"),
    (R.latest_value, DOC, "Use the latest available value of secondary inputs (\u00a77.4)."),
    (R.windowed, S, "(size)"),
    (R.windowed, DOC, "Consume a window of `size` consecutive items (\u00a77.5)."),
    (R.explicit_join, S, "(key)"),
    (R.explicit_join, DOC, "Join inputs by an element-specific key (\u00a77.6)."),
    (R.kind, S, "($self)"),
    (R.kind, DOC, "The relation kind: `independent`, `synchronized`,\n`timestamp_matched`, `latest_value`, "
     "`windowed` or\n`explicit_join`."),
    (PyExecutionState.is_terminal, S, "($self)"),
    (PyExecutionState.is_terminal, DOC, "Whether this is a terminal state (`Completed`, `Failed` or\n"
     "`Cancelled`) \u2014 RFC-005 Invariant 3."),
    (PyControlSignal, DOC, "A control signal \u2014 not an ordinary data-plane object."),
    (PyControlSignal.flush, S, "()"),
    (PyControlSignal.flush, DOC, "Flush: reach a defined boundary for work admitted before the\n"
     "flush (\u00a719)."),
    (PyControlSignal.eos, DOC, "End of stream for a logical input stream (\u00a720)."),
    (PyControlSignal.cancel, DOC, "Request cancellation of an execution (\u00a721)."),
    (PyControlSignal.stop, S, "()"),
    (PyControlSignal.stop, DOC, "Stop the runtime instance (RFC-003 \u00a741)."),
    (PyControlSignal.seek, S, "(target_ns)"),
    (PyControlSignal.seek, DOC, "Seek: reposition a source to `target_ns` stream time."),
    (PyControlSignal.kind, DOC, "The signal kind: `flush`, `eos`, `cancel`, `stop` or `seek`."),
    (PyControlSignal.target_ns, S, "($self)"),
    (PyControlSignal.target_ns, DOC, "The seek target in nanoseconds, if this is a seek."),
    (PyExecutionContract, S, "()"),
    (PyExecutionContract, DOC, "The semantic execution contract of an element type."),
    (PyExecutionContract.permissive, S, "()"),
    (PyExecutionContract.permissive, DOC, "A permissive contract: reorder-allowing, skip-on-failure."),
    (PyExecutionContract.join_ports, DOC,
     "Input ports the join semantics operate over (empty = all\ndeclared input ports)."),
] + [(getattr(PyExecutionContract, n), S, f"($self, {p})") for n, (p, _) in ARGS.items()] + [
    (PyExecutionContract.with_join_ports, S, "($self, ports)")] + [
    (getattr(PyExecutionContract, n), DOC, d) for n, d in [
        ("with_input_relation", "Set the input relation (builder-style)."),
        ("with_ordering", "Set the ordering requirement (builder-style)."),
        ("with_concurrency", "Set the concurrency (builder-style)."),
        ("with_delivery", "Set the delivery mode (builder-style)."),
        ("with_overflow", "Set the overflow policy (builder-style)."),
        ("with_output_coupling", "Set the output coupling (builder-style)."),
        ("with_completion", "Set the completion boundary (builder-style)."),
        ("with_failure_policy", "Set the failure policy (builder-style)."),
        ("with_eos_policy", "Set the EOS policy (builder-style)."),
        ("with_batching", "Enable batching (builder-style)."),
        ("with_join_ports", "Set the join ports (builder-style)."),
    ]]


@pytest.mark.parametrize("obj, attr, text", DOCS, ids=range(len(DOCS)))
def test_docs_and_signatures(obj, attr, text):
    assert getattr(obj, attr) == text
