// Embedding vectors: identity, appearance or semantics, as tensors.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "data/model.h"
#include "data/tensor.h"

namespace kelo_core::data {

struct Embedding {
  Tensor tensor;
  std::optional<std::string> name;
  std::optional<ModelReference> model;  // the model that produced it

  // A copy with the model replaced; same tensor and buffer.
  Embedding with_model(ModelReference m) const {
    Embedding e = *this;
    e.model = std::move(m);
    return e;
  }

  friend bool operator==(const Embedding&, const Embedding&) = default;
};

}  // namespace kelo_core::data
