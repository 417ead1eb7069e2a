// Validation reports, their errors, and the free-function form of
// PyGraph.validate.
#include <string>

#include "graph/topics.h"
#include "graph/validation.h"

namespace kelo::py {

using namespace kelo_core::graph;
using namespace kelo_core::graph::validation;

void add_validation_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ValidationReport>("PyValidationReport", "The result of graph validation.")
          .def<&ValidationReport::is_valid>("is_valid($self)",
                                            "Whether the graph has no validation errors.")
          .property<&ValidationReport::errors>("errors")
          .property<&ValidationReport::warnings>("warnings")
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
