// Element types, ports, configurations and elements.
#include <string>

#include "graph/element.h"
#include "support/shared.h"
#include "graph/topics.h"
#include "support/text.h"
#include "toolkit/dict.h"

namespace kelo::py {

using namespace kelo_core::graph;
using kelo_core::text::debug;

// An instance's memo (object.h) holds the provider registry's lookup hash
// of its value (ProviderRegistry::type_hash), kept by select_provider.
void add_element_type_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<ElementTypeId>("PyElementTypeId(s)",
                           "Stable semantic identity of a computation (e.g. `kelo.decode.h264`).")
          .init<[](std::string s) { return ElementTypeId{std::move(s)}; }>()
          .def<[](const ElementTypeId& t) -> const std::string& { return t.text; }>("as_str($self)")
          .str<[](const ElementTypeId& t) -> const std::string& { return t.text; }>()
          .repr<[](const ElementTypeId& t) { return "PyElementTypeId('" + t.text + "')"; }>()
          .equality()
          .hash());
}

void add_element_kind_class(std::vector<ClassSpec>& out) {
  out.push_back(Enum<ElementKind>("PyElementKind"));
}

void add_port_direction_class(std::vector<ClassSpec>& out) {
  out.push_back(Enum<PortDirection>("PyPortDirection"));
}

void add_config_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Config>("PyConfig()")
          .init<[] { return Config(); }>()
          .def<[](Config& c, std::string key, std::string value) {
            c.set(std::move(key), std::move(value));
          }>("set($self, key, value)")
          .def<&Config::get>("get($self, key)")
          .def<&Config::keys>("keys($self)")
          .def<&Config::size>("len($self)")
          .len<&Config::size>()
          .def<[](const Config& c) { return Dict(c.entries()); }>(
              "to_dict($self)", "A plain `dict` copy of the configuration.")
          .repr<[](const Config& c) { return "PyConfig(len=" + std::to_string(c.size()) + ")"; }>());
}

void add_port_and_element_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Port>("PyPort(id, name, direction, contract)",
                  "An endpoint through which an element exchanges data.")
          .init<[](PortId id, std::string name, PortDirection direction, DataContract contract) {
            return Port{id, std::move(name), direction, std::move(contract)};
          }>()
          .def_static<&Port::input>("input(name, contract)", "Create an input port with a fresh ID.")
          .def_static<&Port::output>("output(name, contract)",
                                     "Create an output port with a fresh ID.")
          .property<&Port::id>("id")
          .property<&Port::name>("name")
          .property<&Port::direction>("direction")
          .property<&Port::contract>("contract")
          .repr<[](const Port& p) {
            return "PyPort(" + debug(p.name) + ", " +
                   (p.direction == PortDirection::Input ? "input" : "output") + ")";
          }>());

  // An element never changes once made (builder steps make new ones), so
  // instances, graphs and graph builders share one value.
  using SharedElement = kelo_core::Shared<Element>;
  out.push_back(
      Class<SharedElement>("PyElement(id, type_id, name, kind)", "A concrete node in a graph.")
          .init<[](ElementId id, ElementTypeId type_id, std::string name, ElementKind kind) {
            return SharedElement::of(Element::make(id, std::move(type_id), std::move(name), kind));
          }>()
          .property<[](const SharedElement& e) { return e->id; }>("id")
          .property<[](const SharedElement& e) -> const ElementTypeId& { return e->type_id; }>("type_id")
          .property<[](const SharedElement& e) -> const std::string& { return e->name; }>("name")
          .property<[](const SharedElement& e) { return e->kind; }>("kind")
          .property<[](const SharedElement& e) -> const kelo_core::SharedList<Port>& { return e->inputs; }>(
              "inputs")
          .property<[](const SharedElement& e) -> const kelo_core::SharedList<Port>& { return e->outputs; }>(
              "outputs")
          .property<[](const SharedElement& e) -> const Config& { return e->config; }>("config")
          .def<[](const SharedElement& e, Port port) { return SharedElement::of(e->with_input(std::move(port))); }>(
              "with_input($self, port)", "Add an input port (builder-style).")
          .def<[](const SharedElement& e, Port port) { return SharedElement::of(e->with_output(std::move(port))); }>(
              "with_output($self, port)", "Add an output port (builder-style).")
          .def<[](const SharedElement& e, Config config) {
            return SharedElement::of(e->with_config(std::move(config)));
          }>("with_config($self, config)", "Replace the configuration (builder-style).")
          .def<[](const SharedElement& e) {
            std::vector<Port> all;
            all.reserve(e->inputs.size() + e->outputs.size());
            for (const Port* p : e->all_ports()) all.push_back(*p);
            return all;
          }>("all_ports($self)", "All ports (inputs then outputs).")
          .repr<[](const SharedElement& e) {
            return "PyElement(" + debug(e->name) + ", type=" + e->type_id.text + ")";
          }>());
}

}  // namespace kelo::py
