// Tensors, model references and embeddings.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/embedding.h"
#include "data/tensor.h"
#include "data/topics.h"
#include "support/text.h"

namespace kelo::py {

using namespace kelo_core::data;
namespace text = kelo_core::text;

void add_tensor_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Tensor>("PyTensor(dtype, shape, name=None, layout=None)",
                    "A tensor: dtype, shape, layout and a logical buffer handle.\n\nNote: the Kelo "
                    "data model is handle-based \xe2\x80\x94 `Tensor` carries a\n[`PyBufferId`] "
                    "referencing memory managed by the memory model\n(RFC-002), not inline bytes.")
          .init<[](DType dtype, std::vector<std::uint64_t> shape, std::optional<std::string> name,
                   std::optional<TensorLayout> layout) {
            return Tensor::make(dtype, std::move(shape), std::move(name), std::move(layout));
          }>()
          .property<&Tensor::dtype>("dtype")
          .property<&Tensor::shape>("shape")
          .property<&Tensor::strides>("strides")
          .property<&Tensor::layout>("layout")
          .property<&Tensor::name>("name")
          .property<&Tensor::buffer_id>("buffer_id", "The logical buffer backing this tensor.")
          .def<&Tensor::with_strides>("with_strides($self, strides)",
                                      "Set explicit strides (builder-style).")
          .def<&Tensor::numel>("numel($self)", "Total number of elements (product of the shape).")
          .repr<[](const Tensor& t) {
            return "PyTensor(dtype=" + debug(t.dtype) + ", shape=" + text::debug(t.shape) + ")";
          }>());

  out.push_back(Class<ModelReference>("PyModelReference(id)",
                                      "Reference to the model that produced a result.")
                    .init<[](std::string id) { return ModelReference{std::move(id), std::nullopt}; }>()
                    .property<&ModelReference::id>("id")
                    .property<&ModelReference::version>("version")
                    .def<&ModelReference::with_version>("with_version($self, version)",
                                                        "Attach a version (builder-style).")
                    .repr<[](const ModelReference& m) { return "PyModelReference(" + m.id + ")"; }>());

  out.push_back(
      Class<Embedding>("PyEmbedding(tensor, name=None)",
                       "An embedding vector \xe2\x80\x94 identity, appearance or semantics.")
          .init<[](Tensor tensor, std::optional<std::string> name) {
            return Embedding{std::move(tensor), std::move(name), std::nullopt};
          }>()
          .property<&Embedding::tensor>("tensor")
          .property<&Embedding::name>("name")
          .property<&Embedding::model>("model")
          .def<&Embedding::with_model>("with_model($self, model)",
                                       "Attach the producing model (builder-style).")
          .repr<[](const Embedding& e) { return "PyEmbedding(name=" + text::debug(e.name) + ")"; }>());
}

}  // namespace kelo::py
