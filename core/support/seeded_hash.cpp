#include "support/seeded_hash.h"

#include <chrono>
#include <string>

#include "support/random.h"

namespace kelo_core {

const ProcessKey& process_key() {
  static const ProcessKey key = [] {
    ProcessKey k{};
    std::string error;
    if (!random_bytes(&k, sizeof k, &error)) {
      // The key only spreads map entries; without the system's random
      // source, the clock and an address still differ from run to run.
      k.k0 = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
      k.k1 = reinterpret_cast<std::uintptr_t>(&k) ^ 0x9E3779B97F4A7C15ULL;
    }
    return k;
  }();
  return key;
}

}  // namespace kelo_core
