#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "data/time.h"

namespace kelo_core::data {
namespace {

std::string dec(Nanos128 v) {
  std::string s;
  do {
    s.insert(s.begin(), char('0' + int(v % 10)));
    v /= 10;
  } while (v != 0);
  return s;
}

struct SecsCase {
  double secs;
  std::uint64_t want_secs;
  std::uint32_t want_nanos;
};

// Expected values computed exactly from each double's binary value
// (rational arithmetic, round half to even on fraction * 10^9).
constexpr SecsCase kSecsCases[] = {
    {0x1.999999999999ap-4, 0u, 100000000u},                  // 0.1
    {0x1.3333333333333p-2, 0u, 300000000u},                  // 0.3
    {0x1.8000000000000p+0, 1u, 500000000u},                  // 1.5
    {0x1.5666666666666p+1, 2u, 675000000u},                  // 2.675 (just below)
    {0x1.12e0be826d695p-30, 0u, 1u},                         // 1e-9
    {0x1.12e0be826d695p-31, 0u, 1u},                         // 5e-10, just above half
    {0x1.5798ee2308c3ap-29, 0u, 3u},                         // 2.5e-9
    {0x1.9c511dc3a41dfp-30, 0u, 1u},                         // 1.5e-9
    {0x1.cbc8ff85283fep-2, 0u, 449008935u},                  // 0.4490089345
    {0x1.9d02ef7e52965p+0, 1u, 613326043u},                  // 1.6133260425
    {0x1.7f33f30c26a9ep-1, 0u, 748443217u},                  // 0.7484432175
    {0x1.538673d14cd30p-1, 0u, 663135165u},                  // 0.6631351655
    {0x1.0000000225c18p+0, 1u, 1u},                          // 1.0000000005
    {0x1.5555555555555p-2, 0u, 333333333u},                  // 1/3
    {0x1.5555555555555p-1, 0u, 666666667u},                  // 2/3
    {0x1.e240c9fbe76c9p+16, 123456u, 789000000u},            // 123456.789
    {0x1.5180000000045p+16, 86400u, 1u},                     // 86400.000000001
    {0x1.2a05f2000fcd7p+33, 10000000000u, 123456955u},       // 1e10 + 0.123456789
    {0x1.fffffffffffffp-2, 0u, 500000000u},                  // 0.49999999999999994
    // carries into the seconds
    {0x1.ffffffff24190p-1, 1u, 0u},                          // 0.9999999999
    {0x1.ffffffff920c8p+0, 2u, 0u},                          // 1.9999999999
    {0x1.fffffffdda3e8p+0, 1u, 999999999u},                  // 1.9999999995 (just below)
    {0x1.fffffffbb47d0p-1, 0u, 999999999u},                  // 0.9999999995 (just below)
    // exact ties k + 0.5 (odd multiples of 2^-10): ties go to even
    {0x1.0000000000000p-10, 0u, 976562u},                    // 976562.5
    {0x1.8000000000000p-9, 0u, 2929688u},                    // 2929687.5
    {0x1.4000000000000p-8, 0u, 4882812u},                    // 4882812.5
    {0x1.c010000000000p+2, 7u, 976562u},                     // 7 + 976562.5ns
    {0x1.ff80000000000p-1, 0u, 999023438u},                  // 999023437.5
    {0x1.81cc020000000p+13, 12345u, 500976562u},             // 12345 + 500976562.5ns
    // tiny magnitudes
    {0x1.0000000000000p-31, 0u, 0u},                         // 2^-31
    {0x1.000001ad7f29bp-31, 0u, 0u},                         // just above 2^-31
    {0x1.0000000000000p-30, 0u, 1u},                         // 2^-30
    {0x1.b7cdfd9d7bdbbp-34, 0u, 0u},                         // 1e-10
    {0x1.56e1fc2f8f359p-997, 0u, 0u},                        // 1e-300
    {0x0.0000000000001p-1022, 0u, 0u},                       // smallest subnormal
    {0.0, 0u, 0u},
    {-0.0, 0u, 0u},
    // large magnitudes
    {0x1.fffffffffffffp+51, 4503599627370495u, 500000000u},  // 2^52 - 0.5
    {0x1.0000000000000p+53, 9007199254740992u, 0u},
    {0x1.fffffffffffffp+63, 18446744073709549568u, 0u},      // 2^64 - 2048
};

TEST(DurationTest, FromSecsF64RoundsExactly) {
  for (const auto& c : kSecsCases) {
    auto d = Duration::from_secs_f64(c.secs);
    ASSERT_TRUE(d.ok()) << c.secs;
    EXPECT_EQ(d->secs, c.want_secs) << std::hexfloat << c.secs;
    EXPECT_EQ(d->nanos, c.want_nanos) << std::hexfloat << c.secs;
  }
}

TEST(DurationTest, FromSecsF64Failures) {
  const std::string negative = "cannot convert float seconds to Duration: value is negative";
  const std::string too_big =
      "cannot convert float seconds to Duration: value is either too big or NaN";
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double secs;
    const std::string& message;
  } cases[] = {
      {-1e-9, negative},
      {-0x0.0000000000001p-1022, negative},
      {-inf, negative},
      {std::nan(""), too_big},
      {inf, too_big},
      {0x1p64, too_big},
      {1e30, too_big},
  };
  for (const auto& c : cases) {
    auto d = Duration::from_secs_f64(c.secs);
    ASSERT_FALSE(d.ok()) << c.secs;
    EXPECT_EQ(d.error().kind, Error::Kind::Value);
    EXPECT_EQ(d.error().message, c.message);
    auto t = Timestamp::from_secs_f64(c.secs);
    ASSERT_FALSE(t.ok());
    EXPECT_EQ(t.error().message, c.message);
  }
}

TEST(TimestampTest, NanosecondViewsAreExact) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  for (std::uint64_t n : {std::uint64_t(0), std::uint64_t(1), std::uint64_t(999999999),
                          std::uint64_t(1500000000), max}) {
    auto t = Timestamp::from_nanos(n);
    EXPECT_EQ(t.monotonic_ns(), Nanos128(n));
    EXPECT_LT(t.monotonic.nanos, 1000000000u);
    EXPECT_FALSE(t.dts.has_value());
    EXPECT_FALSE(t.annotation.has_value());
  }
  EXPECT_EQ(Timestamp::from_nanos(max).monotonic, (Duration{18446744073u, 709551615u}));
  // Past about 1.8e10 seconds the count exceeds 64 bits; it must not wrap.
  EXPECT_EQ(dec(Timestamp::from_secs_f64(0x1.fffffffffffffp+63)->monotonic_ns()),
            "18446744073709549568000000000");
  EXPECT_EQ(dec(Timestamp::from_secs_f64(2e10)->monotonic_ns()), "20000000000000000000");
  EXPECT_EQ(Timestamp::from_nanos(1500000000).monotonic_secs(), 1.5);
  EXPECT_EQ(Timestamp::from_secs_f64(1.5)->monotonic_ns(), Nanos128(1500000000));
}

TEST(TimestampTest, WithDtsKeepsTheRest) {
  Timestamp t = Timestamp::from_nanos(7);
  t.annotation = TimestampAnnotation{"ptp", 42, 3};
  EXPECT_FALSE(t.dts_ns().has_value());
  EXPECT_EQ(t.dts_or_pts_ns(), Nanos128(7));

  const Timestamp u = t.with_dts(5);
  EXPECT_FALSE(t.dts.has_value());  // receiver unchanged
  EXPECT_EQ(u.monotonic, t.monotonic);
  EXPECT_EQ(u.annotation, t.annotation);
  EXPECT_EQ(u.dts_ns(), Nanos128(5));
  EXPECT_EQ(u.dts_or_pts_ns(), Nanos128(5));

  const Timestamp v = u.with_dts(3000000001);
  EXPECT_EQ(v.dts, (Duration{3, 1}));
  EXPECT_EQ(v.dts_or_pts_ns(), Nanos128(3000000001));
}

TEST(FrameRateTest, ValueAndHash) {
  EXPECT_FALSE((FrameRate{30, 1} == FrameRate{60, 2}));
  EXPECT_EQ((FrameRate{30000, 1001}.as_f64()), 30000.0 / 1001.0);
  EXPECT_TRUE(std::isnan((FrameRate{0, 0}.as_f64())));
  EXPECT_EQ((FrameRate{1, 0}.as_f64()), std::numeric_limits<double>::infinity());

  // numerator then denominator, each 4 bytes little-endian
  const unsigned char bytes[] = {0x30, 0x75, 0, 0, 0xE9, 0x03, 0, 0};  // 30000, 1001
  HashStream h;
  hash_into(h, FrameRate{30000, 1001});
  EXPECT_EQ(h.finish(), siphash13(bytes, sizeof bytes));
  HashStream swapped;
  hash_into(swapped, FrameRate{1001, 30000});
  EXPECT_NE(swapped.finish(), h.finish());
}

}  // namespace
}  // namespace kelo_core::data
