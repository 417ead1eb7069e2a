// Exact unsigned integers of any size, for counts that may outgrow 64 bits
// (the element count of a tensor is a product of 64-bit dimensions).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelo_core {

// Little-endian 64-bit limbs. The lowest limb is held inline, so values
// below 2^64 never touch the heap.
class BigUint {
 public:
  BigUint(std::uint64_t v = 0) : low_(v) {}  // NOLINT: implicit on purpose
  // A 128-bit value (such as a nanosecond count), for its text or int form.
  static BigUint wide(unsigned __int128 v) {
    BigUint out(static_cast<std::uint64_t>(v));
    if (const auto high = static_cast<std::uint64_t>(v >> 64)) out.high_.push_back(high);
    return out;
  }

  // Multiplies in place by m.
  BigUint& operator*=(std::uint64_t m);

  // The exact product of `factors` (1 when there are none), in
  // O(M(n) log n) for n factors: factors are first folded into 64-bit
  // partial products while they fit, then multiplied pairwise in a balanced
  // tree, large halves by a number-theoretic transform.
  static BigUint product(std::span<const std::uint64_t> factors);

  bool fits_u64() const { return high_.empty(); }
  // The value modulo 2^64 (the value itself when it fits).
  std::uint64_t low() const { return low_; }
  // Number of limbs (at least 1); limb(0) is the lowest.
  std::size_t limb_count() const { return 1 + high_.size(); }
  std::uint64_t limb(std::size_t i) const { return i == 0 ? low_ : high_[i - 1]; }

  // Decimal digits, no sign or separators.
  std::string str() const;
  // Lower-case hexadecimal digits, no prefix or leading zeros ("0" for zero).
  std::string hex() const;

  friend bool operator==(const BigUint&, const BigUint&) = default;

 private:
  std::uint64_t low_;
  std::vector<std::uint64_t> high_;  // limbs 1.., the top one non-zero
};

}  // namespace kelo_core
