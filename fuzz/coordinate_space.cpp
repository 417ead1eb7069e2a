// Coordinate-space kind names: a parsed kind prints back to the same text.
#include <cstdlib>
#include <string_view>

#include "data/geometry.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto kind = kelo_core::data::parse_coordinate_space_kind(text);
  if (kind && kelo_core::data::coordinate_space_kind_name(*kind) != text) std::abort();
  return 0;
}
