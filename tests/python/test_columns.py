"""kelo.columns and kelo.add_objects: arrays out, arrays in, through the buffer protocol (memoryviews and
array.array; numpy, where installed, takes the columns without a copy and its arrays go in)."""

import array
import struct

import pytest

import kelo
from kelo import io
from kelo.ext.data import (PyBoundingBox, PyClassId, PyCoordinateSpace, PyDetectedObject,
                           PyMetadata, PyObjectId, PyTimestamp, PyTrack, PyTrackId, PyTrackState)

try:
    import numpy as np
except ImportError:  # the memoryview tests still run
    np = None

def floats(rows, cols=4, code="f"):
    """A C-contiguous rows x cols memoryview of float32 ('f') or float64 ('d')."""
    flat = array.array(code, [float(i) for i in range(rows * (cols or 1))])
    return memoryview(flat).cast("B").cast(code, (rows, cols) if cols else (rows,))


def row(ids, i):
    """Row i of an N x 16 id column, as bytes."""
    return ids.tobytes()[16 * i:16 * i + 16]


def uuid_bytes(ident):
    return bytes.fromhex(ident.uuid().replace("-", ""))


def detections():
    cls, md = PyClassId.new(), PyMetadata()
    for i, (label, conf) in enumerate([("car", 0.5), (None, None), ("person", 0.25), ("car", 1)]):
        o = PyDetectedObject(PyObjectId.new(), PyBoundingBox(i, i + 0.5, 2, 3))
        if label:
            o = o.with_label(label).with_class_id(cls)
        if conf is not None:
            o = o.with_confidence(conf)
        md.add_object(o)
    return md, cls


def test_columns_of_one_metadata():
    md, cls = detections()
    c = kelo.columns(md)
    assert (c.boxes.format, c.boxes.shape, c.boxes.c_contiguous, c.boxes.tolist()[2]) == \
        ("f", (4, 4), True, [2.0, 2.5, 2.0, 3.0])
    assert (repr(c.confidence.tolist()), c.labels, c.label_codes.tolist()) == \
        ("[0.5, nan, 0.25, 1.0]", ["car", "person"], [0, -1, 1, 0])
    assert (c.class_ids.shape, c.class_ids.format, row(c.class_ids, 0), row(c.class_ids, 1)) == \
        ((4, 16), "B", uuid_bytes(cls), bytes(16))
    assert ([row(c.object_ids, i) for i in range(4)], c.frame_index, c.tracks.frame_index) == \
        ([uuid_bytes(o.id) for o in md.objects], None, None)


def test_columns_of_a_list_and_of_nothing():
    md, _ = detections()
    c, empty = kelo.columns([md, PyMetadata(), md]), kelo.columns([])
    assert (c.frame_index.tolist(), c.labels, empty.boxes.shape, empty.labels, empty.tracks.ids.shape) == \
        ([0] * 4 + [2] * 4, ["car", "person"], (0, 4), [], (0, 16))
    pytest.raises(TypeError, kelo.columns, [md, 5]).match(r"metadata\[1\] is not a PyMetadata")


def test_track_columns_carry_the_last_box_of_an_object_naming_them():
    tid, other = PyTrackId.new(), PyTrackId.new()
    md = PyMetadata()
    for t, state in ((tid, PyTrackState.Confirmed), (other, PyTrackState.Lost)):
        md.add_track(PyTrack(t, 1, 2, PyTimestamp.from_nanos(1), PyTimestamp.from_nanos(2), state))
    d = io.to_dict(md)
    for i in range(3):
        obj = io.to_dict(PyDetectedObject(PyObjectId.new(), PyBoundingBox(i, 0, 1, 1)))
        obj["related"] = [str(tid.uuid())] if i < 2 else []
        d["objects"].append({k: v for k, v in obj.items() if k not in ("schema", "type")})
    t = kelo.columns(io.from_dict(d)).tracks
    assert (t.states.tolist(), row(t.ids, 0), repr(t.last_boxes.tolist())) == \
        ([1, 2], uuid_bytes(tid), "[[1.0, 0.0, 1.0, 1.0], [nan, nan, nan, nan]]")


def test_the_native_parts_are_named_as_the_columns():
    parts = kelo._native.columns([PyMetadata()])
    assert (type(parts).__match_args__, type(parts.tracks).__match_args__) == \
        (kelo.Columns._fields, kelo.TrackColumns._fields)


def test_add_objects_from_buffers_round_trips_through_columns():
    md, cls = PyMetadata(), PyClassId.new()
    class_ids = bytearray(uuid_bytes(cls) + bytes(16) * 2)
    conf = memoryview(array.array("d", [0.75, float("nan"), 1.0]))
    kelo.add_objects(md, floats(3, code="d"), conf, ["a", None, "b"],
                     memoryview(class_ids).cast("B", (3, 16)), PyCoordinateSpace.normalized())
    objs = md.objects
    assert [(o.label, o.confidence, o.class_id) for o in objs] == [("a", 0.75, cls), (None, None, None),
                                                                    ("b", 1.0, None)]
    assert (objs[1].bbox.x, objs[1].bbox.coordinate_space.kind(), len({o.id for o in objs})) == \
        (4.0, "normalized", 3)
    c, again = kelo.columns(md), PyMetadata()
    kelo.add_objects(again, c.boxes, c.confidence, [c.labels[k] if k >= 0 else None
                                                    for k in c.label_codes.tolist()], c.class_ids)
    c2, names = kelo.columns(again), ("boxes", "label_codes", "class_ids")
    assert [getattr(c2, name).tobytes() for name in names] == [getattr(c, name).tobytes() for name in names]


def test_non_finite_boxes_are_exported_bit_for_bit():
    # -inf, NaNs with payloads, -0.0: made by the constructors (add_objects refuses them);
    # test_io keeps them through the text form and pickling.
    raw, md = struct.pack("<4I", 0xFF800000, 0x7FC00001, 0xFFC00005, 0x80000000), PyMetadata()
    md.add_object(PyDetectedObject(PyObjectId.new(), PyBoundingBox(*struct.unpack("<4f", raw))))
    assert kelo.columns(md).boxes.tobytes() == raw


def box_rows(*rows, code="d"):
    """An N x 4 memoryview of the rows."""
    return memoryview(array.array(code, [v for r in rows for v in r])).cast("B").cast(code, (len(rows), 4))


BAD = [  # keyword arguments beside 2 good boxes, exception, message
    (dict(boxes=floats(2, 5)), ValueError, r"boxes: expected shape \(N, 4\), got \(2, 5\)"),
    (dict(boxes=floats(7, 0)), ValueError, r"boxes: expected shape \(N, 4\) or 4N values, got \(7,\)"),
    (dict(boxes=memoryview(bytes(32)).cast("f", (2, 2, 2))), ValueError,
     r"boxes: expected shape \(N, 4\) or 4N values, got \(2, 2, 2\)"),
    (dict(boxes=memoryview(array.array("i", range(8))).cast("B").cast("i", (2, 4))), ValueError,
     "boxes: expected float32 or float64 values, got format 'i'"),
    (dict(boxes=floats(4, 4)[::2]), ValueError, "boxes: expected a C-contiguous array"),
    (dict(confidence=floats(3, 0)), ValueError, r"confidence: expected shape \(2,\), got \(3,\)"),
    (dict(confidence=floats(2, 1)), ValueError, r"confidence: expected shape \(2,\), got \(2, 1\)"),
    (dict(labels=["a"]), ValueError, "labels: expected 2 labels, one per box, got 1"),
    (dict(class_ids=memoryview(bytes(32))), ValueError, r"class_ids: expected shape \(2, 16\), got \(32,\)"),
    (dict(class_ids=floats(2, 16)), ValueError, "class_ids: expected uint8 values, got format 'f'"),
    (dict(boxes=[[0, 0, 1, 1]]), TypeError, "a bytes-like object is required"),
    (dict(labels=[1, 2]), TypeError, "not an instance of 'str'|'int'"),
    # values: every box finite with a non-negative size, every confidence in [0, 1] or NaN (none)
    (dict(boxes=box_rows([0, 1, 2, 3], [1, 2, -3, 4])), ValueError, r"boxes: row 1, width: -3.0 is negative"),
    (dict(boxes=box_rows([0, 1, 2, -0.5], [1, 2, 3, 4])), ValueError, r"boxes: row 0, height: -0.5 is negative"),
    (dict(boxes=box_rows([0, 1, 2, 3], [float("nan"), 2, 3, 4])), ValueError, r"boxes: row 1, x: nan is not finite"),
    (dict(boxes=array.array("f", [float("nan")] * 8)), ValueError, r"boxes: row 0, x: nan is not finite"),
    (dict(boxes=box_rows([0, float("-inf"), 2, 3], [1, 2, 3, 4], code="f")), ValueError,
     r"boxes: row 0, y: -inf is not finite"),
    (dict(boxes=box_rows([0, 1, float("inf"), 3], [1, 2, 3, 4])), ValueError, r"boxes: row 0, width: inf is not finite"),
    (dict(confidence=memoryview(array.array("f", [0.5, 1.5]))), ValueError, r"confidence: row 1: 1.5 is outside \[0, 1\]"),
    (dict(confidence=memoryview(array.array("d", [-0.25, 0.5]))), ValueError,
     r"confidence: row 0: -0.25 is outside \[0, 1\]"),
    (dict(confidence=memoryview(array.array("d", [float("inf"), 0.5]))), ValueError,
     r"confidence: row 0: inf is outside \[0, 1\]")]


@pytest.mark.parametrize("kwargs,exc,message", BAD)
def test_bad_arrays_name_the_argument_and_add_nothing(kwargs, exc, message):
    md, _ = detections()
    pytest.raises(exc, kelo.add_objects, md, **{"boxes": floats(2), **kwargs}).match(message)
    assert len(md.objects) == 4


def test_a_flat_buffer_of_4n_values_is_n_boxes():
    md = PyMetadata()
    kelo.add_objects(md, array.array("f", [1, 2, 3, 4, 5, 6, 7, 8]), array.array("d", [0.5, float("nan")]))
    assert ([(o.bbox.x, o.bbox.height, o.confidence) for o in md.objects]) == [(1.0, 4.0, 0.5), (5.0, 8.0, None)]
    kelo.add_objects(md, array.array("d"))
    assert len(md.objects) == 2


@pytest.mark.skipif(np is None, reason="numpy is not installed")
def test_numpy_takes_columns_without_a_copy_and_gives_arrays():
    md, _ = detections()
    c = kelo.columns(md)
    boxes = np.asarray(c.boxes)
    boxes[0, 0] = 42
    assert (boxes.dtype, boxes.shape, boxes.flags.owndata, c.boxes[0, 0]) == (np.float32, (4, 4), False, 42)
    keep = np.asarray(c.confidence) > 0.3  # a filter as one array expression
    out = PyMetadata()
    kelo.add_objects(out, boxes[keep], np.asarray(c.confidence)[keep],
                     [c.labels[k] for k in np.asarray(c.label_codes)[keep]])
    assert [o.label for o in out.objects] == ["car", "car"]
    with pytest.raises(ValueError, match="expected float32 or float64 values, got format 'e'"):
        kelo.add_objects(out, np.zeros((1, 4), np.float16))


def test_metadata_is_borrowed_exclusively_while_objects_are_added():
    md, _ = detections()

    class Labels:  # reads the metadata back while add_objects holds it
        def __len__(self):
            return 2

        def __getitem__(self, i):
            kelo.columns(md)

    with pytest.raises(RuntimeError, match="Already mutably borrowed"):
        kelo.add_objects(md, floats(2), labels=Labels())
    assert len(md.objects) == 4
