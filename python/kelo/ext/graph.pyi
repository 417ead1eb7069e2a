# Type stubs for the `graph` submodule of the compiled extension `kelo.ext`:
# data contracts, ports, elements, edges, graphs, the copying graph builder
# and graph validation. Every class is final, every property read-only.

from collections.abc import Sequence
from typing import ClassVar, Literal, SupportsIndex, TypeAlias, final

from kelo.ext.data import PyDType, PyPixelFormat

__all__ = [
    "PyElementTypeId",
    "PyElementId",
    "PyElementKind",
    "PyPortId",
    "PyPortDirection",
    "PyConfig",
    "PyContractSpec",
    "PyDataContract",
    "PyPort",
    "PyElement",
    "PyEdge",
    "PyGraph",
    "PyGraphBuilder",
    "PyValidationReport",
    "PyGraphValidationError",
    "validate_graph",
]

_ErrorKind: TypeAlias = Literal[
    "EdgeReferencesMissingPort",
    "InvalidPortDirection",
    "PortNotOwnedByElement",
    "DuplicateElementId",
    "DuplicatePortId",
    "ContractMismatch",
    "CycleDetected",
    "DynamicSourceElementNotFound",
]

# Elements and ports

@final
class PyElementTypeId:
    """Stable semantic identity of a computation (e.g. `kelo.decode.h264`)."""
    def __new__(cls, s: str) -> PyElementTypeId: ...
    def as_str(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyElementId:
    """Element identity — a typed UUID newtype."""
    @staticmethod
    def new() -> PyElementId:
        """Create a new unique element ID."""
    @staticmethod
    def from_str(s: str) -> PyElementId:
        """Create from a UUID string."""
    def uuid(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyElementKind:
    Source: ClassVar[PyElementKind]
    Operator: ClassVar[PyElementKind]
    Sink: ClassVar[PyElementKind]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyPortId:
    """Port identity — a typed UUID newtype."""
    @staticmethod
    def new() -> PyPortId:
        """Create a new unique port ID."""
    @staticmethod
    def from_str(s: str) -> PyPortId:
        """Create from a UUID string."""
    def uuid(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyPortDirection:
    Input: ClassVar[PyPortDirection]
    Output: ClassVar[PyPortDirection]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyConfig:
    def __new__(cls) -> PyConfig: ...
    def set(self, key: str, value: str) -> None: ...
    def get(self, key: str) -> str | None: ...
    def keys(self) -> list[str]: ...
    def len(self) -> int: ...
    def to_dict(self) -> dict[str, str]:
        """A plain `dict` copy of the configuration."""
    def __len__(self) -> int: ...

# Data contracts

@final
class PyContractSpec:
    """Format-level constraints on a `DataContract`."""
    def __new__(cls) -> PyContractSpec: ...
    def with_pixel_format(self, pf: PyPixelFormat) -> PyContractSpec: ...
    def with_width(self, width: SupportsIndex) -> PyContractSpec: ...
    def with_height(self, height: SupportsIndex) -> PyContractSpec: ...
    def with_dimensions(self, width: SupportsIndex, height: SupportsIndex) -> PyContractSpec: ...
    def with_dtype(self, dtype: PyDType) -> PyContractSpec: ...
    def with_shape(self, shape: Sequence[SupportsIndex]) -> PyContractSpec: ...
    def with_coordinate_space(self, kind: str) -> PyContractSpec: ...
    def with_content_type(self, content_type: str) -> PyContractSpec: ...
    def with_class_ids(self, class_ids: Sequence[SupportsIndex]) -> PyContractSpec: ...
    def is_compatible_with(self, other: PyContractSpec) -> bool: ...
    def summary(self) -> str: ...
    @property
    def pixel_format(self) -> PyPixelFormat | None:
        """The pixel format constraint, if any."""
    @property
    def width(self) -> int | None:
        """The width constraint, if any."""
    @property
    def height(self) -> int | None:
        """The height constraint, if any."""
    @property
    def dtype(self) -> PyDType | None:
        """The dtype constraint, if any."""
    @property
    def shape(self) -> list[int] | None:
        """The shape constraint, if any."""
    @property
    def coordinate_space(self) -> str | None:
        """The coordinate-space constraint as a canonical kind name, if any."""
    @property
    def content_type(self) -> str | None:
        """The content-type constraint, if any."""
    @property
    def class_ids(self) -> list[int] | None:
        """The class-ID constraint, if any."""

@final
class PyDataContract:
    """The semantic data category exchanged through a port."""
    @staticmethod
    def frame() -> PyDataContract:
        """Unconstrained Frame contract."""
    @staticmethod
    def tensor() -> PyDataContract: ...
    @staticmethod
    def metadata() -> PyDataContract: ...
    @staticmethod
    def event() -> PyDataContract: ...
    @staticmethod
    def batch() -> PyDataContract: ...
    @staticmethod
    def custom(tag: str) -> PyDataContract:
        """Custom contract with a type tag."""
    @staticmethod
    def frame_with(spec: PyContractSpec) -> PyDataContract: ...
    @staticmethod
    def tensor_with(spec: PyContractSpec) -> PyDataContract: ...
    @staticmethod
    def metadata_content(content_type: str) -> PyDataContract: ...
    def category_name(self) -> Literal["Frame", "Tensor", "Metadata", "Event", "Batch", "Custom"]: ...
    def spec(self) -> PyContractSpec | None: ...
    def is_compatible_with(self, other: PyDataContract) -> bool:
        """Whether `self` (source side) can feed `other` (target side)."""

@final
class PyPort:
    """An endpoint through which an element exchanges data."""
    def __new__(
        cls, id: PyPortId, name: str, direction: PyPortDirection, contract: PyDataContract
    ) -> PyPort: ...
    @staticmethod
    def input(name: str, contract: PyDataContract) -> PyPort:
        """Create an input port with a fresh ID."""
    @staticmethod
    def output(name: str, contract: PyDataContract) -> PyPort:
        """Create an output port with a fresh ID."""
    @property
    def id(self) -> PyPortId: ...
    @property
    def name(self) -> str: ...
    @property
    def direction(self) -> PyPortDirection: ...
    @property
    def contract(self) -> PyDataContract: ...

@final
class PyElement:
    """A concrete node in a graph."""
    def __new__(
        cls, id: PyElementId, type_id: PyElementTypeId, name: str, kind: PyElementKind
    ) -> PyElement: ...
    def with_input(self, port: PyPort) -> PyElement:
        """Add an input port (builder-style)."""
    def with_output(self, port: PyPort) -> PyElement:
        """Add an output port (builder-style)."""
    def with_config(self, config: PyConfig) -> PyElement:
        """Replace the configuration (builder-style)."""
    def all_ports(self) -> list[PyPort]:
        """All ports (inputs then outputs)."""
    @property
    def id(self) -> PyElementId: ...
    @property
    def type_id(self) -> PyElementTypeId: ...
    @property
    def name(self) -> str: ...
    @property
    def kind(self) -> PyElementKind: ...
    @property
    def inputs(self) -> list[PyPort]: ...
    @property
    def outputs(self) -> list[PyPort]: ...
    @property
    def config(self) -> PyConfig: ...

# Edges, graphs and the builder

@final
class PyEdge:
    """A logical data-flow relationship between two ports."""
    def __new__(cls, source: PyPortId, target: PyPortId) -> PyEdge: ...
    @staticmethod
    def late_binding(source: PyPortId, target: PyPortId) -> PyEdge: ...
    @staticmethod
    def dynamic_output(source_element: str, pad_name: str, target: PyPortId) -> PyEdge: ...
    def with_late_binding(self) -> PyEdge:
        """Mark this edge as late-binding (builder-style)."""
    @property
    def source(self) -> PyPortId: ...
    @property
    def target(self) -> PyPortId: ...
    @property
    def is_late_binding(self) -> bool: ...
    @property
    def source_element(self) -> str | None:
        """Owning element of a dynamic source pad, if attributed."""
    @property
    def source_pad(self) -> str | None:
        """Semantic name of a dynamic source pad, if any."""

@final
class PyGraph:
    """A declarative collection of elements and edges."""
    def __new__(cls) -> PyGraph: ...
    def add_element(self, element: PyElement) -> None: ...
    def add_edge(self, edge: PyEdge) -> None: ...
    def find_element(self, id: PyElementId) -> PyElement | None:
        """Find an element by ID."""
    def num_elements(self) -> int: ...
    def num_edges(self) -> int: ...
    def validate(self) -> PyValidationReport:
        """Validate this graph (RFC-003 §16)."""
    @property
    def elements(self) -> list[PyElement]: ...
    @property
    def edges(self) -> list[PyEdge]: ...

@final
class PyGraphBuilder:
    """Fluent builder for constructing graphs.

    The builder is immutable and chainable: every method returns a new
    builder. This is cheap because only the graph is copied.
    """
    def __new__(cls) -> PyGraphBuilder: ...
    def add_element(self, element: PyElement) -> PyGraphBuilder:
        """Add an element."""
    def add_edge(self, edge: PyEdge) -> PyGraphBuilder:
        """Add an edge."""
    def connect(self, source: PyPortId, target: PyPortId) -> PyGraphBuilder:
        """Connect an output port to an input port."""
    def connect_late(self, source: PyPortId, target: PyPortId) -> PyGraphBuilder: ...
    def connect_dynamic(
        self, source_element: str, pad_name: str, target: PyPortId
    ) -> PyGraphBuilder:
        """Connect a dynamic output pad of `source_element` to `target`."""
    def build(self) -> PyGraph:
        """Finish and return the graph."""

# Validation

@final
class PyValidationReport:
    """The result of graph validation."""
    def is_valid(self) -> bool:
        """Whether the graph has no validation errors."""
    @property
    def errors(self) -> list[PyGraphValidationError]: ...
    @property
    def warnings(self) -> list[str]: ...

@final
class PyGraphValidationError:
    """A single graph validation error."""
    def kind(self) -> _ErrorKind:
        """Machine-readable error kind, e.g. `CycleDetected`."""
    def message(self) -> str:
        """Human-readable error description."""
    @property
    def port_ids(self) -> list[PyPortId]:
        """The ports the error concerns: an edge's source and target, or the
        one port it names; empty for a cycle and a repeated element id.
        """
    @property
    def element_ids(self) -> list[PyElementId]:
        """The elements the error concerns: the repeated id, or the elements
        of the cycle in path order (each has an edge into the next, the
        last into the first); empty otherwise.
        """
    @property
    def element_name(self) -> str | None:
        """The source element name of a dynamic-output edge, if the error
        concerns one.
        """

def validate_graph(graph: PyGraph) -> PyValidationReport:
    """Validate a graph (RFC-003 §16) — free-function form of
    `PyGraph.validate`.
    """
