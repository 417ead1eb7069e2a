"""The provider registry, selection policies and select_provider of kelo.ext.provider."""

import random
import sys

from kelo.ext.graph import PyElementTypeId
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyProviderRegistry,
                                PyRequirement, PySelectionPolicy, PyVersion, select_provider)
from checks import raises

OS = {"linux": "linux", "darwin": "macos"}[sys.platform]
OTHER_OS = "macos" if OS == "linux" else "linux"
NONE_FOUND, UNSATISFIED, NOT_FOUND = "no providers found", "no provider satisfies requirements", "provider not found"
T = PyElementTypeId("kelo.infer.detect")
HP, FA = PySelectionPolicy.highest_priority(), PySelectionPolicy.first_available()
Req, Cap = PyRequirement, PyCapability


def manual(pid):
    return PySelectionPolicy.manual(PyProviderId(pid))


def provider(pid, priority=0, caps=(), types=(T,), tag=0):
    """A descriptor; `tag` goes into the version to tell copies apart from Python."""
    d = PyProviderDescriptor(PyProviderId(pid), PyVersion(0, tag, 0)).with_priority(priority)
    for t in types:
        d = d.with_element_type(t)
    for c in caps:
        d = d.with_capability(c)
    return d


def registry(*descriptors):
    r = PyProviderRegistry()
    for d in descriptors:
        r.register(d)
    return r


def chosen(r, reqs, policy, t=T):
    try:
        d = select_provider(t, r, reqs, policy)
    except ValueError as e:
        assert (type(e), getattr(e, "__notes__", None)) == (ValueError, None)
        return str(e)
    assert type(d) is PyProviderDescriptor
    return f"{d.id}/{d.priority}"


def test_entries_per_declared_type():  # the core tests hold the rule; this checks the texts
    a, b = PyElementTypeId("a"), PyElementTypeId("b")
    r = registry(provider("none", types=()), provider("two", 3, types=(a, b, a), tag=1))
    first, second = r.find(element_type=a)
    assert [(x.len(), len(x), x.is_empty(), bool(x), repr(x)) for x in (PyProviderRegistry(), r)] == [
        (0, 0, True, False, "PyProviderRegistry(entries=0)"),
        (3, 3, False, True, "PyProviderRegistry(entries=3)")]
    assert (first is second, repr(first)) == (False, "PyProviderDescriptor(two, v0.1.0)")


def test_registry_and_selection_hand_out_copies():
    d = provider("p", 1, [Cap.fp16()]).with_requirement(Req.cuda_required())
    r = registry(d)
    (found,) = r.find(T)
    a = select_provider(T, r, [], HP)
    b = select_provider(element_type=T, registry=r, requirements=(), policy=HP)
    assert (found.priority, found.element_types, a.capabilities) == (1, [T], [Cap.fp16()])
    assert (found is d, r.find(T)[0] is found, a is b, r.find(T)[0] is a) == (False,) * 4
    # The requirements a provider declares play no part in selection.
    assert chosen(r, [Req.cuda_required()], HP) == UNSATISFIED


def test_policy_reprs():
    assert [repr(p) for p in (HP, FA, manual("a'(b)"), manual(""))] == [
        "PySelectionPolicy(HighestPriority)", "PySelectionPolicy(FirstAvailable)",
        "PySelectionPolicy(Manual(a'(b)))", "PySelectionPolicy(Manual())"]


class Requirements:
    """A sequence whose item access runs `hook` first."""

    def __init__(self, hook, items=(PyRequirement.custom("x"),)):
        self.hook, self.items, self.errors = hook, list(items), []

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        self.hook(self)
        return self.items[i]


def test_selection_borrows_the_registry_for_reading():
    # Reading during a selection is fine; registering is refused, and the borrow ends with the call.
    r, seen = registry(provider("p", 1)), []
    reqs = Requirements(lambda s: r.register(provider("late", 9)))
    raises(RuntimeError, select_provider, T, r, reqs, HP, msg="Already borrowed", note="requirements")

    def hook(s):
        seen.append((len(r), repr(r), chosen(r, [], FA), [d.id.as_str() for d in r.find(T)]))
        try:
            r.register(provider("late", 9))
        except RuntimeError as e:
            s.errors.append(str(e))

    reqs = Requirements(hook, [Req.custom("a"), Req.custom("b")])
    assert (select_provider(T, r, reqs, FA).id.as_str(), reqs.errors, seen) == \
        ("p", ["Already borrowed"] * 2, [(1, "PyProviderRegistry(entries=1)", "p/1", ["p"])] * 2)
    r.register(provider("late", 9))
    assert chosen(r, [], HP) == "late/9"


def model_satisfies(kind, payload, caps):
    if kind == "operating_system":
        return "".join(c.lower() if "A" <= c <= "Z" else c for c in payload) == OS  # only ASCII folds
    needs = {"cuda_required": ("cuda", None), "gpu_memory": ("cuda", None),
             "accelerator": ("custom", f"accelerator:{payload}"),
             "external_runtime": ("custom", f"runtime:{payload}")}
    return kind == "custom" or needs[kind] in caps


def model_select(lists, t, reqs, policy):
    candidates = lists.get(t, [])
    if not candidates:
        return NONE_FOUND
    survivors = [d for d in candidates if all(model_satisfies(k, p, d["caps"]) for k, p in reqs)]
    if not survivors:
        return UNSATISFIED
    if policy[0] == "first":
        return survivors[0]["tag"]
    if policy[0] == "manual":
        return next((d["tag"] for d in survivors if d["id"] == policy[1]), NOT_FOUND)
    return max(reversed(survivors), key=lambda d: d["priority"])["tag"]  # the last of the highest


CAPS = [("cuda", None), ("fp16", None), ("custom", "cuda"), ("custom", "accelerator:tpu"),
        ("custom", "accelerator:TPU"), ("custom", "accelerator:"), ("custom", "runtime:onnx"),
        ("custom", "runtime:")]
REQS = [("cuda_required", None), ("gpu_memory", 0), ("gpu_memory", 2**64 - 1), ("accelerator", "tpu"),
        ("accelerator", "TPU"), ("accelerator", ""), ("accelerator", "pu"), ("external_runtime", "onnx"),
        ("external_runtime", ""), ("external_runtime", "tpu"), ("operating_system", OS + " "),
        ("operating_system", OS), ("operating_system", OS.upper()), ("operating_system", OTHER_OS),
        ("operating_system", OS.replace("i", "\u0131").replace("o", "\u00f6")),  # only ASCII folds
        ("custom", "tpu")]
TYPES, IDS = ["a", "b", "c", ""], ["p", "q", "r"]


def make_cap(kind, tag):
    return PyCapability.custom(tag) if kind == "custom" else getattr(PyCapability, kind)()


def make_req(kind, payload):
    return getattr(PyRequirement, kind)() if payload is None else getattr(PyRequirement, kind)(payload)


def test_selection_matches_a_model():
    rng = random.Random(0x6B656C6F)
    for round_ in range(3000):
        lists, r, count = {}, PyProviderRegistry(), 0
        for tag in range(rng.randrange(0, 7)):
            d = {"id": rng.choice(IDS), "priority": rng.randint(-3, 3), "tag": tag,
                 "types": [rng.choice(TYPES) for _ in range(rng.choice([0, 1, 1, 2, 3]))],
                 "caps": rng.sample(CAPS, rng.randrange(0, 4))}
            py = PyProviderDescriptor(PyProviderId(d["id"]), PyVersion(0, tag, 0)).with_priority(d["priority"])
            for t in d["types"]:
                py = py.with_element_type(PyElementTypeId(t))
                lists.setdefault(t, []).append(d)
            for c in d["caps"]:
                py = py.with_capability(make_cap(*c))
            r.register(py)
            count += len(d["types"])
        assert (len(r), bool(r)) == (count, count > 0)
        for _ in range(4):
            t, reqs = rng.choice(TYPES), rng.sample(REQS, rng.choice([0, 0, 1, 1, 2, 3]))
            policy = rng.choice([("highest",), ("first",), ("manual", rng.choice(IDS + ["s"]))])
            py_policy = {"highest": HP, "first": FA}.get(policy[0]) or manual(policy[-1])
            seq = [make_req(*q) for q in reqs]
            try:
                got = select_provider(PyElementTypeId(t), r, seq if round_ % 2 else tuple(seq), py_policy).version.minor
            except ValueError as e:
                got = str(e)
            want = (model_select(lists, t, reqs, policy), [d["tag"] for d in lists.get(t, [])])
            found = [d.version.minor for d in r.find(PyElementTypeId(t))]
            assert (got, found) == want, (round_, t, reqs, policy)
