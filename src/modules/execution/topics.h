// The declarations of the execution submodule's classes, one function per
// topic, listed (and called) in the order of the submodule's __all__.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_input_relation_class(std::vector<ClassSpec>& out);
void add_policy_classes(std::vector<ClassSpec>& out);
void add_execution_contract_classes(std::vector<ClassSpec>& out);

}  // namespace kelo::py
