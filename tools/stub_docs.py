"""Writes each class's and callable's doc from the built modules into their stubs.

Usage (from the repository root, after a build):
  PYTHONPATH=python python3 tools/stub_docs.py           # rewrite the stubs
  PYTHONPATH=python python3 tools/stub_docs.py --check   # exit 1 if one is stale

The types in python/kelo/ext/<submodule>.pyi and python/kelo/_native.pyi are
written by hand; their docstrings are not: every class, function, method and
property whose runtime object carries a doc gets that doc (the part after the
text signature, as `__doc__` gives it) as its docstring, so that editors show
it on hover. Private and special members keep no docstring; their runtime docs
are the interpreter's generic slot texts. Running the tool twice changes
nothing.
"""

import ast
import importlib
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
STUBS = {
    "kelo.ext.data": "python/kelo/ext/data.pyi",
    "kelo.ext.graph": "python/kelo/ext/graph.pyi",
    "kelo.ext.execution": "python/kelo/ext/execution.pyi",
    "kelo.ext.provider": "python/kelo/ext/provider.pyi",
    "kelo._native": "python/kelo/_native.pyi",
}


def docstring(doc, indent):
    """`doc` as a triple-quoted literal whose continuation lines sit at `indent`."""
    text = doc.strip().replace("\\", "\\\\").replace('"""', '\\"""')
    if text.endswith('"'):
        text = text[:-1] + '\\"'
    lines = text.splitlines()
    if len(lines) == 1:
        return f'"""{text}"""'
    pad = " " * indent
    rest = "\n".join(pad + line if line else "" for line in lines[1:])
    return f'"""{lines[0]}\n{rest}\n{pad}"""'


def runtime_doc(owner, name):
    if name.startswith("_"):
        return None
    obj = getattr(owner, name, None)
    doc = getattr(obj, "__doc__", None) if obj is not None else None
    if isinstance(obj, type) or callable(obj) or type(obj).__name__ == "getset_descriptor":
        return doc if isinstance(doc, str) and doc.strip() else None
    return None


def members(tree, module):
    """(node, doc) for every stub class and def the runtime documents."""
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            cls = getattr(module, node.name, None)
            yield node, runtime_doc(module, node.name)
            if cls is None:
                continue
            for item in node.body:
                if isinstance(item, ast.FunctionDef):
                    # On the class, a property is its descriptor, with its doc.
                    yield item, runtime_doc(cls, item.name)
        elif isinstance(node, ast.FunctionDef):
            yield node, runtime_doc(module, node.name)


def has_docstring(node):
    first = node.body[0]
    return (isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant)
            and isinstance(first.value.value, str))


def offset(lines, lineno, col):
    """The character offset of ast's (1-based line, UTF-8 byte column)."""
    column = len(lines[lineno - 1].encode()[:col].decode())
    return sum(len(line) for line in lines[:lineno - 1]) + column


def strip(text):
    """The stub without any docstring: every def body back to `...`."""
    tree = ast.parse(text)
    lines = text.splitlines(keepends=True)
    edits = []
    for node in ast.walk(tree):
        if not isinstance(node, (ast.ClassDef, ast.FunctionDef)) or not has_docstring(node):
            continue
        first = node.body[0]
        start = offset(lines, first.lineno, first.col_offset)
        end = offset(lines, first.end_lineno, first.end_col_offset)
        if isinstance(node, ast.FunctionDef) and len(node.body) == 1:
            # `def f() -> T:\n    """doc"""` becomes `def f() -> T: ...`.
            colon = text.rindex(":", 0, start)
            edits.append((colon + 1, end, " ..."))
        else:
            line_start = text.rindex("\n", 0, start) + 1
            line_end = text.index("\n", end) + 1
            edits.append((line_start, line_end, ""))
    for start, end, new in sorted(edits, reverse=True):
        text = text[:start] + new + text[end:]
    return text


def document(text, module):
    """The stub with every documented member's docstring in place."""
    text = strip(text)
    tree = ast.parse(text)
    lines = text.splitlines(keepends=True)
    edits = []
    for node, doc in members(tree, module):
        if doc is None:
            continue
        indent = node.col_offset + 4
        literal = docstring(doc, indent)
        first = node.body[0]
        if isinstance(node, ast.FunctionDef):
            # `def f() -> T: ...` becomes `def f() -> T:\n    """doc"""`.
            start = offset(lines, first.lineno, first.col_offset)
            end = offset(lines, first.end_lineno, first.end_col_offset)
            colon = text.rindex(":", 0, start)
            edits.append((colon + 1, end, "\n" + " " * indent + literal))
        else:
            # Above the first member, decorators included.
            lineno = min([first.lineno] + [d.lineno for d in getattr(first, "decorator_list", [])])
            at = offset(lines, lineno, 0)
            edits.append((at, at, " " * indent + literal + "\n"))
    for start, end, new in sorted(edits, reverse=True):
        text = text[:start] + new + text[end:]
    return text


def main(argv):
    check = argv == ["--check"]
    if argv and not check:
        print(__doc__, file=sys.stderr)
        return 2
    stale = []
    for name, stub in STUBS.items():
        path = ROOT / stub
        old = path.read_text()
        new = document(old, importlib.import_module(name))
        if new == old:
            continue
        stale.append(stub)
        if not check:
            path.write_text(new)
    if check and stale:
        print("stub docs out of date: " + ", ".join(stale)
              + "; run PYTHONPATH=python python3 tools/stub_docs.py", file=sys.stderr)
        return 1
    for stub in stale:
        print(f"updated {stub}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
