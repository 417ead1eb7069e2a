// The layout of every kelo.ext instance: one core value, owned outright,
// behind a borrow counter.
#pragma once

#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "toolkit/python.h"

namespace kelo::py {

template <class T>
struct Obj {
  PyObject_HEAD
  // 0 free, > 0 that many readers, -1 one in-place mutator.
  std::int32_t borrow;
  // Something a binding works out from `value` on first need and keeps
  // beside it (such as a lookup hash), for classes whose values never
  // change in place; 0 until then. It fills the room before `value`.
  std::uint32_t memo;
  T value;
};

// The Python class of core type T, filled in when the class is created.
template <class T>
struct PyClass {
  static inline PyTypeObject* type = nullptr;
  static inline const char* name = "?";
  // Enumeration-like classes: the single object of each variant, by index.
  static inline std::vector<PyObject*> variants;
};

template <class T>
Obj<T>* obj(PyObject* o) {
  return reinterpret_cast<Obj<T>*>(o);
}

template <class T>
bool is_instance(PyObject* o) {
  return Py_TYPE(o) == PyClass<T>::type;
}

// A new instance of T's class holding a value built from args.
template <class T, class... A>
PyObject* make(A&&... args) {
  void* mem = PyObject_Malloc(sizeof(Obj<T>));
  if (!mem) return PyErr_NoMemory();
  auto* o = static_cast<Obj<T>*>(mem);
  try {
    new (&o->value) T(std::forward<A>(args)...);
  } catch (...) {
    PyObject_Free(mem);
    throw;
  }
  o->borrow = 0;
  o->memo = 0;
  return PyObject_Init(reinterpret_cast<PyObject*>(o), PyClass<T>::type);
}

template <class T>
void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  obj<T>(self)->value.~T();
  PyObject_Free(self);
  Py_DECREF(type);
}

// Borrows held for the length of one call. Readers share; an in-place
// mutator excludes everyone. Conflicts arise only from re-entrant Python code.
class SharedBorrow {
 public:
  SharedBorrow() = default;
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (count_) --*count_;
  }
  bool acquire(std::int32_t& count) {
    if (count < 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
      return false;
    }
    ++count;
    count_ = &count;
    return true;
  }

 private:
  std::int32_t* count_ = nullptr;
};

class ExclusiveBorrow {
 public:
  ExclusiveBorrow() = default;
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (count_) *count_ = 0;
  }
  bool acquire(std::int32_t& count) {
    if (count != 0) {
      PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
      return false;
    }
    count = -1;
    count_ = &count;
    return true;
  }

 private:
  std::int32_t* count_ = nullptr;
};

}  // namespace kelo::py
