"""A small tour of kelo.ext: the data a perception pipeline passes around.

Run after a development build:  PYTHONPATH=python python3 examples/pipeline.py

Pictures of pipelines come from description files: `kelo check --draw`
(scripts/example.sh draws examples/cameras*.toml).
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
    PyGraphBuilder,
    PyPort,
    PyPortId,
    validate_graph,
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
    PyDeliveryMode,
    PyEosPolicy,
    PyExecutionContract,
    PyFailurePolicy,
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

def pipeline() -> None:
    # The pipeline itself: a camera, an H.264 decoder, pre-processing, a
    # detector, a tracker and an analytics sink. Each port says what flows.
    nv12 = PyContractSpec().with_pixel_format(PyPixelFormat.nv12())
    letterboxed = PyContractSpec().with_dtype(PyDType.Float32).with_shape([1, 3, 640, 640])
    config = PyConfig()
    config.set("model", "yolo-n")
    config.set("confidence", "0.25")
    ports = {}

    def element(name, type_id, kind, inputs=(), outputs=()):
        e = PyElement(PyElementId.new(), PyElementTypeId(type_id), name, kind)
        for port_name, contract in inputs:
            port = PyPort.input(port_name, contract)
            ports[f"{name}.{port_name}"], e = port.id, e.with_input(port)
        for port_name, contract in outputs:
            port = PyPort.output(port_name, contract)
            ports[f"{name}.{port_name}"], e = port.id, e.with_output(port)
        return e

    source, operator, sink = PyElementKind.Source, PyElementKind.Operator, PyElementKind.Sink
    h264 = PyDataContract.custom("h264")
    elements = [
        element("camera", "kelo.source.rtsp", source, outputs=[("packets", h264)]),
        element("decoder", "kelo.decode.h264", operator, [("packets", h264)],
                [("frames", PyDataContract.frame_with(nv12.with_dimensions(1920, 1080)))]),
        element("preprocess", "kelo.transform.letterbox", operator, [("frames", PyDataContract.frame_with(nv12))],
                [("tensor", PyDataContract.tensor_with(letterboxed))]),
        element("detector", "kelo.infer.detect", operator, [("tensor", PyDataContract.tensor_with(letterboxed))],
                [("detections", PyDataContract.metadata_content("detections"))]).with_config(config),
        element("tracker", "kelo.track.iou", operator, [("detections", PyDataContract.metadata_content("detections"))],
                [("tracks", PyDataContract.metadata_content("tracks"))]),
        element("analytics", "kelo.sink.analytics", sink, [("tracks", PyDataContract.metadata()),
                ("zones", PyDataContract.event()), ("telemetry", PyDataContract.metadata_content("klv"))]),
    ]
    print("pipeline:")
    for e in elements:
        sides = [", ".join(f"{p.name}: {p.contract}" for p in ps) for ps in (e.inputs, e.outputs)]
        config = f" config={e.config.to_dict()}" if len(e.config) else ""
        print(f"  {e.name:<10} {e.type_id!s:<24} in [{sides[0]}] out [{sides[1]}]{config}")

    # Every builder step returns a new builder, so `chain` stays the common
    # prefix of the graph below and of the broken one after it.
    chain = PyGraphBuilder()
    for e in elements:
        chain = chain.add_element(e)
    for a, b in (("camera.packets", "decoder.packets"), ("decoder.frames", "preprocess.frames"),
                 ("preprocess.tensor", "detector.tensor"), ("detector.detections", "tracker.detections"),
                 ("tracker.tracks", "analytics.tracks")):
        chain = chain.connect(ports[a], ports[b])
    # The tracker's provider adds its zone-event port only at run time, and the
    # camera emits a KLV telemetry pad once it finds one in the stream.
    graph = (chain.connect_late(PyPortId.new(), ports["analytics.zones"])
             .connect_dynamic("camera", "klv", ports["analytics.telemetry"]).build())
    report = graph.validate()
    dynamic = graph.edges[-1]
    print(graph, report, f"dynamic pad {dynamic.source_element}/{dynamic.source_pad}:", dynamic)
    for warning in report.warnings:
        print("  warning:", warning)

    # The same prefix with four mistakes: frames straight into the detector's
    # tensor input, an edge drawn backwards (which also closes a loop), a port
    # that no element has, and a dynamic pad on a misspelt element.
    broken = (chain.connect(ports["decoder.frames"], ports["detector.tensor"])
              .connect(ports["analytics.tracks"], ports["tracker.tracks"])
              .connect(PyPortId.new(), ports["tracker.detections"])
              .connect_dynamic("detektor", "crops", ports["analytics.tracks"])
              .build())
    report = validate_graph(broken)
    print(broken, report)
    for error in report.errors:
        print(f"  {error.kind()}: {error}")


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
    # How each element type of the pipeline wants to be run. The camera takes
    # the defaults (in order). The decoder and the tracker keep state between
    # inputs: one execution at a time, in order; a tracker skips a bad input.
    # Pre-processing is stateless. The detector batches frames, may reorder,
    # skips a frame that fails and drops the oldest when it falls behind; it
    # matches frames with calibration by timestamp. The analytics sink needs
    # only the latest zone events beside its tracks, and ends when any input
    # ends.
    frames_in, calibration_in = PyPortId.new(), PyPortId.new()
    contracts = {
        "kelo.source.rtsp": PyExecutionContract(),
        "kelo.decode.h264": PyExecutionContract().with_concurrency(PyConcurrency.serialized()),
        "kelo.transform.letterbox": PyExecutionContract.permissive(),
        "kelo.infer.detect": PyExecutionContract.permissive()
        .with_concurrency(PyConcurrency.limited(4))
        .with_batching(PyBatchingPolicy(8, 5_000_000))
        .with_input_relation(PyInputRelation.timestamp_matched(1_000_000, PyMissingInputBehavior.Proceed))
        .with_join_ports([frames_in, calibration_in])
        .with_overflow(PyOverflowPolicy.DropOldest),
        "kelo.track.iou": PyExecutionContract()
        .with_concurrency(PyConcurrency.serialized())
        .with_failure_policy(PyFailurePolicy.Skip),
        "kelo.sink.analytics": PyExecutionContract()
        .with_input_relation(PyInputRelation.latest_value())
        .with_delivery(PyDeliveryMode.Latest)
        .with_eos_policy(PyEosPolicy.AnyInput),
    }
    for name, contract in contracts.items():
        print(f"{name:<24} {contract!r} input={contract.input_relation} failure={contract.failure_policy}",
              f"overflow={contract.overflow} batching={contract.batching}")


if __name__ == "__main__":
    main()
    pipeline()
    providers()
