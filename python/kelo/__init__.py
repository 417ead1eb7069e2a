"""kelo: the native core of a perception-pipeline framework."""

import sys

from . import ext

# The extension attaches its submodules as attributes; registering them here
# under their qualified names makes dotted imports such as
# `from kelo.ext.data import PyStreamId` resolve.
for _name in ext.__all__:
    sys.modules[f"{__name__}.ext.{_name}"] = getattr(ext, _name)
del _name

__all__ = ["ext"]
