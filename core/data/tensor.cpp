#include "data/tensor.h"

#include <utility>

namespace kelo_core::data {

Result<Tensor> Tensor::make(DType dtype, std::vector<std::uint64_t> shape,
                            std::optional<std::string> name, std::optional<TensorLayout> layout) {
  auto buffer = BufferId::fresh();
  if (!buffer) return buffer.error();
  return Tensor{dtype, std::move(shape), std::nullopt, std::move(layout), std::move(name), *buffer};
}

Tensor Tensor::with_strides(std::vector<std::uint64_t> s) const {
  Tensor t = *this;
  t.strides = std::move(s);
  return t;
}

BigUint Tensor::numel() const { return BigUint::product(shape); }

}  // namespace kelo_core::data
