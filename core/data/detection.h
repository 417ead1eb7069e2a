// Detected or recognised entities.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/attribute.h"
#include "data/geometry.h"
#include "data/id.h"
#include "data/provenance.h"
#include "support/result.h"
#include "support/uuid.h"

namespace kelo_core::data {

struct Object {
  ObjectId id;
  BoundingBox bbox;
  std::optional<ClassId> class_id;
  std::optional<std::string> label;
  // Documented as lying in [0, 1]; any value (NaN included) is kept as given.
  std::optional<float> confidence;
  Attributes attributes;
  Provenance provenance;
  // Identifiers of entities this object is tied to (the object it was
  // refined from, the detections it merges, ...), as producers record them.
  std::vector<Uuid> related;

  // An object with only an identity and a box, and a fresh provenance record
  // (no references, no model, time zero). Fails (Internal) only when the
  // random source does.
  static Result<Object> make(ObjectId id, BoundingBox bbox) {
    auto provenance = Provenance::fresh();
    if (!provenance) return provenance.error();
    return Object{id, std::move(bbox), std::nullopt, std::nullopt, std::nullopt, {},
                  std::move(*provenance), {}};
  }

  // Copies with one field replaced.
  Object with_class_id(ClassId c) const {
    Object o = *this;
    o.class_id = c;
    return o;
  }
  Object with_label(std::string l) const {
    Object o = *this;
    o.label = std::move(l);
    return o;
  }
  Object with_confidence(float c) const {
    Object o = *this;
    o.confidence = c;
    return o;
  }
  Object with_attribute(std::string key, AttributeValue value) const {
    Object o = *this;
    o.attributes.insert(std::move(key), std::move(value));
    return o;
  }

  friend bool operator==(const Object&, const Object&) = default;
};

}  // namespace kelo_core::data
