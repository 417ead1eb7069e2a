"""Pipeline description files: TOML, read with the standard library.

`load` reads a file (and provider manifests) into a `Description`: the
`Pipeline`, the provider declarations, the selection policy, where each
entry stands in the file, and the findings about the file itself (unknown
keys, wrong value types, missing keys, unknown names with the valid choices
and a "did you mean", malformed values). Nothing raises for bad content;
only input that cannot be read at all raises `ReadError`, whose finding
(K100 or K101, with tomllib's position) says why. The format is documented
in the README.
"""

from __future__ import annotations

import difflib
import re
import tomllib
from collections.abc import Callable, Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementKind, PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyRequirement,
                               PySelectionPolicy, PyVersion, abi_current_version)

from .. import _native
from .findings import Finding, Location
from ..pipeline import Element, ElementType, Link, Pipeline, split_ref
from ..runtime.contract import PROBLEM_CODES, contract_from_table
from ..runtime.entries import entry_problem

__all__ = ["Description", "ProviderSpec", "ReadError", "load", "loads", "notation"]

KINDS = {"source": PyElementKind.Source, "operator": PyElementKind.Operator,
         "sink": PyElementKind.Sink}
CATEGORIES = ("frame", "tensor", "metadata", "event", "batch")
PIXEL_FORMATS = ("rgb8", "rgba8", "bgr8", "bgra8", "gray8", "gray16", "nv12", "i420", "yuv420",
                 "p010")
DTYPES = {"uint8": PyDType.UInt8, "int8": PyDType.Int8, "uint16": PyDType.UInt16,
          "int16": PyDType.Int16, "int32": PyDType.Int32, "int64": PyDType.Int64,
          "float16": PyDType.Float16, "bfloat16": PyDType.BFloat16, "float32": PyDType.Float32,
          "float64": PyDType.Float64, "bool": PyDType.Bool}
COORDINATE_SPACES = ("pixel", "normalized", "sensor", "world", "roi")
CAPABILITIES = ("cuda", "fp16", "int8", "dynamic_shape", "batching", "h264", "h265", "nv12",
                "metadata", "async_execution")
REQUIREMENTS = ("cuda_required", "gpu_memory", "accelerator", "operating_system",
                "external_runtime", "custom")
POLICIES = ("highest_priority", "first_available", "manual")

_U32 = (0, 2**32 - 1)
_U64 = (0, 2**64 - 1)
_I32 = (-2**31, 2**31 - 1)

# table -> key -> (expected type name, python types)
_TOP = {"pipeline": "table", "element": "array of tables", "link": "array of tables",
        "provider": "array of tables"}
_PIPELINE = {"name": "string", "policy": "string"}
_ELEMENT = {"name": "string", "type": "string", "kind": "string", "inputs": "table",
            "outputs": "table", "config": "table", "requires": "array", "policy": "string",
            "execution": "table"}
_CONTRACT = {"category": "string", "pixel_format": "string", "width": "integer",
             "height": "integer", "dtype": "string", "shape": "array",
             "coordinate_space": "string", "content_type": "string", "class_ids": "array"}
_LINK = {"from": "string", "to": "string", "late": "boolean", "pad": "string"}
_PROVIDER = {"id": "string", "version": "string", "element_types": "array",
             "priority": "integer", "capabilities": "array", "requirements": "array",
             "abi": "string", "entry": "string"}
# tomllib makes exactly these types (a bool is not an int here).
_TYPES: dict[str, type] = {"string": str, "integer": int, "boolean": bool, "table": dict,
                           "array": list, "array of tables": list}


# The notation each requirement was read from, for messages: a requirement
# shows only its kind.
_NOTATION: dict[PyRequirement, str] = {}


def notation(requirement: PyRequirement) -> str:
    """A requirement in the file's notation (``gpu_memory:1024``) when it was
    read from one, else its kind."""
    return _NOTATION.get(requirement) or requirement.kind()


class ReadError(Exception):
    """The input cannot be read; `finding` (K100 or K101) says why and where."""

    def __init__(self, finding: Finding) -> None:
        super().__init__(str(finding))
        self.finding = finding


@dataclass(frozen=True)
class ProviderSpec:
    """One `[[provider]]` table."""

    id: str
    version: PyVersion
    element_types: tuple[str, ...]
    priority: int
    capabilities: tuple[PyCapability, ...]
    requirements: tuple[PyRequirement, ...]
    abi: PyVersion
    location: Location
    entry: str | None = None    # "package.module:Class", the implementation run

    def descriptor(self) -> PyProviderDescriptor:
        d = PyProviderDescriptor(PyProviderId(self.id), self.version).with_priority(self.priority)
        for t in self.element_types:
            d = d.with_element_type(PyElementTypeId(t))
        for c in self.capabilities:
            d = d.with_capability(c)
        for r in self.requirements:
            d = d.with_requirement(r)
        return d


@dataclass
class Description:
    """A read description file."""

    path: str
    pipeline: Pipeline
    policy: PySelectionPolicy = field(default_factory=PySelectionPolicy.highest_priority)
    policy_text: str = "highest_priority"
    providers: list[ProviderSpec] = field(default_factory=list)
    element_locations: list[Location] = field(default_factory=list)
    element_policies: list[str | None] = field(default_factory=list)
    link_locations: list[Location] = field(default_factory=list)
    element_rows: list[int] = field(default_factory=list)    # [[element]] table of each
    # Per element: its [element.execution] table, merged over the class's
    # contract when the run knows the class.
    execution_tables: list[dict[str, Any] | None] = field(default_factory=list)
    positions: _Positions | None = None

    def port_location(self, index: int, side: str, port: str) -> Location | None:
        """Where element `index` declares its port ("inputs" or "outputs" side)."""
        if self.positions is None or index >= len(self.element_rows):
            return None
        return self.positions.of("element", self.element_rows[index], side, port)
    findings: list[Finding] = field(default_factory=list)
    declares_providers: bool = False


# ---- where things are ---------------------------------------------------------

_BARE = r"[A-Za-z0-9_-]+|\"(?:[^\"\\]|\\.)*\"|'[^']*'"
_KEY = re.compile(rf"\s*((?:{_BARE})(?:\s*\.\s*(?:{_BARE}))*)\s*=")
_HEADER = re.compile(rf"\s*(\[\[?)\s*((?:{_BARE})(?:\s*\.\s*(?:{_BARE}))*)\s*\]")
_HEADER_LINE = re.compile(rf"^[ \t]*(\[\[?)[ \t]*((?:{_BARE})(?:[ \t]*\.[ \t]*(?:{_BARE}))*)[ \t]*\]",
                          re.M)
_PART = re.compile(_BARE)
_INLINE_KEY = re.compile(r"[{,]\s*([A-Za-z0-9_-]+)\s*=")
_STRINGS = re.compile(r"\"(?:[^\"\\]|\\.)*\"|'[^']*'")


def _parts(dotted: str) -> tuple[str, ...]:
    return tuple(p.strip("\"'") for p in _PART.findall(dotted))


class _Positions:
    """Line and column of table headers and keys, by path: ("element", 3,
    "inputs", "frames"). A line scan after tomllib accepted the text, so only
    the shapes valid TOML takes need to be known. The headers are found at
    once; the keys only when a finding first asks for one."""

    def __init__(self, text: str, file: str) -> None:
        self.file = file
        self.text = text
        self.lines: list[str] = []
        self.at: dict[tuple[object, ...], tuple[int, int]] = {}
        self.scanned = False
        if '"""' in text or "'''" in text:
            self._scan()        # a multi-line string may hold header-like lines
            return
        counts: dict[tuple[object, ...], int] = {}
        line, last = 1, 0
        for m in _HEADER_LINE.finditer(text):
            line += text.count("\n", last, m.start())
            last = m.start()
            self._header(m[1], m[2], counts, line, m.start(1) - m.start() + 1)

    def _header(self, brackets: str, dotted: str, counts: dict[tuple[object, ...], int],
                line: int, column: int) -> tuple[object, ...]:
        if "." in dotted or '"' in dotted or "'" in dotted:
            path = self._resolve(_parts(dotted), counts)
        else:
            path = (dotted.strip(),)
        if brackets == "[[":
            counts[path] = counts.get(path, 0) + 1
            path = path + (counts[path] - 1,)
        self.at.setdefault(path, (line, column))
        return path

    def _scan(self) -> None:
        self.scanned = True
        self.lines = self.text.splitlines()
        counts: dict[tuple[object, ...], int] = {}
        table: tuple[object, ...] = ()
        depth = 0               # open brackets of a value that spans lines
        in_string: str | None = None
        at = self.at
        for number, line in enumerate(self.lines, 1):
            if in_string is not None:
                if line.count(in_string) % 2:
                    in_string = None
                continue
            if depth:
                depth += self._depth(line)
                continue
            if not line or line.lstrip().startswith("#"):
                continue
            if line.lstrip().startswith("["):
                m = _HEADER.match(line)
                if m:
                    table = self._header(m[1], m[2], counts, number, m.start(1) + 1)
                    continue
            m = _KEY.match(line)
            if not m:
                continue
            parts = _parts(m[1])
            column = m.start(1) + 1
            for k in range(1, len(parts) + 1):
                at.setdefault(table + parts[:k], (number, column))
            rest = line[m.end():]
            for inner in _INLINE_KEY.finditer(rest):
                at.setdefault(table + parts + (inner[1],), (number, m.end() + inner.start(1) + 1))
            for quote in ('"""', "'''"):
                if rest.count(quote) % 2:
                    in_string = quote
            if in_string is None:
                depth = self._depth(rest)

    @staticmethod
    def _depth(text: str) -> int:
        text = _STRINGS.sub("", text.split("#", 1)[0] if "#" in text and '"' not in text else text)
        return text.count("[") + text.count("{") - text.count("]") - text.count("}")

    @staticmethod
    def _resolve(parts: tuple[str, ...], counts: dict[tuple[object, ...], int]) -> tuple[object, ...]:
        # [element.inputs] after [[element]] belongs to the last element.
        path: tuple[object, ...] = ()
        for p in parts[:-1]:
            path += (p,)
            if path in counts:
                path += (counts[path] - 1,)
        return path + (parts[-1],)

    def of(self, *path: object, needle: str | None = None) -> Location:
        """The place of `path`, or of the nearest enclosing entry that has one."""
        p = tuple(path)
        if not self.scanned and (needle is not None or p not in self.at):
            self._scan()
        while p and p not in self.at:
            p = p[:-1]
        line, column = self.at.get(p, (1, 1))
        if needle is not None and 0 < line <= len(self.lines):
            found = self.lines[line - 1].find(needle, column - 1)
            if found >= 0:
                column = found + 1
        return Location(self.file, line, column)


# ---- reading ----------------------------------------------------------------

# Where a finding points, resolved only when one is made: (path, needle).
_At = tuple[tuple[object, ...], str | None]


def _here(*path: object, needle: str | None = None) -> _At:
    return path, needle


def _choices(value: str, options: Sequence[str]) -> str:
    near = difflib.get_close_matches(value, options, n=1, cutoff=0.6)
    hint = f" (did you mean {near[0]!r}?)" if near else ""
    return f"{hint}; expected one of: {', '.join(options)}"


class _Reader:
    def __init__(self, pos: _Positions, findings: list[Finding]) -> None:
        self.pos = pos
        self.findings = findings
        self.contracts: dict[object, PyDataContract] = {}
        self.requirements: dict[str, PyRequirement] = {}

    def add(self, code: str, message: str, at: Location | _At, **ids: Any) -> None:
        if not isinstance(at, Location):
            at = self.pos.of(*at[0], needle=at[1])
        self.findings.append(Finding(code, message, at, **ids))

    def keys(self, table: Mapping[str, Any], schema: Mapping[str, str], what: str,
             *path: object, required: Sequence[str] = ()) -> dict[str, Any]:
        """The keys of `table` that are known and of the right type; findings
        for the others and for missing required ones."""
        good: dict[str, Any] = {}
        for key, value in table.items():
            expected = schema.get(key)
            if expected is not None and type(value) is _TYPES[expected] and \
                    expected != "array of tables":
                good[key] = value
                continue
            if expected is None:
                self.add("K102", f"unknown key {key!r} in {what}{_choices(key, list(schema))}",
                         self.pos.of(*path, key))
            elif not _fits(value, expected):
                self.add("K103", f"{what}: {key!r} must be {_article(expected)}, "
                         f"not {_toml_type(value)}", self.pos.of(*path, key))
            else:
                good[key] = value
        for key in required:
            if key not in table:
                self.add("K104", f"{what}: required key {key!r} is missing", self.pos.of(*path))
        return good

    def name(self, value: str, options: Sequence[str], what: str, at: _At) -> bool:
        if value in options:
            return True
        self.add("K105", f"unknown {what} {value!r}{_choices(value, options)}", at)
        return False

    def integer(self, value: int, bounds: tuple[int, int], what: str, at: _At) -> bool:
        if bounds[0] <= value <= bounds[1]:
            return True
        self.add("K106", f"{what} {value} is out of range {bounds[0]}..{bounds[1]}", at)
        return False

    def strings(self, values: list[object], what: str, *path: object) -> list[str]:
        good = []
        for v in values:
            if isinstance(v, str):
                good.append(v)
            else:
                self.add("K103", f"{what}: items must be strings, not {_toml_type(v)}",
                         self.pos.of(*path))
        return good

    # ---- values ----

    def version(self, text: str, what: str, at: _At) -> PyVersion | None:
        m = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", text)
        if m and all(int(x) < 2**32 for x in m.groups()):
            return PyVersion(*(int(x) for x in m.groups()))
        self.add("K106", f"{what} {text!r} is not a version 'major.minor.patch'", at)
        return None

    def policy(self, text: str, at: _At) -> PySelectionPolicy | None:
        kind, colon, arg = text.partition(":")
        if kind == "manual" and colon:
            return PySelectionPolicy.manual(PyProviderId(arg))
        if text == "highest_priority":
            return PySelectionPolicy.highest_priority()
        if text == "first_available":
            return PySelectionPolicy.first_available()
        if kind == "manual":
            self.add("K106", "policy 'manual' needs a provider id: 'manual:<provider id>'", at)
            return None
        self.name(text, ["highest_priority", "first_available", "manual:<provider id>"],
                  "selection policy", at)
        return None

    def requirement(self, text: str, at: _At) -> PyRequirement | None:
        made = self.requirements.get(text)
        if made is None:
            made = self._requirement(text, at)
            if made is not None:
                _NOTATION.setdefault(made, text)
                self.requirements[text] = made
        return made

    def _requirement(self, text: str, at: _At) -> PyRequirement | None:
        kind, colon, arg = text.partition(":")
        if kind == "cuda_required" and not colon:
            return PyRequirement.cuda_required()
        if kind in ("gpu_memory", "accelerator", "operating_system", "external_runtime",
                    "custom"):
            if not colon:
                self.add("K106", f"requirement {text!r} needs a value: '{kind}:<...>'", at)
                return None
            if kind == "gpu_memory":
                if not arg.isdigit() or not self.integer(int(arg), _U64, "gpu_memory bytes", at):
                    if not arg.isdigit():
                        self.add("K106", f"gpu_memory needs a byte count, not {arg!r}", at)
                    return None
                return PyRequirement.gpu_memory(int(arg))
            make: Callable[[str], PyRequirement] = getattr(PyRequirement, kind)
            return make(arg)
        self.name(kind, REQUIREMENTS, "requirement kind", at)
        return None

    def capability(self, text: str, at: _At) -> PyCapability | None:
        kind, colon, tag = text.partition(":")
        if kind == "custom" and colon:
            return PyCapability.custom(tag)
        if text in CAPABILITIES:
            make: Callable[[], PyCapability] = getattr(PyCapability, text)
            return make()
        self.name(text, CAPABILITIES + ("custom:<tag>",), "capability", at)
        return None

    def contract(self, value: object, name: str, side: str, port: str,
                 *path: object) -> PyDataContract | None:
        # Files repeat a few contracts many times: one read of each that
        # reads cleanly serves the rest.
        key = value if type(value) is str else ("table", repr(value)) if type(value) is dict \
            else None
        made = self.contracts.get(key) if key is not None else None
        if made is None:
            before = len(self.findings)
            made = self._contract(value, f"element {name!r} {side[:-1]} {port!r}", path)
            if made is not None and key is not None and len(self.findings) == before:
                self.contracts[key] = made
        return made

    def _contract(self, value: object, what: str, path: tuple[object, ...]
                  ) -> PyDataContract | None:
        at = _here(*path)
        if isinstance(value, str):
            return self._category(value, {}, what, at, path)
        if not isinstance(value, dict):
            self.add("K103", f"{what} must be a category name or a table, not {_toml_type(value)}",
                     at)
            return None
        fields = self.keys(value, _CONTRACT, what, *path, required=["category"])
        if "category" not in fields:
            return None
        return self._category(fields.pop("category"), fields, what, at, path)

    def _category(self, category: str, fields: dict[str, Any], what: str, at: _At,
                  path: tuple[object, ...]) -> PyDataContract | None:
        kind, colon, tag = category.partition(":")
        if kind == "custom" and colon:
            for key in fields:
                self.add("K106", f"{what}: a custom contract takes no constraints ({key!r})",
                         self.pos.of(*path, key))
            return PyDataContract.custom(tag)
        if not self.name(category, CATEGORIES + ("custom:<tag>",), "contract category", at):
            return None
        if not fields:
            return getattr(PyDataContract, category)()  # type: ignore[no-any-return]
        spec = PyContractSpec()
        for key, v in fields.items():
            here = _here(*path, key)
            if key in ("width", "height"):
                if self.integer(v, _U32, key, here):
                    spec = spec.with_width(v) if key == "width" else spec.with_height(v)
            elif key == "pixel_format":
                low, colon, name = v.partition(":")
                if low == "custom" and colon:
                    spec = spec.with_pixel_format(PyPixelFormat.custom(name))
                elif self.name(v, PIXEL_FORMATS + ("custom:<name>",), "pixel format", here):
                    spec = spec.with_pixel_format(getattr(PyPixelFormat, v)())
            elif key == "dtype":
                if self.name(v, list(DTYPES), "dtype", here):
                    spec = spec.with_dtype(DTYPES[v])
            elif key == "coordinate_space":
                if v.startswith("custom:") or self.name(
                        v, COORDINATE_SPACES + ("custom:<name>",), "coordinate space", here):
                    spec = spec.with_coordinate_space(v)
            elif key == "content_type":
                spec = spec.with_content_type(v)
            else:  # shape, class_ids
                bounds = _U64 if key == "shape" else _U32
                if all(isinstance(x, int) and not isinstance(x, bool) for x in v):
                    if all(self.integer(x, bounds, f"{key} item", here) for x in v):
                        spec = spec.with_shape(v) if key == "shape" else spec.with_class_ids(v)
                else:
                    self.add("K103", f"{what}: {key!r} must be an array of integers", here)
        return _native.contract_with(category, spec)


def _fits(value: Any, expected: str) -> bool:
    if expected == "array of tables":
        return isinstance(value, list) and all(type(x) is dict for x in value)
    return type(value) is _TYPES[expected]


def _article(expected: str) -> str:
    return ("an " if expected[0] in "aeiou" else "a ") + expected


# What a TOML value is called in messages; bool before int, as bools are ints.
_TOML_TYPES = ((bool, "a boolean"), (int, "an integer"), (float, "a float"), (str, "a string"),
               (list, "an array"), (dict, "a table"))


def _toml_type(value: object) -> str:
    return next((name for t, name in _TOML_TYPES if isinstance(value, t)), "a date or time")


def _parse(text: str, file: str) -> dict[str, Any]:
    try:
        return tomllib.loads(text)
    except tomllib.TOMLDecodeError as exc:
        # tomllib ends its message with "(at line L, column C)".
        m = re.search(r"\(at line (\d+), column (\d+)\)$", str(exc))
        where = Location(file, int(m[1]), int(m[2])) if m else Location(file, 1, 1)
        message = str(exc)[:m.start()].rstrip() if m else str(exc)
        raise ReadError(Finding("K101", f"invalid TOML: {message}", where)) from None


def _read_text(path: Path) -> str:
    try:
        return path.read_text(encoding="utf-8")
    except (OSError, UnicodeDecodeError) as exc:
        reason = exc.strerror if isinstance(exc, OSError) and exc.strerror else str(exc)
        raise ReadError(Finding("K100", f"cannot read {str(path)!r}: {reason}")) from None


def load(path: str | Path, providers: str | Path | None = None) -> Description:
    """Read a description file, and the `*.toml` provider manifests in the
    directory `providers` when given."""
    path = Path(path)
    description = loads(_read_text(path), str(path))
    if providers is not None:
        folder = Path(providers)
        if not folder.is_dir():
            raise ReadError(Finding("K100", f"providers directory {str(folder)!r} does not exist"))
        for manifest in sorted(folder.glob("*.toml")):
            _providers(_read_text(manifest), str(manifest), description)
    return description


def loads(text: str, file: str = "<string>") -> Description:
    """Read description text; `file` is the name findings give."""
    data = _parse(text, file)
    pos = _Positions(text, file)
    description = Description(file, Pipeline(Path(file).stem), positions=pos)
    r = _Reader(pos, description.findings)
    top = r.keys(data, _TOP, "the file")
    head = r.keys(top.get("pipeline", {}), _PIPELINE, "[pipeline]", "pipeline")
    if "name" in head:
        description.pipeline.name = head["name"]
    if "policy" in head:
        chosen = r.policy(head["policy"], _here("pipeline", "policy"))
        if chosen is not None:
            description.policy, description.policy_text = chosen, head["policy"]
    for i, table in enumerate(top.get("element", [])):
        _element(r, i, table, description)
    for i, table in enumerate(top.get("link", [])):
        _link(r, i, table, description)
    _read_providers(r, top.get("provider", []), "provider", description)
    return description


def _providers(text: str, file: str, description: Description) -> None:
    data = _parse(text, file)
    r = _Reader(_Positions(text, file), description.findings)
    top = r.keys(data, {"provider": "array of tables"}, "a provider manifest")
    _read_providers(r, top.get("provider", []), "provider", description)


def _element(r: _Reader, i: int, table: dict[str, Any], d: Description) -> None:
    at = r.pos.of("element", i)
    before = len(r.findings)
    f = r.keys(table, _ELEMENT, "[[element]]", "element", i, required=["name", "type", "kind"])
    if "name" not in f:
        return
    name: str = f["name"]
    kind = KINDS.get(f.get("kind", "operator"))
    if kind is None:
        r.name(f["kind"], list(KINDS), "element kind", _here("element", i, "kind"))
        kind = PyElementKind.Operator
    sides: list[dict[str, PyDataContract]] = [{}, {}]
    for side, key in enumerate(("inputs", "outputs")):
        for port, value in f.get(key, {}).items():
            contract = r.contract(value, name, key, port, "element", i, key, port)
            # A port whose contract is unreadable is still declared, so that
            # its links do not add findings of their own.
            sides[side][port] = contract if contract is not None else PyDataContract.custom("?")
    config: dict[str, str] = {}
    for key, value in f.get("config", {}).items():
        if isinstance(value, str):
            config[key] = value
        else:
            r.add("K103", f"element {name!r} config {key!r} must be a string, not "
                  f"{_toml_type(value)}",
                  _here("element", i, "config", key))
    requires = None
    if "requires" in f:
        requires = tuple(req for text in r.strings(f["requires"], f"element {name!r} requires",
                                                    "element", i, "requires")
                         if (req := r.requirement(text, _here("element", i, "requires",
                                                                 needle=text))) is not None)
    policy = None
    if "policy" in f:
        policy = r.policy(f["policy"], _here("element", i, "policy"))
    table = f.get("execution")
    if table is not None:
        for key_path, kind_of, message in contract_from_table(table, None, sides[0])[2]:
            r.add(PROBLEM_CODES[kind_of], f"element {name!r}: {message}",
                  _here("element", i, "execution", *key_path))
    d.execution_tables.append(table)
    element_type = ElementType(f.get("type", ""), kind, sides[0], sides[1])
    d.pipeline._add(Element(name, element_type, config, requires, policy))
    d.element_locations.append(at)
    d.element_rows.append(i)
    for wrong in r.findings[before:]:       # what is wrong with this element
        wrong.elements = (name,)
    d.element_policies.append(f["policy"] if policy is not None else None)


def _link(r: _Reader, i: int, table: dict[str, Any], d: Description) -> None:
    before = len(r.findings)
    f = r.keys(table, _LINK, "[[link]]", "link", i, required=["from", "to"])
    # A link with a key that is not understood is dropped whole: which link
    # was meant is not known.
    ok = len(r.findings) == before
    if "from" not in f or "to" not in f:
        return
    for key in ("to",) if "pad" in f else ("from", "to"):
        try:
            split_ref(f[key])
        except ValueError as exc:
            hint = " (a dynamic link names its pad with 'pad')" if key == "from" else ""
            r.add("K106", f"[[link]] {key!r}: {exc}{hint}", _here("link", i, key))
            ok = False
    if not ok:
        return
    if "pad" in f:
        link = Link(f["from"], f["to"], True, f["pad"])
    else:
        link = Link(f["from"], f["to"], bool(f.get("late", False)))
    d.pipeline._links.append(link)
    d.link_locations.append(r.pos.of("link", i))


def _read_providers(r: _Reader, tables: list[dict[str, Any]], key: str, d: Description) -> None:
    for i, table in enumerate(tables):
        d.declares_providers = True
        at = r.pos.of(key, i)
        f = r.keys(table, _PROVIDER, "[[provider]]", key, i,
                   required=["id", "version", "element_types"])
        if not {"id", "version", "element_types"} <= f.keys():
            continue
        version = r.version(f["version"], "version", _here(key, i, "version"))
        abi = abi_current_version()
        if "abi" in f:
            abi = r.version(f["abi"], "abi", _here(key, i, "abi"))  # type: ignore[assignment]
        priority = f.get("priority", 0)
        if not r.integer(priority, _I32, "priority", _here(key, i, "priority")):
            priority = 0
        types = r.strings(f["element_types"], "element_types", key, i, "element_types")
        capabilities = tuple(c for text in r.strings(f.get("capabilities", []), "capabilities",
                                                     key, i, "capabilities")
                             if (c := r.capability(text, _here(key, i, "capabilities",
                                                                  needle=text))) is not None)
        requirements = tuple(q for text in r.strings(f.get("requirements", []), "requirements",
                                                     key, i, "requirements")
                             if (q := r.requirement(text, _here(key, i, "requirements",
                                                                   needle=text))) is not None)
        entry = f.get("entry")
        if entry is not None:
            problem = entry_problem(entry, [str(Path(r.pos.file).resolve().parent)])
            if problem is not None:
                r.add("K410", f"provider {f['id']!r}: entry {entry!r}: {problem}",
                      _here(key, i, "entry"))
        if version is None or abi is None:
            continue
        d.providers.append(ProviderSpec(f["id"], version, tuple(types), priority, capabilities,
                                        requirements, abi, at, entry))
