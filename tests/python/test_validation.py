"""Graph validation: the kinds and their messages, warnings, the report objects, deep graphs, and a
differential check against a small reference model of the four passes."""

import collections
import random
import uuid

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphValidationError, PyPort, PyPortDirection,
                            PyPortId, PyValidationReport, validate_graph)

IN, OUT = PyPortDirection.Input, PyPortDirection.Output
DIRECTION = {IN: "Input", OUT: "Output"}
Spec, DC = PyContractSpec, PyDataContract
FRAME, TENSOR = DC.frame(), DC.tensor()
DECODE = PyElementTypeId("kelo.decode.h264")


def u(x):
    """The canonical text of a port or element id, given the id, its port or its text."""
    if isinstance(x, PyPort):
        x = x.id
    return x if isinstance(x, str) else x.uuid()


MESSAGES = {  # a name shows in its debug form, quoted and escaped
    "EdgeReferencesMissingPort": "edge references missing port {}", "DuplicatePortId": "duplicate port id {}",
    "InvalidPortDirection": "edge {} -> {} has invalid direction {} -> {} (expected Output -> Input)",
    "DuplicateElementId": "duplicate element id {}",
    "ContractMismatch": "contract mismatch on edge {} -> {}: {} vs {}",
    "DynamicSourceElementNotFound": "dynamic source element {} not found (edge {} -> {})"}
CYCLE = ("CycleDetected", "cycle detected in graph")


def finding(kind, *args):
    return (kind, MESSAGES[kind].format(*map(u, args)))


def warning(s, t):
    return (f"late-binding edge PortId({u(s)}) \u2192 PortId({u(t)}): "
            "source port not yet materialized (deferred)")


def port(d=OUT, contract=FRAME, pid=None):
    return PyPort(pid or PyPortId.new(), "p", d, contract)


def element(name="e", inputs=(), outputs=(), eid=None):
    e = PyElement(eid or PyElementId.new(), DECODE, name, PyElementKind.Operator)
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


def edge(s, t):
    return PyEdge(s.id, t.id)


ODD = DC.frame_with(Spec().with_pixel_format(PyPixelFormat.custom('ba"y')).with_width(4))


def test_reports_and_errors_are_snapshots():
    a, b, gone = port(IN), port(IN), PyPortId.new()
    late = PyEdge.late_binding(PyPortId.new(), b.id)
    g = graph([element(inputs=[a]), element(inputs=[b])], [edge(a, b), PyEdge(gone, a.id), late])
    r = g.validate()
    err = r.errors[0]
    assert (type(validate_graph(graph=g)), repr(r), repr(PyGraph().validate())) == (
        PyValidationReport, "PyValidationReport(valid=false, errors=2, warnings=1)",
        "PyValidationReport(valid=true, errors=0, warnings=0)")
    assert (type(err), isinstance(err, BaseException), str(err), repr(err)) == \
        (PyGraphValidationError, False, err.message(), "PyGraphValidationError(InvalidPortDirection)")
    r.warnings.clear()
    r.errors.clear()
    # A report is a snapshot, and its results outlive the graph and the report.
    g.add_edge(PyEdge(PyPortId.new(), PyPortId.new()))
    assert (len(r.errors), len(g.validate().errors)) == (2, 4)
    del g
    errors, warnings = r.errors, r.warnings
    del r
    assert ([(e.kind(), e.message()) for e in errors], warnings) == (
        [finding("InvalidPortDirection", a, b, "Input", "Input"), finding("EdgeReferencesMissingPort", gone)],
        [warning(late.source, b)])


def test_errors_name_their_elements():  # a repeated id; a cycle's elements in path order
    a_in, a_out, b_in, b_out = port(IN), port(OUT), port(IN), port(OUT)
    a, b, x = element("a", [a_in], [a_out]), element("b", [b_in], [b_out]), element("x")
    g = graph([a, b, x, element("y", eid=x.id)], [edge(a_out, b_in), edge(b_out, a_in)])
    assert [(e.kind(), e.port_ids, e.element_ids) for e in g.validate().errors] == \
        [("DuplicateElementId", [], [x.id]), ("CycleDetected", [], [a.id, b.id])]


def test_ladder_is_searched_once_per_node():
    # Every node reaches the end along exponentially many paths; finished nodes must not be searched again.
    n = 2000
    ps = [(port(IN), port(OUT)) for _ in range(n)]
    els = [element(f"n{k}", inputs=[i], outputs=[o]) for k, (i, o) in enumerate(ps)]
    edges = [edge(ps[k][1], ps[k + d][0]) for k in range(n) for d in (1, 2) if k + d < n]
    assert graph(els, edges).validate().is_valid()
    assert entries(graph(els, edges + [edge(ps[-1][1], ps[n // 2][0])]).validate()) == [CYCLE]


NAMES = {"a": '"a"', "b": '"b"', "c": '"c"', 'q"\n': '"q\\"\\n"', "": '""'}  # name: debug form
WIDE = DC.frame_with(Spec().with_width(640))
CONTRACT_POOL = [  # pairs of these fit and fail in many ways
    FRAME, TENSOR, WIDE, DC.frame_with(Spec()), DC.frame_with(Spec().with_width(641)),
    DC.frame_with(Spec().with_class_ids([1])), DC.frame_with(Spec().with_class_ids([1, 2])),
    DC.custom("x"), DC.custom("X"), DC.custom("Frame"), DC.metadata_content("det"),
    DC.metadata(), DC.event(), DC.batch(), ODD, DC.tensor_with(Spec().with_shape([1, 3, 1])),
    DC.tensor_with(Spec().with_dtype(PyDType.Float32).with_shape([1, 3]))]


def model_validate(elements, edges):
    """The four passes, written plainly, over the elements and edges as made."""
    errors, warnings, index, adjacency = [], [], {}, {}
    for e in elements:
        eid = e.id.uuid()
        if eid in adjacency:
            errors.append(finding("DuplicateElementId", eid))
        adjacency.setdefault(eid, [])
        for p in e.inputs + e.outputs:
            if p.id.uuid() in index:
                errors.append(finding("DuplicatePortId", p))
            index[p.id.uuid()] = (eid, DIRECTION[p.direction], p.contract)
    for x in edges:
        source, target = x.source.uuid(), x.target.uuid()
        s, t = index.get(source), index.get(target)
        if s and t:
            if s[1] != "Output" or t[1] != "Input":
                errors.append(finding("InvalidPortDirection", source, target, s[1], t[1]))
            if not s[2].is_compatible_with(t[2]):
                errors.append(finding("ContractMismatch", source, target, str(s[2]), str(t[2])))
            adjacency[s[0]].append(t[0])
            continue
        if s is None and not x.is_late_binding:
            errors.append(finding("EdgeReferencesMissingPort", source))
        elif s is None and x.source_element is None:
            warnings.append(warning(source, target))
        elif s is None and not any(e.name == x.source_element for e in elements):
            name = NAMES.get(x.source_element, '"zz"')
            errors.append(finding("DynamicSourceElementNotFound", name, source, target))
        if t is None:
            errors.append(finding("EdgeReferencesMissingPort", target))
    colour = dict.fromkeys(adjacency, 0)

    def dfs(node):
        colour[node] = 1
        if any(colour[m] == 1 or (colour[m] == 0 and dfs(m)) for m in adjacency[node]):
            return True
        colour[node] = 2
        return False

    if any(colour[node] == 0 and dfs(node) for node in adjacency):
        errors.append(CYCLE)
    return errors, warnings


def random_graph(rng):
    """A small random graph's elements and edges. Ids are mostly fresh and sometimes repeated; ports may sit
    in the list against their direction; edge ends are mostly existing ports."""
    def pick(used, p_reuse):
        if used and rng.random() < p_reuse:
            return rng.choice(used)
        used.append(str(uuid.UUID(int=rng.getrandbits(128))))
        return used[-1]

    port_ids, element_ids, elements, edges = [], [], [], []
    for _ in range(rng.randint(0, 5)):
        eid, name = pick(element_ids, 0.15), rng.choice(list(NAMES))
        lists = [[PyPort(PyPortId.from_str(pick(port_ids, 0.1)), "p",
                         wanted if rng.random() < 0.8 else rng.choice([IN, OUT]), rng.choice(CONTRACT_POOL))
                  for _ in range(rng.choice([0, 1, 1, 2, 3]))] for wanted in (IN, OUT)]
        elements.append(element(name, *lists, eid=PyElementId.from_str(eid)))
    for _ in range(rng.randint(0, 7)):
        s, t = (PyPortId.from_str(pick(port_ids, 0.85)) for _ in range(2))
        how = rng.choice(["plain", "plain", "plain", "late", "marked", "dynamic"])
        if how == "dynamic":
            x = PyEdge.dynamic_output(rng.choice(list(NAMES) + ["zz"]), "pad", t)
        else:
            x = PyEdge.late_binding(s, t) if how == "late" else PyEdge(s, t)
        marked = how == "marked" or (how == "dynamic" and rng.random() < 0.3)
        edges.append(x.with_late_binding() if marked else x)
    return elements, edges


def test_against_reference_model():
    # A graph indexes its ids as they are added: the report must not depend on the order elements and edges
    # arrive in (edges may come before the ports they name), nor on validating along the way.
    rng, seen = random.Random(20260507), collections.Counter()
    for _ in range(3000):
        elements, edges = random_graph(rng)
        errors, warnings = model_validate(elements, edges)
        g = graph(elements, edges)
        order = ["e"] * len(elements) + ["x"] * len(edges)
        rng.shuffle(order)
        mixed, its = PyGraph(), {"e": iter(elements), "x": iter(edges)}
        for which in order:
            (mixed.add_element if which == "e" else mixed.add_edge)(next(its[which]))
            if rng.random() < 0.2:
                mixed.validate()  # a run part way leaves nothing behind
        reports = [g.validate() if rng.random() < 0.5 else validate_graph(g), mixed.validate()]
        want = [(errors, warnings, not errors)] * 2
        assert [(entries(r), r.warnings, r.is_valid()) for r in reports] == want, (elements, edges)
        seen.update([kind for kind, _ in errors] + ["warning"] * len(warnings) + ["valid"] * (not errors))
    # The generator reaches every finding, and valid graphs too.
    wanted = {"EdgeReferencesMissingPort", "InvalidPortDirection", "DuplicateElementId", "DuplicatePortId",
              "ContractMismatch", "CycleDetected", "DynamicSourceElementNotFound", "warning", "valid"}
    assert {k: seen[k] for k in wanted if seen[k] < 30} == {}, seen
