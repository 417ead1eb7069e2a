"""The runtime: runs a checked pipeline and keeps every element's execution
contract. `Element` is the base class of element implementations; `run` and
`start` run a description file or a `Pipeline`; `RunReport` says how it
ended, with every element's counters."""

from .element import Element, NativePassthrough, Rejected
from .running import ElementStats, RunReport, Running, VirtualClock, run, start

__all__ = ["Element", "ElementStats", "NativePassthrough", "Rejected", "RunReport", "Running",
           "VirtualClock", "run", "start"]
