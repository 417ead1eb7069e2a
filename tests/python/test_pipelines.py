"""Pipelines by name, description files, the checker, its command and pictures."""

import io
import json
import random
import re
from pathlib import Path

import pytest

from kelo import _native
from kelo.checking import CheckResult, _Core, check, check_pipeline
from kelo.cli import main
from kelo.description import loads
from kelo.ext.graph import PyDataContract, PyElementKind, PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId,
                               PyProviderRegistry, PyRequirement, PySelectionPolicy, PyVersion,
                               select_provider)
from kelo.findings import CODES
from kelo.pipeline import CycleError, ElementType, Pipeline

EXAMPLES = Path(__file__).resolve().parents[2] / "examples"
FRAME = PyDataContract.frame()

# Two elements and a link between them: checks clean. Each case below adds
# to it, and marks each line a finding (error or warning) should point at
# with "# Knnn" comments.
BASE = """\
[pipeline]
name = "t"

[[element]]
name = "src"
type = "t.src"
kind = "source"
outputs = { out = "frame" }

[[element]]
name = "snk"
type = "t.snk"
kind = "sink"
inputs = { in = "frame" }

[[link]]
from = "src.out"
to = "snk.in"
"""
PLAN = """
[[provider]]
id = "base"
version = "1.0.0"
element_types = ["t.src", "t.snk"]
"""
ELEMENT_X = """
[[element]]{mark}
name = "x"
type = "t.x"
kind = "operator"
"""

CASES = {
    "unknown keys": """
[[link]]
from = "src.out"
to = "snk.in"
lat = true  # K102
[[element]]
name = "x"
type = "t.x"
kind = "operator"
outputs = { o = { category = "frame", widht = 3 } }  # K102
""",
    "wrong types": """
[[element]]
name = "x"
type = "t.x"
kind = 3  # K103
config = { a = 1 }  # K103
inputs = { in = 4 }  # K103 K301
""",
    "missing keys": """
[[element]]  # K104
name = "x"
type = "t.x"
[[link]]  # K104
from = "src.out"
""",
    "unknown names": """
[[element]]
name = "x"
type = "t.x"
kind = "sorce"  # K105
requires = ["cuda"]  # K105
policy = "best"  # K105
outputs = { a = "frames", b = { category = "frame", pixel_format = "nv13" } }  # K105 K105
[[element]]
name = "y"
type = "t.y"
kind = "operator"
[element.outputs.c]
category = "tensor"
dtype = "float"  # K105
coordinate_space = "pixels"  # K105
""",
    "malformed values": """
[[link]]
from = "src"  # K106
to = "snk.in"
[[element]]
name = "x"
type = "t.x"
kind = "operator"
requires = ["gpu_memory:lots"]  # K106
outputs = { o = { category = "frame", width = -1 } }  # K106
[[provider]]
id = "p"
version = "1.2"  # K106
element_types = ["t.x"]
[[provider]]
id = "q"
version = "1.0.0"
element_types = ["t.src", "t.snk", "t.x"]
priority = 9999999999  # K106
""",
    "link end names no port": """
[[link]]  # K201
from = "src.out"
to = "snk.inn"
""",
    "link runs backwards": """
[[element]]
name = "y"
type = "t.y"
kind = "sink"
inputs = { in = "frame" }  # K301
[[link]]  # K202
from = "y.in"
to = "snk.in"
""",
    "contract mismatch": """
[[element]]
name = "t"
type = "t.t"
kind = "sink"
inputs = { in = "tensor" }
[[link]]  # K206
from = "src.out"
to = "t.in"
""",
    "cycle": """
[[element]]  # K207
name = "a"
type = "t.op"
kind = "operator"
inputs = { in = "frame" }
outputs = { out = "frame" }
[[element]]
name = "b"
type = "t.op"
kind = "operator"
inputs = { in = "frame" }
outputs = { out = "frame" }
[[link]]
from = "a.out"
to = "b.in"
[[link]]
from = "b.out"
to = "a.in"
""",
    "dynamic link from nowhere": """
[[link]]  # K208
from = "sourc"
pad = "p"
to = "snk.in"
""",
    "late link from nowhere": """
[[link]]  # K209 K305
from = "ghost.out"
to = "snk.in"
late = true
""",
    "names used twice": """
[[element]]  # K302
name = "snk"
type = "t.snk"
kind = "sink"
inputs = { in = "frame" }  # K301
[[link]]  # K303
from = "snk"
pad = "p"
to = "snk.in"
[[link]]  # K304
from = "src.out"
to = "snk.in"
""",
    "no provider for the type": PLAN + ELEMENT_X.format(mark="  # K402"),
    "no provider meets the requirements": PLAN + ELEMENT_X.format(mark="  # K403") + """\
requires = ["cuda_required"]
[[provider]]
id = "cpu"
version = "1.0.0"
element_types = ["t.x"]
capabilities = ["fp16"]
""",
    "manual choice absent": PLAN + ELEMENT_X.format(mark="  # K404") + """\
policy = "manual:gpu"
[[provider]]
id = "cpu"
version = "1.0.0"
element_types = ["t.x"]
""",
    "strict fallback": PLAN + ELEMENT_X.format(mark="  # K405") + """\
requires = ["external_runtime:onnx"]
[[provider]]
id = "gpu"
version = "1.0.0"
element_types = ["t.x"]
priority = 9
[[provider]]  # K406
id = "old"
version = "1.0.0"
abi = "9.0.0"
element_types = ["t.x"]
priority = 99
capabilities = ["custom:runtime:onnx"]
[[provider]]
id = "cpu"
version = "1.0.0"
element_types = ["t.x"]
capabilities = ["custom:runtime:onnx"]
""",
}


def marked(text):
    """(code, line) of every "# Knnn" mark, in line order."""
    return sorted((code, n) for n, line in enumerate(text.splitlines(), 1)
                  for code in re.findall(r"K\d{3}", line.partition("#")[2]))


def findings(text, strict=False):
    return check(loads(text, "p.toml"), strict=strict).findings


def test_clean_base_and_example():
    assert findings(BASE) == []
    assert [f.code for f in findings(BASE + PLAN)] == ["K400", "K400"]


@pytest.mark.parametrize("case", CASES, ids=list(CASES))
def test_broken_files(case):
    text = BASE + CASES[case]
    got = [f for f in findings(text, strict=True) if f.severity != "note"]
    assert sorted((f.code, f.location.line) for f in got) == marked(text)
    for f in got:
        assert f.location.file == "p.toml" and f.location.column >= 1
        assert f.severity == CODES[f.code][0]


def test_messages_and_order():
    # Names, not ids; choices and near misses; the stages in order.
    text = (EXAMPLES / "cameras_broken.toml").read_text()
    result = check(loads(text, "b.toml"), strict=True)
    stages = [int(f.code[1]) for f in result.findings]
    assert stages == sorted(stages)
    text_of: dict[str, str] = {}
    for f in result.findings:
        text_of.setdefault(f.code, f.message)
    assert "'sorce' (did you mean 'source'?); expected one of: source, operator, sink" in \
        text_of["K105"]
    assert text_of["K201"] == "link dec2.frames -> detector.cam2: element 'dec2' has no port " \
        "'frames'"
    assert text_of["K207"] == "cycle: tracker -> analytics -> tracker"
    assert "(did you mean 'analytics'?)" in text_of["K208"]
    assert not any(re.search(r"[0-9a-f]{8}-[0-9a-f]{4}", f.message) for f in result.findings)
    assert {f.code for f in result.findings} >= {"K400", "K401", "K403", "K404", "K405"}
    # The cycle's links are known, for the picture.
    assert [result.built.edges[k].target for k in sorted(result.cycle_links)] == \
        ["analytics.tracks", "tracker.zones"]


def test_plan_explains_every_candidate():
    text = BASE + CASES["strict fallback"]
    result = check(loads(text, "p.toml"))
    assert "K405" not in {f.code for f in result.findings}          # only when strict
    d = result.decision("x")
    assert d is not None and d.chosen is not None and d.chosen.id == "cpu"
    assert [(c.provider.id, c.verdict, c.reason) for c in d.candidates] == [
        ("gpu", "fails_requirement", "fails requirement external_runtime:onnx"),
        ("cpu", "chosen", ""),
        ("old", "incompatible_abi", "built for ABI 9.0.0, this build supports 0.1.0")]
    # A manual choice is not a fallback, even when strict.
    manual = text.replace('requires = ["external_runtime:onnx"]',
                          'requires = ["external_runtime:onnx"]\npolicy = "manual:cpu"')
    assert [f.code for f in findings(manual, strict=True) if f.severity == "error"] == []


def test_explanation_agrees_with_select_provider():
    # The explanation and select_provider come from one walk in the core;
    # random registries, requirements and policies catch a drift between them.
    rng = random.Random(7)
    caps = [PyCapability.cuda(), PyCapability.custom("runtime:x"), PyCapability.fp16()]
    reqs = [PyRequirement.cuda_required(), PyRequirement.external_runtime("x"),
            PyRequirement.custom("c"), PyRequirement.operating_system("plan9")]
    t = PyElementTypeId("t")
    for _ in range(300):
        registry = PyProviderRegistry()
        for i in range(rng.randrange(4)):
            d = PyProviderDescriptor(PyProviderId(f"p{rng.randrange(3)}"), PyVersion(1, 0, 0))
            d = d.with_priority(rng.randrange(-2, 3)).with_element_type(t)
            for c in rng.sample(caps, rng.randrange(3)):
                d = d.with_capability(c)
            registry.register(d)
        want = rng.sample(reqs[:3], rng.randrange(3)) + ([reqs[3]] if rng.random() < .1 else [])
        policy = rng.choice([PySelectionPolicy.highest_priority(),
                             PySelectionPolicy.first_available(),
                             PySelectionPolicy.manual(PyProviderId(f"p{rng.randrange(3)}"))])
        found = registry.find(t)
        answer = _native.explain_selection(t, found, want, policy)
        try:
            chosen = select_provider(t, registry, want, policy)
        except ValueError as exc:
            errors = ["no providers found", "no provider satisfies requirements",
                      "provider not found"]
            assert answer[:2] == [-1, errors.index(str(exc))]
            continue
        assert answer[1] == -1 and found[answer[0]].id == chosen.id
        assert found[answer[0]].priority == chosen.priority
        assert answer[2::2].count(0) == 1 and answer[2 + 2 * answer[0]] == 0


def test_authoring_by_name():
    op = ElementType("t.op", PyElementKind.Operator, {"in": FRAME}, {"out": FRAME})
    p = Pipeline("p").add("a", op).add("b", op).add("c", op)
    p.link("a.out", "b.in").link("b.out", "c.in").link_dynamic("a", "extra", "c.in")
    assert p.successors("a") == ["b", "c"] and p.predecessors("c") == ["a", "b"]
    assert p.topological_order() == ["a", "b", "c"]
    assert [str(k) for k in p.links_of("b")] == ["a.out -> b.in", "b.out -> c.in"]
    assert p.port("a.out")[1:] == ("output", FRAME)
    with pytest.raises(ValueError, match="an element named 'a' already exists"):
        p.add("a", op)
    with pytest.raises(KeyError, match="no element named 'z'"):
        p.element("z")
    with pytest.raises(ValueError, match="not of the form 'element.port'"):
        p.link("a", "b.in")
    built = p.to_graph()
    assert built.graph.num_elements() == 3 and built.graph.num_edges() == 3
    assert built.names[built.element_ids["b"]] == "b"
    assert built.ports[built.port_ids["c.in"]] == "c.in"
    assert built.graph.validate().is_valid()
    assert [f.message for f in check_pipeline(p).findings] == ["input a.in has no incoming link"]
    p.link("c.out", "a.in")
    with pytest.raises(CycleError) as info:
        p.topological_order()
    cycle = info.value.cycle
    assert cycle and all(cycle[i] in p.predecessors(cycle[(i + 1) % len(cycle)])
                         for i in range(len(cycle)))
    assert [f.code for f in check_pipeline(p).findings] == ["K207"]


def test_core_kinds_files_cannot_make():
    # Element and port ids come fresh from a file; a graph that repeats
    # them still gets named findings.
    src = ElementType("t.src", PyElementKind.Source, outputs={"out": FRAME})
    p = Pipeline().add("a", src)
    desc = loads("", "x.toml")
    desc.pipeline = p
    built = p.to_graph()
    built.graph.add_element(built.graph.elements[0])
    result = CheckResult(desc, built, built.graph.validate(), [])
    _Core(result).run()
    assert [(f.code, f.message.split(" of ")[1]) for f in result.findings] == [
        ("K204", "'a' is repeated"), ("K205", "a.out is repeated")]


def run(*argv):
    out, err = io.StringIO(), io.StringIO()
    status = main([str(a) for a in argv], out, err)
    return status, out.getvalue(), err.getvalue()


def test_command(tmp_path):
    good, bad = EXAMPLES / "cameras.toml", EXAMPLES / "cameras_broken.toml"
    assert run("check", good)[0] == 0
    status, out, _ = run("check", "--strict", bad)
    assert status == 1 and out.endswith("17 errors, 8 warnings\n")
    assert re.search(r"^\S+cameras_broken.toml:55:1: error K102: unknown key 'ouputs'", out, re.M)
    status, out, _ = run("check", "--json", bad)
    doc = json.loads(out)
    assert status == 1 and doc["version"] == 1 and doc["errors"] == 16
    assert set(doc["findings"][0]) == {"code", "severity", "message", "file", "line", "column",
                                       "elements", "element_ids", "port_ids", "links",
                                       "provider"}
    # Input that cannot be read: status 2, tomllib's position, no traceback.
    broken = tmp_path / "broken.toml"
    broken.write_text('[pipeline]\nname = "x\n')
    status, out, err = run("check", broken)
    assert status == 2 and re.fullmatch(r"\S+broken.toml:2:10: error K101: invalid TOML: .*\n",
                                         err)
    status, out, _ = run("check", "--json", tmp_path / "none.toml")
    assert status == 2 and json.loads(out)["findings"][0]["code"] == "K100"
    assert run("check", good, "--providers", tmp_path / "nowhere")[0] == 2
    assert run("check", good, "--draw", tmp_path / "x.jpg")[0] == 2
    assert run("frobnicate", good)[0] == 2
    # Providers from manifests.
    (tmp_path / "base.toml").write_text(BASE)
    (tmp_path / "manifests").mkdir()
    (tmp_path / "manifests" / "m.toml").write_text(PLAN)
    out = run("check", tmp_path / "base.toml", "--providers", tmp_path / "manifests")[1]
    assert out.count("m.toml:2:1: note K400") == 0 and out.count("note K400") == 2
    # explain
    status, out, _ = run("explain", good, "detector")
    assert status == 0 and "not chosen: onnx.cpu.detector 1.18.0 (priority 1): fails " \
        "requirement gpu_memory:4000000000" in out
    status, out, _ = run("explain", "--json", bad, "dashboard")
    assert status == 1 and json.loads(out)["decision"]["chosen"] is None
    status, _, err = run("explain", good, "detecter")
    assert status == 2 and "did you mean 'detector'" in err


@pytest.mark.parametrize("suffix, magic", [(".svg", b"<?xml"), (".png", b"\x89PNG"),
                                           (".pdf", b"%PDF"), (".dot", b"digraph")])
def test_pictures_by_extension(tmp_path, suffix, magic):
    if suffix != ".dot":
        pytest.importorskip("shutil").which("dot") or pytest.skip("Graphviz is not installed")
    out = tmp_path / f"p{suffix}"
    status, _, _ = run("draw", "--strict", EXAMPLES / "cameras_broken.toml", out)
    assert status == 0 and out.read_bytes().startswith(magic)
    if suffix == ".dot":
        dot = out.read_text()
        # Top to bottom, codes on what they concern, the cycle, providers, a legend.
        assert "rankdir=TB" in dot and "legend [" in dot and "K206" in dot
        assert dot.count('color="#7b2cbf", penwidth=3') == 2
        assert "▸ nvidia.nvdec 12.2.0" in dot and "▸ no provider" in dot


def test_readme_example(tmp_path, monkeypatch):
    # The README's complete description file gives the output it shows.
    readme = (EXAMPLES.parent / "README.md").read_text()
    section = readme.split("### The description file", 1)[1]
    toml = section.split("```toml\n", 1)[1].split("```", 1)[0]
    shown = section.split("```text\n", 1)[1].split("```", 1)[0]
    (tmp_path / "demo.toml").write_text(toml)
    monkeypatch.chdir(tmp_path)
    assert run("check", "demo.toml") == (0, shown, "")
