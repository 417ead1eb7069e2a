"""Micro-benchmark of tensors and detected objects at the Python surface.

Times each kelo call beside a plain-Python equivalent in the same run (a
dataclass with a uuid4 buffer, math.prod, dataclasses.replace with a copied
dict), plus the cost of a no-op builtin call (`len(())`) as the floor that any
call from Python pays. No targets: the figures are for comparison.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_tensors.py [--repeat N]

Each figure is the minimum over the repeats of the mean time per call.
"""

import argparse
import dataclasses
import math
import sys
import uuid

import timing

from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassification, PyClassId,
                           PyDetectedObject, PyDType, PyObjectId, PyTensor)


@dataclasses.dataclass(frozen=True)
class Tensor:
    dtype: str
    shape: tuple
    buffer_id: uuid.UUID = dataclasses.field(default_factory=uuid.uuid4)


@dataclasses.dataclass(frozen=True)
class Obj:
    id: uuid.UUID
    bbox: tuple
    label: str | None = None
    attributes: dict = dataclasses.field(default_factory=dict)


SETUP = """
t = PyTensor(PyDType.Float32, [1, 3, 640, 640]); pt = Tensor("f32", (1, 3, 640, 640))
big = PyTensor(PyDType.UInt8, [2**64 - 1] * 3); bigshape = [2**64 - 1] * 3
oid = PyObjectId.new(); box = PyBoundingBox(1, 2, 3, 4); cid = PyClassId.new()
o = PyDetectedObject(oid, box).with_label("person"); po = Obj(uuid.uuid4(), (1, 2, 3, 4), "person")
v = PyAttributeValue.of_int(3)
"""
NAMESPACE = dict(globals())

CASES = [  # label, kelo statement, baseline statement
    ("PyTensor(dtype, shape)", "PyTensor(PyDType.Float32, [1, 3, 640, 640])",
     "Tensor('f32', (1, 3, 640, 640))"),
    ("numel()", "t.numel()", "math.prod(pt.shape)"),
    ("numel() beyond 64 bits", "big.numel()", "math.prod(bigshape)"),
    ("shape", "t.shape", "list(pt.shape)"),
    ("PyDetectedObject(id, bbox)", "PyDetectedObject(oid, box)", "Obj(uuid.uuid4(), (1, 2, 3, 4))"),
    ("with_attribute(k, v)", "o.with_attribute('k', v)",
     "dataclasses.replace(po, attributes={**po.attributes, 'k': 3})"),
    ("repr(PyClassification)", "repr(PyClassification(cid, 0.95))", "f'{0.95:.3f}'"),
]
FLOOR = "len(())"


def per_call(stmt: str, repeat: int) -> float:
    return timing.per_call(stmt, SETUP, NAMESPACE, repeat)


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7, help="repeats per statement (default 7)")
    args = parser.parse_args()
    floor = per_call(FLOOR, args.repeat)
    print(f"Python {sys.version.split()[0]}, min of {args.repeat} repeats, ns per call; "
          f"floor {FLOOR} = {floor * 1e9:.0f} ns")
    print(f"{'case':28} {'kelo':>8} {'baseline':>9} {'baseline/kelo':>14} {'kelo/floor':>11}")
    for label, stmt, base in CASES:
        k, b = per_call(stmt, args.repeat), per_call(base, args.repeat)
        print(f"{label:28} {k * 1e9:8.0f} {b * 1e9:9.0f} {b / k:13.1f}x {k / floor:10.1f}x")
    return 0


if __name__ == "__main__":
    sys.exit(main())
