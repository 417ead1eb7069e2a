"""Running a pipeline on a Dask cluster: the driver side.

`start` checks the pipeline and plans it as a run in one process would,
places its elements in groups, reports what the cut makes impossible, and
starts one `GroupActor` per group copy on the cluster's workers (spread
over them in turn). `ClusterRunning` sends the control signals to the
groups that hold what they name, and `wait` gathers every group's end into
one `ClusterReport`: the first failure anywhere cancels every group and is
reported with its element, its worker and its traceback; a worker lost
mid-run fails the run naming the groups it held.
"""

from __future__ import annotations

import json
import sys
import time
from collections.abc import Mapping
from dataclasses import dataclass, field, fields
from pathlib import Path
from typing import Any

from kelo.ext.execution import PyExecutionContract

from ..checker.findings import Finding
from ..pipeline import Pipeline
from ..runtime.contract import fields_of
from ..runtime.element import Element
from ..runtime.running import BUILTIN, TRACE_EVENTS, ElementStats, RunReport, _Planner
from .group import GroupActor, GroupRecipe, NodeRecipe
from .placement import Placement, cut_findings, locators, place

__all__ = ["ClusterReport", "ClusterRunning", "RemoteError", "start"]

#: Items a sender takes from its queue at most per delivery.
BATCH = 64
#: Items a receiving inbox holds at most.
CREDIT = 256
# How often `wait` looks at the groups and the workers.
_POLL_S = 0.05
_GRACE_S = 10.0
# How long a failed delivery waits for the scheduler to tell of a lost worker.
_LOSS_S = 2.0


class RemoteError(Exception):
    """A failure in a group on a worker; the worker's traceback is a note."""

    def __init__(self, message: str, group: str, worker: str, remote_traceback: str = "") -> None:
        super().__init__(message)
        self.group = group
        self.worker = worker
        self.remote_traceback = remote_traceback
        if remote_traceback:
            self.add_note(f"in group {group!r} on worker {worker}:\n{remote_traceback.rstrip()}")


@dataclass
class ClusterReport(RunReport):
    """A `RunReport` of a run on a cluster: also where each group copy ran
    (``"group"`` or ``"group/k"`` -> worker address), the offset of each
    worker's clock from the driver's, and the most items each crossing
    link's inbox held with the deliveries that waited for credit."""

    workers: dict[str, str] = field(default_factory=dict)
    clock_offsets_ns: dict[str, int] = field(default_factory=dict)
    inboxes: dict[str, tuple[int, int]] = field(default_factory=dict)
    failed_worker: str | None = None


def _merge(a: ElementStats, b: ElementStats) -> ElementStats:
    """The counters of two copies of an element, as one."""
    out: dict[str, Any] = {}
    for f in fields(ElementStats):
        x, y = getattr(a, f.name), getattr(b, f.name)
        if f.name == "drops":
            out[f.name] = {k: x.get(k, 0) + y.get(k, 0) for k in {*x, *y}}
        elif f.name.startswith(("max_", "latency_", "mean_", "elapsed")):
            out[f.name] = max(x, y)
        else:
            out[f.name] = x + y
    return ElementStats(**out)


def _name(copy: tuple[str, int], copies: int) -> str:
    return copy[0] if copies == 1 else f"{copy[0]}/{copy[1]}"


class ClusterRunning:
    """A pipeline running on a cluster; the same signals as `Running`."""

    def __init__(self, client: Any, findings: list[Finding], placement: Placement,
                 actors: dict[tuple[str, int], Any], workers: dict[tuple[str, int], str],
                 offsets: dict[tuple[str, int], int], order: list[str], sources: set[str],
                 homes: dict[str, str] | None = None, report: RunReport | None = None,
                 trace: str | Path | None = None) -> None:
        self.client = client
        self.findings = findings
        self.placement = placement
        self._actors = actors
        self._workers = workers
        self._offsets = offsets
        self._order = order                 # groups, upstream first
        self._sources = sources
        self._homes = homes or {}       # node name (crossing ends too) -> group
        self._report = report
        self._waits: dict[tuple[str, int], Any] = {}
        self._interrupted = False
        self._trace = trace
        #: (events written, events lost) once the trace file is written.
        self.trace_written: tuple[int, int] | None = None

    def _group(self, name: str) -> list[Any]:
        group = self._homes.get(name)
        if group is None:
            raise KeyError(f"no element named {name!r}")
        return [a for (g, _), a in self._actors.items() if g == group]

    def _all(self, what: str, *args: Any) -> None:
        for group in self._order:
            for (g, _), actor in self._actors.items():
                if g == group:
                    actor.signal(what, *args).result()

    def flush(self) -> None:
        self._all("flush")

    def eos(self, source: str) -> None:
        actors = self._group(source)
        if source not in self._sources:
            raise ValueError(f"element {source!r} is not a source")
        for actor in actors:
            actor.signal("eos", source).result()

    def seek(self, source: str, target_ns: int) -> None:
        for actor in self._group(source):
            actor.signal("seek", source, target_ns).result()

    def cancel(self) -> None:
        self._all("cancel")

    def interrupt(self) -> None:
        self._interrupted = True
        self.cancel()

    def stop(self) -> None:
        """Stop gracefully: the sources end and what is queued drains, across
        every cut."""
        for (group, _), actor in self._actors.items():
            if any(self.placement.groups[s] == group for s in self._sources):
                actor.signal("stop").result()

    def stats(self, name: str) -> ElementStats:
        """An element's counters now (summed over the copies of its group)."""
        merged: ElementStats | None = None
        for actor in self._group(name):
            s = ElementStats(**actor.stats().result()[name])
            merged = s if merged is None else _merge(merged, s)
        assert merged is not None
        return merged

    def inboxes(self) -> dict[str, tuple[int, int, int]]:
        """Per crossing link (and receiving copy): items held now, the most
        ever held, deliveries that waited for credit."""
        out: dict[str, tuple[int, int, int]] = {}
        for (g, k), actor in self._actors.items():
            for link, counts in actor.inbox_counts().result().items():
                out[link if self.placement.replicas[g] == 1 else f"{link}/{k}"] = counts
        return out

    def wait(self, timeout: float | None = None) -> RunReport:
        if self._report is not None:
            return self._report
        deadline = None if timeout is None else time.monotonic() + timeout
        for copy, actor in self._actors.items():
            self._waits[copy] = actor.wait()
        outcome = "interrupted" if self._interrupted else None
        lost: list[str] = []
        try:
            while not all(w.done() for w in self._waits.values()):
                ended = {c: _end(w) for c, w in self._waits.items() if w.done()}
                if any(e is None for e in ended.values()):      # its worker went away
                    lost = self._lost_soon() or sorted(self._workers[c] for c, e in ended.items()
                                                       if e is None)
                if lost or any(e and e["outcome"] == "failed" for e in ended.values()):
                    break
                if not ended:
                    lost = self._lost()
                    if lost:
                        break
                if deadline is not None and time.monotonic() > deadline:
                    outcome = outcome or "timed_out"
                    break
                time.sleep(_POLL_S)
        except KeyboardInterrupt:
            outcome = "interrupted"
        if not all(w.done() for w in self._waits.values()):
            for copy, actor in self._actors.items():
                if self._workers[copy] not in lost:
                    actor.signal("cancel")
        self._report = self._gather(outcome, lost)
        return self._report

    def _lost(self) -> list[str]:
        alive = set(self.client.scheduler_info()["workers"])
        return sorted({w for w in self._workers.values() if w not in alive})

    def _lost_soon(self) -> list[str]:
        deadline = time.monotonic() + _LOSS_S
        while not (lost := self._lost()) and time.monotonic() < deadline:
            time.sleep(_POLL_S)
        return lost

    def _gather(self, outcome: str | None, lost: list[str]) -> ClusterReport:
        copies = self.placement.replicas
        report = ClusterReport("completed", self.findings,
                               workers={_name(c, copies[c[0]]): w for c, w in self._workers.items()},
                               clock_offsets_ns={_name(c, copies[c[0]]): o
                                                 for c, o in self._offsets.items()})
        ends: dict[tuple[str, int], dict[str, Any]] = {}
        for copy, w in self._waits.items():
            if self._workers[copy] in lost:
                continue
            try:
                ends[copy] = w.result(timeout=_GRACE_S)
            except Exception:  # noqa: BLE001 (a worker that went away meanwhile)
                lost = sorted({*lost, self._workers[copy]})
        for copy, end in ends.items():
            for name, s in end["stats"].items():
                st = ElementStats(**s)
                report.stats[name] = _merge(report.stats[name], st) if name in report.stats else st
            for link, (most, waits) in end["inboxes"].items():
                m, n = report.inboxes.get(link, (0, 0))
                report.inboxes[link] = (max(m, most), n + waits)
        # The first failure is the cause; the cancellations it caused are not.
        order = {g: k for k, g in enumerate(self._order)}
        failures = sorted((c for c, e in ends.items() if e["outcome"] == "failed"
                           and not _is_consequence(e)), key=lambda c: order[c[0]])
        if failures and not lost and str(ends[failures[0]]["failed_element"]).startswith("send:"):
            lost = self._lost_soon()       # a delivery fails first when its receiver's worker dies
        if lost:
            held = sorted({_name(c, copies[c[0]]) for c, w in self._workers.items() if w in lost})
            report.outcome, report.failed_worker = "failed", lost[0]
            report.message = (f"worker {', '.join(lost)} was lost during the run; it held "
                              f"group{'s' if len(held) > 1 else ''} {', '.join(map(repr, held))} "
                              "(elements are not re-run elsewhere)")
        elif failures:
            copy = failures[0]
            end = ends[copy]
            worker = self._workers[copy]
            error = end["error"] or {"type": "RuntimeError", "message": end["message"],
                                     "traceback": ""}
            report.outcome, report.failed_element = "failed", end["failed_element"]
            report.failed_worker = worker
            report.message = f"{end['message']} (group {_name(copy, copies[copy[0]])!r} on {worker})"
            report.error = RemoteError(f"{error['type']}: {error['message']}", copy[0], worker,
                                       error["traceback"])
        else:
            outcomes = {e["outcome"] for e in ends.values()}
            for candidate in ("cancelled", "timed_out", "stopped"):
                if candidate in outcomes:
                    report.outcome = candidate
        if outcome is not None and report.outcome != "failed":
            report.outcome = outcome
        if self._trace is not None:
            traces = {c: (self._label(c), e["trace"]) for c, e in ends.items() if e["trace"]}
            self.trace_written = write_trace(self._trace, traces, self._offsets)
        return report

    def _label(self, copy: tuple[str, int]) -> str:
        copies = self.placement.replicas[copy[0]]
        return f"group {copy[0] if copies == 1 else f'{copy[0]}#{copy[1]}'} on {self._workers[copy]}"


def write_trace(path: str | Path, traces: Mapping[tuple[str, int], tuple[str, dict[str, Any]]],
                offsets: Mapping[tuple[str, int], int]) -> tuple[int, int]:
    """Writes the group copies' trace documents (each with its process
    label) as one: times on the driver's clock (each group's moved by its
    worker's offset), a process per group copy and process of its trace,
    flow ids kept apart. Returns (events recorded, events lost)."""
    starts = {c: doc["otherData"]["base_ns"] - offsets[c] for c, (_, doc) in traces.items()}
    first = min(starts.values(), default=0)
    events: list[dict[str, Any]] = []
    pids: dict[tuple[tuple[str, int], int], int] = {}
    flows = recorded = lost = 0
    for c, (label, doc) in traces.items():
        shift = (starts[c] - first) / 1000
        most = 0
        for e in doc["traceEvents"]:
            e = {**e, "pid": pids.setdefault((c, e["pid"]), len(pids) + 1)}
            if e["ph"] != "M":
                e["ts"] += shift
            elif e["name"] == "process_name":   # the elements' tracks are the group's own
                name = e["args"]["name"]
                e["args"] = {"name": label if name == "elements" else f"{label}: {name}"}
            if "id" in e:
                most = max(most, e["id"])
                e["id"] += flows
            events.append(e)
        flows += most
        recorded += doc["otherData"]["events_recorded"]
        lost += doc["otherData"]["events_lost"]
    with open(path, "w", encoding="utf-8") as f:
        json.dump({"displayTimeUnit": "ns",
                   "otherData": {"events_recorded": recorded, "events_lost": lost},
                   "traceEvents": events}, f)
    return recorded, lost


def _end(wait: Any) -> dict[str, Any] | None:
    """A group's end, None when its worker could not be reached."""
    try:
        end: dict[str, Any] = wait.result()
    except Exception:  # noqa: BLE001 (whatever the transport raised)
        return None
    return end


def _is_consequence(end: dict[str, Any]) -> bool:
    error = end["error"]
    return error is not None and error["type"] == "Cancelled"


def _nodes(plan: _Planner, nodes: list[tuple[Any, ...]]) -> list[NodeRecipe]:
    out = []
    for n in nodes:
        impl, element = n[9], n[9]
        config: dict[str, str] = {}
        if not isinstance(element, str):
            impl, config = type(element), dict(element.config)
        f = fields_of(n[4])
        f.pop("join_ports", None)
        out.append(NodeRecipe(n[0], n[1], list(n[2]), list(n[3]), f, list(n[5]), n[6], n[7], n[8],
                              impl, config, n[10]))
    return out


def start(pipeline: str | Path | Pipeline, *, cluster: Any,
          elements: Mapping[str, type[Element]] | None = None,
          providers: str | Path | None = None, strict: bool = False,
          place_in: Mapping[str, str] | None = None, replicas: Mapping[str, int] | None = None,
          batch: int = BATCH, credit: int = CREDIT,
          settings: Mapping[str, str] | None = None, trace: str | Path | None = None,
          trace_events: int = TRACE_EVENTS) -> ClusterRunning:
    """Check `pipeline`, place it and start it on `cluster` (a
    `distributed.Client`). Groups come from the file's ``place`` and
    ``replicas`` keys; `place_in` (element -> group) and `replicas` add to
    them, for pipelines written in Python; `settings` replace config values
    as in `kelo.start`; with `trace` every group copy records at most
    `trace_events` events and the driver writes them to that one file."""
    from ..checker import check
    result = check(pipeline, providers, strict=strict, settings=settings)
    findings = list(result.findings)

    def not_run() -> ClusterRunning:
        return ClusterRunning(cluster, findings, Placement({}), {}, {}, {}, [], set(),
                              report=ClusterReport("not_run", findings))

    if result.errors:
        return not_run()
    d = result.description
    plan = _Planner(result, {**BUILTIN, **(elements or {})}, findings)
    nodes, edges = plan.build()
    if any(f.severity == "error" for f in findings) or plan.failure is not None:
        return not_run()
    places: dict[str, str] = {e.name: p for e, p in zip(d.pipeline.elements, d.places) if p}
    unknown = sorted(set(place_in or {}) - {e.name for e in d.pipeline.elements})
    if unknown:
        raise KeyError(f"place names no element of the pipeline: {', '.join(unknown)}")
    places.update(place_in or {})
    copies = {**d.replicas, **(replicas or {})}
    p = d.pipeline
    placement = place(p, places, copies)
    # Again with the contracts of the classes that run (the check saw the file's).
    known = {(f.code, f.message) for f in findings}
    findings += [f for f in cut_findings(p, placement, [fields_of(n[4]) for n in nodes],
                                         *locators(d)) if (f.code, f.message) not in known]
    if any(f.severity == "error" for f in findings):
        return not_run()
    recipes = _recipes(p, placement, _nodes(plan, nodes), edges, batch, credit)
    return _launch(cluster, findings, placement, recipes,
                   {e.name for e, n in zip(p.elements, nodes) if n[1] == 0}, plan.beside,
                   trace, trace_events if trace else 0)


def _recipes(p: Pipeline, placement: Placement, nodes: list[NodeRecipe],
             edges: list[tuple[int, int, int, int]], batch: int,
             credit: int) -> dict[str, GroupRecipe]:
    groups, copies = placement.groups, placement.replicas
    recipes = {g: GroupRecipe(g, [], [], batch, credit) for g in copies if g in groups.values()}
    local: dict[int, tuple[str, int]] = {}       # plan node -> (group, node in the group)
    for k, n in enumerate(nodes):
        r = recipes[groups[n.name]]
        local[k] = (r.group, len(r.nodes))
        r.nodes.append(n)
    crossing = {(p.links[k].source, p.links[k].target) for k in placement.crossings}
    for s, so, t, ti in edges:
        (gs, ls), (gt, lt) = local[s], local[t]
        if gs == gt:
            recipes[gs].edges.append((ls, so, lt, ti))
            continue
        source = f"{nodes[s].name}.{nodes[s].outputs[so]}"
        target = f"{nodes[t].name}.{nodes[t].inputs[ti]}"
        assert (source, target) in crossing
        link = f"{source}->{target}"
        send, receive = recipes[gs], recipes[gt]
        send.nodes.append(NodeRecipe(f"send:{link}", 2, ["in"], [], {}, role="send", link=link,
                                     queue_size=batch, copies=copies[gt]))
        send.edges.append((ls, so, len(send.nodes) - 1, 0))
        receive.nodes.append(NodeRecipe(f"receive:{link}", 0, [], ["out"], _default_fields(),
                                        role="receive", link=link, copies=copies[gs]))
        receive.edges.append((len(receive.nodes) - 1, 0, lt, ti))
    return recipes


def _default_fields() -> dict[str, Any]:
    f = fields_of(PyExecutionContract())
    f.pop("join_ports", None)
    return f


def _order(recipes: dict[str, GroupRecipe]) -> list[str]:
    """Groups upstream first (by the links between them)."""
    feeds: dict[str, set[str]] = {g: set() for g in recipes}
    sends = {n.link: g for g, r in recipes.items() for n in r.nodes if n.role == "send"}
    for g, r in recipes.items():
        for n in r.nodes:
            if n.role == "receive":
                feeds[g].add(sends[n.link])
    order: list[str] = []
    while len(order) < len(recipes):
        ready = [g for g in recipes if g not in order and feeds[g] <= {*order}] or \
            [next(g for g in recipes if g not in order)]        # a cycle between groups
        order.extend(ready)
    return order


def _launch(client: Any, findings: list[Finding], placement: Placement,
            recipes: dict[str, GroupRecipe], sources: set[str],
            beside: list[str], trace: str | Path | None, trace_events: int) -> ClusterRunning:
    import cloudpickle  # type: ignore[import]

    workers = sorted(client.scheduler_info()["workers"])
    if not workers:
        raise RuntimeError("the cluster has no workers")
    order = _order(recipes)
    copies = [(g, k) for g in order for k in range(placement.replicas[g])]
    where = {c: workers[i % len(workers)] for i, c in enumerate(copies)}
    blobs = {g: cloudpickle.dumps(r, protocol=5) for g, r in recipes.items()}
    paths = [*beside, *sys.path]
    futures = {c: client.submit(GroupActor, blobs[c[0]], paths, c[1], trace_events, actor=True,
                                workers=[where[c]], allow_other_workers=False, pure=False)
               for c in copies}
    actors = {c: f.result() for c, f in futures.items()}
    for (g, k), actor in actors.items():
        targets = {}
        for n in recipes[g].nodes:
            if n.role == "send":
                receiving = next(h for h, r in recipes.items()
                                 if any(m.role == "receive" and m.link == n.link for m in r.nodes))
                targets[n.link] = [actors[(receiving, j)] for j in range(placement.replicas[receiving])]
        actor.wire(targets).result()
    offsets = {c: _offset(a) for c, a in actors.items()}
    for c in reversed(copies):          # receivers are ready before anything is sent
        actors[c].start().result()
    homes = {n.name: g for g, r in recipes.items() for n in r.nodes}
    return ClusterRunning(client, findings, placement, actors, where, offsets, order, sources,
                          homes, trace=trace)


def _offset(actor: Any, rounds: int = 5) -> int:
    """The actor's monotonic clock minus the driver's, from the round trip
    with the least delay (its midpoint taken as the moment it answered)."""
    best: tuple[int, int] | None = None
    for _ in range(rounds):
        t0 = time.monotonic_ns()
        remote = actor.now_ns().result()
        t1 = time.monotonic_ns()
        if best is None or t1 - t0 < best[0]:
            best = (t1 - t0, remote - (t0 + t1) // 2)
    assert best is not None
    return best[1]
