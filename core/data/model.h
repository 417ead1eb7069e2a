// References to the models that produce results.
#pragma once

#include <optional>
#include <string>

namespace kelo_core::data {

// Neither the identifier nor the version is validated.
struct ModelReference {
  std::string id;
  std::optional<std::string> version;

  // A copy with the version replaced.
  ModelReference with_version(std::string v) const {
    ModelReference m = *this;
    m.version = std::move(v);
    return m;
  }

  friend bool operator==(const ModelReference&, const ModelReference&) = default;
};

}  // namespace kelo_core::data
