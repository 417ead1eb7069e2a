// Time vocabulary: durations, presentation/decode timestamps, time units and
// rational frame rates.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/hash.h"
#include "support/result.h"
#include "support/variants.h"

namespace kelo_core::data {

// Exact nanosecond counts. Wide enough that seconds * 10^9 + nanoseconds
// never wraps for any duration.
using Nanos128 = unsigned __int128;

// A span of whole seconds plus nanoseconds (always below 10^9).
struct Duration {
  std::uint64_t secs = 0;
  std::uint32_t nanos = 0;

  static Duration from_nanos(std::uint64_t nanos);
  // The integral seconds, and the fraction times 10^9 rounded to the nearest
  // nanosecond (ties to even), both exact on the double's own value; a
  // rounding that reaches 10^9 carries into the seconds. Fails on negative
  // values (-0.0 is not negative), NaN, infinities and values >= 2^64.
  static Result<Duration> from_secs_f64(double secs);

  Nanos128 total_nanos() const { return Nanos128(secs) * 1000000000u + nanos; }
  double as_secs_f64() const { return double(secs) + double(nanos) / 1e9; }

  friend bool operator==(const Duration&, const Duration&) = default;
};

// Where a timestamp came from, for sources that can say: the name of the
// source clock, a source-side counter (an RTP timestamp, a sensor tick) and
// flags. Carried along unchanged; nothing here sets or reads it.
struct TimestampAnnotation {
  std::string clock;
  std::uint64_t counter = 0;
  std::uint8_t flags = 0;

  friend bool operator==(const TimestampAnnotation&, const TimestampAnnotation&) = default;
};

// A presentation time (`monotonic`, the primary clock) and an optional decode
// time, which precedes presentation on reordered streams. No order between the
// two is enforced.
struct Timestamp {
  Duration monotonic;
  std::optional<Duration> dts;
  std::optional<TimestampAnnotation> annotation;

  static Timestamp from_nanos(std::uint64_t nanos);
  static Result<Timestamp> from_secs_f64(double secs);

  // A copy with the decode time set (replacing any earlier one); the
  // presentation time and the annotation are kept.
  Timestamp with_dts(std::uint64_t dts_ns) const;

  Nanos128 monotonic_ns() const { return monotonic.total_nanos(); }
  double monotonic_secs() const { return monotonic.as_secs_f64(); }
  std::optional<Nanos128> dts_ns() const {
    if (!dts) return std::nullopt;
    return dts->total_nanos();
  }
  // The decode time when known, else the presentation time.
  Nanos128 dts_or_pts_ns() const { return (dts ? *dts : monotonic).total_nanos(); }

  friend bool operator==(const Timestamp&, const Timestamp&) = default;
};

enum class TimeUnit : std::uint8_t { Nanos, Micros, Millis, Seconds, Ticks };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::TimeUnit> {
  static constexpr std::array<std::string_view, 5> names = {"Nanos", "Micros", "Millis",
                                                            "Seconds", "Ticks"};
};

}  // namespace kelo_core

namespace kelo_core::data {

// Frames per second as an unreduced, unvalidated rational: 30/1 and 60/2
// differ, and zero is allowed in either place.
struct FrameRate {
  std::uint32_t numerator = 0;
  std::uint32_t denominator = 0;

  // IEEE division: 1/0 is infinity, 0/0 NaN.
  double as_f64() const { return double(numerator) / double(denominator); }

  friend bool operator==(const FrameRate&, const FrameRate&) = default;
  friend void hash_into(HashStream& h, const FrameRate& r) {
    h.u32(r.numerator).u32(r.denominator);
  }
};

}  // namespace kelo_core::data
