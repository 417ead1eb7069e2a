"""Pixel memory: the arrays behind frames, shared within one process.

A `PyFrame` names its pixels by `buffer_id`; the pixels themselves live here,
in a process-wide store from buffer id to array. Frames travel between
elements as the core's `PyFrame`, so that the runtime sees ids, sequence,
timestamp and format, while every element of the process reads the same
array: `pixels(frame)` returns the stored array itself, never a copy. Frames
made from one another with `with_duration_ns` keep the buffer id and so share
the entry.

Lifetime: an entry counts its holders, the values in flight that will each
be released once.

- `attach(frame, array)` stores the pixels with one holder: the value the
  producer is about to send.
- A value passed on unchanged (an operator that outputs the frame it
  received, in the same or another port value) passes its hold on: nothing
  to do.
- `share(frame, n)` adds `n` holders: an element calls it when it sends
  one frame in several values; the runtime calls `share_value(value)` for
  each further consumer of one value (one output linked to several inputs).
- `release(frame)` drops one holder; the entry goes with the last. The
  element that consumes a frame last releases it: a sink after using it, an
  operator that outputs other pixels in its place (a resize). The runtime
  releases the frames of every value it drops instead of delivering (an
  overflow policy that drops, a failed execution that is skipped, an output
  port linked nowhere): `release_value(value)` does that for any port value.
- An element releases only when its execution succeeds: the inputs of a
  failed execution stay held, so that a retry finds their pixels, and the
  runtime releases them when it gives the values up.

A frame whose pixels are gone raises `PixelsGone` (a `LookupError`) naming
the buffer and the frame. The store is safe to use from several threads.
"""

from __future__ import annotations

import threading
from collections.abc import Iterator
from typing import Any

from kelo.ext.data import PyBufferId, PyFrame

__all__ = ["PixelsGone", "attach", "holders", "pixels", "release", "release_value", "share",
           "share_value", "stored"]


class PixelsGone(LookupError):
    """The pixels of a frame are not in the store (never attached here, or
    released by their last holder)."""

    def __init__(self, frame: PyFrame) -> None:
        super().__init__(f"no pixels for buffer {frame.buffer_id.uuid()} of frame "
                         f"{frame.id.uuid()} (sequence {frame.sequence}): never attached in "
                         "this process, or already released by its last holder")
        self.frame = frame


class _Entry:
    __slots__ = ("array", "holders")

    def __init__(self, array: Any) -> None:
        self.array = array
        self.holders = 1


_store: dict[PyBufferId, _Entry] = {}
_lock = threading.Lock()


def attach(frame: PyFrame, array: Any) -> PyFrame:
    """Store `array` as the pixels of `frame` with one holder; returns the
    frame. A buffer has one array: attaching another to it is a `ValueError`."""
    with _lock:
        entry = _store.get(frame.buffer_id)
        if entry is not None:
            raise ValueError(f"buffer {frame.buffer_id.uuid()} of frame {frame.id.uuid()} "
                             "already has pixels")
        _store[frame.buffer_id] = _Entry(array)
    return frame


def pixels(frame: PyFrame) -> Any:
    """The array of `frame`'s buffer (the stored object, not a copy)."""
    entry = _store.get(frame.buffer_id)
    if entry is None:
        raise PixelsGone(frame)
    return entry.array


def share(frame: PyFrame, n: int = 1) -> None:
    """Add `n` holders to `frame`'s pixels (one value sent to `n` more consumers)."""
    if n < 0:
        raise ValueError(f"share takes a count of extra holders >= 0, got {n}")
    with _lock:
        entry = _store.get(frame.buffer_id)
        if entry is None:
            raise PixelsGone(frame)
        entry.holders += n


def release(frame: PyFrame) -> bool:
    """Drop one holder of `frame`'s pixels; True when that was the last and
    the array is gone from the store."""
    with _lock:
        return _release(frame)


def _release(frame: PyFrame) -> bool:
    entry = _store.get(frame.buffer_id)
    if entry is None:
        raise PixelsGone(frame)
    entry.holders -= 1
    if entry.holders:
        return False
    del _store[frame.buffer_id]
    return True


def frames_in(value: object) -> Iterator[PyFrame]:
    """The frames a port value carries: a frame itself, the frames of a tuple
    or list (a pair, a batch), at any depth."""
    if type(value) is PyFrame:
        yield value
    elif isinstance(value, (tuple, list)):
        for item in value:
            yield from frames_in(item)


def release_value(value: object) -> int:
    """Release every frame a port value carries whose pixels are stored (a
    value that is dropped instead of delivered); returns how many."""
    count = 0
    with _lock:
        for frame in frames_in(value):
            if frame.buffer_id in _store:
                _release(frame)
                count += 1
    return count


def share_value(value: object, n: int = 1) -> int:
    """Add `n` holders to every frame a port value carries whose pixels are
    stored (a value delivered to `n` more consumers); returns how many."""
    count = 0
    with _lock:
        for frame in frames_in(value):
            entry = _store.get(frame.buffer_id)
            if entry is not None:
                entry.holders += n
                count += 1
    return count


def holders(frame: PyFrame) -> int:
    """The holders of `frame`'s pixels (0: none stored)."""
    entry = _store.get(frame.buffer_id)
    return 0 if entry is None else entry.holders


def stored() -> int:
    """The number of buffers in the store."""
    return len(_store)
