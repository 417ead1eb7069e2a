#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "data/time.h"

namespace kelo_core::data {
namespace {

// Rounding is checked against exact fractions, and two of these messages, by the Python tests.
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
