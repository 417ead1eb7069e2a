"""Benchmark of tracing: the cost of a hop between Python elements with the
run traced against the same run untraced (bench_runtime's chain of ten
pass-through elements). Recording is measured alone (the run, the trace kept
in memory) and with the trace file written at the end. Target: recording
costs at most 5% of a hop.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_observe.py [--repeat N] [--items N] [--check]

Each figure is the median over the repeats, the runs interleaved.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time

import kelo

sys.path.insert(0, os.path.dirname(__file__))
from bench_runtime import ELEMENTS, HOPS, PASS, chain  # noqa: E402


def timed(items: int, trace: str | None) -> tuple[float, float]:
    """Seconds per item per hop: the run until it ended, and with the trace
    written."""
    running = kelo.start(chain(PASS, HOPS, items), elements=ELEMENTS, trace=trace,
                         trace_events=items * (HOPS + 2) * 8)
    t = time.perf_counter()
    handle = running._handle
    handle.poll(None)
    ran = time.perf_counter() - t
    report = running.wait()
    total = time.perf_counter() - t
    if not report.ok:
        raise SystemExit(f"run failed: {report.summary()}")
    return ran / (items * HOPS), total / (items * HOPS)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--items", type=int, default=20_000)
    parser.add_argument("--check", action="store_true", help="exit 1 when the target is missed")
    args = parser.parse_args()
    off, on, written = [], [], []
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "trace.json")
        for _ in range(args.repeat):
            off.append(timed(args.items, None)[0])
            ran, total = timed(args.items, path)
            on.append(ran)
            written.append(total)
        size = os.path.getsize(path)
    base, traced, with_file = map(statistics.median, (off, on, written))
    ok = traced <= 1.05 * base
    print(f"hop        untraced {base * 1e9:7.0f} ns  traced {traced * 1e9:7.0f} ns  "
          f"ratio {traced / base:5.3f} (target <= 1.05)  [{'ok' if ok else 'MISSED'}]")
    print(f"hop+file   untraced {base * 1e9:7.0f} ns  traced, file written {with_file * 1e9:7.0f} ns"
          f"  ratio {with_file / base:5.3f}  ({size / 1e6:.1f} MB for {args.items} items)")
    return 1 if args.check and not ok else 0


if __name__ == "__main__":
    sys.exit(main())
