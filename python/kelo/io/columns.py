"""Per-frame results in bulk: columnar views and array ingestion.

`columns(metadata)` reads the objects (and tracks) of a metadata, or of a
list of them, in one native pass into arrays exposed as `memoryview`s:
``numpy.asarray(cols.boxes)`` takes them without a copy. `add_objects`
appends one object per row of a detector's arrays.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import NamedTuple, Optional, Union

from .. import _native
from ..ext.data import PyCoordinateSpace, PyMetadata

__all__ = ["Columns", "TrackColumns", "add_objects", "columns"]


class TrackColumns(NamedTuple):
    """The tracks, one row each.

    ``ids`` (N x 16 uint8, the UUID bytes), ``states`` (uint8, the
    `PyTrackState` index), ``last_boxes`` (N x 4 float32: the box of the last
    object of the same metadata that names the track among its related
    identifiers, NaN when none does) and ``frame_index`` (int32, the position
    of each track's metadata in the list; None for one metadata).
    """

    ids: memoryview
    states: memoryview
    last_boxes: memoryview
    frame_index: Optional[memoryview]


class Columns(NamedTuple):
    """The objects, one row each.

    ``boxes`` (N x 4 float32: x, y, width, height), ``confidence`` (float32,
    NaN where absent), ``label_codes`` (int32, -1 for no label) indexing
    ``labels`` (the distinct labels, in order of first appearance),
    ``class_ids`` and ``object_ids`` (N x 16 uint8, the UUID bytes, zeros
    where absent), ``frame_index`` (int32, the position of each object's
    metadata in the list; None for one metadata) and ``tracks``.
    """

    boxes: memoryview
    confidence: memoryview
    label_codes: memoryview
    labels: list[str]
    class_ids: memoryview
    object_ids: memoryview
    frame_index: Optional[memoryview]
    tracks: TrackColumns


_new = tuple.__new__


def columns(metadata: Union[PyMetadata, Sequence[PyMetadata]]) -> Columns:
    """The objects and tracks of a metadata, or of a list of them, as arrays."""
    parts = _native.columns(metadata)
    cols: Columns = _new(Columns, (*parts[:7], _new(TrackColumns, parts[7])))
    return cols


def add_objects(
    metadata: PyMetadata,
    boxes: object,
    confidence: Optional[object] = None,
    labels: Optional[Sequence[Optional[str]]] = None,
    class_ids: Optional[object] = None,
    coordinate_space: Optional[PyCoordinateSpace] = None,
) -> None:
    """Append one object per row of ``boxes`` (N x 4, float32 or float64,
    C-contiguous), each with a fresh object id.

    ``confidence``: N float32/float64 values (NaN: no confidence);
    ``labels``: N texts or None; ``class_ids``: N x 16 uint8 (a zero row: no
    class); ``coordinate_space`` applies to every box (pixel when omitted).
    Bad layouts, shapes or lengths raise `ValueError` naming the argument, and
    then nothing is appended.
    """
    _native.add_objects(metadata, boxes, confidence, labels, class_ids, coordinate_space)
