// The open descriptors (pixel formats, colour spaces, tensor layouts): one
// declaration for every closed list with a `custom:<name>` escape hatch.
#pragma once

#include <string>
#include <utility>

#include "data/open.h"
#include "toolkit/class.h"

namespace kelo::py {

// A class with a static constructor per well-known variant (named by its
// canonical name), custom(name), name(), a repr "<Name>(<canonical>)",
// equality and hash.
template <class V>
Class<kelo_core::data::Open<V>> open_descriptor(const char* name, const char* doc,
                                                const char* name_doc,
                                                const char* const* variant_docs = nullptr) {
  using kelo_core::data::Open;
  using kelo_core::VariantNames;
  Class<Open<V>> c(name, doc);
  [&]<std::size_t... I>(std::index_sequence<I...>) {
    (c.template def_static<[] { return Open<V>(static_cast<V>(I)); }>(
         (std::string(VariantNames<V>::canonical[I]) + "()").c_str(),
         variant_docs ? variant_docs[I] : nullptr),
     ...);
  }(std::make_index_sequence<VariantNames<V>::canonical.size()>{});
  c.template def_static<[](std::string name) { return Open<V>::custom(std::move(name)); }>(
       "custom(name)", variant_docs ? variant_docs[VariantNames<V>::canonical.size()] : nullptr)
      .template def<[](const Open<V>& o) { return canonical_name(o); }>("name($self)", name_doc)
      .template repr<[](const Open<V>& o) {
        return std::string(PyClass<Open<V>>::name) + "(" + canonical_name(o) + ")";
      }>()
      .equality()
      .hash();
  return c;
}

}  // namespace kelo::py
