"""Assertions and helpers shared by the test modules."""

import io

import pytest

from kelo.cli import main


def raises(exc, fn, *args, msg=None, note=None, **kwargs):
    """Calls fn and checks the exception: its type, its text when `msg` is given, and its notes: exactly
    "while processing '<note>'" when `note` is given, none otherwise. Returns the exception."""
    with pytest.raises(exc) as info:
        fn(*args, **kwargs)
    if msg is not None:
        assert str(info.value) == msg
    assert getattr(info.value, "__notes__", None) == ([f"while processing '{note}'"] if note else note)
    return info.value


def run(*argv):
    """`kelo` with these arguments: (status, what it wrote out, what it wrote to err)."""
    out, err = io.StringIO(), io.StringIO()
    status = main([str(a) for a in argv], out, err)
    return status, out.getvalue(), err.getvalue()
