"""The checker's native helpers: validation findings placed by index, the names description files use,
and provider selection with every candidate's verdict and the requirements it meets by assumption."""

import pytest

from kelo import _native
from kelo.ext.graph import PyEdge, PyPortId
from kelo.ext.provider import PySelectionPolicy
from test_selection import HP, OS, OTHER_OS, T, Cap, Req, manual, provider, registry
from test_validation import IN, OUT, TENSOR, element, graph, port


def test_findings_match_the_report_and_carry_their_indexes():
    a_in, a_out, b_in, b_out, t_in = port(IN), port(OUT), port(IN), port(OUT), port(IN, TENSOR)
    gone, ghost = PyPortId.new(), PyPortId.new()
    g = graph([element("a", [a_in], [a_out]), element("b", [b_in], [b_out]), element("c", [t_in])],
              [PyEdge(a_out.id, b_in.id), PyEdge(b_out.id, t_in.id), PyEdge(gone, a_in.id),
               PyEdge.late_binding(ghost, b_in.id), PyEdge.dynamic_output("nobody", "pad", t_in.id),
               PyEdge(b_out.id, a_in.id)])
    findings = _native.validate(g)
    report = g.validate()
    assert [(f.kind, f.message) for f in findings] == \
        [(e.kind(), e.message()) for e in report.errors] + [("UnresolvedLateBinding", w) for w in report.warnings]
    assert [(f.severity, f.kind, f.elements, f.edges, f.ports, f.element_name) for f in findings] == [
        ("error", "ContractMismatch", (1, 2), (1,), (b_out.id, t_in.id), None),
        ("error", "EdgeReferencesMissingPort", (0,), (2,), (gone,), None),
        ("error", "DynamicSourceElementNotFound", (2,), (4,), tuple(report.errors[2].port_ids), "nobody"),
        ("error", "CycleDetected", (0, 1), (0, 5), (), None),
        ("warning", "UnresolvedLateBinding", (1,), (3,), (ghost, b_in.id), None),
    ]
    assert _native.validate(graph()) == []


REQUIREMENT_KINDS = "cuda_required gpu_memory accelerator operating_system external_runtime custom"


def test_names():
    n = _native.names()
    assert (type(n), n.pixel_formats[6], n.dtypes[7], n.requirement_kinds, n.categories,
            n.policies) == (_native.Names, "nv12", "bfloat16", tuple(REQUIREMENT_KINDS.split()),
                            ("frame", "tensor", "metadata", "event", "batch"),
                            ("highest_priority", "first_available", "manual"))


def verdicts(selection):
    return [(str(v.provider.id), v.verdict, v.failed, v.assumed) for v in selection.candidates]


@pytest.mark.parametrize("reqs, policy, want_chosen, want_error, want", [
    ([], HP, 2, None, [("a", "outranked", None, ()), ("b", "outranked", None, ()), ("c", "chosen", None, ())]),
    ([Req.custom("x"), Req.cuda_required(), Req.gpu_memory(1 << 30)], PySelectionPolicy.first_available(), 1, None,
     [("a", "fails_requirement", 1, (0,)), ("b", "chosen", None, (0, 2)), ("c", "outranked", None, (0, 2))]),
    ([Req.operating_system(OS), Req.external_runtime("onnx")], HP, 1, None,
     [("a", "fails_requirement", 1, (0,)), ("b", "chosen", None, (0,)), ("c", "fails_requirement", 1, (0,))]),
    ([Req.operating_system(OTHER_OS)], HP, None, "unsatisfied",
     [(p, "fails_requirement", 0, ()) for p in "abc"]),
    ([], manual("b"), 1, None,
     [("a", "not_manual_choice", None, ()), ("b", "chosen", None, ()), ("c", "not_manual_choice", None, ())]),
    ([Req.accelerator("npu")], manual("a"), None, "manual_not_candidate",
     [("a", "fails_requirement", 0, ()), ("b", "not_manual_choice", None, ()),
      ("c", "fails_requirement", 0, ())]),
])
def test_select_explains_every_candidate(reqs, policy, want_chosen, want_error, want):
    b_caps = [Cap.cuda(), Cap.custom("runtime:onnx"), Cap.custom("accelerator:npu")]
    r = registry(provider("a", 1), provider("b", 2, b_caps), provider("c", 3, [Cap.cuda()]))
    s = _native.select(r, T, reqs, policy)
    assert (s.chosen, s.error, verdicts(s)) == (want_chosen, want_error, want)


def test_select_without_candidates():
    assert _native.select(registry(), T, [], HP) == (None, "no_provider", ())
