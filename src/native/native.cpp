// kelo._native: the package's native helpers that no class of kelo.ext
// carries. It lives in the same binary as kelo.ext (ext.abi3.so exports
// both entry points), so it shares the core's state and kelo.ext's classes:
// its functions take and return instances of them, and it only needs
// kelo.ext imported first, so that those classes exist.
#include <initializer_list>

#include "native/results.h"
#include "native/topics.h"
#include "toolkit/errors.h"
#include "toolkit/module.h"

namespace kelo::py {

namespace {

// Every topic of the module, in the order its functions are listed.
constexpr std::initializer_list<void (*)(std::vector<FunctionSpec>&)> kTopics = {
    &add_pipeline_functions,
    &add_records_functions,
    &add_columns_functions,
    &add_contract_functions,
};

int exec_native(PyObject* module) {
  ensure_thread_ready();
  Ref ext(PyImport_ImportModule("kelo.ext"));
  if (!ext) return -1;
  static std::vector<ClassSpec> classes;
  static std::vector<FunctionSpec> functions = [] {
    std::vector<FunctionSpec> all;
    for (auto add_functions : kTopics) add_functions(all);
    return all;
  }();
  Ref all(PyList_New(0));
  if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  // The named results first, then the functions.
  for (auto add : {&add_named<GraphFinding>, &add_named<Names>, &add_named<VerdictResult>,
                   &add_named<SelectionResult>, &add_named<TrackParts>,
                   &add_named<ColumnParts>}) {
    if (!add(module)) return -1;
  }
  return add_all(module, classes, functions) && add_runtime(module) ? 0 : -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_native)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "_native",
    "Native helpers of the kelo package over kelo.ext's objects.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace kelo::py

PyMODINIT_FUNC PyInit__native(void) { return PyModuleDef_Init(&kelo::py::definition); }
