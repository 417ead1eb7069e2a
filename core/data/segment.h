// Segmentation results: the region an entity covers, as a box, a polygon or
// a run-length mask.
#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "data/geometry.h"
#include "data/id.h"
#include "data/provenance.h"

namespace kelo_core::data {

// The region's extent alone.
struct BoxRegion {
  CoordinateSpaceKind space;
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;

  friend bool operator==(const BoxRegion&, const BoxRegion&) = default;
};

// An exterior ring and the rings of its holes.
struct PolygonRegion {
  CoordinateSpaceKind space;
  std::vector<Point2D> exterior;
  std::vector<std::vector<Point2D>> holes;

  friend bool operator==(const PolygonRegion&, const PolygonRegion&) = default;
};

// A width x height mask in row-major order as alternating run lengths,
// starting with a run of background.
struct MaskRegion {
  CoordinateSpaceKind space;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint32_t> runs;

  friend bool operator==(const MaskRegion&, const MaskRegion&) = default;
};

using Segmentation = std::variant<BoxRegion, PolygonRegion, MaskRegion>;

struct Segment {
  SegmentId id;
  std::optional<ObjectId> object;  // the detected object it outlines, if any
  std::optional<ClassId> class_id;
  std::optional<float> confidence;
  Segmentation geometry;
  Provenance provenance;

  friend bool operator==(const Segment&, const Segment&) = default;
};

}  // namespace kelo_core::data
