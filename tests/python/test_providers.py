"""Provider identities, versions, capabilities, requirements, descriptors and the
ABI check of kelo.ext.provider."""

import struct

import pytest

from kelo.ext.graph import PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyRequirement, PyVersion,
                                abi_current_version, abi_is_compatible)
from sipref import py_hash

U64 = 2**64 - 1


def descriptor(id="native.synthetic", version=(1, 4, 0)):
    return PyProviderDescriptor(PyProviderId(id), PyVersion(*version))


@pytest.mark.parametrize("text", ["", "a'b", "é\x00)"])
def test_provider_id(text):
    p = PyProviderId(text)
    assert p.as_str() == str(p) == text and repr(p) == f"PyProviderId('{text}')"
    assert p == PyProviderId(s=text) and not p != PyProviderId(text)
    assert hash(p) == py_hash(text.encode() + b"\xff") and p != PyProviderId(text + " ")


@pytest.mark.parametrize("parts", [(1, 2, 3), (2**32 - 1, 0, 2**32 - 1)])
def test_version(parts):
    v, text = PyVersion(*parts), ".".join(map(str, parts))
    assert (v.major, v.minor, v.patch) == parts and str(v) == text and repr(v) == f"PyVersion('{text}')"
    assert v == PyVersion(*parts) and hash(v) == py_hash(struct.pack("<III", *parts))


def test_abi():
    current = abi_current_version()
    assert current == PyVersion(0, 1, 0) and current is not abi_current_version()
    assert str(current) == "0.1.0" and repr(current) == "PyVersion('0.1.0')"
    for parts, ok in [((0, 0, 0), True), ((0, 1, 0), True), ((0, 7, 3), True), ((0, 9, 9), True),
                      ((0, 2**32 - 1, 0), True), ((1, 0, 0), False), ((2, 1, 0), False),
                      ((2**32 - 1, 1, 0), False)]:
        assert abi_is_compatible(PyVersion(*parts)) is ok
    assert abi_is_compatible(version=current) is True


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
    assert c.kind() == kind and str(c) == text and repr(c) == f"PyCapability({text})"
    assert c.custom_tag() == tag
    stream = struct.pack("<Q", index) + (b"" if tag is None else tag.encode() + b"\xff")
    assert hash(c) == py_hash(stream) and c == make() and c is not make()


def test_capability_equality():
    assert PyCapability.custom("cuda") != PyCapability.cuda() != PyCapability.fp16()
    assert PyCapability.custom("x") != PyCapability.custom("y")


REQUIREMENTS = [  # constructor, argument, kind index, kind name, payload bytes of the hash stream
    (PyRequirement.cuda_required, None, 0, "cuda_required", b""),
    (PyRequirement.gpu_memory, 0, 1, "gpu_memory", struct.pack("<Q", 0)),
    (PyRequirement.gpu_memory, U64, 1, "gpu_memory", struct.pack("<Q", U64)),
    (PyRequirement.accelerator, "tpu", 2, "accelerator", b"tpu\xff"),
    (PyRequirement.operating_system, "linux", 3, "operating_system", b"linux\xff"),
    (PyRequirement.external_runtime, "", 4, "external_runtime", b"\xff"),
    (PyRequirement.custom, "é", 5, "custom", "é".encode() + b"\xff")]


@pytest.mark.parametrize("make, arg, index, kind, payload", REQUIREMENTS)
def test_requirement(make, arg, index, kind, payload):
    r = make() if arg is None else make(arg)
    assert r.kind() == kind and repr(r) == str(r) == f"PyRequirement({kind})"
    assert hash(r) == py_hash(struct.pack("<Q", index) + payload)
    assert r == (make() if arg is None else make(arg))


def test_requirement_equality_needs_kind_and_payload():
    reqs = [PyRequirement.gpu_memory(1), PyRequirement.gpu_memory(2), PyRequirement.accelerator("tpu"),
            PyRequirement.operating_system("tpu"), PyRequirement.custom("tpu"), PyRequirement.custom("TPU")]
    for i, a in enumerate(reqs):
        for j, b in enumerate(reqs):
            assert (a == b) is (i == j)


def test_new_descriptor_and_repr():
    d = descriptor()
    assert repr(d) == "PyProviderDescriptor(native.synthetic, v1.4.0)"
    assert (d.element_types, d.capabilities, d.requirements, d.priority) == ([], [], [], 0)
    assert d.id == PyProviderId("native.synthetic") and d.version == PyVersion(1, 4, 0)
    full = d.with_priority(7).with_capability(PyCapability.cuda()).with_element_type(PyElementTypeId("t"))
    assert repr(full) == repr(d)  # only the identity and the version appear
    assert repr(descriptor("a'(b)", (0, 0, 0))) == "PyProviderDescriptor(a'(b), v0.0.0)"
    assert repr(descriptor("")) == "PyProviderDescriptor(, v1.4.0)"


def test_builders_leave_the_receiver():
    d = descriptor()
    t, u = PyElementTypeId("kelo.decode.h264"), PyElementTypeId("kelo.infer")
    e = d.with_element_type(t)
    assert d.element_types == [] and e.element_types == [t] and not d.supports(t) and e.supports(t)
    e2 = e.with_element_type(type_id=u).with_element_type(t)
    assert e2.element_types == [t, u, t] and e.element_types == [t]
    c = d.with_capability(PyCapability.cuda())
    assert d.capabilities == [] and c.capabilities == [PyCapability.cuda()]
    assert c.with_capability(PyCapability.cuda()).capabilities == [PyCapability.cuda()] * 2
    r = d.with_requirement(PyRequirement.gpu_memory(5)).with_requirement(req=PyRequirement.custom("x"))
    assert d.requirements == [] and r.requirements == [PyRequirement.gpu_memory(5), PyRequirement.custom("x")]
    p = d.with_priority(-5)
    assert (d.priority, p.priority) == (0, -5)
    assert not e2.supports(PyElementTypeId("kelo.decode.H264")) and e2.supports(type_id=u)
    # A second branch off `e` (whose newest step is e2's) keeps only its own.
    branch = e.with_element_type(u)
    assert branch.element_types == [t, u] and e2.element_types == [t, u, t]
    assert e.with_capability(PyCapability.cuda()).capabilities == [PyCapability.cuda()]
    assert c.capabilities == [PyCapability.cuda()]

