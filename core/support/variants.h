// Variant names of the core's enumerations: one table per enumeration, in
// enumerator order, declared beside it as a specialization of VariantNames.
//
//   namespace kelo_core {
//   template <>
//   struct VariantNames<data::TrackState> {
//     static constexpr std::array<std::string_view, 4> names = {
//         "Tentative", "Confirmed", "Lost", "Terminated"};
//   };
//   }  // namespace kelo_core
//
// `names` are the enumerators' own names: the debug forms, and the variant
// attributes of the bindings. An open descriptor's variant (data/open.h)
// also gives `canonical`, the lower-case names of reprs and contracts; both
// of its tables leave out the last enumerator, Custom. A closed enumeration
// may give `canonical` too: the names description files write.
#pragma once

#include <cstddef>
#include <string_view>

namespace kelo_core {

template <class E>
struct VariantNames;

template <class E>
concept NamedVariants = requires { VariantNames<E>::names; };

// The enumerator's name, e.g. "PreserveSequence".
template <NamedVariants E>
constexpr std::string_view variant_name(E e) {
  return VariantNames<E>::names[static_cast<std::size_t>(e)];
}

}  // namespace kelo_core
