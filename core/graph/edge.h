// Edges: logical data-flow relationships between two ports, named by port
// ids only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "graph/port.h"
#include "support/result.h"
#include "support/shared.h"

namespace kelo_core::graph {

// An edge from a producing port (`source`) to a consuming one (`target`).
// A late-binding edge lets validation accept a source port that does not
// exist yet; a dynamic-output edge is late-binding and also names the
// element (by its name, not its id) and the semantic pad its source port
// will be minted under. Only dynamic-output edges carry the two names, shared
// between copies.
class Edge {
 public:
  PortId source;
  PortId target;

  Edge() = default;
  Edge(PortId source, PortId target, bool late_binding = false)
      : source(source), target(target), late_binding_(late_binding) {}

  static Edge plain(PortId source, PortId target) { return Edge(source, target); }
  static Edge late(PortId source, PortId target) { return Edge(source, target, true); }
  // A late-binding edge whose source is a fresh random port id, minted for
  // the pad; fails only when the operating system's random source does.
  static Result<Edge> dynamic_output(std::string source_element, std::string pad_name,
                                     PortId target);

  bool late_binding() const { return late_binding_; }
  // The owning element's name and the pad name of a dynamic source pad.
  std::optional<std::string_view> source_element() const {
    if (!names_) return std::nullopt;
    return std::string_view(names_->element);
  }
  std::optional<std::string_view> source_pad() const {
    if (!names_) return std::nullopt;
    return std::string_view(names_->pad);
  }

  // The same edge with the late-binding flag set.
  Edge with_late_binding() const {
    Edge e = *this;
    e.late_binding_ = true;
    return e;
  }

  friend bool operator==(const Edge& a, const Edge& b) {
    return a.source == b.source && a.target == b.target && a.late_binding_ == b.late_binding_ &&
           a.source_element() == b.source_element() && a.source_pad() == b.source_pad();
  }

 private:
  struct Names {
    std::string element;
    std::string pad;
  };

  Shared<Names> names_;  // dynamic-output edges only
  bool late_binding_ = false;
};

}  // namespace kelo_core::graph
