// Graph validation: everything structurally wrong with a finished graph,
// as ordered errors and warnings, each typed and placed by index.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "graph/graph.h"

namespace kelo_core::graph::validation {

// Where a finding lies in the graph. An element is named by its index in
// graph order; elements that repeat an id are one node, named by the first
// of them (but for the report of the repeated id itself, which names both).
// `elements` are the elements the finding concerns, in graph order
// (a cycle's in path order: each has an edge into the next, the last into
// the first); `edges` the edges, in order (a cycle's around it: edges[i]
// goes from elements[i] to the next element of the cycle).
struct Indexes {
  std::vector<std::uint32_t> elements, edges;

  bool operator==(const Indexes&) const = default;
};

// One finding. The kinds, in declaration order (kind() is the index):
struct EdgeReferencesMissingPort {
  PortId port;
};
struct InvalidPortDirection {
  PortId source, target;
  PortDirection source_direction, target_direction;
};
// Never reported by validate(); part of the vocabulary all the same.
struct PortNotOwnedByElement {
  PortId port;
};
struct DuplicateElementId {
  ElementId id;
};
struct DuplicatePortId {
  PortId id;
};
// The contracts' display forms, rendered when the error is made.
struct ContractMismatch {
  PortId source, target;
  std::string source_contract, target_contract;
};
// The elements of the cycle the search closed, in path order: each has an
// edge into the next, and the last into the first. Not part of the message.
struct CycleDetected {
  std::vector<ElementId> elements;
};
struct DynamicSourceElementNotFound {
  std::string element;
  PortId source, target;
};

// What every finding holds: its payload, one of the kinds in P (kind() is
// the index), and where it lies.
template <class P>
class Finding {
 public:
  using Payload = P;

  template <class K>
    requires std::is_constructible_v<Payload, K> &&
             (!std::is_base_of_v<Finding, std::remove_cvref_t<K>>)
  Finding(K payload, Indexes at = {}) : payload_(std::move(payload)), at_(std::move(at)) {}

  std::size_t kind() const { return payload_.index(); }
  const Payload& payload() const { return payload_; }
  const Indexes& indexes() const { return at_; }

  bool operator==(const Finding&) const = default;

 protected:
  Payload payload_;
  Indexes at_;
};

class GraphValidationError
    : public Finding<std::variant<EdgeReferencesMissingPort, InvalidPortDirection,
                                  PortNotOwnedByElement, DuplicateElementId, DuplicatePortId,
                                  ContractMismatch, CycleDetected, DynamicSourceElementNotFound>> {
 public:
  using Finding::Finding;

  // "EdgeReferencesMissingPort", ..., the name of the payload's type.
  std::string_view kind_name() const;
  // "edge references missing port <uuid>" and so on.
  std::string message() const;
  // The ports the error names: an edge's source and target, or the one
  // port it names; none for a cycle or a repeated element id.
  std::vector<PortId> ports() const;
  // The source element name of a dynamic-output edge, if the error
  // concerns one.
  std::optional<std::string> element_name() const;
};

// A late-binding edge whose source port does not exist yet.
struct UnresolvedLateBinding {
  PortId source, target;

  bool operator==(const UnresolvedLateBinding&) const = default;
};

// A warning: a finding that leaves the graph valid.
class GraphValidationWarning : public Finding<std::variant<UnresolvedLateBinding>> {
 public:
  using Finding::Finding;

  // "UnresolvedLateBinding".
  std::string_view kind_name() const;
  std::string message() const;
  std::vector<PortId> ports() const;

  bool operator==(const GraphValidationWarning&) const = default;
};

struct ValidationReport {
  std::vector<GraphValidationError> errors;      // in order of discovery
  std::vector<GraphValidationWarning> warnings;  // in edge order

  bool is_valid() const { return errors.empty(); }
};

// Four passes, reported in this order: element and port ids (duplicates, and
// the port index, where a repeated port id resolves to the last port with
// it, inputs before outputs), then each edge in order (missing ports,
// direction, contract, dynamic source element; late-binding edges whose
// source does not exist yet are warnings), then one search for a cycle over
// the element graph, reported at most once, last. Linear in the size of the
// graph; nothing recurses. Every finding carries its Indexes.
ValidationReport validate(const Graph& graph);

// The warning for a late-binding edge whose source port does not exist yet.
std::string deferred_warning(const PortId& source, const PortId& target);

}  // namespace kelo_core::graph::validation
