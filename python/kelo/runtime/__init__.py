"""The runtime: runs a checked pipeline and keeps every element's execution
contract. `Element` is the base class of element implementations."""

from .element import Element, Rejected

__all__ = ["Element", "Rejected"]
