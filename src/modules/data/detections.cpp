// Detected objects and classification results.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/classification.h"
#include "data/detection.h"
#include "data/topics.h"
#include "support/text.h"

namespace kelo::py {

using namespace kelo_core::data;
namespace text = kelo_core::text;

void add_classification_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Classification>("PyClassification(class_id, confidence, label=None)",
                            "A classification result.")
          .init<[](ClassId class_id, float confidence, std::optional<std::string> label) {
            return Classification{class_id, confidence, std::move(label)};
          }>()
          .property<&Classification::class_id>("class_id")
          .property<&Classification::confidence>("confidence")
          .property<&Classification::label>("label")
          .repr<[](const Classification& c) {
            return "PyClassification(confidence=" + text::fixed_point(c.confidence, 3) + ")";
          }>());
}

void add_detected_object_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Object>("PyDetectedObject(id, bbox)",
                    "A detected or recognized entity (`kelo_core::data::Object`).")
          .init<&Object::make>()
          .property<&Object::id>("id")
          .property<&Object::bbox>("bbox")
          .property<&Object::class_id>("class_id")
          .property<&Object::label>("label")
          .property<&Object::confidence>("confidence")
          .property<&Object::attributes>("attributes")
          .def<&Object::with_class_id>("with_class_id($self, class_id)",
                                       "Set the class ID (builder-style).")
          .def<&Object::with_label>("with_label($self, label)", "Set the label (builder-style).")
          .def<&Object::with_confidence>("with_confidence($self, confidence)",
                                         "Set the confidence in `[0.0, 1.0]` (builder-style).")
          .def<&Object::with_attribute>("with_attribute($self, key, value)",
                                        "Add a typed attribute (builder-style).")
          .repr<[](const Object& o) {
            return "PyDetectedObject(id=" + o.id.str() + ", label=" + text::debug(o.label) + ")";
          }>());
}

}  // namespace kelo::py
