"""What new users of the checker tripped on: each mistake is a located finding, each report says what
it rests on."""

import json
import pydoc

import pytest

import kelo
from kelo.checker.checking import check
from kelo.checker.description import loads
from kelo.pipeline import ElementType
from checks import run

SRC = '[[element]]\nname = "src"\ntype = "t.src"\nkind = "source"\noutputs = { out = "frame" }\n'
SNK = '[[element]]\nname = "snk"\ntype = "t.snk"\nkind = "sink"\ninputs = { in = "frame" }\n'
LINK = '[[link]]\nfrom = "src.out"\nto = "snk.in"\n'
GOOD = '[pipeline]\nname = "t"\n' + SRC + SNK + LINK


def provider(pid, types, extra=""):
    return f'[[provider]]\nid = "{pid}"\nversion = "1.0.0"\nelement_types = {json.dumps(types)}\n{extra}'


def located(text, strict=False):
    """(code, line, column) of every finding but the plan's notes K400 and K401, in report order."""
    return [(f.code, f.location.line, f.location.column)
            for f in check(loads(text, "p.toml"), strict=strict).findings if f.code not in ("K400", "K401")]


# Mistakes once accepted in silence, and findings once without a place or in the wrong one:
# (text, findings).
CASES = {
    "empty file": ("", [("K104", 1, 1), ("K307", 1, 1)]),
    "no [pipeline]": (SRC + SNK + LINK, [("K104", 1, 1)]),
    "no elements": ('[pipeline]\nname = "t"\n', [("K307", 1, 1)]),
    "empty names": ('[pipeline]\nname = ""\n' + SRC.replace('"t.src"', '""') + SNK.replace('"snk"', '""'),
                    [("K107", 2, 1), ("K107", 5, 1), ("K107", 9, 1)]),
    "zero width": (GOOD.replace('{ out = "frame" }', '{ out = { category = "frame", width = 0 } }'),
                   [("K106", 7, 41)]),
    "empty requirement values": (GOOD.replace('kind = "sink"', 'kind = "sink"\nrequires = ["accelerator:", '
                                              '"custom:"]'), [("K106", 12, 13), ("K106", 12, 29)]),
    "element without ports or links": (GOOD + '[[element]]\nname = "x"\ntype = "t.x"\nkind = "operator"\n',
                                       [("K306", 16, 1)]),
    "provider id twice": (GOOD + provider("p", ["t.src", "t.snk"]) + provider("p", ["t.src"]),
                          [("K108", 21, 1), ("K407", 20, 1)]),
    "array of tables misspelt": ('[pipeline]\nname = "t"\n\n[[elements]]\nname = "x"\n',
                                 [("K102", 4, 1), ("K307", 1, 1)]),
    "item of a multi-line array": (GOOD.replace("kind = \"sink\"\n", 'kind = "sink"\nrequires = [\n'
                                                '  "cuda_required",\n  "gpu_memroy:4",\n]\n'), [("K105", 14, 3)]),
    "one kind in line order": ('[pipeline]\nname = "t"\n' + LINK.replace('"src.out"', '"src"') + SRC.replace(
        '"frame"', '{ category = "frame", width = -1 }') + SNK, [("K106", 4, 1), ("K106", 10, 41), ("K301", 15, 12)]),
    "two core errors on one link": (GOOD + SNK.replace('"snk"', '"t2"').replace('"frame"', '"tensor"')
                                    + '[[link]]\nfrom = "snk.in"\nto = "t2.in"\n',
                                    [("K202", 21, 1), ("K206", 21, 1)]),
    "bad pipeline policy": (GOOD.replace('name = "t"', 'name = "t"\npolicy = "best"')
                            + provider("p", ["t.src", "t.snk"]), [("K105", 3, 1)]),
}


@pytest.mark.parametrize("case", CASES)
def test_located_findings(case):
    text, want = CASES[case]
    assert located(text) == want


def test_unused_provider_is_named():
    # A provider with one bad field is not used: it says why at its line, and the elements it would
    # serve say which provider that was; a misspelt type gets the near name a provider implements.
    text = GOOD + provider("p", ["t.src"]).replace('"1.0.0"', '"1.0"') + provider("q", ["t.snk"])
    text = text.replace('type = "t.snk"', 'type = "t.snc"')
    messages = {f.code + str(f.location.line): f.message for f in check(loads(text, "p.toml")).findings}
    assert messages == {
        "K10618": "version '1.0' is not a version 'major.minor.patch'",
        "K40716": "provider 'p' is not used: version '1.0' is not a version 'major.minor.patch'",
        "K4023": "element 'src': no provider implements type 't.src'; provider 'p' (line 16) declares it but is "
                 "not used",
        "K4028": "element 'snk': no provider implements type 't.snc' (did you mean 't.snk'?)"}


@pytest.mark.parametrize("requirement, strict, want", [
    ("gpu_memory:999999999999999999", False, [("K408", 3, 1)]),
    ("custom:calibrated", False, [("K408", 3, 1)]),
    ("custom:calibrated", True, [("K409", 3, 1)]),
    ("cuda_required", True, []),
])
def test_requirements_met_by_assumption(requirement, strict, want):
    text = GOOD.replace('kind = "source"', f'kind = "source"\nrequires = ["{requirement}"]') \
        + provider("gpu", ["t.src", "t.snk"], 'capabilities = ["cuda"]\n')
    assert located(text, strict) == want
    messages = {f.message for f in check(loads(text, "p.toml"), strict=strict).findings
                if f.code in ("K408", "K409")}
    assert messages == ({f"element 'src': requirement {requirement} is taken as met by 'gpu': "
                         "selection does not check it"} if want else set())


def test_explain(tmp_path):
    path = tmp_path / "p.toml"
    # Requirements that cannot be read are shown as such, and no provider is chosen without them.
    path.write_text(GOOD.replace('kind = "sink"', 'kind = "sink"\nrequires = ["cuda", "gpu_memory:lots"]')
                    + provider("p", ["t.src", "t.snk"]))
    status, out, _ = run("explain", path, "snk")
    assert (status, out.splitlines()[:2]) == (1, [
        "element 'snk' (type t.snk), policy highest_priority, requires cuda (unreadable), "
        "gpu_memory:lots (unreadable)",
        "  no provider chosen: the element's requirements and policy are read first"])
    # So with a pipeline policy that is not one.
    path.write_text(GOOD.replace('name = "t"', 'name = "t"\npolicy = "best"') + provider("p", ["t.src", "t.snk"]))
    status, out, _ = run("explain", "--json", path, "src")
    decision = json.loads(out)["decision"]
    assert (status, decision["chosen"], decision["unreadable"]) == (1, None, ["best"])
    # An unknown element with --json: a JSON document still.
    status, out, err = run("explain", "--json", path, "sr")
    assert (status, json.loads(out)["error"], err) == (2, "no element named 'sr' (did you mean 'src'?)", "")


def test_providers_directory(tmp_path):
    (tmp_path / "p.toml").write_text(GOOD)
    (folder := tmp_path / "providers").mkdir()
    (folder / "a.toml").write_text('[provider\n')
    (folder / "b.toml").write_text("\n\n" + provider("p", ["t.src", "t.snk"]) + '[[element]]\nname = "x"\n')
    status, out, _ = run("check", tmp_path / "p.toml", "--providers", folder)
    lines = out.splitlines()
    assert (status, [ln.split(": ")[0].rpartition("/")[2] for ln in lines[:2]],
            [ln.split(" ")[2] for ln in lines[:4]]) == (
        1, ["a.toml:1:10", "b.toml:7:1"], ["K101:", "K102:", "K400:", "K400:"])


def test_command_line(tmp_path):
    assert run("--version") == (0, f"kelo {kelo.__version__}\n", "")
    (path := tmp_path / "p.toml").write_text(GOOD)
    missing = tmp_path / "missing" / "x.svg"
    status, _, err = run("draw", path, missing)
    assert (status, err) == (2, f"kelo: cannot draw {missing}: [Errno 2] No such file or "
                             f"directory: '{missing}'\n")
    status, out, _ = run("check", "--json", tmp_path / "p.toml")
    assert (status, json.loads(out)["findings"]) == (0, [])


def test_api_at_the_top():
    top = {"Pipeline", "ElementType", "check", "load", "columns", "add_objects", "io"}
    assert (set(kelo.__all__) >= top, "ForwardRef" in pydoc.render_doc(ElementType),
            kelo.check(kelo.Pipeline("empty")).findings[0].code) == (True, False, "K307")
