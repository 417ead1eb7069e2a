"""Prints an untyped stub skeleton of one submodule of the built `kelo.ext`.

Usage: PYTHONPATH=python python3 tools/stub_skeleton.py data > /tmp/data.pyi

The skeleton has the structure the runtime reports (classes in `__all__`
order, constructors from the class text signatures, static makers,
properties, methods, enumeration variants, equality, hashing, `__int__` and
`__len__`), with every type left as `Incomplete`. It is a starting point
for python/kelo/ext/<submodule>.pyi, whose types are written by hand;
tools/stub_docs.py then writes in the docstrings.
"""

import inspect
import sys

import kelo.ext

DISALLOW_INSTANTIATION = 1 << 7


def params(sig, drop_first):
    out = []
    items = list(sig.parameters.values())
    if drop_first:
        items = items[1:]
    for p in items:
        text = f"{p.name}: Incomplete"
        if p.default is not inspect.Parameter.empty:
            text += f" = {p.default!r}"
        out.append(text)
    return out


def emit_function(name, func, indent, kind):
    sig = inspect.signature(func)
    pad = " " * indent
    if kind == "static":
        print(f"{pad}@staticmethod")
        args = params(sig, drop_first=False)
    elif kind == "method":
        args = ["self", *params(sig, drop_first=True)]
    else:
        args = params(sig, drop_first=False)
    print(f"{pad}def {name}({', '.join(args)}) -> Incomplete: ...")


def emit_class(cls):
    print("@final")
    print(f"class {cls.__name__}:")
    body = vars(cls)
    if not cls.__flags__ & DISALLOW_INSTANTIATION:
        args = ["cls", *params(inspect.signature(cls), drop_first=False)]
        print(f"    def __new__({', '.join(args)}) -> {cls.__name__}: ...")
    for name, value in body.items():
        if isinstance(value, cls):
            print(f"    {name}: ClassVar[{cls.__name__}]")
    for name, value in body.items():
        if name.startswith("_") or isinstance(value, cls):
            continue
        if isinstance(value, staticmethod):
            emit_function(name, getattr(cls, name), 4, "static")
        elif type(value).__name__ == "getset_descriptor":
            print("    @property")
            print(f"    def {name}(self) -> Incomplete: ...")
        else:
            emit_function(name, value, 4, "method")
    if "__eq__" in body:
        print("    def __eq__(self, other: object) -> bool: ...")
        print("    def __ne__(self, other: object) -> bool: ...")
        if body.get("__hash__", object) is None:
            print("    __hash__: ClassVar[None]  # type: ignore[assignment]")
    if body.get("__hash__") is not None and "__hash__" in body:
        print("    def __hash__(self) -> int: ...")
    if "__int__" in body:
        print("    def __int__(self) -> int: ...")
    if "__len__" in body:
        print("    def __len__(self) -> int: ...")
    print()


def main(name):
    module = getattr(kelo.ext, name)
    print("from _typeshed import Incomplete")
    print("from typing import ClassVar, final")
    print()
    print(f"__all__ = {module.__all__!r}")
    print()
    for item in module.__all__:
        obj = getattr(module, item)
        if isinstance(obj, type):
            emit_class(obj)
        else:
            emit_function(item, obj, 0, "function")


if __name__ == "__main__":
    main(sys.argv[1])
