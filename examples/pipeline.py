"""A small tour of kelo.ext: the data a perception pipeline passes around.

Run after a development build:  PYTHONPATH=python python3 examples/pipeline.py
"""

from kelo.ext.data import (
    PyBoundingBox,
    PyColorRange,
    PyColorSpace,
    PyCoordinateSpace,
    PyDType,
    PyFrameRate,
    PyPixelFormat,
    PyPoint2D,
    PyPolygon,
    PyStreamId,
    PyTensorLayout,
    PyTimestamp,
    PyVideoFormat,
)
from kelo.ext.execution import (
    PyBatchingPolicy,
    PyConcurrency,
    PyExecutionContract,
    PyInputRelation,
    PyMissingInputBehavior,
    PyOverflowPolicy,
)
from kelo.ext.graph import PyElementId, PyPortId


def main() -> None:
    # Identities: typed UUIDs that never compare equal across kinds.
    stream = PyStreamId.new()
    same = PyStreamId.from_str(str(stream).upper())
    print("stream", stream, "round-trips:", stream == same)
    decoder, detector = PyElementId.new(), PyElementId.new()
    frames_out = PyPortId.new()
    print("elements", decoder, detector, "port", frames_out)

    # The video a camera delivers: 1080p NV12 at 30000/1001 fps, BT.709.
    rate = PyFrameRate(30000, 1001)
    video = (
        PyVideoFormat(1920, 1080, PyPixelFormat.nv12())
        .with_color_space(PyColorSpace.bt709())
        .with_color_range(PyColorRange.Limited)
        .with_frame_rate(rate)
    )
    print(video, video.color_space, video.color_range, video.frame_rate, f"{rate.as_f64():.3f} fps")

    # Frame timing: presentation times of the first frames, with decode times.
    for sequence in range(3):
        pts = PyTimestamp.from_secs_f64(sequence * rate.denominator / rate.numerator)
        ts = pts.with_dts(max(pts.monotonic_ns - 33_366_667, 0))
        print(f"frame {sequence}: {ts!r} dts_ns={ts.dts_ns}")

    # What a detector's tensor input looks like.
    print("detector input:", PyDType.Float32, PyTensorLayout.nchw())

    # Detections in pixel space, and a region in normalized space.
    box = PyBoundingBox(100.5, 40, 220, 380)
    print(box, "right", box.right(), "bottom", box.bottom(), "in", box.coordinate_space)
    roi = PyPolygon([PyPoint2D(0.1, 0.1), PyPoint2D(0.9, 0.1), PyPoint2D(0.5, 0.9)])
    print(roi, roi.exterior, PyCoordinateSpace.normalized())

    # How each element type wants to be run. The decoder keeps state between
    # frames, so one execution at a time, in order; the detector is stateless,
    # batches frames, may reorder and skips a frame that fails; it matches its
    # frame input with the camera's calibration input by timestamp, and drops
    # the oldest frames when it falls behind.
    frames_in, calibration_in = PyPortId.new(), PyPortId.new()
    contracts = {
        "decoder": PyExecutionContract().with_concurrency(PyConcurrency.serialized()),
        "detector": PyExecutionContract.permissive()
        .with_concurrency(PyConcurrency.limited(4))
        .with_batching(PyBatchingPolicy(8, 5_000_000))
        .with_input_relation(PyInputRelation.timestamp_matched(1_000_000, PyMissingInputBehavior.Proceed))
        .with_join_ports([frames_in, calibration_in])
        .with_overflow(PyOverflowPolicy.DropOldest),
    }
    for name, contract in contracts.items():
        print(f"{name}: {contract!r} input={contract.input_relation} delivery={contract.delivery}",
              f"overflow={contract.overflow} failure={contract.failure_policy} batching={contract.batching}")


if __name__ == "__main__":
    main()
