"""Export and import of the data model: plain dicts, JSON lines, pickling.

Every class of `kelo.ext.data` converts to a dict of plain values and back,
losslessly: identifiers as their text, times and durations as integer
nanoseconds, single-precision values as the shortest decimal that reads back
to the same value, non-finite values as the texts ``"inf"``, ``"-inf"`` and
``"nan"`` (``"nan:0x..."`` with the bits of any other NaN). Metadata carries
all eleven of its lists, the ones Python cannot reach included.

A dict from `to_dict` names its type and the schema version; the JSON Schema
of the text form ships with the package (`schema_path`). Reading refuses
anything the schema does not describe (missing or unknown fields, wrong
types, identifiers that do not parse, a newer schema version) with a
`ValueError` naming the field path, e.g. ``objects[3].bbox.width``.

Importing this module (which importing `kelo` does) registers pickling, and
with it `copy.copy` and `copy.deepcopy`, for every class of the data model.
"""

from __future__ import annotations

import copyreg
import json
import os
from collections.abc import Iterable, Iterator
from pathlib import Path
from typing import IO, Any, Union

from .. import _native
from ..ext.data import PyFrame, PyMetadata

__all__ = [
    "SCHEMA_VERSION",
    "from_dict",
    "read_jsonl",
    "schema_path",
    "to_dict",
    "write_jsonl",
]

#: The version of the text form written here, and the newest one read.
SCHEMA_VERSION = 1

#: The JSON Schema of one JSON-lines record (and of every type's dict).
schema_path = Path(__file__).with_name("schema") / f"record-v{SCHEMA_VERSION}.json"

PathOrFile = Union[str, "os.PathLike[str]", IO[str]]


def to_dict(value: object) -> dict[str, Any]:
    """The value as a dict of plain values, tagged with its type and the schema version."""
    result: dict[str, Any] = _native.to_dict(value)
    return result


def from_dict(d: dict[str, Any]) -> Any:
    """The value a dict made by `to_dict` (or read from JSON) describes."""
    return _native.from_dict(d)


def _record(frame: PyFrame, metadata: PyMetadata) -> dict[str, Any]:
    if type(frame) is not PyFrame or type(metadata) is not PyMetadata:
        raise TypeError(
            "records are (PyFrame, PyMetadata) pairs, got "
            f"({type(frame).__name__}, {type(metadata).__name__})"
        )
    return {
        "schema": SCHEMA_VERSION,
        "frame": _native.encode(frame),
        "metadata": _native.encode(metadata),
    }


def _dumps(record: dict[str, Any]) -> str:
    return json.dumps(record, ensure_ascii=False, allow_nan=False, separators=(",", ":"))


def write_jsonl(path_or_file: PathOrFile, records: Iterable[tuple[PyFrame, PyMetadata]]) -> int:
    """Write (frame, metadata) pairs as JSON lines, one record per line.

    Takes a path (the file is replaced) or an open text file. Returns the
    number of records written.
    """
    lines = (_dumps(_record(frame, metadata)) + "\n" for frame, metadata in records)
    if isinstance(path_or_file, (str, os.PathLike)):
        with open(path_or_file, "w", encoding="utf-8") as f:
            return _write_lines(f, lines)
    return _write_lines(path_or_file, lines)


def _write_lines(f: IO[str], lines: Iterable[str]) -> int:
    count = 0
    for line in lines:
        f.write(line)
        count += 1
    return count


def _no_constant(name: str) -> Any:
    raise ValueError(f"{name} is not a JSON number")


def _read_record(line: str, number: int) -> tuple[PyFrame, PyMetadata]:
    where = f"line {number}"
    try:
        d = json.loads(line, parse_constant=_no_constant)
    except ValueError as e:
        raise ValueError(f"{where}: not a JSON record: {e}") from None
    if not isinstance(d, dict):
        raise ValueError(f"{where}: expected an object, got {type(d).__name__!r}")
    version = d.get("schema")
    if "schema" not in d:
        raise ValueError(f"{where}: schema: missing field")
    if type(version) is not int or version < 1:
        raise ValueError(f"{where}: schema: expected a version number, got {version!r}")
    if version > SCHEMA_VERSION:
        raise ValueError(
            f"{where}: schema: schema version {version} is newer than this kelo reads "
            f"({SCHEMA_VERSION})"
        )
    for key in ("frame", "metadata"):
        if key not in d:
            raise ValueError(f"{where}: {key}: missing field")
    for key in d:
        if key not in ("schema", "frame", "metadata"):
            raise ValueError(f"{where}: {key}: unknown field")
    try:
        frame = _native.decode("Frame", d["frame"], "frame")
        metadata = _native.decode("Metadata", d["metadata"], "metadata")
    except ValueError as e:
        raise ValueError(f"{where}: {e}") from None
    return frame, metadata


def read_jsonl(path_or_file: PathOrFile) -> Iterator[tuple[PyFrame, PyMetadata]]:
    """Read (frame, metadata) pairs back from JSON lines, one per record.

    Blank lines are skipped. A record that does not read raises `ValueError`
    naming its line and the field.
    """
    if isinstance(path_or_file, (str, os.PathLike)):
        with open(path_or_file, encoding="utf-8") as f:
            yield from _read_lines(f)
    else:
        yield from _read_lines(path_or_file)


def _read_lines(f: IO[str]) -> Iterator[tuple[PyFrame, PyMetadata]]:
    for number, line in enumerate(f, 1):
        if line.strip():
            yield _read_record(line, number)


# ---- pickling and copying ---------------------------------------------------


def _restore(tag: str, state: object) -> Any:
    return _native.restore(tag, state)


def _reduce(value: object) -> tuple[Any, tuple[str, object]]:
    tag, state = _native.state(value)
    return _restore, (tag, state)


for _cls in _native.classes():
    copyreg.pickle(_cls, _reduce)
del _cls
