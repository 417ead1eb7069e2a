"""A multi-object tracker: objects associated with tracks by box overlap.

``kelo.track.iou`` takes ``detections`` and sends ``tracks``: the same frame
and a new metadata holding the received results, each matched object
naming its track among its related identifiers, and one `PyTrack` per live
track. `kelo.columns(metadata).tracks.last_boxes` reads each track's box.

Association is greedy on intersection over union, highest first: a track
is compared with each box both where it was last seen and where its last
step would bring it. An unmatched box starts a `Tentative` track, which is
`Confirmed` after `min_hits` matched frames; a track missing a frame is
`Lost`, and after `max_age` missed frames `Terminated` (reported in that
frame, then forgotten).
"""

from __future__ import annotations

from typing import Any

from kelo.ext.data import PyMetadata, PyTimestamp, PyTrack, PyTrackId, PyTrackState
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from .. import _native
from ..io.columns import columns
from .base import Annotated, Operator
from .config import Key, Schema

__all__ = ["IouTracker", "iou"]


def iou(a: Any, b: Any) -> Any:
    """Intersection over union of every box of `a` (N x 4) with every box of
    `b` (M x 4), boxes as (x, y, width, height): N x M."""
    import numpy as np

    ax0, ay0 = a[:, 0:1], a[:, 1:2]
    ax1, ay1 = ax0 + a[:, 2:3], ay0 + a[:, 3:4]
    bx0, by0 = b[:, 0], b[:, 1]
    bx1, by1 = bx0 + b[:, 2], by0 + b[:, 3]
    w = np.clip(np.minimum(ax1, bx1) - np.maximum(ax0, bx0), 0, None)
    h = np.clip(np.minimum(ay1, by1) - np.maximum(ay0, by0), 0, None)
    inter = w * h
    union = a[:, 2:3] * a[:, 3:4] + b[:, 2] * b[:, 3] - inter
    return np.where(union > 0, inter / np.where(union > 0, union, 1), 0.0)


class _Track:
    __slots__ = ("id", "uuid", "box", "step", "hits", "misses", "first_sequence",
                 "first_timestamp", "last_sequence", "last_timestamp", "confirmed")

    def __init__(self, box: Any, sequence: int, timestamp: PyTimestamp) -> None:
        self.id = PyTrackId.new()
        self.uuid = self.id.uuid()
        self.box = box
        self.step = box[:2] * 0
        self.hits, self.misses = 1, 0
        self.first_sequence = self.last_sequence = sequence
        self.first_timestamp = self.last_timestamp = timestamp
        self.confirmed = False

    def made(self, state: PyTrackState) -> PyTrack:
        return PyTrack(self.id, self.first_sequence, self.last_sequence, self.first_timestamp,
                       self.last_timestamp, state)


class IouTracker(Operator):
    """``kelo.track.iou``."""

    type_id = "kelo.track.iou"
    modules = ("numpy",)
    contract = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
    input, output = "detections", "tracks"
    schema = Schema([
        Key("iou", "float", "0.3", "overlap a box needs to continue a track", low=0.01, high=1),
        Key("min_hits", "int", "3", "matched frames that confirm a track", low=1, high=1000),
        Key("max_age", "int", "5", "missed frames that end a track", low=0, high=100000),
    ])

    def setup(self) -> None:
        self.tracks: list[_Track] = []

    def one(self, value: Annotated) -> Annotated:
        import numpy as np

        frame, received = value
        s = self.settings
        boxes = np.asarray(columns(received).boxes, dtype=np.float64)
        sequence, timestamp = frame.sequence, frame.timestamp
        owner: list[_Track | None] = [None] * len(boxes)
        free = list(self.tracks)
        if free and len(boxes):
            last = np.array([t.box for t in free])
            ahead = last.copy()
            ahead[:, :2] += np.array([t.step for t in free])
            overlap = np.maximum(iou(last, boxes), iou(ahead, boxes))
            taken_t, taken_b = set(), set()
            for flat in np.argsort(-overlap, axis=None, kind="stable"):
                t, b = divmod(int(flat), len(boxes))
                if overlap[t, b] < s["iou"]:
                    break
                if t in taken_t or b in taken_b:
                    continue
                taken_t.add(t)
                taken_b.add(b)
                owner[b] = free[t]
            free = [track for i, track in enumerate(free) if i not in taken_t]
        reported: list[PyTrack] = []
        for b, track in enumerate(owner):
            if track is None:
                track = owner[b] = _Track(boxes[b], sequence, timestamp)
                self.tracks.append(track)
            else:
                track.step = boxes[b][:2] - track.box[:2]
                track.box = boxes[b]
                track.hits += 1
                track.misses = 0
                track.last_sequence, track.last_timestamp = sequence, timestamp
            track.confirmed = track.confirmed or track.hits >= s["min_hits"]
            reported.append(track.made(PyTrackState.Confirmed if track.confirmed
                                       else PyTrackState.Tentative))
        for track in free:
            track.misses += 1
            ended = track.misses > s["max_age"]
            reported.append(track.made(PyTrackState.Terminated if ended else PyTrackState.Lost))
        if free:
            self.tracks = [t for t in self.tracks if t.misses <= s["max_age"]]
        state = _native.encode(received)
        for obj, track in zip(state["objects"], owner):
            assert track is not None
            obj["related"].append(track.uuid)
        metadata: PyMetadata = _native.decode("Metadata", state, "metadata")
        for made in reported:
            metadata.add_track(made)
        return Annotated(frame, metadata)
