#include "support/biguint.h"

#include <algorithm>
#include <charconv>
#include <utility>

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

namespace {

using Limbs = std::vector<std::uint64_t>;
using Wide = unsigned __int128;

// Arithmetic modulo the prime p = 2^64 - 2^32 + 1, whose multiplicative
// group has elements of every order 2^k up to 2^32 (7 generates it). Values
// are kept below p.
namespace mod {

constexpr std::uint64_t kP = 0xffffffff00000001u;
constexpr std::uint64_t kEps = 0xffffffffu;  // 2^64 mod p

std::uint64_t add(std::uint64_t a, std::uint64_t b) {
  std::uint64_t s = a + b;
  if (s < a || s >= kP) s -= kP;  // wraps to s + 2^64 - p when a + b overflowed
  return s;
}
std::uint64_t sub(std::uint64_t a, std::uint64_t b) {
  std::uint64_t d = a - b;
  if (a < b) d += kP;
  return d;
}
// x mod p, from 2^64 = 2^32 - 1 and 2^96 = -1 (mod p).
std::uint64_t reduce(Wide x) {
  const auto lo = std::uint64_t(x), hi = std::uint64_t(x >> 64);
  const std::uint64_t hi_hi = hi >> 32, hi_lo = hi & kEps;
  std::uint64_t t0 = lo - hi_hi;
  if (lo < hi_hi) t0 -= kEps;  // borrowed 2^64, which is 2^32 - 1 too many
  const std::uint64_t t1 = hi_lo * kEps;
  std::uint64_t t2 = t0 + t1;
  if (t2 < t0) t2 += kEps;  // carried 2^64
  if (t2 >= kP) t2 -= kP;
  return t2;
}
std::uint64_t mul(std::uint64_t a, std::uint64_t b) { return reduce(Wide(a) * b); }
std::uint64_t pow(std::uint64_t a, std::uint64_t e) {
  std::uint64_t r = 1;
  for (; e; e >>= 1, a = mul(a, a)) {
    if (e & 1) r = mul(r, a);
  }
  return r;
}

// In-place transform of a power-of-two length; the inverse includes 1/n.
void transform(std::vector<std::uint64_t>& a, bool inverse) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  std::vector<std::uint64_t> twiddle(n / 2);
  for (std::size_t len = 2; len <= n; len <<= 1) {
    std::uint64_t w = pow(7, (kP - 1) / len);
    if (inverse) w = pow(w, kP - 2);
    const std::size_t half = len / 2;
    twiddle[0] = 1;
    for (std::size_t j = 1; j < half; ++j) twiddle[j] = mul(twiddle[j - 1], w);
    for (std::size_t i = 0; i < n; i += len) {
      std::uint64_t* lo = &a[i];
      std::uint64_t* hi = lo + half;
      for (std::size_t j = 0; j < half; ++j) {
        const std::uint64_t u = lo[j], v = mul(hi[j], twiddle[j]);
        lo[j] = add(u, v);
        hi[j] = sub(u, v);
      }
    }
  }
  if (inverse) {
    const std::uint64_t scale = pow(n % kP, kP - 2);
    for (auto& x : a) x = mul(x, scale);
  }
}

}  // namespace mod

void trim(Limbs& a) {
  while (a.size() > 1 && a.back() == 0) a.pop_back();
}

Limbs schoolbook(const Limbs& a, const Limbs& b) {
  Limbs out(a.size() + b.size(), 0);
  for (std::size_t i = 0; i < a.size(); ++i) {
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < b.size(); ++j) {
      const Wide p = Wide(a[i]) * b[j] + out[i + j] + carry;
      out[i + j] = std::uint64_t(p);
      carry = std::uint64_t(p >> 64);
    }
    out[i + b.size()] = carry;
  }
  trim(out);
  return out;
}

// 16-bit digits, so that a convolution term stays below p for any length
// the transform supports: n * (2^16 - 1)^2 < p while n <= 2^32.
Limbs by_transform(const Limbs& a, const Limbs& b) {
  const std::size_t digits = 4 * (a.size() + b.size());
  std::size_t n = 1;
  while (n < digits) n <<= 1;
  auto spread = [n](const Limbs& x) {
    std::vector<std::uint64_t> out(n, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
      for (std::size_t k = 0; k < 4; ++k) out[4 * i + k] = (x[i] >> (16 * k)) & 0xffff;
    }
    return out;
  };
  std::vector<std::uint64_t> fa = spread(a), fb = spread(b);
  mod::transform(fa, false);
  mod::transform(fb, false);
  for (std::size_t i = 0; i < n; ++i) fa[i] = mod::mul(fa[i], fb[i]);
  mod::transform(fa, true);
  Limbs out(a.size() + b.size(), 0);
  Wide carry = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    carry += fa[i];
    out[i / 4] |= std::uint64_t(carry & 0xffff) << (16 * (i % 4));
    carry >>= 16;
  }
  trim(out);
  return out;
}

Limbs multiply(const Limbs& a, const Limbs& b) {
  constexpr std::size_t kSchoolbookLimbs = 256;
  if (std::min(a.size(), b.size()) <= kSchoolbookLimbs) return schoolbook(a, b);
  return by_transform(a, b);
}

}  // namespace

BigUint BigUint::product(std::span<const std::uint64_t> factors) {
  // Partial products that fit 64 bits; a zero factor decides the result.
  std::vector<Limbs> level;
  std::uint64_t partial = 1;
  for (std::uint64_t f : factors) {
    if (f == 0) return BigUint(0);
    const Wide p = Wide(partial) * f;
    if (p >> 64) {
      level.push_back(Limbs{partial});
      partial = f;
    } else {
      partial = std::uint64_t(p);
    }
  }
  level.push_back(Limbs{partial});
  // Neighbours are multiplied pairwise until one number is left.
  while (level.size() > 1) {
    std::vector<Limbs> next;
    next.reserve((level.size() + 1) / 2);
    for (std::size_t i = 0; i + 1 < level.size(); i += 2) {
      next.push_back(multiply(level[i], level[i + 1]));
      Limbs().swap(level[i]);
      Limbs().swap(level[i + 1]);
    }
    if (level.size() % 2) next.push_back(std::move(level.back()));
    level = std::move(next);
  }
  Limbs& limbs = level.front();
  BigUint out(limbs[0]);
  out.high_.assign(limbs.begin() + 1, limbs.end());
  return out;
}

namespace {

// v's digits in `base`, zero-padded on the left to `width`.
void append_digits(std::string& out, std::uint64_t v, int base, std::size_t width) {
  char buf[64];
  const auto end = std::to_chars(buf, buf + sizeof buf, v, base).ptr;
  const auto n = std::size_t(end - buf);
  if (n < width) out.append(width - n, '0');
  out.append(buf, n);
}

}  // namespace

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
  std::string out;
  append_digits(out, chunks.back(), 10, 0);
  for (std::size_t i = chunks.size() - 1; i-- > 0;) append_digits(out, chunks[i], 10, 19);
  return out;
}

std::string BigUint::hex() const {
  std::string out;
  append_digits(out, limb(limb_count() - 1), 16, 0);
  for (std::size_t i = limb_count() - 1; i-- > 0;) append_digits(out, limb(i), 16, 16);
  return out;
}

}  // namespace kelo_core
