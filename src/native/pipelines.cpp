// Helpers of the pipeline checker (python/kelo/checker/): a contract of any
// category with constraints, graph validation as typed findings placed by
// index, the names description files use, and provider selection with a
// verdict for every candidate, from the core's own selection walk.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/format.h"
#include "data/geometry.h"
#include "data/tensor.h"
#include "graph/contract.h"
#include "graph/element_type.h"
#include "graph/graph.h"
#include "graph/validation.h"
#include "native/results.h"
#include "native/topics.h"
#include "provider/descriptor.h"
#include "provider/registry.h"
#include "provider/selection.h"
#include "support/result.h"

namespace kelo::py {

namespace {

using kelo_core::Error;
using kelo_core::Result;
using kelo_core::graph::ContractSpec;
using kelo_core::graph::DataContract;
using kelo_core::graph::ElementTypeId;
using namespace kelo_core::provider;

Result<DataContract> contract_with(std::string_view category, const ContractSpec& spec) {
  if (category == "frame") return DataContract::frame(spec);
  if (category == "tensor") return DataContract::tensor(spec);
  if (category == "metadata") return DataContract::metadata(spec);
  if (category == "event") return DataContract::event(spec);
  if (category == "batch") return DataContract::batch(spec);
  return Error::value("unknown contract category: " + std::string(category) +
                      " (expected frame, tensor, metadata, event or batch)");
}

template <class Finding>
GraphFinding finding(const Finding& f, std::string_view severity) {
  const kelo_core::graph::validation::Indexes& at = f.indexes();
  GraphFinding out{f.kind_name(), severity, f.message(), at.elements, at.edges, f.ports(), {}};
  if constexpr (requires { f.element_name(); }) out.element_name = f.element_name();
  return out;
}

// The errors in the order the core found them, then the warnings in edge
// order.
std::vector<GraphFinding> validate(const kelo_core::graph::Graph& graph) {
  const kelo_core::graph::validation::ValidationReport report = graph.validate();
  std::vector<GraphFinding> out;
  out.reserve(report.errors.size() + report.warnings.size());
  for (const auto& e : report.errors) out.push_back(finding(e, "error"));
  for (const auto& w : report.warnings) out.push_back(finding(w, "warning"));
  return out;
}

template <std::size_t N>
Names::List list(const std::array<std::string_view, N>& names, std::size_t count = N) {
  return Names::List(names.begin(), names.begin() + count);
}

Names names() {
  using kelo_core::VariantNames;
  using namespace kelo_core::data;
  return {list(VariantNames<PixelFormatVariant>::canonical),
          list(VariantNames<DType>::canonical),
          list(VariantNames<CoordinateSpaceVariant>::canonical),
          // Custom is written custom:<tag>, not by its kind name.
          list(kCapabilityKinds, std::size_t(Capability::Kind::Custom)),
          list(kRequirementKinds),
          list(DataContract::kCategoryTexts),
          list(SelectionPolicy::kKindNames)};
}

// Selection errors by SelectionError.
constexpr std::array<std::string_view, 3> kSelectionErrors = {"no_provider", "unsatisfied",
                                                              "manual_not_candidate"};

SelectionResult select(const ProviderRegistry& registry, const ElementTypeId& type,
                 std::vector<Requirement> requirements, const SelectionPolicy& policy) {
  const SelectionExplanation x = explain_selection(type, registry, requirements, policy);
  std::span<const ProviderRegistry::Entry> entries = registry.find(type);
  SelectionResult out;
  if (!x.selection) out.error = kSelectionErrors[std::size_t(x.selection.error)];
  out.candidates.reserve(x.candidates.size());
  for (std::size_t i = 0; i < x.candidates.size(); ++i) {
    const CandidateVerdict& v = x.candidates[i];
    if (v.verdict == kelo_core::provider::Verdict::Chosen) out.chosen = i;
    VerdictResult& made = out.candidates.emplace_back();
    made.provider = entries[i].descriptor;
    made.verdict = verdict_name(v.verdict);
    if (v.verdict == kelo_core::provider::Verdict::FailsRequirement) made.failed = v.requirement;
    made.assumed.assign(v.assumed.begin(), v.assumed.end());
  }
  return out;
}

}  // namespace

void add_pipeline_functions(std::vector<FunctionSpec>& out) {
  out.push_back(Function<&validate>(
      "validate(graph)",
      "The graph's validation findings as GraphFinding values: the errors in\n"
      "the order the core finds them, then the warnings in edge order."));
  out.push_back(Function<&names>(
      "names()", "The names description files use, as the core spells them (Names)."));
  out.push_back(Function<&select>(
      "select(registry, element_type, requirements, policy)",
      "The provider `registry` selects for `element_type` under `requirements`\n"
      "and `policy`, with every candidate's verdict in the registry's order\n"
      "(Selection)."));
  out.push_back(Function<&contract_with>(
      "contract_with(category, spec)",
      "A contract of a built-in category (`frame`, `tensor`, `metadata`,\n"
      "`event` or `batch`) constrained by `spec`."));
}

}  // namespace kelo::py
