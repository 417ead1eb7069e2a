// kelo.ext.provider: provider descriptors, the registry and selection.
#include <span>

#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_provider_module() {
  static std::vector<ClassSpec> classes;
  static std::vector<FunctionSpec> functions;
  return build_module("provider", std::span<const char* const>(), classes, functions);
}

}  // namespace kelo::py
