// The identity of a computation type, such as `kelo.decode.h264`.
#pragma once

#include <string>

#include "support/hash.h"

namespace kelo_core::graph {

// Any text, compared byte for byte; nothing is normalised.
struct ElementTypeId {
  std::string text;

  friend bool operator==(const ElementTypeId&, const ElementTypeId&) = default;
  // The UTF-8 bytes, then one 0xFF byte (which no UTF-8 text contains).
  friend void hash_into(HashStream& h, const ElementTypeId& id) { h.text(id.text).u8(0xFF); }
};

}  // namespace kelo_core::graph
