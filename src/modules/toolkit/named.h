// Named results: a C++ struct returned to Python as a struct sequence (a
// tuple whose items are also read by name, like os.stat_result). The struct
// names its type and lists its fields once:
//
//   struct Verdict {
//     static constexpr const char* kName = "kelo._native.Verdict";
//     static constexpr const char* kDoc = "One candidate's verdict.";
//     static constexpr auto kFields = std::make_tuple(field("provider", &Verdict::provider), ...);
//     ...members...
//   };
//
// Results are values: a field holding a C++ list becomes a tuple (a Ref
// field, an object the callee made, is taken as it is). Declare the
// struct in namespace kelo::py (not an unnamed one), so that a list of them
// finds its conversion. The module that returns it adds the type with
// add_named<T>(module).
#pragma once

#include <array>
#include <cstddef>
#include <tuple>
#include <type_traits>
#include <utility>

#include "toolkit/convert.h"
#include "toolkit/module.h"

namespace kelo::py {

template <class M>
struct NamedField {
  const char* name;
  M member;
};
template <class M>
constexpr NamedField<M> field(const char* name, M member) {
  return {name, member};
}

template <class T>
concept NamedResult = requires {
  T::kName;
  T::kDoc;
  T::kFields;
};

template <NamedResult T>
struct has_own_conversion<T> : std::true_type {};

template <NamedResult T>
struct NamedType {
  static constexpr std::size_t count = std::tuple_size_v<std::remove_const_t<decltype(T::kFields)>>;
  static inline PyTypeObject* type = nullptr;

  // The struct sequence type, made on first call and kept for the life of
  // the process.
  static PyTypeObject* get() {
    if (type) return type;
    static std::array<PyStructSequence_Field, count + 1> fields = [] {
      std::array<PyStructSequence_Field, count + 1> f{};
      std::size_t i = 0;
      std::apply([&](const auto&... each) { ((f[i++] = {each.name, nullptr}), ...); }, T::kFields);
      return f;
    }();
    static PyStructSequence_Desc desc{T::kName, T::kDoc, fields.data(), int(count)};
    type = PyStructSequence_NewType(&desc);
    return type;
  }
};

// The type under its short name in module, added to __all__.
template <NamedResult T>
bool add_named(PyObject* module) {
  PyTypeObject* type = NamedType<T>::get();
  if (!type) return false;
  std::string_view name = T::kName;
  return add_name(module, std::string(name.substr(name.rfind('.') + 1)).c_str(),
                  reinterpret_cast<PyObject*>(type));
}

// A new struct sequence of the fields' conversions; a temporary's fields
// are moved into theirs (so a field may be a Ref made by the callee).
template <class V>
  requires NamedResult<std::remove_cvref_t<V>>
PyObject* to_py(V&& value) {
  using T = std::remove_cvref_t<V>;
  PyTypeObject* type = NamedType<T>::get();
  if (!type) return nullptr;
  Ref result(PyStructSequence_New(type));
  if (!result) return nullptr;
  bool ok = true;
  Py_ssize_t i = 0;
  std::apply(
      [&](const auto&... each) {
        ((ok = ok && [&] {
           PyObject* item;
           if constexpr (std::is_rvalue_reference_v<V&&>) {
             item = to_py(std::move(value.*(each.member)));
           } else {
             item = to_py(value.*(each.member));
           }
           using F = std::remove_cvref_t<decltype(value.*(each.member))>;
           if (item && is_list<F>::value) {
             PyObject* tuple = PyList_AsTuple(item);
             Py_DECREF(item);
             item = tuple;
           }
           if (!item) return false;
           PyStructSequence_SetItem(result.get(), i++, item);
           return true;
         }()),
         ...);
      },
      T::kFields);
  return ok ? result.release() : nullptr;
}

}  // namespace kelo::py
