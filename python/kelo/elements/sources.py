"""Sources: video decoded with PyAV, and a synthetic scene whose truth is known.

Both yield ``{"frames": PyFrame}`` items with the pixels attached
(`kelo.elements.pixels`), one stream id per element, and honour
`seek(target_ns)`: the next frame is the first at or after the target.

The test pattern moves bright rectangles and ellipses over a static
textured background, each object in a lane of its own (no two ever touch):
objects enter from the left or right edge, some turn back after passing the
middle. `TestPattern.truth(config)` gives each object's box in every frame
and every crossing of the counting line, so that a pipeline's counts can be
compared with the truth exactly.
"""

from __future__ import annotations

import json
import threading
from collections.abc import Iterator, Mapping
from dataclasses import dataclass, field
from fractions import Fraction
from typing import Any

from kelo.ext.data import (PyFrame, PyFrameRate, PyPixelFormat, PyStreamId, PyTimestamp,
                           PyVideoFormat)
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from . import pixels
from .base import Builtin
from .config import Key, Schema
from .lines import DIRECTIONS, Line, center, crossing, default_line

__all__ = ["Crossing", "TestPattern", "Truth", "VideoSource"]

_SERIAL = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
_SECOND = 1_000_000_000


class _Source(Builtin):
    """Seeks are asked from any thread and done by the generator before its
    next frame."""

    contract = _SERIAL

    def setup(self) -> None:
        self._seek_lock = threading.Lock()
        self._seek_to: int | None = None
        self.stream_id = PyStreamId.new()

    def seek(self, target_ns: int) -> None:
        """Continue from the first frame at or after `target_ns` stream time."""
        with self._seek_lock:
            self._seek_to = max(0, int(target_ns))

    def _take_seek(self) -> int | None:
        with self._seek_lock:
            target, self._seek_to = self._seek_to, None
        return target


# ---- video ------------------------------------------------------------------

_OUT_FORMATS = {"bgr8": "bgr24", "rgb8": "rgb24", "gray8": "gray"}


class VideoSource(_Source):
    """``kelo.source.video``: the frames of a file or URL PyAV opens.

    A frame's timestamp is its presentation time, pts x time base, in
    nanoseconds; its sequence its index at the stream's average rate (kept
    increasing), so that a seek keeps the sequence of the frames reached.
    """

    type_id = "kelo.source.video"
    modules = ("av", "numpy")
    schema = Schema([
        Key("path", "text", help="file or URL to decode"),
        Key("stream", "int", "0", "index of the video stream among the file's video streams",
            low=0, high=1023),
        Key("pixel_format", "choice", "bgr8", "pixel format of the frames",
            choices=tuple(_OUT_FORMATS)),
    ])

    def setup(self) -> None:
        super().setup()
        av = self.library("av")
        try:
            self.container = av.open(self.settings["path"])
        except (OSError, av.AVError) as exc:
            raise OSError(f"element {self.name!r}: cannot open {self.settings['path']!r}: "
                          f"{exc}") from None
        videos = self.container.streams.video
        index = self.settings["stream"]
        if index >= len(videos):
            self.container.close()
            raise ValueError(f"element {self.name!r}: {self.settings['path']!r} has "
                             f"{len(videos)} video stream(s), no stream {index}")
        self.stream = videos[index]
        self.stream.thread_type = "AUTO"
        rate = self.stream.average_rate
        self.rate: Fraction | None = Fraction(rate) if rate else None
        self.time_base = Fraction(self.stream.time_base)
        width, height = self.stream.codec_context.width, self.stream.codec_context.height
        fmt = PyVideoFormat(width, height, getattr(PyPixelFormat, self.settings["pixel_format"])())
        if self.rate is not None:
            fmt = fmt.with_frame_rate(PyFrameRate(self.rate.numerator, self.rate.denominator))
        self.format = fmt

    def stop(self) -> None:
        container = getattr(self, "container", None)
        if container is not None:
            container.close()

    def generate(self) -> Iterator[dict[str, Any]]:
        out = _OUT_FORMATS[self.settings["pixel_format"]]
        last_sequence = -1
        last_ns = -1
        skip_before = -1
        frames = self.container.decode(self.stream)
        while True:
            target = self._take_seek()
            if target is not None:
                offset = int(Fraction(target, _SECOND) / self.time_base)
                self.container.seek(offset, stream=self.stream, backward=True, any_frame=False)
                frames = self.container.decode(self.stream)
                last_sequence, last_ns, skip_before = -1, -1, target
            decoded = next(frames, None)
            if decoded is None:
                return
            if decoded.pts is None:
                ns = last_ns + 1 if self.rate is None else \
                    last_ns + int(_SECOND / self.rate)
            else:
                ns = int(decoded.pts * self.time_base * _SECOND)
            if ns < skip_before:
                continue
            sequence = last_sequence + 1 if self.rate is None else \
                max(last_sequence + 1, round(Fraction(ns, _SECOND) * self.rate))
            last_sequence, last_ns = sequence, ns
            frame = PyFrame(self.stream_id, sequence, PyTimestamp.from_nanos(ns), self.format)
            yield {"frames": pixels.attach(frame, decoded.to_ndarray(format=out))}


# ---- test pattern -----------------------------------------------------------


@dataclass(frozen=True)
class Crossing:
    """An object's centre crossing the counting line in frame `sequence`."""

    sequence: int
    object: int
    direction: str


@dataclass
class Truth:
    """What the test pattern shows: per frame, each visible object's box
    (x, y, width, height; clipped to the picture) by object number, and the
    crossings of the line."""

    line: Line
    boxes: list[dict[int, tuple[int, int, int, int]]] = field(default_factory=list)
    crossings: list[Crossing] = field(default_factory=list)

    @property
    def counts(self) -> dict[str, int]:
        """Crossings per direction."""
        return {d: sum(c.direction == d for c in self.crossings) for d in DIRECTIONS}

    def write(self, path: str) -> None:
        """One JSON line per frame: ``{"sequence", "boxes": [{"object",
        "box"}], "crossings": [{"object", "direction"}]}``."""
        by_frame: dict[int, list[Crossing]] = {}
        for c in self.crossings:
            by_frame.setdefault(c.sequence, []).append(c)
        with open(path, "w", encoding="utf-8") as f:
            for sequence, boxes in enumerate(self.boxes):
                f.write(json.dumps({
                    "sequence": sequence,
                    "boxes": [{"object": k, "box": list(b)} for k, b in boxes.items()],
                    "crossings": [{"object": c.object, "direction": c.direction}
                                  for c in by_frame.get(sequence, [])],
                }) + "\n")


_PALETTE = ((255, 255, 255), (0, 255, 255), (255, 0, 255), (255, 255, 0), (0, 255, 0),
            (80, 160, 255), (255, 128, 128), (128, 255, 200))


@dataclass(frozen=True)
class _Object:
    sprite: Any          # bool mask, height x width, no empty row or column
    color: tuple[int, int, int]
    top: int
    start: int           # frame of entry
    step: float          # pixels per frame, > 0
    rightwards: bool
    turn: float | None   # distance travelled before turning back

    def placed(self, frame: int, width: int) -> tuple[int, int, int] | None:
        """(left edge of the sprite, first and end column visible) in
        `frame`; None when the object is not in the picture."""
        s = (frame - self.start) * self.step
        if s < 0:
            return None
        w = self.sprite.shape[1]
        if self.turn is not None and s > self.turn:
            s = 2 * self.turn - s
        x = int((-w + s if self.rightwards else width - s) // 1)
        x0, x1 = max(x, 0), min(x + w, width)
        return (x, x0, x1) if x1 > x0 else None

    def box(self, place: tuple[int, int, int]) -> tuple[int, int, int, int]:
        """The box of the visible pixels."""
        x, x0, x1 = place
        rows = self.sprite[:, x0 - x:x1 - x].any(axis=1).nonzero()[0]
        return x0, self.top + int(rows[0]), x1 - x0, int(rows[-1] - rows[0]) + 1


class TestPattern(_Source):
    """``kelo.source.test_pattern``: moving objects whose truth is known."""

    __test__ = False      # not a test class, whatever its name says to pytest

    type_id = "kelo.source.test_pattern"
    modules = ("numpy",)
    schema = Schema([
        Key("seed", "int", "1", "seed of the scene", low=0, high=2**32 - 1),
        Key("width", "int", "320", "picture width", low=64, high=8192),
        Key("height", "int", "240", "picture height", low=64, high=8192),
        Key("fps", "float", "25", "frames per second", low=0.1, high=1000),
        Key("frames", "int", "300", "number of frames", low=1, high=10**8),
        Key("objects", "int", "6", "number of moving objects, one lane each (a lane is at "
            "least 24 pixels high)", low=1, high=256),
        Key("speed", "float", "3", "mean speed in pixels per frame", low=0.5, high=20),
        Key("line", "line", help="the counting line 'x1,y1,x2,y2' (default: vertical through "
            "the middle, rightwards is 'in')", optional=True),
        Key("truth", "text", help="write the truth here as JSON lines at start", optional=True),
    ])

    def setup(self) -> None:
        super().setup()
        self.scene = _scene(self.settings)
        s = self.settings
        self.format = PyVideoFormat(s["width"], s["height"], PyPixelFormat.bgr8()).with_frame_rate(
            _rate(s["fps"]))
        if s["truth"] is not None:
            self.truth(self.config).write(s["truth"])

    @staticmethod
    def truth(config: Mapping[str, str]) -> Truth:
        """The truth of the scene `config` describes (the element's config table)."""
        settings = TestPattern.schema.parse(config, TestPattern.type_id)
        scene = _scene(settings)
        width, height = settings["width"], settings["height"]
        line = settings["line"] or default_line(width, height)
        truth = Truth(line)
        last: dict[int, tuple[float, float]] = {}
        for sequence in range(settings["frames"]):
            boxes = {}
            for k, obj in enumerate(scene.objects):
                place = obj.placed(sequence, width)
                if place is None:
                    last.pop(k, None)
                    continue
                boxes[k] = box = obj.box(place)
                now = center(box)
                if k in last and (d := crossing(line, last[k], now)) is not None:
                    truth.crossings.append(Crossing(sequence, k, d))
                last[k] = now
            truth.boxes.append(boxes)
        return truth

    def generate(self) -> Iterator[dict[str, Any]]:
        s = self.settings
        fps = Fraction(s["fps"]).limit_denominator(1001)
        sequence = 0
        while sequence < s["frames"]:
            target = self._take_seek()
            if target is not None:
                sequence = -(-target * fps // _SECOND)
                if sequence >= s["frames"]:
                    return
            ns = int(sequence * _SECOND / fps)
            frame = PyFrame(self.stream_id, sequence, PyTimestamp.from_nanos(ns), self.format)
            yield {"frames": pixels.attach(frame, self.scene.draw(sequence))}
            sequence += 1


def _rate(fps: float) -> PyFrameRate:
    r = Fraction(fps).limit_denominator(1001)
    return PyFrameRate(r.numerator, r.denominator)


class _Scene:
    def __init__(self, background: Any, objects: list[_Object]) -> None:
        self.background = background
        self.objects = objects

    def draw(self, sequence: int) -> Any:
        picture = self.background.copy()
        width = picture.shape[1]
        for obj in self.objects:
            place = obj.placed(sequence, width)
            if place is not None:
                x, x0, x1 = place
                region = picture[obj.top:obj.top + obj.sprite.shape[0], x0:x1]
                region[obj.sprite[:, x0 - x:x1 - x]] = obj.color
        return picture


def _scene(s: Mapping[str, Any]) -> _Scene:
    import numpy as np

    width, height, count = s["width"], s["height"], s["objects"]
    lane = height // count
    if lane < 24:
        raise ValueError(f"{TestPattern.type_id}: {count} objects need a height of at least "
                         f"{24 * count} (24 pixels a lane), not {height}")
    rng = np.random.default_rng(s["seed"])
    # Blocks of 4 x 4 pixels of dark grey texture: static, and far from the objects' colours.
    coarse = rng.integers(30, 110, size=(-(-height // 4), -(-width // 4), 3), dtype=np.uint8)
    background = np.ascontiguousarray(coarse.repeat(4, 0).repeat(4, 1)[:height, :width])
    objects = []
    for k in range(count):
        step = float(s["speed"]) * rng.uniform(0.7, 1.3)
        h = int(rng.integers(lane * 2 // 5, lane * 7 // 10 + 1))
        w = int(rng.integers(max(16, int(3 * step) + 4), max(17, width // 6, int(3 * step) + 5)))
        sprite = np.ones((h, w), dtype=bool)
        if rng.random() < 0.5:          # an ellipse touching all four sides of its box
            yy, xx = np.mgrid[0:h, 0:w]
            sprite = ((xx + 0.5 - w / 2) / (w / 2)) ** 2 + ((yy + 0.5 - h / 2) / (h / 2)) ** 2 <= 1
            sprite = sprite[sprite.any(1)][:, sprite.any(0)]
            h, w = sprite.shape
        # Turn back, if at all, well past the middle (an object's centre starts
        # half its width outside the picture).
        turn = None
        if rng.random() < 0.5:
            turn = width / 2 + w / 2 + float(rng.uniform(0.15, 0.35)) * width
        objects.append(_Object(
            sprite=sprite, color=_PALETTE[k % len(_PALETTE)], top=k * lane + (lane - h) // 2,
            start=int(rng.integers(1, max(2, s["frames"] * 3 // 10))), step=step,
            rightwards=bool(rng.random() < 0.5), turn=turn))
    return _Scene(background, objects)
