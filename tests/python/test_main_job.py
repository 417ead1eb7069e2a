"""The main job through the runtime: examples/crossings.toml (the test
pattern) and examples/crossings_video.toml (a file the first one encoded)
count exactly the truth; the runtime shares and releases frames' pixels;
the checker applies the built-in elements' config keys and library checks
and takes the shipped manifest's providers."""

import importlib.util
import io as text_io
import threading

import pytest

import kelo
from kelo import io
from kelo.cli import main
from kelo.elements import pixels
from kelo.elements.sources import TestPattern
from kelo.ext.data import PyFrame, PyPixelFormat, PyStreamId, PyTimestamp, PyVideoFormat
from kelo.ext.execution import PyOverflowPolicy

from runtime_kit import LIMIT, SERIAL, chain, element, pipeline, run, sink, source, start

np = pytest.importorskip("numpy")

SCENE = {"width": "160", "height": "120", "frames": "50", "objects": "3", "speed": "5"}
LINE = "80,120,80,0"


@pytest.fixture(autouse=True)
def store_left_empty():
    assert pixels.stored() == 0
    yield
    assert pixels.stored() == 0


def settings(tmp_path, **more):
    return {"records.path": str(tmp_path / "out.jsonl"), "video.path": str(tmp_path / "out.mp4"),
            "counter.line": LINE, "video.line": LINE, **more}


def noted(report):     # the examples check clean: notes only
    return [f for f in report.findings if f.severity != "note"]


def crossings(path):
    return sorted((frame.sequence, e.payload.objects[0].attributes.get("direction").as_string())
                  for frame, metadata in io.read_jsonl(path) for e in metadata.events)


def truth():
    return sorted((c.sequence, c.direction) for c in TestPattern.truth(SCENE).crossings)


# ---- the examples ------------------------------------------------------------------


def test_the_main_job_and_its_video_twin_count_the_truth_exactly(tmp_path):
    pytest.importorskip("cv2")
    pytest.importorskip("av")
    scene = {f"scene.{k}": v for k, v in {**SCENE, "truth": str(tmp_path / "t.jsonl")}.items()}
    report = kelo.run("examples/crossings.toml", timeout=LIMIT,
                      settings=settings(tmp_path, **scene))
    assert (report.outcome, noted(report), report.stats["video"].processed,
            crossings(tmp_path / "out.jsonl"), truth() != []) == (
        "completed", [], 50, truth(), True)
    # The same scene encoded without drawings, then decoded by the second example.
    encoded = tmp_path / "scene.mp4"
    kelo.run("examples/crossings.toml", timeout=LIMIT,
             settings=settings(tmp_path, **scene, **{"video.annotate": "false",
                                                      "video.path": str(encoded)}))
    report = kelo.run("examples/crossings_video.toml", timeout=LIMIT,
                      settings=settings(tmp_path, **{"input.path": str(encoded)}))
    assert (report.outcome, noted(report), report.stats["input"].emitted,
            crossings(tmp_path / "out.jsonl")) == ("completed", [], 50, truth())


@pytest.mark.parametrize("setting, message", [
    ("scener.frames=5", "error K106: setting 'scener.frames': no element named 'scener' (did you "
     "mean 'scene'?); expected one of: scene, motion, tracker, counter, records, video"),
    ("scene", "kelo run: error: argument --set: 'scene' is not of the form ELEMENT.KEY=VALUE"),
])
def test_kelo_run_refuses_settings_of_no_element(setting, message):
    err = text_io.StringIO()
    status = main(["run", "examples/crossings.toml", "--quiet", "--set", setting],
                  text_io.StringIO(), err)
    assert (status, err.getvalue().splitlines()[-1]) == (2, message)


# ---- pixels under the runtime ----------------------------------------------------------


def attached(n=6):
    """Frames with one small array attached to each."""
    stream, fmt = PyStreamId.new(), PyVideoFormat(4, 4, PyPixelFormat.gray8())
    return [pixels.attach(PyFrame(stream, i, PyTimestamp.from_nanos(i), fmt),
                          np.zeros((4, 4), np.uint8)) for i in range(n)]


def releasing(**attrs):
    """A sink reading each frame's pixels, then releasing them."""
    return sink(then=lambda f: pixels.pixels(f) is not None and pixels.release(f), **attrs)


def test_values_the_runtime_drops_are_released():
    # drop_oldest: the sink holds its first frame until the source is done,
    # so that its queue of one overflows.
    done, entered = threading.Event(), threading.Event()
    lossy = SERIAL.with_overflow(PyOverflowPolicy.DropOldest)
    report = run(chain(("src", source(attached(), done=done)),
                       ("sink", releasing(gate=done, entered=entered, queue_size=1, contract=lossy))))
    s = report.stats["sink"]
    assert (report.outcome, s.processed + s.dropped, s.dropped > 0) == ("completed", 6, True)


def test_frames_sent_to_two_consumers_or_linked_nowhere_and_leftovers_are_released():
    def both(self, inputs):     # one frame in two values: one more holder
        pixels.share(inputs["in"])
        return {"out": inputs["in"], "spare": inputs["in"]}

    # src's frames are shared between op and b, so that each reads them; op's spare goes nowhere.
    report = run(pipeline({"src": (source(attached()), (), ("out",)),
                           "op": (element("Pass", process=both), ("in",), ("out", "spare")),
                           "end": (releasing(), ("in",), ()), "b": (releasing(), ("in",), ())},
                          [("src.out", "op.in"), ("op.out", "end.in"), ("src.out", "b.in")]))
    assert (report.outcome, report.stats["end"].processed, report.stats["b"].processed) == (
        "completed", 6, 6)
    # A cancelled run: the frames queued behind the held one are left over.
    gate, entered = threading.Event(), threading.Event()
    running = start(chain(("src", source(attached())),
                          ("end", releasing(gate=gate, entered=entered))))
    assert entered.wait(LIMIT)
    running.cancel()
    gate.set()
    assert running.wait(LIMIT).outcome == "cancelled"


# ---- the checker on built-in elements ---------------------------------------------------

BUILTIN_FILE = """\
[pipeline]
name = "t"

[[element]]
name = "scene"
type = "kelo.source.test_pattern"
kind = "source"
outputs = { frames = "frame" }
config = { widht = "100", frames = "many" }

[[element]]
name = "out"
type = "kelo.sink.null"
kind = "sink"
inputs = { frames = "frame" }

[[link]]
from = "scene.frames"
to = "out.frames"
"""


def findings_of(tmp_path, text, **options):
    path = tmp_path / "p.toml"
    path.write_text(text)
    result = kelo.check(str(path), **options)
    return result, [(f.code, f.location and f.location.line, f.message) for f in result.findings
                    if f.severity != "note"]


def test_built_in_configs_are_checked_at_their_keys_and_the_shipped_providers_chosen(tmp_path):
    result, found = findings_of(tmp_path, BUILTIN_FILE)
    chosen = result.decision("scene").chosen
    assert (found, chosen.id, chosen.entry, chosen.location.file) == ([
        ("K311", 9, "element 'scene' config: unknown key 'widht' (did you mean 'width'?); "
         "expected one of: seed, width, height, fps, frames, objects, speed, line, truth"),
        ("K311", 9, "element 'scene' config: 'frames' must be an integer, not 'many'"),
    ], "kelo.builtin", "kelo.elements.sources:TestPattern", str(kelo.elements.manifest_path))
    # A value set on the command line is checked too, and said to come from there.
    _, found = findings_of(tmp_path, BUILTIN_FILE.replace("widht", "width"),
                           settings={"scene.frames": "0"})
    assert found == [("K311", None, "element 'scene' config: 'frames' 0 is out of range "
                      "1..100000000 (set on the command line)")]


def test_a_type_another_provider_implements_is_not_checked_as_a_built_in(tmp_path):
    result, found = findings_of(tmp_path, BUILTIN_FILE + """
[[provider]]
id = "acme"
version = "1.0.0"
element_types = ["kelo.source.test_pattern"]
""")
    assert (found, result.decision("scene").chosen.id,
            result.decision("out").chosen.id) == ([], "acme", "kelo.builtin")


def test_a_missing_library_is_an_error_at_the_element_type(tmp_path, monkeypatch):
    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda m: None if m == "numpy" else real(m))
    _, found = findings_of(tmp_path, BUILTIN_FILE.replace("widht", "width").replace("many", "5"))
    assert found == [("K312", 6, "element 'scene': kelo.source.test_pattern needs the Python "
                      "module 'numpy': install the Debian package python3-numpy")]
