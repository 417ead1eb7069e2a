# Stubs for the compiled helper module kelo._native (python/kelo/_native.abi3.so).

import os
from collections.abc import Sequence
from typing import Any, Optional

from kelo.ext.data import PyCoordinateSpace, PyMetadata
from kelo.ext.execution import PyExecutionContract
from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementTypeId
from kelo.ext.provider import PyProviderDescriptor, PyRequirement, PySelectionPolicy

__all__ = [
    "contract_with",
    "explain_selection",
    "to_dict",
    "from_dict",
    "encode",
    "decode",
    "type_tag",
    "state",
    "restore",
    "classes",
    "schema",
    "columns",
    "add_objects",
    "contract_fields",
]

# pipelines.cpp
def contract_with(category: str, spec: PyContractSpec) -> PyDataContract:
    """A contract of a built-in category (`frame`, `tensor`, `metadata`,
    `event` or `batch`) constrained by `spec`.
    """
def explain_selection(element_type: PyElementTypeId, candidates: Sequence[PyProviderDescriptor],
                      requirements: Sequence[PyRequirement],
                      policy: PySelectionPolicy) -> list[int]:
    """`select_provider`'s decision among `candidates` (the descriptors
    `PyProviderRegistry.find(element_type)` returns) with a verdict for
    every candidate, as a
    flat list of ints: the chosen candidate's index (-1: none), the
    selection error (-1: none; 0 no providers found, 1 no provider
    satisfies requirements, 2 provider not found), then for each candidate
    in the registry's order its verdict (0 chosen, 1 fails a requirement,
    2 outranked, 3 not the manual choice) and the index of the first
    requirement it fails (-1 unless verdict 1).
    """

# records.cpp
def to_dict(value: object) -> dict[str, Any]:
    """The value's text form, tagged with its type and the schema version."""
def from_dict(d: object) -> Any:
    """The value a tagged text form describes."""
def encode(value: object) -> Any:
    """The value's text form, untagged."""
def decode(type: str, value: object, path: str) -> Any:
    """A value of the named type from its untagged text form."""
def type_tag(value: object) -> str:
    """The name of the value's type in the text form."""
def state(value: object) -> tuple[str, object]:
    """(type, state) for pickling."""
def restore(type: str, state: object) -> Any:
    """The value a pickled state describes."""
def classes() -> list[type]:
    """The data model's classes."""
def schema() -> str:
    """The JSON Schema of the text form, as JSON text."""

# columns.cpp
def columns(metadata: object) -> tuple[
    memoryview, memoryview, memoryview, list[str], memoryview, memoryview,
    Optional[memoryview],
    tuple[memoryview, memoryview, memoryview, Optional[memoryview]],
]:
    """The objects and tracks of one metadata, or of a list of them, as arrays."""
def add_objects(
    metadata: PyMetadata,
    boxes: object,
    confidence: Optional[object] = None,
    labels: Optional[object] = None,
    class_ids: Optional[object] = None,
    coordinate_space: Optional[PyCoordinateSpace] = None,
) -> None:
    """Append one object per row of boxes."""

# contracts.cpp
def contract_fields(contract: PyExecutionContract) -> dict[str, Any]:
    """The fields of an execution contract as a dict in the notation of a
    description file's [element.execution] table: `input_relation` and
    its parameters (`tolerance_ns`, `missing`, `clock_offsets_ns`; `size`;
    `key`), `ordering`, `concurrency` ("serialized", "unrestricted" or
    the limit), `delivery`, `overflow`, `output_coupling`, `completion`,
    `failure`, `eos`, `batch_size` and `batch_wait_ns` when batching, and
    `join_ports` (port ids).
    """

# runtime.cpp (not in __all__: the runtime's own helpers)
class Run:
    """A running pipeline (made by start_run)."""
    def flush(self) -> None: ...
    def eos(self, source: int) -> None: ...
    def cancel(self) -> None: ...
    def stop(self) -> None: ...
    def seek(self, source: int, target_ns: int, /) -> None: ...
    def poll(self, seconds: float | None, /) -> bool: ...
    def finish(self, timeout_ns: int | None = None, grace_ns: int | None = None, /) -> dict[str, Any]: ...
    def abandon(self) -> dict[str, Any]: ...
    def stats(self, node: int, /) -> dict[str, Any]: ...
    def ended(self) -> bool: ...
    def workers(self) -> int: ...
    def snapshot(self) -> dict[str, Any]: ...
    def write_trace(self, path: str | os.PathLike[str], /) -> tuple[int, int]: ...

class VirtualClock:
    """Time for a run that moves only when advance() moves it."""
    def __init__(self, start_ns: int = 0) -> None: ...
    def advance(self, ns: int, /) -> None: ...
    def advance_to(self, ns: int, /) -> None: ...
    def now_ns(self) -> int: ...
    def pending_timers(self) -> int: ...
    def next_timer_ns(self) -> int | None: ...

def start_run(nodes: Sequence[tuple[Any, ...]], edges: Sequence[tuple[int, int, int, int]],
              clock: VirtualClock | None, workers: int, trace_events: int = 0, /) -> Run: ...
def runtime_emit(element: object, port: str, value: object, /) -> None: ...
def runtime_pending_token(element: object, /) -> int | None: ...
def runtime_confirm(run_id: int, token: int, /) -> None: ...
