"""`kelo run FILE`: check a description file, run it, print the findings and
a summary of every element.

Exit status: 0 when the run completes, 1 when the check has errors or the
run fails, times out or is interrupted (Ctrl-C stops it cleanly: every
started element's `stop` runs and the summary is printed), 2 when the input
cannot be read.
"""

from __future__ import annotations

import json
import traceback
from dataclasses import asdict
from typing import TextIO

from ..checker.description import ReadError
from ..checker.findings import JSON_VERSION, format_text
from .running import RunReport, start

__all__ = ["run_command", "report_json"]

OK, FAILED, UNREADABLE = 0, 1, 2


def report_json(report: RunReport, file: str | None) -> str:
    """One JSON document: the findings, how the run ended, every element's
    counters."""
    error = report.error
    return json.dumps({
        "version": JSON_VERSION, "file": file, "outcome": report.outcome, "ok": report.ok,
        "failed_element": report.failed_element, "message": report.message,
        "error": None if error is None else f"{type(error).__name__}: {error}",
        "findings": [f.as_dict() for f in report.findings],
        "stats": {name: asdict(s) for name, s in report.stats.items()},
    }, indent=2) + "\n"


def run_command(file: str, providers: str | None, strict: bool, timeout: float | None,
                want_json: bool, out: TextIO, err: TextIO) -> int:
    try:
        running = start(file, providers=providers, strict=strict)
    except KeyboardInterrupt:
        print("kelo: interrupted before the run started", file=err)
        return FAILED
    except ReadError as exc:
        if want_json:
            out.write(json.dumps({"version": JSON_VERSION, "file": file,
                                  "findings": [exc.finding.as_dict()]}, indent=2) + "\n")
        else:
            print(exc.finding, file=err)
        return UNREADABLE
    try:
        if not want_json:
            out.write(format_text(running.findings))
            out.flush()
    except KeyboardInterrupt:
        running.interrupt()
    report = running.wait(timeout)
    if want_json:
        out.write(report_json(report, file))
    elif report.outcome != "not_run":
        out.write(report.summary())
        if report.error is not None and report.outcome == "failed":
            err.write("".join(traceback.format_exception(report.error)))
    return OK if report.ok else FAILED
