"""Pipelines by name, description files, the checker, its command and pictures."""

import json
import re
from pathlib import Path

import pytest

from kelo.checker.checking import CheckResult, _Core, check, check_pipeline
from kelo.checker.description import loads
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.checker.findings import CODES
from kelo.pipeline import CycleError, ElementType, Pipeline
from checks import run

EXAMPLES, FRAME = Path(__file__).resolve().parents[2] / "examples", PyDataContract.frame()


def EL(name, kind="operator", mark=""):
    return f'[[element]]{mark}\nname = "{name}"\ntype = "t.{name}"\nkind = "{kind}"\n'


def LINK(source, target, mark=""):
    return f'[[link]]{mark}\nfrom = "{source}"\nto = "{target}"\n'


def PROVIDER(pid, types, mark=""):
    return f'[[provider]]{mark}\nid = "{pid}"\nversion = "1.0.0"\nelement_types = {json.dumps(types)}\n'


# Two elements and a link between them: checks clean. Each case below adds to it, and marks each line a
# finding (error or warning) should point at with "# Knnn" comments.
BASE = '[pipeline]\nname = "t"\n' + EL("src", "source") + 'outputs = { out = "frame" }\n' \
    + EL("snk", "sink") + 'inputs = { in = "frame" }\n' + LINK("src.out", "snk.in")
PLAN = "\n" + PROVIDER("base", ["t.src", "t.snk"])
PORTS = 'inputs = { in = "frame" }\noutputs = { out = "frame" }\n'
CASES = {"unknown keys": LINK("src.out", "snk.in") + "lat = true  # K102\n" + EL("x")
    + 'outputs = { o = { category = "frame", widht = 3 } }  # K102\n',
    "wrong types": '[[element]]\nname = "x"\ntype = "t.x"\nkind = 3  # K103\nconfig = { a = 1 }  # K103\n'
    'inputs = { in = 4 }  # K103 K301\n',
    "missing keys": '[[element]]  # K104 K306\nname = "x"\ntype = "t.x"\n[[link]]  # K104\nfrom = "src.out"\n',
    "unknown names": EL("x").replace('"operator"', '"sorce"  # K105') + 'requires = ["cuda"]  # K105\n'
    'policy = "best"  # K105\noutputs = { a = "frames", b = { category = "frame", pixel_format = "nv13" } }'
    '  # K105 K105\n' + EL("y") + '[element.outputs.c]\ncategory = "tensor"\ndtype = "float"  # K105\n'
    'coordinate_space = "pixels"  # K105\n',
    "malformed values": LINK("src", "snk.in").replace('"src"', '"src"  # K106') + EL("x")
    + 'requires = ["gpu_memory:lots"]  # K106\noutputs = { o = { category = "frame", width = -1 } }  # K106\n'
    + PROVIDER("p", ["t.x"], "  # K407").replace('"1.0.0"', '"1.2"  # K106')
    + PROVIDER("q", ["t.x"], "  # K407") + "priority = 9999999999  # K106\n" + PLAN,
    "link end names no port": LINK("src.out", "snk.inn", "  # K201"),
    "cycle": EL("a", mark="  # K207") + PORTS + EL("b") + PORTS + LINK("a.out", "b.in")
    + LINK("b.out", "a.in"),
    "dynamic link from nowhere": '[[link]]  # K208\nfrom = "sourc"\npad = "p"\nto = "snk.in"\n',
    "late link from nowhere": LINK("ghost.out", "snk.in", "  # K209 K305") + "late = true\n",
    "names used twice": EL("snk", "sink", "  # K302") + 'inputs = { in = "frame" }\n'
    + '[[link]]\nfrom = "snk"\npad = "p"\nto = "snk.in"\n' + LINK("src.out", "snk.in", "  # K304"),
    "no provider for the type": PLAN + EL("x", mark="  # K402 K306"),
    "no provider meets the requirements": PLAN + EL("x", mark="  # K403 K306")
    + 'requires = ["cuda_required"]\n' + PROVIDER("cpu", ["t.x"]) + 'capabilities = ["fp16"]\n',
    "manual choice absent": PLAN + EL("x", mark="  # K404 K306") + 'policy = "manual:gpu"\n'
    + PROVIDER("cpu", ["t.x"]),
    "strict fallback": PLAN + EL("x", mark="  # K405 K306") + 'requires = ["external_runtime:onnx"]\n'
    + PROVIDER("gpu", ["t.x"]) + "priority = 9\n" + PROVIDER("old", ["t.x"], "  # K406")
    + 'abi = "9.0.0"\npriority = 99\ncapabilities = ["custom:runtime:onnx"]\n'
    + PROVIDER("cpu", ["t.x"]) + 'capabilities = ["custom:runtime:onnx"]\n'}


def marked(text):
    """(code, line) of every "# Knnn" mark, in line order."""
    return sorted((code, n) for n, line in enumerate(text.splitlines(), 1)
                  for code in re.findall(r"K\d{3}", line.partition("#")[2]))


def findings(text, strict=False):
    return check(loads(text, "p.toml"), strict=strict).findings


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_broken_files(case):
    text = BASE + CASES[case]
    got = [f for f in findings(text, strict=True) if f.severity != "note"]
    assert sorted((f.code, f.location.line) for f in got) == marked(text)
    assert [(f.location.file, f.location.column >= 1, f.severity) for f in got] == \
        [("p.toml", True, CODES[f.code][0]) for f in got]


def test_messages_and_order():
    # Names, not ids; choices and near misses; the stages in order.
    text = (EXAMPLES / "cameras_broken.toml").read_text()
    result = check(loads(text, "b.toml"), strict=True)
    assert sorted(result.findings, key=lambda f: f.code[1]) == result.findings
    text_of = {f.code: f.message for f in reversed(result.findings)}  # the first of each code
    assert "'sorce' (did you mean 'source'?); expected one of: source, operator, sink" in text_of["K105"]
    assert text_of["K201"] == "link dec2.frames -> detector.cam2: element 'dec2' has no port 'frames'"
    assert text_of["K207"] == "cycle: tracker -> analytics -> tracker"
    assert "(did you mean 'analytics'?)" in text_of["K208"]
    assert not any(re.search(r"[0-9a-f]{8}-[0-9a-f]{4}", f.message) for f in result.findings)
    assert {f.code for f in result.findings} >= {"K400", "K401", "K402", "K404", "K405", "K407"}
    # The cycle's links, in path order, for the picture.
    [cycle] = [f for f in result.findings if f.code == "K207"]
    assert [str(result.built.edges[k]) for k in cycle.links] == ["tracker.tracks -> analytics.tracks",
                                                                 "analytics.zones -> tracker.zones"]


def test_plan_explains_every_candidate():
    text = BASE + CASES["strict fallback"]
    result = check(loads(text, "p.toml"))
    assert "K405" not in {f.code for f in result.findings}          # only when strict
    d = result.decision("x")
    assert d.chosen.id == "cpu"
    assert [(c.provider.id, c.verdict, c.reason) for c in d.candidates] == [
        ("gpu", "fails_requirement", "fails requirement external_runtime:onnx"), ("cpu", "chosen", ""),
        ("old", "incompatible_abi", "built for ABI 9.0.0, this build supports 0.1.0")]
    # A manual choice is not a fallback, even when strict.
    manual = text.replace('["external_runtime:onnx"]', '["external_runtime:onnx"]\npolicy = "manual:cpu"')
    assert [f.code for f in findings(manual, strict=True) if f.severity == "error"] == []


def test_authoring_by_name():
    op = ElementType("t.op", PyElementKind.Operator, {"in": FRAME}, {"out": FRAME})
    p = Pipeline("p").add("a", op).add("b", op).add("c", op)
    p.link("a.out", "b.in").link("b.out", "c.in").link_dynamic("a", "extra", "c.in")
    assert (p.successors("a"), p.predecessors("c"), p.topological_order()) == \
        (["b", "c"], ["a", "b"], ["a", "b", "c"])
    assert [str(k) for k in p.links_of("b")] == ["a.out -> b.in", "b.out -> c.in"]
    assert p.port("a.out")[1:] == ("output", FRAME)
    for call, error, msg in [(lambda: p.add("a", op), ValueError, "an element named 'a' already exists"),
                             (lambda: p.element("z"), KeyError, "no element named 'z'"),
                             (lambda: p.link("a", "b.in"), ValueError, "not of the form 'element.port'")]:
        pytest.raises(error, call).match(msg)
    built = p.to_graph()
    g = built.graph
    assert (g.num_elements(), g.num_edges(), g.validate().is_valid(), built.names[built.element_ids["b"]],
            built.ports[built.port_ids["c.in"]]) == (3, 3, True, "b", "c.in")
    assert [f.message for f in check_pipeline(p).findings] == ["input a.in has no incoming link"]
    p.link("c.out", "a.in")
    with pytest.raises(CycleError) as info:
        p.topological_order()
    cycle = info.value.cycle
    assert [a in p.predecessors(b) for a, b in zip(cycle, cycle[1:] + cycle[:1])] == [True] * 3


def test_core_kinds_files_cannot_make():
    # Element and port ids come fresh from a file; a graph that repeats them still gets named findings.
    src = ElementType("t.src", PyElementKind.Source, outputs={"out": FRAME})
    p, desc = Pipeline().add("a", src), loads("", "x.toml")
    desc.pipeline = p
    built = p.to_graph()
    built.graph.add_element(built.graph.elements[0])
    result = CheckResult(desc, built, [])
    _Core(result).run()
    assert [(f.code, f.message.split(" of ")[1]) for f in result.findings] == [
        ("K204", "'a' is repeated"), ("K205", "a.out is repeated")]


def test_command(tmp_path):
    good, bad = EXAMPLES / "cameras.toml", EXAMPLES / "cameras_broken.toml"
    status, out, _ = run("check", "--strict", bad)
    assert (run("check", good)[0], status, out.splitlines()[-1]) == (0, 1, "17 errors, 8 warnings")
    assert re.search(r"^\S+cameras_broken.toml:55:1: error K102: unknown key 'ouputs'", out, re.M)
    status, out, _ = run("check", "--json", bad)
    doc = json.loads(out)
    assert (status, doc["version"], doc["errors"], set(doc["findings"][0])) == (1, 1, 16, {
        "code", "severity", "message", "file", "line", "column", "elements", "element_ids", "port_ids",
        "links", "provider"})
    # Input that cannot be read: status 2, tomllib's position, no traceback.
    broken = tmp_path / "broken.toml"
    broken.write_text('[pipeline]\nname = "x\n')
    status, out, err = run("check", broken)
    assert (status, bool(re.fullmatch(r"\S+broken.toml:2:10: error K101: invalid TOML: .*\n", err))) == \
        (2, True)
    status, out, _ = run("check", "--json", tmp_path / "none.toml")
    assert (status, json.loads(out)["findings"][0]["code"]) == (2, "K100")
    unusable = [("check", good, "--providers", tmp_path / "nowhere"), ("frobnicate", good),
                ("check", good, "--draw", tmp_path / "x.jpg")]
    assert [run(*argv)[0] for argv in unusable] == [2] * 3
    status, out, _ = run("explain", good, "detector")
    shown = "not chosen: onnx.cpu.detector 1.18.0 (priority 1): fails requirement cuda_required"
    assert (status, shown in out) == (0, True)


def test_picture_of_a_broken_file(tmp_path):
    out = tmp_path / "p.dot"
    status = run("draw", "--strict", EXAMPLES / "cameras_broken.toml", out)[0]
    dot = out.read_text()
    # Top to bottom, codes on what they concern, the cycle (its two links and the legend), providers.
    wanted = ("digraph", "rankdir=TB", "legend [", "K206", "▸ nvidia.nvdec 12.2.0", "▸ no provider")
    assert (status, [w in dot for w in wanted], dot.count("K207")) == (0, [True] * 6, 3)


def test_readme_example(tmp_path, monkeypatch):
    # The README's complete description file gives the output it shows.
    readme = (EXAMPLES.parent / "README.md").read_text()
    section = readme.split("### The description file", 1)[1]
    toml = section.split("```toml\n", 1)[1].split("```", 1)[0]
    shown = section.split("```text\n", 1)[1].split("```", 1)[0]
    (tmp_path / "demo.toml").write_text(toml)
    monkeypatch.chdir(tmp_path)
    assert run("check", "demo.toml") == (0, shown, "")
