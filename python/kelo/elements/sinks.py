"""Sinks: JSON lines, annotated video, nothing.

Each takes ``records`` (`Annotated` pairs) or ``frames`` (PyFrame, written
with an empty metadata), whichever is linked, and releases each frame's
pixels once it has used them: a sink is the last consumer of a frame (a
value it fails on stays held, for a retry).
"""

from __future__ import annotations

import math
from fractions import Fraction
from typing import IO, Any

from kelo.ext.data import PyFrame, PyMetadata
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from ..io import write_jsonl
from ..io.columns import columns
from . import pixels
from .base import Annotated, Builtin
from .config import Key, Schema
from .analytics import EVENT_TYPE
from .lines import DIRECTIONS, default_line

__all__ = ["JsonlSink", "NullSink", "VideoSink"]

_SERIAL = PyExecutionContract().with_concurrency(PyConcurrency.serialized())


class _Sink(Builtin):
    contract = _SERIAL

    def process(self, inputs: dict[str, Any]) -> None:
        for value in inputs.values():
            for v in value if isinstance(value, list) else (value,):
                record = v if isinstance(v, Annotated) else Annotated(v, PyMetadata())
                self.take(record)
                pixels.release_value(record.frame)

    def take(self, record: Annotated) -> None:
        raise NotImplementedError


class NullSink(_Sink):
    """``kelo.sink.null``: counts what it receives (`received`), keeps nothing."""

    type_id = "kelo.sink.null"
    contract = PyExecutionContract().with_concurrency(PyConcurrency.unrestricted())

    def setup(self) -> None:
        self.received = 0

    def take(self, record: Annotated) -> None:
        self.received += 1


class JsonlSink(_Sink):
    """``kelo.sink.jsonl``: one `kelo.io` record (frame, metadata) a line."""

    type_id = "kelo.sink.jsonl"
    schema = Schema([
        Key("path", "text", help="file to write (replaced)"),
        Key("flush", "bool", "false", "flush after every record"),
    ])

    def setup(self) -> None:
        self.file: IO[str] | None = open(self.settings["path"], "w", encoding="utf-8")

    def take(self, record: Annotated) -> None:
        assert self.file is not None
        write_jsonl(self.file, (record,))
        if self.settings["flush"]:
            self.file.flush()

    def stop(self) -> None:
        file = getattr(self, "file", None)
        if file is not None:
            self.file = None
            file.close()


# (frame pixel format) -> PyAV's name for it
_AV_FORMATS = {"bgr8": "bgr24", "rgb8": "rgb24", "gray8": "gray", "bgra8": "bgra",
               "rgba8": "rgba"}
_COLORS = [(0, 0, 255), (0, 200, 0), (255, 0, 0), (0, 200, 255), (255, 0, 255), (255, 255, 0)]


class VideoSink(_Sink):
    """``kelo.sink.video``: the frames encoded with PyAV, annotated with the
    objects' boxes (grey; coloured by track and labelled with the start of
    the track's id when tracked),
    the line, and the counts of the latest line-crossing event."""

    type_id = "kelo.sink.video"
    modules = ("av", "cv2", "numpy")
    schema = Schema([
        Key("path", "text", help="file to write (replaced); its extension chooses the container"),
        Key("codec", "text", "libx264", "encoder (one of PyAV's codecs_available)"),
        Key("quality", "int", "18", "libx264/libx265: constant rate factor; mpeg4 and mjpeg: "
            "quantizer (clamped to 2..31); others ignore it", low=0, high=51),
        Key("fps", "float", help="frame rate (default: the frames' own, else 25)", low=0.1,
            high=1000, optional=True),
        Key("annotate", "bool", "true", "draw boxes, tracks, the line and the counts"),
        Key("line", "line", help="the line to draw 'x1,y1,x2,y2' (default: vertical through "
            "the middle)", optional=True),
    ])

    def setup(self) -> None:
        self.av = self.library("av")
        self.cv2 = self.library("cv2")
        codec = self.settings["codec"]
        if codec not in self.av.codecs_available:
            raise ValueError(f"element {self.name!r}: codec {codec!r} is not available in this "
                             "PyAV")
        self.container: Any = None
        self.stream: Any = None
        self.last_pts = -1
        self.encoded = False
        self.counts = ""

    def _open(self, frame: PyFrame) -> Any:
        s = self.settings
        rate = frame.format.frame_rate
        fps = Fraction(s["fps"]).limit_denominator(1001) if s["fps"] is not None else \
            Fraction(rate.numerator, rate.denominator) if rate is not None else Fraction(25)
        self.container = self.av.open(s["path"], "w")
        stream = self.container.add_stream(s["codec"], rate=fps)
        stream.width, stream.height = frame.format.width, frame.format.height
        q = s["quality"]
        if s["codec"] in ("libx264", "libx265"):
            stream.options = {"crf": str(q)}
        elif s["codec"] in ("mpeg4", "mjpeg"):
            stream.codec_context.qscale = min(max(q, 2), 31)
            stream.codec_context.flags |= self.av.codec.context.Flags.QSCALE
        self.stream, self.fps = stream, fps
        return self.container

    def take(self, record: Annotated) -> None:
        frame, metadata = record
        container = self.container or self._open(frame)
        if (frame.format.width, frame.format.height) != (self.stream.width, self.stream.height):
            raise ValueError(f"element {self.name!r}: frame {frame.sequence} is "
                             f"{frame.format.width}x{frame.format.height}, the video "
                             f"{self.stream.width}x{self.stream.height}")
        name = frame.format.pixel_format.name()
        if name not in _AV_FORMATS:
            raise ValueError(f"element {self.name!r}: cannot encode {name} frames")
        picture = pixels.pixels(frame)
        if self.settings["annotate"]:
            picture = self._annotated(picture.copy(), frame, metadata)
        out = self.av.VideoFrame.from_ndarray(picture, format=_AV_FORMATS[name])
        pts = max(self.last_pts + 1, round(frame.timestamp.monotonic_ns * self.fps / 10**9))
        out.pts = self.last_pts = pts
        try:
            container.mux(self.stream.encode(out))
        except self.av.AVError as exc:
            raise ValueError(f"element {self.name!r}: cannot encode frame {frame.sequence} "
                             f"with {self.settings['codec']}: {exc}") from None
        self.encoded = True

    def _annotated(self, picture: Any, frame: PyFrame, metadata: PyMetadata) -> Any:
        import numpy as np

        cv2 = self.cv2
        line = self.settings["line"] or default_line(frame.format.width, frame.format.height)
        cv2.line(picture, (round(line[0]), round(line[1])), (round(line[2]), round(line[3])),
                 (0, 255, 255), 1)
        cols = columns(metadata)
        for x, y, w, h in np.asarray(cols.boxes).tolist():
            cv2.rectangle(picture, (round(x), round(y)), (round(x + w) - 1, round(y + h) - 1),
                          (160, 160, 160), 1)
        tracks = cols.tracks
        ids = np.asarray(tracks.ids)
        for i, (x, y, w, h) in enumerate(np.asarray(tracks.last_boxes).tolist()):
            if math.isnan(x):
                continue
            label = ids[i].tobytes().hex()[:4]
            color = _COLORS[ids[i, 0] % len(_COLORS)]
            x0, y0 = round(x), round(y)
            cv2.rectangle(picture, (x0, y0), (round(x + w) - 1, round(y + h) - 1), color, 1)
            cv2.putText(picture, label, (x0, max(y0 - 2, 8)), cv2.FONT_HERSHEY_PLAIN, 0.8, color,
                        1)
        for event in metadata.events:
            if event.event_type == EVENT_TYPE:
                attrs = event.payload.objects[0].attributes
                self.counts = " ".join(f"{d} {attrs.get(d).as_int()}"  # type: ignore[union-attr]
                                       for d in DIRECTIONS)
        if self.counts:
            cv2.putText(picture, self.counts, (4, picture.shape[0] - 6), cv2.FONT_HERSHEY_PLAIN,
                        1.0, (0, 255, 255), 1)
        return picture

    def stop(self) -> None:
        if getattr(self, "container", None) is None:
            return
        try:
            if self.encoded:        # else the encoder never opened: nothing to flush
                self.container.mux(self.stream.encode(None))
        finally:
            self.container.close()
            self.container = None

