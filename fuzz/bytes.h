// A reader over fuzz input: small integers, flags and texts taken from the
// front of the bytes; past the end every read yields zero or empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct FuzzBytes {
  const unsigned char* data;
  std::size_t size;

  bool empty() const { return size == 0; }

  std::uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }

  std::uint32_t u32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | byte();
    return v;
  }

  // A value below `n` (n > 0).
  std::size_t below(std::size_t n) { return byte() % n; }

  // A text of up to 15 bytes, any bytes at all.
  std::string text() {
    std::size_t n = byte() % 16;
    if (n > size) n = size;
    std::string s(reinterpret_cast<const char*>(data), n);
    data += n;
    size -= n;
    return s;
  }
};
