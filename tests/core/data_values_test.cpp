#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "data/format.h"
#include "data/frame.h"
#include "data/geometry.h"
#include "data/tensor.h"
#include "data/time.h"

namespace kelo_core::data {
namespace {

TEST(CoordinateSpaceKindTest, NamesAndRoundTrip) {
  using V = CoordinateSpaceVariant;
  using K = CoordinateSpaceKind;
  const struct { K kind; const char *name, *debug; } cases[] = {
      {V::Pixel, "pixel", "Pixel"}, {V::Normalized, "normalized", "Normalized"},
      {V::Sensor, "sensor", "Sensor"}, {V::World, "world", "World"}, {V::Roi, "roi", "Roi"},
      {K::custom(""), "custom:", "Custom(\"\")"},
      {K::custom("pixel"), "custom:pixel", "Custom(\"pixel\")"},
      {K::custom("custom:x"), "custom:custom:x", "Custom(\"custom:x\")"},
      {K::custom("\t\x01"), "custom:\t\x01", "Custom(\"\\t\\u{1}\")"}};
  for (const auto& c : cases) {
    EXPECT_EQ(coordinate_space_kind_name(c.kind), c.name);
    EXPECT_EQ(debug(c.kind), c.debug);
    auto parsed = parse_coordinate_space_kind(c.name);
    ASSERT_TRUE(parsed.ok()) << c.name;
    EXPECT_EQ(*parsed, c.kind) << c.name;
  }
}

TEST(CoordinateSpaceKindTest, ParseFailures) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "\"\""}, {"Pixel", "\"Pixel\""}, {" pixel", "\" pixel\""}, {"pixel ", "\"pixel \""},
      {"custom", "\"custom\""}, {"Custom:x", "\"Custom:x\""}, {"a\"b\\", "\"a\\\"b\\\\\""},
      {std::string("roi\0", 4), "\"roi\\0\""}};
  for (const auto& [input, quoted] : cases) {
    auto r = parse_coordinate_space_kind(input);
    ASSERT_FALSE(r.ok()) << input;
    EXPECT_EQ(r.error().kind, Error::Kind::Value);
    EXPECT_EQ(r.error().message, "unknown coordinate space kind: " + quoted +
                                     " (expected pixel, normalized, sensor, world, roi or custom:<name>)");
  }
}

// Canonical names are checked through the Python tests; debug forms show in contract summaries
// and reprs.
TEST(DebugFormTest, OpenDescriptorsAndDTypes) {
  std::vector<std::string> pixel, dtypes;
  for (int i = 0; i < 10; ++i) pixel.push_back(debug(PixelFormat(PixelFormatVariant(i))));
  EXPECT_EQ(pixel, (std::vector<std::string>{"RGB8", "RGBA8", "BGR8", "BGRA8", "GRAY8", "GRAY16",
                                             "NV12", "I420", "YUV420", "P010"}));
  EXPECT_EQ(debug(PixelFormat::custom("a\"b\n")), "Custom(\"a\\\"b\\n\")");
  EXPECT_EQ(debug(PixelFormat::custom("")), "Custom(\"\")");
  EXPECT_EQ(debug(ColorSpace(ColorSpaceVariant::Bt2020)), "Bt2020");
  EXPECT_EQ(debug(TensorLayout(TensorLayoutVariant::CHW)), "CHW");
  for (int i = 0; i < 11; ++i) dtypes.push_back(debug(DType(i)));
  EXPECT_EQ(dtypes, (std::vector<std::string>{"UInt8", "Int8", "UInt16", "Int16", "Int32",
                                              "Int64", "Float16", "BFloat16", "Float32",
                                              "Float64", "Bool"}));
}

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
