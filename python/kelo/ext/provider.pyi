# Type stubs for the `provider` submodule of the compiled extension
# `kelo.ext`: provider identities, versions, capabilities, requirements and
# descriptors, the provider registry, selection and the provider ABI check.
# Every class is final, every property read-only.

from collections.abc import Sequence
from typing import Literal, SupportsIndex, final

from kelo.ext.graph import PyElementTypeId

__all__ = [
    "PyProviderId",
    "PyVersion",
    "PyCapability",
    "PyRequirement",
    "PyProviderDescriptor",
    "PyProviderRegistry",
    "PySelectionPolicy",
    "select_provider",
    "abi_current_version",
    "abi_is_compatible",
]

@final
class PyProviderId:
    """Provider identity — a string handle (e.g. `native.synthetic`)."""
    def __new__(cls, s: str) -> PyProviderId: ...
    def as_str(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyVersion:
    """A semantic version."""
    def __new__(cls, major: SupportsIndex, minor: SupportsIndex, patch: SupportsIndex) -> PyVersion: ...
    @property
    def major(self) -> int: ...
    @property
    def minor(self) -> int: ...
    @property
    def patch(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyCapability:
    """An externally observable provider capability."""
    @staticmethod
    def cuda() -> PyCapability: ...
    @staticmethod
    def fp16() -> PyCapability: ...
    @staticmethod
    def int8() -> PyCapability: ...
    @staticmethod
    def dynamic_shape() -> PyCapability: ...
    @staticmethod
    def batching() -> PyCapability: ...
    @staticmethod
    def h264() -> PyCapability: ...
    @staticmethod
    def h265() -> PyCapability: ...
    @staticmethod
    def nv12() -> PyCapability: ...
    @staticmethod
    def metadata() -> PyCapability: ...
    @staticmethod
    def async_execution() -> PyCapability: ...
    @staticmethod
    def custom(tag: str) -> PyCapability:
        """A custom capability tag."""
    def kind(
        self,
    ) -> Literal[
        "cuda",
        "fp16",
        "int8",
        "dynamic_shape",
        "batching",
        "h264",
        "h265",
        "nv12",
        "metadata",
        "async_execution",
        "custom",
    ]:
        """The capability kind: `cuda`, `fp16`, `int8`, `dynamic_shape`,
        `batching`, `h264`, `h265`, `nv12`, `metadata`,
        `async_execution` or `custom`.
        """
    def custom_tag(self) -> str | None:
        """The custom tag, if this is a custom capability."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyRequirement:
    """A resource or condition a provider needs."""
    @staticmethod
    def cuda_required() -> PyRequirement: ...
    @staticmethod
    def gpu_memory(bytes: SupportsIndex) -> PyRequirement:
        """Require a provider with CUDA capability (`bytes` is advisory)."""
    @staticmethod
    def accelerator(name: str) -> PyRequirement:
        """Require a hardware accelerator (matched against
        `custom("accelerator:<name>")` capabilities).
        """
    @staticmethod
    def operating_system(name: str) -> PyRequirement:
        """Require a specific operating system (e.g. `macos`, `linux`)."""
    @staticmethod
    def external_runtime(name: str) -> PyRequirement:
        """Require an external runtime (matched against
        `custom("runtime:<name>")` capabilities).
        """
    @staticmethod
    def custom(tag: str) -> PyRequirement:
        """An opaque requirement (assumed satisfied)."""
    def kind(
        self,
    ) -> Literal[
        "cuda_required",
        "gpu_memory",
        "accelerator",
        "operating_system",
        "external_runtime",
        "custom",
    ]:
        """The requirement kind."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyProviderDescriptor:
    """Provider descriptor — what a provider implements."""
    def __new__(cls, id: PyProviderId, version: PyVersion) -> PyProviderDescriptor: ...
    def with_element_type(self, type_id: PyElementTypeId) -> PyProviderDescriptor:
        """Declare support for an element type (builder-style)."""
    def with_capability(self, cap: PyCapability) -> PyProviderDescriptor:
        """Declare a capability (builder-style)."""
    def with_requirement(self, req: PyRequirement) -> PyProviderDescriptor:
        """Declare a requirement (builder-style)."""
    def with_priority(self, priority: SupportsIndex) -> PyProviderDescriptor:
        """Set the selection priority (builder-style)."""
    def supports(self, type_id: PyElementTypeId) -> bool:
        """Whether this provider implements the given element type."""
    @property
    def id(self) -> PyProviderId: ...
    @property
    def version(self) -> PyVersion: ...
    @property
    def element_types(self) -> list[PyElementTypeId]: ...
    @property
    def capabilities(self) -> list[PyCapability]: ...
    @property
    def requirements(self) -> list[PyRequirement]: ...
    @property
    def priority(self) -> int: ...

@final
class PyProviderRegistry:
    """Registry of provider descriptors, indexed by element type."""
    def __new__(cls) -> PyProviderRegistry: ...
    def register(self, descriptor: PyProviderDescriptor) -> None:
        """Register a provider descriptor."""
    def find(self, element_type: PyElementTypeId) -> list[PyProviderDescriptor]:
        """All providers implementing an element type."""
    def len(self) -> int:
        """Total number of registered provider entries."""
    def is_empty(self) -> bool: ...
    def __len__(self) -> int: ...

@final
class PySelectionPolicy:
    """Policy for choosing among candidate providers."""
    @staticmethod
    def highest_priority() -> PySelectionPolicy:
        """Select the provider with the highest priority (the default)."""
    @staticmethod
    def first_available() -> PySelectionPolicy:
        """Select the first available provider."""
    @staticmethod
    def manual(provider_id: PyProviderId) -> PySelectionPolicy:
        """Select a specific provider by ID."""

def select_provider(
    element_type: PyElementTypeId,
    registry: PyProviderRegistry,
    requirements: Sequence[PyRequirement],
    policy: PySelectionPolicy,
) -> PyProviderDescriptor:
    """Select a provider for an element type (RFC-004 §20).

    Raises `ValueError` when no provider is found, no provider
    satisfies the requirements, or a manually-selected provider is
    absent.
    """
def abi_current_version() -> PyVersion:
    """The current Kelo provider ABI version (RFC-004 §24)."""
def abi_is_compatible(version: PyVersion) -> bool:
    """Whether `version` is compatible with the current ABI."""
