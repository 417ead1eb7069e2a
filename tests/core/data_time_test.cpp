#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "data/frame.h"
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

// Identities, capabilities and the rest of a frame's fields are checked through the Python
// tests; these pin how a duration is split and read back, past 64 bits included.
TEST(FrameTest, WithDurationSplitsAndReplaces) {
  auto f = Frame::create(StreamId{}, 0, Timestamp::from_nanos(0),
                         VideoFormat::make(1920, 1080, PixelFormatVariant::NV12));
  ASSERT_TRUE(f.ok());
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const struct { std::uint64_t nanos; Duration want; } cases[] = {
      {0, {0, 0}}, {999999999, {0, 999999999}}, {1000000000, {1, 0}},
      {1500000001, {1, 500000001}}, {kMax, {kMax / 1000000000, std::uint32_t(kMax % 1000000000)}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.nanos);
    Frame g = f->with_duration_ns(1).with_duration_ns(c.nanos);
    EXPECT_EQ(g.duration, c.want);
    EXPECT_TRUE(g.duration_ns() == Nanos128(c.nanos));
    g.duration.reset();
    EXPECT_EQ(g, *f);  // handles and everything else kept
  }
  EXPECT_FALSE(f->duration.has_value());
  Frame longest;
  longest.duration = Duration{kMax, 999999999};
  EXPECT_TRUE(longest.duration_ns() == Nanos128(kMax) * 1000000000u + 999999999u);
}

}  // namespace
}  // namespace kelo_core::data
