// Planar geometry (points, boxes, polygons) and the coordinate space it is
// expressed in.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "data/open.h"
#include "support/result.h"
#include "support/uuid.h"

namespace kelo_core::data {

struct Point2D {
  float x = 0;
  float y = 0;

  friend bool operator==(const Point2D&, const Point2D&) = default;
};

enum class CoordinateSpaceVariant : std::uint8_t { Pixel, Normalized, Sensor, World, Roi, Custom };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::CoordinateSpaceVariant> {
  static constexpr std::array<std::string_view, 5> canonical = {
      "pixel", "normalized", "sensor", "world", "roi"};
  static constexpr std::array<std::string_view, 5> names = {
      "Pixel", "Normalized", "Sensor", "World", "Roi"};
};

}  // namespace kelo_core

namespace kelo_core::data {

using CoordinateSpaceKind = Open<CoordinateSpaceVariant>;

// "pixel", ..., "roi", or "custom:" + the name as stored.
std::string coordinate_space_kind_name(const CoordinateSpaceKind& kind);

// The inverse of coordinate_space_kind_name: case-sensitive, no trimming.
// Anything else is a Value error naming the input in debug text form.
Result<CoordinateSpaceKind> parse_coordinate_space_kind(std::string_view text);

// What a coordinate space is anchored to: a calibrated entity (a sensor, a
// camera rig, a map) named by its identifier, with `kind` saying which sort of
// entity it is.
struct CoordinateSpaceReference {
  std::uint8_t kind = 0;
  Uuid id;

  friend bool operator==(const CoordinateSpaceReference&, const CoordinateSpaceReference&) = default;
};

struct CoordinateSpace {
  CoordinateSpaceKind kind;  // pixel when default-constructed
  std::optional<CoordinateSpaceReference> reference;

  // A space of the given kind with no reference.
  static CoordinateSpace of(CoordinateSpaceKind kind) { return {std::move(kind), std::nullopt}; }

  friend bool operator==(const CoordinateSpace&, const CoordinateSpace&) = default;
};

// Half-open: covers x <= u < x + width and y <= v < y + height. Nothing is
// validated (negative, infinite or NaN sizes are kept as given).
struct BoundingBox {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  CoordinateSpace coordinate_space = CoordinateSpace::of(CoordinateSpaceVariant::Pixel);

  // Exclusive edges, each a single-precision sum.
  float right() const { return x + width; }
  float bottom() const { return y + height; }

  friend bool operator==(const BoundingBox&, const BoundingBox&) = default;
};

// An exterior ring (not explicitly closed) and any holes; neither point count,
// orientation nor closure is examined.
struct Polygon {
  std::vector<Point2D> exterior;
  std::vector<std::vector<Point2D>> holes;
  CoordinateSpace coordinate_space = CoordinateSpace::of(CoordinateSpaceVariant::Pixel);

  friend bool operator==(const Polygon&, const Polygon&) = default;
};

}  // namespace kelo_core::data
