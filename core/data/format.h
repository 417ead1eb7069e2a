// Video format descriptors: pixel formats, colour spaces and ranges, and the
// video format of a stream or frame.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "data/open.h"
#include "data/time.h"

namespace kelo_core::data {

enum class PixelFormatVariant : std::uint8_t {
  RGB8, RGBA8, BGR8, BGRA8, GRAY8, GRAY16, NV12, I420, YUV420, P010, Custom,
};

enum class ColorSpaceVariant : std::uint8_t { Bt601, Bt709, Bt2020, Srgb, Custom };

enum class ColorRange : std::uint8_t { Limited, Full };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::PixelFormatVariant> {
  static constexpr std::array<std::string_view, 10> canonical = {
      "rgb8", "rgba8", "bgr8", "bgra8", "gray8", "gray16", "nv12", "i420", "yuv420", "p010"};
  static constexpr std::array<std::string_view, 10> names = {
      "RGB8", "RGBA8", "BGR8", "BGRA8", "GRAY8", "GRAY16", "NV12", "I420", "YUV420", "P010"};
};
template <>
struct VariantNames<data::ColorSpaceVariant> {
  static constexpr std::array<std::string_view, 4> canonical = {"bt601", "bt709", "bt2020", "srgb"};
  static constexpr std::array<std::string_view, 4> names = {"Bt601", "Bt709", "Bt2020", "Srgb"};
};
template <>
struct VariantNames<data::ColorRange> {
  static constexpr std::array<std::string_view, 2> names = {"Limited", "Full"};
};

}  // namespace kelo_core

namespace kelo_core::data {

// PixelFormat(PixelFormat::Variant::NV12), PixelFormat::custom("y210").
using PixelFormat = Open<PixelFormatVariant>;

using ColorSpace = Open<ColorSpaceVariant>;

// Nothing is validated: a zero width or height is accepted.
struct VideoFormat {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  PixelFormat pixel_format;
  ColorSpace color_space = ColorSpaceVariant::Srgb;
  ColorRange color_range = ColorRange::Full;
  std::optional<FrameRate> frame_rate;

  // The given size and pixel format; srgb, full range, no frame rate.
  static VideoFormat make(std::uint32_t width, std::uint32_t height, PixelFormat pixel_format);

  friend bool operator==(const VideoFormat&, const VideoFormat&) = default;
};

}  // namespace kelo_core::data
