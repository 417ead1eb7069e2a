// Validation reports, their errors, and the free-function form of
// PyGraph.validate.
#include <optional>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "graph/topics.h"
#include "graph/validation.h"

namespace kelo::py {

using namespace kelo_core::graph;
using namespace kelo_core::graph::validation;

namespace {

std::vector<ElementId> error_elements(const GraphValidationError& e) {
  if (const auto* d = std::get_if<DuplicateElementId>(&e.payload())) return {d->id};
  if (const auto* c = std::get_if<CycleDetected>(&e.payload())) return c->elements;
  return {};
}

std::vector<std::string> warning_texts(const ValidationReport& r) {
  std::vector<std::string> texts;
  texts.reserve(r.warnings.size());
  for (const GraphValidationWarning& w : r.warnings) texts.push_back(w.message());
  return texts;
}

}  // namespace

void add_validation_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ValidationReport>("PyValidationReport", "The result of graph validation.")
          .def<&ValidationReport::is_valid>("is_valid($self)",
                                            "Whether the graph has no validation errors.")
          .property<&ValidationReport::errors>("errors")
          .property<&warning_texts>("warnings")
          .repr<[](const ValidationReport& r) {
            return std::string("PyValidationReport(valid=") + (r.is_valid() ? "true" : "false") +
                   ", errors=" + std::to_string(r.errors.size()) +
                   ", warnings=" + std::to_string(r.warnings.size()) + ")";
          }>());

  out.push_back(
      Class<GraphValidationError>("PyGraphValidationError", "A single graph validation error.")
          .def<&GraphValidationError::kind_name>(
              "kind($self)", "Machine-readable error kind, e.g. `CycleDetected`.")
          .def<&GraphValidationError::message>("message($self)",
                                               "Human-readable error description.")
          .property<&GraphValidationError::ports>(
              "port_ids",
              "The ports the error concerns: an edge's source and target, or the\n"
              "one port it names; empty for a cycle and a repeated element id.")
          .property<&error_elements>(
              "element_ids",
              "The elements the error concerns: the repeated id, or the elements\n"
              "of the cycle in path order (each has an edge into the next, the\n"
              "last into the first); empty otherwise.")
          .property<&GraphValidationError::element_name>(
              "element_name",
              "The source element name of a dynamic-output edge, if the error\n"
              "concerns one.")
          .str<&GraphValidationError::message>()
          .repr<[](const GraphValidationError& e) {
            return "PyGraphValidationError(" + std::string(e.kind_name()) + ")";
          }>());
}

void add_validation_functions(std::vector<FunctionSpec>& out) {
  out.push_back(Function<[](const Graph& graph) { return validate(graph); }>(
      "validate_graph(graph)",
      "Validate a graph (RFC-003 \xc2\xa7" "16) \xe2\x80\x94 free-function form of\n"
      "`PyGraph.validate`."));
}

}  // namespace kelo::py
