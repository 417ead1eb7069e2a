"""kelo: a perception-pipeline framework on a native core.

The main names are here: `Pipeline` and `ElementType` to write a pipeline in
Python, `load` and `check` for description files, `columns` and
`add_objects` for per-frame results in bulk, `io` for their text form,
`pixels` for the pixels of a frame (`kelo.elements` holds the built-in
elements and their pixel store), and `run` and `start` to run a pipeline of
`Element` implementations.
"""

import importlib.machinery as _machinery
import importlib.util as _util
import sys as _sys

from . import ext

# The extension attaches its submodules as attributes; registering them here
# under their qualified names makes dotted imports such as
# `from kelo.ext.data import PyStreamId` resolve.
for _name in ext.__all__:
    _sys.modules[f"{__name__}.ext.{_name}"] = getattr(ext, _name)
del _name


def _load_native() -> None:
    """Loads kelo._native from kelo.ext's own file, which holds both modules
    (one copy of the core per process), and registers it before anything
    imports it."""
    name = f"{__name__}._native"
    loader = _machinery.ExtensionFileLoader(name, ext.__file__)
    spec = _util.spec_from_loader(name, loader)
    assert spec is not None
    module = _util.module_from_spec(spec)
    _sys.modules[spec.name] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del _sys.modules[spec.name]
        raise


_load_native()
from . import _native  # noqa: E402  (the module just registered, as kelo._native)

from . import io  # noqa: E402  (registers pickling of the data model)
from .checker import check, load  # noqa: E402
from .elements.pixels import pixels  # noqa: E402
from .io.columns import Columns, TrackColumns, add_objects, columns  # noqa: E402
from .pipeline import ElementType, Pipeline  # noqa: E402
from .runtime import Element, Rejected, RunReport, run, start  # noqa: E402

__version__ = "0.1.0"

__all__ = ["Columns", "Element", "ElementType", "Pipeline", "Rejected", "RunReport", "TrackColumns",
           "__version__", "add_objects", "check", "columns", "ext", "io", "load", "pixels", "run",
           "start"]
