"""Per-frame results in bulk: columnar views and array ingestion.

`columns(metadata)` reads the objects (and tracks) of a metadata, or of a
list of them, in one native pass into arrays exposed as `memoryview`s:
``numpy.asarray(cols.boxes)`` takes them without a copy. `add_objects`
appends one object per row of a detector's arrays.
"""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, NamedTuple, Optional, Union

from .. import _native
from ..ext.data import PyCoordinateSpace, PyMetadata

if TYPE_CHECKING:
    # Whatever exports the buffer protocol (bytes, memoryview, array.array,
    # numpy arrays), and not a list of lists.
    from .._native import _Array

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
    p = _native.columns(metadata)
    tracks: TrackColumns = _new(TrackColumns, p.tracks)
    cols: Columns = _new(Columns, (p.boxes, p.confidence, p.label_codes, p.labels, p.class_ids,
                                   p.object_ids, p.frame_index, tracks))
    return cols


def add_objects(
    metadata: PyMetadata,
    boxes: _Array,
    confidence: Optional[_Array] = None,
    labels: Optional[Sequence[Optional[str]]] = None,
    class_ids: Optional[_Array] = None,
    coordinate_space: Optional[PyCoordinateSpace] = None,
) -> None:
    """Append one object per row of ``boxes`` (N x 4, or a flat buffer of
    4N values; float32 or float64, C-contiguous), each with a fresh object
    id. Every box must be finite with a non-negative width and height.

    ``confidence``: N float32/float64 values in [0, 1] (NaN: no confidence);
    ``labels``: N texts or None; ``class_ids``: N x 16 uint8 (a zero row: no
    class); ``coordinate_space`` applies to every box (pixel when omitted).
    Bad layouts, shapes, lengths or values raise `ValueError` naming the
    argument (and the row and column of a bad value), and then nothing is
    appended.
    """
    _native.add_objects(metadata, boxes, confidence, labels, class_ids, coordinate_space)
