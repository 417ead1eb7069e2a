"""Execution contracts from [element.execution] tables: merging over a base,
the problems of each key, and the contracts that can never run."""

import pytest

from kelo.ext.execution import (PyBatchingPolicy, PyConcurrency, PyExecutionContract,
                                PyInputRelation, PyMissingInputBehavior, PyOverflowPolicy)
from kelo.ext.graph import PyDataContract
from kelo.runtime.contract import build, contract_from_table, contract_problems, fields_of

FRAME, META = PyDataContract.frame(), PyDataContract.metadata()
PORTS = {"a": FRAME, "b": META}
BASE = (PyExecutionContract()
        .with_input_relation(PyInputRelation.timestamp_matched(5, PyMissingInputBehavior.Drop, [0, 7]))
        .with_concurrency(PyConcurrency.limited(2))
        .with_batching(PyBatchingPolicy(4, 100)))


def merged(table, base=None, ports=PORTS):
    contract, extras, problems = contract_from_table(table, base, ports)
    return fields_of(contract), extras, problems


def changed(table, base=None):
    fields, extras, problems = merged(table, base)
    before = fields_of(base or PyExecutionContract())
    return {k: v for k, v in fields.items() if before.get(k) != v}, extras, problems


@pytest.mark.parametrize("table, defaults", [
    ({"ordering": "allow_reorder", "concurrency": "serialized", "delivery": "latest",
      "overflow": "drop_oldest"}, {}),
    ({"concurrency": 3, "output_coupling": "transactional", "completion": "external_confirmed",
      "failure": "skip", "eos": "any_input"}, {}),
    ({"input_relation": "windowed", "size": 3, "batch_size": 8, "batch_wait_ns": 50}, {}),
    ({"input_relation": "explicit_join", "key": "sequence", "batch_size": 8}, {"batch_wait_ns": 0}),
    ({"input_relation": "timestamp_matched", "tolerance_ns": 9},
     {"missing": "wait", "clock_offsets_ns": []}),
])
def test_keys_set_over_the_default(table, defaults):
    assert changed(table) == ({**table, **defaults}, {}, [])


def test_keys_override_a_base_key_by_key():
    # The base's relation keeps its other parameters; its batch keeps its wait.
    assert changed({"tolerance_ns": 1, "batch_size": 16}, BASE) == (
        {"tolerance_ns": 1, "batch_size": 16}, {}, [])
    # Another relation drops the base's parameters.
    fields, _, problems = merged({"input_relation": "latest_value"}, BASE)
    assert (problems, fields["input_relation"], "tolerance_ns" in fields) == ([], "latest_value", False)
    assert fields_of(build(fields_of(BASE))) == fields_of(BASE)


def test_extras_are_not_part_of_the_contract():
    assert changed({"queue_size": 4, "retries": 0, "confirm_timeout_ns": 10,
                    "join_ports": ["b"]}) == (
        {}, {"queue_size": 4, "retries": 0, "confirm_timeout_ns": 10, "join_ports": ["b"]}, [])


@pytest.mark.parametrize("table, problem", [
    ({"tolerance_ns": 2**64}, (("tolerance_ns",), "value")),
    ({"clock_offsets_ns": ["x"]}, (("clock_offsets_ns",), "value")),
    ({"ordering": 1}, (("ordering",), "type")),
    ({"concurrency": 1.5}, (("concurrency",), "type")),
    ({"size": True}, (("size",), "type")),
    ({"concurrency": "limited"}, (("concurrency",), "name")),
    ({"input_relation": "joined"}, (("input_relation",), "name")),
    ({"retries": -1}, (("retries",), "value")),
    ({"join_ports": [1]}, (("join_ports",), "type")),
    ({"size": 3}, (("size",), "value")),            # not a windowed relation
    ({"input_relation": "explicit_join"}, (("input_relation",), "missing")),
    ({"input_relation": "windowed"}, (("input_relation",), "missing")),
])
def test_each_wrong_key_is_one_problem_and_left_out(table, problem):
    fields, _, problems = merged(table, BASE)
    assert ([(path, kind) for path, kind, _ in problems], fields) == ([problem], fields_of(BASE))


def test_messages_name_the_key_and_the_choices():
    _, _, problems = merged({"overflow": "rejct", "ordring": 1, "batch_wait_ns": 5})
    assert [(path[0], kind) for path, kind, _ in problems] == [
        ("ordring", "unknown_key"), ("overflow", "name"), ("batch_wait_ns", "missing")]
    assert [m for _, _, m in problems] == [
        "unknown key 'ordring' in [element.execution] (did you mean 'ordering'?); expected one "
        "of: input_relation, tolerance_ns, missing, clock_offsets_ns, size, key, ordering, "
        "concurrency, delivery, overflow, output_coupling, completion, failure, retries, eos, "
        "batch_size, batch_wait_ns, join_ports, queue_size, confirm_timeout_ns",
        "unknown overflow 'rejct' (did you mean 'reject'?); expected one of: block, "
        "drop_oldest, drop_newest, reject", "batch_wait_ns needs batch_size"]


@pytest.mark.parametrize("table, ports, expected", [
    ({"concurrency": 0}, PORTS, [("concurrency",)]),
    ({"batch_size": 0}, PORTS, [("batch_size",)]),
    ({"input_relation": "windowed", "size": 0}, PORTS, [("size",)]),
    ({"queue_size": 0}, PORTS, [("queue_size",)]),
    ({"join_ports": ["a", "c"]}, PORTS, [("join_ports",)]),
    ({"input_relation": "explicit_join", "key": "camera"}, PORTS, [("key",)]),   # frames: no camera
    ({"input_relation": "explicit_join", "key": "sequence"}, PORTS, []),
    ({"input_relation": "explicit_join", "key": "camera", "join_ports": ["b"]}, PORTS, []),
    ({"input_relation": "explicit_join", "key": ""}, {"b": META}, [("key",)]),
])
def test_contracts_that_can_never_run(table, ports, expected):
    _, _, problems = merged(table, ports=ports)
    assert [(path, kind) for path, kind, _ in problems] == [(p, "never_runs") for p in expected]


def test_contracts_written_in_python():
    assert contract_problems(BASE, PORTS) == []
    never = PyExecutionContract().with_input_relation(PyInputRelation.windowed(0)) \
        .with_overflow(PyOverflowPolicy.Reject)
    assert contract_problems(never, PORTS) == [
        (("input_relation",), "never_runs", "a window of size 0 never fills")]
