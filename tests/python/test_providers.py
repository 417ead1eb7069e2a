"""Provider identities, versions, capabilities, requirements, descriptors and the
ABI check of kelo.ext.provider."""

import struct

import pytest

from kelo.ext.graph import PyElementTypeId
from kelo.ext.provider import (
    PyCapability,
    PyProviderDescriptor,
    PyProviderId,
    PyRequirement,
    PyVersion,
    abi_current_version,
    abi_is_compatible,
)
from sipref import py_hash
from checks import raises

RANGE = "out of range integral type conversion attempted"
NOT = "'{}' object is not an instance of '{}'".format
U64 = 2**64 - 1


def descriptor(id="native.synthetic", version=(1, 4, 0)):
    return PyProviderDescriptor(PyProviderId(id), PyVersion(*version))


# ---- identities and versions -------------------------------------------

@pytest.mark.parametrize("text", ["", "native.synthetic", "a'b", "é\x00)", "x" * 100])
def test_provider_id(text):
    p = PyProviderId(text)
    assert p.as_str() == str(p) == text and repr(p) == f"PyProviderId('{text}')"
    assert p == PyProviderId(s=text) and not p != PyProviderId(text)
    assert hash(p) == py_hash(text.encode() + b"\xff")
    assert p != PyProviderId(text + " ") and p != text and (p == text) is False
    assert p.__eq__(text) is NotImplemented and p.__lt__(p) is NotImplemented


@pytest.mark.parametrize("parts", [(0, 0, 0), (1, 2, 3), (0, 1, 0), (2**32 - 1, 0, 2**32 - 1)])
def test_version(parts):
    v = PyVersion(*parts)
    text = ".".join(map(str, parts))
    assert (v.major, v.minor, v.patch) == parts
    assert str(v) == text and repr(v) == f"PyVersion('{text}')"
    assert v == PyVersion(*parts) and hash(v) == py_hash(struct.pack("<III", *parts))
    assert (v == parts) is False and v != parts
    with pytest.raises(TypeError):
        v < PyVersion(*parts)  # noqa: B015 - versions are not ordered


@pytest.mark.parametrize("args, kwargs, exc, msg, note", [
    ((2**32, 0, 0), {}, OverflowError, RANGE, "major"),
    ((0, -1, 0), {}, OverflowError, RANGE, "minor"),
    ((0, 0, 2**63 - 1), {}, OverflowError, RANGE, "patch"),
    ((0, 0, 2**64), {}, OverflowError, None, "patch"),
    ((0, 0, "1"), {}, TypeError, None, "patch"),
    ((0, 0), {}, TypeError, "PyVersion.__new__() missing 1 required positional argument: 'patch'", None),
    ((0, 0, 0), {"major": 1}, TypeError, "PyVersion.__new__() got multiple values for argument 'major'", None),
])
def test_version_rejects(args, kwargs, exc, msg, note):
    raises(exc, PyVersion, *args, msg=msg, note=note, **kwargs)


def test_abi():
    current = abi_current_version()
    assert current == PyVersion(0, 1, 0) and current is not abi_current_version()
    assert str(current) == "0.1.0" and repr(current) == "PyVersion('0.1.0')"
    for parts, ok in [((0, 0, 0), True), ((0, 1, 0), True), ((0, 7, 3), True), ((0, 9, 9), True),
                      ((0, 2**32 - 1, 0), True), ((1, 0, 0), False), ((2, 1, 0), False),
                      ((2**32 - 1, 1, 0), False)]:
        assert abi_is_compatible(PyVersion(*parts)) is ok
    assert abi_is_compatible(version=current) is True
    raises(TypeError, abi_is_compatible, (0, 1, 0), msg=NOT("tuple", "PyVersion"), note="version")
    raises(TypeError, abi_is_compatible, "0.1.0", msg=NOT("str", "PyVersion"), note="version")


# ---- capabilities and requirements ---------------------------------------

KINDS = ["cuda", "fp16", "int8", "dynamic_shape", "batching", "h264", "h265", "nv12", "metadata",
         "async_execution"]


def capabilities():
    return [getattr(PyCapability, k)() for k in KINDS] + [PyCapability.custom(t) for t in
                                                         ("", "cuda", "accelerator:tpu", "gpu.a100", "a)b")]


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
    caps = capabilities()
    for i, a in enumerate(caps):
        for j, b in enumerate(capabilities()):
            assert (a == b) is (i == j) and (a != b) is (i != j)
    assert PyCapability.custom("cuda") != PyCapability.cuda() and str(PyCapability.custom("cuda")) == "custom:cuda"
    assert PyCapability.custom("x") != "custom:x" and PyCapability.cuda().__lt__(PyCapability.cuda()) is NotImplemented


REQUIREMENTS = [  # constructor, argument, kind index, kind name, payload bytes of the hash stream
    (PyRequirement.cuda_required, None, 0, "cuda_required", b""),
    (PyRequirement.gpu_memory, 0, 1, "gpu_memory", struct.pack("<Q", 0)),
    (PyRequirement.gpu_memory, U64, 1, "gpu_memory", struct.pack("<Q", U64)),
    (PyRequirement.accelerator, "tpu", 2, "accelerator", b"tpu\xff"),
    (PyRequirement.operating_system, "linux", 3, "operating_system", b"linux\xff"),
    (PyRequirement.external_runtime, "", 4, "external_runtime", b"\xff"),
    (PyRequirement.custom, "é", 5, "custom", "é".encode() + b"\xff"),
]


@pytest.mark.parametrize("make, arg, index, kind, payload", REQUIREMENTS)
def test_requirement(make, arg, index, kind, payload):
    r = make() if arg is None else make(arg)
    assert r.kind() == kind and repr(r) == str(r) == f"PyRequirement({kind})"
    assert hash(r) == py_hash(struct.pack("<Q", index) + payload)
    assert r == (make() if arg is None else make(arg))


def test_requirement_equality_needs_kind_and_payload():
    reqs = [PyRequirement.cuda_required(), PyRequirement.gpu_memory(1), PyRequirement.gpu_memory(2),
            PyRequirement.accelerator("tpu"), PyRequirement.accelerator("npu"),
            PyRequirement.operating_system("tpu"), PyRequirement.external_runtime("tpu"),
            PyRequirement.custom("tpu"), PyRequirement.custom("TPU")]
    for i, a in enumerate(reqs):
        for j, b in enumerate(reqs):
            assert (a == b) is (i == j)
    assert repr(reqs[1]) == repr(reqs[2]) == "PyRequirement(gpu_memory)"
    assert repr(reqs[3]) == repr(reqs[4]) == "PyRequirement(accelerator)"
    assert PyRequirement.custom("x") != PyCapability.custom("x")


@pytest.mark.parametrize("fn, args, exc, msg, note", [
    (PyRequirement.gpu_memory, (2**64,), OverflowError, None, "bytes"),
    (PyRequirement.gpu_memory, (-1,), OverflowError, None, "bytes"),
    (PyRequirement.gpu_memory, (1.0,), TypeError, None, "bytes"),
    (PyRequirement.accelerator, (1,), TypeError, NOT("int", "str"), "name"),
    (PyRequirement.custom, (None,), TypeError, NOT("NoneType", "str"), "tag"),
    (PyCapability.custom, (b"x",), TypeError, NOT("bytes", "str"), "tag"),
    (PyCapability.cuda, (1,), TypeError, "PyCapability.cuda() takes 0 positional arguments but 1 was given", None),
    (PyCapability, (), TypeError, "cannot create 'builtins.PyCapability' instances", None),
    (PyRequirement, (), TypeError, "cannot create 'builtins.PyRequirement' instances", None),
])
def test_capability_and_requirement_reject(fn, args, exc, msg, note):
    raises(exc, fn, *args, msg=msg, note=note)


# ---- descriptors --------------------------------------------------------

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
    assert p.with_priority(2**31 - 1).priority == 2**31 - 1 and p.with_priority(-(2**31)).priority == -(2**31)
    assert not e2.supports(PyElementTypeId("kelo.decode.H264")) and e2.supports(type_id=u)
    assert not d.supports(PyElementTypeId(""))
    # A second branch off `e` (whose newest step is e2's) keeps only its own.
    branch = e.with_element_type(u)
    assert branch.element_types == [t, u] and e2.element_types == [t, u, t]
    assert e.with_capability(PyCapability.cuda()).capabilities == [PyCapability.cuda()]
    assert c.capabilities == [PyCapability.cuda()]


def test_properties_are_copies():
    d = descriptor().with_element_type(PyElementTypeId("t")).with_capability(PyCapability.custom("x"))
    assert d.id is not d.id and d.version is not d.version
    assert d.element_types is not d.element_types and d.element_types[0] is not d.element_types[0]
    d.element_types.append(PyElementTypeId("u"))
    d.capabilities.clear()
    assert d.element_types == [PyElementTypeId("t")] and d.capabilities == [PyCapability.custom("x")]
    for name in ("id", "version", "element_types", "capabilities", "requirements", "priority"):
        with pytest.raises(AttributeError):
            setattr(d, name, None)
        assert getattr(PyProviderDescriptor, name).__doc__ is None


def test_descriptor_identity_semantics():
    a, b = descriptor(), descriptor()
    assert a == a and a != b and hash(a) == object.__hash__(a)
    assert not hasattr(a, "__dict__")


@pytest.mark.parametrize("fn, args, exc, msg, note", [
    (PyProviderDescriptor, ("native.synthetic", PyVersion(1, 0, 0)), TypeError, NOT("str", "PyProviderId"), "id"),
    (PyProviderDescriptor, (PyProviderId("p"), (1, 0, 0)), TypeError, NOT("tuple", "PyVersion"), "version"),
    (PyProviderDescriptor, (PyProviderId("p"), "1.0.0"), TypeError, NOT("str", "PyVersion"), "version"),
    (PyProviderDescriptor, (PyProviderId("p"),), TypeError,
     "PyProviderDescriptor.__new__() missing 1 required positional argument: 'version'", None),
    (descriptor().with_priority, (2**31,), OverflowError, RANGE, "priority"),
    (descriptor().with_priority, (-(2**31) - 1,), OverflowError, RANGE, "priority"),
    (descriptor().with_priority, (-(2**63),), OverflowError, RANGE, "priority"),
    (descriptor().with_priority, (2**63,), OverflowError, None, "priority"),
    (descriptor().with_priority, ("1",), TypeError, None, "priority"),
    (descriptor().with_element_type, ("t",), TypeError, NOT("str", "PyElementTypeId"), "type_id"),
    (descriptor().with_capability, (PyRequirement.cuda_required(),), TypeError,
     NOT("PyRequirement", "PyCapability"), "cap"),
    (descriptor().with_requirement, (PyCapability.cuda(),), TypeError, NOT("PyCapability", "PyRequirement"), "req"),
    (descriptor().with_requirement, (None,), TypeError, "'None' is not an instance of 'PyRequirement'", "req"),
    (descriptor().supports, ("t",), TypeError, NOT("str", "PyElementTypeId"), "type_id"),
])
def test_descriptor_rejects(fn, args, exc, msg, note):
    raises(exc, fn, *args, msg=msg, note=note)


D, S = "__doc__", "__text_signature__"
CAPABILITY_KIND_DOC = ("The capability kind: `cuda`, `fp16`, `int8`, `dynamic_shape`,\n`batching`, `h264`, "
                       "`h265`, `nv12`, `metadata`,\n`async_execution` or `custom`.")


@pytest.mark.parametrize("obj, sig, doc", [
    (PyProviderId, "(s)", "Provider identity \u2014 a string handle (e.g. `native.synthetic`)."),
    (PyProviderId.as_str, "($self)", None),
    (PyVersion, "(major, minor, patch)", "A semantic version."),
    (PyCapability, None, "An externally observable provider capability."),
    *[(getattr(PyCapability, k), "()", None) for k in KINDS],
    (PyCapability.custom, "(tag)", "A custom capability tag."),
    (PyCapability.kind, "($self)", CAPABILITY_KIND_DOC),
    (PyCapability.custom_tag, "($self)", "The custom tag, if this is a custom capability."),
    (PyRequirement, None, "A resource or condition a provider needs."),
    (PyRequirement.cuda_required, "()", None),
    (PyRequirement.gpu_memory, "(bytes)", "Require a provider with CUDA capability (`bytes` is advisory)."),
    (PyRequirement.accelerator, "(name)",
     "Require a hardware accelerator (matched against\n`custom(\"accelerator:<name>\")` capabilities)."),
    (PyRequirement.operating_system, "(name)", "Require a specific operating system (e.g. `macos`, `linux`)."),
    (PyRequirement.external_runtime, "(name)",
     "Require an external runtime (matched against\n`custom(\"runtime:<name>\")` capabilities)."),
    (PyRequirement.custom, "(tag)", "An opaque requirement (assumed satisfied)."),
    (PyRequirement.kind, "($self)", "The requirement kind."),
    (PyProviderDescriptor, "(id, version)", "Provider descriptor \u2014 what a provider implements."),
    (PyProviderDescriptor.with_element_type, "($self, type_id)", "Declare support for an element type (builder-style)."),
    (PyProviderDescriptor.with_capability, "($self, cap)", "Declare a capability (builder-style)."),
    (PyProviderDescriptor.with_requirement, "($self, req)", "Declare a requirement (builder-style)."),
    (PyProviderDescriptor.with_priority, "($self, priority)", "Set the selection priority (builder-style)."),
    (PyProviderDescriptor.supports, "($self, type_id)", "Whether this provider implements the given element type."),
    (abi_current_version, "()", "The current Kelo provider ABI version (RFC-004 \u00a724)."),
    (abi_is_compatible, "(version)", "Whether `version` is compatible with the current ABI."),
], ids=lambda x: getattr(x, "__qualname__", None) if callable(x) else None)
def test_docs_and_signatures(obj, sig, doc):
    assert getattr(obj, S) == sig and getattr(obj, D) == doc
