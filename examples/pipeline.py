"""A small tour of kelo.ext: the data a perception pipeline passes around.

Run after a development build:  PYTHONPATH=python python3 examples/pipeline.py
"""

from kelo.ext.data import (
    PyAttributeValue,
    PyBoundingBox,
    PyClassId,
    PyClassification,
    PyColorRange,
    PyColorSpace,
    PyCoordinateSpace,
    PyDetectedObject,
    PyDType,
    PyEmbedding,
    PyEvent,
    PyEventType,
    PyFrame,
    PyFrameRate,
    PyMetadata,
    PyModelReference,
    PyObjectId,
    PyPixelFormat,
    PyPoint2D,
    PyPolygon,
    PySourceInfo,
    PySourceKind,
    PyStream,
    PyStreamCapabilities,
    PyStreamId,
    PyTensor,
    PyTensorLayout,
    PyTimestamp,
    PyTrack,
    PyTrackId,
    PyTrackState,
    PyVideoFormat,
)
from kelo.ext.graph import (
    PyConfig,
    PyContractSpec,
    PyDataContract,
    PyElement,
    PyElementId,
    PyElementKind,
    PyElementTypeId,
    PyPort,
    PyPortId,
)
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
from kelo.ext.execution import (
    PyBatchingPolicy,
    PyConcurrency,
    PyExecutionContract,
    PyInputRelation,
    PyMissingInputBehavior,
    PyOverflowPolicy,
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
    batch = PyTensor(PyDType.Float32, [1, 3, 640, 640], name="images", layout=PyTensorLayout.nchw())
    print(batch, batch.numel(), "elements in buffer", batch.buffer_id)
    # Shapes are never validated; the element count is exact however large.
    print("huge:", PyTensor(PyDType.UInt8, [2**40] * 3).numel())

    # Detections in pixel space, and a region in normalized space.
    box = PyBoundingBox(100.5, 40, 220, 380)
    print(box, "right", box.right(), "bottom", box.bottom(), "in", box.coordinate_space)
    roi = PyPolygon([PyPoint2D(0.1, 0.1), PyPoint2D(0.9, 0.1), PyPoint2D(0.5, 0.9)])
    print(roi, roi.exterior, PyCoordinateSpace.normalized())

    # What the detector reports for that box: a labelled object with typed
    # attributes, a re-identification embedding and a scene classification.
    person = PyClassId.new()
    detection = (
        PyDetectedObject(PyObjectId.new(), box)
        .with_class_id(person)
        .with_label("person")
        .with_confidence(0.87)
        .with_attribute("occluded", PyAttributeValue.of_bool(False))
        .with_attribute("height_px", PyAttributeValue.of_int(380))
        .with_attribute("seen_for", PyAttributeValue.of_duration_ns(1_500_000_000))
    )
    attrs = detection.attributes
    print(detection, f"confidence={detection.confidence:.3f}", attrs, attrs.keys())
    print("  seen_for", attrs.get("seen_for"), attrs.get("seen_for").as_duration_ns(), "ns")
    reid = PyEmbedding(PyTensor(PyDType.Float16, [512]), "reid").with_model(
        PyModelReference("osnet_x1_0").with_version("2.1")
    )
    print(reid, reid.tensor, reid.model, reid.model.version)
    print(PyClassification(PyClassId.new(), 0.0625, label="indoor"))
    # A camera, a decoder, a detector and a log: typed ports say what flows.
    nv12 = PyContractSpec().with_pixel_format(PyPixelFormat.nv12()).with_dimensions(1920, 1080)
    tensor = PyContractSpec().with_dtype(PyDType.Float32).with_shape([1, 3, 640, 640])
    config = PyConfig()
    config.set("model", "yolo-n")
    config.set("confidence", "0.25")

    def element(type_id: str, name: str, kind: PyElementKind) -> PyElement:
        return PyElement(PyElementId.new(), PyElementTypeId(type_id), name, kind)

    source = element("kelo.source.rtsp", "camera", PyElementKind.Source)
    source = source.with_output(PyPort.output("packets", PyDataContract.custom("h264")))
    decoder = (
        element("kelo.decode.h264", "decoder", PyElementKind.Operator)
        .with_input(PyPort.input("packets", PyDataContract.custom("h264")))
        .with_output(PyPort.output("frames", PyDataContract.frame_with(nv12)))
    )
    detector = (
        element("kelo.infer.detect", "detector", PyElementKind.Operator)
        .with_input(PyPort.input("frames", PyDataContract.frame()))
        .with_input(PyPort.input("tensor", PyDataContract.tensor_with(tensor)))
        .with_output(PyPort.output("detections", PyDataContract.metadata_content("detections")))
        .with_config(config)
    )
    sink = element("kelo.sink.log", "log", PyElementKind.Sink)
    sink = sink.with_input(PyPort.input("detections", PyDataContract.metadata()))
    for e in (source, decoder, detector, sink):
        ports = ", ".join(f"{p!r}: {p.contract}" for p in e.all_ports())
        print(f"{e!r} {e.kind} [{ports}] config={e.config.to_dict()}")
    # Which detector inputs can the decoder's frames feed?
    frames = decoder.outputs[0].contract
    for port in detector.inputs:
        print(f"{frames} -> {port.contract}:", frames.is_compatible_with(port.contract))
    scene = PyClassification(PyClassId.new(), 0.0625, label="indoor")
    print(scene)

    # Across frames the tracker follows the person; when it enters a zone the
    # pipeline raises an event. All of it lands in the frame's metadata.
    first, last = PyTimestamp.from_nanos(0), PyTimestamp.from_nanos(66_733_333)
    track = PyTrack(PyTrackId.new(), 0, 2, first, last, PyTrackState.Confirmed)
    entered = PyEvent(stream, last, PyEventType.parse("zones/enter"))
    print(track, track.state, int(track.state), entered, entered.event_type.namespace)
    print("reserved:", PyEventType.parse("eos"), repr(PyEventType.kelo("eos")))
    metadata = PyMetadata()
    metadata.add_object(detection)
    metadata.add_track(track)
    metadata.add_classification(scene)
    metadata.add_embedding(reid)
    metadata.add_event(entered)
    print(metadata, "empty:", metadata.is_empty(), "events:", metadata.events)

    # The camera as a stream, and one of its frames.
    source = PySourceInfo("cam0", PySourceKind.Camera, uri="rtsp://10.0.0.7/main", name="gate")
    caps = PyStreamCapabilities(live=True, hardware_timestamps=True)
    live = PyStream(source, video).with_capabilities(caps)
    print(live, live.source, live.source.kind, live.source.uri, live.capabilities)
    frame = PyFrame(live.id, 0, PyTimestamp.from_nanos(0), live.format).with_duration_ns(33_366_667)
    print(frame, "duration_ns", frame.duration_ns, "buffer", frame.buffer_id, "metadata", frame.metadata_id)

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
    providers()
