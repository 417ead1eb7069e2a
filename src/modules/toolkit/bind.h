// Argument binding: mapping a call's positional and keyword arguments onto
// the parameters named by a callable's text signature, with the
// interpreter's own wording for every binding error.
#pragma once

#include <string>
#include <vector>

#include "toolkit/python.h"

namespace kelo::py {

// The parameters of one callable, read off its text signature
// ("from_str(s)", "with_dts($self, dts_ns)", "PyTensor(dtype, shape, name=None)").
struct Signature {
  std::string callable;              // "PyStreamId.from_str", for messages
  std::vector<std::string> names;    // without $self
  std::vector<PyObject*> interned;   // the same names as interned str objects
  int required = 0;                  // parameters without a default come first

  // Parses the parameter list of text_signature; callable names the callable
  // in messages. Fails with a Python exception (a broken declaration).
  bool parse(std::string callable, std::string_view text_signature);
  int size() const { return int(names.size()); }
};

// At most this many parameters per callable.
inline constexpr int kMaxParams = 16;

// Fills slots[0..sig.size()) with borrowed references (nullptr where an
// optional parameter was not given). Vectorcall form.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots);
// Tuple-and-dict form (constructors).
bool bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);

}  // namespace kelo::py
