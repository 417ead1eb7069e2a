"""Micro-benchmark of identifiers at the Python surface.

Times PyStreamId against the standard library's uuid.UUID in the same run,
plus the cost of a no-op builtin call (`len(())`) as the floor that any call
from Python pays, and reports the ratios against the targets:

  new()       at least 10x faster than uuid.uuid4()
  from_str(s) at least  5x faster than uuid.UUID(s)
  hash(id), id == id2   within 2x of the floor
  str(id)               within 3x of the floor

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_ids.py [--repeat N] [--check]

Each figure is the minimum over the repeats of the mean time per call.
--check exits with status 1 when a target is missed.
"""

import argparse
import sys
import uuid

import timing

from kelo.ext.data import PyStreamId

SAMPLE = "550e8400-e29b-41d4-a716-446655440000"
SETUP = (
    "i = PyStreamId.from_str(s); i2 = PyStreamId.from_str(s); "
    "u = uuid.UUID(s); u2 = uuid.UUID(s)"
)
NAMESPACE = {"PyStreamId": PyStreamId, "uuid": uuid, "s": SAMPLE}

# (label, kelo statement, baseline statement, kind, target)
#   kind "speedup": baseline time / kelo time must be >= target
#   kind "floor":   kelo time / floor time must be <= target
CASES = [
    ("new()", "PyStreamId.new()", "uuid.uuid4()", "speedup", 10.0),
    ("from_str(s)", "PyStreamId.from_str(s)", "uuid.UUID(s)", "speedup", 5.0),
    ("str(id)", "str(i)", "str(u)", "floor", 3.0),
    ("hash(id)", "hash(i)", "hash(u)", "floor", 2.0),
    ("id == id2", "i == i2", "u == u2", "floor", 2.0),
]
FLOOR = "len(())"


def per_call(stmt: str, repeat: int) -> float:
    return timing.per_call(stmt, SETUP, NAMESPACE, repeat)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="repeats per statement (default 7)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()

    print(f"Python {sys.version.split()[0]}, min of {args.repeat} repeats, ns per call")
    floor = per_call(FLOOR, args.repeat)
    print(f"{'floor ' + FLOOR:<24}{floor * 1e9:>9.1f}")
    print()
    header = f"{'operation':<14}{'kelo':>9}{'uuid':>9}{'uuid/kelo':>11}{'kelo/floor':>12}  target"
    print(header)
    print("-" * (len(header) + 14))
    missed = []
    for label, ours, theirs, kind, target in CASES:
        t_ours = per_call(ours, args.repeat)
        t_theirs = per_call(theirs, args.repeat)
        speedup = t_theirs / t_ours
        over_floor = t_ours / floor
        if kind == "speedup":
            ok = speedup >= target
            goal = f">= {target:g}x faster than uuid"
        else:
            ok = over_floor <= target
            goal = f"<= {target:g}x floor"
        if not ok:
            missed.append(label)
        print(
            f"{label:<14}{t_ours * 1e9:>9.1f}{t_theirs * 1e9:>9.1f}"
            f"{speedup:>10.2f}x{over_floor:>11.2f}x  {goal:<26}{'ok' if ok else 'MISSED'}"
        )
    print()
    print("all targets met" if not missed else "targets missed: " + ", ".join(missed))
    return 1 if (missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
