"""A small tour of kelo.ext: the data a perception pipeline passes around.

Run after a development build:  PYTHONPATH=python python3 examples/pipeline.py
"""

from kelo.ext.data import (
    PyBoundingBox,
    PyColorRange,
    PyColorSpace,
    PyCoordinateSpace,
    PyDType,
    PyFrame,
    PyFrameRate,
    PyPixelFormat,
    PyPoint2D,
    PyPolygon,
    PySourceInfo,
    PySourceKind,
    PyStream,
    PyStreamCapabilities,
    PyStreamId,
    PyTensorLayout,
    PyTimestamp,
    PyVideoFormat,
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

    # The camera as a stream, and one of its frames.
    source = PySourceInfo("cam0", PySourceKind.Camera, uri="rtsp://10.0.0.7/main", name="gate")
    caps = PyStreamCapabilities(live=True, hardware_timestamps=True)
    live = PyStream(source, video).with_capabilities(caps)
    print(live, live.source, live.source.kind, live.source.uri, live.capabilities)
    frame = PyFrame(live.id, 0, PyTimestamp.from_nanos(0), live.format).with_duration_ns(33_366_667)
    print(frame, "duration_ns", frame.duration_ns, "buffer", frame.buffer_id, "metadata", frame.metadata_id)


if __name__ == "__main__":
    main()
