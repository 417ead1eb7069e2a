"""Running pipelines: `start` checks a pipeline, finds each element's
implementation, merges its execution contract, hands the plan to the native
runtime and returns a `Running` handle; `run` waits for it. Both give a
`RunReport`: the check's findings, how the run ended, the failing element and
its exception (traceback kept), and every element's counters.
"""

from __future__ import annotations

import atexit
import time
import warnings
import weakref
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field, fields
from pathlib import Path
from typing import TYPE_CHECKING, Any

from kelo.ext.graph import PyElementKind

from .. import _native
from ..checker.findings import Finding, Location
from ..pipeline import Pipeline
from .contract import PROBLEM_CODES, contract_from_table, fields_of
from .element import Element, NativePassthrough
from .entries import import_entry

if TYPE_CHECKING:
    from ..checker.checking import CheckResult
    from .observe import Snapshot

__all__ = ["ElementStats", "RunReport", "Running", "VirtualClock", "run", "start"]

VirtualClock = _native.VirtualClock

#: Element types every run knows without a provider.
BUILTIN: dict[str, type[Element]] = {"kelo.native.passthrough": NativePassthrough}

_KINDS = {PyElementKind.Source: 0, PyElementKind.Operator: 1, PyElementKind.Sink: 2}
#: The most events a trace holds; further ones are counted as lost.
TRACE_EVENTS = 1 << 21
# Grace given to executions that do not return after a timeout or Ctrl-C.
_GRACE_NS = 2_000_000_000


@dataclass(frozen=True)
class ElementStats:
    """One element's counters and timings at the end of a run (or now)."""

    received: int = 0
    processed: int = 0
    emitted: int = 0
    dropped: int = 0
    rejected: int = 0
    failed: int = 0
    retried: int = 0
    skipped: int = 0
    max_queue: int = 0
    max_concurrent: int = 0
    drops: Mapping[str, int] = field(default_factory=dict)   # by reason
    latency_p50_ns: int = 0
    latency_p90_ns: int = 0
    latency_p99_ns: int = 0
    latency_max_ns: int = 0
    latency_mean_ns: float = 0.0
    wait_ns: int = 0            # idle, waiting for input
    blocked_ns: int = 0         # held by a full downstream queue
    mean_queue: float = 0.0
    in_per_s: float = 0.0
    out_per_s: float = 0.0
    elapsed_ns: int = 0


_STAT_NAMES = {f.name for f in fields(ElementStats)}


def _stats(d: Mapping[str, Any]) -> ElementStats:
    return ElementStats(**{k: v for k, v in d.items() if k in _STAT_NAMES})


@dataclass
class RunReport:
    """How a run ended. `outcome` is ``"completed"``, ``"stopped"`` (by
    `Running.stop`), ``"failed"``, ``"cancelled"``, ``"timed_out"``,
    ``"interrupted"`` (Ctrl-C), ``"stalled"`` (given up by `Running.wait`'s
    watch) or ``"not_run"`` (the check, an element's
    implementation or its contract had errors: see `findings`)."""

    outcome: str
    findings: list[Finding] = field(default_factory=list)
    failed_element: str | None = None
    error: BaseException | None = None
    message: str = ""
    stats: dict[str, ElementStats] = field(default_factory=dict)

    @property
    def ok(self) -> bool:
        return self.outcome in ("completed", "stopped")

    @property
    def timed_out(self) -> bool:
        return self.outcome == "timed_out"

    def summary(self) -> str:
        """The outcome and a table of every element's counters and rates."""
        head = f"run {self.outcome}"
        if self.failed_element is not None:
            head += f": element {self.failed_element!r} failed"
        if self.message:
            head += f": {self.message}"
        columns = ("element", "received", "processed", "emitted", "dropped", "rejected",
                   "failed", "retried", "skipped", "max_queue", "p50_us", "in/s", "out/s")
        rows = [columns]
        for name, s in self.stats.items():
            rows.append((name, str(s.received), str(s.processed), str(s.emitted), str(s.dropped),
                         str(s.rejected), str(s.failed), str(s.retried), str(s.skipped),
                         str(s.max_queue), f"{s.latency_p50_ns / 1000:.1f}",
                         f"{s.in_per_s:.0f}", f"{s.out_per_s:.0f}"))
        widths = [max(len(r[i]) for r in rows) for i in range(len(columns))]
        lines = [head]
        if self.stats:
            lines += ["  ".join(c.ljust(w) if i == 0 else c.rjust(w)
                                for i, (c, w) in enumerate(zip(r, widths))) for r in rows]
        return "\n".join(lines) + "\n"

    def __str__(self) -> str:
        return self.summary()


class Running:
    """A pipeline that `start` started. Signals name sources by element
    name; `wait` ends with a `RunReport`."""

    def __init__(self, findings: list[Finding], names: list[str] | None = None,
                 kinds: list[int] | None = None, handle: Any = None,
                 clock: Any = None, report: RunReport | None = None,
                 nodes: list[tuple[Any, ...]] | None = None, trace: str | Path | None = None,
                 checked: CheckResult | None = None) -> None:
        self.findings = findings
        #: The check of the pipeline (without the findings made when starting it).
        self.checked = checked
        self._names = names or []
        self._kinds = kinds or []
        self._handle = handle
        self._clock = clock
        self._report = report
        self._interrupted = False
        self._inputs = [list(n[2]) for n in nodes or ()]
        self._capacities = [int(n[6]) for n in nodes or ()]
        self._trace = trace
        #: (events written, events lost) once the trace file is written.
        self.trace_written: tuple[int, int] | None = None
        if handle is not None:
            _live.add(self)

    # ---- control signals ----

    def flush(self) -> None:
        """Release every partial batch and window now."""
        if self._handle is not None:
            self._handle.flush()

    def eos(self, source: str) -> None:
        """End `source` as if it had ended itself."""
        if self._handle is not None:
            self._handle.eos(self._source(source))

    def cancel(self) -> None:
        """Cancel: executions in flight are told to stop, queued items dropped."""
        if self._handle is not None:
            self._handle.cancel()

    def interrupt(self) -> None:
        """Cancel, to be reported as interrupted (what Ctrl-C in `wait` does)."""
        self._interrupted = True
        self.cancel()

    def stop(self) -> None:
        """Stop gracefully: the sources end and everything queued drains."""
        if self._handle is not None:
            self._handle.stop()

    def seek(self, source: str, target_ns: int) -> None:
        """Ask a source that implements `seek` to move to `target_ns`."""
        if self._handle is not None:
            self._handle.seek(self._source(source), target_ns)

    def _source(self, name: str) -> int:
        for i, (n, kind) in enumerate(zip(self._names, self._kinds)):
            if n == name:
                if kind != 0:
                    raise ValueError(f"element {name!r} is not a source")
                return i
        raise KeyError(f"no element named {name!r}")

    # ---- the end ----

    def stats(self, name: str) -> ElementStats:
        """An element's counters now."""
        if self._handle is None:
            raise RuntimeError("the pipeline did not run")
        return _stats(self._handle.stats(self._names.index(name)))

    def snapshot(self) -> Snapshot:
        """Every element's live state and counters now."""
        from .observe import Snapshot
        if self._handle is None:
            raise RuntimeError("the pipeline did not run")
        names = _unique(self._names)
        stats = {n: _stats(self._handle.stats(i)) for i, n in enumerate(names)}
        return Snapshot.of(self._handle.snapshot(), names, self._inputs, self._capacities, stats)

    @property
    def ended(self) -> bool:
        return self._handle is None or self._handle.ended()

    def wait(self, timeout: float | None = None, *, watch: Callable[[], bool] | None = None,
             every: float = 0.25) -> RunReport:
        """Wait for the end. A run still going after `timeout` seconds is
        cancelled and reported as timed out; Ctrl-C cancels it and reports
        it interrupted. Every started element's `stop` has run by then.
        `watch` is called every `every` seconds meanwhile; when it returns
        true the run is abandoned at once (executions that never return are
        left behind) and reported as stalled."""
        if self._report is not None:
            return self._report
        handle = self._handle
        outcome = "interrupted" if self._interrupted else None
        ended: bool | None
        try:
            ended = handle.poll(timeout) if watch is None else \
                self._poll(timeout, watch, every)
        except KeyboardInterrupt:
            ended, outcome = False, "interrupted"
        if ended is None:
            self._report = self._make_report(handle.abandon(), "stalled")
            _live.discard(self)
            return self._report
        if not ended:
            outcome = outcome or "timed_out"
            handle.cancel()
        result: dict[str, Any] | None = None
        while result is None:
            try:
                handle.poll(None)
                result = handle.finish()
            except KeyboardInterrupt:       # again: stop waiting for executions
                result = handle.abandon()
        self._report = self._make_report(result, outcome)
        _live.discard(self)
        return self._report

    def _poll(self, timeout: float | None, watch: Callable[[], bool],
              every: float) -> bool | None:
        """Whether the run ended within `timeout`, calling `watch` every
        `every` seconds; None when `watch` gave up on it."""
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            left = None if deadline is None else max(0.0, deadline - time.monotonic())
            if self._handle.poll(every if left is None else min(every, left)):
                return True
            if left is not None and left <= every:
                return False
            if watch():
                return None

    def _make_report(self, result: dict[str, Any], outcome: str | None) -> RunReport:
        if self._trace is not None:
            written, lost = self.trace_written = self._handle.write_trace(self._trace)
            if lost:
                warnings.warn(f"trace {str(self._trace)!r}: {lost} of {written + lost} events "
                              "were not recorded (the trace's buffers were full)", stacklevel=3)
        names = _unique(self._names)
        stats = {n: _stats(s) for n, s in zip(names, result["stats"])}
        report = RunReport(outcome or result["outcome"], self.findings, stats=stats,
                           message=result["message"])
        at = result["failed_element"]
        if result["outcome"] == "failed" and at is not None:
            report.failed_element = names[at]
            report.error = result["error"] or RuntimeError(result["message"])
        if report.ok:
            for n, e in zip(names, result["stop_errors"]):
                if e is not None:
                    report.outcome, report.failed_element, report.error = "failed", n, e
                    report.message = f"stop() of element {n!r} raised {type(e).__name__}: {e}"
                    break
        return report


_live: weakref.WeakSet[Running] = weakref.WeakSet()


@atexit.register
def _end_all() -> None:
    # The runtime's threads must be gone before the interpreter is.
    for running in list(_live):
        running.cancel()
        running.wait()


def _unique(names: list[str]) -> list[str]:
    seen: dict[str, int] = {}
    out = []
    for n in names:
        seen[n] = seen.get(n, 0) + 1
        out.append(n if seen[n] == 1 else f"{n}#{seen[n]}")
    return out


def start(pipeline: str | Path | Pipeline, *, elements: Mapping[str, type[Element]] | None = None,
          providers: str | Path | None = None, clock: Any = None, strict: bool = False,
          workers: int = 0, trace: str | Path | None = None,
          trace_events: int = TRACE_EVENTS, cluster: Any = None,
          place: Mapping[str, str] | None = None,
          replicas: Mapping[str, int] | None = None,
          settings: Mapping[str, str] | None = None) -> Running:
    """Check `pipeline` (a description file or a `Pipeline`) and start it.
    `elements` maps element type ids to `Element` subclasses and wins over
    the providers' `entry` points; `clock` is a `VirtualClock` for tests. A
    pipeline that cannot run gives a handle whose `wait` reports why.
    With `trace`, the run's events (at most `trace_events` of them) are
    written to that file when it ends, in the Chrome trace event format
    (open it in Perfetto's UI or chrome://tracing). `settings` map
    ``element.key`` to a config value that replaces a description file's.
    With `cluster` (a `distributed.Client`) its placement groups run on the
    cluster's workers (`kelo.cluster`; `place` and `replicas` add to the
    file's placement; the groups' traces come back into one file)."""
    if cluster is not None:
        from ..cluster import start as start_on
        return start_on(pipeline, cluster=cluster, elements=elements,  # type: ignore[return-value]
                        providers=providers, strict=strict, place_in=place, replicas=replicas,
                        settings=settings, trace=trace, trace_events=trace_events)
    from ..checker import check     # the checker reads execution tables with .contract
    result = check(pipeline, providers, strict=strict, settings=settings)
    findings = list(result.findings)
    if result.errors:
        return Running(findings, report=RunReport("not_run", findings), checked=result)
    plan = _Planner(result, {**BUILTIN, **(elements or {})}, findings)
    nodes, edges = plan.build()
    if any(f.severity == "error" for f in findings) or plan.failure is not None:
        report = RunReport("not_run", findings)
        if plan.failure is not None:
            report.outcome = "failed"
            report.failed_element, report.error = plan.failure
            report.message = f"{type(plan.failure[1]).__name__}: {plan.failure[1]}"
        return Running(findings, report=report, checked=result)
    handle = start_plan(nodes, edges, clock, workers, trace_events if trace else 0)
    return Running(findings, [n[0] for n in nodes], [n[1] for n in nodes], handle, clock,
                   nodes=nodes, trace=trace, checked=result)


def start_plan(nodes: list[Any], edges: list[Any], clock: Any, workers: int,
               trace_events: int) -> Any:
    """Start a built plan in the native runtime, with frames' pixels shared
    on fan-out and released when the runtime drops them."""
    from ..elements import pixels
    return _native.start_run(nodes, edges, clock, workers, trace_events,
                             (pixels._store, pixels.share_value, pixels.release_value))


def run(pipeline: str | Path | Pipeline, *, elements: Mapping[str, type[Element]] | None = None,
        providers: str | Path | None = None, timeout: float | None = None, clock: Any = None,
        strict: bool = False, workers: int = 0, trace: str | Path | None = None,
        trace_events: int = TRACE_EVENTS, cluster: Any = None,
        place: Mapping[str, str] | None = None,
        replicas: Mapping[str, int] | None = None,
        settings: Mapping[str, str] | None = None) -> RunReport:
    """`start`, then `wait(timeout)`."""
    return start(pipeline, elements=elements, providers=providers, clock=clock, strict=strict,
                 workers=workers, trace=trace, trace_events=trace_events, cluster=cluster,
                 place=place, replicas=replicas, settings=settings).wait(timeout)


class _Planner:
    """The native plan of a checked pipeline: nodes (implementation,
    contract, ports) and edges, with findings for what cannot run."""

    def __init__(self, result: CheckResult, elements: Mapping[str, type[Element]],
                 findings: list[Finding]) -> None:
        self.r = result
        self.elements = elements
        self.findings = findings
        self.failure: tuple[str, BaseException] | None = None
        path = result.description.path
        self.beside = [str(Path(path).resolve().parent)] if not path.startswith("<") else []

    def error(self, code: str, message: str, index: int, at: Location | None = None,
              provider: str | None = None) -> None:
        e = self.r.built.elements[index]
        self.findings.append(Finding(code, message, at or self.r.description.element_at(index), (e.name,),
                                     (str(self.r.built.ids[index]),), provider=provider))

    def implementation(self, index: int) -> type[Element] | None:
        e = self.r.built.elements[index]
        cls = self.elements.get(e.type.type_id)
        if cls is not None:
            return cls
        decision = self.r.plan[index] if self.r.plan is not None else None
        chosen = decision.chosen if decision is not None else None
        if chosen is None:
            self.error("K501", f"element {e.name!r}: nothing implements type {e.type.type_id!r} "
                       "(declare a provider with an entry, or pass elements=)", index)
            return None
        entry = getattr(chosen, "entry", None)
        if not entry:
            self.error("K501", f"element {e.name!r}: provider {chosen.id!r} chosen for it has no "
                       "entry", index, chosen.location, chosen.id)
            return None
        try:
            found = import_entry(entry, self.beside)
        except KeyboardInterrupt:
            raise
        except BaseException as exc:  # noqa: BLE001 (any import failure is reported)
            self.error("K502", f"element {e.name!r}: entry {entry!r} of provider {chosen.id!r} "
                       f"cannot be imported: {type(exc).__name__}: {exc}", index,
                       chosen.location, chosen.id)
            return None
        if not (isinstance(found, type) and issubclass(found, Element)):
            self.error("K502", f"element {e.name!r}: entry {entry!r} of provider {chosen.id!r} "
                       "is not a kelo.Element subclass", index, chosen.location, chosen.id)
            return None
        return found

    def build(self) -> tuple[list[tuple[Any, ...]], list[tuple[int, int, int, int]]]:
        b = self.r.built
        d = self.r.description
        tables = getattr(d, "execution_tables", [])
        nodes: list[tuple[Any, ...]] = []
        for index, e in enumerate(b.elements):
            cls = self.implementation(index)
            if cls is None:
                continue
            t = e.type
            base = t.execution if t.execution is not None else cls.contract
            table = tables[index] if index < len(tables) else None
            contract, extras, problems = contract_from_table(table or {}, base, t.inputs)
            for path, kind, message in problems:
                at = d.element_at(index, "execution", *path)
                self.error(PROBLEM_CODES[kind], f"element {e.name!r}: {message}", index, at)
            inputs, outputs = list(t.inputs), list(t.outputs)
            join = [inputs.index(p) for p in extras.get("join_ports", ()) if p in inputs]
            if not join and "join_ports" not in extras:
                by_id = {pid: k for k, pid in enumerate(b.port_lists[index][:len(inputs)])}
                join = [by_id[p] for p in contract.join_ports if p in by_id]
            fields = fields_of(contract)
            native = getattr(cls, "native", None)
            if native:
                element: Any = native
            elif self.failure is None:
                try:
                    element = cls()
                    element.name = e.name
                    element.config = dict(e.config)
                except Exception as exc:  # noqa: BLE001 (reported as the run's failure)
                    self.failure = (e.name, exc)
                    continue
            else:
                continue
            nodes.append((e.name, _KINDS.get(t.kind, 1), inputs, outputs, contract, join,
                          extras.get("queue_size", cls.queue_size),
                          extras.get("retries", cls.retries),
                          extras.get("confirm_timeout_ns", cls.confirm_timeout_ns),
                          element, fields.get("key", "")))
        edges: list[tuple[int, int, int, int]] = []
        for k, link in enumerate(b.edges):
            source, target = b.ends[k]
            s, r = b.port(source), b.port(target)
            if link.pad is not None or s is None or r is None:
                where = d.link_at(k)
                self.findings.append(Finding("K503", f"link {link}: the runtime runs links "
                                             "between declared ports only", where, links=(k,)))
                continue
            si, ti = s[0], r[0]
            edges.append((si, list(b.elements[si].type.outputs).index(s[2]),
                          ti, list(b.elements[ti].type.inputs).index(r[2])))
        return nodes, edges
