// kelo.ext.execution: the vocabulary of execution semantics.
#include "execution/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* create_execution_module() {
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_input_relation_class(all);
    add_policy_classes(all);
    add_execution_contract_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions;
  return build_module("execution", classes, functions);
}

}  // namespace kelo::py
