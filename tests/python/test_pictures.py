"""Pictures of graphs: DOT text, error and cycle marking, rendering."""

import re
import shutil
import xml.etree.ElementTree as ET

import pytest

from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphBuilder, PyPort, PyPortId)
from kelo.checker.pictures import GraphvizError, GraphvizNotFoundError, cycle_elements, render, to_dot
from checks import raises

RED, ORANGE = "#d01010", "#e07000"
FRAME, TENSOR = PyDataContract.frame(), PyDataContract.tensor()
EDGE = re.compile(r"  (\S+) -> (\S+) \[(.*)\];")


def element(name, kind=PyElementKind.Operator, ins=(), outs=(), type_id=None, eid=None):
    """An element and its port ids by name; `ins` / `outs` hold names or (name, contract)."""
    type_id = PyElementTypeId(f"kelo.test.{name}" if type_id is None else type_id)
    e, ports = PyElement(eid or PyElementId.new(), type_id, name, kind), {}
    for items, make, add in ((ins, PyPort.input, "with_input"), (outs, PyPort.output, "with_output")):
        for pname, contract in (i if isinstance(i, tuple) else (i, FRAME) for i in items):
            ports[pname] = (port := make(pname, contract)).id
            e = getattr(e, add)(port)
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


def edges(dot):
    """(tail, head, attributes) of every edge line, connectors to pads included."""
    return [m.groups() for m in map(EDGE.fullmatch, dot.splitlines()) if m]


def red_things(dot):
    """Nodes, port fields ("n0:i1") and edges (tail, head) drawn red."""
    marked = set()
    for name, colour, rest in re.findall(r'^  (\w+) \[label=<<TABLE[^>]* COLOR="([^"]+)"(.*)', dot, re.M):
        marked |= {name} if colour == RED else set()
        marked |= {f"{name}:{f}" for f in re.findall(rf'PORT="(\w+)"[^>]* COLOR="{RED}"', rest)}
    return marked | {(t, h) for t, h, attrs in edges(dot) if f'color="{RED}"' in attrs}


def test_structure_and_bad_arguments():
    src, sp = element("camera", PyElementKind.Source, outs=["frames"])
    dec, dp = element("decoder", ins=["bitstream"], outs=[("tensor", TENSOR), "preview"])
    w4 = PyDataContract.tensor_with(PyContractSpec().with_width(4))
    snk, kp = element("sink", PyElementKind.Sink, ins=[("t", w4), "p"])
    g = graph(src, dec, snk, edges=[PyEdge(sp["frames"], dp["bitstream"]), PyEdge(dp["tensor"], kp["t"]),
                                    PyEdge(dp["preview"], kp["p"])])
    dot = to_dot(g)
    assert dot.startswith('digraph "pipeline" {\n') and dot.endswith("\n}\n")
    for i, (e, kind) in enumerate([(src, "Source"), (dec, "Operator"), (snk, "Sink")]):
        assert all(t in node(dot, f"n{i}") for t in (e.name, f"kelo.test.{e.name}", kind, str(e.id)))
    n1 = node(dot, "n1")  # inputs left of the header, outputs right of it, a field per port
    assert re.findall(r'PORT="(\w+)" ALIGN="(\w+)"', n1) == [("i0", "LEFT"), ("o0", "RIGHT"), ("o1", "RIGHT")]
    assert n1.index('PORT="i0"') < n1.index("<B>decoder</B>") < n1.index('PORT="o0"')
    assert "direction:" not in dot and "cycle" not in dot
    # the source contract, or both when they print differently
    assert edges(dot) == [("n0:o0:e", "n1:i0:w", "label=<Frame>"),
                          ("n1:o0:e", "n2:i0:w", "label=<Tensor → Tensor[w=4]>"),
                          ("n1:o1:e", "n2:i1:w", "label=<Frame>")]
    # a port listed against its direction says so
    assert "direction: output" in to_dot(graph(element("odd")[0].with_input(PyPort.output("x", FRAME))))
    assert to_dot(PyGraph(), name='say "hi" \\\n').splitlines()[0] == r'digraph "say \"hi\" \\\n" {'
    raises(TypeError, to_dot, g, name=1, msg="name must be a str, got 'int'")
    raises(TypeError, to_dot, PyGraphBuilder(), msg="expected a PyGraph, got 'PyGraphBuilder'")
    raises(TypeError, cycle_elements, [], msg="expected a PyGraph, got 'list'")
    raises(TypeError, to_dot, g, "report", msg="expected a PyValidationReport or None, got 'str'")


NASTY = [('say "hi"', "say &quot;hi&quot;"), ("{a|b} [c]", "{a|b} [c]"), ("<b>&amp;", "&lt;b&gt;&amp;amp;"),
         ("two\nlines\r\nthree\rfour", "two<BR/>lines<BR/>three<BR/>four"),
         ("tab\tnul\x00esc\x1b\x7f\u2028end", "tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end"),
         ("back\\slash \\", "back\\slash \\"), ("ünï ✓ 🎥", "ünï ✓ 🎥")]


def nasty_graph(raw):
    e, ports = element(raw, ins=[(raw, PyDataContract.custom(raw))], outs=["o"], type_id=raw)
    sink, sp = element("sink", ins=[("in", PyDataContract.custom(raw))])
    return graph(e, sink, edges=[PyEdge(ports["o"], ports[raw]), PyEdge.dynamic_output(raw, raw, sp["in"])])


@pytest.mark.parametrize("raw, esc", NASTY, ids=[repr(r) for r, _ in NASTY])
def test_escaping(raw, esc):
    dot = to_dot(g := nasty_graph(raw), g.validate())
    # name, type id, port name and contract; the pad's element and pad name
    assert node(dot, "n0").count(esc) == 4 and f"Custom({esc})" in node(dot, "n0")
    assert node(dot, "d0").count(esc) == 2 and f"pad {esc}" in node(dot, "d0")
    # The name is found, so the dynamic edge is fine; the contract mismatch is the only error, matched through
    # its text whatever the text holds.
    assert red_things(dot) == {"n0:o0", "n0:i0", ("n0:o0:e", "n0:i0:w")}
    # Nothing escapes its label: header, two elements, the pad and its connector, two edges, closing brace;
    # every < and > belongs to markup.
    assert len(dot.splitlines()) == 4 + 2 + 2 + 2 + 1
    for label in re.findall(r"label=<(.*)>[,\]]", dot):
        assert "<" not in re.sub(r"</?[A-Z]+(?: [A-Z-]+=\"[^\"<>]*\")*/?>", "", label)
    empty = to_dot(nasty_graph(""))  # Graphviz rejects <B></B> and the like
    assert ">pad <BR/><I>" in empty and not re.search(r"<(B|I|FONT[^>]*)></", empty)


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz dot is not installed")
def test_render(tmp_path):
    parts = [nasty_graph(raw) for raw, _ in NASTY]
    g = graph(*[e for p in parts for e in p.elements],
              edges=[x for p in parts for x in p.edges] + [PyEdge(PyPortId.new(), PyPortId.new())])
    out = render(to_dot(g, g.validate(), name=NASTY[0][0]), tmp_path / "g.svg")
    assert out == tmp_path / "g.svg" and [p.name for p in tmp_path.iterdir()] == ["g.svg"]
    texts = {t.text for t in ET.parse(out).iter("{http://www.w3.org/2000/svg}text")}
    shown = {"say \"hi\"", "{a|b} [c]", "<b>&amp;", "two", "lines", "three", "four",
             "tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end", "back\\slash \\", "ünï ✓ 🎥",
             "Custom(<b>&amp;)", "missing port", "pad <b>&amp;", "Operator"}
    assert shown <= texts, shown - texts
    # A failing run leaves the file that was there alone.
    before = out.read_bytes()
    pytest.raises(GraphvizError, render, "digraph { a -> }", out).match("dot failed with exit status 1: .*syntax")
    assert out.read_bytes() == before and [p.name for p in tmp_path.iterdir()] == ["g.svg"]


def cases():
    """Graphs by the error they hold, with what it draws red."""
    a, ap = element("a", ins=["in"], outs=["out", ("t", TENSOR)])
    # Contract tags and names holding id texts and message fragments are traps.
    b, bp = element("b", ins=["in", ("t", PyDataContract.custom(str(ap["in"]))), ("u", TENSOR)], outs=["out"])
    ok, shared = [PyEdge(ap["out"], bp["in"])], PyPort.input("shared", FRAME)
    trap = f'x" not found (edge {ap["out"]} -> {bp["u"]})\n'
    return {
        "EdgeReferencesMissingPort": (ok + [PyEdge(PyPortId.new(), bp["in"]), PyEdge(ap["out"], PyPortId.new())],
                                      {"m0", "m1", ("m0", "n1:i0:w"), ("n0:o0:e", "m1")}),
        "InvalidPortDirection": (ok + [PyEdge(ap["in"], bp["out"])], {"n0:i0", "n1:o0", ("n0:i0:w", "n1:o0:e")}),
        "DuplicateElementId": (ok, {"n1", "n2"} | {f"n{i}:{p}" for i in (1, 2) for p in ("i0", "o0", "o1")}),
        "DuplicatePortId": ([], {"n0:i1", "n1:i3"}),
        "ContractMismatch": (ok + [PyEdge(ap["out"], bp["t"]), PyEdge(ap["t"], bp["u"])],
                             {"n0:o0", "n1:i1", ("n0:o0:e", "n1:i1:w")}),
        "DynamicSourceElementNotFound": ([PyEdge.dynamic_output(n, p, bp["in"]) for n, p in
                                          [("a", "pad"), (trap, "pad"), ('gh"o\\st', "other")]],
                                         {"d1", "d2", ("d1", "n1:i0:w"), ("d2", "n1:i0:w")}),
    }, {"DuplicateElementId": (b, a, a), "DuplicatePortId": (a.with_input(shared), b.with_input(shared))}, (a, b)


@pytest.mark.parametrize("kind", list(cases()[0]))
def test_errors_in_red(kind):
    table, elements, usual = cases()
    g = graph(*elements.get(kind, usual), edges=table[kind][0])
    report = g.validate()
    assert kind in {e.kind() for e in report.errors} and red_things(to_dot(g)) == set()
    dot = to_dot(g, report)
    assert red_things(dot) == table[kind][1]  # a duplicated element's ports repeat too
    assert all("missing port" in node(dot, m) for m in ("m0", "m1") if m in dot)


def ring(names):
    """Elements in a closed ring, out of each into the next."""
    made = [element(n, ins=["in"], outs=["out"]) for n in names]
    return [e for e, _ in made], [p for _, p in made], \
        [PyEdge(made[i - 1][1]["out"], made[i][1]["in"]) for i in range(len(made))]


def test_cycles_marked():
    c1, p1, l1 = ring(["a1", "a2", "a3"])
    c2, p2, l2 = ring(["b1", "b2"])
    lone, lp = element("self", ins=["in"], outs=["out"])
    tail, tp = element("tail", ins=["in", "in2", "in3"])
    between = [PyEdge(p1[2]["out"], p2[0]["in"]), PyEdge(lp["out"], lp["in"]),  # cycle to cycle, self-loop
               PyEdge(p2[1]["out"], tp["in"]), PyEdge(lp["out"], tp["in2"]),
               PyEdge.dynamic_output("tail", "pad", tp["in3"])]
    g = graph(*c1, *c2, lone, tail, edges=l1 + l2 + between)
    assert cycle_elements(g) == (want := {str(e.id) for e in c1 + c2 + [lone]})
    assert [e.kind() for e in g.validate().errors] == ["CycleDetected"]
    dot = to_dot(g, g.validate())
    for i, e in enumerate(c1 + c2 + [lone, tail]):
        line = node(dot, f"n{i}")
        assert ("<B>cycle</B>" in line) == (f'COLOR="{ORANGE}">' in line) == (str(e.id) in want)
    assert {(t[:2], h[:2]) for t, h, attrs in edges(dot) if ORANGE in attrs} == {
        ("n2", "n0"), ("n0", "n1"), ("n1", "n2"), ("n4", "n3"), ("n3", "n4"), ("n5", "n5")}
    assert red_things(dot) == set()
    # Elements sharing an id are one node; a late edge between existing ports counts.
    a, ap = element("a", outs=["out"])
    a2, a2p = element("a again", ins=["in"], eid=a.id)
    b, bp = element("b", ins=["in"], outs=["out"])
    g = graph(a, a2, b, edges=[PyEdge(ap["out"], bp["in"]), PyEdge.late_binding(bp["out"], a2p["in"])])
    assert cycle_elements(g) == {str(a.id), str(b.id)}
    assert [(t, h) for t, h, attrs in edges(to_dot(g)) if ORANGE in attrs] == [("n0:o0:e", "n2:i0:w"),
                                                                                ("n2:o0:e", "n1:i0:w")]


def test_a_long_ring():  # far deeper than the interpreter's recursion limit
    els, _, links = ring([f"e{i}" for i in range(100_000)])
    g = graph(*els, edges=links[1:])
    assert cycle_elements(g) == set() and cycle_elements(PyGraph()) == set()
    g.add_edge(links[0])
    assert len(cycle_elements(g)) == 100_000 and to_dot(g).count("<B>cycle</B>") == 100_000


def test_late_and_dynamic_edges():
    src, sp = element("src", PyElementKind.Source, outs=["out"])
    det, dp = element("det", ins=["in", "late", "pending", "dyn1", "dyn2", "dyn3", "dyn4"])
    pending = PyPortId.new()
    g = graph(src, det, edges=[PyEdge(sp["out"], dp["in"]).with_late_binding(),
                               PyEdge.late_binding(sp["out"], dp["late"]), PyEdge.late_binding(pending, dp["pending"]),
                               PyEdge.late_binding(pending, dp["in"])]
              + [PyEdge.dynamic_output(owner, pad, dp[f"dyn{i}"]) for i, (owner, pad) in enumerate(
                  [("src", "objects"), ("src", "objects"), ("det", "masks"), ('gh"ost', "pad")], 1)])
    dot = to_dot(g)
    # A late edge whose source is not there yet and a dynamic edge back to an element's own input join no
    # cycle.
    assert cycle_elements(g) == set() and ORANGE not in dot
    assert [e.kind() for e in g.validate().errors] == ["DynamicSourceElementNotFound"]
    # connectors from the element to its pads, then every edge dashed
    assert [(t, h) for t, h, _ in edges(dot)] == [
        ("n0", "d0"), ("n1", "d1"), ("n0:o0:e", "n1:i0:w"), ("n0:o0:e", "n1:i1:w"),
        ("m0", "n1:i2:w"), ("m0", "n1:i0:w"), ("d0", "n1:i3:w"), ("d0", "n1:i4:w"),  # one pad
        ("d1", "n1:i5:w"), ("d2", "n1:i6:w")]
    assert all(("dotted" if h[0] == "d" else "dashed") in a for t, h, a in edges(dot))
    for name, texts in [("d0", ["src", "pad objects", "dynamic pad"]),
                        ("m0", ["pending port", str(pending)]), ("d2", ["gh&quot;ost", "pad pad", "missing element"])]:
        assert all(t in node(dot, name) for t in texts)
    # Once the same id is also a missing target, it is missing, not pending.
    g.add_edge(PyEdge(sp["out"], pending))
    dot = to_dot(g, g.validate())
    assert "<B>missing port</B>" in node(dot, "m0")
    assert {"m0", ("m0", "n1:i2:w"), ("m0", "n1:i0:w"), ("n0:o0:e", "m0")} <= red_things(dot)


def test_render_errors(tmp_path, monkeypatch):
    for name, fmt, msg in [("g", "SVG", r"unsupported format 'SVG' \(expected 'svg', 'png', 'pdf' or 'dot'\)"),
                           ("g.jpg", None, r"unsupported format 'jpg' for .*\(expected 'svg', 'png', "),
                           ("g.png", "svg", "format 'svg' does not match the extension of ")]:
        pytest.raises(ValueError, render, "digraph {}", tmp_path / name, fmt).match(msg)
    raises(TypeError, render, b"digraph {}", tmp_path / "g.svg", msg="dot_text must be a str, got 'bytes'")
    (out := tmp_path / "g.svg").write_text("old")
    monkeypatch.setenv("PATH", str(tmp_path))
    pytest.raises(GraphvizNotFoundError, render, "digraph {}", out).match(r"`dot` program was not found on PATH")
    assert issubclass(GraphvizNotFoundError, GraphvizError) and out.read_text() == "old"
    assert [p.name for p in tmp_path.iterdir()] == ["g.svg"]
    # DOT text needs no Graphviz.
    assert render("digraph {}\n", tmp_path / "g.dot").read_text() == "digraph {}\n"
