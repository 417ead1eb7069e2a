// Edges between ports: plain, late-binding and dynamic-output.
#include <string>

#include "graph/edge.h"
#include "graph/topics.h"

namespace kelo::py {

using namespace kelo_core::graph;

void add_edge_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Edge>("PyEdge(source, target)", "A logical data-flow relationship between two ports.")
          .init<&Edge::plain>()
          .def_static<&Edge::late>("late_binding(source, target)")
          .def_static<&Edge::dynamic_output>("dynamic_output(source_element, pad_name, target)")
          .property<&Edge::source>("source")
          .property<&Edge::target>("target")
          .property<&Edge::late_binding>("is_late_binding")
          .property<&Edge::source_element>("source_element",
                                           "Owning element of a dynamic source pad, if attributed.")
          .property<&Edge::source_pad>("source_pad",
                                       "Semantic name of a dynamic source pad, if any.")
          .def<&Edge::with_late_binding>("with_late_binding($self)",
                                         "Mark this edge as late-binding (builder-style).")
          .repr<[](const Edge& e) {
            return "PyEdge(" + e.source.str() + " -> " + e.target.str() +
                   (e.late_binding() ? " [late])" : ")");
          }>());
}

}  // namespace kelo::py
