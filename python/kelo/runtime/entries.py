"""Entry points of providers: ``package.module:Name``, the element class that
runs when selection picks the provider.

`entry_problem` tells, without running any code, whether the module of an
entry can be found: only the top-level name is looked up by the import
system's finders (which read directories, they do not import); the
submodules are looked for as files below it. Entries are looked up beside
the description file first. `kelo check` uses it. Only
`import_entry`, called when a run starts, imports.
"""

from __future__ import annotations

import importlib
import importlib.machinery
import importlib.util
import sys
from collections.abc import Sequence
from pathlib import Path
from typing import Any

__all__ = ["entry_problem", "import_entry", "split_entry"]


def split_entry(entry: str) -> tuple[str, str]:
    """(module, attribute path); ValueError names a malformed entry."""
    module, colon, name = entry.partition(":")
    parts = module.split(".")
    if not colon or not all(p.isidentifier() for p in parts) or \
            not all(p.isidentifier() for p in name.split(".")):
        raise ValueError(f"entry {entry!r} is not of the form 'package.module:Name'")
    return module, name


def _search_locations(top: str, beside: Sequence[str]) -> list[str] | None:
    """Where the submodules of top-level package `top` live; None when `top`
    cannot be found, [] when it is a plain module."""
    loaded = sys.modules.get(top)
    if loaded is not None:
        return list(getattr(loaded, "__path__", []))
    try:
        spec = importlib.machinery.PathFinder.find_spec(top, [*beside, *sys.path])
    except (ImportError, ValueError):
        return None
    if spec is None:
        # Built-in and frozen modules, and finders installed by others.
        try:
            spec = importlib.util.find_spec(top)
        except (ImportError, ValueError):
            return None
        if spec is None:
            return None
    return list(spec.submodule_search_locations or [])


def _submodule(locations: list[str], name: str) -> list[str] | None:
    """The search locations of submodule `name` found in `locations` ([] for
    a module file), None when it is not there."""
    found: list[str] = []
    for where in locations:
        folder = Path(where)
        package = folder / name
        if (package / "__init__.py").is_file():
            return [str(package)]
        if package.is_dir():
            found.append(str(package))  # a namespace package portion
            continue
        for suffix in importlib.machinery.all_suffixes():
            if (folder / (name + suffix)).is_file():
                return []
    return found or None


def entry_problem(entry: str, beside: Sequence[str] = ()) -> str | None:
    """Why the module of `entry` cannot be found, or None when it can;
    `beside` are folders searched first (the description file's)."""
    try:
        module, _ = split_entry(entry)
    except ValueError as exc:
        return str(exc)
    parts = module.split(".")
    locations = _search_locations(parts[0], beside)
    if locations is None:
        return f"no module named {parts[0]!r}"
    for depth, part in enumerate(parts[1:], 1):
        below = _submodule(locations, part)
        if below is None:
            return f"no module named {'.'.join(parts[:depth + 1])!r}"
        locations = below
    return None


def import_entry(entry: str, beside: Sequence[str] = ()) -> Any:
    """The object `entry` names, its module imported (`beside`: folders
    searched first)."""
    module, name = split_entry(entry)
    added = [folder for folder in beside if folder not in sys.path]
    sys.path[:0] = added
    try:
        found: Any = importlib.import_module(module)
    finally:
        for folder in added:
            sys.path.remove(folder)
    for part in name.split("."):
        found = getattr(found, part)
    return found
