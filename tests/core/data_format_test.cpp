#include <string>

#include <gtest/gtest.h>

#include "data/format.h"
#include "data/tensor.h"

namespace kelo_core::data {
namespace {

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
