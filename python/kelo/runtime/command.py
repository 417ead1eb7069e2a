"""`kelo run FILE`: check a description file, run it, print the findings and
a summary of every element, and draw the run when asked.

While it runs, progress shows on stderr (`--quiet`: none) and a stall (no
item moved for `--stall-timeout` seconds while some element has not ended)
is reported: on stdout, or in the JSON document's ``stall`` object (and on
stderr) with `--json`.

Exit status: 0 when the run completes, 1 when the check has errors or the
run fails, times out, stalls under `--fail-on-stall` or is interrupted (Ctrl-C stops it cleanly: every
started element's `stop` runs and the summary is printed), 2 when the input
cannot be read.
"""

from __future__ import annotations

import contextlib
import dataclasses
import json
import traceback
from collections.abc import Callable, Mapping
from contextlib import AbstractContextManager
from typing import TYPE_CHECKING, Any, TextIO

from ..checker.description import ReadError
from ..checker.findings import JSON_VERSION, format_text
from ..checker.pictures import Overlay
from .figures import run_overlay
from .observe import DEFAULT_STALL_S, StallReport, Watch, stats_dict
from .progress import Progress
from .running import RunReport, start

if TYPE_CHECKING:
    from ..checker.checking import CheckResult

__all__ = ["run_command", "report_json"]

OK, FAILED, UNREADABLE = 0, 1, 2


def report_json(report: RunReport, file: str | None, stall: StallReport | None = None) -> str:
    """One JSON document: the findings, how the run ended, every element's
    counters, the last stall (or null)."""
    error = report.error
    return json.dumps({
        "version": JSON_VERSION, "file": file, "outcome": report.outcome, "ok": report.ok,
        "failed_element": report.failed_element, "message": report.message,
        "error": None if error is None else f"{type(error).__name__}: {error}",
        "findings": [f.as_dict() for f in report.findings],
        "stats": {name: stats_dict(s) for name, s in report.stats.items()},
        "stall": None if stall is None else stall.as_dict(),
    }, indent=2) + "\n"


def run_command(file: str, providers: str | None, strict: bool, timeout: float | None,
                want_json: bool, out: TextIO, err: TextIO, *, trace: str | None = None,
                quiet: bool = False, stall_s: float = DEFAULT_STALL_S,
                fail_on_stall: bool = False,
                draw: Callable[[CheckResult, Overlay | None], bool] | None = None,
                cluster: Callable[[], AbstractContextManager[Any]] | None = None,
                settings: Mapping[str, str] | None = None) -> int:
    """Run `file` as the command does; `draw`, when given, is called at the
    end with the check (every finding included) and the run's figures (None
    when nothing ran) and says whether it drew them. `cluster`: what makes
    the `distributed.Client` to run on (None: this process; on a cluster
    there is no progress or stall watch). `settings` map
    ``element.key`` to a config value that replaces the file's."""
    options = (file, providers, strict, timeout, want_json, out, err, trace, quiet, stall_s,
               fail_on_stall, draw, settings)
    if cluster is None:
        return _run(*options, None)
    from ..cluster.connect import ClusterUnavailable
    try:
        with cluster() as client:
            return _run(*options, client)
    except ClusterUnavailable as exc:
        print(f"kelo: {exc}", file=err)
        return UNREADABLE


def _run(file: str, providers: str | None, strict: bool, timeout: float | None,
         want_json: bool, out: TextIO, err: TextIO, trace: str | None, quiet: bool,
         stall_s: float, fail_on_stall: bool,
         draw: Callable[[CheckResult, Overlay | None], bool] | None,
         settings: Mapping[str, str] | None, client: Any) -> int:
    # With --json stdout carries the document alone: what elements print goes to stderr.
    with contextlib.redirect_stdout(err) if want_json else contextlib.nullcontext():
        try:
            running = start(file, providers=providers, strict=strict, trace=trace, cluster=client,
                            settings=settings)
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

        def on_stall(stall: StallReport) -> None:
            stream = err if want_json else out
            stream.write("\n".join(stall.lines()) + "\n")
            stream.flush()

        stall = None
        if client is not None:      # a cluster's groups report at the end only
            report = running.wait(timeout)
        else:
            progress = None if quiet else Progress(err)
            watch = Watch(running, show=None if progress is None else progress.update,
                          stall_s=stall_s, fail_on_stall=fail_on_stall, on_stall=on_stall)
            report = running.wait(timeout, watch=watch)
            stall = watch.stall
        if running.trace_written is not None:
            written, lost = running.trace_written
            print(f"kelo: trace {trace}: {written} events" +
                  (f", {lost} more not recorded (its buffers were full)" if lost else ""), file=err)
        if want_json:
            out.write(report_json(report, file, stall))
        elif report.outcome != "not_run":
            out.write(report.summary())
            if report.error is not None and report.outcome == "failed":
                err.write("".join(traceback.format_exception(report.error)))
        checked = getattr(running, "checked", None)
        if draw is not None and checked is not None:
            checked = dataclasses.replace(checked, findings=report.findings)
            if not draw(checked, run_overlay(checked, report.stats) if report.stats else None):
                return UNREADABLE
        return OK if report.ok else FAILED
