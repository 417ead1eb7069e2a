#include "toolkit/module.h"

#include <cstring>
#include <set>
#include <string_view>

#include "toolkit/errors.h"

namespace kelo::py {

bool add_name(PyObject* module, const char* name, PyObject* value) {
  Ref all(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    all = Ref(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return false;
  } else if (!PyList_Check(all.get())) {
    Ref type(type_name(all.get()));
    if (type) PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to 'list'", type.get());
    return false;
  }
  Ref text(PyUnicode_FromString(name));
  if (!text) return false;
  if (PyList_Append(all.get(), text.get()) < 0) {
    raise_internal("could not append to __all__");
    return false;
  }
  return PyObject_SetAttrString(module, name, value) == 0;
}

bool attach(PyObject* parent, PyObject* submodule) {
  Ref full(PyObject_GetAttrString(submodule, "__name__"));
  if (!full) return false;
  Py_ssize_t size;
  const char* text = PyUnicode_AsUTF8AndSize(full.get(), &size);
  if (!text) return false;
  const char* dot = std::strrchr(text, '.');
  return add_name(parent, dot ? dot + 1 : text, submodule);
}

bool add_all(PyObject* module, std::vector<ClassSpec>& classes, std::vector<FunctionSpec>& functions) {
  for (auto& c : classes) {
    PyObject* type = reinterpret_cast<PyObject*>(c.create());
    if (!type || !add_name(module, c.name().c_str(), type)) return false;
  }
  for (auto& f : functions) {
    Ref function(f.create(module));
    if (!function || !add_name(module, f.name().c_str(), function.get())) return false;
  }
  return true;
}

PyObject* build_module(const char* name, std::vector<ClassSpec>& classes,
                       std::vector<FunctionSpec>& functions) {
  std::set<std::string_view> names;
  for (const auto& c : classes) names.insert(c.name());
  for (const auto& f : functions) names.insert(f.name());
  if (names.size() != classes.size() + functions.size()) {
    PyErr_Format(PyExc_SystemError, "module %s declares a name twice", name);
    return nullptr;
  }
  Ref module(PyModule_New(name));
  if (!module || !add_all(module.get(), classes, functions)) return nullptr;
  return module.release();
}

}  // namespace kelo::py
