// Versions, and the provider ABI version that providers are checked against.
#pragma once

#include <cstdint>
#include <string>

#include "support/hash.h"

namespace kelo_core::provider {

// A semantic version; equal when all three parts are. Versions are not
// ordered.
struct Version {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
  std::uint32_t patch = 0;

  // "1.2.3"
  std::string str() const {
    return std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch);
  }

  friend bool operator==(const Version&, const Version&) = default;
  // The three parts as 4 little-endian bytes each, in order.
  friend void hash_into(HashStream& h, const Version& v) { h.u32(v.major).u32(v.minor).u32(v.patch); }
};

// The provider ABI version of this build.
inline constexpr Version kAbiVersion{0, 1, 0};

// A provider built against `v` can be loaded when its major part matches;
// the minor and patch parts are not consulted.
constexpr bool abi_is_compatible(const Version& v) { return v.major == kAbiVersion.major; }

}  // namespace kelo_core::provider
