// Graph elements: concrete uses of a computation type, with their ports and
// configuration.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "data/id.h"
#include "graph/config.h"
#include "graph/element_type.h"
#include "graph/port.h"
#include "support/shared_list.h"
#include "support/variants.h"

namespace kelo_core::graph {

using ElementId = data::Id<struct ElementTag>;

enum class ElementKind : std::uint8_t { Source, Operator, Sink };

}  // namespace kelo_core::graph

namespace kelo_core {

template <>
struct VariantNames<graph::ElementKind> {
  static constexpr std::array<std::string_view, 3> names = {"Source", "Operator", "Sink"};
};

}  // namespace kelo_core

namespace kelo_core::graph {

// An element owns its ports and configuration. Nothing here checks port
// directions or the uniqueness of ids: those are findings of validation.
// Copies share their ports, so each builder step costs one port, not all.
struct Element {
  ElementId id;
  ElementTypeId type_id;
  std::string name;
  ElementKind kind = ElementKind::Source;
  SharedList<Port> inputs;   // in the order they were added
  SharedList<Port> outputs;  // likewise
  Config config;

  // No ports, empty configuration.
  static Element make(ElementId id, ElementTypeId type_id, std::string name, ElementKind kind);

  // Builders: append a port, or replace the whole configuration (nothing is
  // merged). The && forms reuse the receiver, the const& forms copy it.
  Element with_input(Port port) &&;
  Element with_output(Port port) &&;
  Element with_config(Config config) &&;
  Element with_input(Port port) const&;
  Element with_output(Port port) const&;
  Element with_config(Config config) const&;

  // Every input port in order, then every output port in order.
  std::vector<const Port*> all_ports() const;

  friend bool operator==(const Element&, const Element&) = default;
};

}  // namespace kelo_core::graph
