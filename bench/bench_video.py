"""Benchmark of the main job: decode, detect motion, track, count, encode.

Times, in the same run and on the same input (the test pattern encoded once
with libx264 beforehand, not timed):

  elements   the built-in elements kelo.source.video -> kelo.detect.motion ->
             kelo.track.iou -> kelo.analytics.line_crossing -> kelo.sink.video,
             driven by a plain loop (start, generate, process, stop)
  by hand    the same steps written as one Python loop with the same libraries
             (PyAV, OpenCV, numpy): no frames, metadata, tracks or events of
             kelo's data model, no pixel store

and prints frames per second of each and their ratio. Both count the
crossings; the run fails if their counts differ from each other or from the
test pattern's truth.

    PYTHONPATH=python python3 bench/bench_video.py [--frames N] [--size WxH] [--repeat N]
"""

import argparse
import os
import sys
import tempfile
import time

import av
import cv2
import numpy as np

import kelo  # noqa: F401  (registers kelo.ext's submodules)
from kelo.elements import element_class, pixels
from kelo.elements.lines import center, crossing, default_line
from kelo.elements.sources import TestPattern
from kelo.elements.track import iou


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


def run_elements(path, out):
    source = element("kelo.source.video", path=path)
    chain = [element("kelo.detect.motion"), element("kelo.track.iou"),
             element("kelo.analytics.line_crossing")]
    sink = element("kelo.sink.video", path=out)
    frames = 0
    for item in source.generate():
        value = item["frames"]
        for e in chain:
            value = e.one(value)
        sink.process({"records": value})
        frames += 1
    for e in (source, *chain, sink):
        e.stop()
    return frames, chain[-1].counts


def run_by_hand(path, out):
    """Decode, detect, track, count and encode in one loop."""
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
                tracks.append([next_id, boxes[b], boxes[b][:2] * 0, 1, 0, now])
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
    return frames, counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--frames", type=int, default=300)
    parser.add_argument("--size", default="320x240")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    width, height = args.size.split("x")
    scene = {"frames": str(args.frames), "width": width, "height": height}
    truth = TestPattern.truth(scene).counts
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "input.mp4")
        make_input(path, scene)
        best = {}
        for _ in range(args.repeat):
            for name, run in (("elements", run_elements), ("by hand", run_by_hand)):
                start = time.perf_counter()
                frames, counts = run(path, os.path.join(folder, "out.mp4"))
                seconds = time.perf_counter() - start
                if counts != truth:
                    sys.exit(f"{name}: counts {counts}, the truth {truth}")
                best[name] = min(best.get(name, seconds), seconds)
    assert pixels.stored() == 0
    print(f"{frames} frames of {args.size}, counts {truth}")
    for name, seconds in best.items():
        print(f"  {name:9} {frames / seconds:8.1f} frames/s")
    print(f"  ratio     {best['by hand'] / best['elements']:8.2f} (elements / by hand, speed)")


if __name__ == "__main__":
    main()
