#include <cmath>
#include <string>

#include <gtest/gtest.h>

#include "data/geometry.h"

namespace kelo_core::data {
namespace {

const std::string kExpected = " (expected pixel, normalized, sensor, world, roi or custom:<name>)";

TEST(CoordinateSpaceKindTest, NamesAndRoundTrip) {
  const struct {
    CoordinateSpaceKind kind;
    const char* name;
    const char* debug;
  } cases[] = {
      {CoordinateSpaceVariant::Pixel, "pixel", "Pixel"},
      {CoordinateSpaceVariant::Normalized, "normalized", "Normalized"},
      {CoordinateSpaceVariant::Sensor, "sensor", "Sensor"},
      {CoordinateSpaceVariant::World, "world", "World"},
      {CoordinateSpaceVariant::Roi, "roi", "Roi"},
      {CoordinateSpaceKind::custom("lidar"), "custom:lidar", "Custom(\"lidar\")"},
      {CoordinateSpaceKind::custom(""), "custom:", "Custom(\"\")"},
      {CoordinateSpaceKind::custom("pixel"), "custom:pixel", "Custom(\"pixel\")"},
      {CoordinateSpaceKind::custom("custom:x"), "custom:custom:x", "Custom(\"custom:x\")"},
      {CoordinateSpaceKind::custom("\t\x01"), "custom:\t\x01", "Custom(\"\\t\\u{1}\")"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(coordinate_space_kind_name(c.kind), c.name);
    EXPECT_EQ(debug(c.kind), c.debug);
    auto parsed = parse_coordinate_space_kind(c.name);
    ASSERT_TRUE(parsed.ok()) << c.name;
    EXPECT_EQ(*parsed, c.kind) << c.name;
  }
  EXPECT_NE(*parse_coordinate_space_kind("custom:pixel"),
            CoordinateSpaceKind(CoordinateSpaceVariant::Pixel));
}

TEST(CoordinateSpaceKindTest, ParseFailures) {
  const struct {
    std::string input;
    std::string quoted;
  } cases[] = {
      {"", "\"\""},
      {"Pixel", "\"Pixel\""},
      {" pixel", "\" pixel\""},
      {"pixel ", "\"pixel \""},
      {"custom", "\"custom\""},
      {"Custom:x", "\"Custom:x\""},
      {"a\"b\\", "\"a\\\"b\\\\\""},
      {std::string("roi\0", 4), "\"roi\\0\""},
  };
  for (const auto& c : cases) {
    auto r = parse_coordinate_space_kind(c.input);
    ASSERT_FALSE(r.ok()) << c.input;
    EXPECT_EQ(r.error().kind, Error::Kind::Value);
    EXPECT_EQ(r.error().message, "unknown coordinate space kind: " + c.quoted + kExpected);
  }
}

TEST(CoordinateSpaceTest, EqualityIncludesReference) {
  const auto custom_a = CoordinateSpace::of(CoordinateSpaceKind::custom("a"));
  EXPECT_EQ(custom_a, CoordinateSpace::of(CoordinateSpaceKind::custom("a")));
  EXPECT_NE(custom_a, CoordinateSpace::of(CoordinateSpaceKind::custom("b")));

  CoordinateSpace anchored = CoordinateSpace::of(CoordinateSpaceVariant::World);
  anchored.reference = CoordinateSpaceReference{1, Uuid{}};
  EXPECT_NE(anchored, CoordinateSpace::of(CoordinateSpaceVariant::World));
  CoordinateSpace other = anchored;
  EXPECT_EQ(other, anchored);
  other.reference->kind = 2;
  EXPECT_NE(other, anchored);
  other = anchored;
  other.reference->id.bytes[15] = 1;
  EXPECT_NE(other, anchored);
}

TEST(BoundingBoxTest, DefaultsEdgesAndEquality) {
  const BoundingBox box{0, 0, 10, 5};
  EXPECT_EQ(coordinate_space_kind_name(box.coordinate_space.kind), "pixel");
  EXPECT_FALSE(box.coordinate_space.reference.has_value());
  EXPECT_EQ(box.right(), 10.0f);
  EXPECT_EQ(box.bottom(), 5.0f);

  // Sums are rounded to single precision, not carried out in double.
  const BoundingBox frac{0.1f, 16777216.0f, 0.2f, 1.0f};
  EXPECT_EQ(double(frac.right()), 0.30000001192092896);
  EXPECT_NE(double(frac.right()), double(0.1f) + double(0.2f));
  EXPECT_EQ(frac.bottom(), 16777216.0f);

  EXPECT_EQ((BoundingBox{1, 2, 3, 4}), (BoundingBox{1, 2, 3, 4}));
  BoundingBox normalized{1, 2, 3, 4};
  normalized.coordinate_space = CoordinateSpace::of(CoordinateSpaceVariant::Normalized);
  EXPECT_NE(normalized, (BoundingBox{1, 2, 3, 4}));
  EXPECT_EQ((BoundingBox{0.0f, 0, 1, 1}), (BoundingBox{-0.0f, 0, 1, 1}));
  EXPECT_NE((BoundingBox{NAN, 0, 1, 1}), (BoundingBox{NAN, 0, 1, 1}));
}

TEST(PolygonTest, DefaultsAndEquality) {
  const Polygon empty;
  EXPECT_TRUE(empty.exterior.empty());
  EXPECT_TRUE(empty.holes.empty());
  EXPECT_EQ(empty.coordinate_space, CoordinateSpace::of(CoordinateSpaceVariant::Pixel));

  Polygon p{{{0, 0}, {1, 0}, {0, 1}}, {}, {}};
  Polygon q = p;
  EXPECT_EQ(p, q);
  q.holes.push_back({{0.1f, 0.1f}});
  EXPECT_NE(p, q);
  EXPECT_EQ((Point2D{0.0f, 1.0f}), (Point2D{-0.0f, 1.0f}));
}

}  // namespace
}  // namespace kelo_core::data
