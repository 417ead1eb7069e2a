"""Config keys of the built-in elements, declared as data.

Each element type lists its keys as `Key`s: name, kind of value, default
(None: the key is required, unless the key is `optional`), bounds or
choices, and a line of help. The same declaration checks a description
file's `config` table (`Schema.check`: one (key, message) per problem,
nothing raised) and gives an element its settings (`Schema.parse`: typed
values, defaults filled in, `ConfigError` listing every problem).

Values are text in files; the kinds read them as: ``int`` (decimal
integer), ``float`` (finite decimal number), ``bool`` (``true`` or
``false``), ``text`` (any, non-empty), ``choice`` (one of `choices`) and
``line`` (four numbers ``x1,y1,x2,y2``: a segment in pixel coordinates).
"""

from __future__ import annotations

import difflib
import math
from collections.abc import Mapping, Sequence
from dataclasses import dataclass
from typing import Any

__all__ = ["ConfigError", "Key", "Schema"]

KINDS = ("int", "float", "bool", "text", "choice", "line")


class ConfigError(ValueError):
    """An element's config does not read; `problems` are (key, message) pairs."""

    def __init__(self, element: str, problems: list[tuple[str, str]]) -> None:
        self.problems = problems
        lines = "; ".join(message for _, message in problems)
        super().__init__(f"element {element!r} config: {lines}")


@dataclass(frozen=True)
class Key:
    """One config key. `low`/`high` bound numbers (inclusive), `choices` the
    texts of a ``choice``; `optional` keys without a default read as None."""

    name: str
    kind: str
    default: str | None = None
    help: str = ""
    low: float | None = None
    high: float | None = None
    choices: tuple[str, ...] = ()
    optional: bool = False

    def read(self, text: str) -> Any:
        """The value `text` stands for; ValueError with the reason if none."""
        stripped = text.strip()
        if self.kind == "int":
            try:
                value: Any = int(stripped)
            except ValueError:
                raise ValueError(f"{self.name!r} must be an integer, not {text!r}") from None
            return self._bounded(value)
        if self.kind == "float":
            try:
                value = float(stripped)
            except ValueError:
                value = math.nan
            if not math.isfinite(value):
                raise ValueError(f"{self.name!r} must be a number, not {text!r}")
            return self._bounded(value)
        if self.kind == "bool":
            if stripped in ("true", "false"):
                return stripped == "true"
            raise ValueError(f"{self.name!r} must be 'true' or 'false', not {text!r}")
        if self.kind == "choice":
            if stripped in self.choices:
                return stripped
            near = difflib.get_close_matches(stripped, self.choices, n=1, cutoff=0.6)
            hint = f" (did you mean {near[0]!r}?)" if near else ""
            raise ValueError(f"{self.name!r} {text!r} is not one of: "
                             f"{', '.join(self.choices)}{hint}")
        if self.kind == "line":
            return _line(self.name, text)
        if not stripped:
            raise ValueError(f"{self.name!r} must not be empty")
        return text

    def _bounded(self, value: float) -> float:
        if (self.low is not None and value < self.low) or \
                (self.high is not None and value > self.high):
            raise ValueError(f"{self.name!r} {value} is out of range "
                             f"{_number(self.low)}..{_number(self.high)}")
        return value


def _number(bound: float | None) -> str:
    if bound is None:
        return ""
    return str(int(bound)) if float(bound).is_integer() else str(bound)


def _line(name: str, text: str) -> tuple[float, float, float, float]:
    parts = text.split(",")
    try:
        numbers = tuple(float(p) for p in parts)
    except ValueError:
        numbers = ()
    if len(numbers) != 4 or not all(math.isfinite(n) for n in numbers):
        raise ValueError(f"{name!r} must be four numbers 'x1,y1,x2,y2', not {text!r}")
    if numbers[:2] == numbers[2:]:
        raise ValueError(f"{name!r} {text!r} has two equal ends")
    return numbers  # type: ignore[return-value]


class Schema:
    """The config keys of one element type."""

    def __init__(self, keys: Sequence[Key] = ()) -> None:
        self.keys = {key.name: key for key in keys}
        for key in keys:
            assert key.kind in KINDS, key
            if key.default is not None:
                key.read(key.default)   # a default that does not read is a bug here

    def check(self, config: Mapping[str, str]) -> list[tuple[str, str]]:
        """(key, message) for each problem of `config`; empty when it reads."""
        return self._read(config)[1]

    def parse(self, config: Mapping[str, str], element: str = "") -> dict[str, Any]:
        """Every key's value (defaults filled in); `ConfigError` if any does not read."""
        values, problems = self._read(config)
        if problems:
            raise ConfigError(element, problems)
        return values

    def _read(self, config: Mapping[str, str]) -> tuple[dict[str, Any], list[tuple[str, str]]]:
        values: dict[str, Any] = {}
        problems: list[tuple[str, str]] = []
        for name, text in config.items():
            key = self.keys.get(name)
            if key is None:
                problems.append((name, self._unknown(name)))
            else:
                try:
                    values[name] = key.read(text)
                except ValueError as exc:
                    problems.append((name, str(exc)))
        for name, key in self.keys.items():
            if name in config:
                continue
            if key.default is not None:
                values[name] = key.read(key.default)
            elif key.optional:
                values[name] = None
            else:
                problems.append((name, f"required key {name!r} is missing"))
        return values, problems

    def _unknown(self, name: str) -> str:
        if not self.keys:
            return f"unknown key {name!r}: this element type takes no config"
        near = difflib.get_close_matches(name, list(self.keys), n=1, cutoff=0.6)
        hint = f" (did you mean {near[0]!r}?)" if near else ""
        return f"unknown key {name!r}{hint}; expected one of: {', '.join(self.keys)}"
