"""Provider identities, versions, capabilities, requirements, descriptors and the
ABI check of kelo.ext.provider."""

import struct

import pytest

from kelo.ext.graph import PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyRequirement, PyVersion,
                                abi_current_version, abi_is_compatible)
from sipref import py_hash

U64, CUDA, Req = 2**64 - 1, PyCapability.cuda(), PyRequirement


def descriptor(id="native.synthetic", version=(1, 4, 0)):
    return PyProviderDescriptor(PyProviderId(id), PyVersion(*version))


@pytest.mark.parametrize("text", ["", "a'b", "é\x00)"])
def test_provider_id(text):
    p = PyProviderId(text)
    assert (p.as_str(), str(p), repr(p)) == (text, text, f"PyProviderId('{text}')")
    assert (hash(p), p == PyProviderId(s=text), p != PyProviderId(text), p != PyProviderId(text + " ")) == \
        (py_hash(text.encode() + b"\xff"), True, False, True)


@pytest.mark.parametrize("parts", [(1, 2, 3), (2**32 - 1, 0, 2**32 - 1)])
def test_version(parts):
    v, text = PyVersion(*parts), ".".join(map(str, parts))
    assert ((v.major, v.minor, v.patch), str(v), repr(v)) == (parts, text, f"PyVersion('{text}')")
    assert (v == PyVersion(*parts), hash(v)) == (True, py_hash(struct.pack("<III", *parts)))


def test_abi():
    assert (abi_current_version(), repr(abi_current_version())) == (PyVersion(0, 1, 0), "PyVersion('0.1.0')")
    versions = [(0, 0, 0), (0, 1, 0), (0, 9, 9), (0, 2**32 - 1, 0), (1, 0, 0), (2, 1, 0), (2**32 - 1, 1, 0)]
    assert [abi_is_compatible(PyVersion(*v)) for v in versions] == [True] * 4 + [False] * 3


KINDS = ["cuda", "fp16", "int8", "dynamic_shape", "batching", "h264", "h265", "nv12", "metadata",
         "async_execution"]


@pytest.mark.parametrize("index, make, kind, text, tag", [
    *[(i, getattr(PyCapability, k), k, k, None) for i, k in enumerate(KINDS)],
    (10, lambda: PyCapability.custom("gpu.a100"), "custom", "custom:gpu.a100", "gpu.a100"),
    (10, lambda: PyCapability.custom(tag=""), "custom", "custom:", ""),
    (10, lambda: PyCapability.custom("accelerator:tpu"), "custom", "custom:accelerator:tpu", "accelerator:tpu"),
])
def test_capability(index, make, kind, text, tag):
    c = make()
    assert (c.kind(), str(c), repr(c), c.custom_tag()) == (kind, text, f"PyCapability({text})", tag)
    stream = struct.pack("<Q", index) + (b"" if tag is None else tag.encode() + b"\xff")
    assert (hash(c), c == make()) == (py_hash(stream), True)


@pytest.mark.parametrize("make, args, index, payload", [  # the hash stream: kind index, payload bytes
    (Req.cuda_required, (), 0, b""), (Req.gpu_memory, (0,), 1, struct.pack("<Q", 0)),
    (Req.gpu_memory, (U64,), 1, struct.pack("<Q", U64)), (Req.accelerator, ("tpu",), 2, b"tpu\xff"),
    (Req.operating_system, ("linux",), 3, b"linux\xff"), (Req.external_runtime, ("",), 4, b"\xff"),
    (Req.custom, ("é",), 5, "é".encode() + b"\xff")], ids=lambda v: getattr(v, "__name__", None))
def test_requirement(make, args, index, payload):
    r, kind = make(*args), make.__name__
    assert (r.kind(), repr(r), str(r)) == (kind, f"PyRequirement({kind})", f"PyRequirement({kind})")
    assert (hash(r), r == make(*args)) == (py_hash(struct.pack("<Q", index) + payload), True)


@pytest.mark.parametrize("values", [
    [PyCapability.custom("cuda"), CUDA, PyCapability.fp16(), PyCapability.custom("x"),
     PyCapability.custom("y")],
    [Req.gpu_memory(1), Req.gpu_memory(2), Req.accelerator("tpu"), Req.operating_system("tpu"),
     Req.custom("tpu"), Req.custom("TPU")]])
def test_equality_needs_kind_and_payload(values):
    n = range(len(values))
    assert [[a == b for b in values] for a in values] == [[i == j for j in n] for i in n]


def test_new_descriptor_and_repr():
    d = descriptor()
    assert (d.element_types, d.capabilities, d.requirements, d.priority, d.id, d.version) == \
        ([], [], [], 0, PyProviderId("native.synthetic"), PyVersion(1, 4, 0))
    full = d.with_priority(7).with_capability(CUDA).with_element_type(PyElementTypeId("t"))
    # Only the identity and the version appear.
    assert [repr(x) for x in (d, full, descriptor("a'(b)", (0, 0, 0)), descriptor(""))] == [
        "PyProviderDescriptor(native.synthetic, v1.4.0)", "PyProviderDescriptor(native.synthetic, v1.4.0)",
        "PyProviderDescriptor(a'(b), v0.0.0)", "PyProviderDescriptor(, v1.4.0)"]


def test_builders_leave_the_receiver():
    d = descriptor()
    t, u = PyElementTypeId("kelo.decode.h264"), PyElementTypeId("kelo.infer")
    e = d.with_element_type(t)
    e2 = e.with_element_type(type_id=u).with_element_type(t)
    branch = e.with_element_type(u)  # a second branch off `e` (whose newest step is e2's) keeps only its own
    c = d.with_capability(CUDA)
    r = d.with_requirement(Req.gpu_memory(5)).with_requirement(req=Req.custom("x"))
    assert [x.element_types for x in (d, e, e2, branch)] == [[], [t], [t, u, t], [t, u]]
    assert [x.capabilities for x in (d, c, c.with_capability(CUDA), e.with_capability(CUDA))] == \
        [[], [CUDA], [CUDA] * 2, [CUDA]]
    assert (d.requirements, r.requirements) == ([], [Req.gpu_memory(5), Req.custom("x")])
    assert (d.priority, d.with_priority(-5).priority) == (0, -5)
    upper = PyElementTypeId("kelo.decode.H264")
    assert [d.supports(t), e.supports(t), e2.supports(upper), e2.supports(type_id=u)] == \
        [False, True, False, True]
