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
def contract_with(category: str, spec: PyContractSpec) -> PyDataContract: ...
def explain_selection(element_type: PyElementTypeId, candidates: Sequence[PyProviderDescriptor],
                      requirements: Sequence[PyRequirement],
                      policy: PySelectionPolicy) -> list[int]: ...

# records.cpp
def to_dict(value: object) -> dict[str, Any]: ...
def from_dict(d: object) -> Any: ...
def encode(value: object) -> Any: ...
def decode(type: str, value: object, path: str) -> Any: ...
def type_tag(value: object) -> str: ...
def state(value: object) -> tuple[str, object]: ...
def restore(type: str, state: object) -> Any: ...
def classes() -> list[type]: ...
def schema() -> str: ...

# columns.cpp
def columns(metadata: object) -> tuple[
    memoryview, memoryview, memoryview, list[str], memoryview, memoryview,
    Optional[memoryview],
    tuple[memoryview, memoryview, memoryview, Optional[memoryview]],
]: ...
def add_objects(
    metadata: PyMetadata,
    boxes: object,
    confidence: Optional[object] = None,
    labels: Optional[object] = None,
    class_ids: Optional[object] = None,
    coordinate_space: Optional[PyCoordinateSpace] = None,
) -> None: ...
