"""The fourteen UUID-based identifier classes."""

import inspect
import os
import re
import subprocess
import sys
import uuid as pyuuid

import pytest

import kelo.ext
from sipref import py_hash, siphash, siphash13

DATA_IDS = ["PyStreamId", "PyFrameId", "PyBufferId", "PyObjectId", "PySegmentId",
            "PyTrackId", "PyEventId", "PyAssetId", "PyBatchId", "PyMetadataId",
            "PyComponentId", "PyClassId"]
GRAPH_IDS = ["PyElementId", "PyPortId"]
ALL_IDS = DATA_IDS + GRAPH_IDS
GRAPH_DOCS = {"PyElementId": ("Element identity \u2014 a typed UUID newtype.", "element"),
              "PyPortId": ("Port identity \u2014 a typed UUID newtype.", "port")}

U = "550e8400-e29b-41d4-a716-446655440000"
V4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")


def cls_of(name):
    return getattr(kelo.ext.data if name in DATA_IDS else kelo.ext.graph, name)


@pytest.fixture(params=ALL_IDS)
def cls(request):
    return cls_of(request.param)


def test_registered_in_their_submodule():
    for name in DATA_IDS:
        assert name in kelo.ext.data.__all__ and name not in kelo.ext.graph.__all__
    for name in GRAPH_IDS:
        assert name in kelo.ext.graph.__all__ and name not in kelo.ext.data.__all__
        assert not hasattr(kelo.ext.data, name)


def test_new(cls):
    a, b = cls.new(), cls.new()
    assert type(a) is cls
    assert V4.match(a.uuid()) and V4.match(b.uuid())
    assert a != b and a.uuid() != b.uuid()


def test_new_random_bits():
    # Apart from version and variant, every bit must vary across identifiers.
    raw = [pyuuid.UUID(kelo.ext.data.PyBufferId.new().uuid()).int for _ in range(256)]
    assert len(set(raw)) == 256
    fixed = (0xF << 76) | (0x3 << 62)
    ored = 0
    anded = (1 << 128) - 1
    for r in raw:
        assert r & fixed == (0x4 << 76) | (0x2 << 62)
        ored |= r
        anded &= r
    assert ored | fixed == (1 << 128) - 1
    assert anded & ~fixed == 0


ACCEPTED = [
    (U, U),
    (U.upper(), U),
    ("550E8400-e29b-41D4-a716-446655440000", U),
    ("550e8400e29b41d4a716446655440000", U),
    ("550E8400E29B41D4A716446655440000", U),
    ("{" + U + "}", U),
    ("{" + U.upper() + "}", U),
    ("urn:uuid:" + U, U),
    ("urn:uuid:" + U.upper(), U),
    ("00000000-0000-0000-0000-000000000000", "00000000-0000-0000-0000-000000000000"),
    ("0" * 32, "00000000-0000-0000-0000-000000000000"),
    ("F" * 32, "ffffffff-ffff-ffff-ffff-ffffffffffff"),
    # Version and variant bits are kept as given.
    ("12345678-9abc-1def-0123-456789abcdef", "12345678-9abc-1def-0123-456789abcdef"),
    ("{a0b1c2d3-e4f5-06a7-c8d9-eafbfcfdfeff}", "a0b1c2d3-e4f5-06a7-c8d9-eafbfcfdfeff"),
]


@pytest.mark.parametrize("text,canonical", ACCEPTED)
def test_from_str_accepts(cls, text, canonical):
    x = cls.from_str(text)
    assert type(x) is cls
    assert x.uuid() == canonical
    assert x == cls.from_str(canonical)
    assert x == cls.from_str(s=text)


G = "550e8400-e29b-41d4-a716-44665544000g"
REJECTED = [
    ("", "invalid length: found 0"),
    ("0" * 46, "invalid length: found 46"),
    ("g" * 46, "invalid length: found 46"),
    ("\u00e9" * 23, "invalid length: found 46"),
    ("urn:uuid:" + U + "0", "invalid length: found 46"),
    ("\u00e9" * 22, "invalid character: found `\u00e9` at 0"),
    (G, "invalid character: found `g` at 35"),
    ("g", "invalid character: found `g` at 0"),
    (" " + U, "invalid character: found ` ` at 0"),
    (U + " ", "invalid character: found ` ` at 36"),
    ("550e8400_e29b-41d4-a716-446655440000", "invalid character: found `_` at 8"),
    ("550e8400-\u00e9", "invalid character: found `\u00e9` at 9"),
    ("550e8400-e29b-41d4-a716-44665544000\u20ac", "invalid character: found `\u20ac` at 35"),
    ("\x00", "invalid character: found `\x00` at 0"),
    ("0x550e8400e29b41d4a716446655440000", "invalid character: found `x` at 1"),
    ("URN:UUID:" + U, "invalid character: found `U` at 0"),
    ("(" + U + ")", "invalid character: found `(` at 0"),
    ("550e8400-e29b-41d4-a716-446655440000g", "invalid character: found `g` at 36"),
    ("0" * 31, "invalid length: found 31"),
    ("0" * 33, "invalid length: found 33"),
    ("0" * 36, "invalid length: found 36"),
    ("0" * 45, "invalid length: found 45"),
    ("550e8400e29b-41d4-a716-446655440000", "invalid group count: expected 5, found 4"),
    ("550e8400-e29b-41d4-a716-4466-55440000", "invalid group count: expected 5, found 6"),
    ("-", "invalid group count: expected 5, found 2"),
    ("550e8400-e29b41d4a716446655440000", "invalid group count: expected 5, found 2"),
    ("----", "invalid group length in group 0: expected 8, found 0"),
    ("550e840-0e29b-41d4-a716-446655440000", "invalid group length in group 0: expected 8, found 7"),
    ("550e84000-e29b-41d4-a716-44665544000", "invalid group length in group 0: expected 8, found 9"),
    ("550e8400-e29-b41d4-a716-446655440000", "invalid group length in group 1: expected 4, found 3"),
    ("550e8400-e29b-41d-4a716-446655440000", "invalid group length in group 2: expected 4, found 3"),
    ("550e8400-e29b-41d4-a71-6446655440000", "invalid group length in group 3: expected 4, found 3"),
    ("550e8400-e29b-41d4-a716-4466554400", "invalid group length in group 4: expected 12, found 10"),
    ("550e8400-e29b-41d4-a716-4466554400001", "invalid group length in group 4: expected 12, found 13"),
    ("550e8400-e29b-41d4-a716-44665544", "invalid group length in group 4: expected 12, found 8"),
    ("550e8400-e29b-41d4-a716-", "invalid group length in group 4: expected 12, found 0"),
    (U + "000000000", "invalid group length in group 4: expected 12, found 21"),
]


@pytest.mark.parametrize("text,detail", REJECTED)
def test_from_str_rejects(text, detail):
    for name in ("PyStreamId", "PyPortId"):
        with pytest.raises(ValueError) as exc:
            cls_of(name).from_str(text)
        assert str(exc.value) == "invalid UUID: " + detail


@pytest.mark.parametrize("text", [
    "{" + U, "{" + U + ")", "{" + G + "}", "{550e8400e29b41d4a716446655440000}",
    "{" + U[:-1] + "}", "urn:uuid:" + G, "urn:uuid:" + U[:-1] + "-",
    "urn:uuid:550e8400e29b41d4a716446655440000", "urn:uuid:{" + U[1:] + "}",
])
def test_from_str_rejects_wrapped(text):
    with pytest.raises(ValueError) as exc:
        kelo.ext.data.PyStreamId.from_str(text)
    assert str(exc.value).startswith("invalid UUID: ")


def test_text_forms(cls):
    for text in (U, cls.new().uuid()):
        x = cls.from_str(text)
        assert type(x.uuid()) is str and type(str(x)) is str
        assert x.uuid() == text
        assert str(x) == text
        assert repr(x) == f"{cls.__name__}('{text}')"


def test_equality_across_classes():
    ids = [cls_of(n).from_str(U) for n in ALL_IDS]
    for i, a in enumerate(ids):
        for j, b in enumerate(ids):
            assert (a == b) is (i == j)
            assert (a != b) is (i != j)
    assert len({hash(x) for x in ids}) == 1
    assert len(set(ids)) == len(ALL_IDS)


HASH_CASES = [U, "00000000-0000-0000-0000-000000000000",
              "ffffffff-ffff-ffff-ffff-ffffffffffff",
              "00010203-0405-0607-0809-0a0b0c0d0e0f",
              "12345678-9abc-1def-0123-456789abcdef"]


def test_hash_matches_reference(cls):
    texts = HASH_CASES + [cls.new().uuid() for _ in range(16)]
    for text in texts:
        x = cls.from_str(text)
        assert hash(x) == py_hash(pyuuid.UUID(text).bytes)
        assert hash(x) == hash(cls.from_str(text.upper().replace("-", "")))


def test_reference_siphash():
    key = bytes(range(16))
    k0, k1 = int.from_bytes(key[:8], "little"), int.from_bytes(key[8:], "little")
    assert siphash(bytes(range(15)), k0, k1, 2, 4) == 0xA129CA6149BE45E5
    assert siphash(b"", k0, k1, 2, 4) == 0x726FDB47DD0E0E31
    assert siphash13(b"", k0, k1) == siphash(b"", k0, k1, 1, 3)


@pytest.mark.skipif(sys.hash_info.algorithm != "siphash13",
                    reason="interpreter does not hash bytes with SipHash-1-3")
def test_reference_matches_interpreter():
    # With PYTHONHASHSEED=0 the interpreter hashes bytes with SipHash-1-3 under key (0, 0).
    data = [bytes(16), bytes(range(16)), b"\xff" * 16, b"abc", bytes(range(40))]
    code = "import sys; print([hash(bytes.fromhex(h)) for h in sys.argv[1:]])"
    out = subprocess.run([sys.executable, "-c", code] + [d.hex() for d in data],
                         env=dict(os.environ, PYTHONHASHSEED="0"),
                         capture_output=True, text=True, check=True).stdout
    assert out.strip() == str([py_hash(d) for d in data])


def _doc(name, member):
    if name in GRAPH_DOCS:
        what = GRAPH_DOCS[name][1]
        return {"new": f"Create a new unique {what} ID.",
                "from_str": "Create from a UUID string.", "uuid": None}[member]
    return {"new": "Create a new unique identifier.",
            "from_str": 'Create from a UUID string, e.g.\n`"%s"`.' % U,
            "uuid": "The underlying UUID string."}[member]


@pytest.mark.parametrize("name", ALL_IDS)
def test_docs_and_signatures(name):
    c = cls_of(name)
    assert c.__doc__ == GRAPH_DOCS.get(name, (None,))[0]
    for member, sig in (("new", "()"), ("from_str", "(s)"), ("uuid", "($self)")):
        assert getattr(c, member).__doc__ == _doc(name, member)
        assert getattr(c, member).__text_signature__ == sig
    assert str(inspect.signature(c.new)) == "()"
    params = inspect.signature(c.from_str).parameters
    assert list(params) == ["s"]
    assert params["s"].kind is inspect.Parameter.POSITIONAL_OR_KEYWORD
    assert params["s"].default is inspect.Parameter.empty
    assert str(inspect.signature(c.uuid)) == "(self, /)"
    assert str(inspect.signature(c.new().uuid)) == "()"


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_distinct_after_fork():
    cls = kelo.ext.data.PyEventId
    first = cls.new().uuid()
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        try:
            os.close(r)
            data = "\n".join(cls.new().uuid() for _ in range(64)).encode()
            with os.fdopen(w, "wb") as f:
                f.write(data)
        finally:
            os._exit(0)
    os.close(w)
    mine = [cls.new().uuid() for _ in range(64)]
    with os.fdopen(r, "rb") as f:
        theirs = f.read().decode().split("\n")
    _, status = os.waitpid(pid, 0)
    assert os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0
    assert len(theirs) == 64
    everything = [first] + mine + theirs
    assert all(V4.match(t) for t in everything)
    assert len(set(everything)) == 129


try:
    from hypothesis import given, settings, strategies as st
except ImportError:  # pragma: no cover
    given = None


if given is not None:
    @settings(max_examples=100, deadline=None)
    @given(st.binary(min_size=16, max_size=16), st.sampled_from(ALL_IDS))
    def test_any_bytes_round_trip(raw, name):
        c = cls_of(name)
        u = pyuuid.UUID(bytes=raw)
        x = c.from_str(str(u))
        assert x.uuid() == str(u)
        for form in (u.hex.upper(), "{%s}" % u, u.urn):
            assert c.from_str(form) == x
        assert hash(x) == py_hash(raw)
