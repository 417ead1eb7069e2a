"""Edges, graphs and the graph builder: makers, properties, text forms, copy
semantics and argument errors."""

import re

import pytest

from kelo.ext.graph import (PyConfig, PyDataContract, PyEdge, PyElement,
                            PyElementId, PyElementKind, PyElementTypeId, PyGraph, PyGraphBuilder,
                            PyPort, PyPortId, PyValidationReport)
from checks import raises

NOT = "'{}' object is not an instance of '{}'".format
NONE = "'None' is not an instance of '{}'".format
V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")
UA = "550e8400-e29b-41d4-a716-446655440000"
UB = "00000000-0000-0000-0000-0000000000ff"
FRAME = PyDataContract.frame()
DECODE = PyElementTypeId("kelo.decode.h264")


def pid(text=None):
    return PyPortId.from_str(text) if text else PyPortId.new()


def element(name="decoder", eid=None, inputs=(), outputs=(), kind=PyElementKind.Operator):
    e = PyElement(eid or PyElementId.new(), DECODE, name, kind)
    for p in inputs:
        e = e.with_input(p)
    for p in outputs:
        e = e.with_output(p)
    return e


def edge_fields(e):
    return (e.source.uuid(), e.target.uuid(), e.is_late_binding, e.source_element, e.source_pad)


def port_fields(p):
    return (p.id.uuid(), p.name, int(p.direction), str(p.contract))


def element_fields(e):
    return (e.id.uuid(), e.type_id.as_str(), e.name, int(e.kind),
            [port_fields(p) for p in e.inputs], [port_fields(p) for p in e.outputs],
            e.config.to_dict())


def graph_fields(g):
    return ([element_fields(e) for e in g.elements], [edge_fields(e) for e in g.edges],
            g.num_elements(), g.num_edges(), repr(g))


def sample_element():
    cfg = PyConfig()
    cfg.set("k", "v")
    return element("src", inputs=[PyPort.input("in", PyDataContract.tensor())],
                   outputs=[PyPort.output("out", PyDataContract.metadata_content("det"))]
                   ).with_config(cfg)


# ---- docs and text signatures -----------------------------------------------------------

MEMBERS = [  # class, member, text signature (None: a property), doc (None: not checked)
    (PyEdge, "late_binding", "(source, target)", None),
    (PyEdge, "dynamic_output", "(source_element, pad_name, target)", None),
    (PyEdge, "with_late_binding", "($self)", "Mark this edge as late-binding (builder-style)."),
    (PyEdge, "source_element", None, "Owning element of a dynamic source pad, if attributed."),
    (PyEdge, "source_pad", None, "Semantic name of a dynamic source pad, if any."),
    (PyGraph, "add_element", "($self, element)", None),
    (PyGraph, "add_edge", "($self, edge)", None),
    (PyGraph, "find_element", "($self, id)", "Find an element by ID."),
    (PyGraph, "num_elements", "($self)", None),
    (PyGraph, "num_edges", "($self)", None),
    (PyGraph, "validate", "($self)", "Validate this graph (RFC-003 \u00a716)."),
    (PyGraphBuilder, "add_element", "($self, element)", "Add an element."),
    (PyGraphBuilder, "add_edge", "($self, edge)", "Add an edge."),
    (PyGraphBuilder, "connect", "($self, source, target)",
     "Connect an output port to an input port."),
    (PyGraphBuilder, "connect_late", "($self, source, target)", None),
    (PyGraphBuilder, "connect_dynamic", "($self, source_element, pad_name, target)",
     "Connect a dynamic output pad of `source_element` to `target`."),
    (PyGraphBuilder, "build", "($self)", "Finish and return the graph."),
]


@pytest.mark.parametrize("cls, name, sig, doc", MEMBERS,
                         ids=[f"{c.__name__}.{n}" for c, n, _, _ in MEMBERS])
def test_member_docs(cls, name, sig, doc):
    member = getattr(cls, name)
    if sig is None:
        assert isinstance(member, property) or type(member).__name__ == "getset_descriptor"
    else:
        assert member.__text_signature__ == sig
    if doc is not None:
        assert member.__doc__ == doc


def test_class_docs():
    assert PyEdge.__doc__ == "A logical data-flow relationship between two ports."
    assert PyEdge.__text_signature__ == "(source, target)"
    assert PyGraph.__doc__ == "A declarative collection of elements and edges."
    assert PyGraph.__text_signature__ == "()"
    doc = PyGraphBuilder.__doc__
    assert doc.startswith("Fluent builder for constructing graphs.\n\n")
    assert doc.split("\n\n", 1)[1].strip()  # a second paragraph follows
    assert PyGraphBuilder.__text_signature__ == "()"


@pytest.mark.parametrize("obj, attrs", [
    (PyEdge(pid(), pid()), ["source", "target", "is_late_binding", "source_element", "source_pad"]),
    (PyGraph(), ["elements", "edges", "num_elements"]),
    (PyGraphBuilder(), ["build", "graph"]),
], ids=["edge", "graph", "builder"])
def test_no_writable_attributes(obj, attrs):
    for attr in attrs:
        with pytest.raises(AttributeError):
            setattr(obj, attr, None)


# ---- edges ------------------------------------------------------------------------------

def test_plain_edge():
    a, b = pid(UA), pid(UB)
    e = PyEdge(a, b)
    assert edge_fields(e) == (UA, UB, False, None, None)
    assert e.source == a and e.target == b and e.source is not e.source
    assert type(e.source) is PyPortId and type(e.target) is PyPortId
    assert repr(e) == str(e) == f"PyEdge({UA} -> {UB})"
    assert edge_fields(PyEdge(target=b, source=a)) == edge_fields(e)
    assert repr(PyEdge(a, a)) == f"PyEdge({UA} -> {UA})"


def test_late_binding_edges():
    a, b = pid(UA), pid(UB)
    late = PyEdge.late_binding(a, b)
    assert type(late) is PyEdge and edge_fields(late) == (UA, UB, True, None, None)
    assert repr(late) == f"PyEdge({UA} -> {UB} [late])"
    assert edge_fields(PyEdge.late_binding(target=b, source=a)) == edge_fields(late)

    plain = PyEdge(a, b)
    marked = plain.with_late_binding()
    assert type(marked) is PyEdge and marked is not plain
    assert edge_fields(marked) == edge_fields(late) and repr(marked) == repr(late)
    assert edge_fields(plain) == (UA, UB, False, None, None)  # receiver unchanged
    assert repr(plain) == f"PyEdge({UA} -> {UB})"
    again = late.with_late_binding()
    assert again is not late and edge_fields(again) == edge_fields(late)


def test_dynamic_output_edge():
    t = pid(UB)
    ports = [PyPort.input("x", FRAME), PyPort.output("y", FRAME)]
    e = PyEdge.dynamic_output("det", "objects", t)
    assert (e.is_late_binding, e.source_element, e.source_pad, e.target) == \
        (True, "det", "objects", t)
    src = e.source.uuid()
    assert V4.match(src) and src != UB and src not in {p.id.uuid() for p in ports}
    assert e.source.uuid() == src  # minted once, stable across reads
    assert repr(e) == f"PyEdge({src} -> {UB} [late])"
    kw = PyEdge.dynamic_output(target=t, pad_name="objects", source_element="det")
    assert edge_fields(kw)[1:] == edge_fields(e)[1:] and kw.source != e.source
    # Marking as late keeps every field, the minted source included.
    marked = e.with_late_binding()
    assert edge_fields(marked) == edge_fields(e)


def test_dynamic_pads_are_fresh():
    t = pid()
    sources = [PyEdge.dynamic_output("det", "objects", t).source.uuid() for _ in range(200)]
    assert len(set(sources)) == 200 and all(V4.match(s) for s in sources)


@pytest.mark.parametrize("name, pad", [("", ""), ('a"b\\', "x\ny"), ("\u00e9\U0001f600", "\x00"),
                                       ("det", "objects,tracks")])
def test_dynamic_output_texts_kept_as_given(name, pad):
    e = PyEdge.dynamic_output(name, pad, pid())
    assert (e.source_element, e.source_pad) == (name, pad)
    b = PyGraphBuilder().connect_dynamic(name, pad, pid())
    assert [(x.source_element, x.source_pad) for x in b.build().edges] == [(name, pad)]


def test_edge_identity_semantics():
    a, b = pid(), pid()
    e1, e2 = PyEdge(a, b), PyEdge(a, b)
    assert e1 == e1 and (e1 == e2) is False and e1 != e2
    assert hash(e1) == object.__hash__(e1)
    with pytest.raises(TypeError):
        e1 < e2  # noqa: B015


A, B, EDGE = pid(), pid(), PyEdge(pid(), pid())
EDGE_ERRORS = [  # callable, args, kwargs, exception, message, note
    (PyEdge, (PyElementId.new(), B), {}, TypeError, NOT("PyElementId", "PyPortId"), "source"),
    (PyEdge, (A, None), {}, TypeError, NONE("PyPortId"), "target"),
    (PyEdge, (UA, UB), {}, TypeError, NOT("str", "PyPortId"), "source"),  # first failure wins
    (PyEdge.late_binding, (A, EDGE), {}, TypeError, NOT("PyEdge", "PyPortId"), "target"),
    (PyEdge.late_binding, (None, B), {}, TypeError, NONE("PyPortId"), "source"),
    (PyEdge.dynamic_output, (1, "p", B), {}, TypeError, NOT("int", "str"), "source_element"),
    (PyEdge.dynamic_output, ("e", b"p", B), {}, TypeError, NOT("bytes", "str"), "pad_name"),
    (PyEdge.dynamic_output, ("e", "p", UB), {}, TypeError, NOT("str", "PyPortId"), "target"),
    (PyEdge.dynamic_output, ("\ud800", "p", B), {}, UnicodeEncodeError, None, "source_element"),
    (PyEdge.dynamic_output, ("e", "\udfff", B), {}, UnicodeEncodeError, None, "pad_name"),
    (PyEdge, (), {}, TypeError,
     "PyEdge.__new__() missing 2 required positional arguments: 'source' and 'target'", None),
    (PyEdge, (A, B, B), {}, TypeError,
     "PyEdge.__new__() takes 2 positional arguments but 3 were given", None),
    (PyEdge.late_binding, (A,), {"source": A}, TypeError,
     "PyEdge.late_binding() got multiple values for argument 'source'", None),
    (PyEdge.late_binding, (A, B), {"late": True}, TypeError,
     "PyEdge.late_binding() got an unexpected keyword argument 'late'", None),
    (PyEdge.dynamic_output, ("e",), {}, TypeError, "PyEdge.dynamic_output() missing 2 required "
     "positional arguments: 'pad_name' and 'target'", None),
    (PyEdge.dynamic_output, (), {}, TypeError, "PyEdge.dynamic_output() missing 3 required "
     "positional arguments: 'source_element', 'pad_name', and 'target'", None),
    (EDGE.with_late_binding, (True,), {}, TypeError,
     "PyEdge.with_late_binding() takes 0 positional arguments but 1 was given", None),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, msg, note", EDGE_ERRORS)
def test_edge_argument_errors(fn, args, kwargs, exc, msg, note):
    before = edge_fields(EDGE)
    raises(exc, fn, *args, msg=msg, note=note, **kwargs)
    assert edge_fields(EDGE) == before


# ---- graphs -----------------------------------------------------------------------------

def test_empty_graph():
    g = PyGraph()
    assert (g.num_elements(), g.num_edges(), g.elements, g.edges) == (0, 0, [], [])
    assert repr(g) == str(g) == "PyGraph(elements=0, edges=0)"
    assert g.find_element(PyElementId.new()) is None
    assert type(g.validate()) is PyValidationReport


def test_graph_add_and_read_back():
    g = PyGraph()
    e1, e2, e3 = sample_element(), element("b"), element("c", kind=PyElementKind.Sink)
    edges = [PyEdge(pid(), pid()), PyEdge.late_binding(pid(), pid()),
             PyEdge.dynamic_output("b", "pad", pid())]
    for e in (e1, e2, e3):
        assert g.add_element(e) is None
    for x in edges[:2]:
        assert g.add_edge(x) is None
    assert repr(g) == "PyGraph(elements=3, edges=2)" and (g.num_elements(), g.num_edges()) == (3, 2)
    g.add_edge(edge=edges[2])
    g.add_element(element=e1)
    assert repr(g) == "PyGraph(elements=4, edges=3)"
    assert [element_fields(e) for e in g.elements] == [element_fields(e) for e in (e1, e2, e3, e1)]
    assert [edge_fields(e) for e in g.edges] == [edge_fields(e) for e in edges]
    assert all(type(e) is PyElement for e in g.elements) and all(type(e) is PyEdge for e in g.edges)


def test_graph_reads_are_fresh_copies():
    g = PyGraph()
    e, x = sample_element(), PyEdge(pid(), pid())
    g.add_element(e)
    g.add_edge(x)
    before = graph_fields(g)
    els, eds = g.elements, g.edges
    assert els is not g.elements and eds is not g.edges
    assert els[0] is not e and els[0] is not g.elements[0] and eds[0] is not x
    assert eds[0] is not g.edges[0]
    els.clear()
    eds.append(PyEdge(pid(), pid()))
    g.edges[0].with_late_binding()
    g.elements[0].config.set("k", "changed")
    g.elements[0].with_input(PyPort.input("more", FRAME))
    assert graph_fields(g) == before and g.edges[0].is_late_binding is False


def test_graph_stores_copies_of_its_arguments():
    g = PyGraph()
    e = element("a")
    g.add_element(e)
    e.with_output(PyPort.output("o", FRAME))  # builder calls make new objects
    e.config.set("k", "v")
    x = PyEdge(pid(), pid())
    g.add_edge(x)
    x.with_late_binding()
    assert g.elements[0].outputs == [] and len(g.elements[0].config) == 0
    assert g.edges[0].is_late_binding is False


def test_find_element():
    eid, other = PyElementId.from_str(UA), PyElementId.new()
    first, second = element("first", eid), element("second", PyElementId.from_str(UA))
    g = PyGraph()
    for e in (element("x"), first, element("y"), second):
        g.add_element(e)
    found = g.find_element(eid)
    assert type(found) is PyElement and found.name == "first" and found is not first
    assert g.find_element(id=PyElementId.from_str(UA)).name == "first"
    assert g.find_element(eid) is not g.find_element(eid)
    assert element_fields(found) == element_fields(first)
    assert g.find_element(other) is None
    assert g.find_element(g.elements[2].id).name == "y"
    found.with_input(PyPort.input("i", FRAME))
    assert g.find_element(eid).inputs == []


def test_same_element_twice():
    p = PyPort.output("o", FRAME)
    e = element("twice", outputs=[p])
    g = PyGraph()
    g.add_element(e)
    g.add_element(e)
    assert [x.id for x in g.elements] == [e.id, e.id] and g.find_element(e.id).name == "twice"
    r = g.validate()
    assert [(x.kind(), x.message()) for x in r.errors] == [
        ("DuplicateElementId", f"duplicate element id {e.id.uuid()}"),
        ("DuplicatePortId", f"duplicate port id {p.id.uuid()}")]


def test_graph_accepts_dangling_edges():
    g = PyGraph()
    g.add_edge(PyEdge(pid(), pid()))
    b = PyGraphBuilder().connect(pid(), pid()).connect_late(pid(), pid())
    assert g.num_edges() == 1 and b.build().num_edges() == 2 and b.build().num_elements() == 0


def test_graph_identity_semantics():
    g1, g2 = PyGraph(), PyGraph()
    assert g1 == g1 and (g1 == g2) is False and hash(g1) == object.__hash__(g1)
    b1, b2 = PyGraphBuilder(), PyGraphBuilder()
    assert b1 == b1 and (b1 == b2) is False and hash(b1) == object.__hash__(b1)
    with pytest.raises(TypeError):
        g1 < g2  # noqa: B015


G = PyGraph()
G.add_element(element("kept"))
G.add_edge(PyEdge(pid(), pid()))
GRAPH_ERRORS = [  # callable, args, kwargs, exception, message, note
    (G.add_element, (EDGE,), {}, TypeError, NOT("PyEdge", "PyElement"), "element"),
    (G.add_element, (None,), {}, TypeError, NONE("PyElement"), "element"),
    (G.add_element, (PyPort.input("x", FRAME),), {}, TypeError, NOT("PyPort", "PyElement"),
     "element"),
    (G.add_edge, (element(),), {}, TypeError, NOT("PyElement", "PyEdge"), "edge"),
    (G.add_edge, ((A, B),), {}, TypeError, NOT("tuple", "PyEdge"), "edge"),
    (G.find_element, (A,), {}, TypeError, NOT("PyPortId", "PyElementId"), "id"),
    (G.find_element, (UA,), {}, TypeError, NOT("str", "PyElementId"), "id"),
    (G.find_element, (None,), {}, TypeError, NONE("PyElementId"), "id"),
    (G.add_element, (), {}, TypeError,
     "PyGraph.add_element() missing 1 required positional argument: 'element'", None),
    (G.add_edge, (EDGE,), {"edge": EDGE}, TypeError,
     "PyGraph.add_edge() got multiple values for argument 'edge'", None),
    (G.add_edge, (), {"e": EDGE}, TypeError,
     "PyGraph.add_edge() got an unexpected keyword argument 'e'", None),
    (G.find_element, (), {}, TypeError,
     "PyGraph.find_element() missing 1 required positional argument: 'id'", None),
    (G.num_elements, (1,), {}, TypeError,
     "PyGraph.num_elements() takes 0 positional arguments but 1 was given", None),
    (G.num_edges, (1, 2), {}, TypeError,
     "PyGraph.num_edges() takes 0 positional arguments but 2 were given", None),
    (G.validate, (G,), {}, TypeError,
     "PyGraph.validate() takes 0 positional arguments but 1 was given", None),
    (PyGraph, ([],), {}, TypeError,
     "PyGraph.__new__() takes 0 positional arguments but 1 was given", None),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, msg, note", GRAPH_ERRORS)
def test_graph_argument_errors(fn, args, kwargs, exc, msg, note):
    before = graph_fields(G)
    raises(exc, fn, *args, msg=msg, note=note, **kwargs)
    assert graph_fields(G) == before


# ---- builder ----------------------------------------------------------------------------

def test_builder_default_repr():
    b = PyGraphBuilder()
    assert "__repr__" not in vars(PyGraphBuilder) and "__str__" not in vars(PyGraphBuilder)
    assert repr(b) == str(b) == object.__repr__(b)
    assert re.fullmatch(r"<(builtins\.)?PyGraphBuilder object at 0x[0-9a-f]+>", repr(b))


def test_builder_steps_make_new_builders():
    e1, e2 = element("a"), element("b")
    s, t, x = pid(UA), pid(UB), PyEdge.late_binding(pid(), pid())
    b0 = PyGraphBuilder()
    b1 = b0.add_element(e1)
    b2 = b1.add_element(element=e2)
    b3 = b2.connect(s, t)
    b4 = b3.connect_late(source=s, target=t)
    b5 = b4.connect_dynamic("a", "objects", t)
    b6 = b5.add_edge(x)
    chain = [b0, b1, b2, b3, b4, b5, b6]
    assert all(type(b) is PyGraphBuilder for b in chain) and len({id(b) for b in chain}) == 7
    counts = [(b.build().num_elements(), b.build().num_edges()) for b in chain]
    assert counts == [(0, 0), (1, 0), (2, 0), (2, 1), (2, 2), (2, 3), (2, 4)]
    g = b6.build()
    assert type(g) is PyGraph
    assert [element_fields(e) for e in g.elements] == [element_fields(e1), element_fields(e2)]
    fields = [edge_fields(e) for e in g.edges]
    assert fields[0] == (UA, UB, False, None, None)
    assert fields[1] == (UA, UB, True, None, None)
    assert fields[2][1:] == (UB, True, "a", "objects") and V4.match(fields[2][0])
    assert fields[2][0] not in (UA, UB)
    assert fields[3] == edge_fields(x)
    # The dynamic pad was minted once, when the edge was added.
    assert b6.build().edges[2].source.uuid() == fields[2][0]


def test_builder_prefix_is_shared_not_changed():
    e = element("a")
    b1 = PyGraphBuilder()
    b2 = b1.add_element(e)
    assert b1.build().num_elements() == 0 and b2.build().num_elements() == 1
    left, right = b2.connect(pid(UA), pid(UB)), b2.connect_late(pid(UB), pid(UA))
    assert [edge_fields(x) for x in left.build().edges] == [(UA, UB, False, None, None)]
    assert [edge_fields(x) for x in right.build().edges] == [(UB, UA, True, None, None)]
    assert b2.build().num_edges() == 0


def test_connect_dynamic_mints_per_call():
    t = pid()
    b = PyGraphBuilder().connect_dynamic("det", "objects", t)
    b = b.connect_dynamic(source_element="det", pad_name="objects", target=t)
    one, two = b.build().edges
    assert edge_fields(one)[1:] == edge_fields(two)[1:] == (t.uuid(), True, "det", "objects")
    assert one.source != two.source


def test_build_gives_independent_graphs():
    b = PyGraphBuilder().add_element(element("a")).connect(pid(), pid())
    g1, g2 = b.build(), b.build()
    assert g1 is not g2 and graph_fields(g1) == graph_fields(g2)
    g1.add_element(element("more"))
    g1.add_edge(PyEdge(pid(), pid()))
    assert (g2.num_elements(), g2.num_edges()) == (1, 1)
    assert (b.build().num_elements(), b.build().num_edges()) == (1, 1)
    assert graph_fields(b.build()) == graph_fields(g2)
    b.add_element(element("later"))  # the builder stays usable; g2 is not affected
    assert g2.num_elements() == 1


def test_builder_stores_copies():
    e, x = element("a"), PyEdge(pid(), pid())
    b = PyGraphBuilder().add_element(e).add_edge(x)
    e.with_input(PyPort.input("i", FRAME))
    e.config.set("k", "v")
    x.with_late_binding()
    g = b.build()
    assert g.elements[0].inputs == [] and len(g.elements[0].config) == 0
    assert g.edges[0].is_late_binding is False
    g.elements[0].config.set("k", "v")
    assert len(b.build().elements[0].config) == 0


BLD = PyGraphBuilder().add_element(element("kept")).connect(pid(), pid())
BUILDER_ERRORS = [  # callable, args, kwargs, exception, message, note
    (BLD.add_element, (EDGE,), {}, TypeError, NOT("PyEdge", "PyElement"), "element"),
    (BLD.add_element, (None,), {}, TypeError, NONE("PyElement"), "element"),
    (BLD.add_edge, (element(),), {}, TypeError, NOT("PyElement", "PyEdge"), "edge"),
    (BLD.connect, (PyElementId.new(), B), {}, TypeError, NOT("PyElementId", "PyPortId"),
     "source"),
    (BLD.connect, (A, UB), {}, TypeError, NOT("str", "PyPortId"), "target"),
    (BLD.connect, (1, 2), {}, TypeError, NOT("int", "PyPortId"), "source"),
    (BLD.connect_late, (A, None), {}, TypeError, NONE("PyPortId"), "target"),
    (BLD.connect_late, (EDGE, B), {}, TypeError, NOT("PyEdge", "PyPortId"), "source"),
    (BLD.connect_dynamic, (None, "p", B), {}, TypeError, NOT("NoneType", "str"),
     "source_element"),
    (BLD.connect_dynamic, ("e", 3, B), {}, TypeError, NOT("int", "str"), "pad_name"),
    (BLD.connect_dynamic, ("e", "p", PyElementId.new()), {}, TypeError,
     NOT("PyElementId", "PyPortId"), "target"),
    (BLD.connect_dynamic, ("e", "\ud800", B), {}, UnicodeEncodeError, None, "pad_name"),
    (BLD.connect, (A,), {}, TypeError,
     "PyGraphBuilder.connect() missing 1 required positional argument: 'target'", None),
    (BLD.connect_dynamic, ("e", "p", B, B), {}, TypeError,
     "PyGraphBuilder.connect_dynamic() takes 3 positional arguments but 4 were given", None),
    (BLD.connect_late, (A, B), {"late": True}, TypeError,
     "PyGraphBuilder.connect_late() got an unexpected keyword argument 'late'", None),
    (BLD.add_element, (element(),), {"element": element()}, TypeError,
     "PyGraphBuilder.add_element() got multiple values for argument 'element'", None),
    (BLD.build, (1,), {}, TypeError,
     "PyGraphBuilder.build() takes 0 positional arguments but 1 was given", None),
    (PyGraphBuilder, (PyGraph(),), {}, TypeError,
     "PyGraphBuilder.__new__() takes 0 positional arguments but 1 was given", None),
]


@pytest.mark.parametrize("fn, args, kwargs, exc, msg, note", BUILDER_ERRORS)
def test_builder_argument_errors(fn, args, kwargs, exc, msg, note):
    before = graph_fields(BLD.build())
    raises(exc, fn, *args, msg=msg, note=note, **kwargs)
    assert graph_fields(BLD.build()) == before


def test_results_outlive_their_sources():
    e, s, t = element("a", outputs=[PyPort.output("o", FRAME)]), pid(UA), pid(UB)
    b = PyGraphBuilder().add_element(e).connect(s, t)
    g = b.build()
    del b, e
    edges, elements = g.edges, g.elements
    del g
    assert [edge_fields(x) for x in edges] == [(UA, UB, False, None, None)]
    assert [x.outputs[0].name for x in elements] == ["o"]


def test_long_builder_chain_builds_and_is_released_without_recursing():
    a, b = PyPortId.new(), PyPortId.new()
    builder = PyGraphBuilder()
    for _ in range(200_000):
        builder = builder.connect(a, b)
    assert builder.build().num_edges() == 200_000
    del builder
