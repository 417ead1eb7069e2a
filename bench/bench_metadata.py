"""Micro-benchmark of per-frame metadata and attribute maps at the Python surface.

Times kelo beside plain-Python models of the same calls in the same run:

  add_object x1000     1,000 PyMetadata.add_object calls into a new metadata
  objects of 1000      reading `objects` of a metadata holding 1,000 objects
  insert / get         PyAttributes.insert (replacing) and get on maps of 10
                       and of 10,000 entries

The model is a dataclass with lists (and a dict for the attributes). PyMetadata
keeps its own copy of every added object and hands out copies when read, so the
model that keeps the same contract copies too; it is timed two ways:

  deepcopy   copy.deepcopy of the object, the idiomatic copy of a dataclass
  fieldwise  a hand-written copy: a new dataclass over the same fields and a
             new attribute dict (the fastest faithful copy in plain Python)

A third model, `shared`, appends and reads the caller's objects themselves
(list.append, list(...)); it breaks the copy contract (mutating an entry read
back changes the metadata) and is shown only as the floor of a list operation.

Targets: adds and reads at least 10x faster than the copying model (deepcopy);
insert/get O(log n) or better (the 10,000-entry map within 3x of the 10-entry
map, where O(n) would be about 1000x).

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_metadata.py [--repeat N] [--check]

Each figure is the minimum over the repeats of the mean time per statement.
--check exits with status 1 when a target is missed.
"""

import argparse
import copy
import dataclasses
import sys
import timeit
import uuid

from kelo.ext.data import (PyAttributes, PyAttributeValue, PyBoundingBox, PyClassId,
                           PyDetectedObject, PyMetadata, PyObjectId)


@dataclasses.dataclass(frozen=True)
class Box:
    x: float
    y: float
    width: float
    height: float


@dataclasses.dataclass(frozen=True)
class Value:
    kind: str
    value: object


@dataclasses.dataclass
class Obj:
    id: uuid.UUID
    bbox: Box
    class_id: uuid.UUID | None = None
    label: str | None = None
    confidence: float | None = None
    attributes: dict = dataclasses.field(default_factory=dict)

    def copy(self):
        return Obj(self.id, self.bbox, self.class_id, self.label, self.confidence,
                   dict(self.attributes))


@dataclasses.dataclass
class DeepMeta:
    _objects: list = dataclasses.field(default_factory=list)

    def add_object(self, o):
        self._objects.append(copy.deepcopy(o))

    @property
    def objects(self):
        return [copy.deepcopy(o) for o in self._objects]


@dataclasses.dataclass
class FieldMeta:
    _objects: list = dataclasses.field(default_factory=list)

    def add_object(self, o):
        self._objects.append(o.copy())

    @property
    def objects(self):
        return [o.copy() for o in self._objects]


@dataclasses.dataclass
class SharedMeta:
    _objects: list = dataclasses.field(default_factory=list)

    def add_object(self, o):
        self._objects.append(o)

    @property
    def objects(self):
        return list(self._objects)


@dataclasses.dataclass
class Attrs:
    _entries: dict = dataclasses.field(default_factory=dict)

    def insert(self, key, value):
        self._entries[key] = value

    def get(self, key):
        return self._entries.get(key)


def kelo_object(i):
    return (PyDetectedObject(PyObjectId.new(), PyBoundingBox(i, 2 * i, 30, 40))
            .with_class_id(PyClassId.new()).with_label("person").with_confidence(0.9)
            .with_attribute("color", PyAttributeValue.of_string("red"))
            .with_attribute("track_age", PyAttributeValue.of_int(i)))


def model_object(i):
    return Obj(uuid.uuid4(), Box(i, 2 * i, 30, 40), uuid.uuid4(), "person", 0.9,
               {"color": Value("string", "red"), "track_age": Value("int", i)})


def keys(n):
    return [f"attribute-{i:05d}" for i in range(n)]


def kelo_attrs(n):
    a = PyAttributes()
    for k in keys(n):
        a.insert(k, PyAttributeValue.of_int(1))
    return a


def model_attrs(n):
    a = Attrs()
    for k in keys(n):
        a.insert(k, Value("int", 1))
    return a


N = 1000
SETUP = f"""
kobjs = [kelo_object(i) for i in range({N})]
mobjs = [model_object(i) for i in range({N})]
kfull = PyMetadata()
for o in kobjs: kfull.add_object(o)
full = {{m: m() for m in (DeepMeta, FieldMeta, SharedMeta)}}
for m in full.values():
    for o in mobjs: m.add_object(o)
ka = {{n: kelo_attrs(n) for n in (10, 10000)}}
ma = {{n: model_attrs(n) for n in (10, 10000)}}
kv = PyAttributeValue.of_int(2); mv = Value("int", 2)
key = {{n: keys(n)[n // 2] for n in (10, 10000)}}
"""
NAMESPACE = dict(globals())

ADD = "m = {}()\nfor o in {}: m.add_object(o)"
MODELS = ["DeepMeta", "FieldMeta", "SharedMeta"]
# label, kelo statement, model statements by model name
LIST_CASES = [
    (f"add_object x{N}", ADD.format("PyMetadata", "kobjs"),
     {m: ADD.format(m, "mobjs") for m in MODELS}),
    (f"objects of {N}", "kfull.objects", {m: f"full[{m}].objects" for m in MODELS}),
]
MAP_CASES = [  # label, kelo statement, model statement (n is substituted)
    ("insert", "ka[{n}].insert(key[{n}], kv)", "ma[{n}].insert(key[{n}], mv)"),
    ("get", "ka[{n}].get(key[{n}])", "ma[{n}].get(key[{n}])"),
]


def per_run(stmt: str, repeat: int) -> float:
    timer = timeit.Timer(stmt, setup=SETUP, globals=NAMESPACE)
    number, _ = timer.autorange()
    return min(timer.repeat(repeat=repeat, number=number)) / number


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="repeats per statement (default 5)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()
    missed = []

    print(f"Python {sys.version.split()[0]}, min of {args.repeat} repeats, microseconds per statement")
    print()
    head = (f"{'operation':<18}{'kelo':>9}{'deepcopy':>10}{'fieldwise':>11}{'shared':>9}"
            f"{'deepcopy/kelo':>15}{'fieldwise/kelo':>16}{'shared/kelo':>13}  target")
    print(head)
    print("-" * (len(head) + 20))
    for label, ours, models in LIST_CASES:
        k = per_run(ours, args.repeat)
        t = {m: per_run(s, args.repeat) for m, s in models.items()}
        ratio = {m: t[m] / k for m in MODELS}
        ok = ratio["DeepMeta"] >= 10
        if not ok:
            missed.append(label)
        print(f"{label:<18}{k * 1e6:>9.1f}{t['DeepMeta'] * 1e6:>10.1f}{t['FieldMeta'] * 1e6:>11.1f}"
              f"{t['SharedMeta'] * 1e6:>9.1f}{ratio['DeepMeta']:>14.1f}x{ratio['FieldMeta']:>15.1f}x"
              f"{ratio['SharedMeta']:>12.2f}x  >= 10x deepcopy: {'ok' if ok else 'MISSED'}")
    print()
    head = (f"{'operation':<18}{'kelo n=10':>11}{'n=10000':>9}{'model n=10':>12}{'n=10000':>9}"
            f"{'kelo 10000/10':>15}{'model/kelo':>12}  target")
    print(head)
    print("-" * (len(head) + 24))
    for label, ours, model in MAP_CASES:
        k = {n: per_run(ours.format(n=n), args.repeat) for n in (10, 10000)}
        m = {n: per_run(model.format(n=n), args.repeat) for n in (10, 10000)}
        growth = k[10000] / k[10]
        ok = growth <= 3
        if not ok:
            missed.append(label)
        print(f"{label:<18}{k[10] * 1e9:>9.0f}ns{k[10000] * 1e9:>7.0f}ns{m[10] * 1e9:>10.0f}ns"
              f"{m[10000] * 1e9:>7.0f}ns{growth:>14.2f}x{m[10000] / k[10000]:>11.2f}x"
              f"  O(log n) (<= 3x): {'ok' if ok else 'MISSED'}")
    print()
    print("all targets met" if not missed else "targets missed: " + ", ".join(missed))
    return 1 if (missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
