// Conversions between Python objects and C++ values, chosen by C++ type.
//
// from_py(o, out) converts one argument; on failure it raises the
// conversion's own exception and returns false. to_py(v) makes the result
// object (a new reference) or returns nullptr with an exception set.
#pragma once

#include <algorithm>
#include <array>
#include <concepts>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "support/biguint.h"
#include "support/result.h"
#include "support/shared_list.h"
#include "support/shared_vector.h"
#include "toolkit/errors.h"
#include "toolkit/object.h"

namespace kelo::py {

template <class T>
struct is_optional : std::false_type {};
template <class T>
struct is_optional<std::optional<T>> : std::true_type {};
// Lists: converted to and from Python lists item by item.
template <class T>
struct is_list : std::false_type {};
template <class T, class A>
struct is_list<std::vector<T, A>> : std::true_type {};
template <class T>
struct is_list<kelo_core::SharedList<T>> : std::true_type {};

// Text built without touching the heap while it fits in N characters; a
// longer text moves to a string and is kept whole.
template <std::size_t N>
class ShortText {
 public:
  ShortText& operator<<(std::string_view s) {
    if (long_.empty() && size_ + s.size() <= N) {
      size_ += s.copy(data_ + size_, s.size());
    } else {
      if (long_.empty()) long_.assign(data_, size_);
      long_ += s;
    }
    return *this;
  }
  std::string_view view() const { return long_.empty() ? std::string_view(data_, size_) : long_; }

 private:
  char data_[N];
  std::size_t size_ = 0;
  std::string long_;  // the whole text once it outgrew data_
};
template <class T>
struct is_short_text : std::false_type {};
template <std::size_t N>
struct is_short_text<ShortText<N>> : std::true_type {};

// Class types with a conversion of their own in another toolkit file (such
// as dict.h) specialise this to true, so that they are not taken for wrapped
// core types.
template <class T>
struct has_own_conversion : std::false_type {};
template <>
struct has_own_conversion<kelo_core::BigUint> : std::true_type {};
template <class T>
struct has_own_conversion<kelo_core::SharedVector<T>> : std::true_type {};
template <class T>
class ReadList;  // below
template <class T>
struct has_own_conversion<ReadList<T>> : std::true_type {};

// An instance of an exposed class read in place, as by const reference
// (under a shared borrow held for the call), with its object's memo
// (object.h) at hand.
template <class T>
class Held {
 public:
  explicit Held(Obj<T>* object) : object_(object) {}
  const T& value() const { return object_->value; }
  std::uint32_t& memo() const { return object_->memo; }

 private:
  Obj<T>* object_;
};
template <class T>
struct has_own_conversion<Held<T>> : std::true_type {};

// Any Python object, borrowed for the call, for functions that accept
// values of many kinds and tell them apart themselves.
struct Borrowed {
  PyObject* object = nullptr;
};
template <>
struct has_own_conversion<Borrowed> : std::true_type {};
// A result made by the callee itself: an owned reference (or null with the
// exception set).
template <>
struct has_own_conversion<Ref> : std::true_type {};

// Core types exposed as a Python class of their own: every class type that
// is not one of the plain conversions below, const or not.
template <class T, class U = std::remove_cv_t<T>>
concept Wrapped = std::is_class_v<U> && !std::is_same_v<U, std::string> &&
                  !std::is_same_v<U, std::string_view> && !is_optional<U>::value &&
                  !is_list<U>::value && !is_short_text<U>::value &&
                  !has_own_conversion<U>::value;

// Closed enumerations exposed as enumeration-like classes.
template <class T>
concept Variant = std::is_enum_v<T>;

// ---- arguments --------------------------------------------------------

bool from_py(PyObject* o, std::int32_t& out);
bool from_py(PyObject* o, std::uint32_t& out);
bool from_py(PyObject* o, std::int64_t& out);
bool from_py(PyObject* o, std::uint64_t& out);
bool from_py(PyObject* o, double& out);
bool from_py(PyObject* o, float& out);
bool from_py(PyObject* o, bool& out);
// The view stays valid while o lives.
bool from_py(PyObject* o, std::string_view& out);
bool from_py(PyObject* o, std::string& out);

inline bool from_py(PyObject* o, Borrowed& out) {
  out.object = o;
  return true;
}
// Checks o is a non-str sequence; sets *size.
bool sequence_size(PyObject* o, Py_ssize_t* size);

// An instance of exactly T's class, not mutably borrowed.
template <class T>
bool check_readable(PyObject* o) {
  if (!is_instance<T>(o)) return not_an_instance(o, PyClass<T>::name);
  if (obj<T>(o)->borrow < 0) {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return false;
  }
  return true;
}

template <class T>
  requires Wrapped<T> || Variant<T>
bool from_py(PyObject* o, T& out) {
  if (!check_readable<T>(o)) return false;
  out = obj<T>(o)->value;
  return true;
}

// Declared ahead so that optionals of lists and lists of optionals both work.
template <class T>
bool from_py(PyObject* o, std::vector<T>& out);

template <class T>
bool from_py(PyObject* o, std::optional<T>& out) {
  if (o == Py_None) {
    out.reset();
    return true;
  }
  T v{};
  if (!from_py(o, v)) return false;
  out = std::move(v);
  return true;
}

// Whether a list of `n` items of `item_size` bytes could be held: not more
// than the container's largest size nor the machine's memory. When not,
// raises OverflowError or MemoryError.
bool list_may_fit(Py_ssize_t n, std::size_t item_size, std::size_t max_size);

// The length is only a promise: at most a bounded number of slots is
// reserved ahead, the rest grows as items arrive, and a sequence whose
// items run out before its length does raises IndexError from its item.
template <class T>
bool from_py(PyObject* o, std::vector<T>& out) {
  Py_ssize_t n;
  if (!sequence_size(o, &n)) return false;
  std::vector<T> items;
  if (!list_may_fit(n, sizeof(T), items.max_size())) return false;
  constexpr std::size_t kAhead = std::max<std::size_t>(1, (std::size_t(1) << 16) / sizeof(T));
  try {
    items.reserve(std::min(std::size_t(n), kAhead));
    for (Py_ssize_t i = 0; i < n; ++i) {
      Ref item(PySequence_GetItem(o, i));
      if (!item) return false;
      T v{};
      if (!from_py(item.get(), v)) return false;
      items.push_back(std::move(v));
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
    return false;
  }
  out = std::move(items);
  return true;
}

// A list argument of an exposed class's instances, read in place for one
// call: each item is held, under a shared borrow, until the call returns,
// and values() points at the items' own values, so nothing is copied. The
// errors are those of the copying conversion above.
template <class T>
class ReadList {
  static_assert(Wrapped<T> || Variant<T>, "items of an exposed class");

 public:
  // Not `= default`: a ReadList made as a value (T{}) leaves the inline
  // arrays as they are rather than clearing them.
  ReadList() {}
  ReadList(const ReadList&) = delete;
  ReadList& operator=(const ReadList&) = delete;
  ~ReadList() {
    for (PyObject* o : objects()) {
      --obj<T>(o)->borrow;
      Py_DECREF(o);
    }
  }

  std::span<const T* const> values() const {
    return heap_values_.empty() ? std::span<const T* const>(values_.data(), size_)
                                : std::span<const T* const>(heap_values_);
  }

  friend bool from_py(PyObject* o, ReadList& out) {
    // A list or a tuple (not of a subclass) gives its items directly, with
    // the same outcome as through the sequence protocol.
    const bool list = Py_TYPE(o) == &PyList_Type;
    if (list || Py_TYPE(o) == &PyTuple_Type) {
      const Py_ssize_t n = list ? PyList_Size(o) : PyTuple_Size(o);
      constexpr Py_ssize_t kSurelyFits = 1024;
      if (n > kSurelyFits && !list_may_fit(n, sizeof(T), std::vector<T>().max_size())) return false;
      for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* item = list ? PyList_GetItem(o, i) : PyTuple_GetItem(o, i);
        if (!check_readable<T>(item)) return false;
        out.keep(Ref(Py_NewRef(item)));
      }
      return true;
    }
    Py_ssize_t n;
    if (!sequence_size(o, &n) || !list_may_fit(n, sizeof(T), std::vector<T>().max_size())) return false;
    for (Py_ssize_t i = 0; i < n; ++i) {
      Ref item(PySequence_GetItem(o, i));
      if (!item) return false;
      if (!check_readable<T>(item.get())) return false;
      out.keep(std::move(item));
    }
    return true;
  }

 private:
  static constexpr std::size_t kInline = 8;

  std::span<PyObject* const> objects() const {
    return heap_values_.empty() ? std::span<PyObject* const>(objects_.data(), size_)
                                : std::span<PyObject* const>(heap_objects_);
  }
  // Past kInline items, all of them move to the heap (which may fail,
  // leaving the item to its Ref).
  void keep(Ref item) {
    if (heap_values_.empty() && size_ < kInline) {
      objects_[size_] = item.get();
      values_[size_++] = &obj<T>(item.get())->value;
      ++obj<T>(item.get())->borrow;
      item.release();
    } else {
      keep_on_heap(std::move(item));
    }
  }
  void keep_on_heap(Ref item) {
    // Room in both lists, by doubling, before either changes.
    if (heap_values_.size() == heap_values_.capacity() ||
        heap_objects_.size() == heap_objects_.capacity()) {
      const std::size_t grown = std::max(2 * kInline, 2 * heap_values_.size());
      heap_values_.reserve(grown);
      heap_objects_.reserve(grown);
    }
    if (heap_values_.empty()) {
      heap_values_.assign(values_.begin(), values_.end());
      heap_objects_.assign(objects_.begin(), objects_.end());
    }
    heap_values_.push_back(&obj<T>(item.get())->value);
    heap_objects_.push_back(item.get());
    ++obj<T>(item.get())->borrow;
    item.release();
  }

  std::array<PyObject*, kInline> objects_;
  std::array<const T*, kInline> values_;
  std::size_t size_ = 0;  // in the inline arrays
  std::vector<PyObject*> heap_objects_;
  std::vector<const T*> heap_values_;
};

// ---- results ----------------------------------------------------------

inline PyObject* to_py(Ref&& r) { return r.release(); }
inline PyObject* to_py(bool v) { return Py_NewRef(v ? Py_True : Py_False); }
template <std::signed_integral T>
PyObject* to_py(T v) {
  return PyLong_FromLongLong(v);
}
template <std::unsigned_integral T>
  requires(!std::is_same_v<T, bool>)
PyObject* to_py(T v) {
  return PyLong_FromUnsignedLongLong(v);
}
PyObject* to_py(unsigned __int128 v);
// An exact Python int however many limbs (toolkit/biguint.cpp).
PyObject* to_py(const kelo_core::BigUint& v);
inline PyObject* to_py(double v) { return PyFloat_FromDouble(v); }
inline PyObject* to_py(float v) { return PyFloat_FromDouble(double(v)); }
inline PyObject* to_py(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), Py_ssize_t(s.size()));
}
inline PyObject* to_py(const std::string& s) { return to_py(std::string_view(s)); }
inline PyObject* to_py(const char* s) { return PyUnicode_FromString(s); }
template <std::size_t N>
PyObject* to_py(const ShortText<N>& t) {
  return to_py(t.view());
}

// The variant's single object.
template <Variant T>
PyObject* to_py(T v) {
  return Py_NewRef(PyClass<T>::variants[std::size_t(v)]);
}

// A new instance holding a copy.
template <class T>
  requires Wrapped<std::remove_cvref_t<T>> && (!Variant<std::remove_cvref_t<T>>)
PyObject* to_py(T&& v) {
  return make<std::remove_cvref_t<T>>(std::forward<T>(v));
}

// Declared ahead so that optional lists convert too.
template <class L>
  requires is_list<L>::value
PyObject* to_py(const L& items);

template <class T>
PyObject* to_py(const std::optional<T>& v) {
  return v ? to_py(*v) : Py_NewRef(Py_None);
}
template <class T>
PyObject* to_py(std::optional<T>&& v) {
  return v ? to_py(std::move(*v)) : Py_NewRef(Py_None);
}

template <class L>
  requires is_list<L>::value
PyObject* to_py(const L& items) {
  Ref list(PyList_New(Py_ssize_t(items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_py(items[i]);
    if (!item) return nullptr;
    PyList_SetItem(list.get(), Py_ssize_t(i), item);
  }
  return list.release();
}

// A list made from a temporary: each item is moved into its object.
template <class T>
  requires(!std::is_same_v<T, bool>)
PyObject* to_py(std::vector<T>&& items) {
  Ref list(PyList_New(Py_ssize_t(items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = to_py(std::move(items[i]));
    if (!item) return nullptr;
    PyList_SetItem(list.get(), Py_ssize_t(i), item);
  }
  return list.release();
}

// A list of new instances of Shared<T>'s class, each sharing its entry's
// value (nothing is copied but a reference count).
template <class T>
PyObject* to_py(const kelo_core::SharedVector<T>& items) {
  Ref list(PyList_New(Py_ssize_t(items.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < items.size(); ++i) {
    PyObject* item = make<kelo_core::Shared<T>>(items.shared(i));
    if (!item) return nullptr;
    PyList_SetItem(list.get(), Py_ssize_t(i), item);
  }
  return list.release();
}

template <class T>
PyObject* to_py(kelo_core::Result<T>&& r) {
  if (!r) return raise(r.error());
  return to_py(std::move(r).value());
}

}  // namespace kelo::py
