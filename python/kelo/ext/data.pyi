# Type stubs for the `data` submodule of the compiled extension `kelo.ext`:
# identifiers, time, formats, geometry, tensors, perception results, streams
# and frames. Every class is final, every property read-only; classes with no
# constructor here are made only by their static makers.

from collections.abc import Sequence
from typing import ClassVar, Literal, SupportsFloat, SupportsIndex, TypeAlias, final

# Float parameters take anything the interpreter converts to a float.
_FloatLike: TypeAlias = SupportsFloat | SupportsIndex

__all__ = [
    "PyStreamId",
    "PyFrameId",
    "PyBufferId",
    "PyObjectId",
    "PySegmentId",
    "PyTrackId",
    "PyEventId",
    "PyAssetId",
    "PyBatchId",
    "PyMetadataId",
    "PyComponentId",
    "PyClassId",
    "PyPoint2D",
    "PyBoundingBox",
    "PyPolygon",
    "PyCoordinateSpace",
    "PyTimeUnit",
    "PyTimestamp",
    "PyFrameRate",
    "PyPixelFormat",
    "PyColorSpace",
    "PyColorRange",
    "PyVideoFormat",
    "PyDType",
    "PyTensorLayout",
    "PyTensor",
    "PyModelReference",
    "PyEmbedding",
    "PySourceKind",
    "PySourceInfo",
    "PyStreamCapabilities",
    "PyStream",
    "PyEventType",
    "PyEvent",
    "PyTrackState",
    "PyTrack",
    "PyClassification",
    "PyAttributeValue",
    "PyAttributes",
    "PyDetectedObject",
    "PyMetadata",
    "PyVec3",
    "PyQuaternion",
    "PyRigidTransform",
    "PyFrame",
]

# Identifiers: no constructor; equal and hashed by their UUID, per class.

@final
class PyStreamId:
    @staticmethod
    def new() -> PyStreamId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyStreamId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyFrameId:
    @staticmethod
    def new() -> PyFrameId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyFrameId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyBufferId:
    @staticmethod
    def new() -> PyBufferId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyBufferId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyObjectId:
    @staticmethod
    def new() -> PyObjectId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyObjectId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PySegmentId:
    @staticmethod
    def new() -> PySegmentId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PySegmentId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyTrackId:
    @staticmethod
    def new() -> PyTrackId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyTrackId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyEventId:
    @staticmethod
    def new() -> PyEventId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyEventId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyAssetId:
    @staticmethod
    def new() -> PyAssetId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyAssetId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyBatchId:
    @staticmethod
    def new() -> PyBatchId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyBatchId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyMetadataId:
    @staticmethod
    def new() -> PyMetadataId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyMetadataId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyComponentId:
    @staticmethod
    def new() -> PyComponentId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyComponentId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyClassId:
    @staticmethod
    def new() -> PyClassId:
        """Create a new unique identifier."""
    @staticmethod
    def from_str(s: str) -> PyClassId:
        """Create from a UUID string, e.g.
        `"550e8400-e29b-41d4-a716-446655440000"`.
        """
    def uuid(self) -> str:
        """The underlying UUID string."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

# Geometry

@final
class PyPoint2D:
    """A 2D point."""
    def __new__(cls, x: _FloatLike, y: _FloatLike) -> PyPoint2D: ...
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyBoundingBox:
    """A bounding box with half-open semantics `[x, x+width) × [y, y+height)`."""
    def __new__(
        cls, x: _FloatLike, y: _FloatLike, width: _FloatLike, height: _FloatLike
    ) -> PyBoundingBox: ...
    def right(self) -> float:
        """Exclusive right edge (`x + width`)."""
    def bottom(self) -> float:
        """Exclusive bottom edge (`y + height`)."""
    def with_coordinate_space(self, space: PyCoordinateSpace) -> PyBoundingBox:
        """Set the coordinate space (builder-style)."""
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def width(self) -> float: ...
    @property
    def height(self) -> float: ...
    @property
    def coordinate_space(self) -> PyCoordinateSpace: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyPolygon:
    """A polygon with an exterior ring and optional holes."""
    def __new__(cls, exterior: Sequence[PyPoint2D]) -> PyPolygon: ...
    def with_holes(self, holes: Sequence[Sequence[PyPoint2D]]) -> PyPolygon:
        """Add holes (builder-style)."""
    @property
    def exterior(self) -> list[PyPoint2D]: ...
    @property
    def holes(self) -> list[list[PyPoint2D]]: ...

@final
class PyCoordinateSpace:
    """An explicitly declared coordinate space (RFC-001 §26)."""
    @staticmethod
    def pixel() -> PyCoordinateSpace:
        """Top-left origin, x→right, y→down, logical frame coordinates."""
    @staticmethod
    def normalized() -> PyCoordinateSpace:
        """`x, y ∈ [0, 1]`, resolution-independent."""
    @staticmethod
    def sensor() -> PyCoordinateSpace:
        """Sensor coordinates."""
    @staticmethod
    def world() -> PyCoordinateSpace:
        """World coordinates."""
    @staticmethod
    def roi() -> PyCoordinateSpace:
        """Region-of-interest relative coordinates."""
    @staticmethod
    def custom(name: str) -> PyCoordinateSpace:
        """A custom, named coordinate space."""
    def kind(self) -> str:
        """Canonical kind name: `pixel`, `normalized`, `sensor`, `world`,
        `roi` or `custom:<name>`.
        """
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

# Time and rates

@final
class PyTimeUnit:
    Nanos: ClassVar[PyTimeUnit]
    Micros: ClassVar[PyTimeUnit]
    Millis: ClassVar[PyTimeUnit]
    Seconds: ClassVar[PyTimeUnit]
    Ticks: ClassVar[PyTimeUnit]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyTimestamp:
    """A presentation/decode timestamp pair.

    The primary clock is the presentation timestamp (`monotonic`); the
    decode timestamp (`dts`) is optional and precedes presentation on
    reordered streams.
    """
    @staticmethod
    def from_nanos(nanos: SupportsIndex) -> PyTimestamp:
        """Create from a monotonic presentation time in nanoseconds."""
    @staticmethod
    def from_secs_f64(secs: _FloatLike) -> PyTimestamp:
        """Create from a monotonic presentation time in seconds."""
    def with_dts(self, dts_ns: SupportsIndex) -> PyTimestamp:
        """Attach a decode timestamp (nanoseconds), builder-style."""
    def dts_or_pts_ns(self) -> int:
        """The decode timestamp if known, else the presentation time."""
    @property
    def monotonic_ns(self) -> int:
        """The presentation timestamp in nanoseconds."""
    @property
    def monotonic_secs(self) -> float:
        """The presentation timestamp in seconds."""
    @property
    def dts_ns(self) -> int | None:
        """The decode timestamp in nanoseconds, if known."""

@final
class PyFrameRate:
    """Frame rate as a rational number."""
    def __new__(cls, numerator: SupportsIndex, denominator: SupportsIndex) -> PyFrameRate: ...
    def as_f64(self) -> float:
        """The frame rate as a float (`numerator / denominator`)."""
    @property
    def numerator(self) -> int: ...
    @property
    def denominator(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

# Media formats

@final
class PyPixelFormat:
    """A pixel format (with a `custom:<name>` escape hatch)."""
    @staticmethod
    def rgb8() -> PyPixelFormat: ...
    @staticmethod
    def rgba8() -> PyPixelFormat: ...
    @staticmethod
    def bgr8() -> PyPixelFormat: ...
    @staticmethod
    def bgra8() -> PyPixelFormat: ...
    @staticmethod
    def gray8() -> PyPixelFormat: ...
    @staticmethod
    def gray16() -> PyPixelFormat: ...
    @staticmethod
    def nv12() -> PyPixelFormat: ...
    @staticmethod
    def i420() -> PyPixelFormat: ...
    @staticmethod
    def yuv420() -> PyPixelFormat: ...
    @staticmethod
    def p010() -> PyPixelFormat: ...
    @staticmethod
    def custom(name: str) -> PyPixelFormat: ...
    def name(self) -> str:
        """Canonical name: `rgb8`, `rgba8`, `bgr8`, `bgra8`, `gray8`,
        `gray16`, `nv12`, `i420`, `yuv420`, `p010` or `custom:<name>`.
        """
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyColorSpace:
    """A color space descriptor (with a `custom:<name>` escape hatch)."""
    @staticmethod
    def bt601() -> PyColorSpace: ...
    @staticmethod
    def bt709() -> PyColorSpace: ...
    @staticmethod
    def bt2020() -> PyColorSpace: ...
    @staticmethod
    def srgb() -> PyColorSpace: ...
    @staticmethod
    def custom(name: str) -> PyColorSpace: ...
    def name(self) -> str:
        """Canonical name: `bt601`, `bt709`, `bt2020`, `srgb` or `custom:<name>`."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyColorRange:
    Limited: ClassVar[PyColorRange]
    Full: ClassVar[PyColorRange]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyVideoFormat:
    """The video format of a stream or frame."""
    def __new__(
        cls, width: SupportsIndex, height: SupportsIndex, pixel_format: PyPixelFormat
    ) -> PyVideoFormat: ...
    def with_color_space(self, cs: PyColorSpace) -> PyVideoFormat:
        """Set the color space (builder-style)."""
    def with_color_range(self, range: PyColorRange) -> PyVideoFormat:
        """Set the color range (builder-style)."""
    def with_frame_rate(self, rate: PyFrameRate) -> PyVideoFormat:
        """Set the frame rate (builder-style)."""
    @property
    def width(self) -> int: ...
    @property
    def height(self) -> int: ...
    @property
    def pixel_format(self) -> PyPixelFormat: ...
    @property
    def color_space(self) -> PyColorSpace: ...
    @property
    def color_range(self) -> PyColorRange: ...
    @property
    def frame_rate(self) -> PyFrameRate | None: ...

@final
class PyDType:
    UInt8: ClassVar[PyDType]
    Int8: ClassVar[PyDType]
    UInt16: ClassVar[PyDType]
    Int16: ClassVar[PyDType]
    Int32: ClassVar[PyDType]
    Int64: ClassVar[PyDType]
    Float16: ClassVar[PyDType]
    BFloat16: ClassVar[PyDType]
    Float32: ClassVar[PyDType]
    Float64: ClassVar[PyDType]
    Bool: ClassVar[PyDType]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyTensorLayout:
    """A tensor layout descriptor."""
    @staticmethod
    def nchw() -> PyTensorLayout: ...
    @staticmethod
    def nhwc() -> PyTensorLayout: ...
    @staticmethod
    def chw() -> PyTensorLayout: ...
    @staticmethod
    def hwc() -> PyTensorLayout: ...
    @staticmethod
    def custom(name: str) -> PyTensorLayout: ...
    def name(self) -> str:
        """Canonical name: `nchw`, `nhwc`, `chw`, `hwc` or `custom:<name>`."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

# Tensors, embeddings and model references

@final
class PyTensor:
    """A tensor: dtype, shape, layout and a logical buffer handle.

    Note: the Kelo data model is handle-based — `Tensor` carries a
    [`PyBufferId`] referencing memory managed by the memory model
    (RFC-002), not inline bytes.
    """
    def __new__(
        cls,
        dtype: PyDType,
        shape: Sequence[SupportsIndex],
        name: str | None = None,
        layout: PyTensorLayout | None = None,
    ) -> PyTensor: ...
    def with_strides(self, strides: Sequence[SupportsIndex]) -> PyTensor:
        """Set explicit strides (builder-style)."""
    def numel(self) -> int:
        """Total number of elements (product of the shape)."""
    @property
    def dtype(self) -> PyDType: ...
    @property
    def shape(self) -> list[int]: ...
    @property
    def strides(self) -> list[int] | None: ...
    @property
    def layout(self) -> PyTensorLayout | None: ...
    @property
    def name(self) -> str | None: ...
    @property
    def buffer_id(self) -> PyBufferId:
        """The logical buffer backing this tensor."""

@final
class PyModelReference:
    """Reference to the model that produced a result."""
    def __new__(cls, id: str) -> PyModelReference: ...
    def with_version(self, version: str) -> PyModelReference:
        """Attach a version (builder-style)."""
    @property
    def id(self) -> str: ...
    @property
    def version(self) -> str | None: ...

@final
class PyEmbedding:
    """An embedding vector — identity, appearance or semantics."""
    def __new__(cls, tensor: PyTensor, name: str | None = None) -> PyEmbedding: ...
    def with_model(self, model: PyModelReference) -> PyEmbedding:
        """Attach the producing model (builder-style)."""
    @property
    def tensor(self) -> PyTensor: ...
    @property
    def name(self) -> str | None: ...
    @property
    def model(self) -> PyModelReference | None: ...

# Sources and streams

@final
class PySourceKind:
    Camera: ClassVar[PySourceKind]
    VideoFile: ClassVar[PySourceKind]
    NetworkStream: ClassVar[PySourceKind]
    Sensor: ClassVar[PySourceKind]
    Generated: ClassVar[PySourceKind]
    Virtual: ClassVar[PySourceKind]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PySourceInfo:
    """Describes the origin of a stream."""
    def __new__(
        cls, source_id: str, kind: PySourceKind, uri: str | None = None, name: str | None = None
    ) -> PySourceInfo: ...
    @property
    def source_id(self) -> str: ...
    @property
    def kind(self) -> PySourceKind: ...
    @property
    def uri(self) -> str | None: ...
    @property
    def name(self) -> str | None: ...

@final
class PyStreamCapabilities:
    """Source semantics (random access, seek, live, …)."""
    def __new__(
        cls,
        supports_random_access: bool = False,
        supports_seek: bool = False,
        live: bool = False,
        variable_frame_rate: bool = False,
        hardware_timestamps: bool = False,
    ) -> PyStreamCapabilities: ...
    @property
    def supports_random_access(self) -> bool: ...
    @property
    def supports_seek(self) -> bool: ...
    @property
    def live(self) -> bool: ...
    @property
    def variable_frame_rate(self) -> bool: ...
    @property
    def hardware_timestamps(self) -> bool: ...

@final
class PyStream:
    """A logical source of temporally ordered data."""
    def __new__(cls, source: PySourceInfo, format: PyVideoFormat) -> PyStream: ...
    def with_capabilities(self, caps: PyStreamCapabilities) -> PyStream:
        """Replace the capabilities (builder-style)."""
    @property
    def id(self) -> PyStreamId: ...
    @property
    def source(self) -> PySourceInfo: ...
    @property
    def format(self) -> PyVideoFormat: ...
    @property
    def capabilities(self) -> PyStreamCapabilities: ...

# Events and tracks

@final
class PyEventType:
    """A namespaced event type (`namespace/name`)."""
    def __new__(cls, namespace: str, name: str) -> PyEventType: ...
    @staticmethod
    def kelo(name: str) -> PyEventType:
        """Create in the reserved `kelo` namespace."""
    @staticmethod
    def parse(s: str) -> PyEventType:
        """Parse `"namespace/name"`; a bare name lands in the `kelo`
        namespace.
        """
    def as_str(self) -> str:
        """Canonical string form (bare name in the `kelo` namespace,
        `namespace/name` otherwise).
        """
    @property
    def namespace(self) -> str: ...
    @property
    def name(self) -> str: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...

@final
class PyEvent:
    """A semantically meaningful occurrence."""
    def __new__(
        cls, stream_id: PyStreamId, timestamp: PyTimestamp, event_type: PyEventType
    ) -> PyEvent: ...
    @property
    def id(self) -> PyEventId: ...
    @property
    def stream_id(self) -> PyStreamId: ...
    @property
    def timestamp(self) -> PyTimestamp: ...
    @property
    def event_type(self) -> PyEventType: ...
    @property
    def payload(self) -> PyMetadata: ...

@final
class PyTrackState:
    Tentative: ClassVar[PyTrackState]
    Confirmed: ClassVar[PyTrackState]
    Lost: ClassVar[PyTrackState]
    Terminated: ClassVar[PyTrackState]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyTrack:
    """Temporal identity of a perceived entity."""
    def __new__(
        cls,
        id: PyTrackId,
        first_sequence: SupportsIndex,
        last_sequence: SupportsIndex,
        first_timestamp: PyTimestamp,
        last_timestamp: PyTimestamp,
        state: PyTrackState,
    ) -> PyTrack: ...
    @property
    def id(self) -> PyTrackId: ...
    @property
    def first_sequence(self) -> int: ...
    @property
    def last_sequence(self) -> int: ...
    @property
    def first_timestamp(self) -> PyTimestamp: ...
    @property
    def last_timestamp(self) -> PyTimestamp: ...
    @property
    def state(self) -> PyTrackState: ...

# Perception results

@final
class PyClassification:
    """A classification result."""
    def __new__(
        cls, class_id: PyClassId, confidence: _FloatLike, label: str | None = None
    ) -> PyClassification: ...
    @property
    def class_id(self) -> PyClassId: ...
    @property
    def confidence(self) -> float: ...
    @property
    def label(self) -> str | None: ...

@final
class PyAttributeValue:
    """A typed attribute value."""
    @staticmethod
    def of_bool(value: bool) -> PyAttributeValue: ...
    @staticmethod
    def of_int(value: SupportsIndex) -> PyAttributeValue: ...
    @staticmethod
    def of_float(value: _FloatLike) -> PyAttributeValue: ...
    @staticmethod
    def of_string(value: str) -> PyAttributeValue: ...
    @staticmethod
    def of_tensor(value: PyTensor) -> PyAttributeValue: ...
    @staticmethod
    def of_timestamp(value: PyTimestamp) -> PyAttributeValue: ...
    @staticmethod
    def of_duration_ns(value: SupportsIndex) -> PyAttributeValue: ...
    def kind(
        self,
    ) -> Literal["bool", "int", "float", "string", "tensor", "timestamp", "duration"]:
        """The variant kind: `bool`, `int`, `float`, `string`, `tensor`,
        `timestamp` or `duration`.
        """
    def as_bool(self) -> bool | None: ...
    def as_int(self) -> int | None: ...
    def as_float(self) -> float | None: ...
    def as_string(self) -> str | None: ...
    def as_tensor(self) -> PyTensor | None: ...
    def as_timestamp(self) -> PyTimestamp | None: ...
    def as_duration_ns(self) -> int | None:
        """The duration in nanoseconds, if this is a duration value."""

@final
class PyAttributes:
    """Typed key-value attributes attached to an object."""
    def __new__(cls) -> PyAttributes: ...
    def insert(self, key: str, value: PyAttributeValue) -> None: ...
    def get(self, key: str) -> PyAttributeValue | None: ...
    def keys(self) -> list[str]: ...
    def len(self) -> int: ...
    def __len__(self) -> int: ...

@final
class PyDetectedObject:
    """A detected or recognized entity (`kelo_core::data::Object`)."""
    def __new__(cls, id: PyObjectId, bbox: PyBoundingBox) -> PyDetectedObject: ...
    def with_class_id(self, class_id: PyClassId) -> PyDetectedObject:
        """Set the class ID (builder-style)."""
    def with_label(self, label: str) -> PyDetectedObject:
        """Set the label (builder-style)."""
    def with_confidence(self, confidence: _FloatLike) -> PyDetectedObject:
        """Set the confidence in `[0.0, 1.0]` (builder-style)."""
    def with_attribute(self, key: str, value: PyAttributeValue) -> PyDetectedObject:
        """Add a typed attribute (builder-style)."""
    @property
    def id(self) -> PyObjectId: ...
    @property
    def bbox(self) -> PyBoundingBox: ...
    @property
    def class_id(self) -> PyClassId | None: ...
    @property
    def label(self) -> str | None: ...
    @property
    def confidence(self) -> float | None: ...
    @property
    def attributes(self) -> PyAttributes: ...

@final
class PyMetadata:
    """A typed collection of perception results associated with a frame."""
    def __new__(cls) -> PyMetadata: ...
    def add_object(self, object: PyDetectedObject) -> None: ...
    def add_track(self, track: PyTrack) -> None: ...
    def add_classification(self, classification: PyClassification) -> None: ...
    def add_embedding(self, embedding: PyEmbedding) -> None: ...
    def add_event(self, event: PyEvent) -> None: ...
    def is_empty(self) -> bool: ...
    @property
    def objects(self) -> list[PyDetectedObject]: ...
    @property
    def tracks(self) -> list[PyTrack]: ...
    @property
    def classifications(self) -> list[PyClassification]: ...
    @property
    def embeddings(self) -> list[PyEmbedding]: ...
    @property
    def events(self) -> list[PyEvent]: ...

# Spatial transforms

@final
class PyVec3:
    """A 3D vector (translations in meters)."""
    def __new__(cls, x: _FloatLike, y: _FloatLike, z: _FloatLike) -> PyVec3: ...
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def z(self) -> float: ...

@final
class PyQuaternion:
    """A 3D rotation as a unit quaternion."""
    def __new__(
        cls, x: _FloatLike, y: _FloatLike, z: _FloatLike, w: _FloatLike
    ) -> PyQuaternion: ...
    @staticmethod
    def identity() -> PyQuaternion:
        """The identity rotation."""
    def rotate(self, v: PyVec3) -> PyVec3:
        """Rotate a vector by this quaternion."""
    def normalized(self) -> PyQuaternion:
        """A normalized copy (zero maps to identity)."""
    def is_normalized(self) -> bool:
        """Whether the quaternion is normalized within tolerance."""
    @property
    def x(self) -> float: ...
    @property
    def y(self) -> float: ...
    @property
    def z(self) -> float: ...
    @property
    def w(self) -> float: ...

@final
class PyRigidTransform:
    """A rigid-body transformation (SE(3)): rotation + translation."""
    def __new__(cls, rotation: PyQuaternion, translation: PyVec3) -> PyRigidTransform: ...
    @staticmethod
    def identity() -> PyRigidTransform:
        """The identity transform."""
    def transform_point(self, p: PyVec3) -> PyVec3:
        """Map a point from the local frame into the target frame."""
    def compose(self, other: PyRigidTransform) -> PyRigidTransform: ...
    @property
    def rotation(self) -> PyQuaternion: ...
    @property
    def translation(self) -> PyVec3: ...

# Frames

@final
class PyFrame:
    """The fundamental temporal media object.

    A `Frame` carries identity, timing and format; pixel data lives in
    the memory model behind the frame's logical buffer handle.
    """
    def __new__(
        cls,
        stream_id: PyStreamId,
        sequence: SupportsIndex,
        timestamp: PyTimestamp,
        format: PyVideoFormat,
    ) -> PyFrame: ...
    def with_duration_ns(self, nanos: SupportsIndex) -> PyFrame:
        """Attach a duration in nanoseconds (builder-style)."""
    @property
    def id(self) -> PyFrameId: ...
    @property
    def stream_id(self) -> PyStreamId: ...
    @property
    def sequence(self) -> int: ...
    @property
    def timestamp(self) -> PyTimestamp: ...
    @property
    def duration_ns(self) -> int | None:
        """Frame duration in nanoseconds, if known."""
    @property
    def format(self) -> PyVideoFormat: ...
    @property
    def buffer_id(self) -> PyBufferId: ...
    @property
    def metadata_id(self) -> PyMetadataId:
        """The logical metadata handle for this frame."""
