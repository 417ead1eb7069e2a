// Float text forms: the display and debug texts of any float or double read
// back as the same value (NaN as NaN).
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/text.h"

namespace {

template <class F>
void check(F v, const std::string& text) {
  if (std::isnan(v)) {
    if (text != "NaN") std::abort();
    return;
  }
  if (std::isinf(v)) {
    if (text != (v > 0 ? "inf" : "-inf")) std::abort();
    return;
  }
  F back{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
  if (ec != std::errc() || end != text.data() + text.size()) std::abort();
  if (std::memcmp(&back, &v, sizeof v) != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  if (size >= sizeof(float)) {
    float f;
    std::memcpy(&f, data, sizeof f);
    check(f, kelo_core::text::display(f));
    check(f, kelo_core::text::debug(f));
  }
  if (size >= sizeof(double)) {
    double d;
    std::memcpy(&d, data, sizeof d);
    check(d, kelo_core::text::display(d));
    check(d, kelo_core::text::debug(d));
  }
  return 0;
}
