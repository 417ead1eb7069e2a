// UUID parsing: any accepted text prints back to a form that parses to the same
// bytes; a rejected text always carries the "invalid UUID: " message.
#include <cstdlib>
#include <string_view>

#include "support/uuid.h"

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  auto parsed = kelo_core::Uuid::parse(text);
  if (!parsed) {
    if (!parsed.error().message.starts_with("invalid UUID: ")) std::abort();
    return 0;
  }
  std::string printed = parsed->str();
  auto again = kelo_core::Uuid::parse(printed);
  if (printed.size() != 36 || !again || *again != *parsed) std::abort();
  return 0;
}
