// kelo.ext.data: the data model.
#include "data/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_data_module() {
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_identifier_classes(all);
    add_geometry_classes(all);
    add_time_classes(all);
    add_format_classes(all);
    add_tensor_classes(all);
    add_stream_classes(all);
    add_event_classes(all);
    add_track_classes(all);
    add_classification_class(all);
    add_attribute_classes(all);
    add_detected_object_class(all);
    add_metadata_classes(all);
    add_spatial_classes(all);
    add_frame_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions;
  return build_module("data", classes, functions);
}

}  // namespace kelo::py
