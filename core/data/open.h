// Open descriptors: a closed list of well-known variants plus a named
// `custom:<name>` escape hatch. Pixel formats, colour spaces, tensor layouts
// and coordinate-space kinds are all instances of Open<Variant>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "support/hash.h"
#include "support/text.h"
#include "support/variants.h"

namespace kelo_core::data {

// Each variant enumeration's last enumerator must be `Custom`; its
// VariantNames (support/variants.h) give `names` and `canonical` for the
// well-known variants, Custom excluded.

template <class V>
struct Open {
  using Variant = V;
  static constexpr std::size_t kCustomIndex = static_cast<std::size_t>(V::Custom);

  Variant variant{};
  std::string name;  // the custom name; empty and ignored for well-known variants

  Open() = default;
  Open(Variant v) : variant(v) {}  // NOLINT: implicit on purpose
  static Open custom(std::string name) {
    Open o(Variant::Custom);
    o.name = std::move(name);
    return o;
  }

  bool is_custom() const { return variant == Variant::Custom; }
  std::size_t index() const { return static_cast<std::size_t>(variant); }

  // Same variant and, for custom values, the same name byte for byte.
  friend bool operator==(const Open& a, const Open& b) {
    return a.variant == b.variant && (!a.is_custom() || a.name == b.name);
  }
};

// The lower-case canonical name, or "custom:" + the name as stored.
template <class V>
std::string canonical_name(const Open<V>& o) {
  static_assert(VariantNames<V>::canonical.size() == Open<V>::kCustomIndex);
  if (o.is_custom()) return "custom:" + o.name;
  return std::string(VariantNames<V>::canonical[o.index()]);
}

// The variant name ("NV12"), or "Custom(" + the name's debug text + ")".
template <class V>
std::string debug(const Open<V>& o) {
  static_assert(VariantNames<V>::names.size() == Open<V>::kCustomIndex);
  if (o.is_custom()) return "Custom(" + text::debug(o.name) + ")";
  return std::string(VariantNames<V>::names[o.index()]);
}

// The variant index as 8 little-endian bytes; a custom value then adds its
// name's bytes and one 0xFF byte (which no UTF-8 text contains).
template <class V>
void hash_into(HashStream& h, const Open<V>& o) {
  h.u64(o.index());
  if (o.is_custom()) h.text(o.name).u8(0xFF);
}

// Reads a canonical name back: an exact, case-sensitive well-known name, or
// "custom:" followed by any name (possibly empty).
template <class V>
std::optional<Open<V>> parse_canonical(std::string_view text) {
  const auto& names = VariantNames<V>::canonical;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (text == names[i]) return Open<V>(static_cast<V>(i));
  }
  constexpr std::string_view prefix = "custom:";
  if (text.starts_with(prefix)) return Open<V>::custom(std::string(text.substr(prefix.size())));
  return std::nullopt;
}

}  // namespace kelo_core::data
