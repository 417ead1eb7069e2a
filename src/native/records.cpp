// The record codec of kelo._native (see records.h) and its functions:
// to_dict/from_dict (tagged text form), encode/decode (one value's text form,
// untagged) and state/restore (the pickling form).
#include "native/records.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <variant>

#include "native/fields.h"
#include "native/topics.h"
#include "support/shared_list.h"
#include "support/shared_vector.h"

namespace kelo::py::records {

std::string Path::str() const {
  std::string out = base_;
  for (const Segment& s : segments_) {
    if (s.kind == '.') {
      if (!out.empty()) out += '.';
      out += s.name;
    } else if (s.kind == '[') {
      out += '[';
      out += std::to_string(s.index);
      out += ']';
    } else {
      out += "[\"";
      for (char c : s.key) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
      }
      out += "\"]";
    }
  }
  return out;
}

bool Path::fail(const std::string& what) const {
  std::string where = str();
  if (where.empty()) {
    PyErr_SetString(PyExc_ValueError, what.c_str());
  } else {
    PyErr_Format(PyExc_ValueError, "%s: %s", where.c_str(), what.c_str());
  }
  return false;
}

namespace {

// ---- names of enumerations ---------------------------------------------

// Enumerations are written by their enumerators' names.
template <class E>
concept Named = kelo_core::NamedVariants<E>;
template <class E>
constexpr std::span<const std::string_view> enum_names() {
  return kelo_core::VariantNames<E>::names;
}

inline constexpr std::string_view kSegmentationKinds[] = {"box", "polygon", "mask"};

template <class T>
struct is_open : std::false_type {};
template <class V>
struct is_open<Open<V>> : std::true_type {};
template <class T>
struct is_id : std::false_type {};
template <class Tag>
struct is_id<Id<Tag>> : std::true_type {};
template <class T>
struct is_boxed : std::false_type {};
template <class T>
struct is_boxed<kelo_core::Boxed<T>> : std::true_type {
  using inner = T;
};
template <class T>
struct is_vector : std::false_type {};
template <class T>
struct is_vector<std::vector<T>> : std::true_type {};
template <class T>
struct is_vector<kelo_core::SharedList<T>> : std::true_type {};
template <class T>
struct is_vector<kelo_core::SharedVector<T>> : std::true_type {};

PyObject* text(std::string_view s) { return PyUnicode_FromStringAndSize(s.data(), Py_ssize_t(s.size())); }

// One interned str per enumeration variant, made once.
template <class E>
PyObject* variant_text(E e) {
  static std::vector<PyObject*> texts = [] {
    std::vector<PyObject*> all;
    for (std::string_view n : enum_names<E>()) {
      all.push_back(PyUnicode_InternFromString(std::string(n).c_str()));
    }
    return all;
  }();
  PyObject* t = texts[std::size_t(e)];
  return t ? Py_NewRef(t) : nullptr;
}

// The type of o in messages: 'str', 'dict', ..., and null for None.
std::string type_of(PyObject* o) {
  if (o == Py_None) return "null";
  Ref name(PyType_GetName(Py_TYPE(o)));
  Py_ssize_t n = 0;
  const char* s = name ? PyUnicode_AsUTF8AndSize(name.get(), &n) : nullptr;
  if (!s) {
    PyErr_Clear();
    return "?";
  }
  return "'" + std::string(s, std::size_t(n)) + "'";
}

bool expected(const Path& p, const char* what, PyObject* got) {
  return p.fail(std::string("expected ") + what + ", got " + type_of(got));
}

// A text quoted for a message, cut short when long.
std::string shown(std::string_view t) {
  constexpr std::size_t kMax = 60;
  if (t.size() <= kMax) return "'" + std::string(t) + "'";
  std::size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(t[cut]) & 0xC0) == 0x80) --cut;  // whole characters
  return "'" + std::string(t.substr(0, cut)) + "'... (" + std::to_string(t.size()) + " bytes)";
}

// ---- floats --------------------------------------------------------------

PyObject* nonfinite_text(bool nan, bool negative, std::uint64_t bits, bool canonical, int width) {
  if (!nan) return PyUnicode_FromString(negative ? "-inf" : "inf");
  if (canonical) return PyUnicode_FromString("nan");
  char buf[32];
  std::snprintf(buf, sizeof buf, "nan:0x%0*llx", width, static_cast<unsigned long long>(bits));
  return PyUnicode_FromString(buf);
}

PyObject* float_text(float f) {
  if (std::isfinite(f)) {
    // The shortest decimal that reads back as f, carried by the double
    // nearest to it: json writes that double's shortest form, which is the
    // same decimal or a shorter one that also reads back as f.
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, f);
    double d = 0;
    std::from_chars(buf, r.ptr, d);
    return PyFloat_FromDouble(d);
  }
  std::uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return nonfinite_text(std::isnan(f), std::signbit(f), bits, bits == 0x7fc00000u, 8);
}

PyObject* double_text(double d) {
  if (std::isfinite(d)) return PyFloat_FromDouble(d);
  std::uint64_t bits;
  std::memcpy(&bits, &d, 8);
  return nonfinite_text(std::isnan(d), std::signbit(d), bits, bits == 0x7ff8000000000000ull, 16);
}

// A number, or one of the non-finite texts.
bool read_double(PyObject* o, double& out, const Path& p, int width) {
  if (PyFloat_Check(o)) {
    out = PyFloat_AsDouble(o);
    return true;
  }
  if (PyLong_Check(o) && !PyBool_Check(o)) {
    out = PyLong_AsDouble(o);
    if (out == -1.0 && PyErr_Occurred()) {
      PyErr_Clear();
      return p.fail("number out of range");
    }
    return true;
  }
  if (PyUnicode_Check(o)) {
    Py_ssize_t n = 0;
    const char* s = PyUnicode_AsUTF8AndSize(o, &n);
    if (!s) {
      PyErr_Clear();
      return p.fail("not a number");
    }
    std::string_view t(s, std::size_t(n));
    if (t == "inf") {
      out = HUGE_VAL;
      return true;
    }
    if (t == "-inf") {
      out = -HUGE_VAL;
      return true;
    }
    if (t == "nan") {
      out = width == 8 ? double(std::nanf("")) : std::nan("");
      return true;
    }
    if (t.starts_with("nan:0x") && t.size() == 6 + std::size_t(width)) {
      std::uint64_t bits = 0;
      auto r = std::from_chars(t.data() + 6, t.data() + t.size(), bits, 16);
      if (r.ec == std::errc() && r.ptr == t.data() + t.size()) {
        if (width == 8) {
          std::uint32_t b32 = std::uint32_t(bits);
          float f;
          std::memcpy(&f, &b32, 4);
          if (std::isnan(f)) {
            out = double(f);
            return true;
          }
        } else {
          std::memcpy(&out, &bits, 8);
          if (std::isnan(out)) return true;
        }
      }
    }
    return p.fail("not a number: " + shown(t));
  }
  return expected(p, "a number", o);
}

// The NaN of a "nan:0x" text of eight digits, as written.
std::optional<float> nan_bits32(PyObject* o) {
  if (!PyUnicode_Check(o)) return std::nullopt;
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (!s) {
    PyErr_Clear();
    return std::nullopt;
  }
  std::string_view t(s, std::size_t(n));
  std::uint32_t bits = 0;
  if (t.size() != 14 || !t.starts_with("nan:0x")) return std::nullopt;
  auto r = std::from_chars(t.data() + 6, t.data() + t.size(), bits, 16);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  float f = std::bit_cast<float>(bits);
  if (!std::isnan(f)) return std::nullopt;
  return f;
}

template <class U>
bool read_unsigned(PyObject* o, U& out, const Path& p) {
  if (!PyLong_Check(o) || PyBool_Check(o)) return expected(p, "an integer", o);
  unsigned long long v = PyLong_AsUnsignedLongLong(o);
  if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return p.fail("integer out of range");
  }
  if (v > std::numeric_limits<U>::max()) return p.fail("integer out of range");
  out = U(v);
  return true;
}

bool read_text(PyObject* o, std::string_view& out, const Path& p) {
  if (!PyUnicode_Check(o)) return expected(p, "a text", o);
  Py_ssize_t n = 0;
  const char* s = PyUnicode_AsUTF8AndSize(o, &n);
  if (!s) {
    PyErr_Clear();
    return p.fail("text is not valid Unicode");
  }
  out = std::string_view(s, std::size_t(n));
  return true;
}

// ---- writing -------------------------------------------------------------

template <Mode M, class T>
PyObject* put(const T& x);

template <Mode M, class T>
  requires Record<T>
PyObject* put_record(const T& x, PyObject* into = nullptr) {
  T& r = const_cast<T&>(x);  // fields() only reads here
  if constexpr (M == Mode::State) {
    static const Py_ssize_t count = [] {
      Py_ssize_t n = 0;
      T probe{};
      auto counter = [&n](FieldName, auto&) { ++n; };
      fields(counter, probe);
      return n;
    }();
    Ref tuple(PyTuple_New(count));
    if (!tuple) return nullptr;
    Py_ssize_t i = 0;
    bool ok = true;
    auto v = [&](FieldName, const auto& member) {
      if (!ok) return;
      PyObject* item = put<M>(member);
      if (!item) {
        ok = false;
        return;
      }
      PyTuple_SetItem(tuple.get(), i++, item);
    };
    fields(v, r);
    return ok ? tuple.release() : nullptr;
  } else {
    Ref dict(into ? Py_NewRef(into) : PyDict_New());
    if (!dict) return nullptr;
    bool ok = true;
    auto v = [&](FieldName name, const auto& member) {
      if (!ok) return;
      Ref item(put<M>(member));
      ok = item && PyDict_SetItem(dict.get(), name.key(), item.get()) == 0;
    };
    fields(v, r);
    return ok ? dict.release() : nullptr;
  }
}

template <Mode M, class T>
PyObject* put(const T& x) {
  if constexpr (std::is_same_v<T, bool>) {
    return Py_NewRef(x ? Py_True : Py_False);
  } else if constexpr (std::is_enum_v<T>) {
    if constexpr (M == Mode::State) return PyLong_FromLong(long(x));
    else return variant_text(x);
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    return PyLong_FromLongLong(x);
  } else if constexpr (std::is_unsigned_v<T>) {
    return PyLong_FromUnsignedLongLong(x);
  } else if constexpr (std::is_same_v<T, float>) {
    if constexpr (M == Mode::State) {
      // A NaN goes as its bits: widening would quiet a signalling one.
      if (std::isnan(x)) return PyLong_FromUnsignedLong(std::bit_cast<std::uint32_t>(x));
      return PyFloat_FromDouble(double(x));
    } else {
      return float_text(x);
    }
  } else if constexpr (std::is_same_v<T, double>) {
    if constexpr (M == Mode::State) return PyFloat_FromDouble(x);
    else return double_text(x);
  } else if constexpr (std::is_same_v<T, std::string>) {
    return text(x);
  } else if constexpr (std::is_same_v<T, kelo_core::Uuid>) {
    if constexpr (M == Mode::State) {
      return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(x.bytes.data()), 16);
    } else {
      char buf[36];
      x.write(buf);
      return PyUnicode_FromStringAndSize(buf, 36);
    }
  } else if constexpr (std::is_same_v<T, Object>) {
    return put_record<M>(record_of(x));
  } else if constexpr (is_boxed<T>::value) {
    return put<M>(*x);
  } else if constexpr (is_id<T>::value) {
    return put<M>(x.uuid);
  } else if constexpr (std::is_same_v<T, Duration>) {
    return to_py(x.total_nanos());
  } else if constexpr (is_open<T>::value) {
    if constexpr (M == Mode::State) {
      if (!x.is_custom()) return PyLong_FromSize_t(x.index());
      return text(x.name);
    } else {
      return text(canonical_name(x));
    }
  } else if constexpr (is_optional<T>::value) {
    return x ? put<M>(*x) : Py_NewRef(Py_None);
  } else if constexpr (is_vector<T>::value) {
    Ref list(PyList_New(Py_ssize_t(x.size())));
    if (!list) return nullptr;
    Py_ssize_t i = 0;
    for (const auto& item : x) {
      PyObject* o = put<M>(item);
      if (!o) return nullptr;
      PyList_SetItem(list.get(), i++, o);
    }
    return list.release();
  } else if constexpr (std::is_same_v<T, Attributes>) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (const auto entry : x) {
      Ref k(text(entry.key));
      Ref v(put<M>(entry.value));
      if (!k || !v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
  } else if constexpr (std::is_same_v<T, AttributeValue>) {
    Ref value(std::visit([](const auto& v) { return put<M>(v); }, x.payload));
    if (!value) return nullptr;
    if constexpr (M == Mode::State) {
      return Py_BuildValue("(nO)", Py_ssize_t(x.kind_index()), value.get());
    } else {
      static PyObject* kind = kName<"kind">.key();
      static PyObject* val = kName<"value">.key();
      Ref dict(PyDict_New());
      Ref k(text(x.kind()));
      if (!dict || !k || PyDict_SetItem(dict.get(), kind, k.get()) < 0 ||
          PyDict_SetItem(dict.get(), val, value.get()) < 0) {
        return nullptr;
      }
      return dict.release();
    }
  } else if constexpr (std::is_same_v<T, Segmentation>) {
    if constexpr (M == Mode::State) {
      Ref value(std::visit([](const auto& v) { return put<M>(v); }, x));
      if (!value) return nullptr;
      return Py_BuildValue("(nO)", Py_ssize_t(x.index()), value.get());
    } else {
      Ref dict(PyDict_New());
      Ref k(text(kSegmentationKinds[x.index()]));
      if (!dict || !k || PyDict_SetItem(dict.get(), kName<"kind">.key(), k.get()) < 0) {
        return nullptr;
      }
      return std::visit([&](const auto& v) { return put_record<M>(v, dict.get()); }, x);
    }
  } else {
    static_assert(Record<T>, "a field of a type the codec does not know");
    return put_record<M>(x);
  }
}

// ---- reading -------------------------------------------------------------

template <Mode M, class T>
bool get(PyObject* o, T& out, Path& p);

template <class T>
std::vector<FieldName> names_of() {
  std::vector<FieldName> names;
  T probe{};
  auto v = [&](FieldName f, auto&) { names.push_back(f); };
  fields(v, probe);
  return names;
}

// A record's fields from a dict holding exactly them (and `extra`, a key the
// caller reads itself).
template <Mode M, class T>
  requires Record<T>
bool get_record(PyObject* o, T& out, Path& p, PyObject* extra = nullptr) {
  if constexpr (M == Mode::State) {
    static const std::size_t count = names_of<T>().size();
    if (!PyTuple_Check(o) || PyTuple_Size(o) != Py_ssize_t(count)) {
      return p.fail("expected a tuple of " + std::to_string(count) + " fields");
    }
    Py_ssize_t i = 0;
    bool ok = true;
    auto v = [&](FieldName f, auto& member) {
      if (!ok) return;
      p.field(f.text);
      ok = get<M>(PyTuple_GetItem(o, i++), member, p);
      if (ok) p.pop();
    };
    fields(v, out);
    return ok;
  } else {
    if (!PyDict_Check(o)) return expected(p, "an object", o);
    Py_ssize_t seen = extra ? 1 : 0;
    bool ok = true;
    auto v = [&](FieldName f, auto& member) {
      if (!ok) return;
      p.field(f.text);
      PyObject* item = PyDict_GetItemWithError(o, f.key());
      if (!item) {
        ok = false;
        if (!PyErr_Occurred()) p.fail("missing field");
        return;
      }
      ++seen;
      ok = get<M>(item, member, p);
      if (ok) p.pop();
    };
    fields(v, out);
    if (!ok) return false;
    if (PyDict_Size(o) == seen) return true;
    static const std::vector<FieldName> known = names_of<T>();
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(o, &pos, &key, &value)) {
      bool found = extra && PyUnicode_Check(key) && PyUnicode_Compare(key, extra) == 0;
      for (const FieldName& f : known) {
        if (found) break;
        found = PyUnicode_Check(key) && PyUnicode_Compare(key, f.key()) == 0;
      }
      if (!found) {
        std::string_view k;
        if (!PyUnicode_Check(key) || !read_text(key, k, p)) {
          PyErr_Clear();
          return p.fail("unknown field of type " + type_of(key));
        }
        std::string where = p.str();
        if (!where.empty()) where += '.';
        where += k;
        PyErr_Format(PyExc_ValueError, "%s: unknown field", where.c_str());
        return false;
      }
    }
    return true;
  }
}

// A variant alternative by index, default-made.
template <class V, std::size_t I = 0>
bool emplace_index(V& v, std::size_t index) {
  if constexpr (I < std::variant_size_v<V>) {
    if (index == I) {
      using A = std::variant_alternative_t<I, V>;
      if constexpr (is_boxed<A>::value) {
        v.template emplace<I>(typename is_boxed<A>::inner{});
      } else {
        v.template emplace<I>();
      }
      return true;
    }
    return emplace_index<V, I + 1>(v, index);
  } else {
    return false;
  }
}

template <Mode M, class T>
bool get(PyObject* o, T& out, Path& p) {
  if (p.too_deep()) return p.fail("nested too deeply");
  if constexpr (std::is_same_v<T, bool>) {
    if (!PyBool_Check(o)) return expected(p, "true or false", o);
    out = o == Py_True;
    return true;
  } else if constexpr (std::is_enum_v<T>) {
    constexpr auto names = enum_names<T>();
    if constexpr (M == Mode::State) {
      std::size_t i = 0;
      if (!read_unsigned(o, i, p)) return false;
      if (i >= names.size()) return p.fail("no such variant");
      out = static_cast<T>(i);
      return true;
    } else {
      std::string_view t;
      if (!read_text(o, t, p)) return false;
      for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == t) {
          out = static_cast<T>(i);
          return true;
        }
      }
      return p.fail("unknown variant " + shown(t));
    }
  } else if constexpr (std::is_same_v<T, std::int64_t>) {
    if (!PyLong_Check(o) || PyBool_Check(o)) return expected(p, "an integer", o);
    long long v = PyLong_AsLongLong(o);
    if (v == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      return p.fail("integer out of range");
    }
    out = v;
    return true;
  } else if constexpr (std::is_unsigned_v<T>) {
    return read_unsigned(o, out, p);
  } else if constexpr (std::is_same_v<T, float>) {
    double d = 0;
    if constexpr (M == Mode::State) {
      if (PyLong_Check(o)) {  // a NaN's bits
        std::uint32_t bits = 0;
        if (!read_unsigned(o, bits, p)) return false;
        out = std::bit_cast<float>(bits);
        return std::isnan(out) || p.fail("not the bits of a NaN");
      }
      if (!PyFloat_Check(o)) return expected(p, "a float", o);
      d = PyFloat_AsDouble(o);
    } else {
      // A NaN written with its bits is taken as they are: narrowing from a
      // double would quiet a signalling one.
      if (std::optional<float> nan = nan_bits32(o)) {
        out = *nan;
        return true;
      }
      if (!read_double(o, d, p, 8)) return false;
      if (std::isfinite(d) && !std::isfinite(float(d))) {
        return p.fail("number out of single-precision range");
      }
    }
    out = float(d);
    return true;
  } else if constexpr (std::is_same_v<T, double>) {
    if constexpr (M == Mode::State) {
      if (!PyFloat_Check(o)) return expected(p, "a float", o);
      out = PyFloat_AsDouble(o);
      return true;
    } else {
      return read_double(o, out, p, 16);
    }
  } else if constexpr (std::is_same_v<T, std::string>) {
    std::string_view t;
    if (!read_text(o, t, p)) return false;
    out.assign(t);
    return true;
  } else if constexpr (std::is_same_v<T, kelo_core::Uuid>) {
    if constexpr (M == Mode::State) {
      if (!PyBytes_Check(o) || PyBytes_Size(o) != 16) return expected(p, "16 bytes", o);
      std::memcpy(out.bytes.data(), PyBytes_AsString(o), 16);
      return true;
    } else {
      std::string_view t;
      if (!read_text(o, t, p)) return false;
      auto u = kelo_core::Uuid::parse(t);
      if (!u) return p.fail("not an identifier: " + shown(t));
      out = *u;
      return true;
    }
  } else if constexpr (is_boxed<T>::value) {
    typename is_boxed<T>::inner v{};
    if (!get<M>(o, v, p)) return false;
    out = T(std::move(v));
    return true;
  } else if constexpr (is_id<T>::value) {
    return get<M>(o, out.uuid, p);
  } else if constexpr (std::is_same_v<T, Duration>) {
    if (!PyLong_Check(o) || PyBool_Check(o)) return expected(p, "an integer", o);
    unsigned long long v = PyLong_AsUnsignedLongLong(o);
    if (!(v == static_cast<unsigned long long>(-1) && PyErr_Occurred())) {
      out = Duration::from_nanos(v);
      return true;
    }
    PyErr_Clear();
    Ref billion(PyLong_FromLong(1000000000));
    Ref parts(billion ? PyNumber_Divmod(o, billion.get()) : nullptr);
    if (!parts) return false;
    unsigned long long secs = PyLong_AsUnsignedLongLong(PyTuple_GetItem(parts.get(), 0));
    if (secs == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
      PyErr_Clear();
      return p.fail("integer out of range");
    }
    out.secs = secs;
    out.nanos = std::uint32_t(PyLong_AsUnsignedLong(PyTuple_GetItem(parts.get(), 1)));
    return true;
  } else if constexpr (is_open<T>::value) {
    if constexpr (M == Mode::State) {
      if (PyLong_Check(o)) {
        std::size_t i = 0;
        if (!read_unsigned(o, i, p)) return false;
        if (i >= T::kCustomIndex) return p.fail("no such variant");
        out = T(static_cast<typename T::Variant>(i));
        return true;
      }
      std::string_view t;
      if (!read_text(o, t, p)) return false;
      out = T::custom(std::string(t));
      return true;
    } else {
      std::string_view t;
      if (!read_text(o, t, p)) return false;
      auto parsed = parse_canonical<typename T::Variant>(t);
      if (!parsed) return p.fail("unknown name " + shown(t));
      out = std::move(*parsed);
      return true;
    }
  } else if constexpr (is_optional<T>::value) {
    if (o == Py_None) {
      out.reset();
      return true;
    }
    typename T::value_type v{};
    if (!get<M>(o, v, p)) return false;
    out = std::move(v);
    return true;
  } else if constexpr (is_vector<T>::value) {
    if (!PyList_Check(o)) return expected(p, "a list", o);
    Py_ssize_t n = PyList_Size(o);
    T items;
    if constexpr (requires { items.reserve(0); }) items.reserve(std::size_t(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
      p.index(i);
      if constexpr (std::is_same_v<typename T::value_type, Object>) {
        ObjectRecord r{};
        if (!get<M>(PyList_GetItem(o, i), r, p)) return false;
        auto made = object_from(std::move(r));
        if (!made) return raise(made.error()) != nullptr;
        items.push_back(std::move(*made));
      } else {
        typename T::value_type v{};
        if (!get<M>(PyList_GetItem(o, i), v, p)) return false;
        items.push_back(std::move(v));
      }
      p.pop();
    }
    out = std::move(items);
    return true;
  } else if constexpr (std::is_same_v<T, Attributes>) {
    if (!PyDict_Check(o)) return expected(p, "an object", o);
    Attributes attrs;
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(o, &pos, &key, &value)) {
      std::string_view k;
      if (!read_text(key, k, p)) return false;
      p.key(k);
      AttributeValue v;
      if (!get<M>(value, v, p)) return false;
      p.pop();
      attrs.insert(std::string(k), std::move(v));
    }
    out = std::move(attrs);
    return true;
  } else if constexpr (std::is_same_v<T, AttributeValue>) {
    PyObject* value = nullptr;
    std::size_t index = 0;
    if constexpr (M == Mode::State) {
      if (!PyTuple_Check(o) || PyTuple_Size(o) != 2) return expected(p, "a pair", o);
      if (!read_unsigned(PyTuple_GetItem(o, 0), index, p)) return false;
      if (index >= AttributeValue::kKindNames.size()) return p.fail("no such kind");
      value = PyTuple_GetItem(o, 1);
    } else {
      if (!PyDict_Check(o)) return expected(p, "an object", o);
      PyObject* kind = PyDict_GetItemWithError(o, kName<"kind">.key());
      value = kind ? PyDict_GetItemWithError(o, kName<"value">.key()) : nullptr;
      if (!kind || !value) {
        if (PyErr_Occurred()) return false;
        p.field(kind ? "value" : "kind");
        return p.fail("missing field");
      }
      if (PyDict_Size(o) != 2) {
        p.field("?");
        p.pop();
        return p.fail("unknown field beside kind and value");
      }
      p.field("kind");
      std::string_view k;
      if (!read_text(kind, k, p)) return false;
      while (index < AttributeValue::kKindNames.size() && AttributeValue::kKindNames[index] != k) {
        ++index;
      }
      if (index == AttributeValue::kKindNames.size()) {
        return p.fail("unknown kind " + shown(k));
      }
      p.pop();
    }
    emplace_index(out.payload, index);
    p.field("value");
    bool ok = std::visit([&](auto& v) { return get<M>(value, v, p); }, out.payload);
    if (ok) p.pop();
    return ok;
  } else if constexpr (std::is_same_v<T, Segmentation>) {
    std::size_t index = 0;
    PyObject* body = o;
    if constexpr (M == Mode::State) {
      if (!PyTuple_Check(o) || PyTuple_Size(o) != 2) return expected(p, "a pair", o);
      if (!read_unsigned(PyTuple_GetItem(o, 0), index, p)) return false;
      if (index >= std::size(kSegmentationKinds)) return p.fail("no such kind");
      body = PyTuple_GetItem(o, 1);
      emplace_index(out, index);
      return std::visit([&](auto& v) { return get_record<M>(body, v, p); }, out);
    } else {
      if (!PyDict_Check(o)) return expected(p, "an object", o);
      PyObject* kind = PyDict_GetItemWithError(o, kName<"kind">.key());
      p.field("kind");
      if (!kind) return PyErr_Occurred() ? false : p.fail("missing field");
      std::string_view k;
      if (!read_text(kind, k, p)) return false;
      while (index < std::size(kSegmentationKinds) && kSegmentationKinds[index] != k) ++index;
      if (index == std::size(kSegmentationKinds)) {
        return p.fail("unknown kind " + shown(k));
      }
      p.pop();
      emplace_index(out, index);
      return std::visit([&](auto& v) { return get_record<M>(body, v, p, kName<"kind">.key()); },
                        out);
    }
  } else {
    static_assert(Record<T>, "a field of a type the codec does not know");
    return get_record<M>(o, out, p);
  }
}

// ---- the JSON Schema of the text form ----------------------------------------

template <class T>
constexpr const char* kDef = nullptr;
#define KELO_DEF(T, name) \
  template <>             \
  constexpr const char* kDef<T> = name;
KELO_DEF(Point2D, "Point2D")
KELO_DEF(CoordinateSpaceReference, "CoordinateSpaceReference")
KELO_DEF(CoordinateSpace, "CoordinateSpace")
KELO_DEF(BoundingBox, "BoundingBox")
KELO_DEF(Polygon, "Polygon")
KELO_DEF(TimestampAnnotation, "TimestampAnnotation")
KELO_DEF(Timestamp, "Timestamp")
KELO_DEF(FrameRate, "FrameRate")
KELO_DEF(VideoFormat, "VideoFormat")
KELO_DEF(Tensor, "Tensor")
KELO_DEF(ModelReference, "ModelReference")
KELO_DEF(Embedding, "Embedding")
KELO_DEF(SourceInfo, "SourceInfo")
KELO_DEF(StreamCapabilities, "StreamCapabilities")
KELO_DEF(Stream, "Stream")
KELO_DEF(Frame, "Frame")
KELO_DEF(EntityReference, "EntityReference")
KELO_DEF(Provenance, "Provenance")
KELO_DEF(ObjectRecord, "DetectedObject")
KELO_DEF(Classification, "Classification")
KELO_DEF(BoxRegion, "BoxRegion")
KELO_DEF(PolygonRegion, "PolygonRegion")
KELO_DEF(MaskRegion, "MaskRegion")
KELO_DEF(Segment, "Segment")
KELO_DEF(Track, "Track")
KELO_DEF(Keypoint, "Keypoint")
KELO_DEF(Pose, "Pose")
KELO_DEF(Vec3, "Vec3")
KELO_DEF(Quaternion, "Quaternion")
KELO_DEF(RigidTransform, "RigidTransform")
KELO_DEF(FrameTransform, "FrameTransform")
KELO_DEF(SpatialPose, "SpatialPose")
KELO_DEF(EventType, "EventType")
KELO_DEF(Relation, "Relation")
KELO_DEF(ExtensionMetadata, "ExtensionMetadata")
KELO_DEF(Event, "Event")
KELO_DEF(Metadata, "Metadata")
#undef KELO_DEF

std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string names_list(std::span<const std::string_view> names) {
  std::string out;
  for (std::string_view n : names) {
    if (!out.empty()) out += ',';
    out += quoted(n);
  }
  return out;
}

// The schema of each field type, as JSON text; records and the shared leaf
// types go to `defs` once and are referred to.
class SchemaWriter {
 public:
  std::map<std::string, std::string> defs;

  SchemaWriter() {
    const char* nonfinite32 = "^(inf|-inf|nan|nan:0x[0-9a-f]{8})$";
    const char* nonfinite64 = "^(inf|-inf|nan|nan:0x[0-9a-f]{16})$";
    defs["float32"] = std::string("{\"description\":\"A single-precision value: the shortest "
                                  "decimal that reads back to it, or a non-finite text\","
                                  "\"anyOf\":[{\"type\":\"number\"},{\"type\":\"string\","
                                  "\"pattern\":") + quoted(nonfinite32) + "}]}";
    defs["float64"] = std::string("{\"description\":\"A double-precision value, or a non-finite "
                                  "text\",\"anyOf\":[{\"type\":\"number\"},{\"type\":\"string\","
                                  "\"pattern\":") + quoted(nonfinite64) + "}]}";
    defs["uuid"] = "{\"type\":\"string\",\"format\":\"uuid\"}";
    defs["nanoseconds"] = "{\"type\":\"integer\",\"minimum\":0}";
  }

  template <class T>
  std::string of() {
    if constexpr (std::is_same_v<T, bool>) {
      return "{\"type\":\"boolean\"}";
    } else if constexpr (std::is_enum_v<T>) {
      return "{\"enum\":[" + names_list(enum_names<T>()) + "]}";
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
      return "{\"type\":\"integer\",\"minimum\":-9223372036854775808,"
             "\"maximum\":9223372036854775807}";
    } else if constexpr (std::is_unsigned_v<T>) {
      return "{\"type\":\"integer\",\"minimum\":0,\"maximum\":" +
             std::to_string(std::numeric_limits<T>::max()) + "}";
    } else if constexpr (std::is_same_v<T, float>) {
      return "{\"$ref\":\"#/$defs/float32\"}";
    } else if constexpr (std::is_same_v<T, double>) {
      return "{\"$ref\":\"#/$defs/float64\"}";
    } else if constexpr (std::is_same_v<T, Object>) {
      return of<ObjectRecord>();
    } else if constexpr (is_boxed<T>::value) {
      return of<typename is_boxed<T>::inner>();
    } else if constexpr (std::is_same_v<T, std::string>) {
      return "{\"type\":\"string\"}";
    } else if constexpr (std::is_same_v<T, kelo_core::Uuid> || is_id<T>::value) {
      return "{\"$ref\":\"#/$defs/uuid\"}";
    } else if constexpr (std::is_same_v<T, Duration>) {
      return "{\"$ref\":\"#/$defs/nanoseconds\"}";
    } else if constexpr (is_open<T>::value) {
      std::string alternatives;
      for (std::string_view n : kelo_core::VariantNames<typename T::Variant>::canonical) {
        alternatives += std::string(n) + "|";
      }
      return "{\"type\":\"string\",\"pattern\":" + quoted("^(" + alternatives + "custom:[\\s\\S]*)$") + "}";
    } else if constexpr (is_optional<T>::value) {
      return "{\"anyOf\":[" + of<typename T::value_type>() + ",{\"type\":\"null\"}]}";
    } else if constexpr (is_vector<T>::value) {
      return "{\"type\":\"array\",\"items\":" + of<typename T::value_type>() + "}";
    } else if constexpr (std::is_same_v<T, Attributes>) {
      return "{\"type\":\"object\",\"additionalProperties\":" + of<AttributeValue>() + "}";
    } else if constexpr (std::is_same_v<T, AttributeValue>) {
      if (!defs.count("AttributeValue")) {
        defs["AttributeValue"] = "";
        std::string alternatives;
        std::size_t i = 0;
        AttributeValue::Payload probe;
        for (std::string_view kind : AttributeValue::kKindNames) {
          emplace_index(probe, i++);
          std::string value = std::visit(
              [this](const auto& v) { return of<std::remove_cvref_t<decltype(v)>>(); }, probe);
          alternatives += std::string(alternatives.empty() ? "" : ",") +
                          "{\"type\":\"object\",\"properties\":{\"kind\":{\"const\":" +
                          quoted(kind) + "},\"value\":" + value +
                          "},\"required\":[\"kind\",\"value\"],\"additionalProperties\":false}";
        }
        defs["AttributeValue"] = "{\"oneOf\":[" + alternatives + "]}";
      }
      return "{\"$ref\":\"#/$defs/AttributeValue\"}";
    } else if constexpr (std::is_same_v<T, Segmentation>) {
      if (!defs.count("Segmentation")) {
        defs["Segmentation"] = "";
        std::string alternatives;
        Segmentation probe;
        for (std::size_t i = 0; i < std::size(kSegmentationKinds); ++i) {
          emplace_index(probe, i);
          alternatives += std::string(alternatives.empty() ? "" : ",") +
                          std::visit([&](auto& v) {
                            return record<std::remove_cvref_t<decltype(v)>>(kSegmentationKinds[i]);
                          }, probe);
        }
        defs["Segmentation"] = "{\"oneOf\":[" + alternatives + "]}";
      }
      return "{\"$ref\":\"#/$defs/Segmentation\"}";
    } else {
      static_assert(Record<T>);
      std::string name = kDef<T>;
      if (!defs.count(name)) {
        defs[name] = "";  // taken before the fields, which may refer back
        defs[name] = record<T>({});
      }
      return "{\"$ref\":\"#/$defs/" + name + "\"}";
    }
  }

  // A record's object schema; `kind`, when given, is a leading constant field.
  template <class T>
  std::string record(std::string_view kind) {
    std::string properties, required;
    if (!kind.empty()) {
      properties = "\"kind\":{\"const\":" + quoted(kind) + "}";
      required = "\"kind\"";
    }
    T probe{};
    auto v = [&](FieldName f, auto& member) {
      std::string schema = of<std::remove_cvref_t<decltype(member)>>();
      properties += (properties.empty() ? "" : ",") + quoted(f.text) + ":" + schema;
      required += (required.empty() ? "" : ",") + quoted(f.text);
    };
    fields(v, probe);
    return "{\"type\":\"object\",\"properties\":{" + properties + "},\"required\":[" + required +
           "],\"additionalProperties\":false}";
  }
};

// ---- the classes -----------------------------------------------------------

struct Kind {
  const char* tag;  // the record type's name in the text form
  PyTypeObject** type;
  bool record;
  PyObject* (*put_text)(PyObject* self, PyObject* into);
  PyObject* (*put_state)(PyObject* self);
  PyObject* (*get_text)(PyObject* o, Path& p, PyObject* extra);
  PyObject* (*get_state)(PyObject* o, Path& p);
};

template <class T, class Read>
PyObject* reading_value(PyObject* self, Read&& read) {
  return guarded([&]() -> PyObject* {
    SharedBorrow borrow;
    if (!borrow.acquire(obj<T>(self)->borrow)) return nullptr;
    return read(static_cast<const T&>(obj<T>(self)->value));
  }, nullptr);
}

// The record type a class is read and written as: its own, but for objects.
template <class T>
struct RecordOf {
  using type = T;
  static const T& of(const T& v) { return v; }
  static kelo_core::Result<T> make(T&& r) { return std::move(r); }
};
template <>
struct RecordOf<kelo_core::Shared<Object>> {
  using type = ObjectRecord;
  static ObjectRecord of(const kelo_core::Shared<Object>& o) { return record_of(*o); }
  static kelo_core::Result<kelo_core::Shared<Object>> make(ObjectRecord&& r) {
    auto made = object_from(std::move(r));
    if (!made) return made.error();
    return kelo_core::Shared<Object>::of(std::move(*made));
  }
};

template <class T>
Kind kind(const char* tag) {
  using R = typename RecordOf<T>::type;
  Kind k{tag, &PyClass<T>::type, Record<R>, nullptr, nullptr, nullptr, nullptr};
  k.put_text = [](PyObject* self, PyObject* into) -> PyObject* {
    return reading_value<T>(self, [into](const T& v) -> PyObject* {
      if constexpr (Record<R>) {
        return put_record<Mode::Text>(RecordOf<T>::of(v), into);
      } else {
        return put<Mode::Text>(v);
      }
    });
  };
  k.put_state = [](PyObject* self) -> PyObject* {
    return reading_value<T>(self, [](const T& v) { return put<Mode::State>(RecordOf<T>::of(v)); });
  };
  k.get_text = [](PyObject* o, Path& p, PyObject* extra) -> PyObject* {
    return guarded([&]() -> PyObject* {
      R value{};
      bool ok;
      if constexpr (Record<R>) {
        ok = get_record<Mode::Text>(o, value, p, extra);
      } else {
        ok = get<Mode::Text>(o, value, p);
      }
      if (!ok) return nullptr;
      return to_py(RecordOf<T>::make(std::move(value)));
    }, nullptr);
  };
  k.get_state = [](PyObject* o, Path& p) -> PyObject* {
    return guarded([&]() -> PyObject* {
      R value{};
      if (!get<Mode::State>(o, value, p)) return nullptr;
      return to_py(RecordOf<T>::make(std::move(value)));
    }, nullptr);
  };
  return k;
}

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> all = {
      kind<StreamId>("StreamId"),
      kind<FrameId>("FrameId"),
      kind<BufferId>("BufferId"),
      kind<ObjectId>("ObjectId"),
      kind<SegmentId>("SegmentId"),
      kind<TrackId>("TrackId"),
      kind<EventId>("EventId"),
      kind<AssetId>("AssetId"),
      kind<BatchId>("BatchId"),
      kind<MetadataId>("MetadataId"),
      kind<ComponentId>("ComponentId"),
      kind<ClassId>("ClassId"),
      kind<Point2D>("Point2D"),
      kind<BoundingBox>("BoundingBox"),
      kind<Polygon>("Polygon"),
      kind<CoordinateSpace>("CoordinateSpace"),
      kind<TimeUnit>("TimeUnit"),
      kind<Timestamp>("Timestamp"),
      kind<FrameRate>("FrameRate"),
      kind<PixelFormat>("PixelFormat"),
      kind<ColorSpace>("ColorSpace"),
      kind<ColorRange>("ColorRange"),
      kind<VideoFormat>("VideoFormat"),
      kind<DType>("DType"),
      kind<TensorLayout>("TensorLayout"),
      kind<Tensor>("Tensor"),
      kind<ModelReference>("ModelReference"),
      kind<Embedding>("Embedding"),
      kind<SourceKind>("SourceKind"),
      kind<SourceInfo>("SourceInfo"),
      kind<StreamCapabilities>("StreamCapabilities"),
      kind<Stream>("Stream"),
      kind<EventType>("EventType"),
      kind<Event>("Event"),
      kind<TrackState>("TrackState"),
      kind<Track>("Track"),
      kind<Classification>("Classification"),
      kind<AttributeValue>("AttributeValue"),
      kind<Attributes>("Attributes"),
      kind<kelo_core::Shared<Object>>("DetectedObject"),
      kind<Metadata>("Metadata"),
      kind<Vec3>("Vec3"),
      kind<Quaternion>("Quaternion"),
      kind<RigidTransform>("RigidTransform"),
      kind<Frame>("Frame"),
  };
  return all;
}

const Kind* kind_of(PyObject* value) {
  for (const Kind& k : kinds()) {
    if (Py_TYPE(value) == *k.type) return &k;
  }
  PyErr_Format(PyExc_TypeError, "%s is not a class of the data model", type_of(value).c_str());
  return nullptr;
}

const Kind* kind_named(std::string_view tag, const Path& p) {
  for (const Kind& k : kinds()) {
    if (tag == k.tag) return &k;
  }
  p.fail("unknown type " + shown(tag));
  return nullptr;
}

// The tag of a value's type in the text form; TypeError for anything else.
Ref type_tag(Borrowed value) {
  const Kind* k = kind_of(value.object);
  return Ref(k ? PyUnicode_FromString(k->tag) : nullptr);
}

// {"schema": 1, "type": tag, fields...}, or {..., "value": v} for a value
// that is not a record.
Ref to_dict(Borrowed value) {
  const Kind* k = kind_of(value.object);
  if (!k) return Ref();
  Ref dict(PyDict_New());
  Ref version(PyLong_FromLong(kSchemaVersion));
  Ref tag(PyUnicode_FromString(k->tag));
  if (!dict || !version || !tag || PyDict_SetItem(dict.get(), kName<"schema">.key(), version.get()) < 0 ||
      PyDict_SetItem(dict.get(), kName<"type">.key(), tag.get()) < 0) {
    return Ref();
  }
  if (k->record) return Ref(k->put_text(value.object, dict.get()));
  Ref v(k->put_text(value.object, nullptr));
  if (!v || PyDict_SetItem(dict.get(), kName<"value">.key(), v.get()) < 0) return Ref();
  return dict;
}

// The value's text form without the envelope: a record's dict of fields.
Ref encode(Borrowed value) {
  const Kind* k = kind_of(value.object);
  if (!k) return Ref();
  return Ref(k->put_text(value.object, nullptr));
}

// Reads the schema version of a text-form envelope; a newer one than this
// build writes is refused.
bool check_schema(PyObject* d, Path& p) {
  p.field("schema");
  PyObject* version = PyDict_GetItemWithError(d, kName<"schema">.key());
  if (!version) return PyErr_Occurred() ? false : p.fail("missing field");
  std::uint32_t v = 0;
  if (!read_unsigned(version, v, p)) return false;
  if (v > std::uint32_t(kSchemaVersion)) {
    return p.fail("schema version " + std::to_string(v) + " is newer than this kelo reads (" +
                  std::to_string(kSchemaVersion) + ")");
  }
  if (v < 1) return p.fail("no such schema version 0");
  p.pop();
  return true;
}

// check_schema for a JSON-lines record: None, or ValueError naming the field.
Ref check_record_schema(Borrowed d) {
  Path p;
  if (!PyDict_Check(d.object)) {
    expected(p, "a dict", d.object);
    return Ref();
  }
  return check_schema(d.object, p) ? Ref(Py_NewRef(Py_None)) : Ref();
}

Ref from_dict(Borrowed d) {
  Path p;
  if (!PyDict_Check(d.object)) {
    expected(p, "a dict", d.object);
    return Ref();
  }
  if (!check_schema(d.object, p)) return Ref();
  p.field("type");
  PyObject* tag = PyDict_GetItemWithError(d.object, kName<"type">.key());
  if (!tag) {
    if (!PyErr_Occurred()) p.fail("missing field");
    return Ref();
  }
  std::string_view t;
  if (!read_text(tag, t, p)) return Ref();
  const Kind* k = kind_named(t, p);
  if (!k) return Ref();
  p.pop();
  // The fields without the envelope's two keys.
  Ref body(PyDict_Copy(d.object));
  if (!body || PyDict_DelItem(body.get(), kName<"schema">.key()) < 0 ||
      PyDict_DelItem(body.get(), kName<"type">.key()) < 0) {
    return Ref();
  }
  if (k->record) return Ref(k->get_text(body.get(), p, nullptr));
  p.field("value");
  PyObject* value = PyDict_GetItemWithError(body.get(), kName<"value">.key());
  if (!value) {
    if (!PyErr_Occurred()) p.fail("missing field");
    return Ref();
  }
  if (PyDict_Size(body.get()) != 1) {
    p.pop();
    p.fail("unknown field beside schema, type and value");
    return Ref();
  }
  return Ref(k->get_text(value, p, nullptr));
}

// One value of the named type from its text form, failures named under
// `path` (e.g. "metadata").
Ref decode(std::string_view tag, Borrowed value, std::string path) {
  Path p(std::move(path));
  const Kind* k = kind_named(tag, p);
  if (!k) return Ref();
  return Ref(k->get_text(value.object, p, nullptr));
}

// (tag, state) for pickling.
Ref state(Borrowed value) {
  const Kind* k = kind_of(value.object);
  if (!k) return Ref();
  Ref s(k->put_state(value.object));
  if (!s) return Ref();
  return Ref(Py_BuildValue("(sO)", k->tag, s.get()));
}

Ref restore(std::string_view tag, Borrowed state) {
  Path p;
  const Kind* k = kind_named(tag, p);
  if (!k) return Ref();
  return Ref(k->get_state(state.object, p));
}

// The JSON Schema of a JSON-lines record, with a definition for every type
// of the text form, as JSON text.
std::string schema();

// The classes of the data model, in registration order.
Ref classes() {
  Ref list(PyList_New(0));
  if (!list) return Ref();
  for (const Kind& k : kinds()) {
    if (PyList_Append(list.get(), reinterpret_cast<PyObject*>(*k.type)) < 0) return Ref();
  }
  return list;
}

template <class T>
void define(SchemaWriter& w, const char* tag) {
  std::string s = w.of<T>();
  if (!w.defs.count(tag)) w.defs[tag] = s;
}

std::string schema() {
  SchemaWriter w;
  w.of<Frame>();
  w.of<Metadata>();
  // Every class's own definition, under its tag.
  define<StreamId>(w, "StreamId");
  define<FrameId>(w, "FrameId");
  define<BufferId>(w, "BufferId");
  define<ObjectId>(w, "ObjectId");
  define<SegmentId>(w, "SegmentId");
  define<TrackId>(w, "TrackId");
  define<EventId>(w, "EventId");
  define<AssetId>(w, "AssetId");
  define<BatchId>(w, "BatchId");
  define<MetadataId>(w, "MetadataId");
  define<ComponentId>(w, "ComponentId");
  define<ClassId>(w, "ClassId");
  define<TimeUnit>(w, "TimeUnit");
  define<PixelFormat>(w, "PixelFormat");
  define<ColorSpace>(w, "ColorSpace");
  define<ColorRange>(w, "ColorRange");
  define<DType>(w, "DType");
  define<TensorLayout>(w, "TensorLayout");
  define<SourceKind>(w, "SourceKind");
  define<TrackState>(w, "TrackState");
  define<Attributes>(w, "Attributes");
  define<AttributeValue>(w, "AttributeValue");
  w.of<Point2D>(); w.of<BoundingBox>(); w.of<Polygon>(); w.of<CoordinateSpace>();
  w.of<Timestamp>(); w.of<FrameRate>(); w.of<VideoFormat>(); w.of<Tensor>();
  w.of<ModelReference>(); w.of<Embedding>(); w.of<SourceInfo>(); w.of<StreamCapabilities>();
  w.of<Stream>(); w.of<EventType>(); w.of<Event>(); w.of<Track>(); w.of<Classification>();
  w.of<Object>(); w.of<Vec3>(); w.of<Quaternion>(); w.of<RigidTransform>();
  std::string defs;
  for (const auto& [name, body] : w.defs) {
    defs += (defs.empty() ? "" : ",") + quoted(name) + ":" + body;
  }
  std::string version = std::to_string(kSchemaVersion);
  return "{\"$schema\":\"https://json-schema.org/draft/2020-12/schema\","
         "\"title\":\"kelo record, schema version " + version + "\","
         "\"description\":\"One line of kelo.io's JSON lines: a frame and its metadata. The "
         "dicts of kelo.io.to_dict are the definitions below (by type name) plus the keys "
         "schema and type; a type that is not an object of fields carries its value under "
         "value.\","
         "\"type\":\"object\",\"properties\":{\"schema\":{\"const\":" + version +
         "},\"frame\":{\"$ref\":\"#/$defs/Frame\"},\"metadata\":{\"$ref\":\"#/$defs/Metadata\"}},"
         "\"required\":[\"schema\",\"frame\",\"metadata\"],\"additionalProperties\":false,"
         "\"$defs\":{" + defs + "}}";
}

}  // namespace

}  // namespace kelo::py::records

namespace kelo::py {

void add_records_functions(std::vector<FunctionSpec>& functions) {
  using namespace records;
  functions.push_back(Function<&to_dict>("to_dict(value)", "The value's text form, tagged with its type and the schema version."));
  functions.push_back(Function<&from_dict>("from_dict(d)", "The value a tagged text form describes."));
  functions.push_back(Function<&check_record_schema>(
      "check_schema(d)",
      "Checks the schema version of a tagged text form or a JSON-lines record\n"
      "(a dict): a version this kelo reads, or ValueError naming the field."));
  functions.push_back(Function<&encode>("encode(value)", "The value's text form, untagged."));
  functions.push_back(Function<&decode>("decode(type, value, path)", "A value of the named type from its untagged text form."));
  functions.push_back(Function<&type_tag>("type_tag(value)", "The name of the value's type in the text form."));
  functions.push_back(Function<&state>("state(value)", "(type, state) for pickling."));
  functions.push_back(Function<&restore>("restore(type, state)", "The value a pickled state describes."));
  functions.push_back(Function<&classes>("classes()", "The data model's classes."));
  functions.push_back(Function<[] { return schema(); }>("schema()", "The JSON Schema of the text form, as JSON text."));
}

}  // namespace kelo::py
