"""Pipelines by name: elements with unique names, ports as ``"element.port"``.

A `Pipeline` is what a person writes: named elements of an `ElementType`
(kind, named ports with their contracts, execution contract, default
requirements) and links between ports named ``"element.port"``. It answers
questions by name (an element, a port, the links of an element, its
predecessors and successors, a topological order or the cycle that prevents
one) and converts to a `PyGraph` with `to_graph`, which keeps the maps
between names and the graph's ids.

>>> from kelo.ext.graph import PyDataContract, PyElementKind
>>> frames = PyDataContract.frame()
>>> camera = ElementType("kelo.source.camera", PyElementKind.Source, outputs={"video": frames})
>>> show = ElementType("kelo.sink.screen", PyElementKind.Sink, inputs={"video": frames})
>>> p = Pipeline("demo")
>>> p.add("cam", camera).add("screen", show).link("cam.video", "screen.video")
Pipeline('demo', elements=2, links=1)
>>> p.successors("cam"), p.topological_order()
(['screen'], ['cam', 'screen'])
>>> built = p.to_graph()
>>> built.graph, built.names[built.element_ids["cam"]]
(PyGraph(elements=2, edges=1), 'cam')
"""

from collections.abc import Iterable, Iterator, Mapping
from functools import cached_property
from types import MappingProxyType
from typing import NamedTuple

from kelo.ext.execution import PyExecutionContract
from kelo.ext.graph import (PyConfig, PyDataContract, PyEdge, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyGraph, PyPort, PyPortId)
from kelo.ext.provider import PyProviderId, PyRequirement, PySelectionPolicy

from ._native import validate

__all__ = ["Built", "CycleError", "Element", "ElementType", "Link", "Pipeline", "selection_policy",
           "split_ref"]

_NO_CONFIG: Mapping[str, str] = MappingProxyType({})
_NO_PORTS: Mapping[str, PyDataContract] = MappingProxyType({})


class ElementType(NamedTuple):
    """A kind of computation: its type id, role, ports, execution contract and
    the requirements its elements ask of a provider unless they say otherwise."""

    type_id: str
    kind: PyElementKind
    inputs: Mapping[str, PyDataContract] = _NO_PORTS
    outputs: Mapping[str, PyDataContract] = _NO_PORTS
    execution: PyExecutionContract | None = None
    requirements: tuple[PyRequirement, ...] = ()


class Element(NamedTuple):
    """One named element of a pipeline."""

    name: str
    type: ElementType
    config: Mapping[str, str] = _NO_CONFIG
    requirements: tuple[PyRequirement, ...] | None = None  # None: the type's
    policy: str | None = None       # as `selection_policy` reads it; None: the pipeline's

    @property
    def requires(self) -> tuple[PyRequirement, ...]:
        """The requirements that provider selection applies to this element."""
        return self.type.requirements if self.requirements is None else self.requirements


class Link(NamedTuple):
    """An edge by name: ``source`` is ``"element.port"``, or for a dynamic link
    the element name alone with the pad name in ``pad``."""

    source: str
    target: str
    late: bool = False
    pad: str | None = None

    @property
    def source_element(self) -> str:
        return self.source if self.pad is not None else split_ref(self.source)[0]

    @property
    def target_element(self) -> str:
        return split_ref(self.target)[0]

    def __str__(self) -> str:
        source = f"{self.source}.{self.pad}" if self.pad is not None else self.source
        return f"{source} -> {self.target}"


def selection_policy(text: str) -> PySelectionPolicy:
    """The selection policy ``"highest_priority"``, ``"first_available"`` or
    ``"manual:<provider id>"``; ValueError for any other text."""
    if text == "highest_priority":
        return PySelectionPolicy.highest_priority()
    if text == "first_available":
        return PySelectionPolicy.first_available()
    kind, colon, provider = text.partition(":")
    if kind == "manual" and provider:
        return PySelectionPolicy.manual(PyProviderId(provider))
    raise ValueError(f"unknown selection policy {text!r} (expected 'highest_priority', "
                     "'first_available' or 'manual:<provider id>')")


class CycleError(ValueError):
    """The pipeline has a cycle; `cycle` names its elements in path order."""

    def __init__(self, cycle: list[str]) -> None:
        self.cycle = cycle
        super().__init__("cycle: " + " -> ".join(cycle + cycle[:1]))


def split_ref(ref: str) -> tuple[str, str]:
    """``"element.port"`` as (element, port); the port name is what follows the
    last dot, so element names may hold dots."""
    element, dot, port = ref.rpartition(".")
    if not dot or not element or not port:
        raise ValueError(f"port reference {ref!r} is not of the form 'element.port'")
    return element, port


class Built:
    """A pipeline converted to a graph, with the maps between names and ids.

    ``edges[k]`` is the link that became the graph's edge k and ``ends[k]``
    its (source, target) port ids. ``ids[i]`` is the id of element i and
    ``port_lists[i]`` the ids of its ports, inputs then outputs, in declared
    order. A link end that names no declared port gets a port id of its own
    (one per end), as does the pad of a dynamic link: ``minted`` maps those
    to (link index, 0 for the source end or 1 for the target end). The maps
    by name and by id are made on first use.
    """

    def __init__(self, graph: PyGraph, elements: list[Element], edges: list[Link],
                 ids: list[PyElementId], port_lists: list[tuple[PyPortId, ...]],
                 ends: list[tuple[PyPortId, PyPortId]],
                 minted: dict[PyPortId, tuple[int, int]]) -> None:
        self.graph = graph
        self.elements = elements
        self.edges = edges
        self.ids = ids
        self.port_lists = port_lists
        self.ends = ends
        self.minted = minted

    @cached_property
    def element_ids(self) -> dict[str, PyElementId]:
        """name -> id of the first element of that name"""
        out: dict[str, PyElementId] = {}
        for e, eid in zip(self.elements, self.ids):
            out.setdefault(e.name, eid)
        return out

    @cached_property
    def names(self) -> dict[PyElementId, str]:
        """id -> name, in element order"""
        return {eid: e.name for e, eid in zip(self.elements, self.ids)}

    @cached_property
    def inputs(self) -> list[dict[str, PyPortId]]:
        """per element: input port name -> id"""
        return [dict(zip(e.type.inputs, ports)) for e, ports in zip(self.elements,
                                                                     self.port_lists)]

    @cached_property
    def outputs(self) -> list[dict[str, PyPortId]]:
        """per element: output port name -> id"""
        return [dict(zip(e.type.outputs, ports[len(e.type.inputs):]))
                for e, ports in zip(self.elements, self.port_lists)]

    @cached_property
    def owner(self) -> dict[PyPortId, int]:
        """declared port id -> index of its element"""
        return {pid: i for i, ports in enumerate(self.port_lists) for pid in ports}

    def port(self, pid: PyPortId) -> tuple[int, str, str, PyDataContract] | None:
        """(element index, "input" or "output", port name, contract) of a
        declared port; None for any other id."""
        i = self.owner.get(pid)
        if i is None:
            return None
        t = self.elements[i].type
        j = self.port_lists[i].index(pid)
        n = len(t.inputs)
        if j < n:
            name = list(t.inputs)[j]
            return i, "input", name, t.inputs[name]
        name = list(t.outputs)[j - n]
        return i, "output", name, t.outputs[name]

    @cached_property
    def ports(self) -> dict[PyPortId, str]:
        """every port id of the graph -> "element.port" (a pad: "element.pad")"""
        out: dict[PyPortId, str] = {}
        for e, ports in zip(self.elements, self.port_lists):
            for name, pid in zip([*e.type.inputs, *e.type.outputs], ports):
                out[pid] = f"{e.name}.{name}"
        for pid, (k, side) in self.minted.items():
            link = self.edges[k]
            if side == 1:
                out[pid] = link.target
            else:
                out[pid] = f"{link.source}.{link.pad}" if link.pad is not None else link.source
        return out

    @cached_property
    def port_ids(self) -> dict[str, PyPortId]:
        """"element.port" -> id of the declared port (the first element of a name)"""
        out: dict[str, PyPortId] = {}
        for pid, ref in self.ports.items():
            if pid not in self.minted:
                out.setdefault(ref, pid)
        return out


class Pipeline:
    """Elements with unique names and the links between their ports."""

    def __init__(self, name: str = "pipeline") -> None:
        self.name = name
        self._elements: list[Element] = []
        self._index: dict[str, int] = {}    # name -> index
        self._links: list[Link] = []

    def __repr__(self) -> str:
        return f"Pipeline({self.name!r}, elements={len(self._elements)}, links={len(self._links)})"

    # ---- authoring ---------------------------------------------------------

    def add(self, name: str, element_type: ElementType, *, config: Mapping[str, str] | None = None,
            requirements: Iterable[PyRequirement] | None = None,
            policy: str | None = None) -> "Pipeline":
        """Add an element; its name must be new, and `policy`, when given, one
        `selection_policy` reads. Returns the pipeline."""
        if name in self._index:
            raise ValueError(f"an element named {name!r} already exists")
        if policy is not None:
            selection_policy(policy)
        self._index[name] = len(self._elements)
        self._elements.append(Element(name, element_type, dict(config) if config else _NO_CONFIG,
                                      None if requirements is None else tuple(requirements),
                                      policy))
        return self

    def configure(self, name: str, key: str, value: str) -> "Pipeline":
        """Set one config key of an element (KeyError names an unknown
        element). Returns the pipeline."""
        e = self.element(name)
        self._elements[self._index[name]] = e._replace(config={**e.config, key: value})
        return self

    def link(self, source: str, target: str, *, late: bool = False) -> "Pipeline":
        """Link output ``source`` to input ``target``, both ``"element.port"``.
        A late link's source port may appear only at run time."""
        split_ref(source)
        split_ref(target)
        self._links.append(Link(source, target, late))
        return self

    def link_dynamic(self, element: str, pad: str, target: str) -> "Pipeline":
        """Link the dynamic output pad `pad` of `element` to ``target``."""
        split_ref(target)
        self._links.append(Link(element, target, True, pad))
        return self

    # ---- look-ups ------------------------------------------------------------

    @property
    def elements(self) -> list[Element]:
        return list(self._elements)

    @property
    def links(self) -> list[Link]:
        return list(self._links)

    def __iter__(self) -> Iterator[Element]:
        return iter(self._elements)

    def __len__(self) -> int:
        return len(self._elements)

    def __contains__(self, name: object) -> bool:
        return name in self._index

    def element(self, name: str) -> Element:
        """The element of that name; KeyError names the unknown one."""
        try:
            return self._elements[self._index[name]]
        except KeyError:
            raise KeyError(f"no element named {name!r}") from None

    def port(self, ref: str) -> tuple[Element, str, PyDataContract]:
        """The element, direction ("input" or "output") and contract of a port."""
        name, port = split_ref(ref)
        e = self.element(name)
        if port in e.type.outputs:
            return e, "output", e.type.outputs[port]
        if port in e.type.inputs:
            return e, "input", e.type.inputs[port]
        raise KeyError(f"element {name!r} has no port {port!r}")

    def links_of(self, name: str) -> list[Link]:
        """The links into or out of an element, in link order."""
        self.element(name)
        return [k for k in self._links if name in (k.source_element, k.target_element)]

    def _adjacency(self) -> dict[str, list[str]]:
        succ: dict[str, list[str]] = {name: [] for name in self._index}
        for k in self._links:
            a, b = k.source_element, k.target_element
            if a in succ and b in succ and b not in succ[a]:
                succ[a].append(b)
        return succ

    def successors(self, name: str) -> list[str]:
        """The elements that links from `name` lead to, in link order."""
        self.element(name)
        return self._adjacency()[name]

    def predecessors(self, name: str) -> list[str]:
        """The elements with links into `name`, in element order."""
        self.element(name)
        return [a for a, succ in self._adjacency().items() if name in succ]

    def topological_order(self) -> list[str]:
        """Element names, each after every element with a link into one of its
        declared ports; raises `CycleError` naming the cycle the core finds
        when there is no such order."""
        built = self.to_graph()
        owner = built.owner
        succ: list[list[int]] = [[] for _ in self._elements]
        indegree = [0] * len(succ)
        for source, target in built.ends:
            a, b = owner.get(source), owner.get(target)
            if a is not None and b is not None:
                succ[a].append(b)
                indegree[b] += 1
        order = [i for i, d in enumerate(indegree) if d == 0]
        for a in order:  # grows while it is walked
            for b in succ[a]:
                indegree[b] -= 1
                if indegree[b] == 0:
                    order.append(b)
        if len(order) < len(succ):
            cycle = next(f for f in validate(built.graph) if f.kind == "CycleDetected")
            raise CycleError([self._elements[i].name for i in cycle.elements])
        return [self._elements[i].name for i in order]

    # ---- conversion ----------------------------------------------------------

    def to_graph(self) -> Built:
        """A `PyGraph` of the pipeline and the maps between names and ids.

        A link end that names no declared port gets a fresh port id, so that
        validation reports it as the graph sees it (a missing port, or for a
        late link a deferred one).
        """
        graph = PyGraph()
        ids: list[PyElementId] = []
        port_lists: list[tuple[PyPortId, ...]] = []
        type_ids: dict[str, PyElementTypeId] = {}
        add_element = graph.add_element
        new_id = PyElementId.new
        make_input, make_output = PyPort.input, PyPort.output
        for e in self._elements:
            eid = new_id()
            t = e.type
            tid = type_ids.get(t.type_id)
            if tid is None:
                tid = type_ids[t.type_id] = PyElementTypeId(t.type_id)
            made = PyElement(eid, tid, e.name, t.kind)
            ports: list[PyPortId] = []
            for port_name, contract in t.inputs.items():
                port = make_input(port_name, contract)
                made = made.with_input(port)
                ports.append(port.id)
            for port_name, contract in t.outputs.items():
                port = make_output(port_name, contract)
                made = made.with_output(port)
                ports.append(port.id)
            if e.config:
                config = PyConfig()
                for key, value in e.config.items():
                    config.set(key, value)
                made = made.with_config(config)
            add_element(made)
            ids.append(eid)
            port_lists.append(tuple(ports))

        # Link ends resolve against the side their role asks for first: a
        # port may have the same name on both sides.
        slots: dict[int, tuple[dict[str, int], dict[str, int]]] = {}
        index = self._index
        elements = self._elements
        minted: dict[PyPortId, tuple[int, int]] = {}
        ends: list[tuple[PyPortId, PyPortId]] = []

        def end(ref: str, side: int, k: int) -> PyPortId:
            name, _, port_name = ref.rpartition(".")
            i = index.get(name)
            if i is not None:
                t = elements[i].type
                where = slots.get(id(t))
                if where is None:
                    n = len(t.inputs)
                    where = slots[id(t)] = ({p: j for j, p in enumerate(t.inputs)},
                                            {p: n + j for j, p in enumerate(t.outputs)})
                at = where[side].get(port_name)
                if at is None:
                    at = where[1 - side].get(port_name)
                if at is not None:
                    return port_lists[i][at]
            pid = PyPortId.new()
            minted[pid] = (k, 1 - side)
            return pid

        add_edge = graph.add_edge
        for k, link in enumerate(self._links):
            target = end(link.target, 0, k)
            if link.pad is not None:
                edge = PyEdge.dynamic_output(link.source, link.pad, target)
                source = edge.source
                minted[source] = (k, 0)
            else:
                source = end(link.source, 1, k)
                edge = PyEdge.late_binding(source, target) if link.late else PyEdge(source, target)
            add_edge(edge)
            ends.append((source, target))
        return Built(graph, list(elements), list(self._links), ids, port_lists, ends, minted)
