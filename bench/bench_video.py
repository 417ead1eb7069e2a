"""Benchmark of the main job: decode, detect motion, track, count, encode.

Times, in the same run and on the same input (the test pattern encoded once
with libx264 beforehand, not timed):

  runtime    kelo.source.video -> kelo.detect.motion -> kelo.track.iou ->
             kelo.analytics.line_crossing -> kelo.sink.video (and
             kelo.sink.null for the records), run by kelo's runtime: the
             stages overlap where their libraries release the interpreter
             lock (decoding, the background model, encoding)
  by hand    the same steps written as one Python loop with the same libraries
             (PyAV, OpenCV, numpy): no frames, metadata, tracks or events of
             kelo's data model, no pixel store, no threads

and prints frames per second of each and their ratio (target: the runtime
at least 1.5x the loop on two cores). A further, untimed run of the
pipeline writes its records as JSON lines: every frame's detections, the
track each belongs to (numbered in order of appearance) and the counts must
equal the loop's, and the counts the test pattern's truth.

The runtime's own share of a frame: the cost of one hop between Python
elements (a chain of pass-through elements run by the runtime, less the
same calls in a plain loop) times the pipeline's five hops, against the
loop's time per frame (the work one frame takes).

    PYTHONPATH=python python3 bench/bench_video.py [--frames N] [--size WxH] [--repeat N] [--check]
"""

import argparse
import os
import sys
import tempfile
import time

import av
import cv2
import numpy as np

import kelo
from kelo import _native, io
from kelo.elements import element_class, pixels
from kelo.elements.lines import center, crossing, default_line
from kelo.elements.sources import TestPattern
from kelo.elements.track import iou
from kelo.ext.execution import PyConcurrency, PyExecutionContract
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline

TARGET = 1.5
HOPS = 5            # source -> motion -> tracker -> counter -> records, video

PIPELINE = """\
[pipeline]
name = "bench-video"

[[element]]
name = "input"
type = "kelo.source.video"
kind = "source"
outputs = {{ frames = {{ category = "frame", pixel_format = "bgr8" }} }}
config = {{ path = "{input}" }}

[[element]]
name = "motion"
type = "kelo.detect.motion"
kind = "operator"
inputs = {{ frames = "frame" }}
outputs = {{ detections = {{ category = "metadata", content_type = "detections" }} }}

[[element]]
name = "tracker"
type = "kelo.track.iou"
kind = "operator"
inputs = {{ detections = {{ category = "metadata", content_type = "detections" }} }}
outputs = {{ tracks = {{ category = "metadata", content_type = "tracks" }} }}

[[element]]
name = "counter"
type = "kelo.analytics.line_crossing"
kind = "operator"
inputs = {{ tracks = {{ category = "metadata", content_type = "tracks" }} }}
outputs = {{ events = {{ category = "metadata", content_type = "events" }} }}

[[element]]
name = "records"
type = "{records}"
kind = "sink"
inputs = {{ records = "metadata" }}
config = {{ {records_config} }}

[[element]]
name = "video"
type = "kelo.sink.video"
kind = "sink"
inputs = {{ records = "metadata" }}
config = {{ path = "{output}" }}

[[link]]
from = "input.frames"
to = "motion.frames"

[[link]]
from = "motion.detections"
to = "tracker.detections"

[[link]]
from = "tracker.tracks"
to = "counter.tracks"

[[link]]
from = "counter.events"
to = "records.records"

[[link]]
from = "counter.events"
to = "video.records"
"""


def element(type_id, **config):
    e = element_class(type_id)()
    e.name, e.config = type_id, config
    e.start()
    return e


def make_input(path, scene):
    source = element("kelo.source.test_pattern", **scene)
    sink = element("kelo.sink.video", path=path, annotate="false")
    for item in source.generate():
        sink.process({"frames": item["frames"]})
    sink.stop()


def run_runtime(folder, path, out, jsonl=None):
    """The pipeline through the runtime; (frames, counts). With `jsonl`, the
    records are written there."""
    text = PIPELINE.format(input=path, output=out,
                           records="kelo.sink.jsonl" if jsonl else "kelo.sink.null",
                           records_config=f'path = "{jsonl}"' if jsonl else "")
    description = os.path.join(folder, "pipeline.toml")
    with open(description, "w") as f:
        f.write(text)
    report = kelo.run(description)
    if not report.ok:
        sys.exit(f"runtime: {report.outcome}: {report.message}\n{report.summary()}")
    return report.stats["video"].processed


def per_frame(jsonl):
    """Each frame's detections, their tracks (numbered by appearance) and the
    counts after it, read from the records."""
    numbers = {}
    counts = {"in": 0, "out": 0}
    frames = []
    for _, metadata in io.read_jsonl(jsonl):
        boxes, tracks = [], []
        for obj in _native.encode(metadata)["objects"]:
            if obj["label"] != "motion":
                continue
            b = obj["bbox"]
            boxes.append((b["x"], b["y"], b["width"], b["height"]))
            tracks.append(numbers.setdefault(obj["related"][0], len(numbers)))
        for event in metadata.events:
            counts[event.payload.objects[0].attributes.get("direction").as_string()] += 1
        frames.append((boxes, tracks, dict(counts)))
    return frames


def run_by_hand(path, out):
    """Decode, detect, track, count and encode in one loop; (frames, what
    `per_frame` reads from the records)."""
    source = av.open(path)
    stream = source.streams.video[0]
    width, height = stream.codec_context.width, stream.codec_context.height
    sink = av.open(out, "w")
    encoder = sink.add_stream("libx264", rate=stream.average_rate)
    encoder.width, encoder.height, encoder.options = width, height, {"crf": "18"}
    model = cv2.createBackgroundSubtractorMOG2(500, 16, False)
    kernel = cv2.getStructuringElement(cv2.MORPH_RECT, (3, 3))
    line = default_line(width, height)
    ends = (round(line[0]), round(line[1])), (round(line[2]), round(line[3]))
    tracks = []     # [id, box, step, hits, misses, last centre]
    next_id = 0
    counts = {"in": 0, "out": 0}
    frames = 0
    seen = []
    for decoded in source.decode(stream):
        picture = decoded.to_ndarray(format="bgr24")
        mask = model.apply(picture, learningRate=1 / 500)
        boxes = np.zeros((0, 4))
        if frames:
            mask = cv2.morphologyEx(mask, cv2.MORPH_OPEN, kernel)
            contours, _ = cv2.findContours(mask, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_SIMPLE)
            found = [b for b in map(cv2.boundingRect, contours) if b[2] * b[3] >= 24]
            boxes = np.array(sorted(found), dtype=np.float64).reshape(-1, 4)
        owner = [None] * len(boxes)
        free = list(range(len(tracks)))
        if tracks and len(boxes):
            last = np.array([t[1] for t in tracks])
            ahead = last.copy()
            ahead[:, :2] += np.array([t[2] for t in tracks])
            overlap = np.maximum(iou(last, boxes), iou(ahead, boxes))
            used_t, used_b = set(), set()
            for flat in np.argsort(-overlap, axis=None, kind="stable"):
                t, b = divmod(int(flat), len(boxes))
                if overlap[t, b] < 0.3:
                    break
                if t not in used_t and b not in used_b:
                    used_t.add(t)
                    used_b.add(b)
                    owner[b] = tracks[t]
            free = [t for t in free if t not in used_t]
        for t in free:
            tracks[t][4] += 1
        for b, track in enumerate(owner):
            now = center(boxes[b])
            if track is None:
                owner[b] = [next_id, boxes[b], boxes[b][:2] * 0, 1, 0, now]
                tracks.append(owner[b])
                next_id += 1
                continue
            track[2], track[1] = boxes[b][:2] - track[1][:2], boxes[b]
            track[3] += 1
            track[4] = 0
            direction = crossing(line, track[5], now)
            track[5] = now
            if direction is not None and track[3] >= 3:
                counts[direction] += 1
        tracks = [t for t in tracks if t[4] <= 5]
        seen.append(([tuple(b) for b in boxes.tolist()], [t[0] for t in owner], dict(counts)))
        drawn = picture.copy()
        cv2.line(drawn, ends[0], ends[1], (0, 255, 255), 1)
        for t in tracks:
            if t[4] == 0:
                x, y, w, h = (round(v) for v in t[1])
                cv2.rectangle(drawn, (x, y), (x + w - 1, y + h - 1), (0, 200, 0), 1)
                cv2.putText(drawn, str(t[0]), (x, max(y - 2, 8)), cv2.FONT_HERSHEY_PLAIN, 0.8,
                            (0, 200, 0), 1)
        cv2.putText(drawn, f"in {counts['in']} out {counts['out']}", (4, height - 6),
                    cv2.FONT_HERSHEY_PLAIN, 1.0, (0, 255, 255), 1)
        frame = av.VideoFrame.from_ndarray(drawn, format="bgr24")
        frame.pts = frames
        sink.mux(encoder.encode(frame))
        frames += 1
    sink.mux(encoder.encode(None))
    sink.close()
    source.close()
    return frames, seen



class Pass(kelo.Element):
    contract = PyExecutionContract().with_concurrency(PyConcurrency.serialized())

    def process(self, inputs):
        return {"out": inputs["in"]}


class Count(kelo.Element):
    contract = Pass.contract

    def generate(self):
        return ({"out": i} for i in range(int(self.config["items"])))


def hop_cost(items=20_000, hops=8):
    """Seconds the runtime adds per item per hop between Python elements."""
    any_ = PyDataContract.custom("any")
    p = Pipeline("hops").add("src", ElementType("b.count", PyElementKind.Source,
                                                outputs={"out": any_}), config={"items": str(items)})
    kinds = {"b.count": Count, "b.pass": Pass}
    last = "src"
    for k in range(hops):
        p.add(f"p{k}", ElementType("b.pass", PyElementKind.Operator, {"in": any_}, {"out": any_}))
        p.link(f"{last}.out", f"p{k}.in")
        last = f"p{k}"
    start = time.perf_counter()
    report = kelo.run(p, elements=kinds)
    seconds = time.perf_counter() - start
    assert report.ok, report.summary()
    e = Pass()
    start = time.perf_counter()
    for i in range(items):
        v = i
        for _ in range(hops):
            v = e.process({"in": v})["out"]
    floor = time.perf_counter() - start
    return (seconds - floor) / (items * hops)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=300)
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--check", action="store_true", help="exit 1 when the target is missed")
    args = parser.parse_args()
    width, height = args.size.split("x")
    scene = {"frames": str(args.frames), "width": width, "height": height}
    truth = TestPattern.truth(scene).counts
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "input.mp4")
        out = os.path.join(folder, "out.mp4")
        make_input(path, scene)
        jsonl = os.path.join(folder, "records.jsonl")
        run_runtime(folder, path, out, jsonl)
        frames, by_hand = run_by_hand(path, out)
        by_runtime = per_frame(jsonl)
        if by_runtime != by_hand:
            first = next(k for k, (a, b) in enumerate(zip(by_runtime, by_hand)) if a != b) \
                if len(by_runtime) == len(by_hand) else "count"
            sys.exit(f"the runtime and the loop differ (frame {first})")
        if by_hand[-1][2] != truth:
            sys.exit(f"counts {by_hand[-1][2]}, the truth {truth}")
        best = {}
        for _ in range(args.repeat):
            for name, run in (("runtime", lambda: run_runtime(folder, path, out)),
                              ("by hand", lambda: run_by_hand(path, out)[0])):
                start = time.perf_counter()
                run()
                seconds = time.perf_counter() - start
                best[name] = min(best.get(name, seconds), seconds)
    assert pixels.stored() == 0
    hop = hop_cost()
    ratio = best["by hand"] / best["runtime"]
    frame_s = best["by hand"] / frames
    print(f"{frames} frames of {args.size}, counts {truth}; detections, tracks and counts "
          "identical frame by frame")
    for name, seconds in best.items():
        print(f"  {name:9} {frames / seconds:8.1f} frames/s")
    print(f"  ratio     {ratio:8.2f} (runtime / by hand, speed; target {TARGET})")
    print(f"  runtime's share: {hop * 1e6:.1f} us per hop x {HOPS} hops = "
          f"{hop * HOPS * 1e6:.0f} us of a frame's {frame_s * 1e6:.0f} us of work "
          f"({100 * hop * HOPS / frame_s:.1f} %)")
    return 1 if args.check and ratio < TARGET else 0


if __name__ == "__main__":
    sys.exit(main())
