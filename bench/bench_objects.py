"""Benchmark of detected objects and metadata appends at the Python surface.

Every figure stands beside a baseline measured in the same run:

  a. add_object   PyMetadata.add_object through a bound method, per call, into
                  a new metadata of 100, 1,000 and 100,000 objects, beside a
                  bound list.append of the same objects into a new list.
                  Targets: at most 3x list.append; per call at 100,000 at most
                  1.5x per call at 100 (flat).
  b. build        PyDetectedObject(id, bbox) and four builder steps (label,
                  confidence, two attributes) beside a slotted dataclass with the
                  same fields made in one call. Target: at most the dataclass.
  c. memory       RSS growth of a fresh process keeping 200,000 such objects
                  (identifiers, boxes and attribute values made beforehand for
                  both), beside the slotted dataclass. Target: at most the
                  dataclass's bytes per object.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_objects.py [--repeat N] [--check]

Times are the minimum over the repeats; --check exits with status 1 when a
target is missed.
"""

import argparse
import dataclasses
import gc
import json
import subprocess
import sys
import time

from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyDetectedObject, PyMetadata,
                           PyObjectId)


@dataclasses.dataclass(slots=True, frozen=True)
class Obj:
    id: object
    bbox: object
    class_id: object
    label: object
    confidence: object
    attributes: dict


RED = PyAttributeValue.of_string("red")


def kelo_build(oid, box, age, conf):
    return (PyDetectedObject(oid, box).with_label("person").with_confidence(conf)
            .with_attribute("color", RED).with_attribute("age", age))


def model_build(oid, box, age, conf):
    return Obj(oid, box, None, "person", conf, {"color": RED, "age": age})


def best(fn, repeat):
    t = float("inf")
    for _ in range(repeat):
        start = time.perf_counter()
        fn()
        t = min(t, time.perf_counter() - start)
    return t


def case_adds(n, repeat):
    box = PyBoundingBox(1, 2, 3, 4)
    objs = [PyDetectedObject(PyObjectId.new(), box).with_label("person") for _ in range(n)]
    rounds = max(1, 100_000 // n)

    def kelo():
        for _ in range(rounds):
            add = PyMetadata().add_object
            for o in objs:
                add(o)

    def append():
        for _ in range(rounds):
            add = [].append
            for o in objs:
                add(o)

    calls = n * rounds
    return {"kelo": best(kelo, repeat) / calls, "append": best(append, repeat) / calls}


def case_build(repeat):
    oid, box = PyObjectId.new(), PyBoundingBox(1, 2, 3, 4)
    age = PyAttributeValue.of_int(7)
    n = 20_000
    r = range(n)

    def kelo():
        for _ in r:
            kelo_build(oid, box, age, 0.9)

    def model():
        for _ in r:
            model_build(oid, box, age, 0.9)

    return {"kelo": best(kelo, repeat) / n, "model": best(model, repeat) / n}


def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


def case_memory(which, n):
    box = PyBoundingBox(1, 2, 3, 4)
    ids = [PyObjectId.new() for _ in range(n)]
    ages = [PyAttributeValue.of_int(i) for i in range(n)]
    confs = [0.5 + i * 1e-7 for i in range(n)]
    build = kelo_build if which == "kelo" else model_build
    keep = [None] * n
    gc.collect()
    before = rss()
    for i in range(n):
        keep[i] = build(ids[i], box, ages[i], confs[i])
    return {"bytes": (rss() - before) / n}


def child(*args):
    cmd = [sys.executable, __file__, "--child", *map(str, args)]
    p = subprocess.run(cmd, capture_output=True, text=True, check=True)
    return json.loads(p.stdout)


def main() -> int:
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        gc.disable()
        which, n = sys.argv[2], int(sys.argv[3])
        print(json.dumps(case_memory(which, n)))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="repeats per case (default 5)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()
    missed = []

    def check(label, ok):
        if not ok:
            missed.append(label)
        return "ok" if ok else "MISSED"

    print(f"Python {sys.version.split()[0]}, minimum over {args.repeat} repeats")
    print()
    print("a. add_object through a bound method vs bound list.append, per call")
    per = {}
    for n in (100, 1000, 100_000):
        r = case_adds(n, args.repeat)
        per[n] = r["kelo"]
        ratio = r["kelo"] / r["append"]
        print(f"  {n:>7} objects: add_object {r['kelo'] * 1e9:6.1f} ns, list.append "
              f"{r['append'] * 1e9:5.1f} ns, ratio {ratio:4.2f}  (<= 3)  "
              f"{check(f'add_object {n} vs append', ratio <= 3)}")
    flat = per[100_000] / per[100]
    print(f"  per call at 100,000 / at 100 = {flat:.2f}  (<= 1.5)  {check('add_object flat', flat <= 1.5)}")
    print()
    print("b. constructor + four builder steps vs a slotted dataclass made in one call")
    r = case_build(args.repeat)
    ratio = r["kelo"] / r["model"]
    print(f"  kelo {r['kelo'] * 1e9:.0f} ns, dataclass {r['model'] * 1e9:.0f} ns, ratio {ratio:.2f}  "
          f"(<= 1)  {check('build vs dataclass', ratio <= 1)}")
    print()
    print("c. RSS growth per object over 200,000 objects, fresh process each")
    k = child("kelo", 200_000)["bytes"]
    m = child("model", 200_000)["bytes"]
    print(f"  kelo {k:.0f} bytes, dataclass {m:.0f} bytes, ratio {k / m:.2f}  (<= 1)  "
          f"{check('memory vs dataclass', k <= m)}")
    print()
    print("all targets met" if not missed else "targets missed: " + ", ".join(missed))
    return 1 if (missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
