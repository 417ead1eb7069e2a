// The declarations of the graph submodule's classes, one function per topic.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_element_type_class(std::vector<ClassSpec>& out);
void add_element_kind_class(std::vector<ClassSpec>& out);
void add_port_direction_class(std::vector<ClassSpec>& out);
void add_config_class(std::vector<ClassSpec>& out);
void add_contract_classes(std::vector<ClassSpec>& out);
void add_port_and_element_classes(std::vector<ClassSpec>& out);
void add_edge_class(std::vector<ClassSpec>& out);
void add_graph_classes(std::vector<ClassSpec>& out);
void add_validation_classes(std::vector<ClassSpec>& out);
void add_validation_functions(std::vector<FunctionSpec>& out);

}  // namespace kelo::py
