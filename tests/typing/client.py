"""A typed client of kelo.ext: checked by `mypy --strict` and run as a script.

`assert_type` pins the types the stubs give; `_misuse` (never called) holds calls
the stubs must reject, each with the error mypy raises (an unneeded ignore fails).
"""

from collections.abc import Hashable
from typing import assert_type

from kelo.ext import data, execution, graph, provider
from kelo.ext.data import (PyAttributeValue, PyBoundingBox, PyClassId, PyDetectedObject, PyDType, PyEmbedding,
                           PyEvent, PyEventType, PyFrame, PyFrameRate, PyMetadata, PyObjectId, PyPixelFormat,
                           PyPoint2D, PySourceInfo, PySourceKind, PyStream, PyStreamCapabilities, PyStreamId,
                           PyTensor, PyTimestamp, PyVideoFormat)
from kelo.ext.execution import (PyBatchingPolicy, PyConcurrency, PyControlSignal, PyExecutionContract,
                                PyExecutionState, PyInputRelation, PyMissingInputBehavior, PyOverflowPolicy)
from kelo.ext.graph import (PyContractSpec, PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyGraphBuilder, PyPort, PyValidationReport, validate_graph)
from kelo.ext.provider import (PyCapability, PyProviderDescriptor, PyProviderId, PyProviderRegistry, PyRequirement,
                               PySelectionPolicy, PyVersion, abi_current_version, abi_is_compatible, select_provider)

DETECTOR_TYPE = PyElementTypeId("kelo.infer.detector")


def pipeline(mismatched: bool) -> tuple[PyGraph, PyElement]:
    frames = PyDataContract.frame_with(PyContractSpec().with_pixel_format(PyPixelFormat.nv12()).with_dimensions(1920, 1080))
    tensor = PyDataContract.tensor_with(PyContractSpec().with_dtype(PyDType.Float32).with_shape([1, 3]))
    out, inp = PyPort.output("frames", frames), PyPort.input("image", tensor if mismatched else PyDataContract.frame())
    camera = PyElement(PyElementId.new(), PyElementTypeId("kelo.source.v4l2"), "camera",
                       PyElementKind.Source).with_output(out)
    detector = PyElement(PyElementId.new(), DETECTOR_TYPE, "detector", PyElementKind.Operator).with_input(inp)
    built: PyGraph = PyGraphBuilder().add_element(camera).add_element(detector).connect(out.id, inp.id).connect_dynamic("camera", "thumbs", inp.id).build()
    assert_type(built.find_element(camera.id), PyElement | None)
    return built, detector


def check_graphs() -> PyElement:
    good, detector = pipeline(mismatched=False)
    assert good.validate().is_valid(), good.validate().errors
    assert [e.source_pad for e in good.edges] == [None, "thumbs"]
    bad, bad_detector = pipeline(mismatched=True)
    bad.add_edge(PyEdge.late_binding(graph.PyPortId.new(), bad_detector.inputs[0].id))
    bad_report: PyValidationReport = validate_graph(bad)
    assert [error.kind() for error in bad_report.errors] == ["ContractMismatch"]
    assert_type(bad_report.warnings, list[str])
    return detector


def frame_with_metadata() -> tuple[PyFrame, PyMetadata]:
    source = PySourceInfo("cam0", PySourceKind.Camera, uri="v4l2:///dev/video0")
    fmt = PyVideoFormat(1920, 1080, PyPixelFormat.nv12()).with_frame_rate(PyFrameRate(30000, 1001))
    assert_type(fmt.frame_rate, PyFrameRate | None)
    assert fmt.frame_rate is not None
    assert fmt.frame_rate.as_f64() > 29.9
    stream = PyStream(source, fmt).with_capabilities(PyStreamCapabilities(live=True))
    frame = PyFrame(stream.id, 0, PyTimestamp.from_nanos(1_500_000_000), stream.format).with_duration_ns(1)
    assert_type(frame.duration_ns, int | None)

    metadata = PyMetadata()
    obj = PyDetectedObject(PyObjectId.new(), PyBoundingBox(10.0, 20.0, 64, 128)).with_class_id(PyClassId.new()).with_label("person") \
        .with_confidence(0.9).with_attribute("occluded", PyAttributeValue.of_bool(False))
    metadata.add_object(obj)
    metadata.add_event(PyEvent(stream.id, frame.timestamp, PyEventType.kelo("enter")))
    metadata.add_embedding(PyEmbedding(PyTensor(PyDType.Float32, (1, 128), name="appearance"), name="face"))
    first = metadata.objects[0]
    assert_type(first.confidence, float | None)
    occluded = first.attributes.get("occluded")
    assert occluded is not None
    assert (occluded.as_bool(), first.bbox.right()) == (False, 74.0)
    assert {PyEventType.parse("enter"): 1}[metadata.events[0].event_type] == 1
    ring = [PyPoint2D(0, 0), PyPoint2D(4, 0), PyPoint2D(4, 3)]
    assert data.PyPolygon(ring).with_holes([ring[:2]]).holes[0][1] == PyPoint2D(4, 0)
    return frame, metadata


def choose_detector_provider() -> PyProviderDescriptor:
    registry = PyProviderRegistry()
    cpu = PyProviderDescriptor(PyProviderId("native.cpu"), PyVersion(1, 0, 0)).with_element_type(DETECTOR_TYPE)
    gpu = PyProviderDescriptor(PyProviderId("native.cuda"), PyVersion(1, 4, 0)).with_element_type(DETECTOR_TYPE) \
        .with_capability(PyCapability.cuda()).with_capability(PyCapability.custom("accelerator:tensorrt")).with_priority(10)
    for p in (cpu, gpu):
        registry.register(p)
    chosen = select_provider(DETECTOR_TYPE, registry, (PyRequirement.cuda_required(), PyRequirement.accelerator("tensorrt")),
                             PySelectionPolicy.highest_priority())
    assert [cap.kind() for cap in chosen.capabilities] == ["cuda", "custom"]
    assert abi_is_compatible(abi_current_version())
    return chosen


def detector_contract(detector: PyElement) -> PyExecutionContract:
    relation = PyInputRelation.timestamp_matched(5_000_000, PyMissingInputBehavior.Wait, [0, -120])
    contract = PyExecutionContract.permissive().with_input_relation(relation).with_concurrency(PyConcurrency.limited(4)) \
        .with_overflow(PyOverflowPolicy.DropOldest).with_batching(PyBatchingPolicy(8, 2_000_000)) \
        .with_join_ports([port.id for port in detector.inputs])
    assert_type(contract.batching, PyBatchingPolicy | None)
    assert_type(contract.concurrency.max_concurrent(), int | None)
    assert int(execution.PyFailurePolicy.Skip) == int(contract.failure_policy) == 1
    assert (PyExecutionState.Cancelled.is_terminal(), PyControlSignal.seek(10).target_ns()) == (True, 10)
    return contract


def _misuse(frame: PyFrame, registry: PyProviderRegistry, g: PyGraph) -> None:
    frame.sequence = 1  # type: ignore[misc]
    PyStreamId.new() < PyStreamId.new()  # type: ignore[operator]
    unhashable: Hashable = PyPoint2D(1, 2)  # type: ignore[assignment]
    PyTensor(PyDType.Float32, "123")  # type: ignore[arg-type]
    PyPoint2D(x=1, z=2)  # type: ignore[call-arg]
    len(g)  # type: ignore[arg-type]
    select_provider(DETECTOR_TYPE, registry, PyRequirement.cuda_required(), PySelectionPolicy.first_available())  # type: ignore[arg-type]
    kind: int = PyCapability.cuda().kind()  # type: ignore[assignment]
    provider.PyProviderRegistry().register(PyVersion(0, 1, 0))  # type: ignore[arg-type]

    class Subclass(PyGraph):  # type: ignore[misc]
        pass


def main() -> None:
    frame_with_metadata()
    choose_detector_provider()
    print(f"typed client ok: {detector_contract(check_graphs())!r}")


if __name__ == "__main__":
    main()
