// Hashing for the core's hash maps: SipHash-1-3 over a value's hash stream
// under a key drawn once per process, so that no map's layout can be
// predicted from outside and no result depends on it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/hash.h"

namespace kelo_core {

struct ProcessKey {
  std::uint64_t k0, k1;
};

// Random bytes from the operating system, drawn on first use.
const ProcessKey& process_key();

// A hasher for std::unordered_map keys of any type with a hash_into friend.
struct SeededHash {
  template <class T>
  std::size_t operator()(const T& value) const {
    const ProcessKey& key = process_key();
    HashStream h(key.k0, key.k1);
    hash_into(h, value);
    return static_cast<std::size_t>(h.finish());
  }
};

}  // namespace kelo_core
