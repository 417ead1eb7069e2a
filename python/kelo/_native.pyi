# Stubs for the compiled helper module kelo._native (built into
# python/kelo/ext.abi3.so beside kelo.ext, and loaded from that file).

import os
from _typeshed import ReadableBuffer, structseq
from collections.abc import Callable, Sequence
from typing import Any, Final, Literal, Optional, Protocol, Union, final

from kelo.ext.data import PyCoordinateSpace, PyMetadata
from kelo.ext.execution import PyExecutionContract
from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementTypeId, PyGraph, PyPortId
from kelo.ext.provider import (PyProviderDescriptor, PyProviderRegistry, PyRequirement,
                               PySelectionPolicy)

__all__ = [
    "GraphFinding",
    "Names",
    "Verdict",
    "Selection",
    "TrackParts",
    "ColumnParts",
    "validate",
    "names",
    "select",
    "contract_with",
    "to_dict",
    "from_dict",
    "check_schema",
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
@final
class GraphFinding(structseq[Any], tuple[str, Literal["error", "warning"], str, tuple[int, ...],
                                         tuple[int, ...], tuple[PyPortId, ...], Optional[str]]):
    """One finding of graph validation: its kind (the core's name), severity
    (`error` or `warning`), message, the indexes of the elements and
    edges it concerns (a cycle's in order around it), the ports it names
    and the source element name of a dynamic-output edge.
    """
    __match_args__: Final = ("kind", "severity", "message", "elements", "edges", "ports", "element_name")
    @property
    def kind(self) -> str: ...
    @property
    def severity(self) -> Literal["error", "warning"]: ...
    @property
    def message(self) -> str: ...
    @property
    def elements(self) -> tuple[int, ...]: ...
    @property
    def edges(self) -> tuple[int, ...]: ...
    @property
    def ports(self) -> tuple[PyPortId, ...]: ...
    @property
    def element_name(self) -> Optional[str]: ...

@final
class Names(structseq[tuple[str, ...]], tuple[tuple[str, ...], tuple[str, ...], tuple[str, ...],
                                               tuple[str, ...], tuple[str, ...], tuple[str, ...],
                                               tuple[str, ...]]):
    """The names description files use, as the core spells them. Pixel
    formats, coordinate spaces, capabilities and categories also take
    `custom:<name>`.
    """
    __match_args__: Final = ("pixel_formats", "dtypes", "coordinate_spaces", "capabilities", "requirement_kinds", "categories", "policies")
    @property
    def pixel_formats(self) -> tuple[str, ...]: ...
    @property
    def dtypes(self) -> tuple[str, ...]: ...
    @property
    def coordinate_spaces(self) -> tuple[str, ...]: ...
    @property
    def capabilities(self) -> tuple[str, ...]: ...
    @property
    def requirement_kinds(self) -> tuple[str, ...]: ...
    @property
    def categories(self) -> tuple[str, ...]: ...
    @property
    def policies(self) -> tuple[str, ...]: ...

_VerdictName = Literal["chosen", "fails_requirement", "outranked", "not_manual_choice"]
_SelectionError = Literal["no_provider", "unsatisfied", "manual_not_candidate"]

@final
class Verdict(structseq[Any], tuple[PyProviderDescriptor, _VerdictName, Optional[int], tuple[int, ...]]):
    """One candidate of a provider selection: the descriptor, its verdict
    (`chosen`, `fails_requirement`, `outranked` or `not_manual_choice`),
    the index of the first requirement it fails (or None), and the
    indexes of the requirements it meets only by assumption.
    """
    __match_args__: Final = ("provider", "verdict", "failed", "assumed")
    @property
    def provider(self) -> PyProviderDescriptor: ...
    @property
    def verdict(self) -> _VerdictName: ...
    @property
    def failed(self) -> Optional[int]: ...
    @property
    def assumed(self) -> tuple[int, ...]: ...

@final
class Selection(structseq[Any], tuple[Optional[int], Optional[_SelectionError], tuple[Verdict, ...]]):
    """A provider selection: the chosen candidate's index (or None), the
    error (None, `no_provider`, `unsatisfied` or `manual_not_candidate`)
    and every candidate's verdict, in the registry's order.
    """
    __match_args__: Final = ("chosen", "error", "candidates")
    @property
    def chosen(self) -> Optional[int]: ...
    @property
    def error(self) -> Optional[_SelectionError]: ...
    @property
    def candidates(self) -> tuple[Verdict, ...]: ...

def validate(graph: PyGraph) -> list[GraphFinding]:
    """The graph's validation findings as GraphFinding values: the errors in
    the order the core finds them, then the warnings in edge order.
    """
def names() -> Names:
    """The names description files use, as the core spells them (Names)."""
def select(registry: PyProviderRegistry, element_type: PyElementTypeId,
           requirements: Sequence[PyRequirement], policy: PySelectionPolicy) -> Selection:
    """The provider `registry` selects for `element_type` under `requirements`
    and `policy`, with every candidate's verdict in the registry's order
    (Selection).
    """
def contract_with(category: str, spec: PyContractSpec) -> PyDataContract:
    """A contract of a built-in category (`frame`, `tensor`, `metadata`,
    `event` or `batch`) constrained by `spec`.
    """

# records.cpp
def to_dict(value: object) -> dict[str, Any]:
    """The value's text form, tagged with its type and the schema version."""
def from_dict(d: object) -> Any:
    """The value a tagged text form describes."""
def check_schema(d: object) -> None:
    """Checks the schema version of a tagged text form or a JSON-lines record
    (a dict): a version this kelo reads, or ValueError naming the field.
    """
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
@final
class TrackParts(structseq[Optional[memoryview]], tuple[memoryview, memoryview, memoryview,
                                                       Optional[memoryview]]):
    """The tracks' arrays of columns()."""
    __match_args__: Final = ("ids", "states", "last_boxes", "frame_index")
    @property
    def ids(self) -> memoryview: ...
    @property
    def states(self) -> memoryview: ...
    @property
    def last_boxes(self) -> memoryview: ...
    @property
    def frame_index(self) -> Optional[memoryview]: ...

@final
class ColumnParts(structseq[Any], tuple[memoryview, memoryview, memoryview, list[str], memoryview,
                                        memoryview, Optional[memoryview], TrackParts]):
    """The objects' arrays of columns(), and the tracks'."""
    __match_args__: Final = ("boxes", "confidence", "label_codes", "labels", "class_ids",
                             "object_ids", "frame_index", "tracks")
    @property
    def boxes(self) -> memoryview: ...
    @property
    def confidence(self) -> memoryview: ...
    @property
    def label_codes(self) -> memoryview: ...
    @property
    def labels(self) -> list[str]: ...
    @property
    def class_ids(self) -> memoryview: ...
    @property
    def object_ids(self) -> memoryview: ...
    @property
    def frame_index(self) -> Optional[memoryview]: ...
    @property
    def tracks(self) -> TrackParts: ...

def columns(metadata: object) -> ColumnParts:
    """The objects and tracks of one metadata, or of a list of them, as arrays."""
class _ArrayInterface(Protocol):
    # numpy arrays: their stubs do not declare the buffer protocol.
    @property
    def __array_interface__(self) -> dict[str, Any]: ...

# What exports the buffer protocol, and not a list of lists.
_Array = Union[ReadableBuffer, _ArrayInterface]

def add_objects(
    metadata: PyMetadata,
    boxes: _Array,
    confidence: Optional[_Array] = None,
    labels: Optional[object] = None,
    class_ids: Optional[_Array] = None,
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
@final
class Run:
    """A running pipeline (made by kelo._native.start_run)."""
    def flush(self) -> None:
        """Release every partial batch and window now."""
    def eos(self, source: int) -> None:
        """eos(source): end a source (by node index)."""
    def cancel(self) -> None:
        """Cancel: in-flight executions stop, queues are dropped."""
    def stop(self) -> None:
        """Stop gracefully: the sources end, the queues drain."""
    def seek(self, source: int, target_ns: int, /) -> None:
        """seek(source, target_ns): reposition a source."""
    def poll(self, seconds: float | None, /) -> bool:
        """poll(seconds or None) -> bool: wait for the run to end."""
    def finish(self, timeout_ns: int | None = None, grace_ns: int | None = None, /) -> dict[str, Any]:
        """finish(timeout_ns=None, grace_ns=None) -> dict: wait for the end, the result."""
    def abandon(self) -> dict[str, Any]:
        """End now without waiting for executions; the result."""
    def stats(self, node: int, /) -> dict[str, Any]:
        """stats(node) -> dict: an element's counters now."""
    def ended(self) -> bool:
        """Whether the run has ended."""
    def workers(self) -> int:
        """The number of worker threads."""
    def snapshot(self) -> dict[str, Any]:
        """snapshot() -> dict: the live state of every element."""
    def write_trace(self, path: str | os.PathLike[str], /) -> tuple[int, int]:
        """write_trace(path) -> (written, lost): the run's trace as a Chrome trace file."""

@final
class VirtualClock:
    """Time for a run that moves only when advance() moves it;
    timers fire on the advancing thread.
    """
    def __init__(self, start_ns: int = 0) -> None: ...
    def advance(self, ns: int, /) -> None:
        """advance(ns): move time forward; timers due fire now, in order, on this thread."""
    def advance_to(self, ns: int, /) -> None:
        """advance_to(ns): move time to `ns`."""
    def now_ns(self) -> int:
        """The present instant in nanoseconds."""
    def pending_timers(self) -> int:
        """Timers armed and not yet fired."""
    def next_timer_ns(self) -> int | None:
        """The earliest armed timer's time, or None."""

def start_run(nodes: Sequence[tuple[Any, ...]], edges: Sequence[tuple[int, int, int, int]],
              clock: VirtualClock | None, workers: int, trace_events: int = 0,
              pixels: tuple[dict[Any, Any], Callable[[object], object],
                            Callable[[object], object]] | None = None, /) -> Run:
    """start_run(nodes, edges, clock, workers, trace_events=0, pixels=None) -> Run: start a plan (see running.py); pixels: (store, share_value, release_value)."""
def runtime_emit(element: object, port: str, value: object, /) -> None:
    """runtime_emit(element, port, value): Element.emit inside process()."""
def runtime_pending_token(element: object, /) -> int | None:
    """runtime_pending_token(element) -> int or None: the running execution's token."""
def runtime_envelopes(element: object, /) -> list[tuple[int, int]]:
    """runtime_envelopes(element) -> [(sequence, timestamp_ns)]: each entry's envelope."""
def runtime_set_envelope(sequence: int, timestamp_ns: int, /) -> None:
    """runtime_set_envelope(sequence, timestamp_ns): the envelope of the item a source's
    generate() yields next (on the source's thread).
    """
def runtime_confirm(run_id: int, token: int, /) -> None:
    """runtime_confirm(run_id, token): complete an ExternalConfirmed execution."""
