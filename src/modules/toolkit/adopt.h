// kelo.ext's classes seen from another extension module of the package.
//
// Each extension module holds its own PyClass<T> records. A module other
// than kelo.ext points them at kelo.ext's type objects, so that the
// toolkit's conversions there accept, read and make kelo.ext instances. Both
// modules are built from the same core headers by one build, so the object
// layout agrees; adopt checks the instance size all the same.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/convert.h"

namespace kelo::py {

// Checks that `type` is a class whose instances have the layout of Obj<T>.
bool check_adopted(PyObject* type, const char* name, Py_ssize_t size);

// Points T's class at submodule.<name>. name must outlive the process (a
// literal). The class is kept for the life of the process, as kelo.ext keeps
// its own.
template <class T>
bool adopt(PyObject* submodule, const char* name) {
  if (PyClass<T>::type) return true;
  Ref type(PyObject_GetAttrString(submodule, name));
  if (!type || !check_adopted(type.get(), name, Py_ssize_t(sizeof(Obj<T>)))) return false;
  PyClass<T>::type = reinterpret_cast<PyTypeObject*>(type.release());
  PyClass<T>::name = name;
  return true;
}

// An enumeration-like class: its single variant objects too, by index.
template <Variant E>
bool adopt(PyObject* submodule, const char* name, std::span<const std::string_view> variants) {
  if (!PyClass<E>::variants.empty()) return true;
  if (!adopt<E>(submodule, name)) return false;
  std::vector<PyObject*> objects;
  for (std::string_view v : variants) {
    Ref variant(PyObject_GetAttrString(reinterpret_cast<PyObject*>(PyClass<E>::type),
                                       std::string(v).c_str()));
    if (!variant) return false;
    objects.push_back(variant.release());  // kept, as kelo.ext keeps them
  }
  PyClass<E>::variants = std::move(objects);
  return true;
}

}  // namespace kelo::py
