"""Graph validation: error kinds and messages, their order, warnings, the
report objects, deep graphs, and a differential check against a small
reference model of the four passes."""

import random
import uuid

import pytest

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyGraph, PyGraphBuilder,
                            PyGraphValidationError, PyPort, PyPortDirection, PyPortId,
                            PyValidationReport, validate_graph)
from checks import raises

IN, OUT = PyPortDirection.Input, PyPortDirection.Output
Spec, DC = PyContractSpec, PyDataContract
FRAME, TENSOR = DC.frame(), DC.tensor()
DECODE = PyElementTypeId("kelo.decode.h264")
NOT = "'{}' object is not an instance of '{}'".format
KINDS = ["EdgeReferencesMissingPort", "InvalidPortDirection", "PortNotOwnedByElement",
         "DuplicateElementId", "DuplicatePortId", "ContractMismatch", "CycleDetected",
         "DynamicSourceElementNotFound"]


# ---- expected entries -------------------------------------------------------------------

def u(x):
    """The canonical text of a port or element id, given the id, its port or its text."""
    if isinstance(x, PyPort):
        x = x.id
    return x if isinstance(x, str) else x.uuid()


def missing(p):
    return ("EdgeReferencesMissingPort", f"edge references missing port {u(p)}")


def direction(s, t, sd, td):
    return ("InvalidPortDirection",
            f"edge {u(s)} -> {u(t)} has invalid direction {sd} -> {td} (expected Output -> Input)")


def dup_element(e):
    return ("DuplicateElementId", f"duplicate element id {u(e)}")


def dup_port(p):
    return ("DuplicatePortId", f"duplicate port id {u(p)}")


def mismatch(s, t, sc, tc):
    return ("ContractMismatch", f"contract mismatch on edge {u(s)} -> {u(t)}: {sc} vs {tc}")


CYCLE = ("CycleDetected", "cycle detected in graph")


def debug_text(s):
    out = []
    for ch in s:
        if ch in '"\\':
            out.append("\\" + ch)
        elif ch in "\n\r\t\0":
            out.append("\\" + "nrt0"["\n\r\t\0".index(ch)])
        elif ch == "'" or ch.isprintable():
            out.append(ch)
        else:
            out.append("\\u{%x}" % ord(ch))
    return '"' + "".join(out) + '"'


def dynamic(name, s, t):
    return ("DynamicSourceElementNotFound",
            f"dynamic source element {debug_text(name)} not found (edge {u(s)} -> {u(t)})")


def warning(s, t):
    return (f"late-binding edge PortId({u(s)}) \u2192 PortId({u(t)}): "
            "source port not yet materialized (deferred)")


# ---- building graphs --------------------------------------------------------------------

def port(d=OUT, contract=FRAME, pid=None, name="p"):
    return PyPort(pid or PyPortId.new(), name, d, contract)


def element(name="e", inputs=(), outputs=(), eid=None, kind=PyElementKind.Operator):
    e = PyElement(eid or PyElementId.new(), DECODE, name, kind)
    for p in inputs:
        e = e.with_input(p)
    for p in outputs:
        e = e.with_output(p)
    return e


def graph(elements=(), edges=()):
    g = PyGraph()
    for e in elements:
        g.add_element(e)
    for x in edges:
        g.add_edge(x)
    return g


def entries(report):
    return [(e.kind(), e.message()) for e in report.errors]


def check(g, errors=(), warnings=()):
    r = g.validate()
    assert entries(r) == list(errors)
    assert r.warnings == list(warnings)
    assert r.is_valid() is (not errors)
    valid = "true" if not errors else "false"
    assert repr(r) == f"PyValidationReport(valid={valid}, errors={len(errors)}, " \
        f"warnings={len(warnings)})"
    return r


def edge(s, t):
    return PyEdge(s.id, t.id)


# ---- docs, constructors, argument errors -----------------------------------------------

def test_docs_and_signatures():
    assert validate_graph.__text_signature__ == "(graph)"
    assert validate_graph.__doc__ == \
        "Validate a graph (RFC-003 \u00a716) \u2014 free-function form of\n`PyGraph.validate`."
    assert PyGraph.validate.__text_signature__ == "($self)"
    assert PyGraph.validate.__doc__ == "Validate this graph (RFC-003 \u00a716)."
    assert PyValidationReport.__doc__ == "The result of graph validation."
    assert PyGraphValidationError.__doc__ == "A single graph validation error."
    assert PyValidationReport.__text_signature__ is None
    assert PyGraphValidationError.__text_signature__ is None
    for method, sig, doc in [
            (PyValidationReport.is_valid, "($self)", "Whether the graph has no validation errors."),
            (PyGraphValidationError.kind, "($self)",
             "Machine-readable error kind, e.g. `CycleDetected`."),
            (PyGraphValidationError.message, "($self)", "Human-readable error description.")]:
        assert (method.__text_signature__, method.__doc__) == (sig, doc)


@pytest.mark.parametrize("cls", [PyValidationReport, PyGraphValidationError],
                         ids=lambda c: c.__name__)
def test_no_constructor(cls):
    for args in ((), (PyGraph(),), ("CycleDetected",)):
        raises(TypeError, cls, *args, msg=f"cannot create 'builtins.{cls.__name__}' instances")


def test_report_members_are_read_only():
    r = graph().validate()
    for attr in ("errors", "warnings", "is_valid", "valid"):
        with pytest.raises(AttributeError):
            setattr(r, attr, [])
    err = graph([element(outputs=[p := port()]), element(outputs=[p])]).validate().errors[0]
    for attr in ("kind", "message"):
        with pytest.raises(AttributeError):
            setattr(err, attr, "x")


G = graph([element()])
CALL_ERRORS = [  # callable, args, kwargs, exception, message, note
    (validate_graph, (PyGraphBuilder(),), {}, NOT("PyGraphBuilder", "PyGraph"), "graph"),
    (validate_graph, (None,), {}, "'None' is not an instance of 'PyGraph'", "graph"),
    (validate_graph, ([],), {}, NOT("list", "PyGraph"), "graph"),
    (validate_graph, (), {"graph": G.validate()}, NOT("PyValidationReport", "PyGraph"), "graph"),
    (validate_graph, (), {}, "validate_graph() missing 1 required positional argument: 'graph'",
     None),
    (validate_graph, (G, G), {}, "validate_graph() takes 1 positional arguments but 2 were given",
     None),
    (validate_graph, (), {"g": G}, "validate_graph() got an unexpected keyword argument 'g'",
     None),
    (validate_graph, (G,), {"graph": G},
     "validate_graph() got multiple values for argument 'graph'", None),
    (G.validate().is_valid, (1,), {},
     "PyValidationReport.is_valid() takes 0 positional arguments but 1 was given", None),
]


@pytest.mark.parametrize("fn, args, kwargs, msg, note", CALL_ERRORS)
def test_call_errors(fn, args, kwargs, msg, note):
    raises(TypeError, fn, *args, msg=msg, note=note, **kwargs)
    assert repr(G) == "PyGraph(elements=1, edges=0)"


def test_error_object_members():
    g = graph([element("a", outputs=[p := port()]), element("b", outputs=[p])])
    err = g.validate().errors[0]
    assert type(err) is PyGraphValidationError and not isinstance(err, BaseException)
    assert (err.kind(), err.message()) == dup_port(p)
    assert type(err.kind()) is str and str(err) == err.message()
    assert repr(err) == "PyGraphValidationError(DuplicatePortId)"
    with pytest.raises(TypeError, match="takes 0 positional arguments but 1 was given"):
        err.kind(1)
    assert err == err and hash(err) == object.__hash__(err)
    assert (err == g.validate().errors[0]) is False


# ---- reports ----------------------------------------------------------------------------

def test_empty_graph():
    r = check(PyGraph())
    assert (r.errors, r.warnings, r.is_valid()) == ([], [], True)
    assert repr(r) == "PyValidationReport(valid=true, errors=0, warnings=0)"
    assert type(validate_graph(PyGraph())) is PyValidationReport


def test_fresh_objects_on_every_read():
    a, b = port(OUT, FRAME), port(IN, TENSOR)
    late = PyEdge.late_binding(PyPortId.new(), b.id)
    g = graph([element(outputs=[a]), element(inputs=[b])], [edge(a, b), late])
    r = g.validate()
    first, second = r.errors, r.errors
    assert first is not second and len(first) == 1
    assert all(x is not y for x, y in zip(first, second))
    assert [(e.kind(), e.message()) for e in first] == [(e.kind(), e.message()) for e in second]
    w = r.warnings
    assert w is not r.warnings and w == r.warnings == [warning(late.source, b)]
    w.clear()
    first.clear()
    assert len(r.warnings) == 1 and len(r.errors) == 1
    assert r is not g.validate() and repr(r) == repr(g.validate())


def test_report_reprs():
    a, b = port(IN), port(IN)
    g = graph([element(inputs=[a]), element(inputs=[b])],
              [edge(a, b), PyEdge(PyPortId.new(), a.id), PyEdge.late_binding(PyPortId.new(), b.id)])
    r = g.validate()
    assert repr(r) == "PyValidationReport(valid=false, errors=2, warnings=1)"
    assert [repr(e) for e in r.errors] == ["PyGraphValidationError(InvalidPortDirection)",
                                           "PyGraphValidationError(EdgeReferencesMissingPort)"]
    assert r == r and hash(r) == object.__hash__(r) and (r == g.validate()) is False


def test_method_and_function_agree_and_leave_the_graph_alone():
    a, b = port(OUT, FRAME), port(OUT, TENSOR)
    g = graph([element("x", outputs=[a, b]), element("x", outputs=[a])],
              [edge(a, b), PyEdge.dynamic_output("y", "pad", a.id),
               PyEdge.late_binding(PyPortId.new(), PyPortId.new())])
    before = (repr(g), [repr(e) for e in g.edges], [repr(e) for e in g.elements])
    r1, r2, r3 = g.validate(), validate_graph(g), validate_graph(graph=g)
    assert r1 is not r2 and entries(r1) == entries(r2) == entries(r3) and len(entries(r1)) == 5
    assert r1.warnings == r2.warnings == r3.warnings and len(r1.warnings) == 1
    assert repr(r1) == repr(r2) == repr(r3)
    assert (repr(g), [repr(e) for e in g.edges], [repr(e) for e in g.elements]) == before
    # A report is a snapshot: changing the graph later does not reach it.
    g.add_edge(PyEdge(PyPortId.new(), PyPortId.new()))
    assert len(r1.errors) == 5 and len(g.validate().errors) == 7


# ---- pass 1: identifiers ----------------------------------------------------------------

def test_duplicate_element_ids():
    eid = PyElementId.new()
    o, i = port(OUT), port(IN)
    # The second element's ports are indexed too: the edge finds both ends.
    # Elements sharing an id share one node, so the edge is a loop on it.
    check(graph([element("a", outputs=[o], eid=eid), element("b", inputs=[i], eid=eid)],
                [edge(o, i)]),
          [dup_element(eid), CYCLE])
    check(graph([element(eid=eid), element(eid=PyElementId.from_str(eid.uuid())),
                 element(), element(eid=eid)]),
          [dup_element(eid), dup_element(eid)])


def test_duplicate_ids_in_visiting_order():
    eid, p, q = PyElementId.new(), port(IN), port(OUT)
    a = element("a", inputs=[p], outputs=[q], eid=eid)
    b = element("b", inputs=[q, p], eid=eid)
    c = element("c", inputs=[p, p])
    check(graph([a, b, c]), [dup_element(eid), dup_port(q), dup_port(p), dup_port(p),
                             dup_port(p)])


def test_duplicate_port_across_elements_resolves_to_the_later_port():
    shared = PyPortId.new()
    i1, o3 = port(IN, FRAME), port(OUT, FRAME)
    e1 = element("e1", inputs=[port(IN, TENSOR, shared), i1])
    e2 = element("e2", outputs=[port(OUT, FRAME, shared)])
    i3 = port(IN, FRAME)
    e3 = element("e3", inputs=[i3], outputs=[o3])
    # shared -> i3 is checked against e2's Output/Frame port, and its dependency
    # starts at e2; with e1 as owner, o3 -> i1 would close a cycle.
    check(graph([e1, e2, e3], [PyEdge(shared, i3.id), edge(o3, i1)]), [dup_port(shared)])
    # Used as a target, the later (output) port gives the directions.
    check(graph([e1, e2, e3], [PyEdge(o3.id, shared)]),
          [dup_port(shared), direction(o3, shared, "Output", "Output")])


def test_duplicate_port_within_one_element_resolves_to_the_output():
    shared = PyPortId.new()
    e1 = element("e1", inputs=[port(IN, TENSOR, shared)], outputs=[port(OUT, FRAME, shared)])
    i2 = port(IN, FRAME)
    check(graph([e1, element("e2", inputs=[i2])], [PyEdge(shared, i2.id)]), [dup_port(shared)])
    # The same with the lists swapped in content: the output list still wins.
    e1 = element("e1", inputs=[port(OUT, FRAME, shared)], outputs=[port(IN, TENSOR, shared)])
    check(graph([e1, element("e2", inputs=[i2])], [PyEdge(shared, i2.id)]),
          [dup_port(shared), direction(shared, i2, "Input", "Input"),
           mismatch(shared, i2, "Tensor", "Frame")])


def test_port_direction_not_list_decides():
    o_in_inputs, i_in_outputs = port(OUT), port(IN)
    check(graph([element("a", inputs=[o_in_inputs]), element("b", outputs=[i_in_outputs])],
                [edge(o_in_inputs, i_in_outputs)]))


# ---- pass 3: edges ----------------------------------------------------------------------

X, Y = PyPortId.new(), PyPortId.new()  # owned by no element
O_P, I_P, BAD = port(OUT, FRAME), port(IN, FRAME), port(IN, TENSOR)
BASE = [element("det", outputs=[O_P]), element("sink", inputs=[I_P]), element("odd", inputs=[BAD])]
EDGE_CASES = {  # edge -> (errors, warnings)
    "plain-both-missing": (lambda: PyEdge(X, Y), [missing(X), missing(Y)], []),
    "plain-source-missing": (lambda: PyEdge(X, I_P.id), [missing(X)], []),
    # no direction or contract test when the target is missing
    "plain-target-missing": (lambda: PyEdge(BAD.id, Y), [missing(Y)], []),
    "late-source-missing": (lambda: PyEdge.late_binding(X, I_P.id), [], [warning(X, I_P.id)]),
    "late-both-missing": (lambda: PyEdge.late_binding(X, Y), [missing(Y)], [warning(X, Y)]),
    "late-target-missing": (lambda: PyEdge.late_binding(O_P.id, Y), [missing(Y)], []),
    "marked-late-source-missing": (lambda: PyEdge(X, I_P.id).with_late_binding(), [],
                                   [warning(X, I_P.id)]),
    "late-source-exists": (lambda: PyEdge.late_binding(BAD.id, I_P.id),
                           [direction(BAD.id, I_P, "Input", "Input"),
                            mismatch(BAD.id, I_P, "Tensor", "Frame")], []),
}


@pytest.mark.parametrize("case", EDGE_CASES)
def test_edge_ends(case):
    make, errors, warnings = EDGE_CASES[case]
    check(graph(BASE, [make()]), errors, warnings)


@pytest.mark.parametrize("name, found", [("det", True), ("odd", True), ("Det", False),
                                         ("de", False), ("det ", False), ("pad", False)])
@pytest.mark.parametrize("target_exists", [True, False])
@pytest.mark.parametrize("maker", ["edge", "builder", "marked"])
def test_dynamic_edges(name, found, target_exists, maker):
    target = I_P.id if target_exists else Y
    if maker == "builder":
        b = PyGraphBuilder()
        for e in BASE:
            b = b.add_element(e)
        g = b.connect_dynamic(name, "pad", target).build()
    else:
        x = PyEdge.dynamic_output(name, "pad", target)
        g = graph(BASE, [x.with_late_binding() if maker == "marked" else x])
    source = g.edges[0].source
    errors = ([] if found else [dynamic(name, source, target)]) + \
        ([] if target_exists else [missing(target)])
    check(g, errors)


@pytest.mark.parametrize("name, shown", [
    ("det", '"det"'), ("", '""'), ('a"b', '"a\\"b"'), ("x\ny", '"x\\ny"'),
    ("back\\slash\ttab\r", '"back\\\\slash\\ttab\\r"'), ("nul\x00", '"nul\\0"'),
    ("\x01\x1f\x7f", '"\\u{1}\\u{1f}\\u{7f}"'), ("it's \u00e9\U0001f600", "\"it's \u00e9\U0001f600\""),
])
def test_dynamic_source_name_in_debug_form(name, shown):
    assert debug_text(name) == shown
    base = [element("sink", inputs=[I_P])]
    x = PyEdge.dynamic_output(name, "pad", I_P.id)
    r = check(graph(base, [x]), [dynamic(name, x.source, I_P.id)])
    assert f"dynamic source element {shown} not found (edge " in r.errors[0].message()
    # An element carrying exactly that name satisfies the edge.
    check(graph(base + [element(name)], [x]))


def test_dynamic_edge_matches_names_not_ids():
    e = element("named")
    x = PyEdge.dynamic_output(e.id.uuid(), "pad", I_P.id)
    check(graph(BASE + [e], [x]), [dynamic(e.id.uuid(), x.source, I_P.id)])
    # Any element with the name will do, even one with a repeated id.
    twin = element("twin", eid=e.id)
    check(graph(BASE + [e, twin], [PyEdge.dynamic_output("twin", "pad", I_P.id)]),
          [dup_element(e.id)])


def test_dynamic_edge_adds_no_dependency():
    oa, ia, ib = port(OUT), port(IN), port(IN)
    a = element("A", inputs=[ia], outputs=[oa])
    b = element("B", inputs=[ib])
    check(graph([a, b], [edge(oa, ib), PyEdge.dynamic_output("B", "objects", ia.id)]))


@pytest.mark.parametrize("sd, td", [(IN, OUT), (OUT, OUT), (IN, IN)])
def test_invalid_direction(sd, td):
    s, t = port(sd), port(td)
    names = {IN: "Input", OUT: "Output"}
    check(graph([element("a", outputs=[s]), element("b", inputs=[t])], [edge(s, t)]),
          [direction(s, t, names[sd], names[td])])
    # Still contract-tested (after the direction error) and still part of the cycle search.
    s2, t2 = port(sd, TENSOR), port(td, FRAME)
    o, i = port(OUT, TENSOR), port(IN, TENSOR)
    a, b = element("a", inputs=[i], outputs=[s2]), element("b", inputs=[t2], outputs=[o])
    check(graph([a, b], [edge(s2, t2), edge(o, i)]),
          [direction(s2, t2, names[sd], names[td]), mismatch(s2, t2, "Tensor", "Frame"), CYCLE])


WIDE = DC.frame_with(Spec().with_width(640))
CONTRACTS = [  # source, target, compatible
    (FRAME, TENSOR, False),
    (FRAME, WIDE, True),
    (WIDE, FRAME, True),
    (DC.frame_with(Spec()), WIDE, True),
    (WIDE, DC.frame_with(Spec().with_width(641)), False),
    (DC.frame_with(Spec().with_class_ids([1])), DC.frame_with(Spec().with_class_ids([1, 2])), True),
    (DC.frame_with(Spec().with_class_ids([1, 2])), DC.frame_with(Spec().with_class_ids([1])), False),
    (DC.custom("x"), DC.custom("x"), True),
    (DC.custom("x"), DC.custom("X"), False),
    (DC.custom("Frame"), FRAME, False),
    (DC.metadata_content("det"), DC.metadata(), True),
    (DC.metadata_content("det"), DC.metadata_content("tracks"), False),
    (DC.event(), DC.event(), True),
    (DC.event(), DC.batch(), False),
    (DC.frame_with(Spec().with_content_type("a,b")), DC.frame_with(Spec().with_content_type("c")),
     False),
    (DC.frame_with(Spec().with_pixel_format(PyPixelFormat.custom('ba"y'))),
     DC.frame_with(Spec().with_pixel_format(PyPixelFormat.nv12())), False),
    (DC.tensor_with(Spec().with_dtype(PyDType.Float32).with_shape([1, 3])),
     DC.tensor_with(Spec().with_shape([1, 3, 1])), False),
]


@pytest.mark.parametrize("sc, tc, ok", CONTRACTS, ids=[f"{s}->{t}" for s, t, _ in CONTRACTS])
def test_contracts(sc, tc, ok):
    s, t = port(OUT, sc), port(IN, tc)
    check(graph([element(outputs=[s]), element(inputs=[t])], [edge(s, t)]),
          [] if ok else [mismatch(s, t, str(sc), str(tc))])


def test_mismatch_message_uses_display_forms():
    sc = DC.frame_with(Spec().with_pixel_format(PyPixelFormat.custom('ba"y')).with_width(4))
    s, t = port(OUT, sc), port(IN, DC.custom("lidar"))
    r = check(graph([element(outputs=[s]), element(inputs=[t])], [edge(s, t)]),
              [mismatch(s, t, 'Frame[pixel=Custom("ba\\"y"),w=4]', "Custom(lidar)")])
    assert r.errors[0].message().endswith(': Frame[pixel=Custom("ba\\"y"),w=4] vs Custom(lidar)')


# ---- pass 4: cycles ---------------------------------------------------------------------

def test_self_loop():
    o, i = port(OUT), port(IN)
    check(graph([element("loop", inputs=[i], outputs=[o])], [edge(o, i)]), [CYCLE])
    check(graph([element("loop", inputs=[i], outputs=[o])], [PyEdge.late_binding(o.id, i.id)]),
          [CYCLE])


def test_acyclic_shapes_are_valid():
    # A diamond, a repeated edge, fan-in to one input, unconnected ports,
    # a Source with inputs and a Sink with outputs: none of them is checked.
    ports = {n: (port(IN, name=n + ".in"), port(OUT, name=n + ".out")) for n in "abcd"}
    kinds = {"a": PyElementKind.Source, "d": PyElementKind.Sink}
    els = [element(n, inputs=[ports[n][0], port(IN)], outputs=[ports[n][1], port(OUT)],
                   kind=kinds.get(n, PyElementKind.Operator)) for n in "abcd"]
    links = ["ab", "ac", "bd", "cd", "ab", "ad"]
    check(graph(els, [edge(ports[s][1], ports[t][0]) for s, t in links]))
    # Visiting from a later key first must not mistake a finished node for a cycle.
    check(graph(els[::-1], [edge(ports[s][1], ports[t][0]) for s, t in links[::-1]]))


def test_one_cycle_report_after_all_edge_errors():
    def ring(n):
        ps = [(port(IN), port(OUT)) for _ in range(n)]
        els = [element(f"r{k}", inputs=[i], outputs=[o]) for k, (i, o) in enumerate(ps)]
        return els, [edge(ps[k][1], ps[(k + 1) % n][0]) for k in range(n)]

    (e1, x1), (e2, x2) = ring(2), ring(3)
    tail = [PyEdge(X, Y)]
    check(graph(e1 + e2, x1 + x2 + tail), [missing(X), missing(Y), CYCLE])
    check(graph(e1 + e2, tail + x2 + x1), [missing(X), missing(Y), CYCLE])


def test_cycle_through_an_acyclic_prefix():
    ps = [(port(IN), port(OUT)) for _ in range(5)]
    els = [element(f"n{k}", inputs=[i], outputs=[o]) for k, (i, o) in enumerate(ps)]
    links = [(0, 1), (1, 2), (0, 2), (2, 3), (3, 4), (4, 2)]
    check(graph(els, [edge(ps[s][1], ps[t][0]) for s, t in links]), [CYCLE])


def test_every_kind_in_one_report():
    eid = PyElementId.new()
    o1, i1, o2, i2 = port(OUT, FRAME), port(IN, FRAME), port(OUT, TENSOR), port(IN, FRAME)
    a = element("a", inputs=[i1], outputs=[o1], eid=eid)
    b = element("b", inputs=[i2], outputs=[o2, o1], eid=eid)
    c_in = port(IN, FRAME)
    c = element("c", inputs=[c_in])
    dyn = PyEdge.dynamic_output("nobody", "pad", Y)
    late = PyEdge.late_binding(X, c_in.id)
    edges = [edge(o2, i2), dyn, PyEdge(i1.id, o1.id), late, PyEdge(X, c_in.id), edge(o1, c_in)]
    r = check(graph([a, b, c], edges),
              [dup_element(eid), dup_port(o1), mismatch(o2, i2, "Tensor", "Frame"),
               dynamic("nobody", dyn.source, Y), missing(Y),
               direction(i1, o1, "Input", "Output"), missing(X), CYCLE],
              [warning(X, c_in)])
    assert {e.kind() for e in r.errors} == set(KINDS) - {"PortNotOwnedByElement"}
    assert all("\u2192" not in e.message() and " -> " in e.message() for e in r.errors
               if e.kind() in ("InvalidPortDirection", "ContractMismatch"))
    assert "->" not in r.warnings[0]


def test_warnings_only_graph_is_valid():
    t = port(IN)
    xs = [PyEdge.late_binding(PyPortId.new(), t.id) for _ in range(3)]
    r = check(graph([element(inputs=[t])], xs), [], [warning(x.source, t) for x in xs])
    assert r.is_valid() is True and repr(r) == \
        "PyValidationReport(valid=true, errors=0, warnings=3)"


# ---- deep graphs ------------------------------------------------------------------------

N = 200_000


def test_deep_chain_and_ring():
    in_c, out_c = DC.frame(), DC.frame()
    ins = [PyPort.input("i", in_c) for _ in range(N)]
    outs = [PyPort.output("o", out_c) for _ in range(N)]
    chain, ring = PyGraph(), PyGraph()
    kind, eid = PyElementKind.Operator, PyElementId.new
    for i, o in zip(ins, outs):
        e = PyElement(eid(), DECODE, "n", kind).with_input(i).with_output(o)
        chain.add_element(e)
        ring.add_element(e)
    in_ids, out_ids = [p.id for p in ins], [p.id for p in outs]
    # Edges are added from the back of the chain; around the ring, the path
    # is N elements long wherever the search starts.
    for k in range(N - 2, -1, -1):
        x = PyEdge(out_ids[k], in_ids[k + 1])
        chain.add_edge(x)
        ring.add_edge(x)
    ring.add_edge(PyEdge(out_ids[-1], in_ids[0]))
    r = chain.validate()
    assert r.is_valid() and (r.errors, r.warnings) == ([], [])
    assert entries(validate_graph(ring)) == [CYCLE]


def nodes(n):
    """n elements with one input and one output each, and an edge maker between them."""
    ps = [(PyPort.input("i", FRAME), PyPort.output("o", FRAME)) for _ in range(n)]
    els = [element(f"n{k}", inputs=[i], outputs=[o]) for k, (i, o) in enumerate(ps)]
    return els, lambda s, t: PyEdge(ps[s][1].id, ps[t][0].id)


def test_ladder_is_searched_once_per_node():
    # Every node reaches the end along exponentially many paths; finished
    # nodes must not be searched again.
    n = 2000
    els, link = nodes(n)
    edges = [link(k, k + d) for k in range(n) for d in (1, 2) if k + d < n]
    check(graph(els, edges))
    check(graph(els, edges + [link(n - 1, n // 2)]), [CYCLE])


def test_cycles_in_larger_random_graphs():
    rng = random.Random(7)
    for _ in range(150):
        n = rng.randint(2, 40)
        els, link = nodes(n)
        pairs = [(rng.randrange(n), rng.randrange(n)) for _ in range(rng.randint(0, 2 * n))]
        if rng.random() < 0.6:  # mostly forward edges: many acyclic graphs
            pairs = [(s, t) for s, t in pairs if s < t] + pairs[:rng.randint(0, 1)]
        adjacency = {k: [] for k in range(n)}
        for s, t in pairs:
            adjacency[s].append(t)
        colour = dict.fromkeys(adjacency, 0)

        def dfs(k):
            colour[k] = 1
            for m in adjacency[k]:
                if colour[m] == 1 or (colour[m] == 0 and dfs(m)):
                    return True
            colour[k] = 2
            return False

        cyclic = any(colour[k] == 0 and dfs(k) for k in adjacency)
        order = list(range(n))
        rng.shuffle(order)
        check(graph([els[k] for k in order], [link(s, t) for s, t in pairs]),
              [CYCLE] if cyclic else [])


# ---- differential check against a reference model --------------------------------------

NAMES = ["a", "b", "c", 'q"\n', ""]
CONTRACT_POOL = [c for c, _, _ in CONTRACTS] + [c for _, c, _ in CONTRACTS]


def model_validate(elements, edges):
    """The four passes, written plainly. `elements` are (id, name, inputs,
    outputs) with ports as (id, direction name, contract); `edges` are
    (source, target, late, source_element)."""
    errors, warnings = [], []
    seen_elements, seen_ports, index = set(), set(), {}
    for eid, _, inputs, outputs in elements:
        if eid in seen_elements:
            errors.append(dup_element(eid))
        seen_elements.add(eid)
        for pid, d, contract in inputs + outputs:
            if pid in seen_ports:
                errors.append(dup_port(pid))
            seen_ports.add(pid)
            index[pid] = (eid, d, contract)
    adjacency = {}
    for eid, _, _, _ in elements:
        adjacency.setdefault(eid, [])
    for source, target, late, source_element in edges:
        s, t = index.get(source), index.get(target)
        if s and t:
            if s[1] != "Output" or t[1] != "Input":
                errors.append(direction(source, target, s[1], t[1]))
            if not s[2].is_compatible_with(t[2]):
                errors.append(mismatch(source, target, str(s[2]), str(t[2])))
            adjacency.setdefault(s[0], []).append(t[0])
        elif s is None:
            if not late:
                errors.append(missing(source))
            elif source_element is None:
                warnings.append(warning(source, target))
            elif not any(name == source_element for _, name, _, _ in elements):
                errors.append(dynamic(source_element, source, target))
            if t is None:
                errors.append(missing(target))
        else:
            errors.append(missing(target))

    colour = {node: 0 for node in adjacency}

    def dfs(node):
        colour[node] = 1
        for nxt in adjacency.get(node, []):
            if colour.get(nxt, 0) == 1:
                return True
            if colour.get(nxt, 0) == 0 and dfs(nxt):
                return True
        colour[node] = 2
        return False

    for node in list(adjacency):
        if colour[node] == 0 and dfs(node):
            errors.append(CYCLE)
            break
    return errors, warnings


def random_graph(rng):
    """A small random graph as model input and as module objects. Ids are
    mostly fresh and sometimes repeated; ports may sit in the list that
    disagrees with their direction; edge ends are mostly existing ports."""
    def new_id():
        return str(uuid.UUID(int=rng.getrandbits(128)))

    def pick(used, p_reuse):
        if used and rng.random() < p_reuse:
            return rng.choice(used)
        used.append(new_id())
        return used[-1]

    port_ids, element_ids = [], []
    elements, objects = [], []
    for _ in range(rng.randint(0, 5)):
        eid, name = pick(element_ids, 0.15), rng.choice(NAMES)
        lists = []
        for wanted in ("Input", "Output"):
            ports = []
            for _ in range(rng.choice([0, 1, 1, 2, 3])):
                d = wanted if rng.random() < 0.8 else rng.choice(["Input", "Output"])
                ports.append((pick(port_ids, 0.1), d, rng.choice(CONTRACT_POOL)))
            lists.append(ports)
        elements.append((eid, name, lists[0], lists[1]))
        e = PyElement(PyElementId.from_str(eid), DECODE, name, PyElementKind.Operator)
        for which, ports in zip(("with_input", "with_output"), lists):
            for pid, d, c in ports:
                p = PyPort(PyPortId.from_str(pid), "p", getattr(PyPortDirection, d), c)
                e = getattr(e, which)(p)
        objects.append(e)
    edges, edge_objects = [], []
    for _ in range(rng.randint(0, 7)):
        s, t = (PyPortId.from_str(pick(port_ids, 0.85)) for _ in range(2))
        how = rng.choice(["plain", "plain", "plain", "late", "marked", "dynamic"])
        if how == "dynamic":
            x = PyEdge.dynamic_output(rng.choice(NAMES + ["zz"]), "pad", t)
            if rng.random() < 0.3:
                x = x.with_late_binding()
        elif how == "late":
            x = PyEdge.late_binding(s, t)
        else:
            x = PyEdge(s, t)
            if how == "marked":
                x = x.with_late_binding()
        edge_objects.append(x)
        edges.append((x.source.uuid(), x.target.uuid(), x.is_late_binding, x.source_element))
    return elements, edges, objects, edge_objects


def test_against_reference_model():
    rng = random.Random(20260507)
    seen = {}
    for _ in range(3000):
        elements, edges, objects, edge_objects = random_graph(rng)
        g = graph(objects, edge_objects)
        expected_errors, expected_warnings = model_validate(elements, edges)
        r = g.validate() if rng.random() < 0.5 else validate_graph(g)
        assert (entries(r), r.warnings) == (expected_errors, expected_warnings), \
            (elements, edges)
        assert r.is_valid() is (not expected_errors)
        for kind, _ in expected_errors:
            seen[kind] = seen.get(kind, 0) + 1
        seen["warning"] = seen.get("warning", 0) + len(expected_warnings)
        seen["valid"] = seen.get("valid", 0) + (not expected_errors)
    # The generator reaches every finding, and valid graphs too.
    assert all(seen.get(k, 0) >= 30 for k in set(KINDS) - {"PortNotOwnedByElement"}), seen
    assert seen["warning"] >= 30 and seen["valid"] >= 30, seen


def test_results_outlive_their_sources():
    a = port(IN)
    late = PyEdge.late_binding(PyPortId.new(), a.id)
    g = graph([element(inputs=[a])], [edge(a, a), late])
    r = g.validate()
    del g
    errors, warnings = r.errors, r.warnings
    del r
    assert [(x.kind(), x.message(), repr(x)) for x in errors] == [
        direction(a, a, "Input", "Input") + ("PyGraphValidationError(InvalidPortDirection)",),
        CYCLE + ("PyGraphValidationError(CycleDetected)",)]
    assert warnings == [warning(late.source, a)] and type(warnings[0]) is str
