"""Transforms of pixels with OpenCV: size and colour.

Each takes ``frames`` (PyFrame) and sends ``frames``: a new frame (new
buffer, same stream, sequence, timestamp and duration) holding the new
pixels, and releases the frame it received. A frame that needs no change is
passed on as it is.
"""

from __future__ import annotations

from typing import Any

from kelo.ext.data import PyFrame, PyPixelFormat, PyVideoFormat
from kelo.ext.execution import PyConcurrency, PyExecutionContract

from . import pixels
from .base import Operator
from .config import Key, Schema

__all__ = ["Color", "Resize"]

_STATELESS = PyExecutionContract().with_concurrency(PyConcurrency.unrestricted())


def _remade(frame: PyFrame, array: Any, pixel_format: PyPixelFormat) -> PyFrame:
    """A frame like `frame` for `array`; `frame`'s hold on its pixels is released."""
    old = frame.format
    fmt = PyVideoFormat(array.shape[1], array.shape[0], pixel_format) \
        .with_color_space(old.color_space).with_color_range(old.color_range)
    if old.frame_rate is not None:
        fmt = fmt.with_frame_rate(old.frame_rate)
    made = PyFrame(frame.stream_id, frame.sequence, frame.timestamp, fmt)
    if frame.duration_ns is not None:
        made = made.with_duration_ns(frame.duration_ns)
    pixels.attach(made, array)
    pixels.release(frame)
    return made


class Resize(Operator):
    """``kelo.transform.resize``: frames scaled to `width` x `height`."""

    type_id = "kelo.transform.resize"
    modules = ("cv2", "numpy")
    contract = _STATELESS
    input = output = "frames"
    schema = Schema([
        Key("width", "int", help="output width", low=1, high=16384),
        Key("height", "int", help="output height", low=1, high=16384),
        Key("interpolation", "choice", "area", "how pixels are resampled",
            choices=("nearest", "linear", "area", "cubic")),
    ])

    def setup(self) -> None:
        self.cv2 = self.library("cv2")
        self.size = (self.settings["width"], self.settings["height"])
        self.interpolation = getattr(self.cv2, "INTER_" + self.settings["interpolation"].upper())

    def one(self, frame: PyFrame) -> PyFrame:
        if (frame.format.width, frame.format.height) == self.size:
            return frame
        array = self.cv2.resize(pixels.pixels(frame), self.size, interpolation=self.interpolation)
        return _remade(frame, array, frame.format.pixel_format)


# (from, to) -> OpenCV conversion code name
_CONVERSIONS = {
    ("bgr8", "rgb8"): "COLOR_BGR2RGB", ("rgb8", "bgr8"): "COLOR_RGB2BGR",
    ("bgr8", "gray8"): "COLOR_BGR2GRAY", ("rgb8", "gray8"): "COLOR_RGB2GRAY",
    ("gray8", "bgr8"): "COLOR_GRAY2BGR", ("gray8", "rgb8"): "COLOR_GRAY2RGB",
    ("bgra8", "bgr8"): "COLOR_BGRA2BGR", ("rgba8", "rgb8"): "COLOR_RGBA2RGB",
    ("bgra8", "rgb8"): "COLOR_BGRA2RGB", ("rgba8", "bgr8"): "COLOR_RGBA2BGR",
    ("bgra8", "gray8"): "COLOR_BGRA2GRAY", ("rgba8", "gray8"): "COLOR_RGBA2GRAY",
}


class Color(Operator):
    """``kelo.transform.color``: frames converted to the pixel format `to`."""

    type_id = "kelo.transform.color"
    modules = ("cv2", "numpy")
    contract = _STATELESS
    input = output = "frames"
    schema = Schema([
        Key("to", "choice", help="output pixel format", choices=("bgr8", "rgb8", "gray8")),
    ])

    def setup(self) -> None:
        self.cv2 = self.library("cv2")
        self.to = self.settings["to"]
        self.format = getattr(PyPixelFormat, self.to)()

    def one(self, frame: PyFrame) -> PyFrame:
        source = frame.format.pixel_format.name()
        if source == self.to:
            return frame
        code = _CONVERSIONS.get((source, self.to))
        if code is None:
            raise ValueError(f"element {self.name!r}: cannot convert {source} frames to {self.to}")
        array = self.cv2.cvtColor(pixels.pixels(frame), getattr(self.cv2, code))
        return _remade(frame, array, self.format)
