"""Live progress of a running pipeline, fed with its snapshots: on a
terminal a compact table redrawn in place (items in and out, rate, queue
fill, drops per element; the busiest element highlighted), elsewhere a plain
line every few seconds.
"""

from __future__ import annotations

from typing import TextIO

from .observe import Snapshot, bottleneck, count_text, rate

__all__ = ["Progress", "table"]

_BOLD, _RESET = "\x1b[1;33m", "\x1b[0m"


def _rates(snap: Snapshot, before: Snapshot | None) -> dict[str, float]:
    """Executions per second since `before` (over the whole run without)."""
    if before is None or snap.time_ns <= before.time_ns:
        return {n: rate(s) for n, s in snap.stats.items()}
    span = (snap.time_ns - before.time_ns) / 1e9
    return {n: (s.processed - before.stats[n].processed) / span if n in before.stats else 0.0
            for n, s in snap.stats.items()}


def table(snap: Snapshot, before: Snapshot | None = None) -> tuple[list[str], str | None]:
    """The progress table's lines (a header, then a row per element) and
    the busiest element's name."""
    rates = _rates(snap, before)
    slowest = bottleneck(snap.stats)
    rows = [("element", "in", "done", "out", "rate/s", "queue", "drops")]
    for e in snap.elements:
        s = snap.stats[e.name]
        fill = (f"{sum(e.queue_lengths)}/{e.queue_capacity * len(e.queue_lengths)}"
                if e.queue_lengths else "-")
        state = " (ended)" if e.ended else ""
        rows.append((e.name + state, count_text(s.received), count_text(s.processed),
                     count_text(s.emitted), count_text(rates.get(e.name, 0.0)), fill,
                     count_text(s.dropped + s.rejected)))
    widths = [max(len(r[i]) for r in rows) for i in range(len(rows[0]))]
    lines = ["  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in
                       enumerate(zip(r, widths))) for r in rows]
    return lines, slowest


class Progress:
    """Shows progress on `stream` (see the module). `tty` defaults to
    whether `stream` is a terminal; `every_s`: seconds between plain lines
    (on the run's clock), the first one `every_s` after the start."""

    def __init__(self, stream: TextIO, *, tty: bool | None = None, every_s: float = 5.0) -> None:
        self.stream = stream
        self.tty = stream.isatty() if tty is None else tty
        self.every_ns = int(every_s * 1e9)
        self._drawn = 0                     # lines of the table on the terminal
        self._before: Snapshot | None = None
        self._start_ns: int | None = None
        self._line_ns: int | None = None

    def update(self, snap: Snapshot) -> None:
        if self._start_ns is None:
            self._start_ns = self._line_ns = snap.time_ns
        if self.tty:
            self._redraw(snap)
        elif snap.time_ns - (self._line_ns or 0) >= self.every_ns:
            self._line_ns = snap.time_ns
            self.stream.write(self.line(snap) + "\n")
            self.stream.flush()
        self._before = snap

    def line(self, snap: Snapshot) -> str:
        """One plain line: every element's executions, rate, queue and drops."""
        rates = _rates(snap, self._before)
        slowest = bottleneck(snap.stats)
        parts = []
        for e in snap.elements:
            s = snap.stats[e.name]
            part = f"{e.name} {count_text(s.processed)} done {count_text(rates.get(e.name, 0.0))}/s"
            if e.queue_lengths:
                part += f" q {sum(e.queue_lengths)}"
            if s.dropped + s.rejected:
                part += f" drops {count_text(s.dropped + s.rejected)}"
            parts.append(part + (" (slowest)" if e.name == slowest else ""))
        return f"progress {(snap.time_ns - (self._start_ns or 0)) / 1e9:.1f} s: " + \
            ", ".join(parts)

    def _redraw(self, snap: Snapshot) -> None:
        rows, slowest = table(snap, self._before)
        lines = [f"progress {(snap.time_ns - (self._start_ns or 0)) / 1e9:.1f} s"] + rows
        if slowest is not None:
            names = [e.name for e in snap.elements]
            row = 2 + names.index(slowest)
            lines[row] = _BOLD + lines[row] + _RESET
        up = f"\x1b[{self._drawn}F" if self._drawn else ""
        self.stream.write(up + "\x1b[J" + "\n".join(lines) + "\n")
        self.stream.flush()
        self._drawn = len(lines)

    def close(self) -> None:
        """Leaves the last table on the terminal, nothing more."""
        self._drawn = 0
