"""What the built-in elements share: the value a frame and its results
travel in, settings read from the config, batches, and lazy libraries.

`Annotated(frame, metadata)` is the value of every port that carries
results: the frame they describe (its pixels in `kelo.elements.pixels`, its
sequence and timestamp in the frame itself) and a `PyMetadata`. A port that
carries pixels only carries the `PyFrame`. Values are not changed once
sent: an element that adds results sends a new metadata holding the
received one's results and its own, so a value delivered to several
consumers reads the same in each.
"""

from __future__ import annotations

import importlib
import importlib.util
from collections.abc import Iterable
from typing import Any, ClassVar, NamedTuple

from kelo.ext.data import PyFrame, PyMetadata

from ..runtime import Element
from .config import Schema

__all__ = ["Annotated", "Builtin", "Operator", "Sink", "library", "missing"]

#: The Debian package of each Python module an element may need.
PACKAGES = {"av": "python3-av", "cv2": "python3-opencv", "numpy": "python3-numpy"}


class Annotated(NamedTuple):
    """A frame and the results about it."""

    frame: PyFrame
    metadata: PyMetadata


def missing(type_id: str, modules: Iterable[str]) -> str | None:
    """What to install for the modules of `modules` that cannot be imported."""
    absent = [m for m in modules if importlib.util.find_spec(m) is None]
    if not absent:
        return None
    names = ", ".join(repr(m) for m in absent)
    packages = " ".join(PACKAGES[m] for m in absent)
    return f"{type_id} needs the Python module {names}: install the Debian package {packages}"


def library(type_id: str, module: str) -> Any:
    """Import `module` for an element of `type_id`, or say what to install."""
    try:
        return importlib.import_module(module)
    except ImportError:
        raise ImportError(missing(type_id, [module]) or f"cannot import {module!r}") from None


class Builtin(Element):
    """A built-in element: its type id, config keys and the Python modules
    it needs. `start` reads the config into `settings`, then calls `setup`."""

    type_id: ClassVar[str] = ""
    schema: ClassVar[Schema] = Schema()
    modules: ClassVar[tuple[str, ...]] = ()

    settings: dict[str, Any]

    def start(self) -> None:
        self.settings = self.schema.parse(self.config, self.name or self.type_id)
        self.setup()

    def setup(self) -> None:
        """Prepare to run once `settings` are read."""

    def library(self, module: str) -> Any:
        return library(self.type_id, module)


class Operator(Builtin):
    """One input port, one output port; `one` maps one value. A list on the
    input is a batch (the contract's batching): it maps to the list of
    results, in order."""

    input: ClassVar[str] = ""
    output: ClassVar[str] = ""

    def process(self, inputs: dict[str, Any]) -> dict[str, Any] | None:
        value = inputs[self.input]
        if isinstance(value, list):
            return {self.output: self.batch(value)}
        return {self.output: self.one(value)}

    def one(self, value: Any) -> Any:
        raise NotImplementedError

    def batch(self, values: list[Any]) -> list[Any]:
        return [self.one(v) for v in values]


class Sink(Builtin):
    """One input port; `take` consumes one value (a batch: each in order)."""

    input: ClassVar[str] = ""

    def process(self, inputs: dict[str, Any]) -> None:
        value = inputs[self.input]
        for v in value if isinstance(value, list) else (value,):
            self.take(v)

    def take(self, value: Any) -> None:
        raise NotImplementedError
