"""kelo: the native core of a perception-pipeline framework."""

import sys

from . import ext

# The extension attaches its submodules as attributes; registering them here
# under their qualified names makes dotted imports such as
# `from kelo.ext.data import PyStreamId` resolve.
for _name in ext.__all__:
    sys.modules[f"{__name__}.ext.{_name}"] = getattr(ext, _name)
del _name

from . import io  # noqa: E402  (registers pickling of the data model)
from .columnar import Columns, TrackColumns, add_objects, columns  # noqa: E402

__all__ = ["Columns", "TrackColumns", "add_objects", "columns", "ext", "io"]
