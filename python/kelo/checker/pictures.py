"""Pictures of pipeline graphs: Graphviz DOT text, and SVG or PNG through `dot`.

`to_dot` draws a `PyGraph` as a directed graph read left to right:

- each element is a node showing its name, type id, kind and element id, with
  its input ports as fields on the left and its output ports on the right
  (port name and contract);
- each edge runs from its source port to its target port and is labelled with
  the source port's contract, or ``source → target`` when the two contracts
  print differently; late-binding edges are dashed;
- a dynamic-output edge starts at a pad node named after its source element and
  pad name, joined by a dotted line to the element of that name when there is
  one, and marked ``missing element`` when there is none;
- an edge end whose port no element owns is drawn to or from a placeholder node
  marked ``missing port`` (``pending port`` when it is only ever the source of
  late-binding edges, which may materialise later);
- elements on a cycle are outlined in orange and tagged ``cycle``, and the edges
  that close the cycle are orange too;
- with a validation report, the ports, edges, elements and placeholders its
  errors name are drawn in red.

Labels are Graphviz HTML-like labels, so any text (quotes, braces, ``|``,
``<``, ``>``, ``&``, line breaks, control characters) prints as it is without
breaking the DOT syntax.

`render` turns DOT text into an SVG or PNG file with Graphviz's `dot` program,
and `cycle_elements` gives the ids of the elements that sit on a cycle.
"""

from __future__ import annotations

import os
import re
import secrets
import shutil
import subprocess
from collections.abc import Sequence
from pathlib import Path
from typing import TYPE_CHECKING, NamedTuple, Protocol

if TYPE_CHECKING:
    from kelo.checker.checking import CheckResult
    from kelo.ext.graph import PyEdge, PyElement, PyGraph, PyPort

__all__ = [
    "FORMATS",
    "draw",
    "format_of",
    "pipeline_dot",
    "GraphvizError",
    "GraphvizNotFoundError",
    "ReportLike",
    "ValidationErrorLike",
    "cycle_elements",
    "render",
    "to_dot",
]

#: Output formats `render` writes, named by the file's extension.
FORMATS: tuple[str, ...] = ("svg", "png", "pdf", "dot")
_EXPECTED = "'svg', 'png', 'pdf' or 'dot'"

_RED = "#d01010"
_RED_FILL = "#ffe4e4"
_CYCLE = "#e07000"
_MUTED = "#606060"


class ValidationErrorLike(Protocol):
    """What `to_dot` reads from one validation error (`PyGraphValidationError`)."""

    def kind(self) -> str: ...

    @property
    def port_ids(self) -> Sequence[object]: ...

    @property
    def element_ids(self) -> Sequence[object]: ...

    @property
    def element_name(self) -> str | None: ...


class ReportLike(Protocol):
    """What `to_dot` reads from a validation report (`PyValidationReport`)."""

    @property
    def errors(self) -> Sequence[ValidationErrorLike]: ...


class GraphvizError(RuntimeError):
    """Graphviz's `dot` could not render the picture."""


class GraphvizNotFoundError(GraphvizError):
    """Graphviz's `dot` program is not installed (not found on PATH)."""


# ---- reading the graph ----------------------------------------------------

class _Model(NamedTuple):
    elements: list[PyElement]
    ids: list[str]                  # element id texts, in element order
    inputs: list[list[PyPort]]
    outputs: list[list[PyPort]]
    owner: dict[str, int]           # port id text -> index of its element
    position: dict[str, int]        # ... -> k for inputs[k], ~k for outputs[k]
    edges: list[PyEdge]
    ends: list[tuple[str, str]]     # (source, target) id texts of each edge


def _read(graph: PyGraph) -> _Model:
    """Copy out of `graph` what a picture needs, reading every value once."""
    if not (hasattr(graph, "elements") and hasattr(graph, "edges")):
        raise TypeError(f"expected a PyGraph, got '{type(graph).__name__}'")
    elements = graph.elements
    inputs = [e.inputs for e in elements]
    outputs = [e.outputs for e in elements]
    owner: dict[str, int] = {}
    position: dict[str, int] = {}
    # Inputs first, then outputs, the last port with an id winning: the port
    # a validator resolves that id to.
    for index in range(len(elements)):
        for k, port in enumerate(inputs[index]):
            pid = str(port.id)
            owner[pid] = index
            position[pid] = k
        for k, port in enumerate(outputs[index]):
            pid = str(port.id)
            owner[pid] = index
            position[pid] = ~k
    edges = graph.edges
    return _Model(elements, [str(e.id) for e in elements], inputs, outputs, owner, position,
                  edges, [(str(d.source), str(d.target)) for d in edges])


# ---- cycles ---------------------------------------------------------------

def _cycle_components(model: _Model) -> tuple[list[int], dict[int, int]]:
    """Find the cycles: (node of each element, cycle number of each node on one).

    Elements that share an id are one node. An edge joins the source port's
    owner to the target port's owner when both ports exist. Cycles are the
    strongly connected components of more than one node, and single nodes
    with an edge to themselves. Tarjan's algorithm with explicit stacks over
    flat int lists: no recursion, and few objects for the collector to chase.
    """
    first: dict[str, int] = {}
    node_of = [first.setdefault(eid, len(first)) for eid in model.ids]
    count = len(first)
    tails: list[int] = []
    heads: list[int] = []
    looped: set[int] = set()
    owner = model.owner
    for source, target in model.ends:
        a = owner.get(source)
        b = owner.get(target)
        if a is None or b is None:
            continue
        u, v = node_of[a], node_of[b]
        tails.append(u)
        heads.append(v)
        if u == v:
            looped.add(u)
    # Successors of node u: flat[start[u]:start[u + 1]].
    start = [0] * (count + 1)
    for u in tails:
        start[u + 1] += 1
    for u in range(count):
        start[u + 1] += start[u]
    cursor = start[:count]
    flat = [0] * len(tails)
    for u, v in zip(tails, heads):
        flat[cursor[u]] = v
        cursor[u] += 1
    cursor = start[:count]          # next successor to look at, per node

    order = [-1] * count            # discovery number, -1 not yet seen
    low = [0] * count
    on_stack = [False] * count
    stack: list[int] = []
    path: list[int] = []
    component: dict[int, int] = {}
    seen = 0
    for root in range(count):
        if order[root] >= 0:
            continue
        order[root] = low[root] = seen
        seen += 1
        stack.append(root)
        on_stack[root] = True
        path.append(root)
        while path:
            node = path[-1]
            c = cursor[node]
            if c < start[node + 1]:
                cursor[node] = c + 1
                nxt = flat[c]
                if order[nxt] < 0:
                    order[nxt] = low[nxt] = seen
                    seen += 1
                    stack.append(nxt)
                    on_stack[nxt] = True
                    path.append(nxt)
                elif on_stack[nxt] and order[nxt] < low[node]:
                    low[node] = order[nxt]
                continue
            path.pop()
            if path and low[node] < low[path[-1]]:
                low[path[-1]] = low[node]
            if low[node] != order[node]:
                continue
            if stack[-1] == node:       # a component of one node
                stack.pop()
                on_stack[node] = False
                if node in looped:
                    component[node] = len(component)
                continue
            number = len(component)
            while True:
                member = stack.pop()
                on_stack[member] = False
                component[member] = number
                if member == node:
                    break
    return node_of, component


def cycle_elements(graph: PyGraph) -> set[str]:
    """The ids (canonical UUID texts) of the elements that sit on a cycle.

    An element is on a cycle when an edge path leads from it back to itself,
    counting only edges whose source and target ports both exist (a
    dynamic-output edge or a late-binding edge whose source is not there yet
    joins nothing). An empty set means the graph is acyclic.
    """
    model = _read(graph)
    node_of, component = _cycle_components(model)
    return {eid for eid, node in zip(model.ids, node_of) if node in component}


# ---- what the report names ------------------------------------------------

class _Flags(NamedTuple):
    """What the errors of a report name, to be drawn in red."""

    ports: set[str]
    elements: set[str]
    edges: set[tuple[str, str]]
    sources: set[str]           # dynamic source element names, in debug text form


def _flags(report: ReportLike | None) -> _Flags:
    flags = _Flags(set(), set(), set(), set())
    if report is None:
        return flags
    if not hasattr(report, "errors"):
        raise TypeError(f"expected a PyValidationReport or None, got '{type(report).__name__}'")
    for error in report.errors:
        kind = error.kind()
        ports = [str(p) for p in error.port_ids]
        if kind == "CycleDetected":
            continue                # cycles are drawn in their own colour
        if kind in ("InvalidPortDirection", "ContractMismatch") and len(ports) == 2:
            flags.ports.update(ports)
            flags.edges.add((ports[0], ports[1]))
        elif kind == "DynamicSourceElementNotFound" and len(ports) == 2:
            flags.sources.add(_debug_text(error.element_name or ""))
            flags.edges.add((ports[0], ports[1]))
        else:
            flags.ports.update(ports)
            flags.elements.update(str(e) for e in error.element_ids)
    return flags


# ---- DOT text -------------------------------------------------------------

_SHORT_ESCAPES = {"\n": "\\n", "\r": "\\r", "\t": "\\t", "\0": "\\0"}
# Characters shown as escapes: quotes and backslashes in quoted texts, and
# everywhere controls, line and paragraph separators, lone surrogates and the
# two non-characters XML cannot carry (labels turn line breaks into <BR/>).
_ESCAPED = re.compile(r'["\\\x00-\x1f\x7f-\x9f\u2028\u2029\ud800-\udfff\ufffe\uffff]')
_ESCAPED_IN_LABEL = re.compile(
    r"[\x00-\x09\x0b\x0c\x0e-\x1f\x7f-\x9f\u2028\u2029\ud800-\udfff\ufffe\uffff]")
_LINE_BREAK = re.compile(r"\r\n|\r|\n")
_MARKUP = str.maketrans({"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;"})


def _escape(match: re.Match[str]) -> str:
    ch = match[0]
    if ch in '"\\':
        return "\\" + ch
    return _SHORT_ESCAPES.get(ch) or f"\\u{{{ord(ch):x}}}"


def _debug_text(text: str) -> str:
    """`text` double-quoted with escapes, as validation messages print names.

    Also a safe DOT quoted ID: every backslash it writes is paired with the
    character after it, so nothing in the text can end the string early.
    """
    return f'"{_ESCAPED.sub(_escape, text)}"'


def _html(text: str) -> str:
    """Text for an HTML-like label: markup characters as entities, line breaks
    as <BR/>, and characters XML cannot carry shown as escapes."""
    return _LINE_BREAK.sub("<BR/>", _ESCAPED_IN_LABEL.sub(_escape, text.translate(_MARKUP)))


def _wrap(tag: str, html: str) -> str:
    # Graphviz rejects empty markup such as <B></B>; empty text needs none.
    return f"<{tag}>{html}</{tag.split()[0]}>" if html else ""


def _lines(*parts: str) -> str:
    return "<BR/>".join(p for p in parts if p)


def _small(html: str, size: int = 9) -> str:
    return _wrap(f'FONT POINT-SIZE="{size}"', html)


def _coloured(html: str, colour: str | None) -> str:
    return _wrap(f'FONT COLOR="{colour}"', html) if colour else html


def _port_cell(port: PyPort, field: str, listed_output: bool, contract: str, red: bool) -> str:
    note = ""
    is_output = int(port.direction) == 1
    if is_output != listed_output:
        # Listed on the other side than its direction says: shown as listed,
        # and the direction told.
        note = _small(f"<I>direction: {'output' if is_output else 'input'}</I>")
    text = _lines(_html(port.name), _small(_html(contract)), note)
    align = "RIGHT" if listed_output else "LEFT"
    if red:
        return (f'<TD PORT="{field}" ALIGN="{align}" COLOR="{_RED}" BGCOLOR="{_RED_FILL}">'
                f"{_coloured(text, _RED)}</TD>")
    return f'<TD PORT="{field}" ALIGN="{align}">{text}</TD>'


def _box(label: str, colour: str, *, dashed: bool, red: bool) -> str:
    """The label of a placeholder node: one framed cell."""
    style = ' STYLE="dashed"' if dashed else ""
    fill = f' BGCOLOR="{_RED_FILL}"' if red else ""
    return (f'<<TABLE BORDER="1"{style} CELLBORDER="0" CELLPADDING="4" COLOR="{colour}"{fill}>'
            f"<TR><TD>{_coloured(label, colour)}</TD></TR></TABLE>>")


def to_dot(graph: PyGraph, report: ReportLike | None = None, *, name: str = "pipeline") -> str:
    """Graphviz DOT text drawing `graph`, with what `report` names in red.

    `graph` is a `PyGraph`; `report` is its `PyValidationReport` (or any
    object whose `errors` hold objects with `kind()`, `port_ids`,
    `element_ids` and `element_name`), or None
    to draw the graph alone. `name` is the DOT graph's name. Elements are the
    nodes ``n0``, ``n1``, ... in element order, with the fields ``i<k>`` and
    ``o<k>`` for their k-th input and output port; placeholders for unknown
    ports are ``m0``, ``m1``, ... and dynamic pads ``d0``, ``d1``, ..., both
    numbered in order of first use by the edges.
    """
    if not isinstance(name, str):
        raise TypeError(f"name must be a str, got '{type(name).__name__}'")
    model = _read(graph)
    flags = _flags(report)
    node_of, cycles = _cycle_components(model)
    on_cycle = [node_of[i] in cycles for i in range(len(node_of))]

    out = [f"digraph {_debug_text(name)} {{",
           '  graph [rankdir=LR, fontname="Helvetica"];',
           '  node [shape=plaintext, margin=0, fontname="Helvetica"];',
           '  edge [fontname="Helvetica", fontsize=10];']

    contract_of: dict[str, str] = {}     # port id -> contract text of the port it resolves to
    for index, e in enumerate(model.elements):
        eid = model.ids[index]
        cells = []
        for side, ports in (("i", model.inputs[index]), ("o", model.outputs[index])):
            rows = []
            for k, port in enumerate(ports):
                pid = str(port.id)
                contract = contract_of[pid] = str(port.contract)
                cell = _port_cell(port, f"{side}{k}", side == "o", contract, pid in flags.ports)
                rows.append(f"<TR>{cell}</TR>")
            if rows:
                cells.append('<TD><TABLE BORDER="0" CELLBORDER="1" CELLSPACING="0" '
                             f'CELLPADDING="3">{"".join(rows)}</TABLE></TD>')
        red = eid in flags.elements
        cycle = on_cycle[index]
        kind = _wrap("I", _html(str(e.kind).rpartition(".")[2]))
        if cycle:
            kind += f' <FONT COLOR="{_CYCLE}"><B>cycle</B></FONT>'
        header = _lines(_wrap("B", _html(e.name)), _small(_html(str(e.type_id)), 10), kind,
                        _wrap(f'FONT POINT-SIZE="8" COLOR="{_RED if red else _MUTED}"', eid))
        fill = f' BGCOLOR="{_RED_FILL}"' if red else ""
        cells.insert(1 if model.inputs[index] else 0, f'<TD CELLPADDING="6"{fill}>{header}</TD>')
        colour = _RED if red else _CYCLE if cycle else "black"
        border = 2 if red or cycle else 1
        out.append(f'  n{index} [label=<<TABLE BORDER="{border}" CELLBORDER="0" '
                   f'CELLSPACING="0" CELLPADDING="0" COLOR="{colour}">'
                   f'<TR>{"".join(cells)}</TR></TABLE>>];')

    # Placeholders, numbered in order of first use.
    missing: dict[str, int] = {}                  # unknown port id -> number
    late_only: dict[str, bool] = {}               # ... -> only ever a late source
    pads: dict[tuple[str, str | None], int] = {}  # (element name, pad name) -> number
    red_pads: set[int] = set()
    edge_lines = []
    for edge, (source, target) in zip(model.edges, model.ends):
        red = (source, target) in flags.edges
        a = model.owner.get(source)
        b = model.owner.get(target)
        if a is not None:
            k = model.position[source]
            tail = f"n{a}:i{k}:w" if k >= 0 else f"n{a}:o{~k}:e"
        elif edge.source_element is not None:
            key = (edge.source_element, edge.source_pad)
            number = pads.setdefault(key, len(pads))
            red = red or _debug_text(key[0]) in flags.sources
            if red:
                red_pads.add(number)
            tail = f"d{number}"
        else:
            late_only[source] = late_only.get(source, True) and edge.is_late_binding
            red = red or source in flags.ports
            tail = f"m{missing.setdefault(source, len(missing))}"
        if b is not None:
            k = model.position[target]
            head = f"n{b}:i{k}:w" if k >= 0 else f"n{b}:o{~k}:e"
        else:
            late_only[target] = False
            red = red or target in flags.ports
            head = f"m{missing.setdefault(target, len(missing))}"
        contracts = [contract_of[pid] for pid, at in ((source, a), (target, b)) if at is not None]
        if len(contracts) == 2 and contracts[0] == contracts[1]:
            del contracts[1]
        in_cycle = (a is not None and b is not None and on_cycle[a]
                    and cycles[node_of[a]] == cycles.get(node_of[b]))
        line = _RED if red else _CYCLE if in_cycle else None
        attrs = [f"label=<{_coloured(_html(' → '.join(contracts)), line)}>"] if contracts else []
        if edge.is_late_binding:
            attrs.append("style=dashed")
        if line:
            attrs.append(f'color="{line}", penwidth=2')
        edge_lines.append(f"  {tail} -> {head} [{', '.join(attrs)}];")

    for pid, number in missing.items():
        red = pid in flags.ports
        colour = _RED if red else _MUTED
        label = _lines(_wrap("B", "pending port" if late_only[pid] else "missing port"),
                       _small(pid, 8))
        out.append(f"  m{number} [label={_box(label, colour, dashed=True, red=red)}];")
    by_name: dict[str, int] = {}
    for index, e in enumerate(model.elements):
        by_name.setdefault(e.name, index)
    for (element_name, pad), number in pads.items():
        red = number in red_pads
        owner = by_name.get(element_name)
        colour = _RED if red else _MUTED if owner is None else "black"
        label = _lines(_wrap("B", _html(element_name)),
                       "pad " + (_html(pad) if pad is not None else "?"),
                       _wrap("I", "dynamic pad" if owner is not None else "missing element"))
        out.append(f"  d{number} [label={_box(label, colour, dashed=owner is None, red=red)}];")
        if owner is not None:
            out.append(f'  n{owner} -> d{number} [style=dotted, arrowhead=none, '
                       f'color="{_MUTED}"];')
    out.extend(edge_lines)
    out.append("}")
    return "\n".join(out) + "\n"


# ---- rendering ------------------------------------------------------------

def format_of(path: str | os.PathLike[str]) -> str:
    """The picture format a file name asks for, by its extension (`FORMATS`)."""
    suffix = Path(path).suffix.lower()[1:]
    if suffix not in FORMATS:
        raise ValueError(f"unsupported format {suffix or Path(path).name!r} for {str(path)!r} "
                         f"(expected {_EXPECTED})")
    return suffix


def render(dot_text: str, path: str | os.PathLike[str], format: str | None = None, *,
           timeout: float | None = None) -> Path:
    """Write DOT text as a picture at `path`, in the format its extension
    names: ``.svg``, ``.png`` and ``.pdf`` through Graphviz's `dot`, ``.dot``
    as the text itself.

    `format`, when given, is one of `FORMATS` and must agree with the
    extension. The file is written only when everything succeeded, replacing
    any file at `path`; returns `path` as a `Path`. Raises `ValueError` for
    an unknown or disagreeing format, `GraphvizNotFoundError` when `dot` is
    needed and not installed, and `GraphvizError` when it fails (with its
    error output) or outlasts `timeout` seconds.
    """
    if not isinstance(dot_text, str):
        raise TypeError(f"dot_text must be a str, got '{type(dot_text).__name__}'")
    if format is not None and format not in FORMATS:
        raise ValueError(f"unsupported format {format!r} (expected {_EXPECTED})")
    wanted = format_of(path) if format is None or Path(path).suffix else format
    if format is not None and wanted != format:
        raise ValueError(f"format {format!r} does not match the extension of {str(path)!r}")
    target = Path(path)
    if wanted == "dot":
        data = dot_text.encode("utf-8")
    else:
        data = _run_dot(dot_text, wanted, timeout)
    # Write beside the target and move into place: no half-written file. The
    # temporary file is opened like any new file, so the result gets the
    # usual permissions.
    temporary = target.with_name(f".{target.name}.{secrets.token_hex(8)}.tmp")
    try:
        with open(temporary, "xb") as stream:
            stream.write(data)
        os.replace(temporary, target)
    except BaseException:
        temporary.unlink(missing_ok=True)
        raise
    return target


def _run_dot(dot_text: str, format: str, timeout: float | None) -> bytes:
    program = shutil.which("dot")
    if program is None:
        raise GraphvizNotFoundError(
            "Graphviz's `dot` program was not found on PATH; install Graphviz "
            "(for example `apt-get install graphviz`) to render pictures")
    try:
        done = subprocess.run([program, f"-T{format}"], input=dot_text.encode("utf-8"),
                              capture_output=True, timeout=timeout, check=False)
    except subprocess.TimeoutExpired as exc:
        raise GraphvizError(f"dot did not finish within {timeout} seconds") from exc
    if done.returncode != 0:
        detail = done.stderr.decode("utf-8", "replace").strip()
        raise GraphvizError(f"dot failed with exit status {done.returncode}: {detail}")
    return done.stdout


# ---- pictures of checked pipelines ------------------------------------------

_ERROR = "#c81e1e"
_ERROR_FILL = "#fde8e8"
_WARNING = "#b35c00"
_WARNING_FILL = "#fff1dc"
_CYCLE_EDGE = "#7b2cbf"
_PROVIDER = "#1f5fa8"


def _mark(severities: set[str]) -> tuple[str, str] | None:
    """(line colour, fill) for the worst of the severities, or None."""
    if "error" in severities:
        return _ERROR, _ERROR_FILL
    if "warning" in severities:
        return _WARNING, _WARNING_FILL
    return None


def pipeline_dot(result: CheckResult) -> str:
    """Graphviz DOT text of a checked pipeline, read top to bottom.

    Each element is a box with its input ports above its name and its output
    ports below, its type and kind, and the chosen provider under it (ids in
    tooltips). Links carry their contracts; late and dynamic links are
    dashed. What a finding concerns is outlined in red (errors) or orange
    (warnings) and labelled with the finding's codes; the cycle's links are
    drawn thick and purple. A legend explains the marks and lists the codes.
    """
    b = result.built
    names = [e.name for e in b.elements]
    indexes: dict[str, list[int]] = {}
    for i, n in enumerate(names):
        indexes.setdefault(n, []).append(i)
    # What each finding marks: elements, ports (by id text) and links.
    on_element: dict[int, dict[str, str]] = {}
    on_port: dict[str, dict[str, str]] = {}
    on_link: dict[int, dict[str, str]] = {}
    for f in result.findings:
        if f.severity == "note":
            continue
        if f.links:
            for k in f.links:
                on_link.setdefault(k, {})[f.code] = f.severity
            if f.code == "K207":
                for n in f.elements:
                    for i in indexes.get(n, []):
                        on_element.setdefault(i, {})[f.code] = f.severity
            continue
        if f.port_ids and f.code == "K301":
            on_port.setdefault(f.port_ids[0], {})[f.code] = f.severity
            continue
        targets = f.elements
        if f.code == "K302" and f.elements:
            dup = indexes.get(f.elements[0], [])[1:]
            for i in dup:
                on_element.setdefault(i, {})[f.code] = f.severity
            continue
        for n in targets:
            for i in indexes.get(n, [])[:1]:
                on_element.setdefault(i, {})[f.code] = f.severity
    plan = result.plan or []            # one decision per element, in element order
    element_ids = [str(e) for e in b.names]      # in element order

    out = [f"digraph {_debug_text(result.description.pipeline.name)} {{",
           '  graph [rankdir=TB, fontname="Helvetica", nodesep=0.5, ranksep=0.6, '
           'labelloc=t, fontsize=16, '
           f'label=<<B>{_html(result.description.pipeline.name)}</B>>];',
           '  node [shape=plaintext, margin=0, fontname="Helvetica", fontsize=11];',
           '  edge [fontname="Helvetica", fontsize=9];']
    for i, e in enumerate(b.elements):
        marks = on_element.get(i, {})
        colour = _mark(set(marks.values()))
        line, fill = colour if colour else ("#333333", "#ffffff")
        rows = []
        for side, ports in (("i", b.inputs[i]), ("o", b.outputs[i])):
            cells = []
            for k, (port, pid) in enumerate(ports.items()):
                pmarks = on_port.get(str(pid), {})
                pc = _mark(set(pmarks.values()))
                label = _html(port) + (_small(" " + " ".join(sorted(pmarks)), 8) if pmarks else "")
                attrs = f' COLOR="{pc[0]}" BGCOLOR="{pc[1]}"' if pc else ' BGCOLOR="#f3f3f3"'
                cells.append(f'<TD PORT="{side}{k}" BORDER="1"{attrs}>'
                             f'{_coloured(label, pc[0] if pc else None)}</TD>')
            if cells:
                rows.append(f'<TR><TD><TABLE BORDER="0" CELLSPACING="2" CELLPADDING="2"><TR>'
                            f'{"".join(cells)}</TR></TABLE></TD></TR>')
        kind = str(e.type.kind).rpartition(".")[2].lower()
        header = _lines(_wrap("B", _html(e.name)),
                        _small(_html(e.type.type_id) + " · " + kind, 9))
        if marks:
            header = _lines(header, _wrap(f'FONT COLOR="{line}" POINT-SIZE="9"',
                                          "<B>" + " ".join(sorted(marks)) + "</B>"))
        provider = plan[i].chosen if i < len(plan) else None
        if result.plan is not None:
            ptext = (f"▸ {_html(provider.id)} {provider.version}" if provider is not None
                     else "▸ no provider")
            pcol = _PROVIDER if provider is not None else _ERROR
            header = _lines(header, _wrap(f'FONT COLOR="{pcol}" POINT-SIZE="9"', ptext))
        rows.insert(1 if b.inputs[i] else 0, f'<TR><TD CELLPADDING="5">{header}</TD></TR>')
        tooltip = _tooltip(f"{e.name} ({e.type.type_id}) id {element_ids[i]}")
        out.append(f'  n{i} [tooltip={tooltip}, label=<<TABLE BORDER="{2 if marks else 1}" '
                   f'CELLBORDER="0" CELLSPACING="0" COLOR="{line}" BGCOLOR="{fill}">'
                   f'{"".join(rows)}</TABLE>>];')

    place: dict[str, str] = {}      # port id text -> "n3:o0:s" and the like
    for i in range(len(b.elements)):
        for k, pid in enumerate(b.inputs[i].values()):
            place[str(pid)] = f"n{i}:i{k}:n"
        for k, pid in enumerate(b.outputs[i].values()):
            place[str(pid)] = f"n{i}:o{k}:s"
    extra = 0
    for k, link in enumerate(b.edges):
        s, t = (str(x) for x in b.ends[k])
        tail, head = place.get(s), place.get(t)
        if link.pad is not None:
            tail = None
        for end, ref, where in ((s, b.ports.get(b.ends[k][0], "?"), "tail"),
                                (t, b.ports.get(b.ends[k][1], "?"), "head")):
            if place.get(end) is not None:
                continue
            node = f"x{extra}"
            extra += 1
            dynamic = where == "tail" and link.pad is not None
            if dynamic:
                text = f"{_html(link.source)} ▸ pad {_html(link.pad or '')}"
                if link.source not in indexes:
                    text += f"<BR/>{_small('no such element', 8)}"
            else:
                text = f"{_html(ref)}<BR/>{_small('no such port', 8)}"
            out.append(f'  {node} [label=<<TABLE BORDER="1" STYLE="dashed" CELLPADDING="4" '
                       f'COLOR="#777777"><TR><TD>{text}</TD></TR></TABLE>>];')
            if dynamic and link.source in indexes:
                out.append(f'  n{indexes[link.source][0]} -> {node} [style=dotted, '
                           f'arrowhead=none, color="#777777"];')
            if where == "tail":
                tail = node
            else:
                head = node
        marks = on_link.get(k, {})
        colour = _mark(set(marks.values()))
        source_port, target_port = b.port(b.ends[k][0]), b.port(b.ends[k][1])
        contract = str(source_port[3]) if source_port else ""
        target = str(target_port[3]) if target_port else ""
        if target and target != contract:
            contract = f"{contract}\n→ {target}" if contract else target
        label = _html(contract)
        if marks:
            label = _lines(label, "<B>" + " ".join(sorted(marks)) + "</B>")
        edge_attrs = [f"label=<{_coloured(label, colour[0] if colour else None)}>"] if label else []
        if link.late:
            edge_attrs.append("style=dashed")
        if k in result.cycle_links:
            edge_attrs.append(f'color="{_CYCLE_EDGE}", penwidth=3')
        elif colour:
            edge_attrs.append(f'color="{colour[0]}", penwidth=2')
        out.append(f"  {tail} -> {head} [{', '.join(edge_attrs)}];")
    out.append(_legend(result))
    out.append("}")
    return "\n".join(out) + "\n"


def _port_name(ref: str) -> str:
    return ref.rpartition(".")[2]


def _tooltip(text: str) -> str:
    return _debug_text(text)


def _legend(result: CheckResult) -> str:
    from .findings import CODES
    rows = [
        '<TR><TD COLSPAN="2"><B>Legend</B></TD></TR>',
        f'<TR><TD BGCOLOR="{_ERROR_FILL}" BORDER="1" COLOR="{_ERROR}">  </TD>'
        '<TD ALIGN="LEFT">error (code shown)</TD></TR>',
        f'<TR><TD BGCOLOR="{_WARNING_FILL}" BORDER="1" COLOR="{_WARNING}">  </TD>'
        '<TD ALIGN="LEFT">warning (code shown)</TD></TR>',
        f'<TR><TD><FONT COLOR="{_CYCLE_EDGE}"><B>━━</B></FONT></TD>'
        '<TD ALIGN="LEFT">link on the cycle</TD></TR>',
        '<TR><TD>- - -</TD><TD ALIGN="LEFT">late or dynamic link</TD></TR>',
        f'<TR><TD><FONT COLOR="{_PROVIDER}">▸</FONT></TD>'
        '<TD ALIGN="LEFT">chosen provider</TD></TR>',
    ]
    codes = sorted({f.code for f in result.findings if f.severity != "note"})
    for code in codes:
        rows.append(f'<TR><TD><B>{code}</B></TD><TD ALIGN="LEFT">{_html(CODES[code][1])}</TD></TR>')
    return ('  legend [label=<<TABLE BORDER="1" CELLBORDER="0" CELLSPACING="2" CELLPADDING="2" '
            f'COLOR="#999999">{"".join(rows)}</TABLE>>];')


def draw(result: CheckResult, path: str | os.PathLike[str], *,
         timeout: float | None = None) -> Path:
    """Draw a checked pipeline into `path`, in the format its extension names
    (``.svg``, ``.png``, ``.pdf`` or ``.dot``)."""
    format_of(path)
    return render(pipeline_dot(result), path, timeout=timeout)
