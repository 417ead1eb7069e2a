#include "graph/edge.h"

#include <utility>

namespace kelo_core::graph {

Result<Edge> Edge::dynamic_output(std::string source_element, std::string pad_name,
                                  PortId target) {
  auto source = PortId::fresh();
  if (!source) return source.error();
  Edge e(*source, target, true);
  e.names_ = Shared<Names>::make(Names{std::move(source_element), std::move(pad_name)});
  return e;
}

}  // namespace kelo_core::graph
