// kelo.ext.data: the data model.
#include "data/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

namespace {

constexpr const char* kOrder[] = {
    "PyStreamId",  "PyFrameId",   "PyBufferId",      "PyObjectId", "PySegmentId",
    "PyTrackId",   "PyEventId",   "PyAssetId",       "PyBatchId",  "PyMetadataId",
    "PyComponentId", "PyClassId",
    "PyPoint2D", "PyBoundingBox", "PyPolygon", "PyCoordinateSpace",
    "PyTimeUnit", "PyTimestamp", "PyFrameRate",
    "PyPixelFormat", "PyColorSpace", "PyColorRange", "PyVideoFormat", "PyDType", "PyTensorLayout",
    "PyTensor", "PyModelReference", "PyEmbedding",
    "PySourceKind", "PySourceInfo", "PyStreamCapabilities", "PyStream",
    "PyEventType", "PyEvent", "PyTrackState", "PyTrack",
    "PyClassification", "PyAttributeValue", "PyAttributes", "PyDetectedObject", "PyMetadata",
    "PyVec3", "PyQuaternion", "PyRigidTransform", "PyFrame",
};

}  // namespace

PyObject* create_data_module() {
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_identifier_classes(all);
    add_geometry_classes(all);
    add_time_classes(all);
    add_format_classes(all);
    add_tensor_classes(all);
    add_attribute_classes(all);
    add_detection_classes(all);
    add_spatial_classes(all);
    add_event_classes(all);
    add_track_classes(all);
    add_metadata_classes(all);
    add_stream_classes(all);
    add_frame_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions;
  return build_module("data", kOrder, classes, functions);
}

}  // namespace kelo::py
