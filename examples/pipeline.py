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
from kelo.ext.graph import PyElementId, PyElementTypeId, PyPortId
from kelo.ext.provider import (
    PyCapability,
    PyProviderDescriptor,
    PyProviderId,
    PyProviderRegistry,
    PyRequirement,
    PySelectionPolicy,
    PyVersion,
    abi_current_version,
    abi_is_compatible,
    select_provider,
)


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


def providers() -> None:
    # Who implements each element type: a portable CPU provider and a
    # CUDA/TensorRT one that wins on priority where it applies.
    names = ("kelo.decode.h264", "kelo.infer.detect", "kelo.track.iou")
    decode, detect, track = (PyElementTypeId(t) for t in names)
    version = PyVersion(0, 1, 3)
    print("provider ABI", abi_current_version(), "accepts", version, abi_is_compatible(version))
    cpu = (
        PyProviderDescriptor(PyProviderId("native.cpu"), version)
        .with_element_type(decode).with_element_type(detect).with_element_type(track)
        .with_capability(PyCapability.h264()).with_capability(PyCapability.int8())
        .with_priority(10)
    )
    gpu = (
        PyProviderDescriptor(PyProviderId("vendor.tensorrt"), PyVersion(0, 4, 0))
        .with_element_type(decode).with_element_type(detect)
        .with_capability(PyCapability.cuda()).with_capability(PyCapability.fp16())
        .with_capability(PyCapability.custom("accelerator:nvdec"))
        .with_capability(PyCapability.custom("runtime:tensorrt"))
        .with_priority(50)
    )
    registry = PyProviderRegistry()
    registry.register(cpu)
    registry.register(gpu)
    print(registry, "over", ", ".join(names))

    wishes = [
        (decode, [PyRequirement.accelerator("nvdec")], PySelectionPolicy.highest_priority()),
        (detect, [PyRequirement.gpu_memory(2 << 30), PyRequirement.external_runtime("tensorrt")],
         PySelectionPolicy.highest_priority()),
        (detect, [], PySelectionPolicy.manual(PyProviderId("native.cpu"))),
        (track, [PyRequirement.operating_system("Linux")], PySelectionPolicy.first_available()),
        (track, [PyRequirement.cuda_required()], PySelectionPolicy.highest_priority()),
    ]
    for element_type, requirements, policy in wishes:
        try:
            chosen = select_provider(element_type, registry, requirements, policy)
            offers = ", ".join(str(c) for c in chosen.capabilities)
            print(f"{element_type} {requirements} {policy} -> {chosen!r} offering {offers}")
        except ValueError as e:
            print(f"{element_type} {requirements} {policy} -> ValueError: {e}")


if __name__ == "__main__":
    main()
    providers()
