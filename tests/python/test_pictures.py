"""Pictures of checked pipelines: DOT text, marks from findings, escaping, rendering; pictures of a
run: overlays, the figures they draw, `kelo draw --stats` and `kelo run --draw`."""

import json
import re
import shutil
import xml.etree.ElementTree as ET

import pytest

from kelo.checker.checking import check, check_pipeline
from kelo.checker.description import loads
from kelo.checker.pictures import GraphvizError, GraphvizNotFoundError, Overlay, draw, render, to_dot
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline
from kelo.runtime.figures import LEGEND, run_overlay
from kelo.runtime.observe import stats_dict, stats_from_dict
from kelo.runtime.running import ElementStats
from checks import raises, run
from runtime_kit import pipeline
from test_runtime_command import ELEMENTS, description

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
    n1 = node(dot, "n1")  # inputs above the header, outputs below it, a field per port
    late = edges(dot)[2][2]
    assert (dot[:17], dot[-3:], "rankdir=TB" in dot, re.findall(r'PORT="(\w+)"', n1),
            n1.index('PORT="i0"') < n1.index("<B>op</B>") < n1.index('PORT="o0"'),
            "t.op · operator" in n1, "Frame<BR/>→ Metadata" in late, "style=dashed" in late) == (
        'digraph "demo" {\n', "\n}\n", True, ["i0", "o0", "o1"], True, True, True, True)
    assert edges(dot)[:2] == [("n0:o0:s", "n1:i0:n", "label=<Frame>"),
                              ("n1:o0:s", "n2:i0:n", "label=<Tensor>")]
    # The contract mismatch on the late link is the only mark; no provider is declared, so none
    # is shown.
    assert (marked(dot), "▸" in dot.partition("legend")[0]) == (
        {("n1:o1:s", "n2:i1:n"): ("K206",)}, False)


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
    # The copy is left out; the pad hangs off its element.
    assert ("t.odd · unknown kind" in node(dot, "n2"), "n3" in dot,
            [re.findall(r"dynamic pad|no such \w+", node(dot, x)) for x in ("x0", "x1", "x2")],
            ("n0", "x0") in {(t, h) for t, h, _ in edges(dot)}) == (
        True, False, [["dynamic pad"], ["no such port"], ["no such port"]], True)


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
    # name, type id and port name; the pad's element and pad name; every < and > of a label
    # belongs to markup; no empty markup, which Graphviz rejects (<B></B> and the like)
    labels = [re.sub(r"</?[A-Z]+(?: [A-Z-]+=\"[^\"<>]*\")*/?>", "", label)
              for label in re.findall(r"label=<(.*)>[,\]]", dot)]
    assert (node(dot, "n0").count(esc) >= 3, node(dot, "x0").count(esc),
            f"Frame<BR/>→ Custom({esc})" in dot, [label for label in labels if "<" in label],
            re.search(r"<(B|I|FONT[^>]*)></", dot)) == (True, 2, True, [], None)


@pytest.mark.skipif(shutil.which("dot") is None, reason="Graphviz dot is not installed")
def test_render(tmp_path):
    out = draw(check_pipeline(nasty(NASTY[0][0] + NASTY[4][0])), tmp_path / "g.svg")
    texts = {t.text for t in ET.parse(out).iter("{http://www.w3.org/2000/svg}text")}
    assert (out, 'say "hi"tab\\tnul\\0esc\\u{1b}\\u{7f}\\u{2028}end' in texts) == (tmp_path / "g.svg", True)
    # A failing run leaves the file that was there alone, and no other file.
    before = out.read_bytes()
    pytest.raises(GraphvizError, render, "digraph { a -> }", out).match("dot failed with exit status 1: .*syntax")
    assert (out.read_bytes(), [p.name for p in tmp_path.iterdir()]) == (before, ["g.svg"])


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
    assert (issubclass(GraphvizNotFoundError, GraphvizError), out.read_text(),
            [p.name for p in tmp_path.iterdir()]) == (True, "old", ["g.svg"])
    assert render("digraph {}\n", tmp_path / "g.dot").read_text() == "digraph {}\n"  # DOT needs no Graphviz


# ---- pictures of a run ---------------------------------------------------------------------------

EXTRA = re.compile(r'<FONT COLOR="#0b6e4f" POINT-SIZE="9">(.*?)</FONT>')


def extras(dot):
    """An overlay's lines by node (the legend too) and by edge (tail, head); the marked nodes' tags."""
    lines, tags = {}, {}
    for line in dot.splitlines():
        key = (m[1], m[2]) if (m := EDGE.fullmatch(line)) else line.split()[0]
        if found := EXTRA.findall(line):
            lines[key] = found
        if re.search(r'BORDER="3" CELLBORDER="0" CELLSPACING="0" COLOR="#6a1b9a"', line):
            tags[key] = re.findall(r"<B>◆ (.*?)</B>", line)
    return lines, tags


def fan():
    """src feeds op and join; op's two outputs feed one and join."""
    return pipeline({"src": (None, (), ("out",)), "op": (None, ("in",), ("a", "b")),
                     "one": (None, ("in",), ()), "join": (None, ("x", "y"), ())},
                    [("src.out", "op.in"), ("op.a", "one.in"), ("op.b", "join.x"),
                     ("src.out", "join.y")])[0]


def test_an_overlay_adds_lines_to_nodes_and_links_and_marks_one_element():
    overlay = Overlay({"op": ["fast <&>", "p90 1 ms"], "nobody": ["dropped"]}, {1: ["12 items/s"], 9: ["x"]},
                      marked="join", mark="slow & busy", legend=["what it means"])
    result = check_pipeline(fan())
    dot = to_dot(result, overlay)
    assert extras(dot) == ({"n1": ["fast &lt;&amp;&gt;", "p90 1 ms"], ("n1:o0:s", "n2:i0:n"): ["12 items/s"],
                            "legend": ["what it means"]}, {"n3": ["slow &amp; busy"]})
    assert "◆</FONT></TD><TD ALIGN=\"LEFT\">slow &amp; busy</TD>" in node(dot, "legend")
    assert to_dot(result, Overlay()) == to_dot(result)


def test_a_runs_figures_go_to_the_elements_and_links_they_belong_to():
    s, ms = 1_000_000_000, 1_000_000
    stats = {"src": ElementStats(processed=100, emitted=100, out_per_s=100.0, elapsed_ns=s),
             "op": ElementStats(received=100, processed=90, emitted=80, dropped=10, latency_p90_ns=2 * ms, latency_max_ns=3 * ms,
                                latency_mean_ns=5 * ms, in_per_s=100.0, out_per_s=80.0, elapsed_ns=s),
             "one": ElementStats(received=40, processed=40, rejected=2, latency_p90_ns=1500, latency_max_ns=1600, in_per_s=40.0,
                                 latency_mean_ns=100_000.0, elapsed_ns=s),
             "join": ElementStats(received=140, processed=60, dropped=30, rejected=50, latency_p90_ns=850, latency_max_ns=900,
                                  latency_mean_ns=800.0, in_per_s=140.0, elapsed_ns=s)}
    overlay = run_overlay(check_pipeline(fan()), stats)
    assert (overlay.elements, overlay.links, overlay.marked, overlay.mark, overlay.legend) == (
        {"src": ["100 items/s · 0% busy"],     # a source's executions are not timed
         "op": ["90 items/s · 45% busy", "p90 2 ms"],
         "one": ["40 items/s · 0.4% busy", "p90 1.5 µs"],
         # fed by two links: its losses cannot be told apart, so they stay with it
         "join": ["60 items/s · 0.0% busy", "p90 850 ns", "80 lost at its inputs"]},
        # from src's one output; from op's two outputs only into one's only input; join.x: nothing known
        {0: ["100 items/s · 10 lost"], 1: ["40 items/s · 2 lost"], 3: ["100 items/s"]},
        "op", "bottleneck", LEGEND)


def test_figures_read_back_are_the_figures_written():
    s = ElementStats(received=3, processed=3, drops={"queue_full": 2}, latency_p90_ns=7, latency_mean_ns=2.5,
                     in_per_s=1.5, elapsed_ns=9)
    assert stats_from_dict(json.loads(json.dumps(stats_dict(s)))) == s


@pytest.fixture
def ran(tmp_path):
    """A description file that runs and its run's JSON document."""
    (tmp_path / "elements.py").write_text(ELEMENTS)
    (tmp_path / "p.toml").write_text(description())
    status, out, _ = run("run", tmp_path / "p.toml", "--json", "--quiet")
    assert status == 0
    (tmp_path / "run.json").write_text(out)
    return tmp_path


def shapes(dot):
    """The overlay's lines with every figure written as N; the marked node."""
    lines, tags = extras(dot)
    return ({k: [re.sub(r"\b\d+(\.\d+)?[kMG]?( [nµm]?s\b)?", "N", t) for t in v] for k, v in lines.items()
             if k != "legend"}, list(tags))


def test_kelo_draw_with_stats_and_kelo_run_with_draw(ran):
    assert run("draw", ran / "p.toml", ran / "a.dot", "--stats", ran / "run.json") == \
        (0, f"kelo: drew {ran / 'a.dot'}\n", "")
    status, out, _ = run("run", ran / "p.toml", "--quiet", "--draw", ran / "b.dot")
    assert (status, out.endswith(f"kelo: drew {ran / 'b.dot'}\n")) == (0, True)
    for picture in ("a.dot", "b.dot"):
        lines, tags = shapes((ran / picture).read_text())
        assert lines == {"n0": ["N items/s · N% busy"], "n1": ["N items/s · N% busy", "p90 N"],
                         ("n0:o0:s", "n1:i0:n"): ["N items/s · N lost"]}
        assert tags in (["n0"], ["n1"])       # whichever was busier


def test_kelo_run_draws_a_pipeline_that_did_not_run_with_its_findings(ran):
    (ran / "p.toml").write_text(description(sink="Missing"))
    assert run("run", ran / "p.toml", "--quiet", "--draw", ran / "b.dot")[0] == 1
    dot = (ran / "b.dot").read_text()
    assert (marked(dot), extras(dot)) == ({"n1": ("K502",)}, ({}, {}))


def stats_of(**changes):
    """A stats document whose element `src` has `changes` made to its figures."""
    doc = {"src": stats_dict(ElementStats()), "out": stats_dict(ElementStats())}
    doc["src"].update(changes)
    return json.dumps({"version": 1, "stats": doc})


STATS_ERRORS = [
    (None, "cannot be read: No such file or directory"),
    ("{", "is not a JSON document: Expecting property name enclosed in double quotes: line 1 column 2 (char 1)"),
    (b"\xff", "is not a JSON document: 'utf-8' codec can't decode byte 0xff in position 0: invalid start byte"),
    ("[" * 100_000 + "]" * 100_000, "is not a JSON document: maximum recursion depth exceeded while decoding a "
                                    "JSON array from a unicode string"),
    ("[]", 'has no "stats" object (write it with `kelo run FILE --json`)'),
    ('{"stats": []}', 'has no "stats" object (write it with `kelo run FILE --json`)'),
    ('{"stats": {"src": 3}}', "element 'src': the figures are a JSON int, not an object"),
    (stats_of(p90_ns=None), "element 'src': 'p90_ns' is None, not a count"),
    (stats_of(processed=True), "element 'src': 'processed' is True, not a count"),
    (stats_of(processed=1.5), "element 'src': 'processed' is 1.5, not a count"),
    (stats_of(in_per_s=-1), "element 'src': 'in_per_s' is -1, not a number"),
    (stats_of(in_per_s=float("nan")), "element 'src': 'in_per_s' is nan, not a number"),
    (stats_of(drops={"full": "2"}), "element 'src': 'drops' is {'full': '2'}, not an object of counts"),
    (stats_of(drops=None), "element 'src': 'drops' is None, not an object of counts"),
    (json.dumps({"stats": {"src": {}}}), "element 'src': no 'received' figure"),
    (json.dumps({"stats": {"src": stats_dict(ElementStats())}}), "has no figures for element 'out'"),
    (json.dumps({"stats": {"src": stats_dict(ElementStats()), "out": stats_dict(ElementStats()),
                           "numbers": stats_dict(ElementStats())}}),
     "names element 'numbers', which pipeline 'test' does not have"),
]


@pytest.mark.parametrize("content, message", STATS_ERRORS,
                         ids=["missing", "not_json", "not_utf8", "too_deep", "list", "stats_list", "entry_int",
                              "null", "bool", "float_count", "negative", "nan", "drop_text", "drops_null",
                              "empty", "element_missing", "unknown_element"])
def test_figures_that_cannot_be_drawn_are_named_with_their_file(ran, content, message):
    stats = ran / "bad.json"
    if content is not None:
        stats.write_bytes(content if isinstance(content, bytes) else content.encode())
    assert (run("draw", ran / "p.toml", ran / "a.dot", "--stats", stats), (ran / "a.dot").exists()) == \
        ((2, "", f"kelo: {stats}: {message}\n"), False)
