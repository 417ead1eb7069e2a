#include <string>

#include <gtest/gtest.h>

#include "data/format.h"
#include "data/geometry.h"
#include "data/tensor.h"

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

TEST(OpenDescriptorTest, CanonicalAndDebugNames) {
  using P = PixelFormatVariant;
  const struct { PixelFormat value; const char *canonical, *debug; } pixel[] = {
      {P::RGB8, "rgb8", "RGB8"}, {P::RGBA8, "rgba8", "RGBA8"}, {P::BGR8, "bgr8", "BGR8"},
      {P::BGRA8, "bgra8", "BGRA8"}, {P::GRAY8, "gray8", "GRAY8"}, {P::GRAY16, "gray16", "GRAY16"},
      {P::NV12, "nv12", "NV12"}, {P::I420, "i420", "I420"}, {P::YUV420, "yuv420", "YUV420"},
      {P::P010, "p010", "P010"}, {PixelFormat::custom("y210"), "custom:y210", "Custom(\"y210\")"},
      {PixelFormat::custom(""), "custom:", "Custom(\"\")"},
      {PixelFormat::custom("a\"b\n"), "custom:a\"b\n", "Custom(\"a\\\"b\\n\")"}};
  for (const auto& c : pixel) {
    EXPECT_EQ(canonical_name(c.value), c.canonical);
    EXPECT_EQ(debug(c.value), c.debug);
  }
  EXPECT_EQ(debug(ColorSpace(ColorSpaceVariant::Bt2020)), "Bt2020");
  EXPECT_EQ(debug(TensorLayout(TensorLayoutVariant::CHW)), "CHW");
}

TEST(DebugFormTest, DTypes) {
  const char* names[] = {"UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
                         "Float16", "BFloat16", "Float32", "Float64", "Bool"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(debug(static_cast<DType>(i)), names[i]);
}

}  // namespace
}  // namespace kelo_core::data
