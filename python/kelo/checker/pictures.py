"""Pictures of checked pipelines: Graphviz DOT text, and SVG, PNG or PDF through `dot`.

`to_dot` draws a `CheckResult` top to bottom, in one style:

- each element is a box with its input ports above its name and its output
  ports below, its type and kind (``unknown kind`` when the file's is not
  one), the chosen provider under it, and its id in a tooltip;
- each link runs from its source port to its target port and carries the
  source port's contract (and the target's, when it prints differently);
  late and dynamic links are dashed; a link end that names no declared port
  is a dashed placeholder, and a dynamic link starts at a pad joined by a
  dotted line to its element, when there is one;
- what a finding names is marked with the finding's codes, in red for errors
  and orange for warnings: its links when it names any, else its ports,
  else its elements. Nothing here knows what a code means.

An `Overlay` adds what the pipeline alone cannot say (the figures of a run,
say): extra lines under an element's header and on a link's label, and one
element drawn with a heavy border and a tag, explained in the legend.

Labels are Graphviz HTML-like labels, so any text (quotes, braces, ``|``,
``<``, ``>``, ``&``, line breaks, control characters) prints as it is
without breaking the DOT syntax. `render` turns DOT text into a file and
`draw` does both.
"""

from __future__ import annotations

import os
import re
import secrets
import shutil
import subprocess
from collections.abc import Mapping, Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import TYPE_CHECKING

from .findings import CODES

if TYPE_CHECKING:
    from .checking import CheckResult

__all__ = ["FORMATS", "GraphvizError", "GraphvizNotFoundError", "Overlay", "draw", "format_of",
           "render", "to_dot"]

#: Output formats `render` writes, named by the file's extension.
FORMATS: tuple[str, ...] = ("svg", "png", "pdf", "dot")
_EXPECTED = "'svg', 'png', 'pdf' or 'dot'"

# (line, fill) by severity; the colours of everything else.
_SEVERITY = {"error": ("#c81e1e", "#fde8e8"), "warning": ("#b35c00", "#fff1dc")}
_LINE, _PORT_FILL, _MUTED, _PROVIDER = "#333333", "#f3f3f3", "#777777", "#1f5fa8"
_EXTRA, _MARK = "#0b6e4f", "#6a1b9a"    # an overlay's lines; its marked element


@dataclass(frozen=True)
class Overlay:
    """What a picture adds to a checked pipeline: `elements` maps element
    names to lines drawn under their header, `links` maps link indexes (in
    link order) to lines added to their label; `marked` names one element
    drawn with a heavy border and tagged `mark`, which the legend lists with
    the `legend` lines after it."""

    elements: Mapping[str, Sequence[str]] = field(default_factory=dict)
    links: Mapping[int, Sequence[str]] = field(default_factory=dict)
    marked: str | None = None
    mark: str = "marked"
    legend: Sequence[str] = ()


class GraphvizError(RuntimeError):
    """Graphviz's `dot` could not render the picture."""


class GraphvizNotFoundError(GraphvizError):
    """Graphviz's `dot` program is not installed (not found on PATH)."""


# ---- text -------------------------------------------------------------------

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


def _colour(marks: dict[str, str]) -> tuple[str, str] | None:
    """(line, fill) of the worst severity among the marks, or None."""
    return next((_SEVERITY[s] for s in _SEVERITY if s in marks.values()), None)


def _codes(marks: dict[str, str], colour: tuple[str, str] | None) -> str:
    return _wrap(f'FONT COLOR="{colour[0]}" POINT-SIZE="9"',
                 "<B>" + " ".join(sorted(marks)) + "</B>") if marks and colour else ""


def to_dot(result: CheckResult, overlay: Overlay | None = None) -> str:
    """Graphviz DOT text of a checked pipeline, with `overlay` drawn over it.
    Elements are the nodes ``n0``, ``n1``, ... in element order, with the
    fields ``i<k>`` and ``o<k>`` for their k-th input and output port;
    placeholders for link ends are ``x0``, ``x1``, ... in link order."""
    b, d = result.built, result.description
    over = overlay or Overlay()
    index = {e.name: i for i, e in enumerate(b.elements)}
    place: dict[str, str] = {}      # declared port id text -> "n3:o0:s" and the like
    for i, ports in enumerate(b.port_lists):
        n = len(b.elements[i].type.inputs)
        for k, pid in enumerate(ports):
            place[str(pid)] = f"n{i}:i{k}:n" if k < n else f"n{i}:o{k - n}:s"
    # What the findings name: ("n", element), ("p", port id text), ("l", link) -> code -> severity
    marks: dict[tuple[str, object], dict[str, str]] = {}
    for f in result.findings:
        if f.severity != "note":
            named: list[tuple[str, object]] = ([("l", k) for k in f.links] or [("p", p) for p in f.port_ids if p in place]
                                               or [("n", index[n]) for n in f.elements
                                                   if n in index])
            for target in named:
                marks.setdefault(target, {})[f.code] = f.severity
    plan = result.plan
    name = d.pipeline.name
    out = [f"digraph {_debug_text(name)} {{",
           '  graph [rankdir=TB, fontname="Helvetica", nodesep=0.5, ranksep=0.6, labelloc=t, '
           f'fontsize=16, label=<{_wrap("B", _html(name))}>];',
           '  node [shape=plaintext, margin=0, fontname="Helvetica", fontsize=11];',
           '  edge [fontname="Helvetica", fontsize=9];']
    for i, e in enumerate(b.elements):
        rows = []
        n, names = len(e.type.inputs), [*e.type.inputs, *e.type.outputs]
        for side, span in (("i", range(n)), ("o", range(n, len(names)))):
            cells = []
            for j in span:
                pm = marks.get(("p", str(b.port_lists[i][j])), {})
                pc = _colour(pm)
                fill = f' COLOR="{pc[0]}" BGCOLOR="{pc[1]}"' if pc else f' BGCOLOR="{_PORT_FILL}"'
                text = _lines(_coloured(_html(names[j]), pc and pc[0]), _codes(pm, pc))
                cells.append(f'<TD PORT="{side}{j - span.start}" BORDER="1"{fill}>{text}</TD>')
            if cells:
                rows.append('<TR><TD><TABLE BORDER="0" CELLSPACING="2" CELLPADDING="2"><TR>'
                            f'{"".join(cells)}</TR></TABLE></TD></TR>')
        em = marks.get(("n", i), {})
        colour = _colour(em)
        kind = "unknown kind" if i in d.unknown_kind else str(e.type.kind).rpartition(".")[2].lower()
        header = [_wrap("B", _html(e.name)), _small(f"{_html(e.type.type_id)} · {kind}"),
                  _codes(em, colour)]
        if plan is not None:
            chosen = plan[i].chosen
            header.append(_wrap(f'FONT COLOR="{_PROVIDER if chosen else _SEVERITY["error"][0]}" '
                                'POINT-SIZE="9"', f"▸ {_html(chosen.id)} {chosen.version}"
                                if chosen else "▸ no provider"))
        header += [_extra(line) for line in over.elements.get(e.name, ())]
        heavy = e.name == over.marked
        if heavy:
            header.append(_wrap(f'FONT COLOR="{_MARK}" POINT-SIZE="10"',
                                f"<B>◆ {_html(over.mark)}</B>"))
        rows.insert(1 if e.type.inputs else 0,
                    f'<TR><TD CELLPADDING="5">{_lines(*header)}</TD></TR>')
        line, fill = colour or (_MARK if heavy else _LINE, "#ffffff")
        tooltip = _debug_text(f"{e.name} ({e.type.type_id}) id {b.ids[i]}")
        border = 3 if heavy else 2 if em else 1
        out.append(f'  n{i} [tooltip={tooltip}, label=<<TABLE BORDER="{border}" '
                   f'CELLBORDER="0" CELLSPACING="0" COLOR="{line}" BGCOLOR="{fill}">'
                   f'{"".join(rows)}</TABLE>>];')
    extra = 0
    for k, link in enumerate(b.edges):
        ends = []
        for end, pid in enumerate(b.ends[k]):
            at = place.get(str(pid)) if end or link.pad is None else None
            if at is None:
                at = f"x{extra}"
                extra += 1
                owner = index.get(link.source) if end == 0 and link.pad is not None else None
                text = (f"{_html(link.source)} ▸ pad {_html(link.pad)}" if end == 0 and link.pad
                        is not None else _html(b.ports[pid]))
                note = "dynamic pad" if owner is not None else \
                    "no such element" if end == 0 and link.pad is not None else "no such port"
                out.append(f'  {at} [label=<<TABLE BORDER="1" STYLE="dashed" CELLPADDING="4" '
                           f'COLOR="{_MUTED}"><TR><TD>{_lines(text, _small(note, 8))}</TD></TR>'
                           '</TABLE>>];')
                if owner is not None:
                    out.append(f'  n{owner} -> {at} [style=dotted, arrowhead=none, '
                               f'color="{_MUTED}"];')
            ends.append(at)
        shown = dict.fromkeys(str(found[3]) for p in b.ends[k] if (found := b.port(p)))
        lm = marks.get(("l", k), {})
        lc = _colour(lm)
        label = _lines(_coloured(_html("\n→ ".join(shown)), lc and lc[0]), _codes(lm, lc),
                       *map(_extra, over.links.get(k, ())))
        attrs = [f"label=<{label}>"] if label else []
        if link.late:
            attrs.append("style=dashed")
        if lc:
            attrs.append(f'color="{lc[0]}", penwidth=2')
        out.append(f"  {ends[0]} -> {ends[1]} [{', '.join(attrs)}];")
    out.append(_legend(marks, over))
    out.append("}")
    return "\n".join(out) + "\n"


def _extra(line: str) -> str:
    return _wrap(f'FONT COLOR="{_EXTRA}" POINT-SIZE="9"', _html(line))


def _legend(marks: dict[tuple[str, object], dict[str, str]], over: Overlay) -> str:
    rows = ['<TR><TD COLSPAN="2"><B>Legend</B></TD></TR>']
    rows += [f'<TR><TD BGCOLOR="{fill}" BORDER="1" COLOR="{line}">  </TD>'
             f'<TD ALIGN="LEFT">{severity} (codes shown)</TD></TR>'
             for severity, (line, fill) in _SEVERITY.items()]
    rows += ['<TR><TD>- - -</TD><TD ALIGN="LEFT">late or dynamic link</TD></TR>',
             f'<TR><TD><FONT COLOR="{_PROVIDER}">▸</FONT></TD>'
             '<TD ALIGN="LEFT">chosen provider</TD></TR>']
    if over.marked is not None:
        rows.append(f'<TR><TD BORDER="3" COLOR="{_MARK}"><FONT COLOR="{_MARK}">◆</FONT></TD>'
                    f'<TD ALIGN="LEFT">{_html(over.mark)}</TD></TR>')
    rows += [f'<TR><TD COLSPAN="2" ALIGN="LEFT">{_extra(line)}</TD></TR>' for line in over.legend]
    rows += [f'<TR><TD><B>{code}</B></TD><TD ALIGN="LEFT">{_html(CODES[code][1])}</TD></TR>'
             for code in sorted({c for m in marks.values() for c in m})]
    return ('  legend [label=<<TABLE BORDER="1" CELLBORDER="0" CELLSPACING="2" CELLPADDING="2" '
            f'COLOR="#999999">{"".join(rows)}</TABLE>>];')


def draw(result: CheckResult, path: str | os.PathLike[str], *,
         overlay: Overlay | None = None, timeout: float | None = None) -> Path:
    """Draw a checked pipeline, with `overlay` over it, into `path`, in the
    format its extension names (``.svg``, ``.png``, ``.pdf`` or ``.dot``)."""
    format_of(path)
    return render(to_dot(result, overlay), path, timeout=timeout)


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
    except BaseException as exc:
        temporary.unlink(missing_ok=True)
        if isinstance(exc, OSError):    # told of the file asked for, not the temporary one
            raise OSError(exc.errno, exc.strerror, str(target)) from None
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


