// Trampolines: the C entry points the interpreter calls, one instantiation
// per declared C++ callable. Each binds its arguments, converts them in
// parameter order, takes the borrows, calls, and converts the result.
#pragma once

#include <functional>
#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

#include "support/hash.h"
#include "toolkit/bind.h"
#include "toolkit/convert.h"
#include "toolkit/errors.h"

namespace kelo::py {

// ---- the shape of a declared callable ---------------------------------

template <class F>
struct Fn;
template <class R, class... A>
struct Fn<R (*)(A...)> {
  using Args = std::tuple<A...>;
};
template <class R, class... A>
struct Fn<R (*)(A...) noexcept> : Fn<R (*)(A...)> {};
template <class R, class C, class... A>
struct Fn<R (C::*)(A...) const> {
  using Args = std::tuple<const C&, A...>;
};
template <class R, class C, class... A>
struct Fn<R (C::*)(A...) const noexcept> : Fn<R (C::*)(A...) const> {};
template <class R, class C, class... A>
struct Fn<R (C::*)(A...)> {
  using Args = std::tuple<C&, A...>;
};
template <class R, class C, class... A>
struct Fn<R (C::*)(A...) noexcept> : Fn<R (C::*)(A...)> {};

// Lambdas are declared by value; their parameters are those of the function
// pointer they convert to.
template <auto F>
constexpr auto plain() {
  if constexpr (std::is_class_v<decltype(F)>) {
    return +F;
  } else {
    return F;
  }
}
template <auto F>
using ArgsOf = typename Fn<decltype(plain<F>())>::Args;

template <class Tuple>
struct Tail;
template <class First, class... Rest>
struct Tail<std::tuple<First, Rest...>> {
  using type = std::tuple<Rest...>;
};

// ---- one parameter ----------------------------------------------------

// By value: converted into a local the callee then takes over.
template <class P>
struct Loader {
  std::remove_cvref_t<P> value{};
  bool load(PyObject* o) { return from_py(o, value); }
  std::remove_cvref_t<P>&& get() { return std::move(value); }
};

// An instance of an exposed class by const reference: the callee reads the
// argument's own value, under a shared borrow held for the call.
template <class T>
  requires Wrapped<T>
struct Loader<const T&> {
  PyObject* object = nullptr;
  SharedBorrow borrow;
  bool load(PyObject* o) {
    if (!is_instance<T>(o)) return not_an_instance(o, PyClass<T>::name);
    if (!borrow.acquire(obj<T>(o)->borrow)) return false;
    object = o;
    return true;
  }
  const T& get() { return obj<T>(object)->value; }
};

// The same, with the object's memo at hand (Held).
template <class T>
struct Loader<Held<T>> : Loader<const T&> {
  Held<T> get() { return Held<T>(obj<T>(this->object)); }
};

// An instance of an exposed class by non-const reference: a module function
// that changes its argument in place holds an exclusive borrow of it for the
// call, as an in-place method holds one of its receiver.
template <class T>
  requires Wrapped<T>
struct Loader<T&> {
  PyObject* object = nullptr;
  ExclusiveBorrow borrow;
  bool load(PyObject* o) {
    if (!is_instance<T>(o)) return not_an_instance(o, PyClass<T>::name);
    if (!borrow.acquire(obj<T>(o)->borrow)) return false;
    object = o;
    return true;
  }
  T& get() { return obj<T>(object)->value; }
};

template <class Tuple>
struct Params;
template <class... P>
struct Params<std::tuple<P...>> {
  static constexpr int count = int(sizeof...(P));

  // Converts the bound slots in parameter order (the first failure is
  // reported, noted with its parameter's name) and calls call(values...).
  template <class Call>
  static PyObject* run(const Signature& sig, PyObject* const* slots, Call&& call) {
    return run(sig, slots, call, std::index_sequence_for<P...>{});
  }

 private:
  template <class Call, std::size_t... I>
  static PyObject* run([[maybe_unused]] const Signature& sig,
                       [[maybe_unused]] PyObject* const* slots,
                       Call& call, std::index_sequence<I...>) {
    std::tuple<Loader<P>...> loaders;
    bool ok = true;
    (void)((ok = load_one<I>(sig, slots, loaders)) && ...);
    if (!ok) return nullptr;
    return call(std::get<I>(loaders).get()...);
  }

  template <std::size_t I, class Loaders>
  static bool load_one(const Signature& sig, PyObject* const* slots, Loaders& loaders) {
    if (!slots[I]) return true;  // an optional parameter keeps its default
    if (std::get<I>(loaders).load(slots[I])) return true;
    note_parameter(sig.names[I].c_str());
    return false;
  }
};

// Calls f and converts what it returns; void becomes None.
template <class F, class... A>
PyObject* result_of(F&& f, A&&... args) {
  using R = std::invoke_result_t<F, A...>;
  if constexpr (std::is_void_v<R>) {
    std::invoke(std::forward<F>(f), std::forward<A>(args)...);
    Py_RETURN_NONE;
  } else {
    return to_py(std::invoke(std::forward<F>(f), std::forward<A>(args)...));
  }
}

// No C++ exception crosses into the interpreter, and the thread can throw
// one without allocating (errors.h).
template <class Body>
auto guarded(Body&& body, decltype(body()) on_error) noexcept -> decltype(body()) {
  ensure_thread_ready();
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (...) {
    raise_internal("unexpected failure in kelo.ext");
  }
  return on_error;
}

// ---- entry points -----------------------------------------------------

// Module functions and static constructors: every parameter is an argument.
template <class T, auto F>
struct Static {
  static inline Signature sig;
  using P = Params<ArgsOf<F>>;

  static PyObject* call(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
      auto body = [](auto&&... a) { return result_of(F, std::forward<decltype(a)>(a)...); };
      // Every parameter given by position, in order: the arguments are the slots.
      if (!kwnames && nargs == P::count) return P::run(sig, args, body);
      PyObject* slots[kMaxParams];
      if (!bind(sig, args, nargs, kwnames, slots)) return nullptr;
      return P::run(sig, slots, body);
    }, nullptr);
  }
};

// The constructor, called with a tuple and a dict.
template <class T, auto F>
struct Init {
  static inline Signature sig;
  using P = Params<ArgsOf<F>>;

  static PyObject* call(PyTypeObject*, PyObject* args, PyObject* kwargs) {
    return guarded([&]() -> PyObject* {
      PyObject* slots[kMaxParams];
      if (!bind(sig, args, kwargs, slots)) return nullptr;
      return P::run(sig, slots, [](auto&&... a) { return result_of(F, std::forward<decltype(a)>(a)...); });
    }, nullptr);
  }
};

// Instance methods: the first parameter is the receiver: const T& for
// readers, T for builders, T& for in-place mutators.
template <class T, auto F>
struct Method {
  static inline Signature sig;
  using Receiver = std::tuple_element_t<0, ArgsOf<F>>;
  static_assert(std::is_same_v<std::remove_cvref_t<Receiver>, T>, "the receiver comes first");
  // Only a receiver taken by non-const reference changes in place; one taken
  // by value (a builder) works on its own copy and reads like any reader.
  static constexpr bool mutates =
      std::is_lvalue_reference_v<Receiver> && !std::is_const_v<std::remove_reference_t<Receiver>>;
  using P = Params<typename Tail<ArgsOf<F>>::type>;

  static PyObject* call(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
      std::conditional_t<mutates, ExclusiveBorrow, SharedBorrow> borrow;
      if (!borrow.acquire(obj<T>(self)->borrow)) return nullptr;
      auto body = [self](auto&&... a) {
        return result_of(F, obj<T>(self)->value, std::forward<decltype(a)>(a)...);
      };
      if (!kwnames && nargs == P::count) return P::run(sig, args, body);
      PyObject* slots[kMaxParams];
      if (!bind(sig, args, nargs, kwnames, slots)) return nullptr;
      return P::run(sig, slots, body);
    }, nullptr);
  }
};

// Reads under a shared borrow: getters and the text/length specials.
template <class T, class Read>
auto reading(PyObject* self, Read&& read, decltype(read(std::declval<const T&>())) on_error) {
  return guarded([&]() -> decltype(read(std::declval<const T&>())) {
    SharedBorrow borrow;
    if (!borrow.acquire(obj<T>(self)->borrow)) return on_error;
    return read(static_cast<const T&>(obj<T>(self)->value));
  }, on_error);
}

template <class T, auto F>
struct Getter {
  static PyObject* get(PyObject* self, void*) {
    return reading<T>(self, [](const T& v) { return result_of(F, v); }, nullptr);
  }
};

template <class T, auto F>
struct Text {
  static PyObject* call(PyObject* self) {
    return reading<T>(self, [](const T& v) { return to_py(std::invoke(F, v)); }, nullptr);
  }
};

template <class T, auto F>
struct Length {
  static Py_ssize_t call(PyObject* self) {
    return reading<T>(self, [](const T& v) { return Py_ssize_t(std::invoke(F, v)); }, Py_ssize_t(-1));
  }
};

// SipHash-1-3 with the all-zero key over the value's hash stream; -1 is
// the interpreter's error marker, so it becomes -2.
template <class T>
Py_hash_t hash_of(const T& value) {
  kelo_core::HashStream h;
  hash_into(h, value);
  return kelo_core::signed_hash(h.finish());
}

template <class T>
struct Hash {
  static Py_hash_t call(PyObject* self) {
    return reading<T>(self, [](const T& v) { return hash_of(v); }, Py_hash_t(-1));
  }
};

// == compares values of the same class; != is the negation of the
// interpreter's own ==; everything else is not implemented here.
template <class T>
struct Compare {
  static PyObject* call(PyObject* a, PyObject* b, int op) {
    if (op != Py_EQ && op != Py_NE) Py_RETURN_NOTIMPLEMENTED;
    if (!is_instance<T>(b)) {
      if (op == Py_EQ) Py_RETURN_NOTIMPLEMENTED;
      int eq = PyObject_RichCompareBool(a, b, Py_EQ);
      if (eq < 0) return nullptr;
      return to_py(eq == 0);
    }
    return guarded([&]() -> PyObject* {
      SharedBorrow ba, bb;
      if (!ba.acquire(obj<T>(a)->borrow) || !bb.acquire(obj<T>(b)->borrow)) return nullptr;
      bool eq = obj<T>(a)->value == obj<T>(b)->value;
      return to_py(eq == (op == Py_EQ));
    }, nullptr);
  }
};

}  // namespace kelo::py
