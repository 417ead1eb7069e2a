"""kelo.elements: the pixel store, config keys, the manifest, and the
built-in elements driven by a plain loop (start, generate, process, stop):
the test pattern's truth reproduced by detect -> track -> count, directly and
through a video file written and decoded again."""

import importlib.util
import json
import subprocess
import sys
import threading
import tomllib
from concurrent.futures import ThreadPoolExecutor

import pytest

import kelo
from kelo import io
from kelo.elements import (Annotated, ConfigError, TYPE_IDS, check_config, element_class,
                           manifest_path, missing_library, pixels)
from kelo.elements.lines import crossing
from kelo.elements.sources import TestPattern
from kelo.ext.data import PyFrame, PyMetadata, PyPixelFormat, PyStreamId, PyTimestamp, PyVideoFormat

from checks import raises

np = pytest.importorskip("numpy")

SMALL = {"width": "160", "height": "120", "frames": "40", "objects": "4", "speed": "4"}


def make(type_id, **config):
    e = element_class(type_id)()
    e.name, e.config = type_id.rsplit(".", 1)[1], config
    e.start()
    return e


def bare(sequence=0, width=2, height=2, fmt="bgr8"):
    """A frame without pixels."""
    return PyFrame(PyStreamId.new(), sequence, PyTimestamp.from_nanos(sequence * 10),
                   PyVideoFormat(width, height, getattr(PyPixelFormat, fmt)()))


def frame_of(array, fmt="bgr8", sequence=0):
    return pixels.attach(bare(sequence, array.shape[1], array.shape[0], fmt), array)


@pytest.fixture(autouse=True)
def store_left_empty():
    before = pixels.stored()
    yield
    assert pixels.stored() == before


# ---- pixel store --------------------------------------------------------------


def test_pixels_are_one_stored_array_for_every_reader_until_the_last_holder_releases_it():
    array = np.zeros((4, 6, 3), np.uint8)
    f = frame_of(array, sequence=3)
    derived = f.with_duration_ns(40)        # the same buffer: one entry
    readers = (kelo.pixels(f) is array, pixels.pixels(derived) is array)
    pixels.share(f, 2)
    steps = [(pixels.release(g), pixels.holders(f)) for g in (f, derived, f)]
    assert (readers, steps) == ((True, True), [(False, 2), (False, 1), (True, 0)])
    gone = pytest.raises(LookupError, pixels.pixels, f).value
    assert (type(gone), str(gone)) == (pixels.PixelsGone, (
        f"no pixels for buffer {f.buffer_id.uuid()} of frame {f.id.uuid()} (sequence 3): never "
        "attached in this process, or already released by its last holder"))


@pytest.mark.parametrize("call, exc", [
    (lambda f: pixels.attach(f, np.zeros(1)), ValueError),   # a second array
    (lambda f: pixels.share(f, -1), ValueError),
    # frames without pixels
    (lambda f: pixels.release(bare()), pixels.PixelsGone),
    (lambda f: pixels.share(bare()), pixels.PixelsGone),
    (lambda f: pixels.pixels(bare()), pixels.PixelsGone),
])
def test_misuse_is_refused_and_changes_nothing(call, exc):
    f = frame_of(np.zeros((2, 2, 3), np.uint8))
    with pytest.raises(exc):
        call(f)
    assert pixels.release(f) is True        # its one holder


def test_release_value_walks_pairs_and_batches_and_skips_frames_without_pixels():
    a, b = frame_of(np.zeros((2, 2, 3), np.uint8)), frame_of(np.zeros((2, 2, 3), np.uint8))
    pixels.share(a)
    released = pixels.release_value([Annotated(a, PyMetadata()), a, b, bare(), "text"])
    assert (released, pixels.holders(a), pixels.holders(b)) == (3, 0, 0)


def test_shares_and_releases_from_many_threads_balance():
    f = frame_of(np.zeros((2, 2, 3), np.uint8))
    together = threading.Barrier(8)

    def churn(_):
        together.wait()
        for _ in range(2000):
            pixels.share(f)
            pixels.release(f)

    with ThreadPoolExecutor(8) as pool:
        list(pool.map(churn, range(8)))
    assert pixels.release(f) is True


# ---- config keys, manifest, libraries -----------------------------------------------


@pytest.mark.parametrize("type_id, config, expected", [
    ("kelo.source.test_pattern", {}, []),
    ("kelo.source.test_pattern", {"speed": "fast", "fps": "nan", "width": "10", "frames": "1.5",
                                  "sped": "3"},
     [("speed", "'speed' must be a number, not 'fast'"), ("fps", "'fps' must be a number, not 'nan'"),
      ("width", "'width' 10 is out of range 64..8192"),
      ("frames", "'frames' must be an integer, not '1.5'"),
      ("sped", "unknown key 'sped' (did you mean 'speed'?); expected one of: seed, width, height, "
       "fps, frames, objects, speed, line, truth")]),
    ("kelo.source.video", {}, [("path", "required key 'path' is missing")]),
    ("kelo.source.video", {"path": " "}, [("path", "'path' must not be empty")]),
    ("kelo.detect.motion", {"method": "mog"},
     [("method", "'method' 'mog' is not one of: mog2, knn (did you mean 'mog2'?)")]),
    ("kelo.analytics.line_crossing", {"line": "1,2,3"},
     [("line", "'line' must be four numbers 'x1,y1,x2,y2', not '1,2,3'")]),
    ("kelo.analytics.line_crossing", {"line": "5,5,5,5"}, [("line", "'line' '5,5,5,5' has two equal ends")]),
    ("kelo.sink.jsonl", {"path": "x", "flush": "yes"}, [("flush", "'flush' must be 'true' or 'false', not 'yes'")]),
    ("kelo.sink.null", {"path": "x"}, [("path", "unknown key 'path': this element type takes no config")]),
    ("kelo.transform.resize", {"width": "0"},
     [("width", "'width' 0 is out of range 1..16384"), ("height", "required key 'height' is missing")]),
    ("kelo.detect.cars", {}, [("", "'kelo.detect.cars' is not a built-in element type; built-in: "
                               + ", ".join(TYPE_IDS))]),
])
def test_check_config_reports_each_problem_by_key(type_id, config, expected):
    assert check_config(type_id, config) == expected


@pytest.mark.parametrize("type_id, config, exc, message", [
    # a config that does not read stops the element at start
    ("kelo.detect.motion", {"history": "0"}, ConfigError,
     "element 'motion' config: 'history' 0 is out of range 1..100000"),
    ("kelo.source.test_pattern", {"objects": "10", "height": "120"}, ValueError,
     "kelo.source.test_pattern: 10 objects need a height of at least 240 (24 pixels a lane), "
     "not 120"),
    ("kelo.source.video", {"path": "{missing}"}, OSError,
     "element 'video': cannot open '{missing}': [Errno 2] No such file or directory: '{missing}'"),
])
def test_an_element_that_cannot_start_says_why(tmp_path, type_id, config, exc, message):
    missing = tmp_path / "missing.mp4"
    raises(exc, make, type_id, **{k: v.format(missing=missing) for k, v in config.items()},
           msg=message.format(missing=missing))


def test_the_manifest_declares_each_type_once_with_an_entry_that_implements_it():
    with open(manifest_path, "rb") as f:
        data = tomllib.load(f)
    declared = [t["id"] for t in data["element_type"]]
    assert (sorted(declared), len(set(declared)), {p["id"] for p in data["provider"]}) == (
        sorted(TYPE_IDS), len(TYPE_IDS), {"kelo.builtin"})
    for t in data["element_type"]:
        cls = element_class(t["id"])
        ports = (sorted(t.get("inputs", {})), sorted(t.get("outputs", {})))
        expected = {"source": ([], ["frames"]), "sink": (["frames", "records"], [])}.get(
            t["kind"], ([getattr(cls, "input", None)], [getattr(cls, "output", None)]))
        assert (cls.type_id, ports) == (t["id"], expected)


def test_missing_library_names_the_debian_package(monkeypatch):
    real = importlib.util.find_spec
    monkeypatch.setattr(importlib.util, "find_spec", lambda m: None if m == "av" else real(m))
    assert (missing_library("kelo.source.video"), missing_library("kelo.track.iou")) == (
        "kelo.source.video needs the Python module 'av': install the Debian package python3-av",
        None)


def test_importing_and_checking_loads_no_media_library():
    code = ("import sys, kelo, kelo.elements as e\n"
            "[e.check_config(t, {}) for t in e.TYPE_IDS]; [e.missing_library(t) for t in e.TYPE_IDS]\n"
            "print([m for m in ('numpy', 'cv2', 'av') if m in sys.modules])")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "[]"


# ---- the test pattern and its truth -----------------------------------------------


@pytest.mark.parametrize("p, q, expected", [
    ((10, 50), (90, 50), "in"),       # rightwards across the default line of 100 x 100
    ((90, 50), (10, 50), "out"),
    ((10, 50), (40, 50), None),
    ((40, 50), (50, 50), None),       # onto the line: still on its left
    ((50, 50), (60, 50), "in"),       # off it to the right
    ((10, 150), (90, 150), None),     # past the end of the segment
])
def test_crossing_direction(p, q, expected):
    assert crossing((50, 100, 50, 0), p, q) == expected


def test_truth_is_determined_by_the_seed_matches_the_drawn_pixels_and_is_written(tmp_path):
    a, b = TestPattern.truth(SMALL), TestPattern.truth({**SMALL, "seed": "2"})
    assert (TestPattern.truth(SMALL) == a, a.boxes == b.boxes) == (True, False)
    source = make("kelo.source.test_pattern", **SMALL, truth=str(tmp_path / "truth.jsonl"))
    background = None
    for item in source.generate():
        f = item["frames"]
        picture = kelo.pixels(f)
        if background is None:
            background = picture.copy()      # frame 0 shows no object
        changed = (picture != background).any(axis=2)
        lane = 120 // 4
        drawn = {}
        for k in range(4):
            rows, cols = np.nonzero(changed[k * lane:(k + 1) * lane])
            if len(rows):
                drawn[k] = (int(cols.min()), k * lane + int(rows.min()),
                            int(cols.max() - cols.min()) + 1, int(rows.max() - rows.min()) + 1)
        assert (f.sequence, drawn) == (f.sequence, a.boxes[f.sequence])
        pixels.release(f)
    source.stop()
    lines = [json.loads(line) for line in (tmp_path / "truth.jsonl").read_text().splitlines()]
    assert (len(lines), [(line["sequence"], c["object"], c["direction"]) for line in lines
                         for c in line["crossings"]]) == \
        (40, [(c.sequence, c.object, c.direction) for c in a.crossings])


# ---- the chain -------------------------------------------------------------------


@pytest.mark.parametrize("config", [{}, SMALL, {"seed": "7", "objects": "8", "speed": "4"}])
def test_the_chain_reproduces_the_truth_exactly_without_copying_pixels(config, tmp_path):
    pytest.importorskip("cv2")
    truth = TestPattern.truth(config)
    chain = [make("kelo.detect.motion"), make("kelo.track.iou"),
             make("kelo.analytics.line_crossing")]
    sink, copied = make("kelo.sink.jsonl", path=str(tmp_path / "out.jsonl")), 0
    for item in make("kelo.source.test_pattern", **config).generate():
        value, array = item["frames"], kelo.pixels(item["frames"])
        for e in chain:
            value = e.process({e.input: value})[e.output]
        copied += kelo.pixels(value.frame) is not array
        sink.process({"records": value})
    sink.stop()
    # Every frame is recorded; the tracks carry their boxes, the events their running counts.
    records = list(io.read_jsonl(tmp_path / "out.jsonl"))
    cols = kelo.columns(max((m for _, m in records), key=lambda m: len(m.objects)))
    boxes = {tuple(b) for b in np.asarray(cols.boxes).tolist()}
    tracked = {tuple(b) for b in np.asarray(cols.tracks.last_boxes).tolist()}
    events = [(f.sequence, ev) for f, m in records for ev in m.events]
    attrs = [ev.payload.objects[0].attributes for _, ev in events]
    running = [(a.get("direction").as_string(), a.get("in").as_int(), a.get("out").as_int())
               for a in attrs]
    ways = [way for way, _, _ in running]
    assert (sorted((seq, way) for (seq, _), way in zip(events, ways)), copied, chain[-1].counts,
            [f.sequence for f, _ in records], len(boxes) > 0, len(events) > 0, tracked,
            {ev.event_type.as_str() for _, ev in events}, running) == (
        sorted((c.sequence, c.direction) for c in truth.crossings), 0, truth.counts,
        list(range(len(truth.boxes))), True, True, boxes, {"line_crossing"},
        [(way, ways[:k + 1].count("in"), ways[:k + 1].count("out")) for k, way in enumerate(ways)])


@pytest.mark.parametrize("boxes, states", [
    # one box moving: tentative until the third frame, then confirmed
    ([[(0, 0, 10, 10)], [(2, 0, 10, 10)], [(4, 0, 10, 10)], [(6, 0, 10, 10)]],
     [["Tentative"], ["Tentative"], ["Confirmed"], ["Confirmed"]]),
    # seen, then gone: lost for max_age frames, terminated after, then forgotten
    ([[(0, 0, 10, 10)], [], [], [], []],
     [["Tentative"], ["Lost"], ["Lost"], ["Terminated"], []]),
    # a jump with no overlap starts a new track
    ([[(0, 0, 10, 10)], [(50, 50, 10, 10)]], [["Tentative"], ["Tentative", "Lost"]]),
])
def test_tracker_states(boxes, states):
    tracker = make("kelo.track.iou", max_age="2")
    seen = []
    for n, frame_boxes in enumerate(boxes):
        md = PyMetadata()
        if frame_boxes:
            kelo.add_objects(md, np.array(frame_boxes, np.float32))
        out = tracker.process({"detections": Annotated(bare(n, 100, 100), md)})["tracks"]
        seen.append([str(t.state).rsplit(".", 1)[-1] for t in out.metadata.tracks])
    assert seen == states


# ---- transforms, detectors -----------------------------------------------------------


@pytest.mark.parametrize("type_id, config, fmt, shape, out_format", [
    ("kelo.transform.resize", {"width": "8", "height": "4"}, "bgr8", (4, 8, 3), "bgr8"),
    ("kelo.transform.color", {"to": "gray8"}, "bgr8", (6, 10), "gray8"),
    ("kelo.transform.color", {"to": "bgr8"}, "rgb8", (6, 10, 3), "bgr8"),
])
def test_transforms_make_new_frames_and_release_the_old(type_id, config, fmt, shape, out_format):
    pytest.importorskip("cv2")
    e = make(type_id, **config)
    f = frame_of(np.full((6, 10, 3), 100, np.uint8), fmt, sequence=5)
    out = e.process({"frames": f})["frames"]
    got = (kelo.pixels(out).shape, out.format.pixel_format.name(),
           (out.format.width, out.format.height), out.sequence, out.timestamp.monotonic_ns,
           pixels.holders(f))
    assert got == (shape, out_format, (shape[1], shape[0]), 5, 50, 0)
    pixels.release(out)


@pytest.mark.parametrize("type_id, config, port, height, width", [
    ("kelo.transform.color", {"to": "bgr8"}, "frames", 2, 2),   # no change: passed as it is
    ("kelo.detect.people", {}, "detections", 160, 96),
])
def test_a_batch_maps_to_a_batch(type_id, config, port, height, width):
    pytest.importorskip("cv2")
    frames = [frame_of(np.full((height, width, 3), v, np.uint8)) for v in (0, 255)]
    out = make(type_id, **config).process({"frames": frames})[port]
    got = [(o, []) if port == "frames" else (o.frame, o.metadata.objects) for o in out]
    assert [(f is sent, objects) for (f, objects), sent in zip(got, frames, strict=True)] == [
        (True, [])] * 2
    pixels.release_value(frames)


# ---- video --------------------------------------------------------------------


@pytest.fixture(scope="module")
def video(tmp_path_factory):
    pytest.importorskip("av")
    pytest.importorskip("cv2")
    path = str(tmp_path_factory.mktemp("video") / "pattern.mp4")
    source = make("kelo.source.test_pattern")
    sink = make("kelo.sink.video", path=path, annotate="false")
    for item in source.generate():
        sink.process({"frames": item["frames"]})
    sink.stop()
    return path


@pytest.mark.parametrize("type_id", ["kelo.source.video", "kelo.source.test_pattern"])
def test_seek_continues_from_the_first_frame_at_or_after_the_target(video, type_id):
    source = make(type_id, path=video) if type_id == "kelo.source.video" else make(type_id)
    items = source.generate()
    seen = []
    for target in (None, 2_010_000_000, 400_000_000):
        if target is not None:
            source.seek(target)
        for _ in range(2):
            f = next(items)["frames"]
            seen.append((f.sequence, f.timestamp.monotonic_ns))
            pixels.release(f)
    items.close()
    source.stop()
    assert seen == [(0, 0), (1, 40_000_000), (51, 2_040_000_000), (52, 2_080_000_000),
                    (10, 400_000_000), (11, 440_000_000)]


def test_a_frame_the_video_sink_cannot_encode_is_a_clear_error_and_stays_held(tmp_path):
    pytest.importorskip("av")
    pytest.importorskip("cv2")
    sink = make("kelo.sink.video", path=str(tmp_path / "odd.mp4"), annotate="false")
    f = frame_of(np.zeros((121, 161, 3), np.uint8))
    with pytest.raises(ValueError, match="element 'video': cannot encode frame 0 with libx264: "):
        sink.process({"frames": f})
    sink.stop()
    assert pixels.release(f) is True
