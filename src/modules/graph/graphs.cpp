// Graphs, mutated in place, and the graph builder, whose every step leaves
// its receiver as it was.
#include <optional>
#include <string>
#include <vector>

#include "graph/graph.h"
#include "graph/topics.h"
#include "graph/validation.h"

namespace kelo::py {

using namespace kelo_core::graph;
using kelo_core::Result;

void add_graph_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Graph>("PyGraph()", "A declarative collection of elements and edges.")
          .init<[] { return Graph(); }>()
          .def<[](Graph& g, const kelo_core::Shared<Element>& element) { g.add_element(element); }>(
              "add_element($self, element)")
          .def<[](Graph& g, Edge edge) { g.add_edge(std::move(edge)); }>("add_edge($self, edge)")
          .def<[](const Graph& g, const ElementId& id) -> std::optional<kelo_core::Shared<Element>> {
            std::optional<Element> found = g.find_element(id);
            if (!found) return std::nullopt;
            return kelo_core::Shared<Element>::of(*std::move(found));
          }>("find_element($self, id)", "Find an element by ID.")
          .property<[](const Graph& g) {
            std::vector<kelo_core::Shared<Element>> out;
            out.reserve(g.num_elements());
            for (std::size_t i = 0; i < g.num_elements(); ++i) {
              out.push_back(kelo_core::Shared<Element>::of(g.element(i)));
            }
            return out;
          }>("elements")
          .property<&Graph::edges>("edges")
          .def<&Graph::num_elements>("num_elements($self)")
          .def<&Graph::num_edges>("num_edges($self)")
          .def<[](const Graph& g) { return validation::validate(g); }>(
              "validate($self)", "Validate this graph (RFC-003 \xc2\xa7" "16).")
          .repr<[](const Graph& g) {
            return "PyGraph(elements=" + std::to_string(g.num_elements()) +
                   ", edges=" + std::to_string(g.num_edges()) + ")";
          }>());

  // Each step adds one node on top of the receiver's chain and shares the
  // rest, so a step costs the same however long the chain; build() copies
  // the items out once.
  out.push_back(
      Class<SharedGraphBuilder>(
          "PyGraphBuilder()",
          "Fluent builder for constructing graphs.\n\nThe builder is immutable and chainable: "
          "every method returns a new\nbuilder. This is cheap because only the graph is copied.")
          .init<[] { return SharedGraphBuilder(); }>()
          .def<[](const SharedGraphBuilder& b, const kelo_core::Shared<Element>& element) {
            return b.add_element(element);
          }>("add_element($self, element)", "Add an element.")
          .def<[](const SharedGraphBuilder& b, Edge edge) { return b.add_edge(std::move(edge)); }>(
              "add_edge($self, edge)", "Add an edge.")
          .def<[](const SharedGraphBuilder& b, PortId source, PortId target) {
            return b.add_edge(Edge::plain(source, target));
          }>("connect($self, source, target)", "Connect an output port to an input port.")
          .def<[](const SharedGraphBuilder& b, PortId source, PortId target) {
            return b.add_edge(Edge::late(source, target));
          }>("connect_late($self, source, target)")
          .def<[](const SharedGraphBuilder& b, std::string source_element, std::string pad_name,
                  PortId target) -> Result<SharedGraphBuilder> {
            auto edge =
                Edge::dynamic_output(std::move(source_element), std::move(pad_name), target);
            if (!edge) return edge.error();
            return b.add_edge(*std::move(edge));
          }>("connect_dynamic($self, source_element, pad_name, target)",
             "Connect a dynamic output pad of `source_element` to `target`.")
          .def<&SharedGraphBuilder::build>("build($self)", "Finish and return the graph."));
}

}  // namespace kelo::py
