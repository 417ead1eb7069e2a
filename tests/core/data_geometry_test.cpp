#include <string>

#include <gtest/gtest.h>

#include "data/geometry.h"

namespace kelo_core::data {
namespace {

TEST(CoordinateSpaceKindTest, NamesAndRoundTrip) {
  using V = CoordinateSpaceVariant;
  using K = CoordinateSpaceKind;
  const struct { K kind; const char *name, *debug; } cases[] = {
      {V::Pixel, "pixel", "Pixel"}, {V::Normalized, "normalized", "Normalized"},
      {V::Sensor, "sensor", "Sensor"}, {V::World, "world", "World"}, {V::Roi, "roi", "Roi"},
      {K::custom("lidar"), "custom:lidar", "Custom(\"lidar\")"}, {K::custom(""), "custom:", "Custom(\"\")"},
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

TEST(CoordinateSpaceTest, EqualityIncludesReference) {
  CoordinateSpace anchored = CoordinateSpace::of(CoordinateSpaceVariant::World);
  anchored.reference = CoordinateSpaceReference{1, Uuid{}};
  CoordinateSpace other = anchored, by_kind = anchored, by_id = anchored;
  by_kind.reference->kind = 2;
  by_id.reference->id.bytes[15] = 1;
  EXPECT_EQ(other, anchored);
  for (const auto& s : {CoordinateSpace::of(CoordinateSpaceVariant::World), by_kind, by_id})
    EXPECT_NE(s, anchored);
}

}  // namespace
}  // namespace kelo_core::data
