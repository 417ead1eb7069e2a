"""Drives every public callable of kelo.ext, and the functions of kelo._native, with seeded random arguments.

Shared by the reference-leak check and the hostile-input run. The callables are found from each submodule's
`__all__`, so a class added later is driven without being listed here; a class for which no instance can be
made is reported.

Instances ("samples") are found by search: enumeration members, then static makers and constructors called
with arguments drawn from a pool of ordinary values and of the samples found so far, then what the samples'
own methods hand out, until no new class turns up.
"""

import functools
import inspect
import math
import random
import sys

import kelo._native
import kelo.ext

SUBMODULES = list(kelo.ext.__all__)

U = "550e8400-e29b-41d4-a716-446655440000"
# Values that well-formed calls take.
ORDINARY = [0, 1, 2, 3, 640, 480, 0.5, 1.0, -1.0, True, False, "", "a", "image", "rgb",
            "kelo.decode.h264", "kelo/frame.start", "custom:x", "pixel", U, [], [1, 2], [0.5, 0.5], None]
# Values at and beyond every boundary, of every type.
HOSTILE = [-1, 2**31 - 1, 2**31, -2**31, -2**31 - 1, 2**32 - 1, 2**32, 2**63 - 1, 2**63, -2**63,
           -2**63 - 1, 2**64 - 1, 2**64, 10**40, -10**40, math.nan, math.inf, -math.inf, 5e-324,
           -0.0, 3.5e38, 1e39, "\ud800", "a\0b", "\U0001F600", "x" * 1000, b"abc", bytearray(b"a"),
           (), (1,), ["a", "b"], [None], [[1]], {}, {"a": 1}, object(), 1j, "\xff"]


class Boom(RuntimeError):
    """Raised by the hostile sequences below: the binding must let it through."""


class RaisingLen:
    def __len__(self):
        raise Boom("len")

    def __getitem__(self, i):
        if i >= 2:
            raise IndexError(i)
        return 1


class RaisingItem:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        raise Boom("item")


class LyingLen(RaisingLen):
    """A sequence whose length promises `n` items but holds two: far more than memory or a container holds,
    or a plain lie."""

    def __init__(self, n):
        self.n = n

    def __len__(self):
        return self.n


class CallsBack:
    """A sequence whose length and item reads call back into the module: every method and property of `target`
    (the object being called, as a rule) with the sequence's own items as arguments, so that in-place
    mutators run while the outer call may hold a borrow. What the callbacks raise is swallowed."""

    def __init__(self, target, items):
        self.target, self.items, self.busy = target, items, False

    def poke(self):
        if self.busy or self.target is None:
            return
        self.busy = True
        try:
            for name, kind, raw in members(type(self.target)):
                try:
                    if kind == "property":
                        getattr(self.target, name)
                    elif kind == "method":
                        raw(self.target, *self.items[:max((arity(raw) or 1) - 1, 0)])
                except Exception:
                    pass
        finally:
            self.busy = False

    def __len__(self):
        self.poke()
        return len(self.items)

    def __getitem__(self, i):
        self.poke()
        return self.items[i]


def exported(modules):
    return [getattr(m, n) for m in modules for n in m.__all__]


def public_classes():
    modules = [getattr(kelo.ext, s) for s in SUBMODULES]
    return [obj for obj in exported(modules) if isinstance(obj, type)]


def public_functions():
    # kelo._native's classes are its named results, struct sequences of the interpreter's own.
    modules = [getattr(kelo.ext, s) for s in SUBMODULES] + [kelo._native]
    return [obj for obj in exported(modules) if not isinstance(obj, type)]


@functools.lru_cache(maxsize=None)
def parameters(fn):
    """(name, has_default) for each positional parameter a callable declares, or None. Cached: building a
    signature leaves interpreter caches behind, which the leak check would otherwise count as growth."""
    try:
        params = inspect.signature(fn).parameters.values()
    except (TypeError, ValueError):
        return None
    return tuple((p.name, p.default is not p.empty) for p in params
                 if p.kind in (p.POSITIONAL_ONLY, p.POSITIONAL_OR_KEYWORD))


def arity(fn):
    """The number of positional parameters a callable declares (a method's `self` included), or None."""
    found = parameters(fn)
    return None if found is None else len(found)


def members(cls):
    """(name, kind, object) for the public attributes of a class."""
    out = []
    for name, raw in vars(cls).items():
        if name.startswith("_"):
            continue
        if isinstance(raw, (staticmethod, classmethod)) or type(raw).__name__ == "builtin_function_or_method":
            out.append((name, "static", getattr(cls, name)))
        elif isinstance(raw, cls):
            out.append((name, "member", raw))
        elif hasattr(raw, "__get__") and not callable(raw):
            out.append((name, "property", raw))
        elif callable(raw):
            out.append((name, "method", raw))
    return out


def makers(cls):
    return [cls] * (arity(cls) is not None) + [f for _, kind, f in members(cls) if kind == "static"]


def required(fn):
    """The names of the parameters a call cannot leave out (without `self`)."""
    found = parameters(fn)
    return None if found is None else [name for name, optional in found if not optional and name != "$self"]


def hinted(cls, name, samples):
    """Samples of the classes the parameter's name points to: `id` of `PyTrack`
    is a `PyTrackId`, `first_timestamp` a `PyTimestamp`, `bbox` a `PyBoundingBox`."""
    if name == "id":
        own = [found[0] for c, found in samples.items() if found and c.__name__ == cls.__name__ + "Id"]
        if own:
            return own
    key = {"bbox": "boundingbox", "type_id": "elementtypeid"}.get(name, name.replace("_", ""))
    if len(key) < 3:
        return []
    return [found[0] for c, found in samples.items()
            if found and (key in c.__name__.lower() or c.__name__.lower()[2:] in key)]


def find_samples(tries=600):
    """Map from class to a list of instances, found by a seeded search: each argument is mostly a sample of a
    class its parameter's name points to, else an ordinary value or any sample."""
    samples = {cls: [m for _, kind, m in members(cls) if kind == "member"] for cls in public_classes()}
    rng, changed = random.Random(0), True
    while changed:
        changed, others = False, [found[0] for found in samples.values() if found]
        for cls in samples:
            if len(samples[cls]) >= 2:
                continue
            for maker in makers(cls):
                names = required(maker)
                if names is None:
                    continue
                hints = [hinted(cls, n, samples) for n in names]
                for _ in range(tries):
                    args = [rng.choice(h) if h and rng.random() < 0.8 else
                            rng.choice(ORDINARY if rng.random() < 0.7 else others or ORDINARY) for h in hints]
                    try:
                        value = maker(*args)
                    except Exception:
                        continue
                    if isinstance(value, cls):
                        samples[cls].append(value)
                        changed = True
                        break
                if len(samples[cls]) >= 2:
                    break
        if not changed:
            changed = derive(samples, rng)
    return samples


def derive(samples, rng):
    """Instances that only other objects hand out (a validation report, its errors): every method and property
    of one sample per class is used once, with hinted arguments, and what comes back fills missing classes.
    Returns whether a class gained a sample."""
    gained, wanted = False, (lambda value: type(value) in samples and len(samples[type(value)]) < 2)
    for cls, found in list(samples.items()):
        if not found:
            continue
        receiver = found[0]
        for name, kind, raw in members(cls):
            if kind == "property":
                thunk = lambda: getattr(receiver, name)
            elif kind == "method":
                names = (required(raw) or [None])[1:]
                args = [rng.choice(h) if h else None for h in (hinted(cls, n, samples) for n in names)]
                thunk = lambda: raw(receiver, *args)
            else:
                continue
            try:
                value = thunk()
            except Exception:
                continue
            for item in value if isinstance(value, list) else [value]:
                if wanted(item):
                    samples[type(item)].append(item)
                    gained = True
    return gained


def complete_samples(tool):
    """The samples, or the tool's exit when a class has none."""
    samples = find_samples()
    missing = [cls.__name__ for cls, found in samples.items() if not found]
    if missing:
        sys.exit(f"{tool}: no instance could be made of: {', '.join(missing)}")
    return samples


def calls(samples, rng, per_callable, hostile):
    """Yields (label, thunk) pairs: every member of every class and every function,
    called `per_callable` times with random arguments."""
    values = ORDINARY + (HOSTILE if hostile else [])

    def argument(receiver):
        roll = rng.random()
        if hostile and roll < 0.08:
            items = [rng.choice(values), rng.choice(rng.choice([s for s in samples.values() if s]))]
            return rng.choice([RaisingLen(), RaisingItem(), CallsBack(receiver, items),
                               (x for x in items), CallsBack(receiver, items),
                               LyingLen(rng.choice((0, 1, 3, 2**20, 2**40, 2**60, 2**63 - 1))), range(2**60)])
        if roll < 0.45:
            return rng.choice(values)
        found = rng.choice([s for s in samples.values() if s] or [[None]])
        pick = rng.choice(found)
        return [pick] if roll < 0.55 else pick

    def arguments(n, receiver=None):
        extra = rng.random() < 0.05  # now and then a surplus or a missing argument
        count = max(0, n + (rng.choice((-1, 1)) if extra else 0))
        return [argument(receiver) for _ in range(count)]

    for cls, found in samples.items():
        for name, kind, raw in [("__init__", "static", cls)] * (arity(cls) is not None) + members(cls):
            for _ in range(per_callable):
                receiver = rng.choice(found) if found else None
                if kind == "property":
                    yield f"{cls.__name__}.{name}", (lambda r=receiver, n=name: getattr(r, n))
                elif kind == "member":
                    continue
                else:
                    n = arity(raw) or 0
                    args = arguments(n - (1 if kind == "method" else 0), receiver)
                    if kind == "method":
                        yield f"{cls.__name__}.{name}", (lambda r=receiver, f=raw, a=args: f(r, *a))
                    else:
                        yield f"{cls.__name__}.{name}", (lambda f=raw, a=args: f(*a))
        for receiver in found[:2]:
            other = rng.choice([s for s in samples.values() if s] or [[None]])[0]
            for fn in (repr, str, hash, len, int, bool):
                yield f"{cls.__name__}.{fn.__name__}", (lambda f=fn, r=receiver: f(r))
            yield f"{cls.__name__}.==", (lambda r=receiver, o=other: (r == o, r != o, r == r))
            yield f"{cls.__name__}.<", (lambda r=receiver, o=other: r < o)
    for fn in public_functions():
        for _ in range(per_callable):
            args = arguments(arity(fn) or 0)
            yield fn.__name__, (lambda f=fn, a=args: f(*a))
