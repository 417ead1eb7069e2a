// UUID text forms and random version-4 UUIDs.
#include "support/uuid.h"

#include "support/random.h"

#include "support/text.h"


#include <cstring>

namespace kelo_core {
namespace {

// ---------------------------------------------------------------------------
// Parsing

// Value of a hexadecimal digit, 0xff for any other byte.
constexpr auto kHexValue = [] {
  std::array<std::uint8_t, 256> t{};
  for (auto& v : t) v = 0xff;
  for (int c = '0'; c <= '9'; ++c) t[c] = static_cast<std::uint8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) t[c] = static_cast<std::uint8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) t[c] = static_cast<std::uint8_t>(c - 'A' + 10);
  return t;
}();

// Where the two digits of each byte start in the hyphenated form.
constexpr std::uint8_t kHyphenatedOffset[16] = {0,  2,  4,  6,  9,  11, 14, 16,
                                                19, 21, 24, 26, 28, 30, 32, 34};

// Decodes 16 digit pairs starting at the given offsets; false if any byte
// there is not a hexadecimal digit.
inline bool decode(const char* p, const std::uint8_t (&offset)[16], Uuid* u) {
  unsigned bad = 0;
  for (int i = 0; i < 16; ++i) {
    const unsigned hi = kHexValue[static_cast<unsigned char>(p[offset[i]])];
    const unsigned lo = kHexValue[static_cast<unsigned char>(p[offset[i] + 1])];
    bad |= hi | lo;
    u->bytes[i] = static_cast<std::uint8_t>((hi << 4) | lo);
  }
  return bad < 16;
}

constexpr std::uint8_t kSimpleOffset[16] = {0,  2,  4,  6,  8,  10, 12, 14,
                                            16, 18, 20, 22, 24, 26, 28, 30};

inline bool parse_simple(const char* p, Uuid* u) { return decode(p, kSimpleOffset, u); }

// Exactly 36 bytes at p.
inline bool parse_hyphenated(const char* p, Uuid* u) {
  if (p[8] != '-' || p[13] != '-' || p[18] != '-' || p[23] != '-') return false;
  return decode(p, kHyphenatedOffset, u);
}

constexpr std::string_view kUrnPrefix = "urn:uuid:";

// Why a text is not a UUID. Called only for rejected input.
//
// A text that starts with "{" and ends with "}", or that starts with
// "urn:uuid:", is judged by what lies inside the wrapper: such a wrapper only
// ever encloses the hyphenated form, so an inner text without hyphens is a
// group-count error rather than a length error, and group lengths are those
// of the inner text. Character positions are byte positions in the whole
// input, so "{...g...}" reports the g where it stands in what was given.
// A byte that does not start a well-formed UTF-8 character is reported as
// U+FFFD (only reachable from C++; text from Python is always valid UTF-8).
std::string invalid_detail(std::string_view whole) {
  const std::size_t n = whole.size();
  if (n == 0 || n > 45) return "invalid length: found " + std::to_string(n);

  std::string_view s = whole;
  std::size_t offset = 0;
  bool wrapped = false;
  if (n >= 2 && s.front() == '{' && s.back() == '}') {
    s = s.substr(1, n - 2);
    offset = 1;
    wrapped = true;
  } else if (s.starts_with(kUrnPrefix)) {
    s.remove_prefix(kUrnPrefix.size());
    offset = kUrnPrefix.size();
    wrapped = true;
  }

  std::size_t hyphens = 0;
  std::size_t hyphen_at[4] = {};
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '-') {
      if (hyphens < 4) hyphen_at[hyphens] = i;
      ++hyphens;
      ++i;
      continue;
    }
    if (kHexValue[c] != 0xff) {
      ++i;
      continue;
    }
    char32_t cp;
    bool valid;
    std::size_t len = text::decode_utf8(s, i, &cp, &valid);
    std::string_view ch = valid ? s.substr(i, len) : std::string_view("\xef\xbf\xbd");
    std::string out = "invalid character: found `";
    out += ch;
    out += "` at ";
    out += std::to_string(i + offset);
    return out;
  }

  if (hyphens == 0 && !wrapped) return "invalid length: found " + std::to_string(n);
  if (hyphens != 4) return "invalid group count: expected 5, found " + std::to_string(hyphens + 1);

  constexpr std::size_t kEnd[4] = {8, 13, 18, 23};       // where each hyphen belongs
  constexpr std::size_t kExpected[5] = {8, 4, 4, 4, 12};  // group lengths
  std::size_t start = 0;
  for (std::size_t g = 0; g < 4; ++g) {
    if (hyphen_at[g] != kEnd[g]) {
      return "invalid group length in group " + std::to_string(g) + ": expected " +
             std::to_string(kExpected[g]) + ", found " + std::to_string(hyphen_at[g] - start);
    }
    start = hyphen_at[g] + 1;
  }
  return "invalid group length in group 4: expected 12, found " + std::to_string(s.size() - start);
}

// Kept out of line so that the accepting path stays small.
[[gnu::noinline, gnu::cold]] Result<Uuid> reject(std::string_view text) {
  return Error::value("invalid UUID: " + invalid_detail(text));
}

// ---------------------------------------------------------------------------
// Text form

constexpr auto kHexPairs = [] {
  std::array<char, 512> t{};
  constexpr char digits[] = "0123456789abcdef";
  for (int i = 0; i < 256; ++i) {
    t[2 * i] = digits[i >> 4];
    t[2 * i + 1] = digits[i & 15];
  }
  return t;
}();

// Version 4, variant 10, over 16 random bytes.
void stamp_v4(Uuid& u) {
  u.bytes[6] = static_cast<std::uint8_t>((u.bytes[6] & 0x0f) | 0x40);
  u.bytes[8] = static_cast<std::uint8_t>((u.bytes[8] & 0x3f) | 0x80);
}

}  // namespace

Result<Uuid> Uuid::v4() {
  Uuid u;
  std::string error;
  if (!random_bytes(u.bytes.data(), u.bytes.size(), &error))
    return Error::internal("could not retrieve random bytes for uuid: " + error);
  stamp_v4(u);
  return u;
}

Result<std::vector<Uuid>> Uuid::v4_many(std::size_t n) {
  static_assert(sizeof(Uuid) == 16);
  std::vector<Uuid> out(n);
  std::string error;
  if (!random_bytes(out.data(), n * sizeof(Uuid), &error))
    return Error::internal("could not retrieve random bytes for uuid: " + error);
  for (Uuid& u : out) stamp_v4(u);
  return out;
}

Result<Uuid> Uuid::parse(std::string_view text) {
  Uuid u;
  const char* p = text.data();
  bool ok = false;
  switch (text.size()) {
    case 32: ok = parse_simple(p, &u); break;
    case 36: ok = parse_hyphenated(p, &u); break;
    case 38: ok = p[0] == '{' && p[37] == '}' && parse_hyphenated(p + 1, &u); break;
    case 45: ok = text.starts_with(kUrnPrefix) && parse_hyphenated(p + kUrnPrefix.size(), &u); break;
    default: break;
  }
  if (ok) return u;
  return reject(text);
}

void Uuid::write(char* out) const {
  char* o = out;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) *o++ = '-';
    std::memcpy(o, &kHexPairs[2 * bytes[i]], 2);
    o += 2;
  }
}

std::string Uuid::str() const {
  std::string s(36, '\0');
  write(s.data());
  return s;
}

}  // namespace kelo_core
