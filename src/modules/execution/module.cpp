// kelo.ext.execution: the vocabulary of execution semantics.
#include "execution/topics.h"
#include "submodules.h"
#include "toolkit/module.h"

namespace kelo::py {

namespace {

constexpr const char* kOrder[] = {
    "PyInputRelation",  "PyMissingInputBehavior", "PyOrderingRequirement", "PyConcurrency",
    "PyCompletionBoundary", "PyEosPolicy",        "PyBatchingPolicy",      "PyDeliveryMode",
    "PyOverflowPolicy", "PyOutputCoupling",       "PyFailurePolicy",       "PyExecutionState",
    "PyControlSignal",  "PyExecutionContract",
};

}  // namespace

PyObject* create_execution_module() {
  static std::vector<ClassSpec> classes = [] {
    std::vector<ClassSpec> all;
    add_policy_classes(all);
    add_execution_contract_classes(all);
    return all;
  }();
  static std::vector<FunctionSpec> functions;
  return build_module("execution", kOrder, classes, functions);
}

}  // namespace kelo::py
