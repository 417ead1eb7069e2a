#include "toolkit/adopt.h"

namespace kelo::py {

bool check_adopted(PyObject* type, const char* name, Py_ssize_t size) {
  if (!PyType_Check(type)) {
    PyErr_Format(PyExc_SystemError, "kelo.ext.%s is not a class", name);
    return false;
  }
  Ref basicsize(PyObject_GetAttrString(type, "__basicsize__"));
  if (!basicsize) return false;
  Py_ssize_t actual = PyLong_AsSsize_t(basicsize.get());
  if (actual == -1 && PyErr_Occurred()) return false;
  if (actual != size) {
    PyErr_Format(PyExc_SystemError,
                 "kelo.ext.%s holds %zd bytes, this module expects %zd: the two modules come "
                 "from different builds",
                 name, actual, size);
    return false;
  }
  return true;
}

}  // namespace kelo::py
