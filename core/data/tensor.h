// Tensor element types and layouts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/open.h"

namespace kelo_core::data {

enum class DType : std::uint8_t {
  UInt8, Int8, UInt16, Int16, Int32, Int64, Float16, BFloat16, Float32, Float64, Bool,
};

// The variant names, by index; also the debug form ("BFloat16").
inline constexpr std::array<std::string_view, 11> kDTypeNames = {
    "UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
    "Float16", "BFloat16", "Float32", "Float64", "Bool"};

inline std::string debug(DType dtype) { return std::string(kDTypeNames[std::size_t(dtype)]); }

enum class TensorLayoutVariant : std::uint8_t { NCHW, NHWC, CHW, HWC, Custom };

template <>
struct VariantNames<TensorLayoutVariant> {
  static constexpr std::array<std::string_view, 4> canonical = {"nchw", "nhwc", "chw", "hwc"};
  static constexpr std::array<std::string_view, 4> debug = {"NCHW", "NHWC", "CHW", "HWC"};
};

using TensorLayout = Open<TensorLayoutVariant>;

}  // namespace kelo_core::data
