"""The public surface of kelo.ext as data: every class, every callable with its
parameters (from the runtime text signature) and their stub annotations, and a
sample instance of every class. The generic tests in test_module.py run over it."""

import ast
import functools
import inspect
import sys
from pathlib import Path

_ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(_ROOT / "tests" / "reliability"))
import driver  # noqa: E402  (the seeded sample search shared with the hostile run)

STUBS, SUBMODULES = _ROOT / "python" / "kelo" / "ext", driver.SUBMODULES
# The classes, then the module functions of kelo.ext and of the package's helper kelo._native.
classes, functions = driver.public_classes, driver.public_functions
DISALLOW_INSTANTIATION = 1 << 7


def variants(cls):
    """The enumeration members of a class, in declaration order."""
    return [(n, v) for n, kind, v in driver.members(cls) if kind == "member"]


@functools.lru_cache(maxsize=None)
def stub_tree(submodule):
    return ast.parse((STUBS / f"{submodule}.pyi").read_text())


@functools.lru_cache(maxsize=None)
def stub_functions():
    """{'Class.name' or 'name': ast.FunctionDef} over every stub."""
    out = {}
    for sub in SUBMODULES + ["../_native"]:
        for node in stub_tree(sub).body:
            inside = isinstance(node, ast.ClassDef)
            out.update({f"{node.name}." * inside + f.name: f for f in (node.body if inside else [node])
                        if isinstance(f, ast.FunctionDef)})
    return out


def stub_class(name):
    """(functions by name, annotations by name as text) of a class's stub."""
    for sub in SUBMODULES:
        for node in stub_tree(sub).body:
            if isinstance(node, ast.ClassDef) and node.name == name:
                return ({i.name: i for i in node.body if isinstance(i, ast.FunctionDef)},
                        {i.target.id: ast.unparse(i.annotation) for i in node.body
                         if isinstance(i, ast.AnnAssign) and isinstance(i.target, ast.Name)})
    raise LookupError(name)


@functools.lru_cache(maxsize=None)
def samples():
    return driver.find_samples()


def sample(cls):
    return samples()[cls][0]


class Callable:
    """One public callable: `name` as its messages show it, `call(*a, **k)`,
    its parameters (without self) and their stub annotations as text."""

    def __init__(self, name, fn, stub_name, receiver=None):
        self.name, self.fn, self.receiver = name, fn, receiver
        params = list(inspect.signature(fn).parameters.values())
        self.params = [p.name for p in params]
        self.required = sum(p.default is inspect.Parameter.empty for p in params)
        node = stub_functions()[stub_name]
        args = node.args.args[1:] if node.args.args[:1] and node.args.args[0].arg in ("self", "cls") \
            else node.args.args
        self.stub_params = [a.arg for a in args]
        self.defaults = [p.default for p in params]
        given = [ast.literal_eval(d) for d in node.args.defaults]
        self.stub_defaults = [inspect.Parameter.empty] * (len(args) - len(given)) + given
        self.kinds = {p.kind for p in params} - {inspect.Parameter.POSITIONAL_OR_KEYWORD}
        self.annotations = [ast.unparse(a.annotation) for a in args]

    def __call__(self, *args, **kwargs):
        return self.fn(*args, **kwargs)

    def __repr__(self):
        return self.name


@functools.lru_cache(maxsize=None)
def callables():
    out = []
    for cls in classes():
        n = cls.__name__
        if not cls.__flags__ & DISALLOW_INSTANTIATION:
            out.append(Callable(f"{n}.__new__", cls, f"{n}.__new__"))
        for name, kind, raw in driver.members(cls):
            if kind == "static":
                out.append(Callable(f"{n}.{name}", raw, f"{n}.{name}"))
            elif kind == "method":
                receiver = sample(cls)
                out.append(Callable(f"{n}.{name}", getattr(receiver, name), f"{n}.{name}", receiver))
    out += [Callable(f.__name__, f, f.__name__) for f in functions()]
    return out


def runtime_class(name):
    return next((c for c in classes() if c.__name__ == name), None)


FLOAT = "_FloatLike"


def valid(annotation):
    """A value every parameter of this annotation converts from."""
    if annotation.startswith("Sequence[") or annotation.endswith("| None"):
        return [] if annotation.startswith("Sequence[") else None
    simple = {"str": "x", "SupportsIndex": 1, "int": 1, FLOAT: 1.0, "float": 1.0, "bool": True}
    cls = runtime_class(annotation)
    return simple[annotation] if annotation in simple else sample(cls) if cls is not None else None


def not_instance(value, what):
    return f"'{type(value).__name__}' object is not an instance of '{what}'"


def bad(annotation):
    """(value, exception, message or None for the interpreter's own) that a
    parameter of this annotation must refuse, whatever the callable."""
    if annotation.endswith("| None"):
        inner = annotation[:-len("| None")].strip()
        return [row for row in bad(inner) if row[0] is not None]
    if annotation.startswith("Sequence["):
        inner = annotation[len("Sequence["):-1]
        # A length is not taken on trust: too long to hold, too long for memory (which of the two depends on
        # the item's size), or longer than the items.
        lying = type("Lying", (), {"__len__": lambda s: 2**30, "__getitem__": lambda s, i: [valid(inner)][i]})()
        return [(driver.RaisingLen(), driver.Boom, "len"), (driver.RaisingItem(), driver.Boom, "item"),
                (range(2**60), (OverflowError, MemoryError), None), (range(2**40), MemoryError, None),
                (lying, (IndexError, MemoryError), None), (5, TypeError, not_instance(5, "Sequence")),
                ("ab", TypeError, "Can't extract `str` to a list"),
                (None, TypeError, not_instance(None, "Sequence"))] + \
            [([valid(inner), v], e, m) for v, e, m in bad(inner)]
    if annotation == "str":
        return [(1, TypeError, not_instance(1, "str")), (b"x", TypeError, not_instance(b"x", "str")),
                (None, TypeError, not_instance(None, "str")), ("\ud800", UnicodeEncodeError, None)]
    if annotation == "bool":
        return [(1, TypeError, not_instance(1, "bool")), (None, TypeError, not_instance(None, "bool"))]
    if annotation in ("SupportsIndex", "int"):
        return [("1", TypeError, None), (1.5, TypeError, None), (None, TypeError, None),
                (2**64, OverflowError, None), (-2**63 - 1, OverflowError, None)]
    if annotation in (FLOAT, "float"):
        return [("1.0", TypeError, None), (None, TypeError, None)]
    cls = runtime_class(annotation)
    if cls is None:  # a type without a table (object, Any): nothing to refuse
        return []
    other = sample(runtime_class("PyStreamId" if annotation != "PyStreamId" else "PyFrameId"))
    return [(object(), TypeError, not_instance(object(), cls.__name__)),
            (other, TypeError, not_instance(other, cls.__name__)),
            (None, TypeError, f"'None' is not an instance of '{cls.__name__}'"),
            (1, TypeError, not_instance(1, cls.__name__))]


def stub_all(submodule):
    for node in stub_tree(submodule).body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", None) == "__all__" for t in node.targets):
            return ast.literal_eval(node.value)
    return None

