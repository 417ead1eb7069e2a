"""kelo.ext.execution: concurrency, batching, input relations, control signals and the execution contract."""

import pytest

from kelo.ext.execution import (
    PyBatchingPolicy, PyCompletionBoundary, PyConcurrency, PyControlSignal, PyDeliveryMode,
    PyEosPolicy, PyExecutionContract, PyFailurePolicy, PyInputRelation,
    PyMissingInputBehavior, PyOrderingRequirement, PyOutputCoupling, PyOverflowPolicy)
from kelo.ext.graph import PyPortId

U64, I64 = 2**64 - 1, 2**63


@pytest.mark.parametrize("value, read, text", [
    (PyConcurrency.serialized(), 1, "PyConcurrency(Serialized)"),
    (PyConcurrency.limited(n=4), 4, "PyConcurrency(Limited(4))"),
    (PyConcurrency.unrestricted(), None, "PyConcurrency(Unrestricted)"),
    (PyBatchingPolicy(max_wait_ns=U64, max_size=8), (8, U64),
     f"PyBatchingPolicy(max_size=8, max_wait_ns={U64})")])
def test_concurrency_and_batching(value, read, text):
    got = value.max_concurrent() if isinstance(value, PyConcurrency) else (value.max_size, value.max_wait_ns)
    assert (got, repr(value), str(value)) == (read, text, text)


W, D = PyMissingInputBehavior.Wait, PyMissingInputBehavior.Drop
TM = PyInputRelation.timestamp_matched
RELATIONS = [(PyInputRelation.independent, (), "independent"),
    (PyInputRelation.synchronized, (), "synchronized"), (TM, (5, W, [0, 3]), "timestamp_matched"),
    (PyInputRelation.latest_value, (), "latest_value"), (PyInputRelation.windowed, (3,), "windowed"),
    (PyInputRelation.explicit_join, ("camera",), "explicit_join")]


@pytest.mark.parametrize("a, b, equal", [  # equal field by field, however the arguments were given
    (TM(5, W), TM(5, W, []), True), (TM(5, W), TM(5, W, None), True),
    (TM(5, W), TM(tolerance_ns=5, missing=W, clock_offsets_ns=()), True),
    (TM(5, W, [0, 3]), TM(5, W, (0, 3)), True),
    (TM(U64, W, [I64 - 1, -I64]), TM(U64, W, [I64 - 1, -I64]), True), (TM(5, W), TM(5, D), False)])
def test_relation_equality(a, b, equal):
    assert (a == b, b == a, a != b) == (equal, equal, not equal)


SIGNALS = [(PyControlSignal.flush, (), "flush"), (PyControlSignal.eos, (), "eos"),
           (PyControlSignal.cancel, (), "cancel"), (PyControlSignal.stop, (), "stop"),
           (PyControlSignal.seek, (U64,), "seek")]


KINDS = [(PyInputRelation, RELATIONS, *row) for row in RELATIONS] + \
    [(PyControlSignal, SIGNALS, *row) for row in SIGNALS]


@pytest.mark.parametrize("cls, table, make, args, kind", KINDS, ids=[k[-1] for k in KINDS])
def test_relation_and_signal_kinds(cls, table, make, args, kind):
    v, text = make(*args), f"{cls.__name__}({kind})"
    assert (type(v), v.kind(), repr(v), str(v), v != make(*args)) == (cls, kind, text, text, False)
    assert [v == m(*a) for m, a, _ in table] == [k == kind for *_, k in table]
    if cls is PyControlSignal:
        assert v.target_ns() == (args[0] if args else None)


FIELDS = ["input_relation", "ordering", "concurrency", "delivery", "overflow", "output_coupling",
          "completion", "failure_policy", "eos_policy", "batching", "join_ports"]
ENUM_FIELDS = {"ordering", "delivery", "overflow", "output_coupling", "completion", "failure_policy",
               "eos_policy"}


def fields(c):
    return [getattr(c, f) for f in FIELDS]


@pytest.mark.parametrize("make, text", [  # the core tests hold the fields' values
    (PyExecutionContract, "PreserveSequence, concurrency=Unrestricted"),
    (PyExecutionContract.permissive, "AllowReorder, concurrency=Unrestricted"),
    (lambda: PyExecutionContract.permissive().with_concurrency(PyConcurrency.limited(4)),
     "AllowReorder, concurrency=Limited(4)")])
def test_contract_tables(make, text):
    c = make()
    assert (repr(c), str(c)) == (f"PyExecutionContract(ordering={text})",) * 2


P1, P2 = PyPortId.new(), PyPortId.new()
BUILDERS = [  # the field set, its argument, the value read back (None: the argument itself)
    ("input_relation", TM(7, D, [1, -2]), TM(7, D, [1, -2])),
    ("ordering", PyOrderingRequirement.AllowReorder, None), ("delivery", PyDeliveryMode.Latest, None),
    ("concurrency", PyConcurrency.limited(4), PyConcurrency.limited(4)),
    ("overflow", PyOverflowPolicy.DropOldest, None), ("failure_policy", PyFailurePolicy.Retry, None),
    ("output_coupling", PyOutputCoupling.Transactional, None), ("eos_policy", PyEosPolicy.AnyInput, None),
    ("completion", PyCompletionBoundary.ExternalConfirmed, None),
    ("batching", PyBatchingPolicy(8, 1000), PyBatchingPolicy(8, 1000)),
    ("join_ports", (P1, P2, P1), [P1, P2, P1]), ("join_ports", [], [])]


@pytest.mark.parametrize("field, arg, value", BUILDERS, ids=[b[0] for b in BUILDERS])
@pytest.mark.parametrize("base", [PyExecutionContract, PyExecutionContract.permissive])
def test_contract_builders(base, field, arg, value):
    receiver = base()
    before, text = fields(receiver), repr(receiver)
    c = getattr(receiver, "with_" + field)(arg)
    want = before.copy()
    want[FIELDS.index(field)] = arg if value is None else value
    assert (fields(c), fields(receiver), repr(receiver)) == (want, before, text)
    if field in ENUM_FIELDS:
        assert getattr(c, field) is arg
    elif field != "join_ports" or arg:
        assert getattr(c, field) is not arg
