// Detected or recognised entities.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/attribute.h"
#include "data/geometry.h"
#include "data/id.h"
#include "data/provenance.h"
#include "support/result.h"
#include "support/shared.h"
#include "support/uuid.h"

namespace kelo_core::data {

// The fields every object uses lie inline; what few objects carry (a box
// in another coordinate space than plain pixels, provenance references, a
// model, related identifiers) lies out of line in a record shared by copies
// and copied only when one of them changes it. An object made by make()
// holds no such record, and its provenance id is derived from a serial
// number when first asked for: 128 bytes in all.
class Object {
 public:
  ObjectId id;
  std::optional<ClassId> class_id;
  // Documented as lying in [0, 1]; any value (NaN included) is kept as given.
  std::optional<float> confidence;
  std::optional<std::string> label;
  Attributes attributes;

  // An object with only an identity and a box, and a fresh provenance record
  // (no references, no model, time zero). Fails (Internal) only when the
  // random source does.
  static Result<Object> make(ObjectId id, BoundingBox bbox) {
    auto serial = ProvenanceSerial::next();
    if (!serial) return serial.error();
    return Object(id, std::move(bbox), *serial);
  }

  BoundingBox bbox() const {
    return {x_, y_, width_, height_,
            details_ ? details_->coordinate_space : CoordinateSpace::of(CoordinateSpaceVariant::Pixel)};
  }
  // The box's x, y, width and height, without its coordinate space.
  std::array<float, 4> box_extent() const { return {x_, y_, width_, height_}; }
  // Where the object came from.
  Provenance provenance() const {
    if (details_) return details_->provenance;
    return Provenance{{}, std::nullopt, {}, ProvenanceSerial::id(provenance_serial_)};
  }
  // Identifiers of entities this object is tied to (the object it was
  // refined from, the detections it merges, ...), as producers record them.
  const std::vector<Uuid>& related() const {
    static const std::vector<Uuid> none;
    return details_ ? details_->related : none;
  }
  // For producers: the out-of-line fields in place (copied first when other
  // objects share them).
  Provenance& provenance_mut() { return details().provenance; }
  std::vector<Uuid>& related_mut() { return details().related; }

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

  friend bool operator==(const Object& a, const Object& b) {
    return a.id == b.id && a.class_id == b.class_id && a.label == b.label &&
           a.confidence == b.confidence && a.attributes == b.attributes && a.x_ == b.x_ &&
           a.y_ == b.y_ && a.width_ == b.width_ && a.height_ == b.height_ &&
           (a.details_ == b.details_ || a.details_record() == b.details_record());
  }

 private:
  struct Details {
    CoordinateSpace coordinate_space;  // of the box
    Provenance provenance;
    std::vector<Uuid> related;

    friend bool operator==(const Details&, const Details&) = default;
  };

  Object(ObjectId id, BoundingBox bbox, std::uint64_t provenance_serial)
      : id(id),
        x_(bbox.x),
        y_(bbox.y),
        width_(bbox.width),
        height_(bbox.height),
        provenance_serial_(provenance_serial) {
    if (!(bbox.coordinate_space == CoordinateSpace::of(CoordinateSpaceVariant::Pixel))) {
      details().coordinate_space = std::move(bbox.coordinate_space);
    }
  }
  Details& details() {
    if (!details_) {
      details_ = Shared<Details>::of(
          {CoordinateSpace::of(CoordinateSpaceVariant::Pixel), provenance(), {}});
    }
    return details_.mutate();
  }
  Details details_record() const {
    if (details_) return *details_;
    return Details{CoordinateSpace::of(CoordinateSpaceVariant::Pixel), provenance(), {}};
  }

  float x_ = 0, y_ = 0, width_ = 0, height_ = 0;
  std::uint64_t provenance_serial_ = 0;  // its id, until details_ holds the provenance
  Shared<Details> details_;
};

}  // namespace kelo_core::data
