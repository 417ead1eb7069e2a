// The display and debug text forms that every repr and message composes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelo_core::text {

// Shortest digits that read back at the value's own precision, never in
// exponent notation; integral values have no fractional part ("2", "-0");
// specials are "NaN", "inf", "-inf".
std::string display(float v);
std::string display(double v);

// The same digits, but integral values keep ".0" and a non-zero magnitude
// below 1e-4 or at or above 1e16 is written as mantissa, 'e', exponent
// ("1e16", "1.5e-5").
std::string debug(float v);
std::string debug(double v);

// Positional notation with exactly `decimals` digits after the point: the
// value's exact binary value rounded to the nearest multiple of 10^-decimals,
// an exact midpoint to the even last digit. The sign is kept ("-0.000");
// specials are "NaN", "inf", "-inf". A float widens to double exactly.
// At most 64 decimals.
std::string fixed_point(double v, int decimals);

// Double-quoted, with \" \\ \n \r \t \0 escapes and \u{hex} for other
// control and non-printable characters (printable as Python's
// str.isprintable() judges). Invalid UTF-8 bytes print as \u{fffd}.
std::string debug(std::string_view s);

// Decodes the UTF-8 character at s[i]: returns its length and sets *cp. For
// an ill-formed sequence returns the length of its maximal well-formed prefix
// (at least 1), sets *cp to U+FFFD and *valid to false, so that each maximal
// ill-formed subpart stands for one replacement character.
std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t* cp, bool* valid);

// Whether a code point is printable in the sense of str.isprintable().
bool is_printable(char32_t c);

inline std::string debug(bool b) { return b ? "true" : "false"; }
inline std::string debug(std::uint64_t v) { return std::to_string(v); }
inline std::string debug(std::uint32_t v) { return std::to_string(v); }
inline std::string debug(std::int64_t v) { return std::to_string(v); }
inline std::string debug(std::int32_t v) { return std::to_string(v); }
inline std::string debug(const std::string& s) { return debug(std::string_view(s)); }
inline std::string debug(const char* s) { return debug(std::string_view(s)); }

// Declared ahead so that optionals of lists and lists of optionals both work.
template <class T>
std::string debug(const std::vector<T>& items);

// "None" or "Some(" + debug(value) + ")".
template <class T>
std::string debug(const std::optional<T>& v) {
  return v ? "Some(" + debug(*v) + ")" : std::string("None");
}

// "[" + items' debug forms joined by ", " + "]".
template <class T>
std::string debug(const std::vector<T>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    out += debug(items[i]);
  }
  return out + "]";
}

}  // namespace kelo_core::text
