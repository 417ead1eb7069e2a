"""Micro-benchmark of select_provider at the Python surface.

A registry of 10,000 descriptors spread over 1,000 element types (ten per
type, half of them offering `cuda` and `custom("accelerator:tpu")`), asked
with 0 and with 2 requirements (`cuda_required`, `accelerator("tpu")`) under
each policy. Beside every case runs a plain Python model of the same
selection (a dict of lists of small objects, the same three steps), in the
same run; the target is at least 10x faster per call than the model.
Beside it stands the floor, a builtin call with three arguments that does
almost nothing (`getattr(z, 'real', None)`), measured the same way; the
target for the highest priority policy with 2 requirements is at most 3x
the floor.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_selection.py [--repeat N] [--check]

Each figure is the minimum over the repeats of the mean time per call, over
calls that cycle through 1,000 element types. --check exits with status 1
when a target is missed.
"""

import argparse
import sys
import timeit

from kelo.ext.graph import PyElementTypeId
from kelo.ext.provider import (
    PyCapability,
    PyProviderDescriptor,
    PyProviderId,
    PyProviderRegistry,
    PyRequirement,
    PySelectionPolicy,
    PyVersion,
    select_provider,
)

TYPES, PER_TYPE, TARGET, FLOOR_TARGET = 1000, 10, 10.0, 3.0


class Model:
    """The model's descriptor: what selection reads."""

    __slots__ = ("id", "priority", "caps")

    def __init__(self, id, priority, caps):
        self.id, self.priority, self.caps = id, priority, caps


def model_satisfies(req, caps):
    kind, payload = req
    if kind in ("cuda_required", "gpu_memory"):
        return "cuda" in caps
    if kind == "accelerator":
        return "custom:accelerator:" + payload in caps
    if kind == "external_runtime":
        return "custom:runtime:" + payload in caps
    if kind == "operating_system":
        return payload.lower() == "linux"
    return True


def model_select(lists, element_type, requirements, policy):
    candidates = lists.get(element_type)
    if not candidates:
        raise ValueError("no providers found")
    survivors = [d for d in candidates if all(model_satisfies(r, d.caps) for r in requirements)]
    if not survivors:
        raise ValueError("no provider satisfies requirements")
    kind = policy[0]
    if kind == "first":
        return survivors[0]
    if kind == "manual":
        for d in survivors:
            if d.id == policy[1]:
                return d
        raise ValueError("provider not found")
    best = survivors[0]
    for d in survivors[1:]:
        if d.priority >= best.priority:
            best = d
    return best


def build():
    registry, lists = PyProviderRegistry(), {}
    gpu_caps = [PyCapability.cuda(), PyCapability.fp16(), PyCapability.custom("accelerator:tpu")]
    cpu_caps = [PyCapability.int8(), PyCapability.batching()]
    for t in range(TYPES):
        name = f"kelo.bench.type{t}"
        type_id = PyElementTypeId(name)
        for k in range(PER_TYPE):
            gpu = k % 2 == 1
            pid, priority = f"vendor.provider{k}", (k * 7) % 5
            d = PyProviderDescriptor(PyProviderId(pid), PyVersion(1, k, 0)).with_element_type(type_id)
            for c in gpu_caps if gpu else cpu_caps:
                d = d.with_capability(c)
            registry.register(d.with_priority(priority))
            caps = {str(c) for c in (gpu_caps if gpu else cpu_caps)}
            lists.setdefault(name, []).append(Model(pid, priority, caps))
    return registry, lists


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="repeats per statement (default 5)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()

    registry, lists = build()
    assert len(registry) == TYPES * PER_TYPE
    ns = {
        "select_provider": select_provider, "model_select": model_select, "r": registry, "lists": lists,
        "types": [PyElementTypeId(f"kelo.bench.type{t}") for t in range(TYPES)],
        "names": [f"kelo.bench.type{t}" for t in range(TYPES)],
        "req0": [], "req2": [PyRequirement.cuda_required(), PyRequirement.accelerator("tpu")],
        "mreq0": [], "mreq2": [("cuda_required", None), ("accelerator", "tpu")],
        "HighestPriority": PySelectionPolicy.highest_priority(),
        "FirstAvailable": PySelectionPolicy.first_available(),
        "Manual": PySelectionPolicy.manual(PyProviderId("vendor.provider7")),
        "z": 1j, "mHighestPriority": ("highest",), "mFirstAvailable": ("first",), "mManual": ("manual", "vendor.provider7"),
    }
    for name in ("HighestPriority", "FirstAvailable", "Manual"):  # both sides agree on every type
        for n in (0, 2):
            for t, m in zip(ns["types"], ns["names"]):
                ours = select_provider(t, registry, ns[f"req{n}"], ns[name])
                theirs = model_select(lists, m, ns[f"mreq{n}"], ns["m" + name])
                assert (ours.id.as_str(), ours.priority) == (theirs.id, theirs.priority)

    def per_call(body):
        stmt = f"for i in range({TYPES}): {body}"
        timer = timeit.Timer(stmt, globals=ns)
        return min(timer.repeat(repeat=args.repeat, number=20)) / (20 * TYPES)

    floor = per_call("getattr(z, 'real', None)")
    print(f"Python {sys.version.split()[0]}, {TYPES * PER_TYPE} descriptors over {TYPES} element types, "
          f"min of {args.repeat} repeats, ns per call")
    print(f"{'floor getattr(z, ...)':<26}{floor * 1e9:>9.1f}  (loop included)")
    print()
    header = f"{'policy':<18}{'reqs':>5}{'kelo':>9}{'model':>9}{'model/kelo':>12}  target"
    print(header)
    print("-" * len(header))
    missed = []
    for name in ("HighestPriority", "FirstAvailable", "Manual"):
        for n in (0, 2):
            ours = per_call(f"select_provider(types[i], r, req{n}, {name})")
            theirs = per_call(f"model_select(lists, names[i], mreq{n}, m{name})")
            ratio = theirs / ours
            ok = ratio >= TARGET
            if not ok:
                missed.append(f"{name}/{n}")
            over = ours / floor
            line = (f"{name:<18}{n:>5}{ours * 1e9:>9.1f}{theirs * 1e9:>9.1f}{ratio:>11.2f}x"
                    f"  >= {TARGET:g}x  {'ok' if ok else 'MISSED':<6}{over:>8.2f}x")
            if (name, n) == ("HighestPriority", 2):
                fast = over <= FLOOR_TARGET
                if not fast:
                    missed.append(f"{name}/{n} vs floor")
                line += f"  <= {FLOOR_TARGET:g}x  {'ok' if fast else 'MISSED'}"
            print(line)
    print()
    print("all targets met" if not missed else "targets missed: " + ", ".join(missed))
    return 1 if (missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
