"""Graph validation: the kinds and their messages, warnings, the report
objects, deep graphs, and a differential check against a small reference
model of the four passes."""

import collections
import random
import uuid

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId,
                            PyElementKind, PyElementTypeId, PyGraph,
                            PyGraphValidationError, PyPort, PyPortDirection, PyPortId,
                            PyValidationReport, validate_graph)

IN, OUT = PyPortDirection.Input, PyPortDirection.Output
Spec, DC = PyContractSpec, PyDataContract
FRAME, TENSOR = DC.frame(), DC.tensor()
DECODE = PyElementTypeId("kelo.decode.h264")


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


def dynamic(shown, s, t):
    """`shown` is the element name in its debug form, quoted and escaped."""
    return ("DynamicSourceElementNotFound",
            f"dynamic source element {shown} not found (edge {u(s)} -> {u(t)})")


def warning(s, t):
    return (f"late-binding edge PortId({u(s)}) \u2192 PortId({u(t)}): "
            "source port not yet materialized (deferred)")


# ---- building graphs --------------------------------------------------------------------

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


ODD = DC.frame_with(Spec().with_pixel_format(PyPixelFormat.custom('ba"y')).with_width(4))


# ---- report and error objects -----------------------------------------------------------

def test_report_and_error_objects():
    a, b = port(IN), port(IN)
    g = graph([element(inputs=[a]), element(inputs=[b])],
              [edge(a, b), PyEdge(PyPortId.new(), a.id), PyEdge.late_binding(PyPortId.new(), b.id)])
    r = g.validate()
    assert type(r) is PyValidationReport is type(validate_graph(graph=g))
    assert repr(r) == "PyValidationReport(valid=false, errors=2, warnings=1)"
    assert repr(PyGraph().validate()) == "PyValidationReport(valid=true, errors=0, warnings=0)"
    err = r.errors[0]
    assert type(err) is PyGraphValidationError and not isinstance(err, BaseException)
    assert type(err.kind()) is str and str(err) == err.message()
    assert repr(err) == "PyGraphValidationError(InvalidPortDirection)"


def test_fresh_objects_on_every_read_and_snapshots():
    a, b = port(OUT, FRAME), port(IN, TENSOR)
    late = PyEdge.late_binding(PyPortId.new(), b.id)
    g = graph([element(outputs=[a]), element(inputs=[b])], [edge(a, b), late])
    before = (repr(g), [repr(x) for x in g.edges], [repr(e) for e in g.elements])
    r = g.validate()
    assert (repr(g), [repr(x) for x in g.edges], [repr(e) for e in g.elements]) == before
    first, second = r.errors, r.errors
    assert first is not second and len(first) == 1 and first[0] is not second[0]
    assert entries(r) == [(e.kind(), e.message()) for e in first]
    w = r.warnings
    assert w is not r.warnings and w == r.warnings == [warning(late.source, b)]
    w.clear()
    first.clear()
    assert len(r.warnings) == 1 and len(r.errors) == 1
    assert entries(validate_graph(g)) == entries(r)
    # A report is a snapshot, and its results outlive the graph and the report.
    g.add_edge(PyEdge(PyPortId.new(), PyPortId.new()))
    assert len(r.errors) == 1 and len(g.validate().errors) == 3
    del g
    errors, warnings = r.errors, r.warnings
    del r
    assert [(e.kind(), e.message()) for e in errors] == [mismatch(a, b, "Frame", "Tensor")]
    assert warnings == [warning(late.source, b)] and type(warnings[0]) is str


# ---- deep graphs ------------------------------------------------------------------------


def test_ladder_is_searched_once_per_node():
    # Every node reaches the end along exponentially many paths; finished
    # nodes must not be searched again.
    n = 2000
    ps = [(port(IN), port(OUT)) for _ in range(n)]
    els = [element(f"n{k}", inputs=[i], outputs=[o]) for k, (i, o) in enumerate(ps)]
    edges = [edge(ps[k][1], ps[k + d][0]) for k in range(n) for d in (1, 2) if k + d < n]
    check(graph(els, edges))
    check(graph(els, edges + [edge(ps[-1][1], ps[n // 2][0])]), [CYCLE])


# ---- differential check against a reference model --------------------------------------

NAMES = {"a": '"a"', "b": '"b"', "c": '"c"', 'q"\n': '"q\\"\\n"', "": '""'}  # name: debug form
WIDE = DC.frame_with(Spec().with_width(640))
CONTRACT_POOL = [  # pairs of these fit and fail in many ways
    FRAME, TENSOR, WIDE, DC.frame_with(Spec()), DC.frame_with(Spec().with_width(641)),
    DC.frame_with(Spec().with_class_ids([1])), DC.frame_with(Spec().with_class_ids([1, 2])),
    DC.custom("x"), DC.custom("X"), DC.custom("Frame"), DC.metadata_content("det"),
    DC.metadata(), DC.event(), DC.batch(), ODD,
    DC.tensor_with(Spec().with_dtype(PyDType.Float32).with_shape([1, 3])),
    DC.tensor_with(Spec().with_shape([1, 3, 1])),
]


def model_validate(elements, edges):
    """The four passes, written plainly. `elements` are (id, name, inputs,
    outputs) with ports as (id, direction name, contract); `edges` are
    (source, target, late, source_element)."""
    errors, warnings, index, adjacency = [], [], {}, {}
    for eid, _, inputs, outputs in elements:
        if eid in adjacency:
            errors.append(dup_element(eid))
        adjacency.setdefault(eid, [])
        for pid, d, contract in inputs + outputs:
            if pid in index:
                errors.append(dup_port(pid))
            index[pid] = (eid, d, contract)
    for source, target, late, source_element in edges:
        s, t = index.get(source), index.get(target)
        if s and t:
            if s[1] != "Output" or t[1] != "Input":
                errors.append(direction(source, target, s[1], t[1]))
            if not s[2].is_compatible_with(t[2]):
                errors.append(mismatch(source, target, str(s[2]), str(t[2])))
            adjacency[s[0]].append(t[0])
            continue
        if s is None and not late:
            errors.append(missing(source))
        elif s is None and source_element is None:
            warnings.append(warning(source, target))
        elif s is None and not any(name == source_element for _, name, _, _ in elements):
            errors.append(dynamic(NAMES.get(source_element, '"zz"'), source, target))
        if t is None:
            errors.append(missing(target))
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

    port_ids, element_ids, elements, objects, edges, edge_objects = [], [], [], [], [], []
    for _ in range(rng.randint(0, 5)):
        eid, name = pick(element_ids, 0.15), rng.choice(list(NAMES))
        lists = [[(pick(port_ids, 0.1),
                   wanted if rng.random() < 0.8 else rng.choice(["Input", "Output"]),
                   rng.choice(CONTRACT_POOL)) for _ in range(rng.choice([0, 1, 1, 2, 3]))]
                 for wanted in ("Input", "Output")]
        elements.append((eid, name, *lists))
        objects.append(element(name, *([PyPort(PyPortId.from_str(pid), "p",
                                               getattr(PyPortDirection, d), c)
                                        for pid, d, c in ports] for ports in lists),
                               eid=PyElementId.from_str(eid)))
    for _ in range(rng.randint(0, 7)):
        s, t = (PyPortId.from_str(pick(port_ids, 0.85)) for _ in range(2))
        how = rng.choice(["plain", "plain", "plain", "late", "marked", "dynamic"])
        if how == "dynamic":
            x = PyEdge.dynamic_output(rng.choice(list(NAMES) + ["zz"]), "pad", t)
        else:
            x = PyEdge.late_binding(s, t) if how == "late" else PyEdge(s, t)
        if how == "marked" or (how == "dynamic" and rng.random() < 0.3):
            x = x.with_late_binding()
        edge_objects.append(x)
        edges.append((x.source.uuid(), x.target.uuid(), x.is_late_binding, x.source_element))
    return elements, edges, objects, edge_objects


def test_against_reference_model():
    rng = random.Random(20260507)
    seen = collections.Counter()
    for _ in range(3000):
        elements, edges, objects, edge_objects = random_graph(rng)
        g = graph(objects, edge_objects)
        expected_errors, expected_warnings = model_validate(elements, edges)
        r = g.validate() if rng.random() < 0.5 else validate_graph(g)
        assert (entries(r), r.warnings) == (expected_errors, expected_warnings), \
            (elements, edges)
        assert r.is_valid() is (not expected_errors)
        seen.update([kind for kind, _ in expected_errors] + ["warning"] * len(expected_warnings))
        seen["valid"] += not expected_errors
    # The generator reaches every finding, and valid graphs too.
    wanted = {"EdgeReferencesMissingPort", "InvalidPortDirection", "DuplicateElementId", "DuplicatePortId",
              "ContractMismatch", "CycleDetected", "DynamicSourceElementNotFound", "warning", "valid"}
    assert all(seen[k] >= 30 for k in wanted), seen
