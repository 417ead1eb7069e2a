#include "graph/element.h"

#include <utility>

namespace kelo_core::graph {

Element Element::make(ElementId id, ElementTypeId type_id, std::string name, ElementKind kind) {
  Element e;
  e.id = id;
  e.type_id = std::move(type_id);
  e.name = std::move(name);
  e.kind = kind;
  return e;
}

Element Element::with_input(Port port) && {
  inputs.push_back(std::move(port));
  return std::move(*this);
}
Element Element::with_output(Port port) && {
  outputs.push_back(std::move(port));
  return std::move(*this);
}
Element Element::with_config(Config c) && {
  config = std::move(c);
  return std::move(*this);
}

Element Element::with_input(Port port) const& { return Element(*this).with_input(std::move(port)); }
Element Element::with_output(Port port) const& {
  return Element(*this).with_output(std::move(port));
}
Element Element::with_config(Config c) const& { return Element(*this).with_config(std::move(c)); }

std::vector<const Port*> Element::all_ports() const {
  std::vector<const Port*> all;
  all.reserve(inputs.size() + outputs.size());
  for (const Port& p : inputs) all.push_back(&p);
  for (const Port& p : outputs) all.push_back(&p);
  return all;
}

}  // namespace kelo_core::graph
