# Type stubs for the `execution` submodule of the compiled extension
# `kelo.ext`: the execution policies an element type declares, input
# relations, execution contracts, execution states and control signals.
# Every class is final, every property read-only.

from collections.abc import Sequence
from typing import ClassVar, Literal, SupportsIndex, final

from kelo.ext.graph import PyPortId

__all__ = [
    "PyInputRelation",
    "PyMissingInputBehavior",
    "PyOrderingRequirement",
    "PyConcurrency",
    "PyCompletionBoundary",
    "PyEosPolicy",
    "PyBatchingPolicy",
    "PyDeliveryMode",
    "PyOverflowPolicy",
    "PyOutputCoupling",
    "PyFailurePolicy",
    "PyExecutionState",
    "PyControlSignal",
    "PyExecutionContract",
]

@final
class PyInputRelation:
    """How multiple inputs of an element type relate to one another."""
    @staticmethod
    def independent() -> PyInputRelation:
        """Each input may independently trigger execution (§7.1)."""
    @staticmethod
    def synchronized() -> PyInputRelation:
        """Inputs correspond by explicit synchronization, e.g. matching
        frame `sequence` numbers (§7.2).
        """
    @staticmethod
    def timestamp_matched(
        tolerance_ns: SupportsIndex,
        missing: PyMissingInputBehavior,
        clock_offsets_ns: Sequence[SupportsIndex] | None = None,
    ) -> PyInputRelation:
        """Inputs are matched using timestamp semantics (§7.3).
        `tolerance_ns` bounds the acceptable timestamp difference;
        `missing` selects the missing-input behavior; optional
        `clock_offsets_ns` hold calibrated per-port clock corrections
        (nanoseconds, port 0 = driver).
        """
    @staticmethod
    def latest_value() -> PyInputRelation:
        """Use the latest available value of secondary inputs (§7.4)."""
    @staticmethod
    def windowed(size: SupportsIndex) -> PyInputRelation:
        """Consume a window of `size` consecutive items (§7.5)."""
    @staticmethod
    def explicit_join(key: str) -> PyInputRelation:
        """Join inputs by an element-specific key (§7.6)."""
    def kind(
        self,
    ) -> Literal[
        "independent",
        "synchronized",
        "timestamp_matched",
        "latest_value",
        "windowed",
        "explicit_join",
    ]:
        """The relation kind: `independent`, `synchronized`,
        `timestamp_matched`, `latest_value`, `windowed` or
        `explicit_join`.
        """
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyMissingInputBehavior:
    Wait: ClassVar[PyMissingInputBehavior]
    Proceed: ClassVar[PyMissingInputBehavior]
    Drop: ClassVar[PyMissingInputBehavior]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyOrderingRequirement:
    PreserveSequence: ClassVar[PyOrderingRequirement]
    AllowReorder: ClassVar[PyOrderingRequirement]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyConcurrency:
    """Concurrency requirement of an element type."""
    @staticmethod
    def serialized() -> PyConcurrency:
        """Executions must be serialized (stateful elements)."""
    @staticmethod
    def limited(n: SupportsIndex) -> PyConcurrency:
        """Up to `n` concurrent executions are semantically safe."""
    @staticmethod
    def unrestricted() -> PyConcurrency:
        """Unlimited concurrent executions are semantically safe."""
    def max_concurrent(self) -> int | None:
        """Maximum number of concurrently running executions (`None` =
        unrestricted).
        """
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyCompletionBoundary:
    OutputReady: ClassVar[PyCompletionBoundary]
    ExternalConfirmed: ClassVar[PyCompletionBoundary]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyEosPolicy:
    AllInputs: ClassVar[PyEosPolicy]
    AnyInput: ClassVar[PyEosPolicy]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyBatchingPolicy:
    """Runtime batching policy."""
    def __new__(cls, max_size: SupportsIndex, max_wait_ns: SupportsIndex) -> PyBatchingPolicy: ...
    @property
    def max_size(self) -> int: ...
    @property
    def max_wait_ns(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyDeliveryMode:
    All: ClassVar[PyDeliveryMode]
    Latest: ClassVar[PyDeliveryMode]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyOverflowPolicy:
    Block: ClassVar[PyOverflowPolicy]
    DropOldest: ClassVar[PyOverflowPolicy]
    DropNewest: ClassVar[PyOverflowPolicy]
    Reject: ClassVar[PyOverflowPolicy]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyOutputCoupling:
    Independent: ClassVar[PyOutputCoupling]
    Coupled: ClassVar[PyOutputCoupling]
    Transactional: ClassVar[PyOutputCoupling]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyFailurePolicy:
    Retry: ClassVar[PyFailurePolicy]
    Skip: ClassVar[PyFailurePolicy]
    FailGraph: ClassVar[PyFailurePolicy]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...

@final
class PyExecutionState:
    """Lifecycle of a single execution (RFC-005 §2.1)."""
    Pending: ClassVar[PyExecutionState]
    Admitted: ClassVar[PyExecutionState]
    Running: ClassVar[PyExecutionState]
    Completed: ClassVar[PyExecutionState]
    Failed: ClassVar[PyExecutionState]
    Cancelled: ClassVar[PyExecutionState]
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    def __hash__(self) -> int: ...
    def __int__(self) -> int: ...
    def is_terminal(self) -> bool:
        """Whether this is a terminal state (`Completed`, `Failed` or
        `Cancelled`) — RFC-005 Invariant 3.
        """

@final
class PyControlSignal:
    """A control signal — not an ordinary data-plane object."""
    @staticmethod
    def flush() -> PyControlSignal:
        """Flush: reach a defined boundary for work admitted before the
        flush (§19).
        """
    @staticmethod
    def eos() -> PyControlSignal:
        """End of stream for a logical input stream (§20)."""
    @staticmethod
    def cancel() -> PyControlSignal:
        """Request cancellation of an execution (§21)."""
    @staticmethod
    def stop() -> PyControlSignal:
        """Stop the runtime instance (RFC-003 §41)."""
    @staticmethod
    def seek(target_ns: SupportsIndex) -> PyControlSignal:
        """Seek: reposition a source to `target_ns` stream time."""
    def kind(self) -> Literal["flush", "eos", "cancel", "stop", "seek"]:
        """The signal kind: `flush`, `eos`, `cancel`, `stop` or `seek`."""
    def target_ns(self) -> int | None:
        """The seek target in nanoseconds, if this is a seek."""
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...
    __hash__: ClassVar[None]  # type: ignore[assignment]

@final
class PyExecutionContract:
    """The semantic execution contract of an element type."""
    def __new__(cls) -> PyExecutionContract: ...
    @staticmethod
    def permissive() -> PyExecutionContract:
        """A permissive contract: reorder-allowing, skip-on-failure."""
    def with_input_relation(self, relation: PyInputRelation) -> PyExecutionContract:
        """Set the input relation (builder-style)."""
    def with_ordering(self, ordering: PyOrderingRequirement) -> PyExecutionContract:
        """Set the ordering requirement (builder-style)."""
    def with_concurrency(self, concurrency: PyConcurrency) -> PyExecutionContract:
        """Set the concurrency (builder-style)."""
    def with_delivery(self, delivery: PyDeliveryMode) -> PyExecutionContract:
        """Set the delivery mode (builder-style)."""
    def with_overflow(self, overflow: PyOverflowPolicy) -> PyExecutionContract:
        """Set the overflow policy (builder-style)."""
    def with_output_coupling(self, coupling: PyOutputCoupling) -> PyExecutionContract:
        """Set the output coupling (builder-style)."""
    def with_completion(self, completion: PyCompletionBoundary) -> PyExecutionContract:
        """Set the completion boundary (builder-style)."""
    def with_failure_policy(self, policy: PyFailurePolicy) -> PyExecutionContract:
        """Set the failure policy (builder-style)."""
    def with_eos_policy(self, policy: PyEosPolicy) -> PyExecutionContract:
        """Set the EOS policy (builder-style)."""
    def with_batching(self, policy: PyBatchingPolicy) -> PyExecutionContract:
        """Enable batching (builder-style)."""
    def with_join_ports(self, ports: Sequence[PyPortId]) -> PyExecutionContract:
        """Set the join ports (builder-style)."""
    @property
    def input_relation(self) -> PyInputRelation: ...
    @property
    def ordering(self) -> PyOrderingRequirement: ...
    @property
    def concurrency(self) -> PyConcurrency: ...
    @property
    def delivery(self) -> PyDeliveryMode: ...
    @property
    def overflow(self) -> PyOverflowPolicy: ...
    @property
    def output_coupling(self) -> PyOutputCoupling: ...
    @property
    def completion(self) -> PyCompletionBoundary: ...
    @property
    def failure_policy(self) -> PyFailurePolicy: ...
    @property
    def eos_policy(self) -> PyEosPolicy: ...
    @property
    def batching(self) -> PyBatchingPolicy | None: ...
    @property
    def join_ports(self) -> list[PyPortId]:
        """Input ports the join semantics operate over (empty = all
        declared input ports).
        """
