"""Checks the parts of the kelo.ext stubs that stubtest cannot judge.

The extension's classes implement construction in tp_new and publish their
constructor only as the class text signature; their `__new__` reports
`(*args, **kwargs)`, so stubtest accepts any constructor in a stub. It also
does not look at the type of class attributes that hold instances of their
own class, nor at classes whose stub declares equality or hashing the
runtime lacks. This script compares, for every class of every submodule:

- the stub's `__new__` parameters with the class text signature (names,
  order, positional-or-keyword kind, defaults), and that classes without a
  constructor have none in the stub;
- the enumeration variants (runtime class attributes that are instances of
  the class) with the stub's `ClassVar[<class>]` attributes;
- `__eq__`/`__ne__`, `__hash__` (method, `ClassVar[None]` or absent),
  `__int__`, `__len__`, `__bool__` and the ordering methods against what the
  class itself defines at runtime; a sample instance (a variant, or one made
  without arguments) must refuse ordering, as the stubs declare none;
- methods whose stub return type is a `Literal` of kind names against the
  kinds of the values the static makers produce.

Run with the built module and the stubs on the path:
    PYTHONPATH=python python3 tests/typing/check_stub_surface.py
Exits non-zero and lists every mismatch.
"""

import ast
import inspect
import operator
import sys
from pathlib import Path

import kelo.ext

STUB_DIR = Path(__file__).resolve().parents[2] / "python" / "kelo" / "ext"
DISALLOW_INSTANTIATION = 1 << 7
PLAIN_DUNDERS = ("__int__", "__len__", "__bool__")
ORDERING = ("__lt__", "__le__", "__gt__", "__ge__")


def stub_classes(submodule):
    tree = ast.parse((STUB_DIR / f"{submodule}.pyi").read_text())
    return {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}


def literal_aliases(submodule):
    """Module-level `_Name: TypeAlias = Literal[...]` of a stub, by name."""
    tree = ast.parse((STUB_DIR / f"{submodule}.pyi").read_text())
    return {
        node.target.id: node.value
        for node in tree.body
        if isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name) and node.value
    }


def literal_values(annotation, aliases):
    """The strings of a `Literal[...]` annotation (directly or through an alias), else None."""
    if isinstance(annotation, ast.Name) and annotation.id in aliases:
        annotation = aliases[annotation.id]
    if not (isinstance(annotation, ast.Subscript) and ast.unparse(annotation.value) == "Literal"):
        return None
    items = annotation.slice.elts if isinstance(annotation.slice, ast.Tuple) else [annotation.slice]
    return {ast.literal_eval(item) for item in items}


def class_members(node):
    functions, annotations = {}, {}
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            functions[item.name] = item
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            annotations[item.target.id] = ast.unparse(item.annotation)
    return functions, annotations


def check_constructor(cls, functions, problems):
    stub_new = functions.get("__new__")
    if "__init__" in functions:
        problems.append("declares __init__; the runtime constructs in __new__")
    if cls.__flags__ & DISALLOW_INSTANTIATION:
        if stub_new is not None:
            problems.append("has no constructor at runtime but the stub declares __new__")
        return
    if stub_new is None:
        problems.append(f"stub lacks __new__{inspect.signature(cls)}")
        return
    args = stub_new.args
    if args.posonlyargs or args.kwonlyargs or args.vararg or args.kwarg:
        problems.append("__new__ must take positional-or-keyword parameters only")
    names = [a.arg for a in args.args]
    if names[:1] != ["cls"]:
        problems.append("__new__ must start with cls")
    stub_params = names[1:]
    defaults = [ast.literal_eval(d) for d in args.defaults]
    stub_defaults = [inspect.Parameter.empty] * (len(stub_params) - len(defaults)) + defaults
    runtime = list(inspect.signature(cls).parameters.values())
    runtime_params = [p.name for p in runtime]
    if stub_params != runtime_params:
        problems.append(f"__new__ parameters {stub_params} differ from runtime {runtime_params}")
        return
    for param, stub_default in zip(runtime, stub_defaults):
        if param.kind is not inspect.Parameter.POSITIONAL_OR_KEYWORD:
            problems.append(f"runtime parameter {param.name} is {param.kind}")
        if param.default != stub_default or type(param.default) is not type(stub_default):
            problems.append(
                f"__new__ default of {param.name}: stub {stub_default!r}, runtime {param.default!r}"
            )


def check_variants(cls, annotations, problems):
    body = vars(cls)
    runtime = [name for name, value in body.items() if isinstance(value, cls)]
    stub = [name for name, ann in annotations.items() if ann == f"ClassVar[{cls.__name__}]"]
    if runtime != stub:
        problems.append(f"variants: stub {stub}, runtime {runtime}")


def sample(cls):
    """An instance made without arguments (a variant, the constructor or a
    static maker), or None when every way of making one needs arguments."""
    body = vars(cls)
    for value in body.values():
        if isinstance(value, cls):
            return value
    makers = [] if cls.__flags__ & DISALLOW_INSTANTIATION else [cls]
    makers += [getattr(cls, n) for n, v in body.items() if isinstance(v, staticmethod)]
    for maker in makers:
        params = inspect.signature(maker).parameters.values()
        if all(p.default is not inspect.Parameter.empty for p in params):
            return maker()
    return None


def runtime_class(name):
    for submodule in kelo.ext.__all__:
        found = getattr(getattr(kelo.ext, submodule), name, None)
        if isinstance(found, type):
            return found
    return None


SIMPLE_ARGUMENTS = {"str": "x", "SupportsIndex": 1, "_FloatLike": 1.0, "bool": True}


def argument_for(annotation):
    """A value for a stub parameter, or raise LookupError when none is at hand."""
    text = ast.unparse(annotation)
    if text in SIMPLE_ARGUMENTS:
        return SIMPLE_ARGUMENTS[text]
    if text.endswith("| None"):
        return None
    if text.startswith("Sequence["):
        return []
    cls = runtime_class(text)
    value = sample(cls) if cls is not None else None
    if value is None:
        raise LookupError(text)
    return value


def check_literal_kinds(cls, node, aliases, problems):
    """Methods typed to return a Literal must return one of its texts for
    every value the static makers produce; when every maker could be called
    and the class has no other way of making values, each text must occur."""
    functions, _ = class_members(node)
    literal_methods = {}
    for name, func in functions.items():
        values = literal_values(func.returns, aliases) if func.returns else None
        if values is not None and [a.arg for a in func.args.args] == ["self"]:
            literal_methods[name] = values
    if not literal_methods:
        return
    made, complete = [], True
    for name, func in functions.items():
        if not any(ast.unparse(d) == "staticmethod" for d in func.decorator_list):
            continue
        try:
            args = [argument_for(a.annotation) for a in func.args.args]
        except LookupError:
            complete = False
            continue
        made.append(getattr(cls, name)(*args))
    complete = complete and bool(made) and bool(cls.__flags__ & DISALLOW_INSTANTIATION)
    for method, values in literal_methods.items():
        seen = {getattr(value, method)() for value in made}
        if seen - values:
            problems.append(f"{method}() returns {sorted(seen - values)}, not in the stub's Literal")
        if complete and values - seen:
            problems.append(f"{method}() Literal lists {sorted(values - seen)}, never returned")


def check_unordered(cls, problems):
    value = sample(cls)
    if value is None:
        return
    for op in (operator.lt, operator.le, operator.gt, operator.ge):
        try:
            op(value, value)
        except TypeError:
            continue
        problems.append(f"answers {op.__name__} at runtime, the stub declares no ordering")


def check_special(cls, functions, annotations, problems):
    body = vars(cls)
    has_eq = "__eq__" in body
    for name in ("__eq__", "__ne__"):
        if (name in functions) != has_eq:
            problems.append(f"{name}: stub {'has' if name in functions else 'lacks'} it, "
                            f"runtime equality {'defined' if has_eq else 'is identity'}")
    runtime_hash = body.get("__hash__", "absent")
    if runtime_hash is None:
        if annotations.get("__hash__") != "ClassVar[None]" or "__hash__" in functions:
            problems.append("unhashable at runtime: the stub needs __hash__: ClassVar[None]")
    elif runtime_hash == "absent":
        if "__hash__" in functions or "__hash__" in annotations:
            problems.append("identity hash at runtime: the stub must not declare __hash__")
    elif "__hash__" not in functions:
        problems.append("hashable by value at runtime: the stub needs def __hash__")
    for name in PLAIN_DUNDERS:
        if (name in functions) != (name in body):
            problems.append(f"{name}: stub {'has' if name in functions else 'lacks'} it, "
                            f"runtime {'has' if name in body else 'lacks'} it")
    for name in ORDERING:
        if name in functions:
            problems.append(f"{name}: no class is ordered, the stub must not declare it")


def main():
    failures = 0
    for submodule in kelo.ext.__all__:
        module = getattr(kelo.ext, submodule)
        stubs = stub_classes(submodule)
        aliases = literal_aliases(submodule)
        for name in module.__all__:
            cls = getattr(module, name)
            if not isinstance(cls, type):
                continue
            node = stubs.get(name)
            if node is None:
                print(f"{submodule}.{name}: missing from the stub")
                failures += 1
                continue
            functions, annotations = class_members(node)
            problems = []
            check_constructor(cls, functions, problems)
            check_variants(cls, annotations, problems)
            check_special(cls, functions, annotations, problems)
            check_unordered(cls, problems)
            check_literal_kinds(cls, node, aliases, problems)
            for problem in problems:
                print(f"{submodule}.{name}: {problem}")
            failures += len(problems)
    if failures:
        print(f"{failures} stub surface mismatch(es)")
        return 1
    print("stub surface matches the runtime")
    return 0


if __name__ == "__main__":
    sys.exit(main())
