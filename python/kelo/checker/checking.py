"""The checker: one ordered report of findings for a pipeline description.

`check` holds, in this order: the findings about the file itself; the core
validation's errors and warnings in the core's order, told by element and
port names; the checks the core does not make (warnings); and, when any
provider is declared, the provider plan: for every element the chosen
provider or an error, and for every candidate not chosen the reason, all
from the core's own selection walk (`kelo._native.explain_selection`).
With ``strict=True`` a choice that fell back because a better candidate
failed a requirement (or was built for another ABI) is an error.
"""

from __future__ import annotations

import difflib
from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass, field
from typing import NamedTuple
from pathlib import Path

from kelo.ext.graph import PyElementId, PyElementTypeId, PyPortId, PyValidationReport
from kelo.ext.provider import (PyProviderDescriptor, PyProviderRegistry, PyRequirement, PySelectionPolicy,
                               abi_current_version, abi_is_compatible)

from .. import _native
from .description import Description, ProviderSpec, load, notation
from .findings import Finding, Location
from ..pipeline import Built, Pipeline, split_ref

__all__ = ["Candidate", "CheckResult", "Decision", "check", "check_file", "check_pipeline"]

_VERDICTS = ("chosen", "fails_requirement", "outranked", "not_manual_choice")
_SELECTION_ERRORS = (("K402", "no provider implements type {type!r}"),
                     ("K403", "no provider satisfies the requirements {requirements}"),
                     ("K404", "provider {manual!r} chosen by the policy is not a candidate"))


@dataclass(frozen=True)
class Candidate:
    """One candidate provider for an element and the verdict on it."""

    provider: ProviderSpec
    verdict: str        # one of _VERDICTS, or "incompatible_abi"
    reason: str         # empty for the chosen one
    failed: PyRequirement | None = None


class Decision(NamedTuple):
    """The provider decision for one element."""

    element: str
    type: str
    policy: str
    requirements: tuple[PyRequirement, ...]
    chosen: ProviderSpec | None
    candidates: tuple[Candidate, ...]


@dataclass
class CheckResult:
    """Everything `check` found, and what the pictures need to draw it."""

    description: Description
    built: Built
    report: PyValidationReport
    findings: list[Finding]
    plan: list[Decision] | None = None          # None: no provider declared
    cycle: list[str] = field(default_factory=list)
    cycle_links: set[int] = field(default_factory=set)

    @property
    def errors(self) -> int:
        return sum(1 for f in self.findings if f.severity == "error")

    def decision(self, element: str) -> Decision | None:
        for d in self.plan or ():
            if d.element == element:
                return d
        return None


def check_file(path: str | Path, providers: str | Path | None = None, *,
               strict: bool = False) -> CheckResult:
    """Read and check a description file; `ReadError` when it cannot be read."""
    return check(load(path, providers), strict=strict)


def check_pipeline(pipeline: Pipeline, providers: Sequence[ProviderSpec] = (), *,
                   policy: PySelectionPolicy | None = None, strict: bool = False) -> CheckResult:
    """Check a pipeline authored in Python (findings carry no location)."""
    d = Description("<pipeline>", pipeline, providers=list(providers),
                    declares_providers=bool(providers))
    if policy is not None:
        d.policy, d.policy_text = policy, _policy_text(policy)
    return check(d, strict=strict)


def check(description: Description, *, strict: bool = False) -> CheckResult:
    built = description.pipeline.to_graph()
    report = built.graph.validate()
    result = CheckResult(description, built, report, list(description.findings))
    _Core(result).run()
    _extra(result)
    if description.declares_providers:
        _plan(result, strict)
    return result


# ---- locations and names ----------------------------------------------------

def _element_at(d: Description, index: int) -> Location | None:
    return d.element_locations[index] if index < len(d.element_locations) else None


def _link_at(d: Description, index: int) -> Location | None:
    return d.link_locations[index] if index < len(d.link_locations) else None


def _policy_text(policy: PySelectionPolicy) -> str:
    text = repr(policy)[len("PySelectionPolicy("):-1]
    if text.startswith("Manual("):
        return "manual:" + text[len("Manual("):-1]
    return "highest_priority" if text == "HighestPriority" else "first_available"


# ---- the core's findings ----------------------------------------------------

class _Core:
    """The core validation's errors and warnings, by name."""

    def __init__(self, result: CheckResult) -> None:
        self.r = result
        self.b = result.built
        self.d = result.description
        self._edges: dict[tuple[PyPortId, PyPortId], list[int]] | None = None

    def link_of(self, source: PyPortId, target: PyPortId) -> int | None:
        if self._edges is None:
            self._edges = {}
            for k, ends in enumerate(self.b.ends):
                self._edges.setdefault(ends, []).append(k)
        found = self._edges.get((source, target))
        return found.pop(0) if found else None

    def add(self, code: str, message: str, link: int | None = None, element: int | None = None,
            ports: Sequence[PyPortId] = (), elements: Sequence[str] = (),
            element_ids: Sequence[PyElementId] = ()) -> None:
        at = None
        if link is not None:
            at = _link_at(self.d, link)
        elif element is not None:
            at = _element_at(self.d, element)
        self.r.findings.append(Finding(
            code, message, at, tuple(elements), tuple(str(e) for e in element_ids),
            tuple(str(p) for p in ports), () if link is None else (link,)))

    def run(self) -> None:
        b = self.b
        for error in self.r.report.errors:
            kind, ports = error.kind(), error.port_ids
            names = [b.ports.get(p, str(p)) for p in ports]
            if kind == "EdgeReferencesMissingPort":
                self.missing_port(ports[0])
            elif kind in ("InvalidPortDirection", "ContractMismatch"):
                link = self.link_of(ports[0], ports[1])
                text = f"link {names[0]} -> {names[1]}"
                if kind == "InvalidPortDirection":
                    message = (f"{text}: {self.side(ports[0])} {names[0]} to {self.side(ports[1])} "
                               f"{names[1]}; a link runs from an output to an input")
                    code = "K202"
                else:
                    message = (f"{text}: contract {self.contract(ports[0])} does not fit "
                               f"{self.contract(ports[1])}")
                    code = "K206"
                self.add(code, message, link, ports=ports, elements=self.owners(ports))
            elif kind == "DynamicSourceElementNotFound":
                link = self.link_of(ports[0], ports[1])
                name = error.element_name or ""
                near = difflib.get_close_matches(name, list(b.element_ids), n=1)
                hint = f" (did you mean {near[0]!r}?)" if near else ""
                self.add("K208", f"dynamic link {names[0]} -> {names[1]}: no element named "
                         f"{name!r}{hint}", link, ports=ports, elements=self.owners(ports[1:]))
            elif kind == "CycleDetected":
                self.cycle(error.element_ids)
            elif kind == "DuplicateElementId":
                eid = error.element_ids[0]
                self.add("K204", f"element id {eid} of {b.names.get(eid, '?')!r} is repeated",
                         element_ids=error.element_ids)
            elif kind == "DuplicatePortId":
                self.add("K205", f"port id {ports[0]} of {names[0]} is repeated", ports=ports)
            else:  # PortNotOwnedByElement
                self.add("K203", f"port {names[0]} belongs to no element", ports=ports)
        self.deferred()

    def side(self, port: PyPortId) -> str:
        found = self.b.port(port)
        return found[1] if found else "port"

    def contract(self, port: PyPortId) -> str:
        found = self.b.port(port)
        return str(found[3]) if found else "?"

    def owners(self, ports: Sequence[PyPortId]) -> list[str]:
        return [self.b.elements[i].name for p in ports if (i := self.b.owner.get(p)) is not None]

    def missing_port(self, port: PyPortId) -> None:
        link = self.b.minted.get(port, (None, 0))[0]
        ref = self.b.ports.get(port, str(port))
        element, port_name = split_ref(ref)
        pipeline = self.d.pipeline
        if element in pipeline:
            t = pipeline.element(element).type
            known = list(t.inputs) + [p for p in t.outputs if p not in t.inputs]
            near = difflib.get_close_matches(port_name, known, n=1)
            hint = f" (did you mean {near[0]!r}?)" if near else ""
            what = f"element {element!r} has no port {port_name!r}{hint}"
        else:
            near = difflib.get_close_matches(element, list(self.b.element_ids), n=1)
            hint = f" (did you mean {near[0]!r}?)" if near else ""
            what = f"no element named {element!r}{hint}"
        text = str(self.b.edges[link]) if link is not None else ref
        self.add("K201", f"link {text}: {what}", link, ports=[port])

    def cycle(self, ids: Sequence[PyElementId]) -> None:
        names = [self.b.names.get(e, str(e)) for e in ids]
        self.r.cycle = names
        pairs = {(names[i], names[(i + 1) % len(names)]) for i in range(len(names))}
        for k, link in enumerate(self.b.edges):
            s, t = self.b.ends[k]
            if link.pad is None and s in self.b.owner and t in self.b.owner and \
                    (link.source_element, link.target_element) in pairs:
                self.r.cycle_links.add(k)
        index = self.b.ids.index(ids[0]) if ids and ids[0] in self.b.names else None
        self.add("K207", "cycle: " + " -> ".join(names + names[:1]), element=index,
                 elements=names, element_ids=ids)
        self.r.findings[-1] = _with_links(self.r.findings[-1], sorted(self.r.cycle_links))

    def deferred(self) -> None:
        # The core warns, in edge order, of each late link that is not
        # dynamic and whose source port does not exist: the same links in
        # the same order here.
        warnings = self.r.report.warnings
        if not warnings:
            return
        late = [k for k, link in enumerate(self.b.edges)
                if link.late and link.pad is None and self.b.ends[k][0] in self.b.minted]
        for k in late[:len(warnings)]:
            link = self.b.edges[k]
            self.add("K209", f"late link {link}: source port {link.source} does not exist yet; "
                     "it is left to run time", k, ports=[self.b.ends[k][0]])


def _with_links(f: Finding, links: Sequence[int]) -> Finding:
    return Finding(f.code, f.message, f.location, f.elements, f.element_ids, f.port_ids,
                   tuple(links), f.provider)


# ---- checks the core does not make ----------------------------------------

def _extra(r: CheckResult) -> None:
    b, d = r.built, r.description
    out = r.findings
    first_at: dict[str, int] = {}
    for index, e in enumerate(b.elements):
        if e.name in first_at:
            where = _element_at(d, first_at[e.name])
            also = f" (first at line {where.line})" if where else ""
            out.append(Finding("K302", f"element name {e.name!r} is used again{also}; links "
                               f"by this name reach the first", _element_at(d, index),
                               (e.name,), (str(b.ids[index]),)))
        else:
            first_at[e.name] = index
    counts = Counter(e.name for e in b.elements)
    fed: set[PyPortId] = {t for _, t in b.ends}
    seen: dict[tuple[str, str, str | None, bool], int] = {}
    for k, link in enumerate(b.edges):
        at = _link_at(d, k)
        key = (link.source, link.target, link.pad, link.late)
        if key in seen:
            first = _link_at(d, seen[key])
            also = f" (first at line {first.line})" if first else ""
            out.append(Finding("K304", f"link {link} is repeated{also}", at, links=(k,)))
        else:
            seen[key] = k
        if link.pad is not None and counts[link.source] > 1:
            out.append(Finding("K303", f"dynamic link {link}: {counts[link.source]} elements are "
                               f"named {link.source!r}", at, (link.source,), links=(k,)))
        elif link.late and link.pad is None and link.source_element not in first_at:
            out.append(Finding("K305", f"late link {link}: no element named "
                               f"{link.source_element!r} appears in the pipeline", at,
                               links=(k,)))
    for index, (e, ports) in enumerate(zip(b.elements, b.port_lists)):
        for p, pid in zip(e.type.inputs, ports):
            if pid not in fed:
                at = d.port_location(index, "inputs", p) or _element_at(d, index)
                out.append(Finding("K301", f"input {e.name}.{p} has no incoming link", at,
                                   (e.name,), (str(b.ids[index]),), (str(pid),)))


# ---- the provider plan ----------------------------------------------------

def _plan(r: CheckResult, strict: bool) -> None:
    d = r.description
    registry = PyProviderRegistry()
    by_type: dict[str, list[ProviderSpec]] = {}       # candidates, in registry order
    foreign: dict[str, list[ProviderSpec]] = {}       # built for another ABI
    current = abi_current_version()
    for p in d.providers:
        if abi_is_compatible(p.abi):
            registry.register(p.descriptor())
            for t in p.element_types:
                by_type.setdefault(t, []).append(p)
        else:
            r.findings.append(Finding("K406", f"provider {p.id!r} is built for ABI {p.abi}, "
                                      f"this build supports {current}: never a candidate",
                                      p.location, provider=p.id))
            for t in set(p.element_types):
                foreign.setdefault(t, []).append(p)
    r.plan = []
    type_ids: dict[str, PyElementTypeId] = {}
    found_by_type: dict[str, list[PyProviderDescriptor]] = {}
    # Elements of one type with the same requirements and policy get the same
    # decision: it is made once, and only the element's name differs.
    decided: dict[tuple[str, tuple[PyRequirement, ...], str], _Outcome] = {}
    findings = r.findings
    for index, e in enumerate(r.built.elements):
        policy_text = (d.element_policies[index] if index < len(d.element_policies) else None) \
            or (_policy_text(e.policy) if e.policy is not None else d.policy_text)
        requirements = e.requires
        type_name = e.type.type_id
        key = (type_name, requirements, policy_text)
        outcome = decided.get(key)
        if outcome is None:
            tid = type_ids.get(type_name) or type_ids.setdefault(type_name,
                                                                 PyElementTypeId(type_name))
            found = found_by_type.get(type_name)
            if found is None:
                found = found_by_type[type_name] = registry.find(tid)
            answer = _native.explain_selection(tid, found, requirements, e.policy or d.policy)
            outcome = decided[key] = _outcome(answer, by_type.get(type_name, []),
                                              foreign.get(type_name, []), type_name,
                                              requirements, policy_text, strict)
        name = e.name
        r.plan.append(Decision(name, type_name, policy_text, requirements, outcome.chosen,
                               outcome.candidates))
        at = _element_at(d, index)
        head = f"element {name!r}: "
        ids = (str(r.built.ids[index]),)
        findings.append(Finding(outcome.code, head + outcome.message, at, (name,), ids,
                                provider=outcome.chosen.id if outcome.chosen else None))
        for message, where, provider in outcome.others:
            findings.append(Finding("K401", head + message, where, (name,), ids,
                                    provider=provider))
        if outcome.fallback is not None:
            findings.append(Finding("K405", head + outcome.fallback, at, (name,), ids,
                                    provider=outcome.chosen.id if outcome.chosen else None))


@dataclass(frozen=True)
class _Outcome:
    chosen: ProviderSpec | None
    candidates: tuple[Candidate, ...]
    code: str                   # K400, or the selection error's
    message: str
    others: tuple[tuple[str, Location, str], ...]   # K401: message, where, provider
    fallback: str | None        # K405 under strict


def _outcome(answer: list[int], listed: list[ProviderSpec], foreign: list[ProviderSpec],
             type_name: str, requirements: tuple[PyRequirement, ...], policy_text: str,
             strict: bool) -> _Outcome:
    chosen_at, error = answer[0], answer[1]
    chosen = listed[chosen_at] if chosen_at >= 0 else None
    candidates: list[Candidate] = []
    for i, p in enumerate(listed):
        verdict, failed_at = _VERDICTS[answer[2 + 2 * i]], answer[3 + 2 * i]
        failed = requirements[failed_at] if failed_at >= 0 else None
        candidates.append(Candidate(p, verdict, _reason(verdict, failed, chosen, policy_text),
                                    failed))
    current = abi_current_version()
    for p in foreign:
        candidates.append(Candidate(p, "incompatible_abi",
                                    f"built for ABI {p.abi}, this build supports {current}"))
    if chosen is not None:
        code, message = "K400", (f"provider {chosen.id!r} {chosen.version} chosen by "
                                 f"{policy_text.partition(':')[0]} (priority {chosen.priority})")
    else:
        code, template = _SELECTION_ERRORS[error]
        message = template.format(
            type=type_name, manual=policy_text.partition(":")[2],
            requirements="[" + ", ".join(notation(q) for q in requirements) + "]")
    others = tuple((f"candidate {c.provider.id!r} not chosen: {c.reason}", c.provider.location,
                    c.provider.id) for c in candidates if c.verdict != "chosen")
    fallback = None
    if strict and chosen is not None and not policy_text.startswith("manual:"):
        better = [c for c in candidates if c.provider.priority > chosen.priority
                  and c.verdict in ("fails_requirement", "incompatible_abi")]
        if better:
            best = max(better, key=lambda c: c.provider.priority)
            fallback = (f"fell back to {chosen.id!r} (priority {chosen.priority}) because "
                        f"{best.provider.id!r} (priority {best.provider.priority}) {best.reason}")
    return _Outcome(chosen, tuple(candidates), code, message, others, fallback)


def _reason(verdict: str, failed: PyRequirement | None, chosen: ProviderSpec | None,
            policy: str) -> str:
    if verdict == "fails_requirement" and failed is not None:
        return f"fails requirement {notation(failed)}"
    if verdict == "not_manual_choice":
        return f"the policy chooses {policy.partition(':')[2]!r} by hand"
    if verdict == "outranked" and chosen is not None:
        if policy == "first_available":
            return f"{chosen.id!r} comes first"
        if policy.startswith("manual:"):
            return f"an earlier entry of {chosen.id!r} was chosen"
        return f"outranked by {chosen.id!r} (priority {chosen.priority})"
    return ""
