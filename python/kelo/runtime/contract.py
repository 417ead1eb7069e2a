"""Execution contracts from an `[element.execution]` table, and the contracts
that can never run.

A table's keys override a base contract (the element class's, or the
default) key by key: `contract_from_table` returns the merged contract, the
runtime settings that are not part of a contract (``queue_size``,
``retries``, ``confirm_timeout_ns`` and ``join_ports`` by name, only those
the table sets) and the problems, each ``(key path, kind, message)``. The
kinds are those of the description reader: ``"unknown_key"``, ``"type"``,
``"missing"``, ``"name"``, ``"value"``, and ``"never_runs"`` for a contract
no runtime can execute (a limit of 0, batches or windows of 0, join ports
that are not inputs, a join key the inputs cannot carry). The table's
notation is `kelo._native.contract_fields`'s.
"""

from __future__ import annotations

import difflib
from collections.abc import Mapping
from typing import Any, Literal

from kelo.ext.data import PyFrame, PyTensor
from kelo.ext.execution import (PyBatchingPolicy, PyCompletionBoundary, PyConcurrency,
                                PyDeliveryMode, PyEosPolicy, PyExecutionContract,
                                PyFailurePolicy, PyInputRelation, PyMissingInputBehavior,
                                PyOrderingRequirement, PyOutputCoupling, PyOverflowPolicy)
from kelo.ext.graph import PyDataContract

from .. import _native

__all__ = ["EXTRAS", "KEYS", "PROBLEM_CODES", "Problem", "ProblemKind", "build", "contract_from_table",
           "contract_problems", "fields_of"]

ProblemKind = Literal["unknown_key", "type", "missing", "name", "value", "never_runs"]
Problem = tuple[tuple[str, ...], ProblemKind, str]
#: The finding code of each kind of problem.
PROBLEM_CODES: dict[str, str] = {"unknown_key": "K102", "type": "K103", "missing": "K104",
                                 "name": "K105", "value": "K106", "never_runs": "K310"}

_U32 = 2**32 - 1
_U64 = 2**64 - 1
_I64 = (-2**63, 2**63 - 1)

# The closed policies: table key -> value name -> variant.
_POLICIES: dict[str, dict[str, Any]] = {
    "missing": {"wait": PyMissingInputBehavior.Wait, "proceed": PyMissingInputBehavior.Proceed,
                "drop": PyMissingInputBehavior.Drop},
    "ordering": {"preserve_sequence": PyOrderingRequirement.PreserveSequence,
                 "allow_reorder": PyOrderingRequirement.AllowReorder},
    "delivery": {"all": PyDeliveryMode.All, "latest": PyDeliveryMode.Latest},
    "overflow": {"block": PyOverflowPolicy.Block, "drop_oldest": PyOverflowPolicy.DropOldest,
                 "drop_newest": PyOverflowPolicy.DropNewest, "reject": PyOverflowPolicy.Reject},
    "output_coupling": {"independent": PyOutputCoupling.Independent,
                        "coupled": PyOutputCoupling.Coupled,
                        "transactional": PyOutputCoupling.Transactional},
    "completion": {"output_ready": PyCompletionBoundary.OutputReady,
                   "external_confirmed": PyCompletionBoundary.ExternalConfirmed},
    "failure": {"retry": PyFailurePolicy.Retry, "skip": PyFailurePolicy.Skip,
                "fail_graph": PyFailurePolicy.FailGraph},
    "eos": {"all_inputs": PyEosPolicy.AllInputs, "any_input": PyEosPolicy.AnyInput},
}
RELATIONS = ("independent", "synchronized", "timestamp_matched", "latest_value", "windowed",
             "explicit_join")
# The parameters of each relation that has some; the first ones are required.
_PARAMETERS = {"timestamp_matched": ("tolerance_ns", "missing", "clock_offsets_ns"),
               "windowed": ("size",), "explicit_join": ("key",)}
_REQUIRED = {"timestamp_matched": ("tolerance_ns",), "windowed": ("size",),
             "explicit_join": ("key",)}
_OWNER = {p: r for r, ps in _PARAMETERS.items() for p in ps}

#: key -> TOML type name, as the description reader names them.
KEYS: dict[str, str] = {
    "input_relation": "string", "tolerance_ns": "integer", "missing": "string",
    "clock_offsets_ns": "array", "size": "integer", "key": "string", "ordering": "string",
    "concurrency": "string or integer", "delivery": "string", "overflow": "string",
    "output_coupling": "string", "completion": "string", "failure": "string",
    "retries": "integer", "eos": "string", "batch_size": "integer", "batch_wait_ns": "integer",
    "join_ports": "array", "queue_size": "integer", "confirm_timeout_ns": "integer",
}
#: The keys that are runtime settings rather than parts of the contract.
EXTRAS = ("queue_size", "retries", "confirm_timeout_ns", "join_ports")
_RANGES = {"tolerance_ns": (0, _U64), "size": (0, _U64), "batch_size": (0, _U64),
           "batch_wait_ns": (0, _U64), "retries": (0, _U32), "queue_size": (0, _U32),
           "confirm_timeout_ns": (0, _U64)}

# What values of a category are: the attributes a join key may name. The
# other categories carry whatever Python values the elements pass.
_CARRIERS: dict[str, type] = {"Frame": PyFrame, "Tensor": PyTensor}


def fields_of(contract: PyExecutionContract) -> dict[str, Any]:
    """The contract in the table's notation (`kelo._native.contract_fields`)."""
    fields: dict[str, Any] = _native.contract_fields(contract)
    return fields


def build(fields: Mapping[str, Any]) -> PyExecutionContract:
    """The contract of complete, valid fields (as `fields_of` gives them)."""
    kind = fields["input_relation"]
    if kind == "timestamp_matched":
        relation = PyInputRelation.timestamp_matched(
            fields["tolerance_ns"], _POLICIES["missing"][fields.get("missing", "wait")],
            fields.get("clock_offsets_ns") or None)
    elif kind == "windowed":
        relation = PyInputRelation.windowed(fields["size"])
    elif kind == "explicit_join":
        relation = PyInputRelation.explicit_join(fields["key"])
    else:
        relation = getattr(PyInputRelation, kind)()
    concurrency = fields["concurrency"]
    c = (PyExecutionContract().with_input_relation(relation)
         .with_concurrency(PyConcurrency.limited(concurrency) if isinstance(concurrency, int)
                           else getattr(PyConcurrency, concurrency)())
         .with_ordering(_POLICIES["ordering"][fields["ordering"]])
         .with_delivery(_POLICIES["delivery"][fields["delivery"]])
         .with_overflow(_POLICIES["overflow"][fields["overflow"]])
         .with_output_coupling(_POLICIES["output_coupling"][fields["output_coupling"]])
         .with_completion(_POLICIES["completion"][fields["completion"]])
         .with_failure_policy(_POLICIES["failure"][fields["failure"]])
         .with_eos_policy(_POLICIES["eos"][fields["eos"]]))
    if "batch_size" in fields:
        c = c.with_batching(PyBatchingPolicy(fields["batch_size"], fields.get("batch_wait_ns", 0)))
    if fields.get("join_ports"):
        c = c.with_join_ports(fields["join_ports"])
    return c


def _choices(value: str, options: list[str] | tuple[str, ...]) -> str:
    near = difflib.get_close_matches(value, options, n=1, cutoff=0.6)
    hint = f" (did you mean {near[0]!r}?)" if near else ""
    return f"{hint}; expected one of: {', '.join(options)}"


def _toml_type(value: object) -> str:
    for t, name in ((bool, "a boolean"), (int, "an integer"), (float, "a float"),
                    (str, "a string"), (list, "an array"), (dict, "a table")):
        if isinstance(value, t):
            return name
    return "a date or time"


def _is_int(value: object) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def contract_from_table(table: Mapping[str, Any], base: PyExecutionContract | None,
                        input_ports: Mapping[str, PyDataContract]
                        ) -> tuple[PyExecutionContract, dict[str, Any], list[Problem]]:
    """`base` (default: the default contract) with the keys of `table` set;
    `input_ports` are the element's inputs by name. A key with a problem is
    left out, so the contract is always complete."""
    original = fields_of(base if base is not None else PyExecutionContract())
    fields = dict(original)
    extras: dict[str, Any] = {}
    problems: list[Problem] = []

    def problem(key: str, kind: ProblemKind, message: str) -> None:
        problems.append(((key,), kind, message))

    given: dict[str, Any] = {}
    for key, value in table.items():
        expected = KEYS.get(key)
        if expected is None:
            problem(key, "unknown_key", f"unknown key {key!r} in [element.execution]"
                    f"{_choices(key, list(KEYS))}")
        elif _fits(key, value):
            given[key] = value
        else:
            problem(key, "type", f"[element.execution]: {key!r} must be "
                    f"{'an' if expected[0] in 'aeiou' else 'a'} {expected}, not {_toml_type(value)}")
    for key, value in given.items():
        if key in _POLICIES or key == "input_relation":
            options = RELATIONS if key == "input_relation" else tuple(_POLICIES[key])
            if value not in options:
                problem(key, "name", f"unknown {key.replace('_', ' ')} {value!r}"
                        f"{_choices(value, options)}")
                continue
        elif key == "concurrency" and isinstance(value, str):
            if value not in ("serialized", "unrestricted"):
                problem(key, "name", f"unknown concurrency {value!r}; expected one of: "
                        "serialized, unrestricted, or an integer limit")
                continue
        elif key in _RANGES or key == "concurrency":
            low, high = _RANGES.get(key, (0, _U64))
            if not low <= value <= high:
                problem(key, "value", f"{key} {value} is out of range {low}..{high}")
                continue
        elif key == "clock_offsets_ns":
            if not all(_is_int(x) and _I64[0] <= x <= _I64[1] for x in value):
                problem(key, "value", f"clock_offsets_ns must be integers in range "
                        f"{_I64[0]}..{_I64[1]}")
                continue
        elif key == "join_ports":
            if not all(isinstance(x, str) for x in value):
                problem(key, "type", "join_ports: items must be port names (strings)")
                continue
        (extras if key in EXTRAS else fields)[key] = value

    # The relation's parameters: a new relation takes only the table's, the
    # same relation keeps the base's unless the table sets them.
    kind = fields["input_relation"]
    base_kind = original["input_relation"]
    if kind != base_kind:
        for p in _OWNER:
            if p not in given:
                fields.pop(p, None)
    for p, owner in _OWNER.items():
        if p in given and owner != kind:
            problem(p, "value", f"{p!r} belongs to input_relation {owner!r}, not {kind!r}")
            fields.pop(p, None)
    for p in _REQUIRED.get(kind, ()):
        if p not in fields:
            problem("input_relation", "missing", f"input_relation {kind!r} needs {p!r}")
            for q in ("input_relation", *_OWNER):       # the base's relation stays
                fields.pop(q, None)
                if q in original:
                    fields[q] = original[q]
            break
    if "batch_wait_ns" in fields and "batch_size" not in fields:
        problem("batch_wait_ns", "missing", "batch_wait_ns needs batch_size")
        fields.pop("batch_wait_ns")
    contract = build(fields)
    problems.extend(_never_runs(fields, extras, input_ports, set(given)))
    return contract, extras, problems


def _fits(key: str, value: object) -> bool:
    expected = KEYS[key]
    if expected == "string":
        return isinstance(value, str)
    if expected == "integer":
        return _is_int(value)
    if expected == "array":
        return isinstance(value, list)
    return isinstance(value, str) or _is_int(value)     # concurrency


def _never_runs(fields: Mapping[str, Any], extras: Mapping[str, Any],
                input_ports: Mapping[str, PyDataContract], keys: set[str]) -> list[Problem]:
    """The settings no runtime can execute, each at the key that made it (or
    at `input_relation`/`concurrency` when they came from the base)."""
    out: list[Problem] = []

    def at(key: str, fallback: str) -> tuple[str, ...]:
        return (key,) if key in keys else (fallback,)

    if fields["concurrency"] == 0:
        out.append((("concurrency",), "never_runs",
                    "concurrency 0 admits no execution (use 'serialized' or a limit >= 1)"))
    if fields.get("batch_size") == 0:
        out.append((("batch_size",), "never_runs", "batch_size 0 never fills a batch"))
    if fields["input_relation"] == "windowed" and fields.get("size") == 0:
        out.append((at("size", "input_relation"), "never_runs", "a window of size 0 never fills"))
    if extras.get("queue_size") == 0:
        out.append((("queue_size",), "never_runs", "queue_size 0 holds no item"))
    joined = list(input_ports)
    if "join_ports" in extras:
        unknown = [p for p in extras["join_ports"] if p not in input_ports]
        if unknown:
            out.append((("join_ports",), "never_runs",
                        f"join_ports {', '.join(map(repr, unknown))} "
                        f"{'is not an input' if len(unknown) == 1 else 'are not inputs'}; "
                        f"the inputs are: {', '.join(input_ports) or 'none'}"))
        joined = [p for p in extras["join_ports"] if p in input_ports]
    if fields["input_relation"] == "explicit_join":
        key = fields["key"]
        where = at("key", "input_relation")
        if not key:
            out.append((where, "never_runs", "explicit_join needs a non-empty key"))
        for port in joined:
            carrier = _CARRIERS.get(input_ports[port].category_name())
            if carrier is not None and not hasattr(carrier, key):
                out.append((where, "never_runs", f"input {port!r} carries "
                            f"{input_ports[port].category_name().lower()}s, which have no "
                            f"{key!r} to join on"))
    return out


def contract_problems(contract: PyExecutionContract,
                      input_ports: Mapping[str, PyDataContract]) -> list[Problem]:
    """The never-runs problems of a contract written in Python (an
    `ElementType`'s `execution`); join ports are port ids there, checked by
    the runtime against the element's ports."""
    return _never_runs(fields_of(contract), {}, input_ports, set())
