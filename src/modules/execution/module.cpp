// kelo.ext.execution: the vocabulary of execution semantics.
#include <span>

#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_execution_module() {
  static std::vector<ClassSpec> classes;
  static std::vector<FunctionSpec> functions;
  return build_module("execution", std::span<const char* const>(), classes, functions);
}

}  // namespace kelo::py
