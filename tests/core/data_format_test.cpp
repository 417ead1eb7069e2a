#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/format.h"
#include "data/tensor.h"

namespace kelo_core::data {
namespace {

template <class T>
std::uint64_t hash_of(const T& v) {
  HashStream h;
  hash_into(h, v);
  return h.finish();
}

std::uint64_t hash_of_bytes(const std::vector<unsigned char>& b) {
  return HashStream().bytes(b.data(), b.size()).finish();
}

TEST(OpenDescriptorTest, NamesOfEveryVariant) {
  const struct {
    PixelFormat value;
    const char* canonical;
    const char* debug;
  } pixel[] = {
      {PixelFormatVariant::RGB8, "rgb8", "RGB8"},       {PixelFormatVariant::RGBA8, "rgba8", "RGBA8"},
      {PixelFormatVariant::BGR8, "bgr8", "BGR8"},       {PixelFormatVariant::BGRA8, "bgra8", "BGRA8"},
      {PixelFormatVariant::GRAY8, "gray8", "GRAY8"},    {PixelFormatVariant::GRAY16, "gray16", "GRAY16"},
      {PixelFormatVariant::NV12, "nv12", "NV12"},       {PixelFormatVariant::I420, "i420", "I420"},
      {PixelFormatVariant::YUV420, "yuv420", "YUV420"}, {PixelFormatVariant::P010, "p010", "P010"},
      {PixelFormat::custom("y210"), "custom:y210", "Custom(\"y210\")"},
      {PixelFormat::custom(""), "custom:", "Custom(\"\")"},
      {PixelFormat::custom("rgb8"), "custom:rgb8", "Custom(\"rgb8\")"},
      {PixelFormat::custom("a\"b\n"), "custom:a\"b\n", "Custom(\"a\\\"b\\n\")"},
  };
  for (const auto& c : pixel) {
    EXPECT_EQ(canonical_name(c.value), c.canonical);
    EXPECT_EQ(debug(c.value), c.debug);
  }
  EXPECT_EQ(PixelFormat(PixelFormatVariant::P010).index(), 9u);

  const std::vector<std::pair<ColorSpace, std::string>> color = {
      {ColorSpaceVariant::Bt601, "bt601"}, {ColorSpaceVariant::Bt709, "bt709"},
      {ColorSpaceVariant::Bt2020, "bt2020"}, {ColorSpaceVariant::Srgb, "srgb"},
      {ColorSpace::custom("a"), "custom:a"}};
  for (const auto& [value, name] : color) EXPECT_EQ(canonical_name(value), name);

  const std::vector<std::pair<TensorLayout, std::string>> layout = {
      {TensorLayoutVariant::NCHW, "nchw"}, {TensorLayoutVariant::NHWC, "nhwc"},
      {TensorLayoutVariant::CHW, "chw"}, {TensorLayoutVariant::HWC, "hwc"},
      {TensorLayout::custom("nc"), "custom:nc"}};
  for (const auto& [value, name] : layout) EXPECT_EQ(canonical_name(value), name);
}

TEST(OpenDescriptorTest, Equality) {
  EXPECT_EQ(PixelFormat::custom("a"), PixelFormat::custom("a"));
  EXPECT_NE(PixelFormat::custom("a"), PixelFormat::custom("b"));
  EXPECT_NE(PixelFormat::custom("rgb8"), PixelFormat(PixelFormatVariant::RGB8));
  EXPECT_NE(PixelFormat(PixelFormatVariant::RGB8), PixelFormat(PixelFormatVariant::BGR8));
  EXPECT_EQ(ColorSpace(ColorSpaceVariant::Srgb), ColorSpace(ColorSpaceVariant::Srgb));
  EXPECT_NE(TensorLayout::custom(""), TensorLayout(TensorLayoutVariant::NCHW));
}

TEST(OpenDescriptorTest, HashStreamLayout) {
  // 8-byte little-endian index; custom adds the name's bytes and 0xFF.
  EXPECT_EQ(hash_of(PixelFormat(PixelFormatVariant::NV12)),
            hash_of_bytes({6, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(hash_of(PixelFormat::custom("y210")),
            hash_of_bytes({10, 0, 0, 0, 0, 0, 0, 0, 'y', '2', '1', '0', 0xFF}));
  EXPECT_EQ(hash_of(PixelFormat::custom("")), hash_of_bytes({10, 0, 0, 0, 0, 0, 0, 0, 0xFF}));
  EXPECT_EQ(hash_of(ColorSpace::custom("\xC3\xA9")),
            hash_of_bytes({4, 0, 0, 0, 0, 0, 0, 0, 0xC3, 0xA9, 0xFF}));
  EXPECT_EQ(hash_of(TensorLayout(TensorLayoutVariant::HWC)), hash_of_bytes({3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_NE(hash_of(PixelFormat::custom("rgb8")), hash_of(PixelFormat(PixelFormatVariant::RGB8)));
}

TEST(VideoFormatTest, MakeTakesDefaults) {
  const VideoFormat f = VideoFormat::make(640, 480, PixelFormat::custom("bayer"));
  EXPECT_EQ(f.width, 640u);
  EXPECT_EQ(f.height, 480u);
  EXPECT_EQ(f.pixel_format, PixelFormat::custom("bayer"));
  EXPECT_EQ(canonical_name(f.color_space), "srgb");
  EXPECT_EQ(f.color_range, ColorRange::Full);
  EXPECT_FALSE(f.frame_rate.has_value());
  EXPECT_EQ(static_cast<int>(ColorRange::Limited), 0);
}

TEST(DTypeTest, IndexAndDebugName) {
  const char* names[] = {"UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
                         "Float16", "BFloat16", "Float32", "Float64", "Bool"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(debug(static_cast<DType>(i)), names[i]);
  EXPECT_EQ(static_cast<int>(DType::BFloat16), 7);
  EXPECT_EQ(static_cast<int>(DType::Bool), 10);
}

TEST(DebugFormTest, ComposesWithGenericForms) {
  EXPECT_EQ(text::debug(std::optional<DType>(DType::Int8)), "Some(Int8)");
  EXPECT_EQ(text::debug(std::vector<PixelFormat>{PixelFormatVariant::NV12, PixelFormat::custom("x")}),
            "[NV12, Custom(\"x\")]");
}

}  // namespace
}  // namespace kelo_core::data
