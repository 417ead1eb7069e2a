#include "toolkit/bind.h"

namespace kelo::py {

bool Signature::parse(std::string name, std::string_view text) {
  callable = std::move(name);
  names.clear();
  interned.clear();
  required = 0;
  auto open = text.find('(');
  auto close = text.rfind(')');
  if (open == std::string_view::npos || close == std::string_view::npos || close < open) {
    PyErr_Format(PyExc_SystemError, "malformed text signature for %s", callable.c_str());
    return false;
  }
  std::string_view list = text.substr(open + 1, close - open - 1);
  bool optional_seen = false;
  while (!list.empty()) {
    auto comma = list.find(',');
    std::string_view item = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    if (item.empty() || item == "$self") continue;
    auto eq = item.find('=');
    bool optional = eq != std::string_view::npos;
    names.emplace_back(item.substr(0, eq));
    if (optional) {
      optional_seen = true;
    } else if (optional_seen) {
      PyErr_Format(PyExc_SystemError, "required parameter after optional in %s", callable.c_str());
      return false;
    } else {
      ++required;
    }
  }
  if (names.size() > std::size_t(kMaxParams)) {
    PyErr_Format(PyExc_SystemError, "too many parameters in %s", callable.c_str());
    return false;
  }
  for (const auto& n : names) {
    PyObject* s = PyUnicode_InternFromString(n.c_str());
    if (!s) return false;
    interned.push_back(s);  // kept for the life of the process, like the class
  }
  return true;
}

namespace {

int find_keyword(const Signature& sig, PyObject* key) {
  for (int i = 0; i < sig.size(); ++i) {
    if (sig.interned[std::size_t(i)] == key) return i;
  }
  for (int i = 0; i < sig.size(); ++i) {
    if (PyUnicode_Compare(sig.interned[std::size_t(i)], key) == 0) return i;
  }
  if (PyErr_Occurred()) PyErr_Clear();
  return -1;
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
  const char* verb = given == 1 ? "was" : "were";
  if (sig.required != sig.size()) {
    PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd %s given",
                 sig.callable.c_str(), sig.required, sig.size(), given, verb);
  } else {
    PyErr_Format(PyExc_TypeError, "%s() takes %d positional arguments but %zd %s given",
                 sig.callable.c_str(), sig.size(), given, verb);
  }
  return false;
}

bool unexpected_keyword(const Signature& sig, PyObject* key) {
  PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
               sig.callable.c_str(), key);
  return false;
}

bool multiple_values(const Signature& sig, int i) {
  PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.callable.c_str(),
               sig.names[std::size_t(i)].c_str());
  return false;
}

// Names the required parameters that were not given: 'x', 'x' and 'y', or
// 'x', 'y', and 'z'.
bool check_missing(const Signature& sig, PyObject** slots) {
  int missing[kMaxParams];
  int n = 0;
  for (int i = 0; i < sig.required; ++i) {
    if (!slots[i]) missing[n++] = i;
  }
  if (n == 0) return true;
  std::string list;
  for (int k = 0; k < n; ++k) {
    if (k > 0) list += n == 2 ? " and " : (k == n - 1 ? ", and " : ", ");
    list += "'" + sig.names[std::size_t(missing[k])] + "'";
  }
  PyErr_Format(PyExc_TypeError, "%s() missing %d required positional argument%s: %s",
               sig.callable.c_str(), n, n == 1 ? "" : "s", list.c_str());
  return false;
}

bool place_keyword(const Signature& sig, PyObject* key, PyObject* value, PyObject** slots) {
  int i = find_keyword(sig, key);
  if (i < 0) return unexpected_keyword(sig, key);
  if (slots[i]) return multiple_values(sig, i);
  slots[i] = value;
  return true;
}

}  // namespace

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots) {
  if (nargs > sig.size()) return too_many_positional(sig, nargs);
  for (int i = 0; i < sig.size(); ++i) slots[i] = i < nargs ? args[i] : nullptr;
  if (kwnames) {
    Py_ssize_t nkw = PyTuple_Size(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!place_keyword(sig, PyTuple_GetItem(kwnames, k), args[nargs + k], slots)) return false;
    }
  }
  return check_missing(sig, slots);
}

bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots) {
  Py_ssize_t nargs = args ? PyTuple_Size(args) : 0;
  if (nargs > sig.size()) return too_many_positional(sig, nargs);
  for (int i = 0; i < sig.size(); ++i) slots[i] = i < nargs ? PyTuple_GetItem(args, i) : nullptr;
  if (kwargs) {
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place_keyword(sig, key, value, slots)) return false;
    }
  }
  return check_missing(sig, slots);
}

}  // namespace kelo::py
