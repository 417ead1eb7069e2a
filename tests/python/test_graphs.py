"""Edges, graphs and the graph builder: texts, copy semantics and argument errors."""

import re

import pytest

from kelo.ext.graph import (PyConfig, PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphBuilder, PyPort, PyPortId)

V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
UA, UB = "550e8400-e29b-41d4-a716-446655440000", "00000000-0000-0000-0000-0000000000ff"
FRAME, pid = PyDataContract.frame(), PyPortId.new
PLAIN, LATE = (UA, UB, False, None, None), (UA, UB, True, None, None)


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
    late, marked = PyEdge.late_binding(target=b, source=a), plain.with_late_binding()
    assert [edge_fields(x) for x in (plain, late, marked)] == [PLAIN, LATE, LATE]  # receiver unchanged
    assert [repr(plain), str(plain), repr(late)] == \
        [f"PyEdge({UA} -> {UB})"] * 2 + [f"PyEdge({UA} -> {UB} [late])"]


@pytest.mark.parametrize("name, pad", [("det", "objects"), ('a"b\\', "x\ny"), ("\u00e9\U0001f600", "\x00"),
                                       ("", "")])
def test_dynamic_output_edge(name, pad):
    t = PyPortId.from_str(UB)
    e = PyEdge.dynamic_output(name, pad, t)
    src = e.source.uuid()
    assert (edge_fields(e), bool(V4.match(src))) == ((src, UB, True, name, pad), True)
    # The source is minted once, stable across reads and copies.
    assert (e.source.uuid(), repr(e), edge_fields(e.with_late_binding())) == \
        (src, f"PyEdge({src} -> {UB} [late])", edge_fields(e))
    kw = PyEdge.dynamic_output(target=t, pad_name=pad, source_element=name)
    assert (edge_fields(kw)[1:], kw.source != e.source) == (edge_fields(e)[1:], True)


def test_graph_add_find_and_read_back():
    g = PyGraph()
    assert (graph_fields(g), str(g)) == (([], [], 0, 0, "PyGraph(elements=0, edges=0)"), repr(g))
    first = sample_element()
    second = element("second", PyElementId.from_str(first.id.uuid()))
    els = [element("x"), first, element("y", kind=PyElementKind.Sink), second]
    edges = [PyEdge(pid(), pid()), PyEdge.late_binding(pid(), pid()),  # dangling is fine
             PyEdge.dynamic_output("y", "pad", pid())]
    assert [g.add_element(element=e) for e in els] + [g.add_edge(x) for x in edges] == [None] * 7
    assert graph_fields(g) == ([element_fields(e) for e in els], [edge_fields(e) for e in edges], 4, 3,
                               "PyGraph(elements=4, edges=3)")
    found = g.find_element(id=PyElementId.from_str(first.id.uuid()))  # the first of that id
    assert (element_fields(found), g.find_element(g.elements[2].id).name, g.find_element(PyElementId.new())) \
        == (element_fields(first), "y", None)


def test_builder_steps_make_new_builders():
    e1, e2 = element("a"), element("b")
    s, t, x = PyPortId.from_str(UA), PyPortId.from_str(UB), PyEdge.late_binding(pid(), pid())
    b0 = PyGraphBuilder()
    assert repr(b0) == object.__repr__(b0)
    b2 = b0.add_element(e1).add_element(element=e2)
    side = b2.connect_late(t, s)  # a branch off a shared prefix
    chain = [b0, b0.add_element(e1), b2, b2.connect(s, t)]
    chain += [chain[-1].connect_late(source=s, target=t)]
    chain += [chain[-1].connect_dynamic("a", "objects", t)]
    chain += [chain[-1].add_edge(x)]
    counts = [(b.build().num_elements(), b.build().num_edges()) for b in chain]
    assert counts == [(0, 0), (1, 0), (2, 0), (2, 1), (2, 2), (2, 3), (2, 4)]
    assert [edge_fields(y) for y in side.build().edges] == [(UB, UA, True, None, None)]
    g = chain[-1].build()
    fields = [edge_fields(e) for e in g.edges]
    dynamic = fields[2][0]
    assert [element_fields(e) for e in g.elements] == [element_fields(e1), element_fields(e2)]
    assert (fields, dynamic in (UA, UB)) == \
        ([PLAIN, LATE, (dynamic, UB, True, "a", "objects"), edge_fields(x)], False)
    assert chain[-1].build().edges[2].source.uuid() == dynamic  # minted once, when added


def test_build_gives_independent_graphs():
    # A graph and a builder store copies: changes to what was added do not reach them.
    e, x, g0 = sample_element(), PyEdge(pid(), pid()), PyGraph()
    b = PyGraphBuilder().add_element(e).add_edge(x)
    g0.add_element(e)
    g0.add_edge(x)
    e.config.set("k", "changed")
    g1, g2 = b.build(), b.build()
    assert (graph_fields(g1), graph_fields(g0)[:2]) == (graph_fields(g2), graph_fields(g2)[:2])
    assert g1.elements[0].config.to_dict() == {"k": "v"}
    g1.add_element(element("more"))
    assert (g2.num_elements(), g2.num_edges()) == (1, 1)
    del b, e, x, g1  # results outlive their sources
    assert [y.outputs[0].name for y in g2.elements] == ["out"]
