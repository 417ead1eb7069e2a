// kelo.ext.graph: the pipeline graph.
#include "data/identifier.h"
#include "graph/element.h"
#include "graph/port.h"
#include "graph/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_graph_module() {
  using namespace kelo_core::graph;
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_element_type_class(all);
    all.push_back(identifier<ElementId>(
        "PyElementId", {.cls = "Element identity \xe2\x80\x94 a typed UUID newtype.",
                        .fresh = "Create a new unique element ID.",
                        .from_str = "Create from a UUID string.",
                        .uuid = nullptr}));
    add_element_kind_class(all);
    all.push_back(identifier<PortId>(
        "PyPortId", {.cls = "Port identity \xe2\x80\x94 a typed UUID newtype.",
                     .fresh = "Create a new unique port ID.",
                     .from_str = "Create from a UUID string.",
                     .uuid = nullptr}));
    add_port_direction_class(all);
    add_config_class(all);
    add_contract_classes(all);
    add_port_and_element_classes(all);
    add_edge_class(all);
    add_graph_classes(all);
    add_validation_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions = [] {
    std::vector<FunctionSpec> all;
    add_validation_functions(all);
    return all;
  }();
  return build_module("graph", classes, functions);
}

}  // namespace kelo::py
