// The declarations of the data submodule's classes, one function per topic,
// listed (and called) in the order of the submodule's __all__.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_identifier_classes(std::vector<ClassSpec>& out);
void add_geometry_classes(std::vector<ClassSpec>& out);
void add_time_classes(std::vector<ClassSpec>& out);
void add_format_classes(std::vector<ClassSpec>& out);
void add_tensor_classes(std::vector<ClassSpec>& out);
void add_stream_classes(std::vector<ClassSpec>& out);
void add_event_classes(std::vector<ClassSpec>& out);
void add_track_classes(std::vector<ClassSpec>& out);
void add_classification_class(std::vector<ClassSpec>& out);
void add_attribute_classes(std::vector<ClassSpec>& out);
void add_detected_object_class(std::vector<ClassSpec>& out);
void add_metadata_classes(std::vector<ClassSpec>& out);
void add_spatial_classes(std::vector<ClassSpec>& out);
void add_frame_classes(std::vector<ClassSpec>& out);

}  // namespace kelo::py
