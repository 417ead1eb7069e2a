// Pixel formats, colour spaces and ranges, video formats, dtypes and tensor
// layouts.
#include "data/format.h"
#include "data/open_class.h"
#include "data/tensor.h"
#include "data/topics.h"
#include "toolkit/builder.h"

namespace kelo::py {

using namespace kelo_core::data;

void add_format_classes(std::vector<ClassSpec>& out) {
  out.push_back(open_descriptor<PixelFormatVariant>(
                    "PyPixelFormat", "A pixel format (with a `custom:<name>` escape hatch).",
                    "Canonical name: `rgb8`, `rgba8`, `bgr8`, `bgra8`, `gray8`,\n`gray16`, `nv12`, "
                    "`i420`, `yuv420`, `p010` or `custom:<name>`.")
                    .str<[](const PixelFormat& f) { return canonical_name(f); }>());

  out.push_back(open_descriptor<ColorSpaceVariant>(
                    "PyColorSpace", "A color space descriptor (with a `custom:<name>` escape hatch).",
                    "Canonical name: `bt601`, `bt709`, `bt2020`, `srgb` or `custom:<name>`.")
                    .str<[](const ColorSpace& c) { return canonical_name(c); }>());

  out.push_back(Enum<ColorRange>("PyColorRange"));

  out.push_back(
      Class<VideoFormat>("PyVideoFormat(width, height, pixel_format)",
                         "The video format of a stream or frame.")
          .init<&VideoFormat::make>()
          .property<&VideoFormat::width>("width")
          .property<&VideoFormat::height>("height")
          .property<&VideoFormat::pixel_format>("pixel_format")
          .property<&VideoFormat::color_space>("color_space")
          .property<&VideoFormat::color_range>("color_range")
          .property<&VideoFormat::frame_rate>("frame_rate")
          .def<&with<&VideoFormat::color_space>>("with_color_space($self, cs)",
                                                 "Set the color space (builder-style).")
          .def<&with<&VideoFormat::color_range>>("with_color_range($self, range)",
                                                 "Set the color range (builder-style).")
          .def<&with<&VideoFormat::frame_rate>>("with_frame_rate($self, rate)",
                                                "Set the frame rate (builder-style).")
          .repr<[](const VideoFormat& f) {
            return "PyVideoFormat(" + std::to_string(f.width) + "x" + std::to_string(f.height) +
                   ", pixel=" + canonical_name(f.pixel_format) + ")";
          }>());

  out.push_back(Enum<DType>("PyDType"));

  out.push_back(open_descriptor<TensorLayoutVariant>(
      "PyTensorLayout", "A tensor layout descriptor.",
      "Canonical name: `nchw`, `nhwc`, `chw`, `hwc` or `custom:<name>`."));
}

}  // namespace kelo::py
