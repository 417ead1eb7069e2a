"""The built-in elements: the provider ``kelo.builtin``.

Element types (ports in brackets, inputs -> outputs):

- ``kelo.source.video`` (-> frames), ``kelo.source.test_pattern`` (-> frames)
- ``kelo.transform.resize``, ``kelo.transform.color`` (frames -> frames)
- ``kelo.detect.motion``, ``kelo.detect.people`` (frames -> detections)
- ``kelo.track.iou`` (detections -> tracks)
- ``kelo.analytics.line_crossing`` (tracks -> events)
- ``kelo.sink.jsonl``, ``kelo.sink.video``, ``kelo.sink.null`` (records or frames ->)

A ``frames`` port carries a `PyFrame` whose pixels are in `pixels` (shared
within the process, never copied between elements; see there who releases
them). Every other port carries an `Annotated` pair (frame, `PyMetadata`):
the frame the results describe, with its sequence and timestamp, since
elements do not see envelopes. Values are not changed once sent.

`manifest_path` is the provider manifest (providers with their `entry`,
element types with kinds and ports). `check_config` checks an element's
`config` table against its type's declared keys, `missing_library` says
which Debian package a type needs that is not installed; neither imports
PyAV, OpenCV or numpy, which the elements import only when they start.
"""

from __future__ import annotations

import functools
import importlib
import tomllib
from collections.abc import Mapping
from pathlib import Path

from . import pixels
from .base import Annotated, Builtin, missing
from .config import ConfigError, Key, Schema

__all__ = ["Annotated", "Builtin", "ConfigError", "Key", "Schema", "TYPE_IDS", "check_config",
           "element_class", "entries", "manifest_path", "missing_library", "pixels"]

#: The provider manifest shipped with the package.
manifest_path = Path(__file__).with_name("builtin.toml")


@functools.cache
def entries() -> dict[str, str]:
    """Element type id -> ``"module:Class"`` of its implementation, from the manifest."""
    with open(manifest_path, "rb") as f:
        data = tomllib.load(f)
    return {t: p["entry"] for p in data["provider"] for t in p["element_types"]}


TYPE_IDS = tuple(entries())


def element_class(type_id: str) -> type[Builtin]:
    """The class implementing a built-in element type; `KeyError` for others."""
    entry = entries().get(type_id)
    if entry is None:
        raise KeyError(f"{type_id!r} is not a built-in element type; built-in: "
                       f"{', '.join(TYPE_IDS)}")
    module, _, name = entry.partition(":")
    cls: type[Builtin] = getattr(importlib.import_module(module), name)
    return cls


def check_config(type_id: str, config: Mapping[str, str]) -> list[tuple[str, str]]:
    """(key, message) for each problem of a built-in element's `config`
    table: unknown keys, values that do not read or are out of range,
    missing required keys. Empty when the config is good."""
    try:
        cls = element_class(type_id)
    except KeyError as exc:
        return [("", str(exc.args[0]))]
    return cls.schema.check(config)


def missing_library(type_id: str) -> str | None:
    """What to install for a built-in element type to run (its Python
    modules and their Debian packages), or None when nothing is missing."""
    return missing(type_id, element_class(type_id).modules)
