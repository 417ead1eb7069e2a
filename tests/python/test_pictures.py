"""Pictures of graphs: DOT text, error and cycle marking, rendering."""

import re
import shutil
import sys
import xml.etree.ElementTree as ET

import networkx as nx
import pytest
from hypothesis import given, settings, strategies as st

from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyGraph, PyGraphBuilder, PyPort,
                            PyPortId)
from kelo.pictures import (FORMATS, GraphvizError, GraphvizNotFoundError, cycle_elements, render,
                           to_dot)

RED = "#d01010"
ORANGE = "#e07000"
FRAME = PyDataContract.frame()
TENSOR = PyDataContract.tensor()
HAS_DOT = shutil.which("dot") is not None
needs_dot = pytest.mark.skipif(not HAS_DOT, reason="Graphviz dot is not installed")


def element(name, kind=PyElementKind.Operator, ins=(), outs=(), type_id=None, eid=None):
    """An element and its ports by name; `ins` / `outs` hold names or (name, contract)."""
    type_id = f"kelo.test.{name}" if type_id is None else type_id
    e = PyElement(eid or PyElementId.new(), PyElementTypeId(type_id), name, kind)
    ports = {}
    for items, make, add in ((ins, PyPort.input, "with_input"),
                             (outs, PyPort.output, "with_output")):
        for item in items:
            pname, contract = item if isinstance(item, tuple) else (item, FRAME)
            port = make(pname, contract)
            e = getattr(e, add)(port)
            ports[pname] = port.id
    return e, ports


def graph(*elements, edges=()):
    g = PyGraph()
    for e in elements:
        g.add_element(e)
    for edge in edges:
        g.add_edge(edge)
    return g


def node(dot, name):
    [line] = [ln for ln in dot.splitlines() if ln.startswith(f"  {name} [")]
    return line


EDGE = re.compile(r"  (\S+) -> (\S+) \[(.*)\];")


def edges(dot):
    """(tail, head, attributes) of every edge line, connectors to pads included."""
    return [m.groups() for m in map(EDGE.fullmatch, dot.splitlines()) if m]


def nodes(dot, prefix):
    return [ln.split()[0] for ln in dot.splitlines() if re.match(rf"  {prefix}\d+ \[", ln)]


def red_cells(line):
    return re.findall(rf'PORT="(\w+)"[^>]* COLOR="{RED}"', line)


@pytest.fixture
def chain():
    src, sp = element("camera", PyElementKind.Source, outs=["frames"])
    dec, dp = element("decoder", ins=["bitstream"], outs=[("tensor", TENSOR), "preview"])
    snk, kp = element("sink", PyElementKind.Sink,
                      ins=[("t", PyDataContract.tensor_with(PyContractSpec().with_width(4))),
                           "p"])
    g = graph(src, dec, snk, edges=[PyEdge(sp["frames"], dp["bitstream"]),
                                    PyEdge(dp["tensor"], kp["t"]),
                                    PyEdge(dp["preview"], kp["p"])])
    return g, (src, dec, snk)


# ---- structure ------------------------------------------------------------

def test_structure(chain):
    g, (src, dec, snk) = chain
    dot = to_dot(g)
    lines = dot.splitlines()
    assert lines[0] == 'digraph "pipeline" {' and lines[-1] == "}" and dot.endswith("}\n")
    assert nodes(dot, "n") == ["n0", "n1", "n2"] and not nodes(dot, "[md]")
    for i, (e, kind) in enumerate([(src, "Source"), (dec, "Operator"), (snk, "Sink")]):
        line = node(dot, f"n{i}")
        assert f"<B>{e.name}</B>" in line and f"kelo.test.{e.name}" in line
        assert f"<I>{kind}</I>" in line and str(e.id) in line
        assert RED not in line and ORANGE not in line and "cycle" not in line
    # inputs left of the header, outputs right of it, one field per port in order
    n1 = node(dot, "n1")
    assert re.findall(r'PORT="(\w+)"', n1) == ["i0", "o0", "o1"]
    assert n1.index('PORT="i0" ALIGN="LEFT"') < n1.index("<B>decoder</B>") \
        < n1.index('PORT="o0" ALIGN="RIGHT"') < n1.index('PORT="o1"')
    assert "bitstream<BR/>" in n1 and ">tensor<BR/><FONT POINT-SIZE=\"9\">Tensor</FONT>" in n1
    assert re.findall(r'PORT="(\w+)"', node(dot, "n0")) == ["o0"]
    assert re.findall(r'PORT="(\w+)"', node(dot, "n2")) == ["i0", "i1"]
    assert "direction:" not in dot
    # the source contract, or both when they print differently
    assert edges(dot) == [("n0:o0:e", "n1:i0:w", "label=<Frame>"),
                          ("n1:o0:e", "n2:i0:w", "label=<Tensor → Tensor[w=4]>"),
                          ("n1:o1:e", "n2:i1:w", "label=<Frame>")]


def test_graph_name_and_bad_arguments(chain):
    g, _ = chain
    assert to_dot(PyGraph(), name='say "hi" \\').splitlines()[0] == r'digraph "say \"hi\" \\" {'
    assert to_dot(PyGraph(), name="a\nb").splitlines()[0] == r'digraph "a\nb" {'
    assert to_dot(PyGraph()).count("\n") == 5   # header, three defaults, closing brace
    with pytest.raises(TypeError, match="name must be a str, got 'int'"):
        to_dot(g, name=1)
    with pytest.raises(TypeError, match="expected a PyGraph, got 'PyGraphBuilder'"):
        to_dot(PyGraphBuilder())
    with pytest.raises(TypeError, match="expected a PyGraph, got 'list'"):
        cycle_elements([])
    with pytest.raises(TypeError, match="expected a PyValidationReport or None, got 'str'"):
        to_dot(g, "report")


def test_port_listed_against_its_direction():
    e = PyElement(PyElementId.new(), PyElementTypeId("t"), "odd", PyElementKind.Operator) \
        .with_input(PyPort.output("x", FRAME)).with_output(PyPort.input("y", FRAME))
    line = node(to_dot(graph(e)), "n0")
    assert re.findall(r'PORT="(\w+)"', line) == ["i0", "o0"]
    assert line.index("direction: output") < line.index("<B>odd</B>") \
        < line.index("direction: input")


def test_repeated_port_id_attaches_where_validation_resolves_it():
    shared = PyPort.output("dup", FRAME)
    a = PyElement(PyElementId.new(), PyElementTypeId("t"), "a", PyElementKind.Source) \
        .with_output(shared).with_input(shared)
    b = PyElement(PyElementId.new(), PyElementTypeId("t"), "b", PyElementKind.Source) \
        .with_input(shared)
    c, cp = element("c", ins=["in"])
    g = graph(a, b, c, edges=[PyEdge(shared.id, cp["in"])])
    # inputs before outputs, later elements over earlier ones: b's input
    assert edges(to_dot(g)) == [("n1:i0:w", "n2:i0:w", "label=<Frame>")]
    g2 = graph(a, c, edges=[PyEdge(shared.id, cp["in"])])
    assert edges(to_dot(g2)) == [("n0:o0:e", "n1:i0:w", "label=<Frame>")]


# ---- escaping -------------------------------------------------------------

NASTY = [
    ('say "hi"', "say &quot;hi&quot;"),
    ("{a|b} [c]", "{a|b} [c]"),
    ("<b>&amp;", "&lt;b&gt;&amp;amp;"),
    ("two\nlines\r\nthree\rfour", "two<BR/>lines<BR/>three<BR/>four"),
    ("tab\tnul\x00esc\x1b\x7f\u2028end", "tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end"),
    ("back\\slash \\", "back\\slash \\"),
    ("ünï ✓ 🎥", "ünï ✓ 🎥"),
]


@pytest.mark.parametrize("raw, escaped", NASTY, ids=[repr(r) for r, _ in NASTY])
def test_escaping(raw, escaped):
    e, ports = element(raw, ins=[(raw, PyDataContract.custom(raw))], outs=["o"], type_id=raw)
    sink, sp = element("sink", ins=[("in", PyDataContract.custom(raw))])
    g = graph(e, sink, edges=[PyEdge(ports["o"], ports[raw]),
                              PyEdge.dynamic_output(raw, raw, sp["in"])])
    dot = to_dot(g, g.validate())
    line = node(dot, "n0")
    assert f"<B>{escaped}</B>" in line                            # name
    assert f'<FONT POINT-SIZE="10">{escaped}</FONT>' in line      # type id
    # port name and contract, in a cell drawn red for the contract mismatch
    assert f'<FONT COLOR="{RED}">{escaped}<BR/><FONT POINT-SIZE="9">Custom({escaped})</FONT>' \
        in line
    assert f"<B>{escaped}</B><BR/>pad {escaped}<BR/>" in node(dot, "d0")
    assert ("d0", "n1:i0:w", f"label=<Custom({escaped})>, style=dashed") in edges(dot)
    # The name is found, so the dynamic edge is fine; the contract mismatch of
    # Frame -> Custom is the only error and is matched through its text.
    assert ("n0:o0:e", "n0:i0:w",
            f'label=<<FONT COLOR="{RED}">Frame → Custom({escaped})</FONT>>, '
            f'color="{RED}", penwidth=2') in edges(dot)
    assert RED not in node(dot, "d0")
    # Nothing of the text escapes its label: each label is one line, and
    # every < and > in it belongs to markup.
    # header, two elements, the pad and its connector, two edges, closing brace
    assert len(dot.splitlines()) == 4 + 2 + 2 + 2 + 1
    for ln in dot.splitlines()[4:-1]:
        label = re.search(r"label=<(.*)>[,\]]", ln)
        if label:
            assert re.sub(r"</?[A-Z]+(?: [A-Z-]+=\"[^\"<>]*\")*/?>", "", label[1]).count("<") == 0


def test_empty_texts_make_no_empty_markup():
    e, p = element("", ins=[("", FRAME)], type_id="")
    dot = to_dot(graph(e, edges=[PyEdge.dynamic_output("", "", p[""])]))
    assert not re.search(r"<(B|I|FONT[^>]*)></", dot)


@needs_dot
def test_render_keeps_every_text(tmp_path):
    """One graph carrying every awkward text, rendered once to SVG."""
    raws = [raw for raw, _ in NASTY]
    g = PyGraph()
    prev = None
    for i, raw in enumerate(raws):
        e, p = element(raw, ins=[(raw, PyDataContract.custom(raw))], outs=[f"out{i}"],
                       type_id=raw)
        g.add_element(e)
        g.add_edge(PyEdge.dynamic_output(raw, raw, p[raw]))
        g.add_edge(PyEdge.dynamic_output(raw + "?", raw, p[raw]))
        if prev is not None:
            g.add_edge(PyEdge(prev, p[raw]))
        prev = p[f"out{i}"]
    g.add_edge(PyEdge(PyPortId.new(), prev))
    g.add_edge(PyEdge(prev, PyPortId.new()))
    g.add_edge(PyEdge(prev, prev))
    dot = to_dot(g, g.validate(), name=raws[0] + raws[-2])
    out = render(dot, tmp_path / "g.svg")
    assert out == tmp_path / "g.svg" and [p.name for p in tmp_path.iterdir()] == ["g.svg"]
    plain = tmp_path / "plain"
    plain.write_text("")
    assert out.stat().st_mode == plain.stat().st_mode   # made like any new file
    svg = ET.parse(out)
    texts = {t.text for t in svg.iter("{http://www.w3.org/2000/svg}text")}
    shown = {"say \"hi\"", "{a|b} [c]", "<b>&amp;", "two", "lines", "three", "four",
             "tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end", "back\\slash \\", "ünï ✓ 🎥",
             "Custom(<b>&amp;)", "Custom({a|b} [c])", "missing port", "missing element",
             "dynamic pad", "cycle", "pad <b>&amp;", "Operator"}
    assert shown <= texts, shown - texts


# ---- errors in red --------------------------------------------------------

def _case_missing_port():
    sink, kp = element("sink", ins=["in"])
    src, sp = element("src", outs=["out"])
    ghost_in, ghost_out = PyPortId.new(), PyPortId.new()
    g = graph(sink, src, edges=[PyEdge(ghost_out, kp["in"]), PyEdge(sp["out"], ghost_in),
                                PyEdge(sp["out"], kp["in"])])
    return g, {"m0", "m1"}, {("m0", "n0:i0:w"), ("n1:o0:e", "m1")}


def _case_direction():
    a, ap = element("a", ins=["in"], outs=["out"])
    b, bp = element("b", ins=["in"], outs=["out"])
    g = graph(a, b, edges=[PyEdge(ap["in"], bp["out"]), PyEdge(ap["out"], bp["in"])])
    return g, {"n0:i0", "n1:o0"}, {("n0:i0:w", "n1:o0:e")}


def _case_duplicate_element():
    a, ap = element("a", outs=["out"])
    b, bp = element("b", ins=["in"])
    g = graph(a, b, edges=[PyEdge(ap["out"], bp["in"])])
    g.add_element(a)
    return g, {"n0", "n2", "n0:o0", "n2:o0"}, set()   # ports red: DuplicatePortId too


def _case_duplicate_port():
    shared = PyPort.input("shared", FRAME)
    a = PyElement(PyElementId.new(), PyElementTypeId("t"), "a", PyElementKind.Sink) \
        .with_input(PyPort.input("other", FRAME)).with_input(shared)
    b = PyElement(PyElementId.new(), PyElementTypeId("t"), "b", PyElementKind.Sink) \
        .with_input(shared)
    return graph(a, b), {"n0:i1", "n1:i0"}, set()


def _case_contract():
    a, ap = element("a", outs=["f", ("t", TENSOR)])
    b, bp = element("b", ins=[("t", TENSOR), ("t2", TENSOR)])
    g = graph(a, b, edges=[PyEdge(ap["f"], bp["t"]), PyEdge(ap["t"], bp["t2"])])
    return g, {"n0:o0", "n1:i0"}, {("n0:o0:e", "n1:i0:w")}


def _case_dynamic():
    a, ap = element('de"t\\', outs=["out"])
    b, bp = element("b", ins=["in"])
    g = graph(a, b, edges=[PyEdge.dynamic_output('de"t\\', "pad", bp["in"]),
                           PyEdge.dynamic_output('gh"ost\n', "pad", bp["in"]),
                           PyEdge.dynamic_output('gh"ost\n', "other", bp["in"])])
    return g, {"d1", "d2"}, {("d1", "n1:i0:w"), ("d2", "n1:i0:w")}


CASES = {"EdgeReferencesMissingPort": _case_missing_port,
         "InvalidPortDirection": _case_direction,
         "DuplicateElementId": _case_duplicate_element,
         "DuplicatePortId": _case_duplicate_port,
         "ContractMismatch": _case_contract,
         "DynamicSourceElementNotFound": _case_dynamic}


def red_things(dot):
    """Nodes, port fields ("n0:i1") and edges (tail, head) drawn red."""
    marked = set()
    for line in dot.splitlines():
        m = re.match(r"  ([nmd]\d+) \[label=<<TABLE BORDER=\"\d\"[^>]* COLOR=\"([^\"]+)\"", line)
        if m and m[2] == RED:
            marked.add(m[1])
        if m:
            marked.update(f"{m[1]}:{f}" for f in red_cells(line))
    for tail, head, attrs in edges(dot):
        if f'color="{RED}"' in attrs:
            marked.add((tail, head))
    return marked


@pytest.mark.parametrize("kind", CASES)
def test_errors_in_red(kind):
    g, want_nodes, want_edges = CASES[kind]()
    report = g.validate()
    assert kind in {e.kind() for e in report.errors}
    assert red_things(to_dot(g)) == set()
    assert red_things(to_dot(g, report)) == want_nodes | want_edges


def test_missing_ports_and_dynamic_pads_without_report():
    g, _, _ = _case_missing_port()
    dot = to_dot(g)
    assert "<B>missing port</B>" in node(dot, "m0") and "<B>missing port</B>" in node(dot, "m1")
    g, _, _ = _case_dynamic()
    dot = to_dot(g)
    assert "<I>dynamic pad</I>" in node(dot, "d0") and 'STYLE="dashed"' not in node(dot, "d0")
    for pad, name in (("d1", "pad pad"), ("d2", "pad other")):
        line = node(dot, pad)
        assert 'STYLE="dashed"' in line and "<I>missing element</I>" in line
        assert f"<B>gh&quot;ost<BR/></B><BR/>{name}<BR/>" in line


class FakeError:
    def __init__(self, kind, message):
        self._kind, self._message = kind, message

    def kind(self):
        return self._kind

    def message(self):
        return self._message


class FakeReport:
    def __init__(self, *errors):
        self.errors = [FakeError(*e) for e in errors]


def test_kinds_validation_never_reports():
    a, ap = element("a", ins=["in"], outs=["out"])
    b, bp = element("b", ins=["in"])
    g = graph(a, b, edges=[PyEdge(ap["out"], bp["in"])])
    assert red_things(to_dot(g, FakeReport(
        ("PortNotOwnedByElement", f"port {ap['out']} does not belong to any element")))) \
        == {"n0:o0"}
    # an error of an unknown kind marks whatever ids it names
    assert red_things(to_dot(g, FakeReport(("Whatever", f"{bp['in']} and {b.id}")))) \
        == {"n1", "n1:i0"}
    # a known kind whose message has another form falls back the same way
    assert red_things(to_dot(g, FakeReport(("DuplicateElementId", f"id {a.id}!")))) == {"n0"}
    assert red_things(to_dot(g, FakeReport(("CycleDetected", "cycle detected in graph")))) \
        == set()


def test_ids_inside_texts_are_not_taken_for_what_the_error_names():
    """Names and contract tags may hold id texts and message fragments."""
    a, ap = element("a", outs=["out", "f"])
    b, bp = element("b", ins=[("in", FRAME), ("c", PyDataContract.custom(f"{ap['out']}"))])
    trap = f"x\" not found (edge {ap['out']} -> {bp['in']})"
    g = graph(a, b, edges=[PyEdge(ap["out"], bp["in"]), PyEdge(ap["f"], bp["c"]),
                           PyEdge.dynamic_output(trap, "p", bp["in"])])
    kinds = [e.kind() for e in g.validate().errors]
    assert kinds == ["ContractMismatch", "DynamicSourceElementNotFound"]
    assert red_things(to_dot(g, g.validate())) == \
        {"n0:o1", "n1:i1", ("n0:o1:e", "n1:i1:w"), "d0", ("d0", "n1:i0:w")}


# ---- cycles ---------------------------------------------------------------

def ring(names, close=True, **kw):
    """Elements in a chain, out of each into the next; closed into a ring."""
    made = [element(n, ins=["in"], outs=["out"], **kw) for n in names]
    links = [PyEdge(made[i][1]["out"], made[i + 1][1]["in"]) for i in range(len(made) - 1)]
    if close:
        links.append(PyEdge(made[-1][1]["out"], made[0][1]["in"]))
    return [e for e, _ in made], [p for _, p in made], links


def test_cycles_marked():
    c1, p1, l1 = ring(["a1", "a2", "a3"])
    c2, p2, l2 = ring(["b1", "b2"])
    lone, lp = element("self", ins=["in"], outs=["out"])
    tail, tp = element("tail", ins=["in", "in2", "in3"])
    between = [PyEdge(p1[2]["out"], p2[0]["in"]),          # from one cycle into the other
               PyEdge(lp["out"], lp["in"]),                 # self-loop
               PyEdge(p2[1]["out"], tp["in"]),
               PyEdge(lp["out"], tp["in2"]),
               PyEdge.dynamic_output("tail", "pad", tp["in3"])]
    g = graph(*c1, *c2, lone, tail, edges=l1 + l2 + between)
    want = {str(e.id) for e in c1 + c2 + [lone]}
    assert cycle_elements(g) == want
    assert [e.kind() for e in g.validate().errors] == ["CycleDetected"]
    dot = to_dot(g, g.validate())
    for i, e in enumerate(c1 + c2 + [lone, tail]):
        line = node(dot, f"n{i}")
        assert ('<B>cycle</B>' in line) == (str(e.id) in want)
        assert line.startswith(f'  n{i} [label=<<TABLE BORDER="2" CELLBORDER="0" '
                               f'CELLSPACING="0" CELLPADDING="0" COLOR="{ORANGE}">') \
            == (str(e.id) in want)
    orange = {(t, h) for t, h, attrs in edges(dot) if ORANGE in attrs}
    assert orange == {("n0:o0:e", "n1:i0:w"), ("n1:o0:e", "n2:i0:w"), ("n2:o0:e", "n0:i0:w"),
                      ("n3:o0:e", "n4:i0:w"), ("n4:o0:e", "n3:i0:w"), ("n5:o0:e", "n5:i0:w")}
    assert red_things(dot) == set()


def test_acyclic_graphs_mark_nothing(chain):
    g, _ = chain
    assert cycle_elements(g) == set() and cycle_elements(PyGraph()) == set()
    assert "cycle" not in to_dot(g) and ORANGE not in to_dot(g)
    # A late edge whose source is not there yet and a dynamic edge back to an
    # element's own input join nothing.
    a, ap = element("a", ins=["in", "in2"], outs=["out"])
    b, bp = element("b", ins=["in"], outs=["out"])
    g = graph(a, b, edges=[PyEdge(ap["out"], bp["in"]),
                           PyEdge.late_binding(PyPortId.new(), ap["in"]),
                           PyEdge.dynamic_output("b", "out", ap["in2"])])
    assert cycle_elements(g) == set() and g.validate().is_valid()


def test_cycle_through_shared_element_id_and_late_edge():
    # Elements sharing an id are one node, as validation counts them.
    eid = PyElementId.new()
    a, ap = element("a", outs=["out"], eid=eid)
    a2, a2p = element("a again", ins=["in"], eid=eid)
    b, bp = element("b", ins=["in"], outs=["out"])
    g = graph(a, a2, b, edges=[PyEdge(ap["out"], bp["in"]),
                               PyEdge.late_binding(bp["out"], a2p["in"])])
    assert cycle_elements(g) == {str(eid), str(b.id)}
    assert "CycleDetected" in [e.kind() for e in g.validate().errors]
    assert ("n2:o0:e", "n1:i0:w", f'label=<<FONT COLOR="{ORANGE}">Frame</FONT>>, '
            f'style=dashed, color="{ORANGE}", penwidth=2') in edges(to_dot(g))


@settings(max_examples=60, deadline=None)
@given(st.integers(1, 8).flatmap(lambda n: st.tuples(
    st.just(n), st.lists(st.tuples(st.integers(0, n - 1), st.integers(0, n - 1)), max_size=14))))
def test_cycles_agree_with_networkx_and_validation(case):
    n, links = case
    made = [element(f"e{i}", ins=["in"], outs=["out"]) for i in range(n)]
    g = graph(*[e for e, _ in made],
              edges=[PyEdge(made[u][1]["out"], made[v][1]["in"]) for u, v in links])
    ref = nx.DiGraph()
    ref.add_nodes_from(range(n))
    ref.add_edges_from(links)
    want = {str(made[i][0].id) for comp in nx.strongly_connected_components(ref)
            for i in comp if len(comp) > 1 or ref.has_edge(i, i)}
    assert cycle_elements(g) == want
    assert bool(want) == ("CycleDetected" in [e.kind() for e in g.validate().errors])


def test_long_chain_and_ring_without_recursion():
    n = 100_000
    g = PyGraph()
    ports = []
    for i in range(n):
        pin, pout = PyPort.input("in", FRAME), PyPort.output("out", FRAME)
        g.add_element(PyElement(PyElementId.new(), PyElementTypeId("t"), f"e{i}",
                                PyElementKind.Operator).with_input(pin).with_output(pout))
        if ports:
            g.add_edge(PyEdge(ports[-1][1], pin.id))
        ports.append((pin.id, pout.id))
    depth = 0
    while sys._getframe(depth).f_back is not None:
        depth += 1
    limit = sys.getrecursionlimit()
    sys.setrecursionlimit(depth + 60)
    try:
        assert cycle_elements(g) == set()
        g.add_edge(PyEdge(ports[-1][1], ports[0][0]))
        assert len(cycle_elements(g)) == n
        dot = to_dot(g)
    finally:
        sys.setrecursionlimit(limit)
    assert dot.count("<B>cycle</B>") == n and dot.count(f'color="{ORANGE}"') == n


# ---- late and dynamic edges -----------------------------------------------

def test_late_and_dynamic_edges():
    src, sp = element("src", PyElementKind.Source, outs=["out"])
    det, dp = element("det", ins=["in", "late", "pending", "dyn1", "dyn2", "dyn3"])
    pending = PyPortId.new()
    g = graph(src, det, edges=[
        PyEdge(sp["out"], dp["in"]).with_late_binding(),
        PyEdge.late_binding(sp["out"], dp["late"]),
        PyEdge.late_binding(pending, dp["pending"]),
        PyEdge.late_binding(pending, dp["in"]),
        PyEdge.dynamic_output("src", "objects", dp["dyn1"]),
        PyEdge.dynamic_output("src", "objects", dp["dyn2"]),
        PyEdge.dynamic_output("src", "masks", dp["dyn3"])])
    report = g.validate()
    assert report.is_valid() and len(report.warnings) == 2
    dot = to_dot(g, report)
    assert edges(dot) == [
        ("n0", "d0", 'style=dotted, arrowhead=none, color="#606060"'),
        ("n0", "d1", 'style=dotted, arrowhead=none, color="#606060"'),
        ("n0:o0:e", "n1:i0:w", "label=<Frame>, style=dashed"),
        ("n0:o0:e", "n1:i1:w", "label=<Frame>, style=dashed"),
        ("m0", "n1:i2:w", "label=<Frame>, style=dashed"),
        ("m0", "n1:i0:w", "label=<Frame>, style=dashed"),
        ("d0", "n1:i3:w", "label=<Frame>, style=dashed"),     # one pad, two edges
        ("d0", "n1:i4:w", "label=<Frame>, style=dashed"),
        ("d1", "n1:i5:w", "label=<Frame>, style=dashed")]
    assert "<B>src</B><BR/>pad objects<BR/><I>dynamic pad</I>" in node(dot, "d0")
    assert "<B>src</B><BR/>pad masks<BR/>" in node(dot, "d1")
    assert f"<B>pending port</B><BR/><FONT POINT-SIZE=\"8\">{pending}</FONT>" in node(dot, "m0")
    assert red_things(dot) == set()
    # Once the same id is also a missing target, it is missing, not pending.
    g.add_edge(PyEdge(sp["out"], pending))
    dot = to_dot(g, g.validate())
    assert "<B>missing port</B>" in node(dot, "m0") and red_things(dot) == \
        {"m0", ("m0", "n1:i2:w"), ("m0", "n1:i0:w"), ("n0:o0:e", "m0")}


# ---- rendering ------------------------------------------------------------

def test_render_without_dot(tmp_path, monkeypatch):
    monkeypatch.setenv("PATH", str(tmp_path))
    with pytest.raises(GraphvizNotFoundError, match=r"`dot` program was not found on PATH"):
        render("digraph {}", tmp_path / "g.svg")
    assert issubclass(GraphvizNotFoundError, GraphvizError) and list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("fmt", ["jpg", "SVG", "", None])
def test_render_rejects_formats(tmp_path, fmt):
    assert FORMATS == ("svg", "png")
    with pytest.raises(ValueError, match=r"unsupported format .* \(expected 'svg' or 'png'\)"):
        render("digraph {}", tmp_path / "g", fmt)
    with pytest.raises(TypeError, match="dot_text must be a str, got 'bytes'"):
        render(b"digraph {}", tmp_path / "g")
    assert list(tmp_path.iterdir()) == []


@needs_dot
def test_render_failure_leaves_files_alone(tmp_path):
    out = tmp_path / "g.svg"
    out.write_text("old")
    with pytest.raises(GraphvizError, match=r"dot failed with exit status 1: .*syntax error"):
        render("digraph { a -> }", out)
    assert out.read_text() == "old" and [p.name for p in tmp_path.iterdir()] == ["g.svg"]
