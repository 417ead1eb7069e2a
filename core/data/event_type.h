// Namespaced event types: `namespace/name`, with the namespace `kelo`
// reserved for the system's own types.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "support/hash.h"

namespace kelo_core::data {

inline constexpr std::string_view kReservedEventNamespace = "kelo";

// Any texts, empty ones and ones holding "/" included; compared byte for byte.
struct EventType {
  std::string namespace_;
  std::string name;

  // A type in the reserved namespace.
  static EventType kelo(std::string name) {
    return {std::string(kReservedEventNamespace), std::move(name)};
  }

  // Splits at the first "/": the namespace before it, the name (which may
  // hold further slashes) after it. A text without "/" is a name in the
  // reserved namespace. Never fails.
  static EventType parse(std::string_view text);

  bool is_reserved() const { return namespace_ == kReservedEventNamespace; }

  // The bare name in the reserved namespace, else namespace + "/" + name.
  // parse() inverts it unless the namespace holds "/", or the type is
  // reserved and its name holds "/".
  std::string as_str() const;

  friend bool operator==(const EventType&, const EventType&) = default;
  // Each text followed by 0xFF, a byte no UTF-8 text contains, so that
  // ("a/", "b") and ("a", "/b") feed different streams.
  friend void hash_into(HashStream& h, const EventType& t) {
    h.text(t.namespace_).u8(0xFF).text(t.name).u8(0xFF);
  }
};

}  // namespace kelo_core::data
