# Stubs for the compiled helper module kelo._native (python/kelo/_native.abi3.so).

from collections.abc import Sequence
from typing import Any, Optional

from kelo.ext.data import PyCoordinateSpace, PyMetadata
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
