"""Findings: what the checker reports, each with a stable code and a place.

A `Finding` has a code from `CODES` (documented in the README; a code is
never reused for another problem), a severity (``"error"``, ``"warning"``
or ``"note"``; notes carry the provider plan's explanations and never make a
check fail), a message that names elements and ports by their names, the
ids it concerns, and the file, line and column of the entry it comes from.
`format_text` prints compiler-style lines, `to_json` one JSON document.
"""

from __future__ import annotations

import json
from collections.abc import Iterable, Sequence
from dataclasses import dataclass
from typing import Literal, NamedTuple

__all__ = ["CODES", "JSON_VERSION", "Finding", "Location", "Severity", "count", "format_text",
           "to_json"]

Severity = Literal["error", "warning", "note"]

#: Version of the JSON document `to_json` writes.
JSON_VERSION = 1

#: code -> (severity, what it means). Codes are grouped by the stage that
#: finds them: K1xx reading the file, K2xx the core's validation, K3xx checks
#: the core does not make, K4xx the provider plan, K5xx starting a run,
#: K6xx placing it on a cluster.
CODES: dict[str, tuple[Severity, str]] = {
    "K100": ("error", "the file cannot be read"),
    "K101": ("error", "the file is not valid TOML"),
    "K102": ("error", "unknown key"),
    "K103": ("error", "value of the wrong type"),
    "K104": ("error", "required key missing"),
    "K105": ("error", "unknown name (kind, category, format, capability, requirement, policy)"),
    "K106": ("error", "malformed value (port reference, version, number out of range)"),
    "K107": ("error", "empty name or id"),
    "K108": ("error", "provider declares an element type again under one id"),
    "K201": ("error", "link end names no port"),
    "K202": ("error", "link runs the wrong way (expected output -> input)"),
    "K203": ("error", "port belongs to no element"),
    "K204": ("error", "duplicate element id"),
    "K205": ("error", "duplicate port id"),
    "K206": ("error", "contracts of a link do not match"),
    "K207": ("error", "cycle"),
    "K208": ("error", "dynamic link from an element that does not exist"),
    "K209": ("warning", "late link whose source port does not exist yet (deferred)"),
    "K301": ("warning", "input port with no incoming link"),
    "K302": ("error", "element name used again (the element is left out)"),
    # K303 (a dynamic link from a shared name) is retired: names are unique.
    "K304": ("warning", "duplicate link"),
    "K305": ("warning", "late link from an element that never appears"),
    "K306": ("warning", "element without ports"),
    "K307": ("warning", "pipeline without elements"),
    "K310": ("error", "execution contract that can never run"),
    "K311": ("error", "config of a built-in element its type does not read (unknown key, bad "
             "value, required key missing)"),
    "K312": ("error", "built-in element whose Python library is not installed"),
    "K400": ("note", "provider chosen for an element"),
    "K401": ("note", "candidate provider not chosen, and why"),
    "K402": ("error", "no provider implements the element's type"),
    "K403": ("error", "no provider satisfies the element's requirements"),
    "K404": ("error", "the manually chosen provider is not a candidate"),
    "K405": ("error", "strict: a better provider failed, the choice fell back"),
    "K406": ("warning", "provider built for an incompatible ABI, never a candidate"),
    "K407": ("warning", "provider not used: its table has errors"),
    "K408": ("note", "requirement met only by assumption (selection does not check it)"),
    "K409": ("error", "strict: requirement met only by assumption"),
    "K410": ("error", "provider entry point whose module cannot be found"),
    "K501": ("error", "run: nothing implements the element (no class given, no entry)"),
    "K502": ("error", "run: the entry point cannot be imported"),
    "K503": ("error", "run: a link the runtime cannot run (dynamic pad)"),
    "K601": ("error", "placement: a serialized element in a replicated group"),
    "K602": ("error", "placement: a joining element split from one of its inputs"),
    "K603": ("error", "placement: a link between groups carries values that cannot be pickled"),
    "K604": ("error", "placement: replicas of a group with a source, or of no group"),
}


class Location(NamedTuple):
    file: str
    line: int
    column: int

    def __str__(self) -> str:
        return f"{self.file}:{self.line}:{self.column}"


@dataclass(slots=True)
class Finding:
    code: str
    message: str
    location: Location | None = None
    elements: tuple[str, ...] = ()      # element names
    element_ids: tuple[str, ...] = ()   # canonical UUID texts
    port_ids: tuple[str, ...] = ()
    links: tuple[int, ...] = ()         # indexes into the pipeline's links
    provider: str | None = None

    @property
    def severity(self) -> Severity:
        return CODES[self.code][0]

    def __str__(self) -> str:
        where = f"{self.location}: " if self.location is not None else ""
        return f"{where}{self.severity} {self.code}: {self.message}"

    def as_dict(self) -> dict[str, object]:
        loc = self.location
        return {"code": self.code, "severity": self.severity, "message": self.message,
                "file": loc.file if loc else None, "line": loc.line if loc else None,
                "column": loc.column if loc else None, "elements": list(self.elements),
                "element_ids": list(self.element_ids), "port_ids": list(self.port_ids),
                "links": list(self.links), "provider": self.provider}


def count(findings: Iterable[Finding], severity: Severity) -> int:
    return sum(1 for f in findings if f.severity == severity)


def format_text(findings: Sequence[Finding]) -> str:
    """Compiler-style lines and a summary line."""
    lines = [str(f) for f in findings]
    errors, warnings = count(findings, "error"), count(findings, "warning")
    lines.append(f"{errors} error{'s' * (errors != 1)}, "
                 f"{warnings} warning{'s' * (warnings != 1)}")
    return "\n".join(lines) + "\n"


def to_json(findings: Sequence[Finding], *, file: str | None = None) -> str:
    """One JSON document: ``version``, ``file``, counts and the findings."""
    return json.dumps({"version": JSON_VERSION, "file": file,
                       "errors": count(findings, "error"),
                       "warnings": count(findings, "warning"),
                       "findings": [f.as_dict() for f in findings]}, indent=2) + "\n"
