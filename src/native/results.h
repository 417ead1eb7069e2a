// The named results of kelo._native's functions: struct sequences whose
// fields are read by name (`finding.kind`) or position. native.cpp adds
// each type to the module.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "graph/port.h"
#include "provider/descriptor.h"
#include "support/shared.h"
#include "toolkit/named.h"

namespace kelo::py {

// One finding of graph validation (validate).
struct GraphFinding {
  static constexpr const char* kName = "kelo._native.GraphFinding";
  static constexpr const char* kDoc =
      "One finding of graph validation: its kind (the core's name), severity\n"
      "(`error` or `warning`), message, the indexes of the elements and\n"
      "edges it concerns (a cycle's in order around it), the ports it names\n"
      "and the source element name of a dynamic-output edge.";
  std::string_view kind;
  std::string_view severity;
  std::string message;
  std::vector<std::uint32_t> elements, edges;
  std::vector<kelo_core::graph::PortId> ports;
  std::optional<std::string> element_name;
  static constexpr auto kFields = std::make_tuple(
      field("kind", &GraphFinding::kind), field("severity", &GraphFinding::severity),
      field("message", &GraphFinding::message), field("elements", &GraphFinding::elements),
      field("edges", &GraphFinding::edges), field("ports", &GraphFinding::ports),
      field("element_name", &GraphFinding::element_name));
};

// The names description files use, as the core spells them (names).
struct Names {
  static constexpr const char* kName = "kelo._native.Names";
  static constexpr const char* kDoc =
      "The names description files use, as the core spells them. Pixel\n"
      "formats, coordinate spaces, capabilities and categories also take\n"
      "`custom:<name>`.";
  using List = std::vector<std::string_view>;
  List pixel_formats, dtypes, coordinate_spaces, capabilities, requirement_kinds, categories,
      policies;
  static constexpr auto kFields = std::make_tuple(
      field("pixel_formats", &Names::pixel_formats), field("dtypes", &Names::dtypes),
      field("coordinate_spaces", &Names::coordinate_spaces),
      field("capabilities", &Names::capabilities),
      field("requirement_kinds", &Names::requirement_kinds),
      field("categories", &Names::categories), field("policies", &Names::policies));
};

// One candidate of a provider selection.
struct VerdictResult {
  static constexpr const char* kName = "kelo._native.Verdict";
  static constexpr const char* kDoc =
      "One candidate of a provider selection: the descriptor, its verdict\n"
      "(`chosen`, `fails_requirement`, `outranked` or `not_manual_choice`),\n"
      "the index of the first requirement it fails (or None), and the\n"
      "indexes of the requirements it meets only by assumption.";
  kelo_core::Shared<kelo_core::provider::ProviderDescriptor> provider;
  std::string_view verdict;
  std::optional<std::uint64_t> failed;
  std::vector<std::uint64_t> assumed;
  static constexpr auto kFields =
      std::make_tuple(field("provider", &VerdictResult::provider), field("verdict", &VerdictResult::verdict),
                      field("failed", &VerdictResult::failed), field("assumed", &VerdictResult::assumed));
};

// A provider selection with every candidate's verdict (select).
struct SelectionResult {
  static constexpr const char* kName = "kelo._native.Selection";
  static constexpr const char* kDoc =
      "A provider selection: the chosen candidate's index (or None), the\n"
      "error (None, `no_provider`, `unsatisfied` or `manual_not_candidate`)\n"
      "and every candidate's verdict, in the registry's order.";
  std::optional<std::uint64_t> chosen;
  std::optional<std::string_view> error;
  std::vector<VerdictResult> candidates;
  static constexpr auto kFields =
      std::make_tuple(field("chosen", &SelectionResult::chosen), field("error", &SelectionResult::error),
                      field("candidates", &SelectionResult::candidates));
};

// The arrays of columns() (python/kelo/io/columns.py names them alike).
struct TrackParts {
  static constexpr const char* kName = "kelo._native.TrackParts";
  static constexpr const char* kDoc = "The tracks' arrays of columns().";
  Ref ids, states, last_boxes, frame_index;
  static constexpr auto kFields =
      std::make_tuple(field("ids", &TrackParts::ids), field("states", &TrackParts::states),
                      field("last_boxes", &TrackParts::last_boxes),
                      field("frame_index", &TrackParts::frame_index));
};

struct ColumnParts {
  static constexpr const char* kName = "kelo._native.ColumnParts";
  static constexpr const char* kDoc = "The objects' arrays of columns(), and the tracks'.";
  Ref boxes, confidence, label_codes, labels, class_ids, object_ids, frame_index, tracks;
  static constexpr auto kFields = std::make_tuple(
      field("boxes", &ColumnParts::boxes), field("confidence", &ColumnParts::confidence),
      field("label_codes", &ColumnParts::label_codes), field("labels", &ColumnParts::labels),
      field("class_ids", &ColumnParts::class_ids), field("object_ids", &ColumnParts::object_ids),
      field("frame_index", &ColumnParts::frame_index), field("tracks", &ColumnParts::tracks));
};

}  // namespace kelo::py
