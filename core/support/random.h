// Random bytes from the operating system, buffered per thread.
#pragma once

#include <cstddef>
#include <string>

namespace kelo_core {

// Fills out with n bytes from the operating system's CSPRNG. Bytes are drawn
// in blocks and buffered; a forked child never sees bytes its parent had
// buffered. Returns false and sets *error to the system's error text on
// failure.
bool random_bytes(void* out, std::size_t n, std::string* error);

}  // namespace kelo_core
