// The declarations of the graph submodule's classes, one function per topic.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

void add_element_type_class(std::vector<ClassSpec>& out);

}  // namespace kelo::py
