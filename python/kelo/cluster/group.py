"""One placement group at work: a `GroupActor` lives on a Dask worker and
runs its group's part of the plan as one runtime instance.

The driver hands it a pickled `GroupRecipe`: the group's nodes (element classes,
contracts in the table notation, ports), the links inside the group, and
the crossing links that end or start here. It makes the elements on its
worker, a `Sender` per link that leaves and a `Receiver` (with its `Inbox`)
per link that arrives, and starts the runtime when told. Deliveries from
other groups run on the worker's event loop and wait for credit in a
thread, never on the actor's own thread, so that signals always get
through.
"""

from __future__ import annotations

import asyncio
import json
import pickle
import sys
import tempfile
import threading
import time
import traceback
from dataclasses import asdict, dataclass, field
from pathlib import Path
from typing import Any

from ..runtime.contract import build
from ..runtime.running import Running, start_plan
from .links import Inbox, Receiver, Sender

__all__ = ["GroupActor", "GroupRecipe", "NodeRecipe"]

# How often a sender waiting for credit looks whether its run is cancelled.
_CANCEL_POLL_S = 0.2
# How often a group with receivers looks for an element that failed the graph.
_WATCH_S = 0.05


class Cancelled(Exception):
    """The run was cancelled while a sender waited for credit."""


@dataclass
class NodeRecipe:
    """One node of a group's plan. `impl` is the element class, or the name
    of a native behaviour; `role` is ``"send"`` or ``"receive"`` for the
    ends of a crossing link `link` (and `impl` is then None)."""

    name: str
    kind: int
    inputs: list[str]
    outputs: list[str]
    fields: dict[str, Any]
    join: list[int] = field(default_factory=list)
    queue_size: int = 16
    retries: int = 3
    confirm_timeout_ns: int | None = None
    impl: Any = None
    config: dict[str, str] = field(default_factory=dict)
    key: str = ""
    role: str = ""
    link: str = ""
    copies: int = 1     # a sender: the receiving group's copies; a receiver: the sending group's


@dataclass
class GroupRecipe:
    group: str
    nodes: list[NodeRecipe]
    edges: list[tuple[int, int, int, int]]
    batch: int
    credit: int


def _error(e: BaseException | None) -> dict[str, str] | None:
    if e is None:
        return None
    return {"type": type(e).__name__, "message": str(e),
            "traceback": "".join(traceback.format_exception(e))}


class GroupActor:
    """A group's runtime instance (copy `copy` of it), as a Dask actor."""

    def __init__(self, recipe_blob: bytes, paths: list[str], copy: int,
                 trace_events: int = 0) -> None:
        # The driver's import folders first, so that the element classes in
        # the recipe are found by the names they were pickled with.
        sys.path.extend(p for p in paths if p not in sys.path)
        self.recipe = recipe = pickle.loads(recipe_blob)
        self.copy = copy
        self.trace_events = trace_events        # 0: no trace
        self.inboxes = {n.link: Inbox(n.copies, recipe.credit)
                        for n in recipe.nodes if n.role == "receive"}
        self.targets: dict[str, list[Any]] = {}
        self.cancelled = threading.Event()
        self.running: Running | None = None

    def wire(self, targets: dict[str, list[Any]]) -> None:
        """The receiving actors (one per copy) of each link that leaves."""
        self.targets = targets

    def now_ns(self) -> int:
        return time.monotonic_ns()

    def where(self) -> str:
        from distributed import get_worker
        address: str = get_worker().address
        return address

    # ---- the run ----

    def _element(self, n: NodeRecipe) -> Any:
        if n.role == "receive":
            element: Any = Receiver(self.inboxes[n.link])
        elif n.role == "send":
            element = Sender(self._deliverer(n.link), n.copies, self._ender(n.link))
        elif isinstance(n.impl, str):
            return n.impl
        else:
            element = n.impl()
        element.name = n.name
        element.config = dict(n.config)
        return element

    def _deliverer(self, link: str) -> Any:
        def deliver(turn: int, blob: bytes) -> object:
            future = self.targets[link][turn].deliver(link, self.copy, blob)
            while True:
                try:
                    return future.result(timeout=_CANCEL_POLL_S)
                except TimeoutError:
                    if self.cancelled.is_set():
                        raise Cancelled(f"link {link}: cancelled while waiting for credit") from None
        return deliver

    def _ender(self, link: str) -> Any:
        def end() -> None:
            if self.cancelled.is_set():
                return
            for target in self.targets.get(link, ()):
                target.end(link, self.copy).result()
        return end

    def start(self) -> None:
        nodes = [(n.name, n.kind, n.inputs, n.outputs,
                  Sender.contract_for(self.recipe.batch) if n.role == "send" else build(n.fields),
                  n.join, n.queue_size, n.retries, n.confirm_timeout_ns, self._element(n), n.key)
                 for n in self.recipe.nodes]
        handle = start_plan(nodes, self.recipe.edges, None, 0, self.trace_events)
        self.running = Running([], [n[0] for n in nodes], [n[1] for n in nodes], handle)
        if self.inboxes:
            threading.Thread(target=self._watch, name=f"kelo-watch-{self.recipe.group}",
                             daemon=True).start()

    def _watch(self) -> None:
        """Ends the receivers once an element fails the graph: the runtime
        waits for its sources to return, and a receiver returns only when
        its inbox ends."""
        running = self.running
        assert running is not None
        fatal = [n.name for n in self.recipe.nodes
                 if n.role == "send" or n.fields.get("failure") == "fail_graph"]
        while not running.ended:
            if any(running.stats(name).failed for name in fatal):
                for inbox in self.inboxes.values():
                    inbox.close()
                return
            self.cancelled.wait(_WATCH_S)

    async def deliver(self, link: str, sender: int, blob: bytes) -> bool:
        loop = asyncio.get_running_loop()
        ok: bool = await loop.run_in_executor(None, self.inboxes[link].put, sender, blob)
        return ok

    def end(self, link: str, sender: int) -> None:
        self.inboxes[link].end(sender)

    # ---- signals ----

    def signal(self, what: str, *args: Any) -> None:
        running = self.running
        if what == "cancel":
            self.cancelled.set()
            for inbox in self.inboxes.values():
                inbox.close()
        elif what == "stop":
            for inbox in self.inboxes.values():
                inbox.finish()
        if running is not None:
            getattr(running, what)(*args)

    def inbox_counts(self) -> dict[str, tuple[int, int, int]]:
        """Per arriving link: items held now, the most ever held, deliveries
        that waited for credit."""
        return {k: (i.held, i.most, i.waits) for k, i in self.inboxes.items()}

    def stats(self) -> dict[str, dict[str, Any]]:
        running = self.running
        if running is None:
            return {}
        return {name: asdict(running.stats(name)) for name in running._names}

    def _trace(self) -> dict[str, Any]:
        """The group's trace document (its ``ts`` from its first event, whose
        time on this worker's clock is ``otherData.base_ns``)."""
        assert self.running is not None
        with tempfile.TemporaryDirectory(prefix="kelo-trace-") as folder:
            path = Path(folder) / "trace.json"
            self.running._handle.write_trace(path)
            doc: dict[str, Any] = json.loads(path.read_text())
        return doc

    async def wait(self) -> dict[str, Any]:
        """The group's end: outcome, failure and every node's counters."""
        running = self.running
        assert running is not None
        report = await asyncio.get_running_loop().run_in_executor(None, running.wait)
        return {"trace": self._trace() if self.trace_events else None,
                "outcome": report.outcome, "failed_element": report.failed_element,
                "message": report.message, "error": _error(report.error),
                "stats": {name: asdict(s) for name, s in report.stats.items()},
                "inboxes": {k: (i.most, i.waits) for k, i in self.inboxes.items()}}
