# Stubs for the compiled helper module kelo._native (python/kelo/_native.abi3.so).

from collections.abc import Sequence

from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementTypeId
from kelo.ext.provider import PyProviderDescriptor, PyRequirement, PySelectionPolicy

__all__ = ["contract_with", "explain_selection"]

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
