# Type stubs for the compiled extension `kelo.ext` (python/kelo/ext.abi3.so).
# This directory holds stubs only: with no __init__.py in it, the import
# system still loads the extension module that sits next to it.

from . import data as data, execution as execution, graph as graph, provider as provider

__all__ = ["data", "graph", "provider", "execution"]

class InternalError(BaseException):
    """An internal failure of kelo.ext: a broken invariant or a failing
    operating-system service."""
