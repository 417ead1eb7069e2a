#include "data/format.h"

#include <utility>

namespace kelo_core::data {

VideoFormat VideoFormat::make(std::uint32_t width, std::uint32_t height, PixelFormat pixel_format) {
  VideoFormat f;
  f.width = width;
  f.height = height;
  f.pixel_format = std::move(pixel_format);
  return f;
}

}  // namespace kelo_core::data
