"""The two ends of a link that crosses placement groups.

In the sending group the link ends in a `Sender`, a sink that takes what
has queued up (up to a batch) and delivers it, with each item's envelope
(sequence, timestamp), to the receiving group's `Inbox`. In the receiving
group an `Receiver` source yields the inbox's items under their original
envelopes, so that ordering, timestamps and joins downstream see the items
as they were.

Flow control is credit: an inbox holds at most `credit` items, and a
delivery waits until the items fit, so a Block downstream holds the sender
(and, through its own queue, everything upstream of it) while memory stays
bounded on both sides. Drops and rejections happen at the receiving
element's queue, which the receiver feeds as any source would, and are
counted there.

An inbox fed by several senders (the copies of a replicated group) merges
their streams by sequence: each stream is in order, so the smallest head
goes first once every stream that has not ended has one.

Frames carry their pixels across: the sender ships each frame's array from
its process's pixel store and releases its hold, the receiver attaches the
array in its own store.
"""

from __future__ import annotations

import pickle
import threading
from collections import deque
from collections.abc import Callable, Iterator, Sequence
from typing import Any

from kelo.ext.execution import (PyBatchingPolicy, PyConcurrency, PyExecutionContract,
                                PyFailurePolicy)

from .. import _native
from ..elements import pixels
from ..runtime.element import Element

__all__ = ["Inbox", "Receiver", "Sender", "pack", "unpack"]

# One item on the wire: (sequence, timestamp_ns, value, pixels of its frames).
Wire = tuple[int, int, Any, tuple[tuple[Any, Any, int], ...]]


def pack(value: Any) -> tuple[Any, tuple[tuple[Any, Any, int], ...]]:
    """`value` with the pixels of its frames that this process stores, each
    with the holds the value had on it (released here)."""
    carried: dict[Any, list[Any]] = {}
    for frame in pixels.frames_in(value):
        if frame.buffer_id in carried:
            carried[frame.buffer_id][2] += 1
        elif pixels.holders(frame):
            carried[frame.buffer_id] = [frame, pixels.pixels(frame), 1]
    if carried:
        pixels.release_value(value)
    return value, tuple((f, a, n) for f, a, n in carried.values())


def unpack(value: Any, carried: Sequence[tuple[Any, Any, int]]) -> Any:
    """`value`, its frames' pixels attached in this process's store."""
    for frame, array, holds in carried:
        if pixels.holders(frame):
            pixels.share(frame, holds)
        else:
            pixels.attach(frame, array)
            if holds > 1:
                pixels.share(frame, holds - 1)
    return value


class Inbox:
    """The receiving end's buffer of one crossing link: `senders` streams,
    at most `credit` items in all."""

    def __init__(self, senders: int, credit: int) -> None:
        self.credit = credit
        self._streams: list[deque[Wire]] = [deque() for _ in range(senders)]
        self._ended = [False] * senders
        self._size = 0
        self._closed = False
        self._cond = threading.Condition()
        self.most = 0           # the most items it ever held
        self.waits = 0          # deliveries that waited for credit

    def put(self, sender: int, blob: bytes) -> bool:
        """Add a sender's pickled batch once it fits (a batch larger than
        the credit goes into an empty inbox); False when the inbox is closed."""
        items: list[Wire] = pickle.loads(blob)
        with self._cond:
            if self._size and self._size + len(items) > self.credit and not self._closed:
                self.waits += 1
                self._cond.wait_for(lambda: self._closed or not self._size
                                    or self._size + len(items) <= self.credit)
            if self._closed:
                return False
            self._streams[sender].extend(items)
            self._size += len(items)
            self.most = max(self.most, self._size)
            self._cond.notify_all()
            return True

    @property
    def held(self) -> int:
        return self._size

    def end(self, sender: int) -> None:
        """A sender's stream has ended."""
        with self._cond:
            self._ended[sender] = True
            self._cond.notify_all()

    def finish(self) -> None:
        """End every stream now (what is held still comes out)."""
        with self._cond:
            self._ended = [True] * len(self._ended)
            self._cond.notify_all()

    def close(self) -> None:
        """Drop everything; deliveries and takes return at once."""
        with self._cond:
            self._closed = True
            for s in self._streams:
                s.clear()
            self._size = 0
            self._cond.notify_all()

    def _ready(self) -> int | None:
        """The stream whose head goes next; -1 when all have ended empty."""
        if self._closed:
            return -1
        best: int | None = None
        for k, (s, ended) in enumerate(zip(self._streams, self._ended)):
            if s:
                if best is None or s[0][0] < self._streams[best][0][0]:
                    best = k
            elif not ended:
                return None
        return -1 if best is None else best

    def take(self) -> Wire | None:
        """The next item in sequence order; None when every stream has ended."""
        with self._cond:
            self._cond.wait_for(lambda: self._ready() is not None)
            k = self._ready()
            assert k is not None
            if k < 0:
                return None
            self._size -= 1
            self._cond.notify_all()
            return self._streams[k].popleft()


class Receiver(Element):
    """The source of a crossing link in the receiving group."""

    contract = PyExecutionContract()

    def __init__(self, inbox: Inbox) -> None:
        self.inbox = inbox

    def generate(self) -> Iterator[dict[str, Any]]:
        while (item := self.inbox.take()) is not None:
            sequence, timestamp_ns, value, carried = item
            _native.runtime_set_envelope(sequence, timestamp_ns)
            yield {"out": unpack(value, carried)}


class Sender(Element):
    """The sink of a crossing link in the sending group: delivers what has
    queued (a batch of at most `batch` items) to the receiving copies in
    turn, waiting for their credit."""

    def __init__(self, deliver: Callable[[int, bytes], object], copies: int,
                 end: Callable[[], None]) -> None:
        self._deliver = deliver
        self._copies = copies
        self._end = end
        self._turn = 0

    @staticmethod
    def contract_for(batch: int) -> PyExecutionContract:
        """Serialized, taking whatever has queued up to `batch` items."""
        return (PyExecutionContract().with_concurrency(PyConcurrency.serialized())
                .with_batching(PyBatchingPolicy(batch, 0))
                .with_failure_policy(PyFailurePolicy.FailGraph))

    def process(self, inputs: dict[str, Any]) -> None:
        values = inputs["in"]
        envelopes = _native.runtime_envelopes(self)
        batch: list[Wire] = []
        for (sequence, timestamp_ns), value in zip(envelopes, values):
            value, carried = pack(value)
            batch.append((sequence, timestamp_ns, value, carried))
        try:
            blob = pickle.dumps(batch, protocol=5)
        except Exception as exc:  # noqa: BLE001 (whatever pickling raises)
            raise TypeError(f"a value cannot cross to another group: {type(exc).__name__}: "
                            f"{exc}") from exc
        self._deliver(self._turn, blob)
        self._turn = (self._turn + 1) % self._copies
        return None

    def stop(self) -> None:
        self._end()
