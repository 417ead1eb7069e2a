"""Counting tracks across a line.

``kelo.analytics.line_crossing`` takes ``tracks`` and sends ``events``: the
same frame and a new metadata holding the received results plus one
`PyEvent` of type ``kelo/line_crossing`` per crossing in this frame. A
track crosses when the centre of its box moves across the line between two
frames it is seen in (`kelo.elements.lines` says which way is ``in``); only
confirmed tracks count. The event's payload holds the track and one object:
its box, label ``line_crossing``, related to the track, with the attributes
``line`` (the element's name), ``direction`` (``in`` or ``out``) and the
running counts ``in`` and ``out`` including this crossing. `counts` holds
the element's counts.
"""

from __future__ import annotations

import copy
import math
from typing import Any

from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyDetectedObject, PyEvent,
                           PyEventType, PyFrame, PyMetadata, PyObjectId, PyTrack, PyTrackState)
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from .. import _native
from ..io.columns import columns
from .base import Annotated, Operator
from .config import Key, Schema
from .lines import DIRECTIONS, center, crossing, default_line

__all__ = ["EVENT_TYPE", "LineCrossing"]

#: The type of the events sent.
EVENT_TYPE = PyEventType.kelo("line_crossing")

_CONFIRMED = int(PyTrackState.Confirmed)
_TERMINATED = int(PyTrackState.Terminated)


class LineCrossing(Operator):
    """``kelo.analytics.line_crossing``."""

    type_id = "kelo.analytics.line_crossing"
    modules = ("numpy",)
    contract = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
    input, output = "tracks", "events"
    schema = Schema([
        Key("line", "line", help="the line 'x1,y1,x2,y2' in pixels (default: vertical through "
            "the middle of the frame, rightwards is 'in')", optional=True),
    ])

    def setup(self) -> None:
        self.counts = dict.fromkeys(DIRECTIONS, 0)
        self.last: dict[bytes, tuple[float, float]] = {}

    def one(self, value: Annotated) -> Annotated:
        import numpy as np

        frame, received = value
        line = self.settings["line"] or default_line(frame.format.width, frame.format.height)
        cols = columns(received).tracks
        ids, states = np.asarray(cols.ids), cols.states.tolist()
        boxes = np.asarray(cols.last_boxes).tolist()
        tracks: list[PyTrack] | None = None
        events: list[PyEvent] = []
        for i in range(len(states)):
            key = ids[i].tobytes()
            if states[i] == _TERMINATED:
                self.last.pop(key, None)
                continue
            box = boxes[i]
            if math.isnan(box[0]):
                continue
            now = center(box)
            before = self.last.get(key)
            self.last[key] = now
            if before is None or states[i] != _CONFIRMED:
                continue
            direction = crossing(line, before, now)
            if direction is None:
                continue
            self.counts[direction] += 1
            if tracks is None:
                tracks = received.tracks
            events.append(self._event(frame, tracks[i], box, direction))
        if not events:
            return value
        metadata = copy.copy(received)
        for event in events:
            metadata.add_event(event)
        return Annotated(frame, metadata)

    def _event(self, frame: PyFrame, track: PyTrack, box: list[float], direction: str
               ) -> PyEvent:
        obj = PyDetectedObject(PyObjectId.new(), PyBoundingBox(*box)).with_label("line_crossing") \
            .with_attribute("line", PyAttributeValue.of_string(self.name)) \
            .with_attribute("direction", PyAttributeValue.of_string(direction))
        for d in DIRECTIONS:
            obj = obj.with_attribute(d, PyAttributeValue.of_int(self.counts[d]))
        payload = PyMetadata()
        payload.add_object(obj)
        payload.add_track(track)
        state: dict[str, Any] = _native.encode(
            PyEvent(frame.stream_id, frame.timestamp, EVENT_TYPE))
        state["payload"] = _native.encode(payload)
        state["payload"]["objects"][0]["related"].append(track.id.uuid())
        event: PyEvent = _native.decode("Event", state, "event")
        return event
