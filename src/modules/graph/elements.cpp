// Element types, ports and elements.
#include <string>

#include "graph/element_type.h"
#include "graph/topics.h"

namespace kelo::py {

using namespace kelo_core::graph;

void add_element_type_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ElementTypeId>("PyElementTypeId(s)",
                           "Stable semantic identity of a computation (e.g. `kelo.decode.h264`).")
          .init<[](std::string s) { return ElementTypeId{std::move(s)}; }>()
          .def<[](const ElementTypeId& t) -> const std::string& { return t.text; }>("as_str($self)")
          .str<[](const ElementTypeId& t) -> const std::string& { return t.text; }>()
          .repr<[](const ElementTypeId& t) { return "PyElementTypeId('" + t.text + "')"; }>()
          .equality()
          .hash());
}

}  // namespace kelo::py
