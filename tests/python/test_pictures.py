"""Pictures of checked pipelines: DOT text, marks from findings, escaping, rendering."""

import re
import shutil
import xml.etree.ElementTree as ET

import pytest

from kelo.checker.checking import check, check_pipeline
from kelo.checker.description import loads
from kelo.checker.pictures import GraphvizError, GraphvizNotFoundError, draw, render, to_dot
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline
from checks import raises

ERROR, WARNING = "#c81e1e", "#b35c00"
FRAME = PyDataContract.frame()
EDGE = re.compile(r"  (\S+) -> (\S+) \[(.*)\];")


def node(dot, name):
    [line] = [ln for ln in dot.splitlines() if ln.startswith(f"  {name} [")]
    return line


def edges(dot):
    """(tail, head, attributes) of every edge line, connectors to pads included."""
    return [m.groups() for m in map(EDGE.fullmatch, dot.splitlines()) if m]


def marked(dot):
    """What is drawn in a severity's colour, with the codes it carries: nodes, port fields ("n0:i1")
    and links (tail, head)."""
    out = {}
    for name, colour, rest in re.findall(r'^  (n\d+) \[.*?label=<<TABLE[^>]* COLOR="([^"]+)"[^>]*>(.*)', dot,
                                         re.M):
        header = re.search(r'<TD CELLPADDING="5">(.*?)</TD>', rest)[1]
        if colour in (ERROR, WARNING):
            out[name] = tuple(re.findall(r"K\d{3}", header))
        for field, codes in re.findall(r'PORT="(\w+)"[^>]* COLOR="[^"]+"[^>]*>(.*?)</TD>', rest):
            out[f"{name}:{field}"] = tuple(re.findall(r"K\d{3}", codes))
    for t, h, attrs in edges(dot):
        if "penwidth=2" in attrs:
            out[(t, h)] = tuple(re.findall(r"K\d{3}", attrs))
    return out


def picture(text):
    return to_dot(check(loads(text, "p.toml")))


def test_structure():
    op = ElementType("t.op", PyElementKind.Operator, {"in": FRAME},
                     {"out": PyDataContract.tensor(), "preview": FRAME})
    src = ElementType("t.src", PyElementKind.Source, outputs={"out": FRAME})
    p = Pipeline("demo").add("cam", src).add("op", op).add("show", ElementType(
        "t.show", PyElementKind.Sink, {"a": PyDataContract.tensor(), "b": PyDataContract.metadata()}))
    p.link("cam.out", "op.in").link("op.out", "show.a").link("op.preview", "show.b", late=True)
    dot = to_dot(check_pipeline(p))
    assert dot.startswith('digraph "demo" {\n') and dot.endswith("\n}\n") and "rankdir=TB" in dot
    n1 = node(dot, "n1")  # inputs above the header, outputs below it, a field per port
    assert re.findall(r'PORT="(\w+)"', n1) == ["i0", "o0", "o1"]
    assert n1.index('PORT="i0"') < n1.index("<B>op</B>") < n1.index('PORT="o0"') and "t.op · operator" in n1
    assert edges(dot)[:2] == [("n0:o0:s", "n1:i0:n", "label=<Frame>"), ("n1:o0:s", "n2:i0:n", "label=<Tensor>")]
    assert "Frame<BR/>→ Metadata" in edges(dot)[2][2] and "style=dashed" in edges(dot)[2][2]
    # The contract mismatch on the late link is the only mark; no provider is declared, so none is shown.
    assert marked(dot) == {("n1:o1:s", "n2:i1:n"): ("K206",)} and "▸" not in dot.partition("legend")[0]


BASE = '[pipeline]\nname = "t"\n[[element]]\nname = "src"\ntype = "t.src"\nkind = "source"\n' \
    'outputs = { out = "frame" }\n[[element]]\nname = "snk"\ntype = "t.snk"\nkind = "sink"\n' \
    'inputs = { in = "frame", extra = "frame" }\n[[link]]\nfrom = "src.out"\nto = "snk.in"\n'

# A file's mistakes and what the picture marks: the links a finding names, else its ports, else its
# elements, with the finding's codes; placeholders for link ends that name no declared port.
MARKS = {
    "clean but for an unfed input": ("", {"n1:i1": ("K301",)}),
    "link into nowhere": ('[[link]]\nfrom = "src.out"\nto = "snk.inn"\n',
                          {"n1:i1": ("K301",), ("n0:o0:s", "x0"): ("K201",)}),
    "wrong way and mismatch on one link": (
        '[[element]]\nname = "t"\ntype = "t.t"\nkind = "sink"\ninputs = { in = "tensor" }\n'
        '[[link]]\nfrom = "snk.extra"\nto = "t.in"\n',
        {"n1:i1": ("K301",), ("n1:i1:n", "n2:i0:n"): ("K202", "K206")}),
    "unknown kind and a copy": ('[[element]]\nname = "src"\ntype = "t.src"\nkind = "source"\n'
                                '[[element]]\nname = "odd"\ntype = "t.odd"\nkind = "snk"\n',
                                {"n1:i1": ("K301",), "n2": ("K105", "K306")}),
    "dynamic pad of a missing element": ('[[link]]\nfrom = "sorc"\npad = "p"\nto = "snk.extra"\n',
                                         {("x0", "n1:i1:n"): ("K208",)}),
}


@pytest.mark.parametrize("case", MARKS)
def test_marks_from_findings(case):
    text, want = MARKS[case]
    dot = picture(BASE + text)
    assert marked(dot) == want
    codes = {c for m in want.values() for c in m}
    assert set(re.findall(r"<B>(K\d{3})</B></TD>", node(dot, "legend"))) == codes


def test_unknown_and_placeholders():
    dot = picture(MARKS["unknown kind and a copy"][0].join([BASE, ""]) + '[[link]]\nfrom = "src"\npad = "p"\n'
                  'to = "snk.extra"\n[[link]]\nfrom = "ghost.out"\nto = "odd.x"\nlate = true\n')
    assert "t.odd · unknown kind" in node(dot, "n2") and "n3" not in dot   # the copy is left out
    assert ["dynamic pad"] == re.findall(r"dynamic pad|no such \w+", node(dot, "x0"))
    assert ("n0", "x0") in {(t, h) for t, h, _ in edges(dot)}     # the pad hangs off its element
    assert ["no such port"] * 2 == [re.search(r"no such \w+", node(dot, x))[0] for x in ("x1", "x2")]


NASTY = [('say "hi"', "say &quot;hi&quot;"), ("{a|b} [c]", "{a|b} [c]"), ("<b>&amp;", "&lt;b&gt;&amp;amp;"),
         ("two\nlines\r\nthree\rfour", "two<BR/>lines<BR/>three<BR/>four"),
         ("tab\tnul\x00esc\x1b\x7f\u2028end", "tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end"),
         ("back\\slash \\", "back\\slash \\"), ("ünï ✓ 🎥", "ünï ✓ 🎥")]


def nasty(raw):
    t = ElementType(raw, PyElementKind.Operator, {raw: PyDataContract.custom(raw)}, {"o": FRAME})
    p = Pipeline(raw).add(raw, t).add("sink", ElementType("t", PyElementKind.Sink, {"in": FRAME}))
    return p.link(f"{raw}.o", f"{raw}.{raw}").link_dynamic(raw, raw, "sink.in")


@pytest.mark.parametrize("raw, esc", NASTY, ids=[repr(r) for r, _ in NASTY])
def test_escaping(raw, esc):
    dot = to_dot(check_pipeline(nasty(raw)))
    # name, type id and port name; the pad's element and pad name
    assert node(dot, "n0").count(esc) >= 3 and node(dot, "x0").count(esc) == 2
    assert f"Frame<BR/>→ Custom({esc})" in dot
    for label in re.findall(r"label=<(.*)>[,\]]", dot):     # every < and > belongs to markup
        assert "<" not in re.sub(r"</?[A-Z]+(?: [A-Z-]+=\"[^\"<>]*\")*/?>", "", label)
    assert not re.search(r"<(B|I|FONT[^>]*)></", dot)      # Graphviz rejects <B></B> and the like


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz dot is not installed")
def test_render(tmp_path):
    out = draw(check_pipeline(nasty(NASTY[0][0] + NASTY[4][0])), tmp_path / "g.svg")
    assert out == tmp_path / "g.svg" and [p.name for p in tmp_path.iterdir()] == ["g.svg"]
    texts = {t.text for t in ET.parse(out).iter("{http://www.w3.org/2000/svg}text")}
    assert 'say "hi"tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end' in texts
    # A failing run leaves the file that was there alone.
    before = out.read_bytes()
    pytest.raises(GraphvizError, render, "digraph { a -> }", out).match("dot failed with exit status 1: .*syntax")
    assert out.read_bytes() == before and [p.name for p in tmp_path.iterdir()] == ["g.svg"]


def test_render_errors(tmp_path, monkeypatch):
    for name, fmt, msg in [("g", "SVG", r"unsupported format 'SVG' \(expected 'svg', 'png', 'pdf' or 'dot'\)"),
                           ("g.jpg", None, r"unsupported format 'jpg' for .*\(expected 'svg', 'png', "),
                           ("g.png", "svg", "format 'svg' does not match the extension of ")]:
        pytest.raises(ValueError, render, "digraph {}", tmp_path / name, fmt).match(msg)
    raises(TypeError, render, b"digraph {}", tmp_path / "g.svg", msg="dot_text must be a str, got 'bytes'")
    # A folder that does not exist: the error names the file asked for.
    missing = tmp_path / "none" / "x.dot"
    raises(FileNotFoundError, render, "digraph {}", missing,
           msg=f"[Errno 2] No such file or directory: '{missing}'")
    (out := tmp_path / "g.svg").write_text("old")
    monkeypatch.setenv("PATH", str(tmp_path))
    pytest.raises(GraphvizNotFoundError, render, "digraph {}", out).match(r"`dot` program was not found on PATH")
    assert issubclass(GraphvizNotFoundError, GraphvizError) and out.read_text() == "old"
    assert [p.name for p in tmp_path.iterdir()] == ["g.svg"]
    assert render("digraph {}\n", tmp_path / "g.dot").read_text() == "digraph {}\n"  # DOT needs no Graphviz
