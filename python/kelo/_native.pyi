# Stubs for the compiled helper module kelo._native (python/kelo/_native.abi3.so).

from collections.abc import Sequence

from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementTypeId
from kelo.ext.provider import PyProviderDescriptor, PyRequirement, PySelectionPolicy

__all__ = ["contract_with", "explain_selection"]

# pipelines.cpp
def contract_with(category: str, spec: PyContractSpec) -> PyDataContract: ...
def explain_selection(element_type: PyElementTypeId, candidates: Sequence[PyProviderDescriptor],
                      requirements: Sequence[PyRequirement],
                      policy: PySelectionPolicy) -> list[int]: ...
