#include "data/provenance.h"

#include <atomic>
#include <cstring>
#include <mutex>

#include "support/hash.h"

namespace kelo_core::data {

namespace {

struct Key {
  std::uint64_t k0 = 0, k1 = 0;
  bool drawn = false;
};

// Drawn on first success; a failed draw is tried again by the next caller.
Result<Key> key() {
  static std::mutex lock;
  static Key drawn;
  static std::atomic<bool> ready{false};
  if (ready.load(std::memory_order_acquire)) return drawn;
  std::lock_guard<std::mutex> hold(lock);
  if (!ready.load(std::memory_order_relaxed)) {
    auto a = Uuid::v4();
    if (!a) return a.error();
    auto b = Uuid::v4();
    if (!b) return b.error();
    std::memcpy(&drawn.k0, a->bytes.data(), 8);
    std::memcpy(&drawn.k1, b->bytes.data() + 8, 8);
    drawn.k0 ^= std::uint64_t(a->bytes[15]) << 56;  // spread the fixed version bits' neighbours
    drawn.drawn = true;
    ready.store(true, std::memory_order_release);
  }
  return drawn;
}

std::atomic<std::uint64_t> next_block{0};

}  // namespace

Result<std::uint64_t> ProvenanceSerial::next() {
  // Each thread takes serials in blocks, so that the shared counter is
  // touched once per 4096 records.
  constexpr std::uint64_t kBlock = 4096;
  thread_local std::uint64_t next = 0, end = 0;
  if (next == end) {
    auto k = key();
    if (!k) return k.error();
    next = next_block.fetch_add(kBlock, std::memory_order_relaxed);
    end = next + kBlock;
  }
  return next++;
}

Uuid ProvenanceSerial::id(std::uint64_t serial) {
  // Only records that were given a serial ask, so the key is there.
  const Key k = *key();
  const std::uint64_t lo = HashStream(k.k0, k.k1).u64(serial).u8(0).finish();
  const std::uint64_t hi = HashStream(k.k0, k.k1).u64(serial).u8(1).finish();
  Uuid u;
  std::memcpy(u.bytes.data(), &lo, 8);
  std::memcpy(u.bytes.data() + 8, &hi, 8);
  u.bytes[6] = std::uint8_t((u.bytes[6] & 0x0F) | 0x40);  // version 4
  u.bytes[8] = std::uint8_t((u.bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return u;
}

}  // namespace kelo_core::data
