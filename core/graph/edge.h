// Edges: logical data-flow relationships between two ports, named by port
// ids only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "graph/port.h"
#include "support/result.h"

namespace kelo_core::graph {

// An edge from a producing port (`source`) to a consuming one (`target`).
// A late-binding edge lets validation accept a source port that does not
// exist yet; a dynamic-output edge is late-binding and also names the
// element (by its name, not its id) and the semantic pad its source port
// will be minted under.
//
// A plain edge is two ids and one word: the late-binding flag shares the
// word with the pointer to the optional names, which only dynamic-output
// edges carry.
class Edge {
 public:
  PortId source;
  PortId target;

  Edge() = default;
  Edge(PortId source, PortId target, bool late_binding = false);
  Edge(const Edge& other);
  Edge(Edge&& other) noexcept;
  Edge& operator=(const Edge& other);
  Edge& operator=(Edge&& other) noexcept;
  ~Edge();

  static Edge plain(PortId source, PortId target) { return Edge(source, target); }
  static Edge late(PortId source, PortId target) { return Edge(source, target, true); }
  // A late-binding edge whose source is a fresh random port id, minted for
  // the pad; fails only when the operating system's random source does.
  static Result<Edge> dynamic_output(std::string source_element, std::string pad_name,
                                     PortId target);

  bool late_binding() const { return (bits_ & kLate) != 0; }
  // The owning element's name and the pad name of a dynamic source pad.
  std::optional<std::string_view> source_element() const;
  std::optional<std::string_view> source_pad() const;

  // The same edge with the late-binding flag set.
  Edge with_late_binding() const&;
  Edge with_late_binding() &&;

  friend bool operator==(const Edge& a, const Edge& b);

 private:
  struct Names {
    std::optional<std::string> element;
    std::optional<std::string> pad;
  };
  static constexpr std::uintptr_t kLate = 1;
  static_assert(alignof(Names) > 1, "the low bit of a Names pointer is free");

  const Names* names() const { return reinterpret_cast<const Names*>(bits_ & ~kLate); }
  static std::uintptr_t copy_names(std::uintptr_t bits);

  std::uintptr_t bits_ = 0;  // a Names pointer (or null), | kLate
};

}  // namespace kelo_core::graph
