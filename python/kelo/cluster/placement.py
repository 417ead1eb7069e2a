"""Placement groups: which runtime instance each element of a pipeline runs in.

An element names its group with ``place``; an element that names none runs
in the group of its first upstream neighbour, a source in ``"main"``. A
group may run in several copies (``replicas``) when it holds no source. A
link between two groups is a crossing: its items leave one runtime instance
and enter another, so they must be picklable and everything the two ends
share (a join, a serialized element) must stay on one side.

`place` computes the groups; `cut_findings` reports what a placement makes
impossible, as located findings, from the execution contract of every
element in the table notation (`kelo.runtime.contract.fields_of`).
"""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

from kelo.ext.graph import PyElementKind

from ..checker.findings import Finding, Location
from ..pipeline import Pipeline
from ..runtime.contract import contract_from_table, fields_of

if TYPE_CHECKING:
    from ..checker.description import Description

__all__ = ["MAIN", "Placement", "cut_findings", "file_cut_findings", "locators", "place"]

#: The group of sources that name none.
MAIN = "main"
#: Custom contracts whose tag starts so carry values that live in one process.
LOCAL_TAG = "local"
_JOINS = ("synchronized", "timestamp_matched", "latest_value", "windowed", "explicit_join")


@dataclass(frozen=True)
class Placement:
    """`groups`: element name -> group, in the pipeline's element order;
    `replicas`: group -> copies (every group present, 1 by default);
    `crossings`: the indexes of the links whose ends are in two groups."""

    groups: dict[str, str]
    replicas: dict[str, int] = field(default_factory=dict)
    crossings: tuple[int, ...] = ()

    @property
    def split(self) -> bool:
        """Whether the pipeline runs as more than one runtime instance."""
        return len(self.replicas) > 1 or any(n > 1 for n in self.replicas.values())

    def members(self, group: str) -> list[str]:
        return [name for name, g in self.groups.items() if g == group]


def place(pipeline: Pipeline, places: Mapping[str, str | None] | Sequence[str | None] = (),
          replicas: Mapping[str, int] | None = None) -> Placement:
    """The groups of `pipeline`'s elements: `places` gives an element's own
    group (by name, or per element in order); the rest follow their first
    upstream neighbour, sources start in `MAIN`."""
    elements = pipeline.elements
    own = dict(places) if isinstance(places, Mapping) else \
        {e.name: p for e, p in zip(elements, places)}
    upstream: dict[str, str] = {}
    for link in pipeline.links:
        upstream.setdefault(link.target_element, link.source_element)
    groups: dict[str, str] = {}

    def group_of(name: str, seen: frozenset[str] = frozenset()) -> str:
        if name in groups:
            return groups[name]
        chosen = own.get(name)
        if chosen is None:
            above = upstream.get(name)
            chosen = MAIN if above is None or above in seen or above not in pipeline \
                else group_of(above, seen | {name})
        groups[name] = chosen
        return chosen

    for e in elements:
        group_of(e.name)
    groups = {e.name: groups[e.name] for e in elements}
    copies = {g: 1 for g in dict.fromkeys(groups.values())}
    copies.update(replicas or {})
    crossings = tuple(k for k, link in enumerate(pipeline.links)
                      if link.pad is None and link.source_element in groups
                      and link.target_element in groups
                      and groups[link.source_element] != groups[link.target_element])
    return Placement(groups, copies, crossings)


def cut_findings(pipeline: Pipeline, placement: Placement, fields: Sequence[Mapping[str, Any]],
                 element_at: Callable[[int], Location | None],
                 link_at: Callable[[int], Location | None],
                 replicas_at: Callable[[str], Location | None]) -> list[Finding]:
    """What `placement` makes impossible: `fields[i]` is element i's
    contract in the table notation; the callables locate an element, a
    link and a group's replica count."""
    out: list[Finding] = []
    elements, links = pipeline.elements, pipeline.links
    index = {e.name: i for i, e in reversed(list(enumerate(elements)))}
    groups, copies = placement.groups, placement.replicas
    for group, n in copies.items():
        if group not in groups.values():
            out.append(Finding("K604", f"replicas of group {group!r}: no element is placed "
                               f"there (groups: {', '.join(sorted(set(groups.values())))})",
                               replicas_at(group)))
            continue
        sources = [name for name in placement.members(group)
                   if elements[index[name]].type.kind == PyElementKind.Source]
        if n > 1 and sources:
            out.append(Finding("K604", f"group {group!r} runs in {n} copies but holds source "
                               f"{sources[0]!r}: each copy would produce the stream again",
                               replicas_at(group), tuple(sources)))
    for i, e in enumerate(elements):
        f = fields[i] if i < len(fields) else {}
        group = groups[e.name]
        if copies.get(group, 1) > 1 and f.get("concurrency") == "serialized":
            out.append(Finding("K601", f"element {e.name!r} is serialized but group {group!r} "
                               f"runs in {copies[group]} copies, which would process its items "
                               "at once", element_at(i), (e.name,)))
        relation = f.get("input_relation", "independent")
        if relation not in _JOINS:
            continue
        feeders = sorted({link.source_element for link in links
                          if link.pad is None and link.target_element == e.name
                          and groups.get(link.source_element, group) != group})
        if feeders:
            out.append(Finding("K602", f"element {e.name!r} joins its inputs ({relation}) in "
                               f"group {group!r}, but {', '.join(map(repr, feeders))} feeds it "
                               "from another group: the join needs its inputs' timing, "
                               "which the cut does not keep; place them together",
                               element_at(i), (e.name, *feeders)))
    for k in placement.crossings:
        link = links[k]
        contract = pipeline.port(link.source)[2]
        tag = str(contract)
        if contract.category_name() == "Custom" and tag.removeprefix("Custom(").startswith(LOCAL_TAG):
            out.append(Finding("K603", f"link {link} crosses from group "
                               f"{groups[link.source_element]!r} to "
                               f"{groups[link.target_element]!r} but its contract {tag} carries "
                               "values that live in one process and cannot be pickled",
                               link_at(k), links=(k,)))
    return out


def locators(d: Description) -> tuple[Callable[[int], Location | None],
                                      Callable[[int], Location | None],
                                      Callable[[str], Location | None]]:
    """Where an element, a link and a group's replica count stand in `d`."""
    def replicas_at(group: str) -> Location | None:
        return d.positions.of("pipeline", "replicas", group) if d.positions else None

    return d.element_at, d.link_at, replicas_at


def file_cut_findings(d: Description) -> list[Finding]:
    """`cut_findings` of a description file's own placement, with the
    contracts its types and `[element.execution]` tables give (a run checks
    again with the contracts of the classes it runs)."""
    elements = d.pipeline.elements
    placement = place(d.pipeline, d.places, d.replicas)
    tables = d.execution_tables + [None] * (len(elements) - len(d.execution_tables))
    fields = [fields_of(contract_from_table(t or {}, e.type.execution, e.type.inputs)[0])
              for e, t in zip(elements, tables)]
    return cut_findings(d.pipeline, placement, fields, *locators(d))
