// SipHash-1-3 and the hash stream every hashable value feeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kelo_core {

// Incremental SipHash-1-3. The stream is the concatenation of everything
// written; integers are written little-endian.
class HashStream {
 public:
  explicit HashStream(std::uint64_t k0 = 0, std::uint64_t k1 = 0);

  HashStream& bytes(const void* data, std::size_t n);
  HashStream& text(std::string_view s) { return bytes(s.data(), s.size()); }
  HashStream& u8(std::uint8_t v) { return bytes(&v, 1); }
  HashStream& u32(std::uint32_t v);
  HashStream& u64(std::uint64_t v);

  // The standard SipHash-1-3 finalisation; the stream itself is unchanged.
  std::uint64_t finish() const;

 private:
  void compress(std::uint64_t m);
  std::uint64_t v0_, v1_, v2_, v3_;
  std::uint64_t tail_ = 0;  // pending bytes, little-endian
  std::size_t ntail_ = 0;
  std::size_t length_ = 0;
};

// One-shot SipHash-1-3 with the given key.
std::uint64_t siphash13(const void* data, std::size_t n, std::uint64_t k0 = 0,
                        std::uint64_t k1 = 0);

}  // namespace kelo_core
