"""The fourteen UUID-based identifier classes."""

import os
import random
import re
import uuid as pyuuid

import pytest

import kelo.ext
from checks import raises
from sipref import py_hash

DATA_IDS = ["PyStreamId", "PyFrameId", "PyBufferId", "PyObjectId", "PySegmentId", "PyTrackId",
            "PyEventId", "PyAssetId", "PyBatchId", "PyMetadataId", "PyComponentId", "PyClassId"]
ALL_IDS, U = DATA_IDS + ["PyElementId", "PyPortId"], "550e8400-e29b-41d4-a716-446655440000"
V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")


def cls_of(name):
    return getattr(kelo.ext.data if name in DATA_IDS else kelo.ext.graph, name)


@pytest.mark.parametrize("cls", [cls_of(n) for n in ALL_IDS], ids=ALL_IDS)
def test_new_from_str_and_hash(cls):
    a, b = cls.new(), cls.new()
    assert (type(a), bool(V4.match(a.uuid())), a != b) == (cls, True, True)
    rng = random.Random(7)
    raws = [bytes(16), b"\xff" * 16, bytes(range(16)), pyuuid.UUID(a.uuid()).bytes] + \
        [rng.randbytes(16) for _ in range(16)]
    for raw in raws:
        u = pyuuid.UUID(bytes=raw)
        x = cls.from_str(str(u))
        forms = [cls.from_str(s=form) for form in (str(u).upper(), u.hex, u.hex.upper(), "{%s}" % u, u.urn)]
        # Version and variant kept as given.
        assert (type(x), x.uuid(), str(x), repr(x), hash(x), forms) == \
            (cls, str(u), str(u), f"{cls.__name__}('{u}')", py_hash(raw), [x] * 5)


def test_from_str_rejects():  # the core's message, passed through
    for cls in (kelo.ext.data.PyStreamId, kelo.ext.graph.PyPortId):
        raises(ValueError, cls.from_str, "550e8400-\u00e9",
               msg="invalid UUID: invalid character: found `\u00e9` at 9")


def test_equality_across_classes():
    ids, n = [cls_of(name).from_str(U) for name in ALL_IDS], range(len(ALL_IDS))
    assert [[(a == b, a != b) for b in ids] for a in ids] == [[(i == j, i != j) for j in n] for i in n]
    assert (len({hash(x) for x in ids}), len(set(ids))) == (1, len(ALL_IDS))


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_distinct_after_fork():
    cls = kelo.ext.data.PyEventId
    first = cls.new().uuid()  # the parent now holds a partly used random block
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.write(w, "\n".join(cls.new().uuid() for _ in range(64)).encode())
        finally:
            os._exit(0)
    os.close(w)
    mine = [cls.new().uuid() for _ in range(64)]
    with os.fdopen(r, "rb") as f:
        theirs = f.read().decode().split("\n")
    _, status = os.waitpid(pid, 0)
    everything = [first] + mine + theirs
    assert (os.WIFEXITED(status), os.WEXITSTATUS(status), len(theirs)) == (True, 0, 64)
    assert ([t for t in everything if not V4.match(t)], len(set(everything))) == ([], 129)
