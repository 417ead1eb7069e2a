"""Checks what stubtest cannot judge in the kelo.ext stubs: a method whose stub
return type is a `Literal` of texts must return one of them for every value
the static makers produce, and, when the makers are the only way to make
values, every text must occur. (Constructors, variants, equality and hashing
against the stubs are checked in tests/python/test_module.py.)

    PYTHONPATH=python python3 tests/typing/check_stub_surface.py
Exits non-zero and lists every mismatch.
"""

import ast
import sys
from pathlib import Path

import kelo.ext

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
import surface  # noqa: E402  (the stubs and the sample values the generic tests use)


def literal(annotation, aliases):
    """The texts of a `Literal[...]` annotation (directly or through an alias), else None."""
    if isinstance(annotation, ast.Name) and annotation.id in aliases:
        annotation = aliases[annotation.id]
    if not (isinstance(annotation, ast.Subscript) and ast.unparse(annotation.value) == "Literal"):
        return None
    items = annotation.slice.elts if isinstance(annotation.slice, ast.Tuple) else [annotation.slice]
    return {ast.literal_eval(item) for item in items}


def problems(submodule):
    tree = surface.stub_tree(submodule)
    aliases = {n.target.id: n.value for n in tree.body
               if isinstance(n, ast.AnnAssign) and isinstance(n.target, ast.Name) and n.value}
    stubs = {n.name: n for n in tree.body if isinstance(n, ast.ClassDef)}
    module = getattr(kelo.ext, submodule)
    for cls in (getattr(module, n) for n in module.__all__):
        if not isinstance(cls, type):
            continue
        if cls.__name__ not in stubs:
            yield f"{cls.__name__}: missing from the stub"
            continue
        funcs = [f for f in stubs[cls.__name__].body if isinstance(f, ast.FunctionDef)]
        methods = {f.name: texts for f in funcs if [a.arg for a in f.args.args] == ["self"]
                   and (texts := literal(f.returns, aliases)) is not None}
        made, complete = [], bool(cls.__flags__ & surface.DISALLOW_INSTANTIATION)
        for f in funcs:
            if methods and any(ast.unparse(d) == "staticmethod" for d in f.decorator_list):
                try:
                    made.append(getattr(cls, f.name)(
                        *[surface.valid(ast.unparse(a.annotation)) for a in f.args.args]))
                except Exception:  # no argument at hand: the texts need not all occur
                    complete = False
        for method, texts in methods.items():
            seen = {getattr(value, method)() for value in made}
            if seen - texts:
                yield f"{cls.__name__}.{method}() returns {sorted(seen - texts)}, not in the stub's Literal"
            if complete and made and texts - seen:
                yield f"{cls.__name__}.{method}() Literal lists {sorted(texts - seen)}, never returned"


def main():
    found = [f"{sub}.{p}" for sub in kelo.ext.__all__ for p in problems(sub)]
    print("\n".join(found + [f"{len(found)} stub surface mismatch(es)" if found else
                             "stub surface matches the runtime"]))
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
