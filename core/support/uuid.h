// 128-bit UUIDs: parsing, the hyphenated text form and random version 4.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.h"

namespace kelo_core {

// Bytes in the order of the text form: the first two hex digits are byte 0.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  friend bool operator==(const Uuid&, const Uuid&) = default;

  // A fresh random version-4 UUID from the operating system's CSPRNG.
  // Fails (Internal) only when the random source does.
  static Result<Uuid> v4();
  // n of them from one draw of the random source (for bulk makers).
  static Result<std::vector<Uuid>> v4_many(std::size_t n);

  // The simple, hyphenated, braced and urn:uuid: forms; a Value error
  // "invalid UUID: <detail>" otherwise.
  static Result<Uuid> parse(std::string_view text);

  // The 36-character lowercase hyphenated form.
  std::string str() const;
  // Writes the 36 characters of the text form to out.
  void write(char* out) const;
};

}  // namespace kelo_core
