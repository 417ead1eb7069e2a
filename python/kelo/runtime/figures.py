"""Pictures of a run: the figures of a `kelo run --json` document read back,
and drawn over the checked pipeline as an `Overlay`.

An element shows its rate (executions per second over the run; a source's:
items made), its busy share and, when its executions were timed, their
90th percentile. A link shows the
items per second it carried and the items lost where it arrives (dropped or
rejected at its target). The runtime counts per element, so a link's rate
is its source's output rate when that source has one output port (each
value it emits crosses every link of that port), else its target's input
rate when it is the target's only incoming link; its losses are its
target's when it is that only link. What cannot be told apart stays with
the element: an element fed by several links shows its own losses. The
busiest element (`bottleneck`), the one that bounds the throughput, is
marked.
"""

from __future__ import annotations

import json
import os
from collections.abc import Mapping
from typing import TYPE_CHECKING

from ..checker.pictures import Overlay
from .observe import bottleneck, busy, count_text, rate, stats_from_dict
from .running import ElementStats

if TYPE_CHECKING:
    from ..checker.checking import CheckResult

__all__ = ["StatsError", "read_stats", "run_overlay"]

LEGEND = ("bottleneck: the busiest element, which bounds the throughput",
          "items/s: executions per second over the run (a source: items made)",
          "busy: the share of the run it spent executing",
          "p90: 90% of its executions took at most this long",
          "on a link: items per second it carried, items lost where it arrives")


class StatsError(ValueError):
    """A run's figures that cannot be drawn: unreadable, malformed, or of
    another pipeline."""


def read_stats(path: str | os.PathLike[str]) -> dict[str, ElementStats]:
    """Every element's figures from the document `kelo run --json` wrote,
    by element name. `StatsError` says what is wrong (not where: callers
    name the file)."""
    try:
        with open(path, encoding="utf-8") as stream:
            doc = json.load(stream)
    except OSError as exc:
        raise StatsError(f"cannot be read: {exc.strerror or exc}") from None
    except (ValueError, RecursionError) as exc:     # not UTF-8, not JSON, nested too deep
        raise StatsError(f"is not a JSON document: {exc}") from None
    stats = doc.get("stats") if isinstance(doc, dict) else None
    if not isinstance(stats, dict):
        raise StatsError('has no "stats" object (write it with `kelo run FILE --json`)')
    out = {}
    for name, figures in stats.items():
        try:
            out[name] = stats_from_dict(figures)
        except ValueError as exc:
            raise StatsError(f"element {name!r}: {exc}") from None
    return out


def run_overlay(result: CheckResult, stats: Mapping[str, ElementStats]) -> Overlay:
    """The figures of a run of `result`'s pipeline as an `Overlay` (see the
    module); `StatsError` when they name an element the pipeline lacks or
    lack one it has."""
    b = result.built
    names = [e.name for e in b.elements]
    for name in stats:
        if name not in names:
            raise StatsError(f"names element {name!r}, which pipeline "
                             f"{result.description.pipeline.name!r} does not have")
    for name in names:
        if name not in stats:
            raise StatsError(f"has no figures for element {name!r}")
    # Per link its (source, target) element indexes, None for an end at no declared port.
    ends = [tuple(found[0] if (found := b.port(p)) else None for p in pair) for pair in b.ends]
    feeds = [sum(1 for _, t in ends if t == i) for i in range(len(names))]
    elements = {}
    for i, name in enumerate(names):
        s = stats[name]
        share = busy(s)
        percent = f"{share:.0%}" if share >= 0.1 or not share else f"{share:.1%}"
        lines = [f"{count_text(rate(s))} items/s · {percent} busy"]
        if s.latency_max_ns:        # else no execution was timed (a source's never are)
            lines.append(f"p90 {duration_text(s.latency_p90_ns)}")
        if feeds[i] > 1 and s.dropped + s.rejected:
            lines.append(f"{count_text(s.dropped + s.rejected)} lost at its inputs")
        elements[name] = lines
    links = {}
    for k, (si, ti) in enumerate(ends):
        if si is None or ti is None:        # a pad or a port no element declares
            continue
        source, target = stats[names[si]], stats[names[ti]]
        alone = feeds[ti] == 1
        line = (f"{count_text(source.out_per_s)} items/s" if len(b.elements[si].type.outputs) == 1
                else f"{count_text(target.in_per_s)} items/s" if alone else "")
        lost = f"{count_text(target.dropped + target.rejected)} lost" if alone else ""
        if line or lost:
            links[k] = [" · ".join(p for p in (line, lost) if p)]
    return Overlay(elements, links, bottleneck(stats), "bottleneck", LEGEND)


def duration_text(ns: float) -> str:
    """Nanoseconds in the largest unit under them: 850 ns, 12.3 µs, 4.5 ms, 2 s."""
    for unit, size in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if ns >= size:
            v = ns / size
            return f"{v:.3g} {unit}" if v < 1000 else f"{v:.0f} {unit}"
    return f"{ns:.0f} ns"
