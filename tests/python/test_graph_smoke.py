"""Edges, graphs, the graph builder and validation: the bindings' texts,
copies and one validation run."""

import pytest

from kelo.ext import graph
from kelo.ext.graph import (PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphBuilder, PyGraphValidationError, PyPort,
                            PyPortId, PyValidationReport, validate_graph)

A = PyPortId.from_str("00000000-0000-4000-8000-00000000000a")
B = PyPortId.from_str("00000000-0000-4000-8000-00000000000b")
UA, UB = str(A.uuid()), str(B.uuid())
NOT = "'{}' object is not an instance of '{}'".format


def element(name="e", inputs=(), outputs=(), id=None):
    e = PyElement(id or PyElementId.new(), PyElementTypeId("kelo.test"), name, PyElementKind.Operator)
    for p in inputs:
        e = e.with_input(p)
    for p in outputs:
        e = e.with_output(p)
    return e


@pytest.mark.parametrize("member, signature, doc", [
    (PyEdge, "(source, target)", "A logical data-flow relationship between two ports."),
    (PyEdge.late_binding, "(source, target)", None),
    (PyEdge.dynamic_output, "(source_element, pad_name, target)", None),
    (PyEdge.with_late_binding, "($self)", "Mark this edge as late-binding (builder-style)."),
    (PyEdge.source_element, None, "Owning element of a dynamic source pad, if attributed."),
    (PyEdge.source_pad, None, "Semantic name of a dynamic source pad, if any."),
    (PyGraph, "()", "A declarative collection of elements and edges."),
    (PyGraph.add_element, "($self, element)", None),
    (PyGraph.add_edge, "($self, edge)", None),
    (PyGraph.find_element, "($self, id)", "Find an element by ID."),
    (PyGraph.num_elements, "($self)", None),
    (PyGraph.num_edges, "($self)", None),
    (PyGraph.validate, "($self)", "Validate this graph (RFC-003 \u00a716)."),
    (PyGraphBuilder.add_element, "($self, element)", "Add an element."),
    (PyGraphBuilder.add_edge, "($self, edge)", "Add an edge."),
    (PyGraphBuilder.connect, "($self, source, target)", "Connect an output port to an input port."),
    (PyGraphBuilder.connect_late, "($self, source, target)", None),
    (PyGraphBuilder.connect_dynamic, "($self, source_element, pad_name, target)",
     "Connect a dynamic output pad of `source_element` to `target`."),
    (PyGraphBuilder.build, "($self)", "Finish and return the graph."),
    (PyValidationReport, None, "The result of graph validation."),
    (PyValidationReport.is_valid, "($self)", "Whether the graph has no validation errors."),
    (PyGraphValidationError, None, "A single graph validation error."),
    (PyGraphValidationError.kind, "($self)", "Machine-readable error kind, e.g. `CycleDetected`."),
    (PyGraphValidationError.message, "($self)", "Human-readable error description."),
    (validate_graph, "(graph)",
     "Validate a graph (RFC-003 \u00a716) \u2014 free-function form of\n`PyGraph.validate`."),
])
def test_signatures_and_docs(member, signature, doc):
    assert getattr(member, "__text_signature__", None) == signature
    assert member.__doc__ == doc


def test_edges():
    plain, late = PyEdge(A, B), PyEdge.late_binding(source=A, target=B)
    assert repr(plain) == f"PyEdge({UA} -> {UB})"
    assert repr(late) == repr(plain.with_late_binding()) == f"PyEdge({UA} -> {UB} [late])"
    assert repr(plain) == f"PyEdge({UA} -> {UB})"  # the receiver is unchanged
    assert (plain.is_late_binding, plain.source_element, plain.source_pad) == (False, None, None)
    assert plain.source == A and plain.target == B and plain.source is not plain.source
    d1, d2 = (PyEdge.dynamic_output("det", "objects", B) for _ in range(2))
    assert (d1.is_late_binding, d1.source_element, d1.source_pad, d1.target) == (True, "det", "objects", B)
    assert d1.source != d2.source and d1.source not in (A, B)
    kept = d1.with_late_binding()
    assert (kept.source, kept.source_element, kept.source_pad) == (d1.source, "det", "objects")
    assert plain != PyEdge(A, B) and plain == plain  # identity
    with pytest.raises(TypeError) as info:
        PyEdge.dynamic_output("det", 1, B)
    assert info.value.__notes__ == ["while processing 'pad_name'"]


def test_graph_is_mutated_in_place_and_copies_out():
    g = PyGraph()
    assert (g.num_elements(), g.num_edges(), repr(g)) == (0, 0, "PyGraph(elements=0, edges=0)")
    first = element("first")
    assert g.add_element(first) is None and g.add_edge(PyEdge(A, B)) is None
    g.add_element(element("second", id=first.id))
    assert repr(g) == "PyGraph(elements=2, edges=1)"
    assert g.find_element(first.id).name == "first" and g.find_element(PyElementId.new()) is None
    assert [e.name for e in g.elements] == ["first", "second"]
    g.edges[0].with_late_binding()
    assert g.elements[0] is not g.elements[0] and g.edges[0].is_late_binding is False
    with pytest.raises(TypeError) as info:
        g.add_edge(first)
    assert str(info.value) == NOT("PyElement", "PyEdge")
    assert info.value.__notes__ == ["while processing 'edge'"]
    assert repr(g) == "PyGraph(elements=2, edges=1)"


def test_builder_copy_semantics():
    assert PyGraphBuilder.__text_signature__ == "()"
    assert PyGraphBuilder.__doc__.startswith("Fluent builder for constructing graphs.\n\n")
    e = element("only")
    b1 = PyGraphBuilder()
    b2 = b1.add_element(e)
    assert b1.build().num_elements() == 0 and b2.build().num_elements() == 1
    g1, g2 = b2.build(), b2.build()
    g1.add_element(e)
    assert (g1.num_elements(), g2.num_elements()) == (2, 1)
    left = b2.connect(A, B).connect_late(B, A)
    right = b2.connect_dynamic("only", "pad", B).add_edge(PyEdge(B, A)).add_element(e)
    assert [repr(x) for x in left.build().edges] == [f"PyEdge({UA} -> {UB})", f"PyEdge({UB} -> {UA} [late])"]
    assert [x.source_pad for x in right.build().edges] == ["pad", None]
    assert (right.build().num_elements(), b2.build().num_edges()) == (2, 0)
    with pytest.raises(TypeError) as info:
        b2.connect(A, "b")
    assert info.value.__notes__ == ["while processing 'target'"] and b2.build().num_edges() == 0
    assert repr(b1).startswith("<builtins.PyGraphBuilder object at ")


def test_long_builder_chain():
    b = PyGraphBuilder()
    for _ in range(200_000):
        b = b.connect(A, B)
    assert b.build().num_edges() == 200_000
    del b  # released without recursing


def test_validation_example():
    frame, tensor = PyDataContract.frame(), PyDataContract.tensor()
    src_out, dst_in = PyPort.output("out", frame), PyPort.input("in", tensor)
    src, dst = element("src", outputs=[src_out]), element("dst", inputs=[dst_in])
    g = (PyGraphBuilder().add_element(src).add_element(dst).add_element(src)
         .connect(src_out.id, dst_in.id)
         .connect(dst_in.id, src_out.id)
         .connect_late(A, dst_in.id)
         .connect_dynamic("src", "objects", dst_in.id)
         .connect_dynamic("s\"rc", "objects", dst_in.id)
         .build())
    for report in (g.validate(), validate_graph(graph=g)):
        assert repr(report) == "PyValidationReport(valid=false, errors=7, warnings=1)"
        assert report.is_valid() is False
        sid = src.id.uuid()
        po, pi = src_out.id.uuid(), dst_in.id.uuid()
        assert [(e.kind(), e.message(), str(e), repr(e)) for e in report.errors] == [
            (k, m, m, f"PyGraphValidationError({k})") for k, m in [
                ("DuplicateElementId", f"duplicate element id {sid}"),
                ("DuplicatePortId", f"duplicate port id {po}"),
                ("ContractMismatch", f"contract mismatch on edge {po} -> {pi}: Frame vs Tensor"),
                ("InvalidPortDirection",
                 f"edge {pi} -> {po} has invalid direction Input -> Output (expected Output -> Input)"),
                ("ContractMismatch", f"contract mismatch on edge {pi} -> {po}: Tensor vs Frame"),
                ("DynamicSourceElementNotFound",
                 f"dynamic source element \"s\\\"rc\" not found (edge {g.edges[4].source.uuid()} -> {pi})"),
                ("CycleDetected", "cycle detected in graph"),
            ]]
        assert report.warnings == [
            f"late-binding edge PortId({UA}) \u2192 PortId({pi}): "
            "source port not yet materialized (deferred)"]
        first, second = report.errors, report.errors
        assert first is not second and first[0] is not second[0]
        assert [e.message() for e in first] == [e.message() for e in second]
    assert repr(PyGraph().validate()) == "PyValidationReport(valid=true, errors=0, warnings=0)"
    target = element(inputs=[PyPort(B, "b", graph.PyPortDirection.Input, frame)])
    late_only = PyGraphBuilder().connect_late(A, B).add_element(target).build()
    assert repr(late_only.validate()) == "PyValidationReport(valid=true, errors=0, warnings=1)"


@pytest.mark.parametrize("arg, msg", [
    (1, NOT("int", "PyGraph")), (None, "'None' is not an instance of 'PyGraph'"),
    (PyGraphBuilder(), NOT("PyGraphBuilder", "PyGraph")),
])
def test_validate_graph_argument(arg, msg):
    with pytest.raises(TypeError) as info:
        validate_graph(arg)
    assert str(info.value) == msg and info.value.__notes__ == ["while processing 'graph'"]
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'graph'"):
        validate_graph()
    for cls in (PyValidationReport, PyGraphValidationError):
        with pytest.raises(TypeError, match=f"cannot create 'builtins.{cls.__name__}' instances"):
            cls()
