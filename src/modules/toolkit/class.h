// Declaring a Python class: once, member by member, as its table reads —
// text signature and doc, then the C++ callable. Everything else (argument
// binding, conversions, messages, borrows, slots) follows from the
// callable's parameter types and the names in the text signature.
//
//   Class<FrameRate>("PyFrameRate(numerator, denominator)", "Frame rate as a rational number.")
//       .init<[](std::uint32_t n, std::uint32_t d) { return FrameRate{n, d}; }>()
//       .property<&FrameRate::numerator>("numerator")
//       .def<&FrameRate::as_f64>("as_f64($self)", "The frame rate as a float ...")
//       .repr<[](const FrameRate& r) { ... }>()
//       .equality()
//       .hash();
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/variants.h"
#include "toolkit/call.h"

namespace kelo::py {

// A class declaration, independent of its core type; makes the type object.
class ClassSpec {
 public:
  const std::string& name() const { return name_; }

  // The class's type object, made on first call; a new reference is not
  // returned (the type lives as long as the process).
  PyTypeObject* create();

 protected:
  struct MethodEntry {
    std::string name, doc;
    PyCFunction function;
    int flags;
  };
  struct GetterEntry {
    std::string name, doc;
    getter function;
  };

  ClassSpec(std::string_view head, const char* doc, int basicsize, PyTypeObject** cache,
            const char** name_cache);

  void add_method(const char* signature, const char* doc, PyCFunction f, int flags,
                  Signature& sig);
  void add_init(newfunc f, Signature& sig, int param_count);
  void add_getter(const char* name, const char* doc, getter f);
  void add_slot(int slot, void* f) { slots_.push_back({slot, f}); }
  // A declaration fault, reported when the type is made.
  void fail(std::string what) {
    if (error_.empty()) error_ = std::move(what);
  }
  bool check_count(const Signature& sig, int param_count);

  std::string name_;
  std::string head_;  // the text signature of the constructor, if any
  std::string doc_;
  bool constructible_ = false;
  std::vector<std::string> variants_;  // enumeration-like classes
  bool (*after_create_)(PyTypeObject*, const std::vector<std::string>&) = nullptr;

 private:
  int basicsize_;
  PyTypeObject** cache_;
  const char** name_cache_;
  std::vector<MethodEntry> methods_;
  std::vector<GetterEntry> getters_;
  std::vector<PyType_Slot> slots_;
  std::string error_;
  // Built by create(); the interpreter keeps pointers into them.
  std::string qualified_;
  std::vector<PyMethodDef> method_defs_;
  std::vector<PyGetSetDef> getset_defs_;
};

template <class T>
class Class : public ClassSpec {
 public:
  // head: the class name, or the constructor's text signature
  // ("PyPoint2D(x, y)") when the class has a constructor.
  explicit Class(std::string_view head, const char* doc = nullptr)
      : ClassSpec(head, doc, int(sizeof(Obj<T>)), &PyClass<T>::type, &PyClass<T>::name) {
    add_slot(Py_tp_dealloc, reinterpret_cast<void*>(&dealloc<T>));
  }

  // The constructor; its parameters are named by the class's text signature.
  template <auto F>
  Class& init() {
    add_init(&Init<T, F>::call, Init<T, F>::sig, Init<T, F>::P::count);
    return *this;
  }

  // An instance method; F's first parameter is the receiver.
  template <auto F>
  Class& def(const char* signature, const char* doc = nullptr) {
    using M = Method<T, F>;
    add_method(signature, doc, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&M::call)),
               METH_FASTCALL | METH_KEYWORDS, M::sig);
    check_count(M::sig, M::P::count);
    return *this;
  }

  // A static method (a static constructor, called on the class).
  template <auto F>
  Class& def_static(const char* signature, const char* doc = nullptr) {
    using S = Static<T, F>;
    add_method(signature, doc, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&S::call)),
               METH_FASTCALL | METH_KEYWORDS | METH_STATIC, S::sig);
    check_count(S::sig, S::P::count);
    return *this;
  }

  // A read-only property: a data member pointer or a callable on const T&.
  template <auto F>
  Class& property(const char* name, const char* doc = nullptr) {
    add_getter(name, doc, &Getter<T, F>::get);
    return *this;
  }

  template <auto F>
  Class& repr() {
    add_slot(Py_tp_repr, reinterpret_cast<void*>(&Text<T, F>::call));
    return *this;
  }
  template <auto F>
  Class& str() {
    add_slot(Py_tp_str, reinterpret_cast<void*>(&Text<T, F>::call));
    return *this;
  }
  // repr and str alike.
  template <auto F>
  Class& text() {
    return repr<F>().template str<F>();
  }
  // len(x), and so the truth of x.
  template <auto F>
  Class& len() {
    add_slot(Py_mp_length, reinterpret_cast<void*>(&Length<T, F>::call));
    return *this;
  }
  // == and != by the core value's operator==. Without hash() the class is
  // unhashable.
  Class& equality() {
    add_slot(Py_tp_richcompare, reinterpret_cast<void*>(&Compare<T>::call));
    return *this;
  }
  // hash() over the value's hash stream (hash_into).
  Class& hash() {
    add_slot(Py_tp_hash, reinterpret_cast<void*>(&Hash<T>::call));
    return *this;
  }
};

// ---- enumeration-like classes -----------------------------------------

template <Variant E>
struct EnumText {
  static inline std::vector<PyObject*> texts;  // "PyDType.BFloat16", by index
  static PyObject* call(PyObject* self) { return Py_NewRef(texts[std::size_t(obj<E>(self)->value)]); }
};

// A variant's hash stream is its index as 8 little-endian bytes.
template <Variant E>
Py_hash_t hash_variant(PyObject* self) {
  return kelo_core::signed_hash(kelo_core::HashStream().u64(std::uint64_t(obj<E>(self)->value)).finish());
}

template <Variant E>
PyObject* variant_index(PyObject* self) {
  return PyLong_FromLong(long(obj<E>(self)->value));
}

// Puts `value` into an immutable class's namespace while the toolkit builds
// it: the generic attribute setter writes the class's dictionary without
// type.__setattr__'s check of the immutable flag.
bool set_class_attribute(PyTypeObject* type, const char* name, PyObject* value);

// One class attribute and one single object per variant, in index order.
template <Variant E>
bool make_variants(PyTypeObject* type, const std::vector<std::string>& names) {
  if (!PyClass<E>::variants.empty()) return true;
  for (std::size_t i = 0; i < names.size(); ++i) {
    PyObject* v = make<E>(static_cast<E>(i));
    if (!v) return false;
    PyObject* text = PyUnicode_FromFormat("%s.%s", PyClass<E>::name, names[i].c_str());
    if (!text) return false;
    PyClass<E>::variants.push_back(v);  // never released
    EnumText<E>::texts.push_back(text);
    if (!set_class_attribute(type, names[i].c_str(), v)) return false;
  }
  return true;
}

// The variants are named by the core's table, kelo_core::VariantNames<E>.
template <Variant E>
  requires kelo_core::NamedVariants<E>
class Enum : public Class<E> {
 public:
  explicit Enum(const char* name, const char* doc = nullptr) : Class<E>(name, doc) {
    for (std::string_view v : kelo_core::VariantNames<E>::names) this->variants_.emplace_back(v);
    this->after_create_ = &make_variants<E>;
    this->add_slot(Py_tp_repr, reinterpret_cast<void*>(&EnumText<E>::call));
    this->add_slot(Py_tp_str, reinterpret_cast<void*>(&EnumText<E>::call));
    this->add_slot(Py_tp_hash, reinterpret_cast<void*>(&hash_variant<E>));
    this->add_slot(Py_nb_int, reinterpret_cast<void*>(&variant_index<E>));
    this->equality();
  }
};

// ---- module functions -------------------------------------------------

class FunctionSpec {
 public:
  const std::string& name() const { return name_; }
  // A new function object bound to the module.
  PyObject* create(PyObject* module);

 protected:
  FunctionSpec(const char* signature, const char* doc, PyCFunction f, Signature& sig, int count);

 private:
  std::string name_, doc_, error_;
  PyMethodDef def_{};
};

template <auto F>
class Function : public FunctionSpec {
 public:
  Function(const char* signature, const char* doc)
      : FunctionSpec(signature, doc,
                     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&Static<void, F>::call)),
                     Static<void, F>::sig, Static<void, F>::P::count) {}
};

}  // namespace kelo::py
