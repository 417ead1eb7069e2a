#include "support/biguint.h"

namespace kelo_core {

BigUint& BigUint::operator*=(std::uint64_t m) {
  if (m == 0) {
    low_ = 0;
    high_.clear();
    return *this;
  }
  using Wide = unsigned __int128;
  Wide p = Wide(low_) * m;
  low_ = std::uint64_t(p);
  std::uint64_t carry = std::uint64_t(p >> 64);
  for (auto& limb : high_) {
    p = Wide(limb) * m + carry;
    limb = std::uint64_t(p);
    carry = std::uint64_t(p >> 64);
  }
  if (carry) high_.push_back(carry);
  return *this;
}

std::string BigUint::str() const {
  if (fits_u64()) return std::to_string(low_);
  // Repeated division by 10^19, the largest power of ten below 2^64.
  constexpr std::uint64_t kChunk = 10000000000000000000u;
  std::vector<std::uint64_t> n(limb_count());
  for (std::size_t i = 0; i < n.size(); ++i) n[i] = limb(i);
  std::vector<std::uint64_t> chunks;  // base 10^19, lowest first
  while (!n.empty()) {
    unsigned __int128 rem = 0;
    for (std::size_t i = n.size(); i-- > 0;) {
      unsigned __int128 cur = (rem << 64) | n[i];
      n[i] = std::uint64_t(cur / kChunk);
      rem = cur % kChunk;
    }
    chunks.push_back(std::uint64_t(rem));
    while (!n.empty() && n.back() == 0) n.pop_back();
  }
  std::string out = std::to_string(chunks.back());
  for (std::size_t i = chunks.size() - 1; i-- > 0;) {
    std::string part = std::to_string(chunks[i]);
    out.append(19 - part.size(), '0');
    out += part;
  }
  return out;
}

std::string BigUint::hex() const {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = limb_count(); i-- > 0;) {
    for (int shift = 60; shift >= 0; shift -= 4) {
      char d = kDigits[(limb(i) >> shift) & 0xf];
      if (out.empty() && d == '0') continue;
      out += d;
    }
  }
  return out.empty() ? "0" : out;
}

}  // namespace kelo_core
