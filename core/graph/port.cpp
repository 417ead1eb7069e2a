#include "graph/port.h"

#include <utility>

namespace kelo_core::graph {

namespace {

Result<Port> fresh(std::string name, PortDirection direction, DataContract contract) {
  auto id = PortId::fresh();
  if (!id) return id.error();
  return Port{*id, std::move(name), direction, std::move(contract)};
}

}  // namespace

Result<Port> Port::input(std::string name, DataContract contract) {
  return fresh(std::move(name), PortDirection::Input, std::move(contract));
}

Result<Port> Port::output(std::string name, DataContract contract) {
  return fresh(std::move(name), PortDirection::Output, std::move(contract));
}

}  // namespace kelo_core::graph
