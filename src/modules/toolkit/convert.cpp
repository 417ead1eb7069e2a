#include "toolkit/convert.h"

#include <unistd.h>

#include <cstdint>

#include <limits>

namespace kelo::py {

namespace {

// The integer behind o: o itself for an int, else its __index__.
Ref as_index(PyObject* o) {
  if (PyLong_Check(o)) return Ref(Py_NewRef(o));
  return Ref(PyNumber_Index(o));
}

bool out_of_range() {
  PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
  return false;
}

// Read as a signed 64-bit integer first (beyond that range the
// interpreter's own OverflowError stands), then narrowed.
template <class T>
bool narrow_int(PyObject* o, T& out) {
  Ref i = as_index(o);
  if (!i) return false;
  long long v = PyLong_AsLongLong(i.get());
  if (v == -1 && PyErr_Occurred()) return false;
  if (v < std::numeric_limits<T>::min() || v > std::numeric_limits<T>::max()) return out_of_range();
  out = T(v);
  return true;
}

}  // namespace

bool from_py(PyObject* o, std::int32_t& out) { return narrow_int(o, out); }
bool from_py(PyObject* o, std::uint32_t& out) { return narrow_int(o, out); }

bool from_py(PyObject* o, std::int64_t& out) {
  Ref i = as_index(o);
  if (!i) return false;
  long long v = PyLong_AsLongLong(i.get());
  if (v == -1 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool from_py(PyObject* o, std::uint64_t& out) {
  Ref i = as_index(o);
  if (!i) return false;
  unsigned long long v = PyLong_AsUnsignedLongLong(i.get());
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool from_py(PyObject* o, double& out) {
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

bool from_py(PyObject* o, float& out) {
  double v;
  if (!from_py(o, v)) return false;
  // Round to nearest single; beyond the single range this gives infinity.
  out = static_cast<float>(v);
  return true;
}

namespace {

// numpy's booleans are accepted by their truth value.
bool is_numpy_bool(PyObject* o) {
  PyTypeObject* type = Py_TYPE(o);
  Ref module(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
  if (!module) {
    PyErr_Clear();
    return false;
  }
  Ref name(PyType_GetName(type));
  if (!name) {
    PyErr_Clear();
    return false;
  }
  return PyUnicode_Check(module.get()) &&
         PyUnicode_CompareWithASCIIString(module.get(), "numpy") == 0 &&
         (PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
          PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0);
}

}  // namespace

bool from_py(PyObject* o, bool& out) {
  if (o == Py_True || o == Py_False) {
    out = o == Py_True;
    return true;
  }
  if (is_numpy_bool(o)) {
    int truth = PyObject_IsTrue(o);
    if (truth < 0) return false;
    out = truth != 0;
    return true;
  }
  Ref name(type_name(o));
  if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'bool'", name.get());
  return false;
}

bool from_py(PyObject* o, std::string_view& out) {
  if (!PyUnicode_Check(o)) {
    Ref name(type_name(o));
    if (name) PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'str'", name.get());
    return false;
  }
  Py_ssize_t size;
  const char* data = PyUnicode_AsUTF8AndSize(o, &size);
  if (!data) return false;
  out = std::string_view(data, std::size_t(size));
  return true;
}

bool from_py(PyObject* o, std::string& out) {
  std::string_view view;
  if (!from_py(o, view)) return false;
  out.assign(view);
  return true;
}

bool sequence_size(PyObject* o, Py_ssize_t* size) {
  if (PyUnicode_Check(o)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to a list");
    return false;
  }
  if (!PySequence_Check(o)) {
    Ref name(type_name(o));
    if (name) {
      PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of 'Sequence'", name.get());
    }
    return false;
  }
  *size = PySequence_Size(o);
  return *size >= 0;
}

bool list_may_fit(Py_ssize_t n, std::size_t item_size, std::size_t max_size) {
  if (std::size_t(n) > max_size) {
    PyErr_Format(PyExc_OverflowError, "a list of %zd items cannot be held", n);
    return false;
  }
  // Past the machine's memory the items could only be read until the
  // allocation fails, however long that takes.
  static const std::size_t memory = [] {
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGESIZE);
    return pages > 0 && page > 0 ? std::size_t(pages) * std::size_t(page) : SIZE_MAX;
  }();
  if (std::size_t(n) > memory / item_size) {
    PyErr_Format(PyExc_MemoryError, "a list of %zd items of %zu bytes does not fit in memory", n,
                 item_size);
    return false;
  }
  return true;
}

PyObject* to_py(unsigned __int128 v) {
  return to_py(kelo_core::BigUint::wide(v));
}

}  // namespace kelo::py
