// Graph ports: named, directed endpoints with a data contract.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "data/id.h"
#include "graph/contract.h"
#include "support/result.h"
#include "support/variants.h"

namespace kelo_core::graph {

using PortId = data::Id<struct PortTag>;

enum class PortDirection : std::uint8_t { Input, Output };

}  // namespace kelo_core::graph

namespace kelo_core {

template <>
struct VariantNames<graph::PortDirection> {
  static constexpr std::array<std::string_view, 2> names = {"Input", "Output"};
};

}  // namespace kelo_core

namespace kelo_core::graph {

// Nothing here checks the id for uniqueness or the name for anything: those
// are findings of graph validation.
struct Port {
  PortId id;
  std::string name;
  // The direction sits in the contract's tail padding: 64 bytes a port.
  [[no_unique_address]] DataContract contract;
  PortDirection direction = PortDirection::Input;

  Port() = default;
  Port(PortId id, std::string name, PortDirection direction, DataContract contract)
      : id(id), name(std::move(name)), contract(std::move(contract)), direction(direction) {}

  // A port with a fresh random id; fails only when the operating system's
  // random source does.
  static Result<Port> input(std::string name, DataContract contract);
  static Result<Port> output(std::string name, DataContract contract);

  friend bool operator==(const Port&, const Port&) = default;
};

}  // namespace kelo_core::graph
