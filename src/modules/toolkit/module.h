// Building submodules: classes and functions added in registration order.
#pragma once

#include <vector>

#include "toolkit/class.h"

namespace kelo::py {

// Appends name to module.__all__ (creating the list when missing) and sets
// the attribute.
bool add_name(PyObject* module, const char* name, PyObject* value);

// Adds a submodule under the last dotted part of its __name__.
bool attach(PyObject* parent, PyObject* submodule);

// Adds the classes, then the functions, in declaration order.
bool add_all(PyObject* module, std::vector<ClassSpec>& classes, std::vector<FunctionSpec>& functions);

// A new module `name` holding the classes and then the functions, in
// declaration order, which is also the order of its __all__; a name declared
// twice is a declaration fault (SystemError). Returns a new reference.
PyObject* build_module(const char* name, std::vector<ClassSpec>& classes,
                       std::vector<FunctionSpec>& functions);

}  // namespace kelo::py
