"""Benchmark of per-frame results in bulk: columns, array ingestion, export, pickling.

Times kelo beside its plain-Python baseline in the same run:

  columns of 1000      kelo.columns(md) on a metadata of 1,000 objects, beside
                       the plain loop reading the same fields through
                       `objects`, `bbox` and `confidence`       target >= 50x
  add_objects 1000     kelo.add_objects from numpy arrays (boxes, confidence,
                       labels), beside 1,000 PyDetectedObject + with_label +
                       with_confidence + add_object               target >= 20x
  to_dict+dumps 40     kelo.io.to_dict + json.dumps of a metadata of 40
                       objects (label, confidence, two attributes), beside
                       json.dumps alone of the resulting dict      target <= 2x
  pickle 1000          pickle.dumps of a metadata of 1,000 objects, beside
                       pickle.dumps of the equivalent list of slotted
                       dataclasses (ids as uuid.UUID)              target <= 2x
                       (also shown: the same with ids as str, for reference)

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_columns.py [--repeat N] [--check]

Each figure is the minimum over the repeats of the mean time per statement.
--check exits with status 1 when a target is missed.
"""

import argparse
import dataclasses
import json
import pickle
import sys
import uuid

import numpy as np

sys.path.insert(0, __file__.rsplit("/", 1)[0])
from timing import per_call  # noqa: E402

import kelo  # noqa: E402
from kelo import io  # noqa: E402
from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassId,  # noqa: E402
                           PyDetectedObject, PyMetadata, PyObjectId)


@dataclasses.dataclass(slots=True)
class Box:
    x: float
    y: float
    width: float
    height: float


@dataclasses.dataclass(slots=True)
class Value:
    kind: str
    value: object


@dataclasses.dataclass(slots=True)
class Obj:
    id: object
    bbox: Box
    class_id: object
    label: str | None
    confidence: float | None
    attributes: dict


def kelo_object(i, cls):
    return (PyDetectedObject(PyObjectId.new(), PyBoundingBox(i, 2 * i, 30.5, 40.25))
            .with_class_id(cls).with_label("person" if i % 3 else "car").with_confidence(0.9)
            .with_attribute("color", PyAttributeValue.of_string("red"))
            .with_attribute("track_age", PyAttributeValue.of_int(i)))


def metadata(n):
    cls = PyClassId.new()
    md = PyMetadata()
    for i in range(n):
        md.add_object(kelo_object(i, cls))
    return md


def dataclasses_of(md, text_ids):
    def ident(x):
        return str(x) if text_ids else uuid.UUID(str(x))
    out = []
    for o in md.objects:
        b = o.bbox
        attrs = o.attributes
        out.append(Obj(ident(o.id), Box(b.x, b.y, b.width, b.height), ident(o.class_id), o.label,
                       o.confidence, {k: Value(attrs.get(k).kind(), 0) for k in attrs.keys()}))
    return out


def plain_loop(md):
    boxes, confidence = [], []
    for o in md.objects:
        b = o.bbox
        boxes.append((b.x, b.y, b.width, b.height))
        confidence.append(o.confidence)
    return boxes, confidence


def python_add(boxes, confidence, labels):
    md = PyMetadata()
    for (x, y, w, h), c, label in zip(boxes, confidence, labels):
        md.add_object(PyDetectedObject(PyObjectId.new(), PyBoundingBox(x, y, w, h))
                      .with_label(label).with_confidence(c))
    return md


def numpy_add(boxes, confidence, labels):
    md = PyMetadata()
    kelo.add_objects(md, boxes, confidence, labels)
    return md


def to_json(md):
    return json.dumps(io.to_dict(md))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5, help="repeats per statement (default 5)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()

    md1000 = metadata(1000)
    md40 = metadata(40)
    d40 = io.to_dict(md40)
    rng = np.random.default_rng(0)
    boxes = rng.random((1000, 4), dtype=np.float32) * 100
    conf = rng.random(1000, dtype=np.float32)
    labels = ["person" if i % 3 else "car" for i in range(1000)]
    box_rows = boxes.tolist()
    conf_list = conf.tolist()
    uuid_list = dataclasses_of(md1000, text_ids=False)
    str_list = dataclasses_of(md1000, text_ids=True)

    # Results agree before anything is timed.
    cols = kelo.columns(md1000)
    pb, pc = plain_loop(md1000)
    assert np.array_equal(np.asarray(cols.boxes), np.array(pb, dtype=np.float32))
    assert np.array_equal(np.asarray(cols.confidence), np.array(pc, dtype=np.float32))
    a, b = numpy_add(boxes, conf, labels), python_add(box_rows, conf_list, labels)
    ca, cb = kelo.columns(a), kelo.columns(b)
    assert np.array_equal(np.asarray(ca.boxes), np.asarray(cb.boxes)) and ca.labels == cb.labels
    back = pickle.loads(pickle.dumps(md1000))
    assert io.to_dict(back) == io.to_dict(md1000), "unpickled metadata differs"
    for proto in (2, pickle.HIGHEST_PROTOCOL):
        assert pickle.loads(pickle.dumps(uuid_list, proto)) == uuid_list

    ns = dict(globals(), md1000=md1000, md40=md40, d40=d40, boxes=boxes, conf=conf, labels=labels,
              box_rows=box_rows, conf_list=conf_list, uuid_list=uuid_list, str_list=str_list)
    cases = [  # label, kelo statement, baseline statement, target kind, target
        ("columns of 1000", "kelo.columns(md1000)", "plain_loop(md1000)", "faster", 50),
        ("add_objects 1000", "numpy_add(boxes, conf, labels)",
         "python_add(box_rows, conf_list, labels)", "faster", 20),
        ("to_dict+dumps 40", "to_json(md40)", "json.dumps(d40)", "slower", 2),
        ("pickle 1000", "pickle.dumps(md1000)", "pickle.dumps(uuid_list)", "slower", 2),
        ("  (str ids)", "pickle.dumps(md1000)", "pickle.dumps(str_list)", None, 0),
    ]
    print(f"Python {sys.version.split()[0]}, min of {args.repeat} repeats, microseconds per statement")
    print()
    head = f"{'operation':<20}{'kelo':>10}{'baseline':>10}{'ratio':>12}  target"
    print(head)
    print("-" * (len(head) + 30))
    missed = []
    for label, ours, base, kind, target in cases:
        k = per_call(ours, "", ns, args.repeat)
        t = per_call(base, "", ns, args.repeat)
        if kind == "faster":
            ratio, ok, text = t / k, t / k >= target, f"baseline/kelo {t / k:6.1f}x  >= {target}x"
        elif kind == "slower":
            ratio, ok, text = k / t, k / t <= target, f"kelo/baseline {k / t:6.2f}x  <= {target}x"
        else:
            ratio, ok, text = k / t, True, f"kelo/baseline {k / t:6.2f}x  (reference)"
        if not ok:
            missed.append(label)
        print(f"{label:<20}{k * 1e6:>10.1f}{t * 1e6:>10.1f}   {text}: {'ok' if ok else 'MISSED'}"
              if kind else f"{label:<20}{k * 1e6:>10.1f}{t * 1e6:>10.1f}   {text}")
        del ratio
    print()
    print("all targets met" if not missed else "targets missed: " + ", ".join(missed))
    return 1 if (missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
