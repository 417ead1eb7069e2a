"""The checker: one ordered report of findings for a pipeline description.

`check` holds, in this order: the findings about the file itself; the core
validation's errors and warnings, each told by element and port names and
placed at its entry of the file through two tables (the core's finding kind
-> code and message; element or link index -> file location); the checks
the core does not make (warnings); and, when any provider is declared, the
provider plan from the core's own selection walk: for every element the
chosen provider or an error, for every candidate not chosen the reason, and
for every requirement met only by assumption a note. The findings of the
first three stages come in file order. With ``strict=True`` a choice that
fell back because a better candidate failed a requirement (or was built for
another ABI), and a requirement met only by assumption, are errors.

Built-in element types (`kelo.elements`) need no provider table: when no
provider of the file declares such a type, the shipped manifest's
``kelo.builtin`` provider of it takes part in the plan. An element of a
built-in type whose providers are all ``kelo.builtin`` has its ``config``
checked against the type's keys (K311, at the key) and its libraries
looked for (K312, at the type): a missing one is found here, not when the
run imports it.
"""

from __future__ import annotations

import difflib
from collections import Counter
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import NamedTuple

from kelo.ext.graph import PyElementTypeId, PyPortId
from kelo.ext.provider import (PyProviderRegistry, PyRequirement, abi_current_version,
                               abi_is_compatible)

from .._native import GraphFinding, select, validate
from ..pipeline import Built, Pipeline, selection_policy, split_ref
from .description import Description, ProviderSpec, builtin_providers, load
from .findings import Finding, Location

__all__ = ["Candidate", "CheckResult", "Decision", "check", "check_file", "check_pipeline"]


class Candidate(NamedTuple):
    """One candidate provider for an element and the verdict on it."""

    provider: ProviderSpec
    verdict: str        # chosen, fails_requirement, outranked, not_manual_choice, incompatible_abi
    reason: str         # empty for the chosen one
    failed: str | None = None           # the requirement failed, as written
    assumed: tuple[str, ...] = ()       # requirements met only by assumption


class Decision(NamedTuple):
    """The provider decision for one element; none is made (`chosen` None, no
    candidates) when a requirement or the policy in `unread` cannot be read."""

    element: str
    type: str
    policy: str
    requirements: tuple[str, ...]       # as written
    chosen: ProviderSpec | None
    candidates: tuple[Candidate, ...]
    unread: tuple[str, ...] = ()


@dataclass
class CheckResult:
    """Everything `check` found, and what the pictures need to draw it."""

    description: Description
    built: Built
    findings: list[Finding]
    plan: list[Decision] | None = None          # None: no provider declared

    @property
    def errors(self) -> int:
        return sum(1 for f in self.findings if f.severity == "error")

    def decision(self, element: str) -> Decision | None:
        return next((d for d in self.plan or () if d.element == element), None)


def check_file(path: str | Path, providers: str | Path | None = None, *,
               strict: bool = False, settings: Mapping[str, str] | None = None) -> CheckResult:
    """Read and check a description file (`settings`: ``element.key`` ->
    config value, replacing the file's); `ReadError` when it cannot be read."""
    return check(load(path, providers, settings), strict=strict)


def check_pipeline(pipeline: Pipeline, providers: Sequence[ProviderSpec] = (), *,
                   policy: str = "highest_priority", strict: bool = False) -> CheckResult:
    """Check a pipeline written in Python (findings carry no location);
    `policy` is one `selection_policy` reads."""
    selection_policy(policy)
    return check(Description("<pipeline>", pipeline, policy, providers=list(providers),
                             declares_providers=bool(providers)), strict=strict)


def check(description: Description, *, strict: bool = False) -> CheckResult:
    built = description.pipeline.to_graph()
    result = CheckResult(description, built, list(description.findings))
    _Core(result).run()
    _extra(result)
    d = description
    _shipped(d)
    _builtin(result)
    if any(d.places) or d.replicas:
        from ..cluster.placement import file_cut_findings
        result.findings += file_cut_findings(d)
    # The first three stages in file order; the plan in element order.
    result.findings.sort(key=lambda f: (f.code[1],) if f.code[1] == "4" or f.location is None
                         else (f.code[1], f.location.file != d.path, *f.location))
    if d.declares_providers:
        _plan(result, strict)
    return result


def _near(name: str, options: Sequence[str]) -> str:
    near = difflib.get_close_matches(name, options, n=1)
    return f" (did you mean {near[0]!r}?)" if near else ""


# ---- the core's findings ----------------------------------------------------

class _Core:
    """The core validation's findings, told by name and placed in the file."""

    def __init__(self, result: CheckResult) -> None:
        self.r, self.b, self.d = result, result.built, result.description

    def run(self) -> None:
        for f in validate(self.b.graph):
            code, where, message = _KINDS[f.kind]
            at: Location | None = None
            if f.edges and (where == "link" or not f.elements):
                at = self.d.link_at(f.edges[0])
            # Elements the pipeline did not make (a graph changed by hand) have no name.
            elements = tuple(i for i in f.elements if i < len(self.b.elements)) or tuple(
                i for p in f.ports[:1] if (i := self.b.owner.get(p)) is not None)
            if at is None and elements:
                at = self.d.element_at(elements[0])
            self.r.findings.append(Finding(
                code, message(self, f), at, tuple(self.b.elements[i].name for i in elements),
                tuple(str(self.b.ids[i]) for i in elements), tuple(str(p) for p in f.ports),
                f.edges))

    def ref(self, port: PyPortId) -> str:
        return self.b.ports.get(port, str(port))

    def link(self, f: GraphFinding) -> str:
        return f"link {self.ref(f.ports[0])} -> {self.ref(f.ports[1])}"

    def direction(self, f: GraphFinding) -> str:
        ends = [(found[1] if (found := self.b.port(p)) else "port", self.ref(p)) for p in f.ports]
        return (f"{self.link(f)}: {' '.join(ends[0])} to {' '.join(ends[1])}; a link runs from "
                "an output to an input")

    def contracts(self, f: GraphFinding) -> str:
        c = [str(found[3]) if (found := self.b.port(p)) else "?" for p in f.ports]
        return f"{self.link(f)}: contract {c[0]} does not fit {c[1]}"

    def missing(self, f: GraphFinding) -> str:
        ref = self.ref(f.ports[0])
        element, port = split_ref(ref)
        p = self.d.pipeline
        if element in p:
            t = p.element(element).type
            what = f"element {element!r} has no port {port!r}{_near(port, [*t.inputs, *t.outputs])}"
        else:
            what = f"no element named {element!r}{_near(element, [e.name for e in p])}"
        return f"link {self.b.edges[f.edges[0]] if f.edges else ref}: {what}"

    def dynamic(self, f: GraphFinding) -> str:
        name = f.element_name or ""
        return (f"dynamic {self.link(f)}: no element named {name!r}"
                f"{_near(name, [e.name for e in self.d.pipeline])}")

    def cycle(self, f: GraphFinding) -> str:
        names = [self.b.elements[i].name for i in f.elements]
        return "cycle: " + " -> ".join(names + names[:1])

    def repeated(self, f: GraphFinding) -> str:
        if f.ports:
            return f"port id {f.ports[0]} of {self.ref(f.ports[0])} is repeated"
        i = f.elements[0]
        return f"element id {self.b.ids[i]} of {self.b.elements[i].name!r} is repeated"

    def deferred(self, f: GraphFinding) -> str:
        link = self.b.edges[f.edges[0]]
        return (f"late link {link}: source port {link.source} does not exist yet; it is left to "
                "run time")


# core kind -> (code, where a file places it: "link" or "element", message)
_KINDS: dict[str, tuple[str, str, Callable[[_Core, GraphFinding], str]]] = {
    "EdgeReferencesMissingPort": ("K201", "link", _Core.missing),
    "InvalidPortDirection": ("K202", "link", _Core.direction),
    "PortNotOwnedByElement": ("K203", "element",
                              lambda c, f: f"port {c.ref(f.ports[0])} belongs to no element"),
    "DuplicateElementId": ("K204", "element", _Core.repeated),
    "DuplicatePortId": ("K205", "element", _Core.repeated),
    "ContractMismatch": ("K206", "link", _Core.contracts),
    "CycleDetected": ("K207", "element", _Core.cycle),
    "DynamicSourceElementNotFound": ("K208", "link", _Core.dynamic),
    "UnresolvedLateBinding": ("K209", "link", _Core.deferred),
}


# ---- checks the core does not make ----------------------------------------

def _extra(r: CheckResult) -> None:
    b, d, out = r.built, r.description, r.findings
    if not b.elements:
        out.append(Finding("K307", "the pipeline has no elements",
                           d.positions.of("pipeline") if d.positions else None))
    fed = Counter(t for _, t in b.ends)
    seen: dict[tuple[str, str, str | None, bool], int] = {}
    for k, link in enumerate(b.edges):
        key = (link.source, link.target, link.pad, link.late)
        first = seen.setdefault(key, k)
        if first != k:
            where = d.link_at(first)
            also = f" (first at line {where.line})" if where else ""
            out.append(Finding("K304", f"link {link} is repeated{also}", d.link_at(k), links=(k,)))
        elif link.late and link.pad is None and link.source_element not in d.pipeline:
            out.append(Finding("K305", f"late link {link}: no element named "
                               f"{link.source_element!r} appears in the pipeline", d.link_at(k),
                               links=(k,)))
    for i, (e, ports) in enumerate(zip(b.elements, b.port_lists)):
        ids = (str(b.ids[i]),)
        if not ports:
            out.append(Finding("K306", f"element {e.name!r} has no ports: nothing flows through it",
                               d.element_at(i), (e.name,), ids))
        for p, pid in zip(e.type.inputs, ports):
            if not fed[pid]:
                out.append(Finding("K301", f"input {e.name}.{p} has no incoming link",
                                   d.element_at(i, "inputs", p), (e.name,), ids, (str(pid),)))


# ---- built-in element types ----------------------------------------------

_BUILTIN = "kelo.builtin"


def _shipped(d: Description) -> None:
    """Add the shipped providers of the built-in types the pipeline uses and
    no provider of the file declares."""
    declared = {t for p in d.providers for t in p.element_types} | \
        {t for u in d.unused for t in u.element_types}
    wanted = {e.type.type_id for e in d.pipeline} - declared
    added = [p for p in builtin_providers() if wanted.intersection(p.element_types)]
    if added:
        d.providers.extend(added)
        d.declares_providers = True


def _builtin(r: CheckResult) -> None:
    from .. import elements     # its checks import no media library
    d = r.description
    providers: dict[str, set[str]] = {}
    for p in d.providers:
        for t in p.element_types:
            providers.setdefault(t, set()).add(p.id)
    for i, e in enumerate(r.built.elements):
        t = e.type.type_id
        if t not in elements.TYPE_IDS or providers.get(t) != {_BUILTIN}:
            continue
        ids = (e.name,), (str(r.built.ids[i]),)
        for key, message in elements.check_config(t, e.config):
            given = (e.name, key) in d.settings
            at = None if given else d.element_at(i, "config", key)
            r.findings.append(Finding("K311", f"element {e.name!r} config: {message}"
                                      + (" (set on the command line)" if given else ""), at, *ids))
        missing = elements.missing_library(t)
        if missing is not None:
            r.findings.append(Finding("K312", f"element {e.name!r}: {missing}",
                                      d.element_at(i, "type"), *ids))


# ---- the provider plan ----------------------------------------------------

class _Outcome(NamedTuple):
    """A decision shared by the elements of one type, requirements and
    policy, and its findings: (code, message, place, provider)."""

    chosen: ProviderSpec | None
    candidates: tuple[Candidate, ...]
    findings: tuple[tuple[str, str, Location | None, str | None], ...]


def _plan(r: CheckResult, strict: bool) -> None:
    d = r.description
    registry = PyProviderRegistry()
    listed: dict[str, list[ProviderSpec]] = {}      # candidates, in registry order
    foreign: dict[str, list[ProviderSpec]] = {}     # built for another ABI
    current = abi_current_version()
    for p in d.providers:
        if abi_is_compatible(p.abi):
            registry.register(p.descriptor())
            for t in p.element_types:
                listed.setdefault(t, []).append(p)
        else:
            r.findings.append(Finding("K406", f"provider {p.id!r} is built for ABI {p.abi}, "
                                      f"this build supports {current}: never a candidate",
                                      p.location, provider=p.id))
            for t in dict.fromkeys(p.element_types):
                foreign.setdefault(t, []).append(p)
    r.plan = []
    decided: dict[tuple[object, ...], _Outcome] = {}
    for i, e in enumerate(r.built.elements):
        texts = (d.requires[i] if i < len(d.requires) else None) or \
            tuple(q.kind() for q in e.requires)
        unread = d.unread[i] if i < len(d.unread) else ()
        if e.policy is None and not d.policy_read:
            unread += (d.policy,)
        policy = e.policy or d.policy
        t = e.type.type_id
        r.plan.append(Decision(e.name, t, policy, texts, None, (), unread))
        if unread:
            continue
        key = (t, texts, policy)
        outcome = decided.get(key)
        if outcome is None:
            outcome = decided[key] = _decide(r, e.requires, t, texts, policy, registry,
                                             listed.get(t, []), foreign.get(t, []), strict)
        r.plan[-1] = r.plan[-1]._replace(chosen=outcome.chosen, candidates=outcome.candidates)
        for code, message, at, provider in outcome.findings:
            r.findings.append(Finding(code, f"element {e.name!r}: {message}",
                                      at or d.element_at(i), (e.name,), (str(r.built.ids[i]),),
                                      provider=provider))


def _decide(r: CheckResult, requirements: Sequence[PyRequirement], t: str, texts: tuple[str, ...],
            policy: str, registry: PyProviderRegistry, listed: list[ProviderSpec],
            foreign: list[ProviderSpec], strict: bool) -> _Outcome:
    s = select(registry, PyElementTypeId(t), requirements, selection_policy(policy))
    chosen = None if s.chosen is None else listed[s.chosen]
    manual = policy.partition(":")[2] if policy.startswith("manual:") else None
    candidates = []
    for p, v in zip(listed, s.candidates):
        failed = None if v.failed is None else texts[v.failed]
        reason = ""
        if failed is not None:
            reason = f"fails requirement {failed}"
        elif v.verdict == "not_manual_choice":
            reason = f"the policy chooses {manual!r} by hand"
        elif v.verdict == "outranked" and chosen is not None:
            reason = (f"{chosen.id!r} comes first" if policy == "first_available" else
                      f"an earlier entry of {chosen.id!r} was chosen" if manual else
                      f"outranked by {chosen.id!r} (priority {chosen.priority})")
        candidates.append(Candidate(p, v.verdict, reason, failed,
                                    tuple(texts[j] for j in v.assumed)))
    current = abi_current_version()
    candidates += [Candidate(p, "incompatible_abi",
                             f"built for ABI {p.abi}, this build supports {current}")
                   for p in foreign]
    out: list[tuple[str, str, Location | None, str | None]] = []
    if chosen is not None:
        out.append(("K400", f"provider {chosen.id!r} {chosen.version} chosen by "
                    f"{policy.partition(':')[0]} (priority {chosen.priority})", None, chosen.id))
        for text in candidates[s.chosen or 0].assumed:
            out.append(("K409" if strict else "K408", f"requirement {text} is taken as met by "
                        f"{chosen.id!r}: selection does not check it", None, chosen.id))
    elif s.error == "no_provider":
        d = r.description
        unused = "".join(f"; provider {p.id!r} (line {p.location.line}) declares it but is not "
                         "used" for p in d.unused if t in p.element_types)
        declared = {x for p in d.providers for x in p.element_types}
        out.append(("K402", f"no provider implements type {t!r}"
                    f"{unused or _near(t, sorted(declared))}", None, None))
    elif s.error == "unsatisfied":
        out.append(("K403", f"no provider satisfies the requirements [{', '.join(texts)}]",
                    None, None))
    else:
        out.append(("K404", f"provider {manual!r} chosen by the policy is not a candidate",
                    None, None))
    out += [("K401", f"candidate {c.provider.id!r} not chosen: {c.reason}", c.provider.location,
             c.provider.id) for c in candidates if c.verdict != "chosen"]
    if strict and chosen is not None and manual is None:
        better = [c for c in candidates if c.provider.priority > chosen.priority
                  and c.verdict in ("fails_requirement", "incompatible_abi")]
        if better:
            best = max(better, key=lambda c: c.provider.priority)
            out.append(("K405", f"fell back to {chosen.id!r} (priority {chosen.priority}) because "
                        f"{best.provider.id!r} (priority {best.provider.priority}) {best.reason}",
                        None, chosen.id))
    return _Outcome(chosen, tuple(candidates), tuple(out))
