"""The checker: description files read into pipelines, findings with codes
and places, the provider plan, and pictures of the result."""

from __future__ import annotations

from collections.abc import Mapping
from pathlib import Path

from ..pipeline import Pipeline
from .checking import CheckResult, check_file, check_pipeline
from .description import Description, ReadError, load, loads
from .findings import CODES, Finding, Location

__all__ = ["CODES", "CheckResult", "Description", "Finding", "Location", "ReadError", "check",
           "load", "loads"]


def check(pipeline: str | Path | Pipeline, providers: str | Path | None = None, *,
          strict: bool = False, settings: Mapping[str, str] | None = None) -> CheckResult:
    """Check a description file (a path) or a `Pipeline` built in Python;
    `ReadError` when a file cannot be read at all. `settings` map
    ``element.key`` to a config value replacing a file's."""
    if isinstance(pipeline, Pipeline):
        return check_pipeline(pipeline, strict=strict)
    return check_file(pipeline, providers, strict=strict, settings=settings)
