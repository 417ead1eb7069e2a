#include "data/time.h"

#include <bit>

namespace kelo_core::data {

namespace {

constexpr std::uint64_t kNanosPerSec = 1000000000;

}  // namespace

Duration Duration::from_nanos(std::uint64_t nanos) {
  return {nanos / kNanosPerSec, static_cast<std::uint32_t>(nanos % kNanosPerSec)};
}

Result<Duration> Duration::from_secs_f64(double secs) {
  if (secs < 0) {
    return Error::value("cannot convert float seconds to Duration: value is negative");
  }
  // 2^64 is exact as a double; the negated test also catches NaN.
  if (!(secs < 18446744073709551616.0)) {
    return Error::value("cannot convert float seconds to Duration: value is either too big or NaN");
  }
  // secs = mantissa * 2^exponent exactly, with mantissa < 2^53.
  const auto bits = std::bit_cast<std::uint64_t>(secs);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t(1) << 52) - 1);
  int exponent = -1074;
  if (biased != 0) {
    mantissa |= std::uint64_t(1) << 52;
    exponent = biased - 1075;
  }
  if (mantissa == 0) return Duration{};
  if (exponent >= 0) return Duration{mantissa << exponent, 0};  // < 2^64 checked above

  const int shift = -exponent;
  // Below 2^-31 the value times 10^9 is under one half: zero nanoseconds.
  // Past this point shift <= 83, so fraction * 10^9 < 2^113 fits.
  if (shift > 52 + 31) return Duration{};
  Duration d;
  Nanos128 fraction = mantissa;
  if (shift < 64) {
    d.secs = mantissa >> shift;
    fraction = mantissa & ((std::uint64_t(1) << shift) - 1);
  }
  const Nanos128 scaled = fraction * kNanosPerSec;
  Nanos128 nanos = scaled >> shift;
  const Nanos128 rest = scaled - (nanos << shift);
  const Nanos128 half = Nanos128(1) << (shift - 1);
  if (rest > half || (rest == half && (nanos & 1) != 0)) ++nanos;
  if (nanos == kNanosPerSec) {
    // A fractional part means secs < 2^52, so the carry cannot overflow.
    ++d.secs;
    nanos = 0;
  }
  d.nanos = static_cast<std::uint32_t>(nanos);
  return d;
}

Timestamp Timestamp::from_nanos(std::uint64_t nanos) {
  return Timestamp{Duration::from_nanos(nanos), std::nullopt, std::nullopt};
}

Result<Timestamp> Timestamp::from_secs_f64(double secs) {
  auto d = Duration::from_secs_f64(secs);
  if (!d) return d.error();
  return Timestamp{*d, std::nullopt, std::nullopt};
}

Timestamp Timestamp::with_dts(std::uint64_t dts_ns) const {
  Timestamp t = *this;
  t.dts = Duration::from_nanos(dts_ns);
  return t;
}

}  // namespace kelo_core::data
