"""Counting lines: a segment in pixel coordinates and which way a moving
point crosses it.

A line runs from its first point A to its second B. A point crosses it
``in`` when it passes from the left of the arrow A->B to its right, as seen
on the screen (image y grows downwards), and ``out`` the other way; a point
exactly on the line counts as being on its left. The crossing must pass
between A and B. The default line of a picture is vertical through its
middle, from bottom to top: moving rightwards is ``in``.
"""

from __future__ import annotations

__all__ = ["DIRECTIONS", "Line", "center", "crossing", "default_line"]

Line = tuple[float, float, float, float]

DIRECTIONS = ("in", "out")


def default_line(width: int, height: int) -> Line:
    return (width / 2, float(height), width / 2, 0.0)


def center(box: tuple[float, float, float, float]) -> tuple[float, float]:
    """The middle of an (x, y, width, height) box."""
    x, y, w, h = box
    return x + w / 2, y + h / 2


def _side(line: Line, p: tuple[float, float]) -> float:
    ax, ay, bx, by = line
    return (bx - ax) * (p[1] - ay) - (by - ay) * (p[0] - ax)


def crossing(line: Line, p: tuple[float, float], q: tuple[float, float]) -> str | None:
    """``in``, ``out`` or None for a point moving from `p` to `q`."""
    sp, sq = _side(line, p), _side(line, q)
    if (sp > 0) == (sq > 0):
        return None
    # Where p->q meets the line's extent: the sides of A and B seen from p->q.
    ax, ay, bx, by = line
    dx, dy = q[0] - p[0], q[1] - p[1]
    sa = dx * (ay - p[1]) - dy * (ax - p[0])
    sb = dx * (by - p[1]) - dy * (bx - p[0])
    if (sa > 0 and sb > 0) or (sa < 0 and sb < 0):
        return None
    return "in" if sq > 0 else "out"
