#include "data/geometry.h"

#include "support/text.h"

namespace kelo_core::data {

std::string coordinate_space_kind_name(const CoordinateSpaceKind& kind) {
  return canonical_name(kind);
}

Result<CoordinateSpaceKind> parse_coordinate_space_kind(std::string_view text) {
  if (auto kind = parse_canonical<CoordinateSpaceVariant>(text)) return *std::move(kind);
  return Error::value("unknown coordinate space kind: " + text::debug(text) +
                      " (expected pixel, normalized, sensor, world, roi or custom:<name>)");
}

}  // namespace kelo_core::data
