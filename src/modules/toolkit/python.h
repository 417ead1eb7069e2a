// The one include of the interpreter's headers, plus the smallest helpers
// for owning references.
#pragma once

#ifndef Py_LIMITED_API
#error "kelo.ext is built against the stable ABI: define Py_LIMITED_API"
#endif
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace kelo::py {

// An owned reference, released on scope exit.
class Ref {
 public:
  Ref() = default;
  explicit Ref(PyObject* o) : o_(o) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& r) noexcept : o_(std::exchange(r.o_, nullptr)) {}
  Ref& operator=(Ref&& r) noexcept {
    Py_XDECREF(o_);
    o_ = std::exchange(r.o_, nullptr);
    return *this;
  }
  ~Ref() { Py_XDECREF(o_); }

  PyObject* get() const { return o_; }
  PyObject* release() { return std::exchange(o_, nullptr); }
  explicit operator bool() const { return o_ != nullptr; }

 private:
  PyObject* o_ = nullptr;
};

}  // namespace kelo::py
