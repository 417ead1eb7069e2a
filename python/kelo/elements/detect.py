"""Detectors with OpenCV: moving regions and people.

Each takes ``frames`` (PyFrame) and sends ``detections``: an `Annotated`
pair of the same frame (its hold on the pixels passed on) and a new
`PyMetadata` with one object per detection, added through `add_objects`
(boxes in pixels).
"""

from __future__ import annotations

from typing import Any

from kelo.ext.data import PyFrame, PyMetadata
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from ..io.columns import add_objects
from . import pixels
from .base import Annotated, Operator
from .config import Key, Schema

__all__ = ["Motion", "People"]


def _annotated(frame: PyFrame, boxes: Any, confidence: Any, label: str) -> Annotated:
    import numpy as np

    metadata = PyMetadata()
    if len(boxes):
        add_objects(metadata, np.ascontiguousarray(boxes, dtype=np.float32), confidence,
                    [label] * len(boxes))
    return Annotated(frame, metadata)


class Motion(Operator):
    """``kelo.detect.motion``: background subtraction, then the bounding
    boxes of the outer contours of the foreground, label ``motion``."""

    type_id = "kelo.detect.motion"
    modules = ("cv2", "numpy")
    contract = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
    input, output = "frames", "detections"
    schema = Schema([
        Key("method", "choice", "mog2", "background model", choices=("mog2", "knn")),
        Key("history", "int", "500", "frames the background model remembers (it learns at "
            "the rate 1/history)", low=1, high=100000),
        Key("threshold", "float", "16", "distance from the model that counts as foreground "
            "(squared, per pixel)", low=0.1, high=100000),
        Key("open", "int", "3", "size of the opening that removes specks (0: none)", low=0,
            high=63),
        Key("min_area", "int", "24", "smallest box kept, in pixels", low=0, high=10**9),
    ])

    def setup(self) -> None:
        cv2 = self.cv2 = self.library("cv2")
        s = self.settings
        if s["method"] == "mog2":
            self.model = cv2.createBackgroundSubtractorMOG2(s["history"], s["threshold"], False)
        else:
            self.model = cv2.createBackgroundSubtractorKNN(s["history"], s["threshold"], False)
        # At OpenCV's default rate a model adapts fast while it is young,
        # taking a slow object into the background; a steady rate does not.
        self.rate = 1 / s["history"]
        self.seen = 0
        size = s["open"]
        self.kernel = cv2.getStructuringElement(cv2.MORPH_RECT, (size, size)) if size else None

    def one(self, frame: PyFrame) -> Annotated:
        import numpy as np

        cv2 = self.cv2
        mask = self.model.apply(pixels.pixels(frame), learningRate=self.rate)
        self.seen += 1
        if self.seen == 1:      # the first frame only makes the model
            return _annotated(frame, (), None, "motion")
        if self.kernel is not None:
            mask = cv2.morphologyEx(mask, cv2.MORPH_OPEN, self.kernel)
        contours, _ = cv2.findContours(mask, cv2.RETR_EXTERNAL, cv2.CHAIN_APPROX_SIMPLE)
        boxes = [b for b in map(cv2.boundingRect, contours) if b[2] * b[3] >= self.settings["min_area"]]
        boxes.sort()
        return _annotated(frame, np.array(boxes, dtype=np.float32).reshape(-1, 4), None, "motion")


class People(Operator):
    """``kelo.detect.people``: OpenCV's HOG people detector (its built-in
    weights), label ``person``, confidence the SVM score mapped to (0, 1).

    HOG has no batched entry point; OpenCV runs it without the interpreter
    lock, so executions run side by side instead (limited concurrency)."""

    type_id = "kelo.detect.people"
    modules = ("cv2", "numpy")
    contract = PyExecutionContract().with_concurrency(PyConcurrency.limited(4))
    input, output = "frames", "detections"
    schema = Schema([
        Key("stride", "int", "8", "window stride in pixels", low=1, high=64),
        Key("padding", "int", "8", "padding around each window in pixels", low=0, high=64),
        Key("scale", "float", "1.05", "step between pyramid scales", low=1.01, high=2),
        Key("hit_threshold", "float", "0", "SVM score a window needs", low=-10, high=10),
        Key("min_confidence", "float", "0", "smallest confidence kept", low=0, high=1),
    ])

    def setup(self) -> None:
        cv2 = self.cv2 = self.library("cv2")
        self.hog = cv2.HOGDescriptor()
        self.hog.setSVMDetector(cv2.HOGDescriptor_getDefaultPeopleDetector())

    def one(self, frame: PyFrame) -> Annotated:
        import numpy as np

        s = self.settings
        picture = pixels.pixels(frame)
        boxes, scores = self.hog.detectMultiScale(
            picture, hitThreshold=s["hit_threshold"], winStride=(s["stride"], s["stride"]),
            padding=(s["padding"], s["padding"]), scale=s["scale"])
        boxes = np.asarray(boxes, dtype=np.float32).reshape(-1, 4)
        confidence = 1 / (1 + np.exp(-np.asarray(scores, dtype=np.float32).reshape(-1)))
        keep = confidence >= s["min_confidence"]
        return _annotated(frame, boxes[keep], np.ascontiguousarray(confidence[keep]), "person")
