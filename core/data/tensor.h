// Tensors, described but never stored: element type, shape, optional
// strides and layout, and the logical buffer that holds the bytes elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "data/id.h"
#include "data/open.h"
#include "support/biguint.h"
#include "support/result.h"

namespace kelo_core::data {

enum class DType : std::uint8_t {
  UInt8, Int8, UInt16, Int16, Int32, Int64, Float16, BFloat16, Float32, Float64, Bool,
};

enum class TensorLayoutVariant : std::uint8_t { NCHW, NHWC, CHW, HWC, Custom };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::DType> {
  static constexpr std::array<std::string_view, 11> names = {
      "UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
      "Float16", "BFloat16", "Float32", "Float64", "Bool"};
  // As description files write them.
  static constexpr std::array<std::string_view, 11> canonical = {
      "uint8", "int8", "uint16", "int16", "int32", "int64",
      "float16", "bfloat16", "float32", "float64", "bool"};
};
template <>
struct VariantNames<data::TensorLayoutVariant> {
  static constexpr std::array<std::string_view, 4> canonical = {"nchw", "nhwc", "chw", "hwc"};
  static constexpr std::array<std::string_view, 4> names = {"NCHW", "NHWC", "CHW", "HWC"};
};

}  // namespace kelo_core

namespace kelo_core::data {

// The variant name ("BFloat16").
inline std::string debug(DType dtype) { return std::string(variant_name(dtype)); }

using TensorLayout = Open<TensorLayoutVariant>;

// Nothing relates strides to the shape, nor validates either.
struct Tensor {
  DType dtype{};
  std::vector<std::uint64_t> shape;
  std::optional<std::vector<std::uint64_t>> strides;
  std::optional<TensorLayout> layout;
  std::optional<std::string> name;
  // The memory behind the tensor. Only make() draws a new one; copies name
  // the same buffer.
  BufferId buffer_id;

  // A tensor without strides over a fresh buffer. Fails (Internal) only
  // when the random source does.
  static Result<Tensor> make(DType dtype, std::vector<std::uint64_t> shape,
                             std::optional<std::string> name = std::nullopt,
                             std::optional<TensorLayout> layout = std::nullopt);

  // A copy with the strides replaced; same buffer.
  Tensor with_strides(std::vector<std::uint64_t> strides) const;

  // The product of the shape, exact however large (1 for an empty shape).
  BigUint numel() const;

  friend bool operator==(const Tensor&, const Tensor&) = default;
};

}  // namespace kelo_core::data
