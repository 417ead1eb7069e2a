"""The fourteen UUID-based identifier classes."""

import os
import random
import re
import uuid as pyuuid

import pytest

import kelo.ext
from sipref import py_hash, siphash13

DATA_IDS = ["PyStreamId", "PyFrameId", "PyBufferId", "PyObjectId", "PySegmentId", "PyTrackId",
            "PyEventId", "PyAssetId", "PyBatchId", "PyMetadataId", "PyComponentId", "PyClassId"]
ALL_IDS, U = DATA_IDS + ["PyElementId", "PyPortId"], "550e8400-e29b-41d4-a716-446655440000"
V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")


def cls_of(name):
    return getattr(kelo.ext.data if name in DATA_IDS else kelo.ext.graph, name)


@pytest.fixture(params=ALL_IDS)
def cls(request):
    return cls_of(request.param)


def test_new_from_str_and_hash(cls):
    a, b = cls.new(), cls.new()
    assert type(a) is cls and V4.match(a.uuid()) and a != b and a.uuid() != b.uuid()
    rng = random.Random(7)
    raws = [bytes(16), b"\xff" * 16, bytes(range(16)), pyuuid.UUID(a.uuid()).bytes] + \
        [rng.randbytes(16) for _ in range(16)]
    for raw in raws:
        u = pyuuid.UUID(bytes=raw)
        x = cls.from_str(str(u))
        assert type(x) is cls and type(x.uuid()) is str and x.uuid() == str(x) == str(u)
        assert repr(x) == f"{cls.__name__}('{u}')"  # version and variant kept as given
        for form in (str(u).upper(), u.hex, u.hex.upper(), "{%s}" % u, u.urn):
            assert cls.from_str(s=form) == x
        assert hash(x) == py_hash(raw)


def test_from_str_rejects():  # the core's message, passed through
    for cls in (kelo.ext.data.PyStreamId, kelo.ext.graph.PyPortId):
        with pytest.raises(ValueError) as exc:
            cls.from_str("550e8400-\u00e9")
        assert str(exc.value) == "invalid UUID: invalid character: found `\u00e9` at 9"


def test_equality_across_classes():
    ids = [cls_of(n).from_str(U) for n in ALL_IDS]
    for i, a in enumerate(ids):
        for j, b in enumerate(ids):
            assert (a == b) is (i == j) and (a != b) is (i != j)
    assert len({hash(x) for x in ids}) == 1 and len(set(ids)) == len(ALL_IDS)


def test_reference_hash():  # the oracle the hash checks use
    assert siphash13(bytes(range(15)), 0x0706050403020100, 0x0F0E0D0C0B0A0908) == 0xD320D86D2A519956


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
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0 and len(theirs) == 64
    everything = [first] + mine + theirs
    assert all(V4.match(t) for t in everything) and len(set(everything)) == 129
