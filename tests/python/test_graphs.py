"""Edges, graphs and the graph builder: texts, copy semantics and argument errors."""

import re

import pytest

from kelo.ext.graph import (PyConfig, PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphBuilder, PyPort, PyPortId, PyValidationReport)

V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
UA, UB = "550e8400-e29b-41d4-a716-446655440000", "00000000-0000-0000-0000-0000000000ff"
FRAME, pid = PyDataContract.frame(), PyPortId.new


def element(name="decoder", eid=None, kind=PyElementKind.Operator):
    return PyElement(eid or PyElementId.new(), PyElementTypeId("kelo.decode.h264"), name, kind)


def edge_fields(e):
    return (e.source.uuid(), e.target.uuid(), e.is_late_binding, e.source_element, e.source_pad)


def element_fields(e):
    ports = [(p.id.uuid(), p.name, int(p.direction), str(p.contract)) for p in e.inputs + e.outputs]
    return (e.id.uuid(), e.type_id.as_str(), e.name, int(e.kind), ports, e.config.to_dict())


def graph_fields(g):
    return ([element_fields(e) for e in g.elements], [edge_fields(e) for e in g.edges],
            g.num_elements(), g.num_edges(), repr(g))


def sample_element():
    cfg = PyConfig()
    cfg.set("k", "v")
    return element("src").with_input(PyPort.input("in", PyDataContract.tensor())) \
        .with_output(PyPort.output("out", FRAME)).with_config(cfg)


def test_plain_and_late_edges():
    a, b = PyPortId.from_str(UA), PyPortId.from_str(UB)
    plain = PyEdge(a, b)
    assert edge_fields(plain) == (UA, UB, False, None, None)
    assert plain.source == a and plain.source is not plain.source
    assert repr(plain) == str(plain) == f"PyEdge({UA} -> {UB})"
    late = PyEdge.late_binding(target=b, source=a)
    assert type(late) is PyEdge and edge_fields(late) == (UA, UB, True, None, None)
    assert repr(late) == f"PyEdge({UA} -> {UB} [late])"
    marked = plain.with_late_binding()
    assert marked is not plain and edge_fields(marked) == edge_fields(late)
    assert edge_fields(plain) == (UA, UB, False, None, None)  # receiver unchanged


@pytest.mark.parametrize("name, pad", [("det", "objects"), ('a"b\\', "x\ny"),
                                       ("\u00e9\U0001f600", "\x00"), ("", "")])
def test_dynamic_output_edge(name, pad):
    t = PyPortId.from_str(UB)
    e = PyEdge.dynamic_output(name, pad, t)
    src = e.source.uuid()
    assert edge_fields(e) == (src, UB, True, name, pad) and V4.match(src) and src != UB
    assert e.source.uuid() == src  # minted once, stable across reads
    assert repr(e) == f"PyEdge({src} -> {UB} [late])" and edge_fields(e.with_late_binding()) == edge_fields(e)
    kw = PyEdge.dynamic_output(target=t, pad_name=pad, source_element=name)
    assert edge_fields(kw)[1:] == edge_fields(e)[1:] and kw.source != e.source


def test_graph_add_find_and_read_back():
    g = PyGraph()
    assert (g.num_elements(), g.num_edges(), g.elements, g.edges) == (0, 0, [], [])
    assert repr(g) == str(g) == "PyGraph(elements=0, edges=0)" and type(g.validate()) is PyValidationReport
    first = sample_element()
    second = element("second", PyElementId.from_str(first.id.uuid()))
    els = [element("x"), first, element("y", kind=PyElementKind.Sink), second]
    edges = [PyEdge(pid(), pid()), PyEdge.late_binding(pid(), pid()),  # dangling is fine
             PyEdge.dynamic_output("y", "pad", pid())]
    for e in els:
        assert g.add_element(element=e) is None
    for x in edges:
        assert g.add_edge(x) is None
    assert repr(g) == "PyGraph(elements=4, edges=3)" and (g.num_elements(), g.num_edges()) == (4, 3)
    assert [element_fields(e) for e in g.elements] == [element_fields(e) for e in els]
    assert [edge_fields(e) for e in g.edges] == [edge_fields(e) for e in edges]
    assert all(type(e) is PyElement for e in g.elements) and all(type(e) is PyEdge for e in g.edges)
    found = g.find_element(id=PyElementId.from_str(first.id.uuid()))  # the first of that id
    assert element_fields(found) == element_fields(first) and found is not first
    assert g.find_element(g.elements[2].id).name == "y" and g.find_element(PyElementId.new()) is None


def test_graph_stores_copies():
    g, e, x = PyGraph(), sample_element(), PyEdge(pid(), pid())
    g.add_element(e)
    g.add_edge(x)
    before = graph_fields(g)
    e.config.set("k", "changed")
    assert graph_fields(g) == before and g.edges[0] is not x


def test_builder_steps_make_new_builders():
    e1, e2 = element("a"), element("b")
    s, t, x = PyPortId.from_str(UA), PyPortId.from_str(UB), PyEdge.late_binding(pid(), pid())
    b0 = PyGraphBuilder()
    assert "__repr__" not in vars(PyGraphBuilder) and repr(b0) == object.__repr__(b0)
    b1 = b0.add_element(e1)
    b2 = b1.add_element(element=e2)
    b3 = b2.connect(s, t)
    b4 = b3.connect_late(source=s, target=t)
    b5 = b4.connect_dynamic("a", "objects", t)
    b6 = b5.add_edge(x)
    side = b2.connect_late(t, s)  # a branch off a shared prefix
    chain = [b0, b1, b2, b3, b4, b5, b6]
    assert all(type(b) is PyGraphBuilder for b in chain) and len({id(b) for b in chain}) == 7
    counts = [(b.build().num_elements(), b.build().num_edges()) for b in chain]
    assert counts == [(0, 0), (1, 0), (2, 0), (2, 1), (2, 2), (2, 3), (2, 4)]
    assert [edge_fields(y) for y in side.build().edges] == [(UB, UA, True, None, None)]
    g = b6.build()
    assert type(g) is PyGraph
    assert [element_fields(e) for e in g.elements] == [element_fields(e1), element_fields(e2)]
    fields = [edge_fields(e) for e in g.edges]
    assert fields[:2] == [(UA, UB, False, None, None), (UA, UB, True, None, None)]
    assert fields[2][1:] == (UB, True, "a", "objects") and fields[2][0] not in (UA, UB)
    assert fields[3] == edge_fields(x)
    assert b6.build().edges[2].source.uuid() == fields[2][0]  # minted once, when added


def test_build_gives_independent_graphs():
    e, x = sample_element(), PyEdge(pid(), pid())
    b = PyGraphBuilder().add_element(e).add_edge(x)
    e.config.set("k", "changed")
    g1, g2 = b.build(), b.build()
    assert g1 is not g2 and graph_fields(g1) == graph_fields(g2)
    assert g1.elements[0].config.to_dict() == {"k": "v"}
    g1.add_element(element("more"))
    assert (g2.num_elements(), g2.num_edges()) == (1, 1)
    del b, e, x, g1  # results outlive their sources
    assert [y.outputs[0].name for y in g2.elements] == ["out"]
