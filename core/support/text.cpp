// Display and debug text forms of floats and texts.
#include "support/text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

namespace kelo_core::text {
namespace {

#include "support/printable_table.inc"

template <class F>
const char* special(F v) {
  if (std::isnan(v)) return "NaN";  // whatever the sign bit says
  if (std::isinf(v)) return v < 0 ? "-inf" : "inf";
  return nullptr;
}

// The shortest decimal that reads back as v at v's own precision:
// digits d1 d2 ... dn meaning d1.d2...dn x 10^exp.
struct Shortest {
  bool negative;
  char digits[24];
  int count;
  int exp;
};

// std::to_chars in fixed format may print the exact value of a large
// integral float ("340282346638528859811704183484516925440" for FLT_MAX,
// which is no longer than the shortest form), so the digits are always
// taken from the scientific form and laid out here.
template <class F>
Shortest shortest(F v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  Shortest d{};
  const char* p = buf;
  if (*p == '-') {
    d.negative = true;
    ++p;
  }
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p != '.') d.digits[d.count++] = *p;
  ++p;  // 'e'
  const bool negative_exp = *p == '-';
  ++p;  // the exponent's sign is always written
  int e = 0;
  for (; p < r.ptr; ++p) e = e * 10 + (*p - '0');
  d.exp = negative_exp ? -e : e;
  return d;
}

// Positional notation; integral values get no fractional part unless
// point_zero asks for ".0".
std::string fixed(const Shortest& d, bool point_zero) {
  std::string out;
  if (d.negative) out += '-';
  if (d.exp < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-d.exp - 1), '0');
    out.append(d.digits, static_cast<std::size_t>(d.count));
    return out;
  }
  const int int_digits = d.exp + 1;
  if (d.count <= int_digits) {
    out.append(d.digits, static_cast<std::size_t>(d.count));
    out.append(static_cast<std::size_t>(int_digits - d.count), '0');
    if (point_zero) out += ".0";
  } else {
    out.append(d.digits, static_cast<std::size_t>(int_digits));
    out += '.';
    out.append(d.digits + int_digits, static_cast<std::size_t>(d.count - int_digits));
  }
  return out;
}

template <class F>
std::string display_float(F v) {
  if (const char* s = special(v)) return s;
  return fixed(shortest(v), false);
}

// Magnitudes outside [small, large) take the exponent form; the bounds are
// compared at the value's own precision.
template <class F>
struct ExponentBounds;
template <>
struct ExponentBounds<float> {
  static constexpr float small = 1e-4f, large = 1e16f;
};
template <>
struct ExponentBounds<double> {
  static constexpr double small = 1e-4, large = 1e16;
};

template <class F>
std::string debug_float(F v) {
  if (const char* s = special(v)) return s;
  const Shortest d = shortest(v);
  const F a = std::fabs(v);
  if (a == 0 || (a >= ExponentBounds<F>::small && a < ExponentBounds<F>::large))
    return fixed(d, true);
  // Mantissa without a ".0" of its own, then the exponent without '+' or
  // leading zeros: "1e16", "1.5e-5".
  std::string out;
  if (d.negative) out += '-';
  out += d.digits[0];
  if (d.count > 1) {
    out += '.';
    out.append(d.digits + 1, static_cast<std::size_t>(d.count - 1));
  }
  out += 'e';
  out += std::to_string(d.exp);
  return out;
}

// ASCII bytes that debug(string_view) copies as they are.
constexpr auto kPlainAscii = [] {
  std::array<bool, 128> t{};
  for (int c = 0x20; c < 0x7f; ++c) t[c] = c != '"' && c != '\\';
  return t;
}();

void append_code_escape(std::string& out, char32_t c) {
  char buf[8];
  char* end = buf + sizeof buf;
  char* p = end;
  do {
    *--p = "0123456789abcdef"[c & 15];
    c >>= 4;
  } while (c != 0);
  out += "\\u{";
  out.append(p, end);
  out += '}';
}

}  // namespace

std::size_t decode_utf8(std::string_view s, std::size_t i, char32_t* cp, bool* valid) {
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = byte(0);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xbf;  // range of the second byte
  char32_t value;
  if (c < 0x80) {
    *cp = c;
    *valid = true;
    return 1;
  }
  if (c >= 0xc2 && c <= 0xdf) {
    len = 2;
    value = c & 0x1f;
  } else if (c >= 0xe0 && c <= 0xef) {
    len = 3;
    value = c & 0x0f;
    if (c == 0xe0) lo = 0xa0;  // no overlong forms
    if (c == 0xed) hi = 0x9f;  // no surrogates
  } else if (c >= 0xf0 && c <= 0xf4) {
    len = 4;
    value = c & 0x07;
    if (c == 0xf0) lo = 0x90;  // no overlong forms
    if (c == 0xf4) hi = 0x8f;  // nothing above U+10FFFF
  } else {
    *cp = 0xfffd;
    *valid = false;
    return 1;
  }
  std::size_t k = 1;
  for (; k < len && i + k < s.size(); ++k) {
    const unsigned char b = byte(k);
    if (b < (k == 1 ? lo : 0x80) || b > (k == 1 ? hi : 0xbf)) break;
    value = (value << 6) | (b & 0x3f);
  }
  if (k < len) {
    *cp = 0xfffd;
    *valid = false;
    return k;
  }
  *cp = value;
  *valid = true;
  return len;
}

std::string display(float v) { return display_float(v); }
std::string display(double v) { return display_float(v); }
std::string debug(float v) { return debug_float(v); }
std::string debug(double v) { return debug_float(v); }

std::string fixed_point(double v, int decimals) {
  if (const char* s = special(v)) return s;
  // std::to_chars with a precision rounds the exact value, ties to even.
  // DBL_MAX has 309 integral digits; at most 64 decimals are written.
  char buf[320 + 64];
  decimals = std::clamp(decimals, 0, 64);
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
  return std::string(buf, r.ptr);
}

bool is_printable(char32_t c) {
  if (c < 0x80) return c >= 0x20 && c != 0x7f;
  if (c > 0x10ffff) return false;
  // The first range that ends at or after c is the only one that can hold it.
  const auto* it = std::partition_point(std::begin(kNonPrintable), std::end(kNonPrintable),
                                        [c](const char32_t(&r)[2]) { return r[1] < c; });
  return it == std::end(kNonPrintable) || (*it)[0] > c;
}

std::string debug(std::string_view s) {
  std::string out;
  out.reserve(s.size() + 2);
  out += '"';
  std::size_t i = 0;
  const std::size_t n = s.size();
  while (i < n) {
    // Copy the longest run of plain ASCII in one go.
    std::size_t j = i;
    while (j < n && static_cast<unsigned char>(s[j]) < 0x80 &&
           kPlainAscii[static_cast<unsigned char>(s[j])])
      ++j;
    out.append(s.data() + i, j - i);
    i = j;
    if (i == n) break;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\0': out += "\\0"; break;
        default: append_code_escape(out, c); break;
      }
      ++i;
      continue;
    }
    char32_t cp;
    bool valid;
    const std::size_t len = decode_utf8(s, i, &cp, &valid);
    if (valid && is_printable(cp)) out.append(s.data() + i, len);
    else append_code_escape(out, cp);
    i += len;
  }
  out += '"';
  return out;
}

}  // namespace kelo_core::text
