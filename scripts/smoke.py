"""Import check for an installed kelo wheel under one interpreter.

Run it with the interpreter under test and PYTHONPATH pointing at the directory
the wheel was installed into; it fails (non-zero exit) on the first problem.
"""

import os
import sys
import uuid


def main() -> int:
    import kelo
    import kelo._native
    import kelo.ext
    from kelo.ext.data import PyStreamId

    ext_file = kelo.ext.__file__
    assert ext_file.endswith("ext.abi3.so"), ext_file
    expected_root = os.environ.get("KELO_SMOKE_ROOT")
    if expected_root:
        root = os.path.realpath(expected_root)
        assert os.path.realpath(ext_file).startswith(root + os.sep), (ext_file, root)

    native_file = kelo._native.__file__
    assert native_file == ext_file, (native_file, ext_file)
    binaries = sorted(f for f in os.listdir(os.path.dirname(ext_file)) if f.endswith(".so"))
    assert binaries == ["ext.abi3.so"], binaries

    names = ["data", "graph", "provider", "execution"]
    assert kelo.ext.__all__ == names, kelo.ext.__all__
    for name in names:
        sub = getattr(kelo.ext, name)
        assert sub.__name__ == name, sub.__name__
        assert sys.modules["kelo.ext." + name] is sub, name

    fresh = PyStreamId.new()
    text = str(fresh)
    parsed = uuid.UUID(text)
    assert str(parsed) == text and parsed.version == 4, text
    again = PyStreamId.from_str(text.upper())
    assert again == fresh and not (again != fresh), text
    assert hash(again) == hash(fresh)
    assert str(again) == text
    assert PyStreamId.new() != fresh

    # The package's own parts over both modules: the shipped schema, arrays
    # through the buffer protocol, pickling.
    import array
    import json
    import pickle

    from kelo import io
    from kelo.ext.data import PyMetadata

    assert "Metadata" in json.loads(io.schema_path.read_text())["$defs"], io.schema_path
    md = PyMetadata()
    kelo.add_objects(md, memoryview(array.array("f", [1, 2, 3, 4])).cast("B").cast("f", (1, 4)))
    assert kelo.columns(md).boxes.tolist() == [[1.0, 2.0, 3.0, 4.0]]
    assert io.to_dict(pickle.loads(pickle.dumps(md))) == io.to_dict(md)

    print(f"abi3 smoke ok: Python {sys.version.split()[0]} ({sys.executable}), {ext_file}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
