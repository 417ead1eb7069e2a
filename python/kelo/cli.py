"""The `kelo` command: check, draw and explain pipeline description files.

    kelo --version
    kelo check FILE [--providers DIR] [--strict] [--set E.KEY=VALUE]... [--json] [--draw OUT]
    kelo draw FILE OUT [--providers DIR] [--strict] [--set E.KEY=VALUE]... [--stats RUN_JSON]
    kelo explain FILE ELEMENT [--providers DIR] [--strict] [--set E.KEY=VALUE]... [--json]
    kelo run FILE [--providers DIR] [--strict] [--set E.KEY=VALUE]... [--timeout S] [--json]
                  [--trace OUT] [--quiet] [--stall-timeout S] [--fail-on-stall] [--draw OUT]
                  [--cluster ADDRESS [--tls-ca-file F --tls-cert F [--tls-key F]] | --workers N]

`--set ELEMENT.KEY=VALUE` replaces one key of an element's `config` table
(the input video of a source, the path of a sink's output, ...).

Exit status: 0 when the check finds no errors (``draw``: the picture was
written; ``run``: the run completed), 1 when it finds errors (``run``: or
the run fails, times out or is interrupted), 2 when the input cannot be read
(a missing file, invalid TOML, a bad command line, a picture that cannot be
made).
"""

from __future__ import annotations

import argparse
import contextlib
import difflib
import json
import sys
from collections.abc import Sequence
from typing import Any, TextIO

from . import __version__
from .checker.checking import CheckResult, Decision, check_file
from .checker.description import ReadError
from .checker.findings import JSON_VERSION, Finding, format_text, to_json
from .checker.pictures import GraphvizError, Overlay, draw, format_of
from .runtime.command import run_command
from .runtime.figures import StatsError, read_stats, run_overlay
from .runtime.observe import DEFAULT_STALL_S

__all__ = ["main"]

OK, FAILED, UNREADABLE = 0, 1, 2


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="kelo", description="Check, draw and explain kelo "
                                     "pipeline description files.")
    parser.add_argument("--version", action="version", version=f"kelo {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    def common(p: argparse.ArgumentParser) -> None:
        p.add_argument("file", metavar="FILE", help="pipeline description (TOML)")
        p.add_argument("--providers", metavar="DIR",
                       help="also read the [[provider]] tables of every *.toml in DIR")
        p.add_argument("--strict", action="store_true",
                       help="a provider choice that fell back, or a requirement met only by "
                       "assumption, is an error")
        p.add_argument("--set", action="append", type=_setting, default=[], dest="settings",
                       metavar="ELEMENT.KEY=VALUE", help="set a key of an element's config "
                       "(again for more keys)")

    check = commands.add_parser("check", help="report every finding, in order")
    common(check)
    check.add_argument("--json", action="store_true", help="one JSON document on stdout")
    check.add_argument("--draw", metavar="OUT", help="also draw the pipeline (.svg .png .pdf .dot)")
    picture = commands.add_parser("draw", help="draw the pipeline with its findings marked")
    common(picture)
    picture.add_argument("out", metavar="OUT", help="picture file: .svg, .png, .pdf or .dot")
    picture.add_argument("--stats", metavar="RUN_JSON",
                         help="draw the figures of a run (what `kelo run FILE --json` writes)")
    explain = commands.add_parser("explain", help="the provider decision for one element")
    common(explain)
    explain.add_argument("element", metavar="ELEMENT", help="element name")
    explain.add_argument("--json", action="store_true", help="one JSON document on stdout")
    running = commands.add_parser("run", help="check, then run the pipeline and summarise it")
    common(running)
    running.add_argument("--timeout", type=float, metavar="S", help="stop the run after S seconds")
    running.add_argument("--json", action="store_true", help="one JSON document on stdout")
    running.add_argument("--trace", metavar="OUT",
                         help="write the run's trace (Chrome trace events, for Perfetto)")
    running.add_argument("--quiet", action="store_true", help="no live progress on stderr")
    running.add_argument("--stall-timeout", type=_seconds, default=DEFAULT_STALL_S, metavar="S",
                         help="report a stall when no item moved for S seconds "
                         f"(default {DEFAULT_STALL_S:g})")
    running.add_argument("--fail-on-stall", action="store_true",
                         help="end the run with status 1 at the first stall")
    running.add_argument("--draw", metavar="OUT",
                         help="draw the pipeline with the run's figures (.svg .png .pdf .dot)")
    where = running.add_mutually_exclusive_group()
    where.add_argument("--cluster", metavar="ADDRESS",
                       help="run the placement groups on the Dask scheduler at ADDRESS")
    where.add_argument("--workers", type=int, metavar="N",
                       help="run them on a local cluster of N worker processes (127.0.0.1)")
    for option, text in (("--tls-ca-file", "authority of the cluster's certificates"),
                         ("--tls-cert", "this client's certificate"),
                         ("--tls-key", "this client's key (when not in --tls-cert)")):
        running.add_argument(option, metavar="FILE", help=text)
    return parser


def _cluster(args: argparse.Namespace) -> Any:
    """What `kelo run` runs on: None (this process) or a `connect` call."""
    if args.cluster is None and args.workers is None:
        return None
    from .cluster.connect import Tls, connect
    tls = Tls(args.tls_ca_file, args.tls_cert, args.tls_key) \
        if args.tls_ca_file and args.tls_cert else None
    return lambda: connect(args.cluster, args.workers or 0, tls)


def _setting(text: str) -> tuple[str, str]:
    ref, equals, value = text.partition("=")
    if not equals or "." not in ref.strip("."):
        raise argparse.ArgumentTypeError(f"{text!r} is not of the form ELEMENT.KEY=VALUE")
    return ref, value


def _seconds(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        value = float("nan")
    if not value > 0 or value == float("inf"):
        raise argparse.ArgumentTypeError(f"{text!r} is not a positive number of seconds")
    return value


def main(argv: Sequence[str] | None = None, stdout: TextIO | None = None,
         stderr: TextIO | None = None) -> int:
    out = stdout or sys.stdout
    err = stderr or sys.stderr
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err):
            args = _parser().parse_args(argv)
    except SystemExit as exc:       # argparse has printed its message
        return exc.code if isinstance(exc.code, int) else UNREADABLE
    picture = args.out if args.command == "draw" else getattr(args, "draw", None)
    if picture is not None:
        try:
            format_of(picture)
        except ValueError as exc:
            print(f"kelo: {exc}", file=err)
            return UNREADABLE
    want_json = getattr(args, "json", False)

    def drawn(result: CheckResult, overlay: Overlay | None) -> bool:
        try:
            written = draw(result, picture, overlay=overlay)
        except (GraphvizError, OSError) as exc:
            print(f"kelo: cannot draw {picture}: {exc}", file=err)
            return False
        print(f"kelo: drew {written}", file=err if want_json else out)
        return True

    if args.command == "run":
        return run_command(args.file, args.providers, args.strict, args.timeout, want_json, out,
                           err, trace=args.trace, quiet=args.quiet,
                           stall_s=args.stall_timeout, fail_on_stall=args.fail_on_stall,
                           draw=None if picture is None else drawn,
                           cluster=_cluster(args), settings=dict(args.settings))
    try:
        result = check_file(args.file, args.providers, strict=args.strict,
                            settings=dict(args.settings))
    except ReadError as exc:
        if want_json:
            out.write(to_json([exc.finding], file=args.file))
        else:
            print(exc.finding, file=err)
        return UNREADABLE
    if args.command == "explain":
        return _explain(result, args.element, want_json, out, err)
    status = FAILED if result.errors else OK
    if args.command == "check":
        out.write(to_json(result.findings, file=args.file) if want_json
                  else format_text(result.findings))
    overlay = None
    if getattr(args, "stats", None) is not None:
        try:
            overlay = run_overlay(result, read_stats(args.stats))
        except StatsError as exc:
            print(f"kelo: {args.stats}: {exc}", file=err)
            return UNREADABLE
    if picture is not None:
        if not drawn(result, overlay):
            return UNREADABLE
        if args.command == "draw":
            return OK
    return status


def _explain(result: CheckResult, element: str, want_json: bool, out: TextIO,
             err: TextIO) -> int:
    if element not in result.description.pipeline:
        near = difflib.get_close_matches(element, [e.name for e in result.built.elements], n=1)
        hint = f" (did you mean {near[0]!r}?)" if near else ""
        if want_json:
            out.write(json.dumps({"version": JSON_VERSION, "element": element,
                                  "error": f"no element named {element!r}{hint}"}, indent=2) + "\n")
        else:
            print(f"kelo: no element named {element!r}{hint}", file=err)
        return UNREADABLE
    decision = result.decision(element)
    findings = [f for f in result.findings if element in f.elements
                and (f.code.startswith("K4") or f.severity == "error")]
    if want_json:
        out.write(json.dumps({"version": JSON_VERSION, "element": element,
                              "decision": decision and _decision_json(decision),
                              "findings": [f.as_dict() for f in findings]}, indent=2) + "\n")
    elif decision is None:
        out.write(f"element {element!r}: no providers are declared (in the file or with "
                  "--providers)\n")
    else:
        out.write(_decision_text(decision, findings))
    if decision is None or decision.chosen is None or any(f.severity == "error"
                                                          for f in findings):
        return FAILED
    return OK


def _decision_text(d: Decision, findings: Sequence[Finding]) -> str:
    unreadable = " (unreadable)"
    policy = d.policy + unreadable * (d.policy in d.unread)
    requires = ", ".join([*d.requirements, *(u + unreadable for u in d.unread if u != d.policy)])
    lines = [f"element {d.element!r} (type {d.type}), policy {policy}, "
             f"requires {requires or 'nothing'}"]
    if d.unread:
        lines.append("  no provider chosen: the element's requirements and policy are read first")
    if d.chosen is not None:
        lines.append(f"  chosen: {d.chosen.id} {d.chosen.version} (priority {d.chosen.priority})")
    for c in d.candidates:
        if c.verdict != "chosen":
            lines.append(f"  not chosen: {c.provider.id} {c.provider.version} "
                         f"(priority {c.provider.priority}): {c.reason}")
    lines.extend(f"  {f.severity} {f.code}: {f.message}" for f in findings
                 if f.severity == "error" or f.code in ("K408", "K409"))
    return "\n".join(lines) + "\n"


def _decision_json(d: Decision) -> dict[str, object]:
    return {"element": d.element, "type": d.type, "policy": d.policy,
            "requirements": list(d.requirements), "unreadable": list(d.unread),
            "chosen": d.chosen.id if d.chosen is not None else None,
            "candidates": [{"provider": c.provider.id, "version": str(c.provider.version),
                            "priority": c.provider.priority, "verdict": c.verdict,
                            "reason": c.reason, "assumed": list(c.assumed)}
                           for c in d.candidates]}
