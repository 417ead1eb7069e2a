// Detected objects and classification results.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/classification.h"
#include "data/detection.h"
#include "data/topics.h"
#include "support/shared.h"
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
  // An object's value never changes once made, so instances hold it shared:
  // metadata lists and the objects read back from them refer to the same
  // value, and each builder step makes one new value.
  using SharedObject = kelo_core::Shared<Object>;
  out.push_back(
      Class<SharedObject>("PyDetectedObject(id, bbox)",
                          "A detected or recognized entity (`kelo_core::data::Object`).")
          .init<[](ObjectId id, BoundingBox bbox) -> kelo_core::Result<SharedObject> {
            auto o = Object::make(id, std::move(bbox));
            if (!o) return o.error();
            return SharedObject::of(std::move(*o));
          }>()
          .property<[](const SharedObject& o) { return o->id; }>("id")
          .property<[](const SharedObject& o) { return o->bbox(); }>("bbox")
          .property<[](const SharedObject& o) { return o->class_id; }>("class_id")
          .property<[](const SharedObject& o) { return o->label; }>("label")
          .property<[](const SharedObject& o) { return o->confidence; }>("confidence")
          .property<[](const SharedObject& o) { return o->attributes; }>("attributes")
          .def<[](const SharedObject& o, ClassId c) { return SharedObject::of(o->with_class_id(c)); }>(
              "with_class_id($self, class_id)", "Set the class ID (builder-style).")
          .def<[](const SharedObject& o, std::string l) {
            return SharedObject::of(o->with_label(std::move(l)));
          }>("with_label($self, label)", "Set the label (builder-style).")
          .def<[](const SharedObject& o, float c) { return SharedObject::of(o->with_confidence(c)); }>(
              "with_confidence($self, confidence)",
              "Set the confidence in `[0.0, 1.0]` (builder-style).")
          .def<[](const SharedObject& o, std::string key, AttributeValue value) {
            return SharedObject::of(o->with_attribute(std::move(key), std::move(value)));
          }>("with_attribute($self, key, value)", "Add a typed attribute (builder-style).")
          .repr<[](const SharedObject& o) {
            return "PyDetectedObject(id=" + o->id.str() + ", label=" + text::debug(o->label) + ")";
          }>());
}

}  // namespace kelo::py
