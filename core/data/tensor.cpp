#include "data/tensor.h"

namespace kelo_core::data {

std::string debug(DType dtype) {
  static constexpr std::array<std::string_view, 11> names = {
      "UInt8", "Int8", "UInt16", "Int16", "Int32", "Int64",
      "Float16", "BFloat16", "Float32", "Float64", "Bool"};
  return std::string(names[static_cast<std::size_t>(dtype)]);
}

}  // namespace kelo_core::data
