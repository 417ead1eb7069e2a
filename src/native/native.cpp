// kelo._native: the package's native helpers that no class of kelo.ext
// carries. It is built by the same project, with the same toolkit and
// against the same stable ABI, and works on kelo.ext's own objects: on
// import it adopts kelo.ext's classes, so its functions take and return
// instances of them.
#include <initializer_list>

#include "native/topics.h"
#include "toolkit/module.h"

namespace kelo::py {

PyObject* ext_submodule(PyObject* ext, const char* name) { return PyObject_GetAttrString(ext, name); }

namespace {

// Every topic of the module, in the order its functions are listed.
constexpr std::initializer_list<NativeTopic> kTopics = {
    {&add_pipeline_functions, &adopt_pipeline_classes},
    {&add_records_functions, &adopt_records_classes},
    {&add_columns_functions, &adopt_columns_classes},
    {&add_contract_functions, &adopt_contract_classes},
};

int exec_native(PyObject* module) {
  Ref ext(PyImport_ImportModule("kelo.ext"));
  if (!ext) return -1;
  for (const NativeTopic& topic : kTopics) {
    if (!topic.adopt_classes(ext.get())) return -1;
  }
  static std::vector<ClassSpec> classes;
  static std::vector<FunctionSpec> functions = [] {
    std::vector<FunctionSpec> all;
    for (const NativeTopic& topic : kTopics) topic.add_functions(all);
    return all;
  }();
  Ref all(PyList_New(0));
  if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
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
