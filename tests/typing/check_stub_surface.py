"""Checks what stubtest cannot judge in the kelo.ext stubs: methods whose stub
return type is a `Literal` of kind names must return one of those texts for
every value the static makers produce, and, when the makers are the only way
to make values, every text must occur. (Constructors, variants, equality and
hashing against the stubs are checked in tests/python/test_module.py.)

    PYTHONPATH=python python3 tests/typing/check_stub_surface.py
Exits non-zero and lists every mismatch.
"""

import ast
import inspect
import sys
from pathlib import Path

import kelo.ext

STUB_DIR = Path(__file__).resolve().parents[2] / "python" / "kelo" / "ext"
DISALLOW_INSTANTIATION = 1 << 7


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


def main():
    failures = 0
    for submodule in kelo.ext.__all__:
        module = getattr(kelo.ext, submodule)
        tree = ast.parse((STUB_DIR / f"{submodule}.pyi").read_text())
        stubs = {node.name: node for node in tree.body if isinstance(node, ast.ClassDef)}
        aliases = literal_aliases(submodule)
        for name in module.__all__:
            cls = getattr(module, name)
            if not isinstance(cls, type):
                continue
            if name not in stubs:
                print(f"{submodule}.{name}: missing from the stub")
                failures += 1
                continue
            problems = []
            check_literal_kinds(cls, stubs[name], aliases, problems)
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
