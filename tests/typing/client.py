"""A small typed client of kelo.ext, checked by `mypy --strict` and run as a script.

It declares a two-stage pipeline (camera source -> detector) with the graph
builder, validates it, reads the validation errors of a broken variant,
makes a frame and fills its metadata, selects a provider for the detector
and declares the detector's execution contract. `assert_type` pins the
types the stubs give; `_misuse` holds calls the stubs must reject, each
with the error code mypy is expected to raise (under --strict an ignore
that is not needed is itself an error, so a stub that accepts the misuse
fails the check). `_misuse` is never called.

    mypy --config-file tests/typing/mypy.ini tests/typing/client.py
    PYTHONPATH=python python3 tests/typing/client.py
"""

from collections.abc import Hashable
from typing import assert_type

from kelo.ext import data, execution, graph, provider
from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassId, PyClassification,
                           PyColorRange, PyDetectedObject, PyDType, PyEmbedding, PyEvent,
                           PyEventType, PyFrame, PyFrameRate, PyMetadata, PyObjectId, PyPixelFormat,
                           PyPoint2D, PySourceInfo, PySourceKind, PyStream, PyStreamCapabilities,
                           PyStreamId, PyTensor, PyTimestamp, PyTrack, PyTrackId, PyTrackState,
                           PyVideoFormat)
from kelo.ext.execution import (PyBatchingPolicy, PyConcurrency, PyControlSignal,
                                PyExecutionContract, PyExecutionState, PyInputRelation,
                                PyMissingInputBehavior, PyOverflowPolicy)
from kelo.ext.graph import (PyConfig, PyContractSpec, PyDataContract, PyEdge, PyElement,
                            PyElementId, PyElementKind, PyElementTypeId, PyGraph, PyGraphBuilder,
                            PyPort, PyValidationReport, validate_graph)
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyProviderRegistry,
                               PyRequirement, PySelectionPolicy, PyVersion, abi_current_version,
                               abi_is_compatible, select_provider)

DETECTOR_TYPE = PyElementTypeId("kelo.infer.detector")


def video_format() -> PyVideoFormat:
    fmt = PyVideoFormat(1920, 1080, PyPixelFormat.nv12()).with_frame_rate(PyFrameRate(30000, 1001))
    assert_type(fmt.frame_rate, PyFrameRate | None)
    assert_type(fmt.color_range, PyColorRange)
    assert fmt.frame_rate is not None and fmt.frame_rate.as_f64() > 29.9
    return fmt


def pipeline(mismatched: bool) -> tuple[PyGraph, PyElement]:
    frames = PyDataContract.frame_with(
        PyContractSpec().with_pixel_format(PyPixelFormat.nv12()).with_dimensions(1920, 1080)
    )
    wanted = (
        PyDataContract.tensor_with(PyContractSpec().with_dtype(PyDType.Float32).with_shape([1, 3]))
        if mismatched
        else PyDataContract.frame()
    )
    out = PyPort.output("frames", frames)
    inp = PyPort.input("image", wanted)
    config = PyConfig()
    config.set("device", "/dev/video0")
    camera = (
        PyElement(PyElementId.new(), PyElementTypeId("kelo.source.v4l2"), "camera", PyElementKind.Source)
        .with_output(out)
        .with_config(config)
    )
    detector = PyElement(PyElementId.new(), DETECTOR_TYPE, "detector", PyElementKind.Operator).with_input(inp)
    builder = PyGraphBuilder().add_element(camera).add_element(detector)
    built: PyGraph = builder.connect(out.id, inp.id).connect_dynamic("camera", "thumbs", inp.id).build()
    assert_type(camera.config.to_dict(), dict[str, str])
    assert_type(built.find_element(camera.id), PyElement | None)
    return built, detector


def check_graphs() -> PyElement:
    good, detector = pipeline(mismatched=False)
    report = good.validate()
    assert report.is_valid(), report.errors
    assert [e.source_pad for e in good.edges] == [None, "thumbs"]
    bad, bad_detector = pipeline(mismatched=True)
    bad.add_edge(PyEdge.late_binding(data_port_id(), bad_detector.inputs[0].id))
    bad_report: PyValidationReport = validate_graph(bad)
    kinds = [error.kind() for error in bad_report.errors]
    assert kinds == ["ContractMismatch"], kinds
    for error in bad_report.errors:
        if error.kind() == "ContractMismatch":
            assert error.message().startswith("contract mismatch on edge "), error.message()
    assert len(bad_report.warnings) == 1
    assert_type(bad_report.warnings, list[str])
    return detector


def data_port_id() -> graph.PyPortId:
    return graph.PyPortId.new()


def frame_with_metadata() -> tuple[PyFrame, PyMetadata]:
    source = PySourceInfo("cam0", PySourceKind.Camera, uri="v4l2:///dev/video0")
    stream = PyStream(source, video_format()).with_capabilities(PyStreamCapabilities(live=True))
    frame = PyFrame(stream.id, 0, PyTimestamp.from_nanos(1_500_000_000), stream.format).with_duration_ns(
        33_366_667
    )
    assert_type(frame.duration_ns, int | None)
    assert frame.stream_id == stream.id and frame.duration_ns == 33_366_667

    person = PyClassId.new()
    box = PyBoundingBox(10.0, 20.0, 64, 128)
    obj = (
        PyDetectedObject(PyObjectId.new(), box)
        .with_class_id(person)
        .with_label("person")
        .with_confidence(0.9)
        .with_attribute("occluded", PyAttributeValue.of_bool(False))
    )
    metadata = PyMetadata()
    metadata.add_object(obj)
    metadata.add_classification(PyClassification(person, 0.75, label="person"))
    t0 = frame.timestamp
    metadata.add_track(PyTrack(PyTrackId.new(), 0, 0, t0, t0, PyTrackState.Tentative))
    metadata.add_event(PyEvent(stream.id, t0, PyEventType.kelo("enter")))
    embedding = PyEmbedding(PyTensor(PyDType.Float32, (1, 128), name="appearance"), name="face")
    metadata.add_embedding(embedding)

    first = metadata.objects[0]
    assert_type(first.confidence, float | None)
    occluded = first.attributes.get("occluded")
    assert occluded is not None and occluded.as_bool() is False
    assert occluded.kind() == "bool" and occluded.as_int() is None
    assert first.bbox.right() == 74.0
    assert len(first.attributes) == 1 and not metadata.is_empty()
    assert [track.state for track in metadata.tracks] == [PyTrackState.Tentative]
    assert {PyEventType.parse("enter"): 1}[metadata.events[0].event_type] == 1
    ring = [PyPoint2D(0, 0), PyPoint2D(4, 0), PyPoint2D(4, 3)]
    assert data.PyPolygon(ring).with_holes([ring[:2]]).holes[0][1] == PyPoint2D(4, 0)
    return frame, metadata


def choose_detector_provider() -> PyProviderDescriptor:
    registry = PyProviderRegistry()
    cpu = PyProviderDescriptor(PyProviderId("native.cpu"), PyVersion(1, 0, 0)).with_element_type(DETECTOR_TYPE)
    gpu = (
        PyProviderDescriptor(PyProviderId("native.cuda"), PyVersion(1, 4, 0))
        .with_element_type(DETECTOR_TYPE)
        .with_capability(PyCapability.cuda())
        .with_capability(PyCapability.custom("accelerator:tensorrt"))
        .with_priority(10)
    )
    registry.register(cpu)
    registry.register(gpu)
    assert len(registry) == 2 and registry.find(DETECTOR_TYPE)[1].priority == 10
    chosen = select_provider(
        DETECTOR_TYPE,
        registry,
        (PyRequirement.cuda_required(), PyRequirement.accelerator("tensorrt")),
        PySelectionPolicy.highest_priority(),
    )
    assert chosen.id == PyProviderId("native.cuda")
    assert [cap.kind() for cap in chosen.capabilities] == ["cuda", "custom"]
    try:
        select_provider(DETECTOR_TYPE, registry, [], PySelectionPolicy.manual(PyProviderId("absent")))
    except ValueError as error:
        assert str(error) == "provider not found"
    else:
        raise AssertionError("manual selection of an absent provider succeeded")
    assert abi_is_compatible(abi_current_version())
    return chosen


def detector_contract(detector: PyElement) -> PyExecutionContract:
    relation = PyInputRelation.timestamp_matched(5_000_000, PyMissingInputBehavior.Wait, [0, -120])
    contract = (
        PyExecutionContract.permissive()
        .with_input_relation(relation)
        .with_concurrency(PyConcurrency.limited(4))
        .with_overflow(PyOverflowPolicy.DropOldest)
        .with_batching(PyBatchingPolicy(8, 2_000_000))
        .with_join_ports([port.id for port in detector.inputs])
    )
    assert_type(contract.batching, PyBatchingPolicy | None)
    assert_type(contract.concurrency.max_concurrent(), int | None)
    assert contract.concurrency.max_concurrent() == 4
    assert contract.input_relation == relation and contract.overflow is PyOverflowPolicy.DropOldest
    assert int(execution.PyFailurePolicy.Skip) == int(contract.failure_policy) == 1
    assert PyExecutionState.Cancelled.is_terminal()
    signal = PyControlSignal.seek(10)
    assert signal.kind() == "seek" and signal.target_ns() == 10
    return contract


def _misuse(frame: PyFrame, registry: PyProviderRegistry, g: PyGraph) -> None:
    frame.sequence = 1  # type: ignore[misc]
    PyStreamId.new() < PyStreamId.new()  # type: ignore[operator]
    unhashable: Hashable = PyPoint2D(1, 2)  # type: ignore[assignment]
    PyTensor(PyDType.Float32, "123")  # type: ignore[arg-type]
    PyVideoFormat(640, 480, "rgb8")  # type: ignore[arg-type]
    PyPoint2D(x=1, z=2)  # type: ignore[call-arg]
    len(g)  # type: ignore[arg-type]
    select_provider(
        DETECTOR_TYPE,
        registry,
        PyRequirement.cuda_required(),  # type: ignore[arg-type]
        PySelectionPolicy.first_available(),
    )
    PyExecutionContract().with_batching(None)  # type: ignore[arg-type]
    kind: int = PyCapability.cuda().kind()  # type: ignore[assignment]
    provider.PyProviderRegistry().register(PyVersion(0, 1, 0))  # type: ignore[arg-type]
    del unhashable, kind

    class Subclass(PyGraph):  # type: ignore[misc]
        pass


def main() -> None:
    detector = check_graphs()
    frame_with_metadata()
    choose_detector_provider()
    contract = detector_contract(detector)
    print(f"typed client ok: {contract!r}")


if __name__ == "__main__":
    main()
