"""kelo: a perception-pipeline framework on a native core.

The main names are here: `Pipeline` and `ElementType` to write a pipeline in
Python, `load` and `check` for description files, `columns` and
`add_objects` for per-frame results in bulk, `io` for their text form, and
`run` and `start` to run a pipeline of `Element` implementations.
"""

import sys as _sys

from . import ext

# The extension attaches its submodules as attributes; registering them here
# under their qualified names makes dotted imports such as
# `from kelo.ext.data import PyStreamId` resolve.
for _name in ext.__all__:
    _sys.modules[f"{__name__}.ext.{_name}"] = getattr(ext, _name)
del _name

from . import io  # noqa: E402  (registers pickling of the data model)
from .checker import check, load  # noqa: E402
from .io.columns import Columns, TrackColumns, add_objects, columns  # noqa: E402
from .pipeline import ElementType, Pipeline  # noqa: E402
from .runtime import Element, Rejected, RunReport, run, start  # noqa: E402

__version__ = "0.1.0"

__all__ = ["Columns", "Element", "ElementType", "Pipeline", "Rejected", "RunReport", "TrackColumns",
           "__version__", "add_objects", "check", "columns", "ext", "io", "load", "run", "start"]
