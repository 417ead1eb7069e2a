"""kelo.ext.execution: concurrency, batching, input relations, control signals and the execution contract."""

import pytest

from kelo.ext.execution import (
    PyBatchingPolicy, PyCompletionBoundary, PyConcurrency, PyControlSignal, PyDeliveryMode,
    PyEosPolicy, PyExecutionContract, PyFailurePolicy, PyInputRelation,
    PyMissingInputBehavior, PyOrderingRequirement, PyOutputCoupling, PyOverflowPolicy)
from kelo.ext.graph import PyPortId

U64, I64 = 2**64 - 1, 2**63


@pytest.mark.parametrize("c, most, text", [(PyConcurrency.serialized(), 1, "Serialized"),
    (PyConcurrency.limited(n=4), 4, "Limited(4)"), (PyConcurrency.unrestricted(), None, "Unrestricted")])
def test_concurrency(c, most, text):
    assert c.max_concurrent() == most and repr(c) == str(c) == f"PyConcurrency({text})"


def test_batching_policy():
    b = PyBatchingPolicy(max_wait_ns=U64, max_size=8)
    assert (b.max_size, b.max_wait_ns) == (8, U64)
    assert repr(b) == str(b) == f"PyBatchingPolicy(max_size=8, max_wait_ns={U64})"


W, D = PyMissingInputBehavior.Wait, PyMissingInputBehavior.Drop
TM = PyInputRelation.timestamp_matched
RELATIONS = [(PyInputRelation.independent, (), "independent"),
    (PyInputRelation.synchronized, (), "synchronized"), (TM, (5, W, [0, 3]), "timestamp_matched"),
    (PyInputRelation.latest_value, (), "latest_value"), (PyInputRelation.windowed, (3,), "windowed"),
    (PyInputRelation.explicit_join, ("camera",), "explicit_join")]


@pytest.mark.parametrize("make, args, kind", RELATIONS, ids=[k for *_, k in RELATIONS])
def test_relation_kinds(make, args, kind):
    r = make(*args)
    assert type(r) is PyInputRelation and r is not make(*args)
    assert r.kind() == kind and repr(r) == str(r) == f"PyInputRelation({kind})"
    assert r == make(*args) and not r != make(*args)
    assert [r == m(*a) for m, a, _ in RELATIONS] == [k == kind for *_, k in RELATIONS]


@pytest.mark.parametrize("a, b, equal", [  # the core tests hold the rule; these check the arguments
    (TM(5, W), TM(5, W, []), True), (TM(5, W), TM(5, W, None), True),
    (TM(5, W), TM(tolerance_ns=5, missing=W, clock_offsets_ns=()), True),
    (TM(5, W, [0, 3]), TM(5, W, (0, 3)), True),
    (TM(U64, W, [I64 - 1, -I64]), TM(U64, W, [I64 - 1, -I64]), True), (TM(5, W), TM(5, D), False)])
def test_relation_equality(a, b, equal):
    assert (a == b, b == a, a != b) == (equal, equal, not equal)


SIGNALS = [(PyControlSignal.flush, (), "flush"), (PyControlSignal.eos, (), "eos"),
           (PyControlSignal.cancel, (), "cancel"), (PyControlSignal.stop, (), "stop"),
           (PyControlSignal.seek, (10,), "seek")]


@pytest.mark.parametrize("make, args, kind", SIGNALS, ids=[k for *_, k in SIGNALS])
def test_signal_kinds(make, args, kind):
    s = make(*args)
    assert type(s) is PyControlSignal and s is not make(*args)
    assert s.kind() == kind and repr(s) == str(s) == f"PyControlSignal({kind})"
    assert s.target_ns() == (10 if kind == "seek" else None) and PyControlSignal.seek(U64).target_ns() == U64
    assert [s == m(*a) for m, a, _ in SIGNALS] == [k == kind for *_, k in SIGNALS]


FIELDS = ["input_relation", "ordering", "concurrency", "delivery", "overflow", "output_coupling",
          "completion", "failure_policy", "eos_policy", "batching", "join_ports"]
ENUM_FIELDS = {"ordering", "delivery", "overflow", "output_coupling", "completion", "failure_policy",
               "eos_policy"}


def fields(c):
    return [getattr(c, f) for f in FIELDS]


@pytest.mark.parametrize("make, text", [  # the core tests hold the fields' values
    (PyExecutionContract, "PreserveSequence"), (PyExecutionContract.permissive, "AllowReorder")])
def test_contract_tables(make, text):
    c = make()
    assert type(c) is PyExecutionContract and c is not make()
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
    ("with_join_ports", (P1, P2, P1), "join_ports", [P1, P2, P1]), ("with_join_ports", [], "join_ports", [])]


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


def test_contract_repr():
    r = repr(PyExecutionContract.permissive().with_concurrency(PyConcurrency.limited(4)))
    assert r == "PyExecutionContract(ordering=AllowReorder, concurrency=Limited(4))"
