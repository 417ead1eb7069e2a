"""Pipeline description files: TOML, read with the standard library.

`load` reads a file (and provider manifests) into a `Description`: the
`Pipeline`, the provider declarations, the selection policy, where each
entry stands in the file, and the findings about the file itself (unknown
keys, wrong value types, missing keys, unknown names with the valid choices
and a "did you mean", malformed values). Nothing raises for bad content;
only a pipeline file that cannot be read at all raises `ReadError`, whose
finding (K100 or K101, with tomllib's position) says why. The format is
documented in the README.
"""

from __future__ import annotations

import difflib
import functools
import re
import tomllib
from bisect import bisect_right
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, NamedTuple

from kelo.ext.data import PyDType, PyPixelFormat
from kelo.ext.graph import PyContractSpec, PyDataContract, PyElementKind, PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyRequirement,
                               PyVersion, abi_current_version)

from .. import _native
from .._native import names
from ..pipeline import ElementType, Pipeline, selection_policy, split_ref
from ..runtime.contract import PROBLEM_CODES, contract_from_table
from ..runtime.entries import entry_problem
from .findings import Finding, Location

__all__ = ["Description", "ProviderSpec", "ReadError", "builtin_providers", "load", "loads"]

NAMES = names()
KINDS = {"source": PyElementKind.Source, "operator": PyElementKind.Operator,
         "sink": PyElementKind.Sink}
_DTYPES = {n.lower(): v for n, v in vars(PyDType).items() if isinstance(v, PyDType)}
_POLICIES = ("highest_priority", "first_available", "manual:<provider id>")

_U32, _U64, _I32 = (0, 2**32 - 1), (0, 2**64 - 1), (-2**31, 2**31 - 1)

# table -> key -> expected type
_TOP = {"pipeline": "table", "element": "array of tables", "link": "array of tables",
        "provider": "array of tables"}
_PIPELINE = {"name": "string", "policy": "string", "replicas": "table"}
_ELEMENT = {"name": "string", "type": "string", "kind": "string", "inputs": "table",
            "outputs": "table", "config": "table", "requires": "array", "policy": "string",
            "execution": "table", "place": "string"}
_CONTRACT = {"category": "string", "pixel_format": "string", "width": "integer",
             "height": "integer", "dtype": "string", "shape": "array",
             "coordinate_space": "string", "content_type": "string", "class_ids": "array"}
_LINK = {"from": "string", "to": "string", "late": "boolean", "pad": "string"}
_PROVIDER = {"id": "string", "version": "string", "element_types": "array",
             "priority": "integer", "capabilities": "array", "requirements": "array",
             "abi": "string", "entry": "string"}
_MANIFEST = {"provider": "array of tables", "element_type": "array of tables"}
# tomllib makes exactly these types (a bool is not an int here).
_TYPES: dict[str, type] = {"string": str, "integer": int, "boolean": bool, "table": dict,
                           "array": list, "array of tables": list}


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
    location: Location | None = None
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


class Unused(NamedTuple):
    """A `[[provider]]` table left out of the plan, and why."""

    id: str | None
    element_types: tuple[str, ...]
    location: Location
    reason: str


@dataclass
class Description:
    """A read description file, or a pipeline written in Python."""

    path: str
    pipeline: Pipeline
    policy: str = "highest_priority"
    policy_read: bool = True                # False: the policy text is not one
    providers: list[ProviderSpec] = field(default_factory=list)
    unused: list[Unused] = field(default_factory=list)
    declares_providers: bool = False
    findings: list[Finding] = field(default_factory=list)
    # Per element: the requirements as written (None: the type's, told by
    # kind), what could not be read, and whether the kind is unknown.
    requires: list[tuple[str, ...] | None] = field(default_factory=list)
    unread: list[tuple[str, ...]] = field(default_factory=list)
    unknown_kind: set[int] = field(default_factory=set)
    rows: list[int] = field(default_factory=list)         # [[element]] table of each
    # Per element: its [element.execution] table, merged over the class's
    # contract when a run knows the class.
    execution_tables: list[dict[str, Any] | None] = field(default_factory=list)
    link_rows: list[int] = field(default_factory=list)    # [[link]] table of each
    places: list[str | None] = field(default_factory=list)   # per element: its `place`
    replicas: dict[str, int] = field(default_factory=dict)   # placement group -> copies
    positions: _Positions | None = None
    settings: set[tuple[str, str]] = field(default_factory=set)  # (element, key) set by `load`

    def element_at(self, index: int, *path: object) -> Location | None:
        """Where element `index` (or `path` inside its table) stands."""
        if self.positions is None or index >= len(self.rows):
            return None
        return self.positions.of("element", self.rows[index], *path)

    def link_at(self, index: int) -> Location | None:
        if self.positions is None or index >= len(self.link_rows):
            return None
        return self.positions.of("link", self.link_rows[index])


# ---- where things are ---------------------------------------------------------

_SPACE = re.compile(r"(?:[ \t\r\n]|#[^\n]*)*")
_BARE = re.compile(r"[A-Za-z0-9_-]+")
_STRING = re.compile(r'"""(?:\\.|[^\\])*?""""{0,2}|\'\'\'.*?\'\'\'\'{0,2}|"(?:\\.|[^"\\\n])*"'
                     r"|'[^'\n]*'", re.S)
_SCALAR = re.compile(r"[^,\]}\n#]*")
_HEADS = re.compile(r"^[ \t]*\[\[[ \t]*(element|link|provider)[ \t]*\]\]", re.M)


class _Positions:
    """Line and column of every table, key and array item of a text tomllib
    accepted, by path: ("element", 3, "requires", 1). One pass over the text,
    made when a finding first asks for a place."""

    def __init__(self, text: str, file: str) -> None:
        self.text, self.file = text, file
        self.at: dict[tuple[object, ...], int] | None = None     # path -> offset
        self.heads: dict[str, list[int]] | None = None   # [[element]] and the like
        self.tables: dict[str, int] = {}    # how many of each the parse found
        self.starts: list[int] | None = None     # offset of each line
        self.plain = '"""' not in text and "'''" not in text    # no multi-line strings

    def of(self, *path: object) -> Location:
        """The place of `path`, or of the nearest enclosing entry that has one."""
        if self.at is None and len(path) == 2 and isinstance(path[1], int) and self.plain:
            # Most findings stand at an [[element]], [[link]] or [[provider]]
            # table: those lines alone are found first, as no other line of
            # a text without multi-line strings can look like them.
            if self.heads is None:
                self.heads = {}
                for m in _HEADS.finditer(self.text):
                    self.heads.setdefault(m[1], []).append(m.start() + len(m[0]) - len(m[0].lstrip()))
            found = self.heads.get(str(path[0]), [])
            if path[1] < len(found) == self.tables.get(str(path[0])):
                return self._location(found[path[1]])
        if self.at is None:
            self.at = {}
            self.i = 0
            try:
                self._document()
            except (IndexError, StopIteration):
                pass            # valid TOML never gets here; what was found stands
        p = tuple(path)
        while p and p not in self.at:
            p = p[:-1]
        return self._location(self.at.get(p, 0))

    def _location(self, offset: int) -> Location:
        if self.starts is None:
            self.starts = [0] + [m.end() for m in re.finditer("\n", self.text)]
        line = bisect_right(self.starts, offset)
        return Location(self.file, line, offset - self.starts[line - 1] + 1)

    def _skip(self) -> None:
        self.i = _SPACE.match(self.text, self.i).end()  # type: ignore[union-attr]

    def _key(self) -> tuple[str, ...]:
        parts = []
        while True:
            self._skip()
            m = _STRING.match(self.text, self.i) or _BARE.match(self.text, self.i)
            if m is None:
                raise StopIteration
            self.i = m.end()
            parts.append(tomllib.loads(f"k = {m[0]}")["k"] if m[0][0] in "\"'" else m[0])
            self._skip()
            if self.text[self.i] != ".":
                return tuple(parts)
            self.i += 1

    def _mark(self, path: tuple[object, ...], offset: int) -> None:
        assert self.at is not None
        self.at.setdefault(path, offset)

    def _document(self) -> None:
        counts: dict[tuple[object, ...], int] = {}
        table: tuple[object, ...] = ()
        text = self.text
        while True:
            self._skip()
            if self.i >= len(text):
                return
            start = self.i
            if text[start] == "[":
                double = text.startswith("[[", start)
                self.i += 2 if double else 1
                parts = self._key()
                self.i += 2 if double else 1
                # [element.inputs] after [[element]] belongs to the last element.
                table = ()
                for part in parts[:-1]:
                    table += (part,)
                    if table in counts:
                        table += (counts[table] - 1,)
                table += (parts[-1],)
                self._mark(table, start)
                if double:
                    counts[table] = counts.get(table, 0) + 1
                    table += (counts[table] - 1,)
                    self._mark(table, start)
                continue
            self._pair(table, start)

    def _pair(self, table: tuple[object, ...], start: int) -> None:
        parts = self._key()
        for k in range(1, len(parts) + 1):
            self._mark(table + parts[:k], start)
        self.i += 1             # "="
        self._skip()
        self._value(table + parts)

    def _value(self, path: tuple[object, ...]) -> None:
        text = self.text
        c = text[self.i]
        if c == "[":
            self.i += 1
            for item in range(len(text)):
                self._skip()
                if text[self.i] == "]":
                    break
                start = self.i
                self._mark(path + (item,), start)
                self._value(path + (item,))
                if self.i == start:
                    raise StopIteration     # not TOML after all: keep what was found
                self._skip()
                if text[self.i] == ",":
                    self.i += 1
            self.i += 1
        elif c == "{":
            self.i += 1
            while True:
                self._skip()
                if text[self.i] == "}":
                    break
                if text[self.i] == ",":
                    self.i += 1
                    continue
                self._skip()
                self._pair(path, self.i)
            self.i += 1
        else:
            m = _STRING.match(text, self.i) or _SCALAR.match(text, self.i)
            self.i = m.end()  # type: ignore[union-attr]


# ---- reading ----------------------------------------------------------------

def _choices(value: str, options: Sequence[str]) -> str:
    near = difflib.get_close_matches(value, options, n=1, cutoff=0.6)
    hint = f" (did you mean {near[0]!r}?)" if near else ""
    return f"{hint}; expected one of: {', '.join(options)}"


class _Reader:
    def __init__(self, pos: _Positions, d: Description) -> None:
        self.pos, self.d = pos, d
        self.element: str | None = None      # the element whose table is read
        self.contracts: dict[object, PyDataContract] = {}

    def add(self, code: str, message: str, *path: object) -> None:
        self.d.findings.append(Finding(code, message, self.pos.of(*path),
                                       elements=(self.element,) if self.element else ()))

    def keys(self, table: Mapping[str, Any], schema: Mapping[str, str], what: str,
             *path: object, required: Sequence[str] = ()) -> dict[str, Any]:
        """The keys of `table` that are known, of the right type and, when
        required or a name, not empty; findings for the others and for
        missing required ones."""
        good: dict[str, Any] = {}
        for key, value in table.items():
            expected = schema.get(key)
            if expected is None:
                self.add("K102", f"unknown key {key!r} in {what}{_choices(key, list(schema))}",
                         *path, key)
            elif not _fits(value, expected):
                self.add("K103", f"{what}: {key!r} must be {_article(expected)}, "
                         f"not {_toml_type(value)}", *path, key)
            elif value == "" and (key in required or key == "name"):
                self.add("K107", f"{what}: {key!r} is empty", *path, key)
            else:
                good[key] = value
        for key in required:
            if key not in table:
                self.add("K104", f"{what}: required key {key!r} is missing", *path)
        return good

    def name(self, value: str, options: Sequence[str], what: str, *path: object) -> bool:
        if value in options:
            return True
        self.add("K105", f"unknown {what} {value!r}{_choices(value, options)}", *path)
        return False

    def integer(self, value: int, bounds: tuple[int, int], what: str, *path: object) -> bool:
        if bounds[0] <= value <= bounds[1]:
            return True
        self.add("K106", f"{what} {value} is out of range {bounds[0]}..{bounds[1]}", *path)
        return False

    def strings(self, values: list[Any], what: str, *path: object) -> list[tuple[int, str]]:
        """(index, item) of the string items; a finding for each other one."""
        good = []
        for j, v in enumerate(values):
            if isinstance(v, str):
                good.append((j, v))
            else:
                self.add("K103", f"{what}: items must be strings, not {_toml_type(v)}",
                         *path, j)
        return good

    def tagged(self, text: str, what: str, *path: object) -> str | None:
        """The text after ``custom:`` (or another prefix) when it is not empty."""
        kind, _, arg = text.partition(":")
        if not arg:
            self.add("K106", f"{what} {text!r} needs a value: '{kind}:<...>'", *path)
            return None
        return arg

    # ---- values ----

    def version(self, text: str, what: str, *path: object) -> PyVersion | None:
        m = re.fullmatch(r"(\d+)\.(\d+)\.(\d+)", text)
        if m and all(int(x) < 2**32 for x in m.groups()):
            return PyVersion(*(int(x) for x in m.groups()))
        self.add("K106", f"{what} {text!r} is not a version 'major.minor.patch'", *path)
        return None

    def policy(self, text: str, *path: object) -> bool:
        try:
            selection_policy(text)
            return True
        except ValueError:
            pass
        if text.partition(":")[0] == "manual":
            self.add("K106", "policy 'manual' needs a provider id: 'manual:<provider id>'", *path)
        else:
            self.name(text, _POLICIES, "selection policy", *path)
        return False

    def requirement(self, text: str, *path: object) -> PyRequirement | None:
        kind = text.partition(":")[0]
        if text == "cuda_required":
            return PyRequirement.cuda_required()
        if kind == "cuda_required":
            self.add("K106", "requirement 'cuda_required' takes no value", *path)
            return None
        if not self.name(kind, NAMES.requirement_kinds, "requirement kind", *path):
            return None
        arg = self.tagged(text, "requirement", *path)
        if arg is None:
            return None
        if kind != "gpu_memory":
            return getattr(PyRequirement, kind)(arg)  # type: ignore[no-any-return]
        if not arg.isdigit():
            self.add("K106", f"gpu_memory needs a byte count, not {arg!r}", *path)
        elif self.integer(int(arg), _U64, "gpu_memory bytes", *path):
            return PyRequirement.gpu_memory(int(arg))
        return None

    def capability(self, text: str, *path: object) -> PyCapability | None:
        if text.startswith("custom:"):
            tag = self.tagged(text, "capability", *path)
            return None if tag is None else PyCapability.custom(tag)
        if self.name(text, (*NAMES.capabilities, "custom:<tag>"), "capability", *path):
            return getattr(PyCapability, text)()  # type: ignore[no-any-return]
        return None

    def contract(self, value: object, what: str, *path: object) -> PyDataContract | None:
        # Files repeat a few contracts many times: one read of each that
        # reads cleanly serves the rest.
        key = value if type(value) is str else ("table", repr(value)) if type(value) is dict \
            else None
        made = self.contracts.get(key) if key is not None else None
        if made is None:
            before = len(self.d.findings)
            made = self._contract(value, what, path)
            if made is not None and key is not None and len(self.d.findings) == before:
                self.contracts[key] = made
        return made

    def _contract(self, value: object, what: str, path: tuple[object, ...]
                  ) -> PyDataContract | None:
        if isinstance(value, str):
            value = {"category": value}
        elif not isinstance(value, dict):
            self.add("K103", f"{what} must be a category name or a table, not "
                     f"{_toml_type(value)}", *path)
            return None
        fields = self.keys(value, _CONTRACT, what, *path, required=["category"])
        category = fields.pop("category", None)
        if category is None:
            return None
        if category.startswith("custom:"):
            for key in fields:
                self.add("K106", f"{what}: a custom contract takes no constraints ({key!r})",
                         *path, key)
            tag = self.tagged(category, "contract category", *path)
            return None if tag is None else PyDataContract.custom(tag)
        if not self.name(category, (*NAMES.categories, "custom:<tag>"), "contract category",
                         *path):
            return None
        spec = PyContractSpec()
        for key, v in fields.items():
            here = (*path, key)
            if key in ("width", "height"):
                if self.integer(v, (1, _U32[1]), key, *here):
                    spec = spec.with_width(v) if key == "width" else spec.with_height(v)
            elif key == "pixel_format":
                if v.startswith("custom:"):
                    name = self.tagged(v, "pixel format", *here)
                    if name is not None:
                        spec = spec.with_pixel_format(PyPixelFormat.custom(name))
                elif self.name(v, (*NAMES.pixel_formats, "custom:<name>"), "pixel format",
                               *here):
                    spec = spec.with_pixel_format(getattr(PyPixelFormat, v)())
            elif key == "dtype":
                if self.name(v, NAMES.dtypes, "dtype", *here):
                    spec = spec.with_dtype(_DTYPES[v])
            elif key == "coordinate_space":
                if (self.tagged(v, "coordinate space", *here) is not None
                        if v.startswith("custom:") else
                        self.name(v, (*NAMES.coordinate_spaces, "custom:<name>"),
                                  "coordinate space", *here)):
                    spec = spec.with_coordinate_space(v)
            elif key == "content_type":
                spec = spec.with_content_type(v)
            elif all(isinstance(x, int) and not isinstance(x, bool) for x in v):
                bounds = _U64 if key == "shape" else _U32
                if all(self.integer(x, bounds, f"{key} item", *here, j) for j, x in enumerate(v)):
                    spec = spec.with_shape(v) if key == "shape" else spec.with_class_ids(v)
            else:
                self.add("K103", f"{what}: {key!r} must be an array of integers", *here)
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


def load(path: str | Path, providers: str | Path | None = None,
         settings: Mapping[str, str] | None = None) -> Description:
    """Read a description file, and the `*.toml` provider manifests in the
    directory `providers` when given; a manifest that cannot be read is a
    finding, and the others are read all the same. `settings` map
    ``element.key`` to a config value that replaces the file's (`ReadError`
    when it names no element)."""
    path = Path(path)
    description = loads(_read_text(path), str(path))
    if providers is not None:
        folder = Path(providers)
        if not folder.is_dir():
            raise ReadError(Finding("K100", f"providers directory {str(folder)!r} does not exist"))
        for manifest in sorted(folder.glob("*.toml")):
            _manifest(description, manifest)
    for ref, value in (settings or {}).items():
        name, dot, key = ref.partition(".")
        if not (dot and key) or name not in description.pipeline:
            near = _choices(name, [e.name for e in description.pipeline]) if dot and key else ""
            raise ReadError(Finding("K106", f"setting {ref!r}: " + (
                f"no element named {name!r}{near}" if dot and key else
                "expected 'element.key=value'")))
        description.pipeline.configure(name, key, value)
        description.settings.add((name, key))
    return description


def _manifest(description: Description, manifest: Path) -> None:
    """Add the providers of a manifest file (a finding when it cannot be read)."""
    try:
        text = _read_text(manifest)
        data = _parse(text, str(manifest))
    except ReadError as exc:
        f = exc.finding
        f.location = f.location or Location(str(manifest), 1, 1)
        description.findings.append(f)
        return
    r = _Reader(pos := _Positions(text, str(manifest)), description)
    pos.tables = {"provider": len(data.get("provider", []))}
    # A manifest may also describe its element types (kelo.elements reads
    # those); the checker takes its providers.
    _providers(r, r.keys(data, _MANIFEST, "a provider manifest"))


@functools.cache
def builtin_providers() -> tuple[ProviderSpec, ...]:
    """The providers of the manifest shipped with the package (`kelo.builtin`)."""
    from ..elements import manifest_path
    shipped = Description(str(manifest_path), Pipeline())
    _manifest(shipped, manifest_path)
    return tuple(shipped.providers)


def loads(text: str, file: str = "<string>") -> Description:
    """Read description text; `file` is the name findings give."""
    data = _parse(text, file)
    pos = _Positions(text, file)
    d = Description(file, Pipeline(Path(file).stem), positions=pos)
    r = _Reader(pos, d)
    top = r.keys(data, _TOP, "the file", required=["pipeline"])
    pos.tables = {k: len(v) for k, v in data.items() if k in _TOP and isinstance(v, list)}
    head = r.keys(top.get("pipeline", {}), _PIPELINE, "[pipeline]", "pipeline")
    d.pipeline.name = head.get("name", d.pipeline.name)
    if "policy" in head:
        d.policy = head["policy"]
        d.policy_read = r.policy(d.policy, "pipeline", "policy")
    for group, n in head.get("replicas", {}).items():
        if not isinstance(n, int) or isinstance(n, bool):
            r.add("K103", f"[pipeline] replicas {group!r} must be an integer, not "
                  f"{_toml_type(n)}", "pipeline", "replicas", group)
        elif r.integer(n, (1, _U32[1]), f"replicas {group!r}", "pipeline", "replicas", group):
            d.replicas[group] = n
    for i, table in enumerate(top.get("element", [])):
        _element(r, i, table)
    for i, table in enumerate(top.get("link", [])):
        _link(r, i, table)
    _providers(r, top)
    return d


def _element(r: _Reader, i: int, table: dict[str, Any]) -> None:
    d, p = r.d, r.d.pipeline
    named = table.get("name")
    r.element = named if isinstance(named, str) and named not in p else None
    f = r.keys(table, _ELEMENT, "[[element]]", "element", i, required=["name", "type", "kind"])
    if "name" not in f:
        return
    name: str = f["name"]
    if name in p:
        first = d.element_at(next(k for k, e in enumerate(p) if e.name == name))
        r.add("K302", f"element name {name!r} is used again (first at line "
              f"{first.line if first else '?'}); this element is left out", "element", i)
        return
    kind = KINDS.get(f.get("kind", "operator"))
    if kind is None:
        r.name(f["kind"], list(KINDS), "element kind", "element", i, "kind")
        d.unknown_kind.add(len(p))
    sides: list[dict[str, PyDataContract]] = [{}, {}]
    for side, key in enumerate(("inputs", "outputs")):
        for port, value in f.get(key, {}).items():
            contract = r.contract(value, f"element {name!r} {key[:-1]} {port!r}",
                                  "element", i, key, port)
            # A port whose contract is unreadable is still declared, so that
            # its links do not add findings of their own.
            sides[side][port] = contract if contract is not None else PyDataContract.custom("?")
    config: dict[str, str] = {}
    for key, value in f.get("config", {}).items():
        if isinstance(value, str):
            config[key] = value
        else:
            r.add("K103", f"element {name!r} config {key!r} must be a string, not "
                  f"{_toml_type(value)}", "element", i, "config", key)
    read: list[tuple[str, PyRequirement]] = []
    unread: list[str] = []
    for j, text in r.strings(f.get("requires", []), f"element {name!r} requires",
                             "element", i, "requires"):
        q = r.requirement(text, "element", i, "requires", j)
        if q is None:
            unread.append(text)
        else:
            read.append((text, q))
    policy = f.get("policy")
    if policy is not None and not r.policy(policy, "element", i, "policy"):
        unread.append(policy)
        policy = None
    requires = tuple(q for _, q in read) if "requires" in f else None
    execution = f.get("execution")
    if execution is not None:
        for path, kind_of, message in contract_from_table(execution, None, sides[0])[2]:
            r.add(PROBLEM_CODES[kind_of], f"element {name!r}: {message}", "element", i,
                  "execution", *path)
    p.add(name, ElementType(f.get("type", ""), kind or PyElementKind.Operator, sides[0], sides[1]),
          config=config, requirements=requires, policy=policy)
    d.rows.append(i)
    d.execution_tables.append(execution)
    d.places.append(f.get("place"))
    d.requires.append(tuple(t for t, _ in read) if "requires" in f else None)
    d.unread.append(tuple(unread))


def _link(r: _Reader, i: int, table: dict[str, Any]) -> None:
    r.element = None
    before = len(r.d.findings)
    f = r.keys(table, _LINK, "[[link]]", "link", i, required=["from", "to"])
    for key in ("to",) if "pad" in f else ("from", "to"):
        try:
            split_ref(f.get(key, "?.?"))
        except ValueError as exc:
            hint = " (a dynamic link names its pad with 'pad')" if key == "from" else ""
            r.add("K106", f"[[link]] {key!r}: {exc}{hint}", "link", i, key)
    # A link with anything wrong is left out whole: which link was meant is
    # not known.
    if len(r.d.findings) > before:
        return
    if "pad" in f:
        r.d.pipeline.link_dynamic(f["from"], f["pad"], f["to"])
    else:
        r.d.pipeline.link(f["from"], f["to"], late=f.get("late", False))
    r.d.link_rows.append(i)


def _providers(r: _Reader, top: dict[str, Any]) -> None:
    d = r.d
    r.element = None
    for i, table in enumerate(top.get("provider", [])):
        d.declares_providers = True
        before = len(d.findings)
        f = r.keys(table, _PROVIDER, "[[provider]]", "provider", i,
                   required=["id", "version", "element_types"])
        here = ("provider", i)
        version = r.version(f["version"], "version", *here, "version") if "version" in f else None
        abi = r.version(f["abi"], "abi", *here, "abi") if "abi" in f else abi_current_version()
        priority = f.get("priority", 0)
        r.integer(priority, _I32, "priority", *here, "priority")
        types = tuple(t for _, t in r.strings(f.get("element_types", []), "element_types",
                                              *here, "element_types"))
        capabilities = [r.capability(t, *here, "capabilities", j) for j, t in
                        r.strings(f.get("capabilities", []), "capabilities", *here, "capabilities")]
        requirements = [r.requirement(t, *here, "requirements", j) for j, t in
                        r.strings(f.get("requirements", []), "requirements", *here, "requirements")]
        pid: str = f.get("id", "?")
        # One id over several tables is one provider's entries, each for its
        # own element types; the same type twice under one id is a mistake.
        known: list[ProviderSpec | Unused] = [*d.providers, *d.unused]
        first = next((p for p in known if p.id == pid and set(p.element_types) & set(types)), None)
        if first is not None:
            again = sorted(set(first.element_types) & set(types))
            r.add("K108", f"provider {pid!r} declares {', '.join(map(repr, again))} again (first "
                  f"at {first.location})", *here, "id")
        at = r.pos.of(*here)
        if len(d.findings) == before and version is not None and abi is not None:
            entry = f.get("entry")
            d.providers.append(ProviderSpec(
                pid, version, types, priority, tuple(c for c in capabilities if c is not None),
                tuple(q for q in requirements if q is not None), abi, at, entry))
            # An entry whose module is missing is an error of its own; the
            # provider still takes part in the plan.
            problem = None if entry is None else entry_problem(
                entry, [str(Path(r.pos.file).resolve().parent)])
            if problem is not None:
                r.add("K410", f"provider {pid!r}: entry {entry!r}: {problem}", *here, "entry")
            continue
        problems = d.findings[before:]
        reason = problems[0].message.split(";")[0] + (f" (and {len(problems) - 1} more)"
                                                      if len(problems) > 1 else "")
        d.unused.append(Unused(pid, types, at, reason))
        d.findings.append(Finding("K407", f"provider {pid!r} is not used: {reason}", at,
                                  provider=pid))
