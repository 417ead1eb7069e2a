// Results converted to a new dict.
#pragma once

#include "toolkit/convert.h"

namespace kelo::py {

// A view of a range of key-value pairs (a map, a sorted array of pairs, ...)
// that converts to a new dict, entries inserted in the range's order. Return
// it from a callable over a value the call holds, e.g.
//   .def<[](const Config& c) { return Dict(c.entries()); }>("to_dict($self)")
template <class Range>
struct Dict {
  const Range& items;
};
template <class Range>
Dict(const Range&) -> Dict<Range>;

template <class Range>
struct has_own_conversion<Dict<Range>> : std::true_type {};

template <class Range>
PyObject* to_py(const Dict<Range>& d) {
  Ref dict(PyDict_New());
  if (!dict) return nullptr;
  for (const auto& [key, value] : d.items) {
    Ref k(to_py(key));
    if (!k) return nullptr;
    Ref v(to_py(value));
    if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
  }
  return dict.release();
}

}  // namespace kelo::py
