// The declarations of the provider submodule's classes and functions, one
// function per topic.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_descriptor_classes(std::vector<ClassSpec>& out);
void add_abi_functions(std::vector<FunctionSpec>& out);
void add_selection_classes(std::vector<ClassSpec>& out);
void add_selection_functions(std::vector<FunctionSpec>& out);

}  // namespace kelo::py
