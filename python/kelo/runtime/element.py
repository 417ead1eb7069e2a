"""The base class of element implementations.

An operator or sink implements `process(inputs)`: `inputs` maps input port
names to values and the result maps output port names to values (or is
`None` for no output). A source implements `generate()` instead: an
iterator of dicts from output port names to values, one dict per item; the
source's stream ends when the iterator stops.

The runtime makes each element with `cls()`, then sets `name` (the element's
name in the pipeline) and `config` (its `config` table, text to text) before
calling `start()`; `stop()` is called once after the last execution, however
the run ends.
"""

from __future__ import annotations

from collections.abc import Iterator, Mapping
from typing import Any, ClassVar

from kelo.ext.execution import PyExecutionContract

from .. import _native

__all__ = ["Element", "NativePassthrough", "Rejected"]


class Rejected(Exception):
    """Raised by `Element.emit` when the receiving queue refuses the value
    (its overflow policy is `Reject` and it is full)."""


class Element:
    """Subclass this and implement `process` (or `generate` for a source).

    Class attributes: `contract`, the element's execution contract (keys of
    a file's `[element.execution]` table override it key by key);
    `queue_size`, each input queue's capacity; `retries`, the re-runs allowed
    after a failure under the `Retry` failure policy; `confirm_timeout_ns`,
    how long an `ExternalConfirmed` execution may wait for `confirm` before
    it fails (None: for ever).
    """

    contract: ClassVar[PyExecutionContract] = PyExecutionContract()
    queue_size: ClassVar[int] = 16
    retries: ClassVar[int] = 3
    confirm_timeout_ns: ClassVar[int | None] = None

    name: str = ""
    config: Mapping[str, str] = {}

    def start(self) -> None:
        """Called once before the first execution."""

    def stop(self) -> None:
        """Called once after the last execution, however the run ends."""

    def process(self, inputs: dict[str, Any]) -> dict[str, Any] | None:
        """One execution: input port name -> value in, output port name ->
        value out. Under batching each value is a list (the batch, oldest
        first) and so is each output (one per batch entry)."""
        raise NotImplementedError(f"{type(self).__name__} implements neither process nor generate")

    def generate(self) -> Iterator[dict[str, Any]]:
        """A source's items: one dict of output port name -> value each."""
        raise NotImplementedError(f"{type(self).__name__} implements neither process nor generate")

    def emit(self, port: str, value: Any) -> None:
        """Send `value` on output `port` now (under `Independent` output
        coupling; otherwise it is held like a returned output). Raises
        `Rejected` when the receiving queue refuses it. Only inside
        `process`, on the thread that runs it."""
        _native.runtime_emit(self, port, value)

    def pending_token(self) -> int | None:
        """Inside `process` of an `ExternalConfirmed` element: the token that
        `confirm` completes this execution with (None under `OutputReady`)."""
        token: int | None = _native.runtime_pending_token(self)
        return token

    def confirm(self, token: int) -> None:
        """Complete the `ExternalConfirmed` execution of `token`; from any
        thread, once."""
        run = getattr(self, "_kelo_run", None)
        if run is None:
            raise RuntimeError(f"element {self.name!r} is not running")
        _native.runtime_confirm(run, token)


class NativePassthrough(Element):
    """Forwards every input to the output of the same position, natively:
    no Python code runs per item (the element type `kelo.native.passthrough`)."""

    native: ClassVar[str] = "passthrough"
