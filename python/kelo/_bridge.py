"""The core's answers in the shapes `kelo._native` is to give them:
`validate`, `names` and `select`, with named results.

Built from what kelo.ext and kelo._native offer today; once the native
module has these three functions, callers import them from there and this
file goes.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import NamedTuple

from kelo.ext.graph import PyElementTypeId, PyGraph, PyPortId
from kelo.ext.provider import PyProviderRegistry, PyRequirement, PySelectionPolicy

from . import _native

__all__ = ["GraphFinding", "Names", "Selection", "Verdict", "names", "select", "validate"]


class GraphFinding(NamedTuple):
    kind: str
    severity: str
    message: str
    elements: tuple[int, ...]   # element indexes
    edges: tuple[int, ...]      # edge indexes; a cycle's in path order
    ports: tuple[PyPortId, ...]
    element_name: str | None


def validate(graph: PyGraph) -> list[GraphFinding]:
    """The core validation's errors, then its warnings, in the core's order."""
    report = graph.validate()
    elements, edges = graph.elements, graph.edges
    ends = [(e.source, e.target) for e in edges]
    first: dict[object, int] = {}
    for i, e in enumerate(elements):
        first.setdefault(e.id, i)
    owner = {p.id: i for i, e in enumerate(elements) for p in e.inputs + e.outputs}
    taken: set[tuple[str, int]] = set()

    def edge(kind: str, match: Sequence[int]) -> tuple[int, ...]:
        for k in match:
            if (kind, k) not in taken:
                taken.add((kind, k))
                return (k,)
        return tuple(match[:1])

    out = []
    for error in report.errors:
        kind, ports = error.kind(), tuple(error.port_ids)
        at: tuple[int, ...] = ()
        if kind == "CycleDetected":
            at = tuple(first[e] for e in error.element_ids)
            hops = list(zip(at, at[1:] + at[:1]))
            path = tuple(next(k for k, (s, t) in enumerate(ends)
                              if owner.get(s) == a and owner.get(t) == b) for a, b in hops)
        elif kind == "EdgeReferencesMissingPort":
            path = edge(kind, [k for k, pair in enumerate(ends) if ports[0] in pair])
        elif len(ports) == 2:
            path = edge(kind, [k for k, pair in enumerate(ends) if pair == ports])
        else:
            path = ()
            at = tuple(first[e] for e in error.element_ids if e in first)
        out.append(GraphFinding(kind, "error", str(error), at, path, ports, error.element_name))
    late = [k for k, e in enumerate(edges) if e.is_late_binding and e.source_element is None
            and e.source not in owner]
    for k, message in zip(late, report.warnings):
        out.append(GraphFinding("DeferredLateBinding", "warning", message, (), (k,), ends[k], None))
    return out


class Names(NamedTuple):
    pixel_formats: tuple[str, ...]
    dtypes: tuple[str, ...]
    coordinate_spaces: tuple[str, ...]
    capabilities: tuple[str, ...]
    requirement_kinds: tuple[str, ...]
    categories: tuple[str, ...]
    policies: tuple[str, ...]


_NAMES = Names(
    ("rgb8", "rgba8", "bgr8", "bgra8", "gray8", "gray16", "nv12", "i420", "yuv420", "p010"),
    ("uint8", "int8", "uint16", "int16", "int32", "int64", "float16", "bfloat16", "float32",
     "float64", "bool"),
    ("pixel", "normalized", "sensor", "world", "roi"),
    ("cuda", "fp16", "int8", "dynamic_shape", "batching", "h264", "h265", "nv12", "metadata",
     "async_execution"),
    ("cuda_required", "gpu_memory", "accelerator", "operating_system", "external_runtime",
     "custom"),
    ("frame", "tensor", "metadata", "event", "batch"),
    ("highest_priority", "first_available", "manual"))


def names() -> Names:
    """The names description files use for the core's vocabularies."""
    return _NAMES


class Verdict(NamedTuple):
    provider: object
    verdict: str                # chosen, fails_requirement, outranked, not_manual_choice
    failed: int | None          # the first requirement failed
    assumed: tuple[int, ...]    # requirements met only by assumption


class Selection(NamedTuple):
    chosen: int | None          # index into the candidates
    error: str | None           # no_provider, unsatisfied, manual_not_candidate
    candidates: tuple[Verdict, ...]


_VERDICTS = ("chosen", "fails_requirement", "outranked", "not_manual_choice")
_ERRORS = ("no_provider", "unsatisfied", "manual_not_candidate")
# Requirements selection does not check against a provider: the byte count
# of gpu_memory, and custom tags.
_UNCHECKED = ("gpu_memory", "custom")


def select(registry: PyProviderRegistry, element_type: str,
           requirements: Sequence[PyRequirement], policy: PySelectionPolicy) -> Selection:
    """The core's provider selection among the registry's candidates for
    `element_type`, with a verdict on each."""
    tid = PyElementTypeId(element_type)
    found = registry.find(tid)
    answer = _native.explain_selection(tid, found, requirements, policy)
    assumed = tuple(i for i, r in enumerate(requirements) if r.kind() in _UNCHECKED)
    candidates = tuple(
        Verdict(p, _VERDICTS[answer[2 + 2 * i]], None if answer[3 + 2 * i] < 0 else answer[3 + 2 * i],
                assumed if answer[2 + 2 * i] != 1 else ())
        for i, p in enumerate(found))
    return Selection(None if answer[0] < 0 else answer[0],
                     None if answer[1] < 0 else _ERRORS[answer[1]], candidates)
