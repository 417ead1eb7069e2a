// Whole-input classification results.
#pragma once

#include <optional>
#include <string>

#include "data/id.h"

namespace kelo_core::data {

struct Classification {
  ClassId class_id;
  float confidence = 0;  // kept as given, no range test
  std::optional<std::string> label;

  friend bool operator==(const Classification&, const Classification&) = default;
};

}  // namespace kelo_core::data
