// SipHash-1-3 and the hash stream every hashable value feeds.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <cstdint>
#include <string_view>

namespace kelo_core {

// ---- the SipHash state, shared by the stream and the one-shot hash ----

namespace detail {

inline std::uint64_t load_le64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// The first n (< 8) bytes at p as a little-endian integer.
inline std::uint64_t load_le_partial(const unsigned char* p, std::size_t n) {
  std::uint64_t v = 0;
  switch (n) {
    case 7: v |= std::uint64_t{p[6]} << 48; [[fallthrough]];
    case 6: v |= std::uint64_t{p[5]} << 40; [[fallthrough]];
    case 5: v |= std::uint64_t{p[4]} << 32; [[fallthrough]];
    case 4: v |= std::uint64_t{p[3]} << 24; [[fallthrough]];
    case 3: v |= std::uint64_t{p[2]} << 16; [[fallthrough]];
    case 2: v |= std::uint64_t{p[1]} << 8; [[fallthrough]];
    case 1: v |= std::uint64_t{p[0]}; break;
    default: break;
  }
  return v;
}

struct State {
  std::uint64_t v0, v1, v2, v3;

  inline void round() {
    v0 += v1; v1 = std::rotl(v1, 13); v1 ^= v0; v0 = std::rotl(v0, 32);
    v2 += v3; v3 = std::rotl(v3, 16); v3 ^= v2;
    v0 += v3; v3 = std::rotl(v3, 21); v3 ^= v0;
    v2 += v1; v1 = std::rotl(v1, 17); v1 ^= v2; v2 = std::rotl(v2, 32);
  }
  inline void compress(std::uint64_t m) {
    v3 ^= m;
    round();
    v0 ^= m;
  }
  // b is the last block: the length's low byte on top of the pending bytes.
  inline std::uint64_t finish(std::uint64_t b) {
    compress(b);
    v2 ^= 0xff;
    round();
    round();
    round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

inline State init(std::uint64_t k0, std::uint64_t k1) {
  return {k0 ^ 0x736f6d6570736575ULL, k1 ^ 0x646f72616e646f6dULL,
          k0 ^ 0x6c7967656e657261ULL, k1 ^ 0x7465646279746573ULL};
}

}  // namespace detail

// Incremental SipHash-1-3. The stream is the concatenation of everything
// written; integers are written little-endian.
class HashStream {
 public:
  explicit HashStream(std::uint64_t k0 = 0, std::uint64_t k1 = 0);

  HashStream& bytes(const void* data, std::size_t n);
  HashStream& text(std::string_view s) { return bytes(s.data(), s.size()); }
  HashStream& u8(std::uint8_t v);
  HashStream& u32(std::uint32_t v);
  HashStream& u64(std::uint64_t v);

  // The standard SipHash-1-3 finalisation; the stream itself is unchanged.
  std::uint64_t finish() const;

 private:
  detail::State state_;
  std::uint64_t tail_ = 0;  // pending bytes, little-endian
  std::size_t ntail_ = 0;
  std::size_t length_ = 0;
};

// A finished hash read as a signed integer, with -1 (the error marker of
// hash functions in the interpreter) replaced by -2.
constexpr std::int64_t signed_hash(std::uint64_t h) {
  auto v = static_cast<std::int64_t>(h);
  return v == -1 ? -2 : v;
}

// One-shot SipHash-1-3 with the given key.
std::uint64_t siphash13(const void* data, std::size_t n, std::uint64_t k0 = 0,
                        std::uint64_t k1 = 0);

// ---- implementation, inline so hashing a small value costs no calls ----

inline HashStream::HashStream(std::uint64_t k0, std::uint64_t k1) : state_(detail::init(k0, k1)) {}

inline HashStream& HashStream::bytes(const void* data, std::size_t n) {
  auto p = static_cast<const unsigned char*>(data);
  length_ += n;
  if (ntail_ != 0) {
    // Top up the pending block first.
    std::size_t take = 8 - ntail_;
    if (n < take) {
      tail_ |= detail::load_le_partial(p, n) << (8 * ntail_);
      ntail_ += n;
      return *this;
    }
    tail_ |= detail::load_le_partial(p, take) << (8 * ntail_);
    state_.compress(tail_);
    p += take;
    n -= take;
    tail_ = 0;
    ntail_ = 0;
  }
  for (; n >= 8; p += 8, n -= 8) state_.compress(detail::load_le64(p));
  tail_ = detail::load_le_partial(p, n);
  ntail_ = n;
  return *this;
}

// The integer writers shift the value into the pending block directly;
// bytes() of the little-endian encoding gives the same stream.
inline HashStream& HashStream::u8(std::uint8_t v) {
  length_ += 1;
  tail_ |= std::uint64_t{v} << (8 * ntail_);  // ntail_ < 8
  if (++ntail_ == 8) {
    state_.compress(tail_);
    tail_ = 0;
    ntail_ = 0;
  }
  return *this;
}

inline HashStream& HashStream::u32(std::uint32_t v) {
  const std::uint64_t w = v;
  length_ += 4;
  tail_ |= w << (8 * ntail_);  // ntail_ < 8
  ntail_ += 4;
  if (ntail_ >= 8) {
    state_.compress(tail_);
    ntail_ -= 8;
    tail_ = w >> (8 * (4 - ntail_));  // the bytes that did not fit
  }
  return *this;
}

inline HashStream& HashStream::u64(std::uint64_t v) {
  length_ += 8;
  if (ntail_ == 0) {  // block-aligned: the value is exactly one block
    state_.compress(v);
    return *this;
  }
  state_.compress(tail_ | (v << (8 * ntail_)));
  tail_ = v >> (8 * (8 - ntail_));  // ntail_ stays the same
  return *this;
}

inline std::uint64_t HashStream::finish() const {
  detail::State s = state_;  // finish() is const: finalise a copy
  return s.finish((static_cast<std::uint64_t>(length_ & 0xff) << 56) | tail_);
}

inline std::uint64_t siphash13(const void* data, std::size_t n, std::uint64_t k0, std::uint64_t k1) {
  auto p = static_cast<const unsigned char*>(data);
  detail::State s = detail::init(k0, k1);
  if (n == 16) {  // identifiers: two blocks and an empty tail
    s.compress(detail::load_le64(p));
    s.compress(detail::load_le64(p + 8));
    return s.finish(std::uint64_t{16} << 56);
  }
  const std::uint64_t last = static_cast<std::uint64_t>(n & 0xff) << 56;
  for (; n >= 8; p += 8, n -= 8) s.compress(detail::load_le64(p));
  return s.finish(last | detail::load_le_partial(p, n));
}

}  // namespace kelo_core
