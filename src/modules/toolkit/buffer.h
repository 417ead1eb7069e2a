// Buffer-protocol arguments (bytes, array.array, memoryview, numpy arrays),
// held for the length of a call.
#pragma once

#include <utility>

#include "toolkit/convert.h"

namespace kelo::py {

// The exporter's view with its format, shape and strides; released when the
// holder goes. Moving hands the view over.
class Buffer {
 public:
  Buffer() = default;
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  Buffer(Buffer&& other) noexcept : view_(other.view_), held_(std::exchange(other.held_, false)) {}
  Buffer& operator=(Buffer&& other) noexcept {
    if (this != &other) {
      release();
      view_ = other.view_;
      held_ = std::exchange(other.held_, false);
    }
    return *this;
  }
  ~Buffer() { release(); }

  const Py_buffer& view() const { return view_; }

  friend bool from_py(PyObject* o, Buffer& out) {
    out.release();
    if (PyObject_GetBuffer(o, &out.view_, PyBUF_RECORDS_RO) < 0) return false;
    out.held_ = true;
    return true;
  }

 private:
  void release() {
    if (held_) PyBuffer_Release(&view_);
    held_ = false;
  }

  Py_buffer view_{};
  bool held_ = false;
};

template <>
struct has_own_conversion<Buffer> : std::true_type {};

}  // namespace kelo::py
