// The debug text form of arbitrary bytes: quoted, printable ASCII or valid
// UTF-8 throughout, and never shorter than two quotes.
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/text.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  std::string out = kelo_core::text::debug(text);
  if (out.size() < 2 || out.front() != '"' || out.back() != '"') std::abort();
  for (std::size_t i = 0; i < out.size();) {
    char32_t cp = 0;
    bool valid = false;
    std::size_t n = kelo_core::text::decode_utf8(out, i, &cp, &valid);
    if (!valid || n == 0 || cp < 0x20 || cp == 0x7f) std::abort();
    i += n;
  }
  return 0;
}
