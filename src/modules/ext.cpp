// kelo.ext: the module entry. The interpreter calls PyInit_ext, which hands
// back the module definition; the one execution step then builds the four
// submodules and attaches them in order.
#include "submodules.h"
#include "toolkit/errors.h"
#include "toolkit/module.h"

namespace {

using namespace kelo::py;

int exec_ext(PyObject* module) {
  ensure_thread_ready();
  if (!PyModule_Check(module)) {
    Ref type(type_name(module));
    if (type) PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'PyModule'", type.get());
    return -1;
  }
  for (auto create : {create_data_module, create_graph_module, create_provider_module,
                      create_execution_module}) {
    Ref submodule(create());
    if (!submodule || !attach(module, submodule.get())) return -1;
  }
  // Reachable for `except`, but not among the submodules in __all__.
  PyObject* internal = internal_error_type();
  return internal ? PyModule_AddObjectRef(module, "InternalError", internal) : -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_ext)},
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "ext",
    "The `kelo.ext` extension module.\n\nSubmodules are attached as attributes (`kelo.ext.data`, "
    "\xe2\x80\xa6). The\nPython package `python/kelo/__init__.py` additionally registers\nthem in "
    "`sys.modules` under their qualified names so dotted\nimports (`from kelo.ext.data import "
    "PyStreamId`) resolve; that\ncannot be done here because during single-phase module init "
    "the\nparent's `__name__` is still the bare extension name.",
    0,
    nullptr,
    slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_ext(void) { return PyModuleDef_Init(&definition); }
