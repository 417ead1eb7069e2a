"""Seeing a run: every element's figures as JSON and back, the live state of a
running pipeline (`Snapshot`), the element that bounds its throughput, and
stall reports (`StallDetector`): when no item has moved for a while, which
executions run, which elements wait on which queues and which are blocked by
a full one.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, fields
from typing import Any

from .running import ElementStats, Running

__all__ = ["DEFAULT_STALL_S", "ElementState", "Snapshot", "StallDetector", "StallReport", "Watch",
           "bottleneck", "busy", "count_text", "rate", "stats_dict", "stats_from_dict"]

#: Seconds without movement before a run is reported stalled.
DEFAULT_STALL_S = 10.0


# ElementStats field -> its key in JSON; durations in nanoseconds.
_KEYS = {f.name: f.name.removeprefix("latency_") for f in fields(ElementStats)}


def stats_dict(s: ElementStats) -> dict[str, Any]:
    """An element's figures as JSON values; durations in nanoseconds."""
    return {key: dict(s.drops) if name == "drops" else getattr(s, name)
            for name, key in _KEYS.items()}


def stats_from_dict(d: Any) -> ElementStats:
    """The figures `stats_dict` wrote, read back; `ValueError` naming the
    first one missing or out of place."""
    if not isinstance(d, dict):
        raise ValueError(f"the figures are a JSON {type(d).__name__}, not an object")
    values: dict[str, Any] = {}
    for f in fields(ElementStats):
        key = _KEYS[f.name]
        if key not in d:
            raise ValueError(f"no {key!r} figure")
        v = d[key]
        if f.name == "drops":
            if not (isinstance(v, dict) and all(type(n) is int and n >= 0 for n in v.values())):
                raise ValueError(f"{key!r} is {v!r}, not an object of counts")
        elif not (type(v) in (int, type(f.default)) and math.isfinite(v) and v >= 0):
            what = "count" if type(f.default) is int else "number"
            raise ValueError(f"{key!r} is {v!r}, not a {what}")
        values[f.name] = v
    return ElementStats(**values)


def rate(s: ElementStats) -> float:
    """Executions per second over the run (a source's: items made)."""
    return s.processed * 1e9 / s.elapsed_ns if s.elapsed_ns > 0 else 0.0


def count_text(n: float) -> str:
    """A count or rate in at most four characters or so: 7, 2.5, 420, 12k, 3M."""
    for unit, size in (("G", 1e9), ("M", 1e6), ("k", 1e3)):
        if n >= size * 10:
            return f"{n / size:.0f}{unit}"
    return f"{n:.0f}" if n >= 10 or n == int(n) else f"{n:.1f}"


def busy(s: ElementStats) -> float:
    """The share of the run an element spent executing, per execution it
    ran at once at most: near 1 for the element that bounds throughput."""
    if s.elapsed_ns <= 0:
        return 0.0
    return s.latency_mean_ns * s.processed / (s.elapsed_ns * max(1, s.max_concurrent))


def bottleneck(stats: Mapping[str, ElementStats]) -> str | None:
    """The busiest element (see `busy`), when any element executed."""
    best = max(stats.items(), key=lambda kv: busy(kv[1]), default=None)
    return best[0] if best is not None and busy(best[1]) > 0 else None


@dataclass(frozen=True)
class ElementState:
    """One element at one instant. Queues are named ``element.port``."""

    name: str
    inputs: tuple[str, ...] = ()
    queue_lengths: tuple[int, ...] = ()
    queue_capacity: int = 0
    # Per input port: the elements held because that queue is full.
    blocked_producers: tuple[tuple[str, ...], ...] = ()
    # The input it waits on, when nothing runs and nothing is ready.
    waiting_port: str | None = None
    held: bool = False          # held by a full downstream queue
    running_ns: tuple[int, ...] = ()   # how long each running execution has run
    ended: bool = False


@dataclass(frozen=True)
class Snapshot:
    """A running pipeline at `time_ns` (on the run's clock); `moved` counts
    every item received, executed or emitted so far, so that a run whose
    `moved` stays put is standing still."""

    time_ns: int
    elements: tuple[ElementState, ...]
    stats: Mapping[str, ElementStats]
    moved: int

    @classmethod
    def of(cls, native: Mapping[str, Any], names: Sequence[str],
           inputs: Sequence[Sequence[str]], capacities: Sequence[int],
           stats: Mapping[str, ElementStats]) -> Snapshot:
        """From the binding's snapshot dict, with node indexes made names."""
        now = native["time_ns"]
        elements = []
        for k, e in enumerate(native["elements"]):
            ports = tuple(inputs[k])
            w = e["waiting_port"]
            elements.append(ElementState(
                names[k], ports, tuple(e["queue_lengths"]), capacities[k],
                tuple(tuple(names[p] for p in held) for held in e["blocked_producers"]),
                ports[w] if e["waiting_for_input"] and w is not None and w < len(ports) else None,
                e["held"], tuple(now - t for t in e["running_since_ns"]), e["ended"]))
        moved = sum(s.received + s.processed + s.emitted + s.dropped + s.rejected
                    for s in stats.values())
        return cls(now, tuple(elements), stats, moved)


@dataclass(frozen=True)
class StallReport:
    """Why nothing moves: per element not ended, what it is doing."""

    still_ns: int
    running: tuple[tuple[str, int, int], ...]     # (element, executions, longest ns)
    waiting: tuple[tuple[str, str], ...]          # (element, queue it waits on)
    blocked: tuple[tuple[str, str], ...]          # (element, full queue holding it)

    @classmethod
    def of(cls, snap: Snapshot, still_ns: int) -> StallReport:
        live = [e for e in snap.elements if not e.ended]
        running = tuple((e.name, len(e.running_ns), max(e.running_ns))
                        for e in live if e.running_ns)
        waiting = tuple((e.name, f"{e.name}.{e.waiting_port}")
                        for e in live if e.waiting_port is not None and not e.running_ns)
        blocked: dict[str, str] = {}
        for e in snap.elements:
            for port, held in zip(e.inputs, e.blocked_producers):
                for producer in held:
                    blocked.setdefault(producer, f"{e.name}.{port}")
        for e in live:
            if e.held:
                blocked.setdefault(e.name, "a full output")
        return cls(still_ns, running, waiting, tuple(blocked.items()))

    def lines(self) -> list[str]:
        """The report as text: a block whose first line begins with
        "stall"."""
        out = [f"stall: no item has moved for {self.still_ns / 1e9:.1f} s"]
        out += [f"  running  {name}: {n} execution{'s' * (n > 1)}, the longest for "
                f"{ns / 1e9:.1f} s" for name, n, ns in self.running]
        out += [f"  waiting  {name}: for input on queue {q}" for name, q in self.waiting]
        out += [f"  blocked  {name}: by the full queue {q}" if q != "a full output" else
                f"  blocked  {name}: by a full output" for name, q in self.blocked]
        return out

    def as_dict(self) -> dict[str, Any]:
        return {
            "still_ns": self.still_ns,
            "running": [name for name, _, _ in self.running],
            "waiting": [name for name, _ in self.waiting],
            "blocked": [name for name, _ in self.blocked],
            "running_ns": {name: ns for name, _, ns in self.running},
            "waiting_on": dict(self.waiting),
            "blocked_on": dict(self.blocked),
        }


class StallDetector:
    """Fed snapshots in time order, reports a stall once when `moved` has
    not changed for `timeout_s` seconds of the run's clock while some element
    has not ended; movement re-arms it."""

    def __init__(self, timeout_s: float = DEFAULT_STALL_S) -> None:
        if not timeout_s > 0:
            raise ValueError(f"the stall timeout must be a positive number of seconds, "
                             f"not {timeout_s!r}")
        self.timeout_ns = int(timeout_s * 1e9)
        self._moved: int | None = None
        self._since = 0
        self._reported = False

    def check(self, snap: Snapshot) -> StallReport | None:
        if snap.moved != self._moved:
            self._moved, self._since, self._reported = snap.moved, snap.time_ns, False
            return None
        still = snap.time_ns - self._since
        if self._reported or still < self.timeout_ns or all(e.ended for e in snap.elements):
            return None
        self._reported = True
        return StallReport.of(snap, still)


class Watch:
    """What runs beside a waiting run (`Running.wait(watch=...)`): takes a
    snapshot, shows it through `show`, and reports a stall through
    `on_stall`; true (give up on the run) on a stall when `fail_on_stall`."""

    def __init__(self, running: Running, *, show: Callable[[Snapshot], None] | None = None,
                 stall_s: float = DEFAULT_STALL_S, fail_on_stall: bool = False,
                 on_stall: Callable[[StallReport], None] | None = None) -> None:
        self.running = running
        self.show = show
        self.detector = StallDetector(stall_s)
        self.fail_on_stall = fail_on_stall
        self.on_stall = on_stall
        #: The last stall reported.
        self.stall: StallReport | None = None

    def __call__(self) -> bool:
        snap = self.running.snapshot()
        if self.show is not None:
            self.show(snap)
        report = self.detector.check(snap)
        if report is None:
            return False
        self.stall = report
        if self.on_stall is not None:
            self.on_stall(report)
        return self.fail_on_stall
