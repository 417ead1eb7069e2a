#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "data/time.h"

namespace kelo_core::data {
namespace {

// Expected values computed exactly from each double's binary value: the fraction times 10^9, rounded half to
// even, carrying into the seconds.
TEST(DurationTest, FromSecsF64RoundsExactly) {
  const struct { double secs; std::uint64_t want_secs; std::uint32_t want_nanos; } cases[] = {
      // The Python tests check many more against exact fractions.
      {0.1, 0, 100000000}, {2.675, 2, 675000000}, {5e-10, 0, 1}, {2.5e-9, 0, 3},
      {0.4490089345, 0, 449008935}, {10000000000.123456789, 10000000000u, 123456955},
      {0.9999999999, 1, 0}, {1.9999999995, 1, 999999999},
      // exact ties m + 0.5 ns (odd multiples of 2^-10) go to even
      {1.0 / 1024, 0, 976562}, {3.0 / 1024, 0, 2929688}, {0x1p-31, 0, 0}, {0x1p-30, 0, 1},
      {-0.0, 0, 0}, {0x1.fffffffffffffp+51, 4503599627370495u, 500000000},
      {0x1.fffffffffffffp+63, 18446744073709549568u, 0}};
  for (const auto& c : cases) {
    auto d = Duration::from_secs_f64(c.secs);
    ASSERT_TRUE(d.ok()) << c.secs;
    EXPECT_EQ(d->secs, c.want_secs) << std::hexfloat << c.secs;
    EXPECT_EQ(d->nanos, c.want_nanos) << std::hexfloat << c.secs;
  }
}

TEST(TimestampTest, FromSecsF64Failures) {
  const std::string negative = "cannot convert float seconds to Duration: value is negative";
  const std::string too_big = "cannot convert float seconds to Duration: value is either too big or NaN";
  const double inf = std::numeric_limits<double>::infinity();
  for (auto [secs, message] : {std::pair{-1e-9, negative}, {-inf, negative}, {0x1p64, too_big},
                               {std::numeric_limits<double>::quiet_NaN(), too_big}, {inf, too_big}}) {
    auto t = Timestamp::from_secs_f64(secs);
    ASSERT_FALSE(t.ok()) << secs;
    EXPECT_EQ(t.error().kind, Error::Kind::Value);
    EXPECT_EQ(t.error().message, message);
  }
}

TEST(TimestampTest, WithDtsKeepsTheAnnotation) {
  Timestamp t = Timestamp::from_nanos(7);
  t.annotation = TimestampAnnotation{"ptp", 42, 3};
  const Timestamp u = t.with_dts(3000000001);
  EXPECT_EQ(u.annotation, t.annotation);
  EXPECT_EQ(u.dts, (Duration{3, 1}));
  EXPECT_FALSE(t.dts.has_value());
}

}  // namespace
}  // namespace kelo_core::data
