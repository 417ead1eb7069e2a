// kelo.ext.provider: provider descriptors, the registry and selection.
#include "provider/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_provider_module() {
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_descriptor_classes(all);
    add_selection_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions = [] {
    std::vector<FunctionSpec> all;
    add_selection_functions(all);
    add_abi_functions(all);
    return all;
  }();
  return build_module("provider", classes, functions);
}

}  // namespace kelo::py
