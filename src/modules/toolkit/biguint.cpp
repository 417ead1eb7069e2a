// Exact unsigned integers of any size as Python ints.
#include "toolkit/convert.h"

namespace kelo::py {

PyObject* to_py(const kelo_core::BigUint& v) {
  if (v.fits_u64()) return PyLong_FromUnsignedLongLong(v.low());
  // The stable ABI has no limb-level constructor; the hexadecimal digits
  // make the int in one linear pass, and a power-of-two base is exempt from
  // the interpreter's limit on the length of decimal integer texts.
  std::string digits = v.hex();
  return PyLong_FromString(digits.c_str(), nullptr, 16);
}

}  // namespace kelo::py
