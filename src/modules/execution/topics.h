// The declarations of the execution submodule's classes, one function per
// topic.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_policy_classes(std::vector<ClassSpec>& out);
void add_execution_contract_classes(std::vector<ClassSpec>& out);

}  // namespace kelo::py
