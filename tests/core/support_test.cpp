// Hash stream, UUID and text-form helpers.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

#include "support/hash.h"
#include "support/text.h"
#include "support/uuid.h"

namespace kelo_core {
namespace {

// ---------------------------------------------------------------------------
// SipHash-1-3. Expected values come from an independent Python implementation,
// itself checked against CPython's own siphash13 str/bytes hash (key zero
// under PYTHONHASHSEED=0). Message n is the bytes 0, 1, ..., n-1.

constexpr std::uint64_t kZeroKey[18] = {
    0xd1fba762150c532cull, 0x68a914128e01e473ull, 0x010bac45c41e3669ull, 0x4d4c9a4a8ef6e0adull,
    0x7cc43f98813e4dbdull, 0x5abe2169dff36275ull, 0xe3c25f87624f1cdbull, 0x2f098ab0c751325aull,
    0xead411e67ebe2eeaull, 0x75927f9d95124362ull, 0xaf9f77a65ab51a1dull, 0xfe64ce8b6617fcffull,
    0xa6baf4fb0f9fe1c2ull, 0xa0cf3211850f8e0dull, 0x7f86049379fbfe67ull, 0xf30eb725bb91c9eaull,
    0x8972188433a5c5b7ull, 0x4883c49a2c009c1dull};
// Key bytes 00..0f: k0 = 0x0706050403020100, k1 = 0x0f0e0d0c0b0a0908.
constexpr std::uint64_t kK0 = 0x0706050403020100ull, kK1 = 0x0f0e0d0c0b0a0908ull;
constexpr std::uint64_t kSeqKey[18] = {
    0xabac0158050fc4dcull, 0xc9f49bf37d57ca93ull, 0x82cb9b024dc7d44dull, 0x8bf80ab8e7ddf7fbull,
    0xcf75576088d38328ull, 0xdef9d52f49533b67ull, 0xc50d2b50c59f22a7ull, 0xd3927d989bb11140ull,
    0x369095118d299a8eull, 0x25a48eb36c063de4ull, 0x79de85ee92ff097full, 0x70c118c1f94dc352ull,
    0x78a384b157b4d9a2ull, 0x306f760c1229ffa7ull, 0x605aa111c0f95d34ull, 0xd320d86d2a519956ull,
    0xcc4fdd1a7d908b66ull, 0x9cf2689063dbd80cull};

std::vector<unsigned char> sequence(std::size_t n, unsigned step = 1) {
  std::vector<unsigned char> v(n);
  for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * step);
  return v;
}

TEST(SipHash13, KnownValues) {
  for (std::size_t n = 0; n < 18; ++n) {
    auto m = sequence(n);
    EXPECT_EQ(siphash13(m.data(), n), kZeroKey[n]) << n;
    EXPECT_EQ(siphash13(m.data(), n, kK0, kK1), kSeqKey[n]) << n;
    EXPECT_EQ(HashStream().bytes(m.data(), n).finish(), kZeroKey[n]) << n;
    EXPECT_EQ(HashStream(kK0, kK1).bytes(m.data(), n).finish(), kSeqKey[n]) << n;
  }
  auto long_message = sequence(1000, 7);  // length byte wraps (1000 & 0xff)
  EXPECT_EQ(siphash13(long_message.data(), 1000, kK0, kK1), 0x576dc38f426b606eull);
}

TEST(SipHash13, AnySplitGivesTheOneShotHash) {
  auto m = sequence(1000, 7);
  const std::uint64_t expected = siphash13(m.data(), m.size(), kK0, kK1);
  for (std::size_t chunk : {1, 2, 3, 5, 7, 8, 9, 13, 16, 31, 64, 999}) {
    HashStream h(kK0, kK1);
    for (std::size_t i = 0; i < m.size(); i += chunk)
      h.bytes(m.data() + i, std::min(chunk, m.size() - i));
    EXPECT_EQ(h.finish(), expected) << chunk;
  }
  // Irregular splits, including empty writes.
  HashStream h(kK0, kK1);
  for (std::size_t i = 0, k = 0; i < m.size(); ++k) {
    std::size_t len = std::min<std::size_t>(k % 11, m.size() - i);
    h.bytes(m.data() + i, len);
    i += len;
  }
  EXPECT_EQ(h.finish(), expected);
}

TEST(SipHash13, IntegersAreLittleEndianAndFinishLeavesTheStream) {
  auto m = sequence(17);  // 00 | 01..04 | 05..0c | 0d..10
  HashStream h;
  h.u8(0).u32(0x04030201u).u64(0x0c0b0a0908070605ull);
  EXPECT_EQ(h.finish(), siphash13(m.data(), 13));
  EXPECT_EQ(h.finish(), siphash13(m.data(), 13));  // finish does not consume
  h.text(std::string_view("\x0d\x0e\x0f\x10", 4));
  EXPECT_EQ(h.finish(), kZeroKey[17]);
  // Block-aligned u64 writes.
  EXPECT_EQ(HashStream().u64(0x0706050403020100ull).u64(0x0f0e0d0c0b0a0908ull).finish(),
            kZeroKey[16]);
}

// ---------------------------------------------------------------------------
// UUID

constexpr std::uint8_t kSample[16] = {0x55, 0x0e, 0x84, 0x00, 0xe2, 0x9b, 0x41, 0xd4,
                                      0xa7, 0x16, 0x44, 0x66, 0x55, 0x44, 0x00, 0x00};

TEST(UuidParse, AcceptedForms) {
  for (const char* text : {
           "550e8400-e29b-41d4-a716-446655440000",
           "550e8400e29b41d4a716446655440000",
           "{550e8400-e29b-41d4-a716-446655440000}",
           "urn:uuid:550e8400-e29b-41d4-a716-446655440000",
           "550E8400-E29B-41D4-A716-446655440000",
           "urn:uuid:550E8400-e29B-41d4-A716-446655440000",
           "550E8400E29B41D4A716446655440000",
       }) {
    auto r = Uuid::parse(text);
    ASSERT_TRUE(r.ok()) << text << ": " << r.error().message;
    EXPECT_EQ(0, std::memcmp(r->bytes.data(), kSample, 16)) << text;
    EXPECT_EQ(r->str(), "550e8400-e29b-41d4-a716-446655440000");
  }
  // Version and variant bits are not checked.
  for (const char* text : {"00000000-0000-0000-0000-000000000000",
                           "ffffffff-ffff-ffff-ffff-ffffffffffff",
                           "0123456789abcdef0123456789abcdef"}) {
    auto r = Uuid::parse(text);
    ASSERT_TRUE(r.ok()) << text;
  }
  EXPECT_EQ(Uuid::parse("00000000000000000000000000000000")->bytes, Uuid{}.bytes);
  EXPECT_EQ(Uuid::parse("0123456789ABCDEF0123456789abcdef")->str(),
            "01234567-89ab-cdef-0123-456789abcdef");
}

struct Rejected {
  std::string_view input;
  std::string_view detail;
};

TEST(UuidParse, RejectedInputsAndTheirMessages) {
  const Rejected cases[] = {
      {"", "invalid length: found 0"},
      {"550e8400-e29b-41d4-a716-4466554400001234567890", "invalid length: found 46"},
      {"000000000000000000000000000000000000000000000", "invalid length: found 45"},
      {"550e8400e29b41d4a716446655440000a", "invalid length: found 33"},
      {"550e8400e29b41d4a71644665544000", "invalid length: found 31"},
      {"550e8400-e29b-41d4-a716-44665544000g", "invalid character: found `g` at 35"},
      {"550e8400-e29b-41d4-a716-44665544000 ", "invalid character: found ` ` at 35"},
      {"g", "invalid character: found `g` at 0"},
      {"550e8400-e29b-41d4-a716-44665544000\xc3\xa9", "invalid character: found `\xc3\xa9` at 35"},
      {"\xe6\x97\xa5\xe6\x9c\xac", "invalid character: found `\xe6\x97\xa5` at 0"},
      {"550e8400-e29b-41d4-a716-44665544000\xff", "invalid character: found `\xef\xbf\xbd` at 35"},
      {"URN:UUID:550e8400-e29b-41d4-a716-446655440000", "invalid character: found `U` at 0"},
      {"550e8400e29b-41d4-a716-446655440000", "invalid group count: expected 5, found 4"},
      {"550e8400-e29b-41d4-a716-4466-55440000", "invalid group count: expected 5, found 6"},
      {"550e8400-e29b41d4a716446655440000", "invalid group count: expected 5, found 2"},
      {"-", "invalid group count: expected 5, found 2"},
      {"550e840-0e29b-41d4-a716-446655440000", "invalid group length in group 0: expected 8, found 7"},
      {"550e8400-e29b4-1d4-a716-446655440000", "invalid group length in group 1: expected 4, found 5"},
      {"550e8400-e29b-41d-4a716-446655440000", "invalid group length in group 2: expected 4, found 3"},
      {"550e8400-e29b-41d4-a7164-46655440000", "invalid group length in group 3: expected 4, found 5"},
      {"550e8400-e29b-41d4-a716-4466554400001", "invalid group length in group 4: expected 12, found 13"},
      {"550e8400-e29b-41d4-a716-44665544000", "invalid group length in group 4: expected 12, found 11"},
      // Wrappers: judged by the inner text, positions in the whole input.
      {"{550e8400-e29b-41d4-a716-446655440000", "invalid character: found `{` at 0"},
      {"550e8400-e29b-41d4-a716-446655440000}", "invalid character: found `}` at 36"},
      {"{550e8400-e29b-41d4-a716-44665544000g}", "invalid character: found `g` at 36"},
      {"{550e8400e29b41d4a716446655440000}", "invalid group count: expected 5, found 1"},
      {"{}", "invalid group count: expected 5, found 1"},
      {"{550e8400-e29b-41d4-a716-4466554400}", "invalid group length in group 4: expected 12, found 10"},
      {"{550e840-0e29b-41d4-a716-446655440000}", "invalid group length in group 0: expected 8, found 7"},
      {"urn:uuid:550e8400-e29b-41d4-a716-44665544000x", "invalid character: found `x` at 44"},
      {"urn:uuid:550e8400e29b41d4a716446655440000", "invalid group count: expected 5, found 1"},
      {"urn:uuid:", "invalid group count: expected 5, found 1"},
      {"urn:uuid:{550e8400-e29b-41d4-a716-446655440000}", "invalid length: found 47"},
      {"xrn:uuid:550e8400-e29b-41d4-a716-446655440000", "invalid character: found `x` at 0"},
  };
  for (const auto& c : cases) {
    auto r = Uuid::parse(c.input);
    ASSERT_FALSE(r.ok()) << c.input;
    EXPECT_EQ(r.error().kind, Error::Kind::Value);
    EXPECT_EQ(r.error().message, "invalid UUID: " + std::string(c.detail)) << c.input;
  }
}

TEST(Uuid, WriteRoundTrips) {
  for (int i = 0; i < 50; ++i) {
    Uuid u = *Uuid::v4();
    std::string s = u.str();
    ASSERT_EQ(s.size(), 36u);
    char buf[37] = {};
    u.write(buf);
    EXPECT_EQ(s, buf);
    EXPECT_EQ(*Uuid::parse(s), u);
  }
}

TEST(Uuid, V4SetsVersionAndVariantAndNeverRepeats) {
  std::set<std::array<std::uint8_t, 16>> seen;
  for (int i = 0; i < 2000; ++i) {  // several refills of the random block
    auto r = Uuid::v4();
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_EQ(r->bytes[6] >> 4, 4);
    EXPECT_EQ(r->bytes[8] >> 6, 2);
    std::string s = r->str();
    EXPECT_EQ(s[14], '4');
    EXPECT_NE(std::string("89ab").find(s[19]), std::string::npos);
    EXPECT_TRUE(seen.insert(r->bytes).second);
  }
}

TEST(RandomBytes, AnySizeAcrossBlockBoundaries) {
  std::string error;
  std::set<std::string> seen;
  for (std::size_t n : {0, 1, 7, 16, 100, 4079, 4080, 4081, 10000, 3, 16}) {
    std::string v(n, '\0');
    ASSERT_TRUE(random_bytes(v.data(), n, &error)) << error;
    if (n >= 16) {
      EXPECT_NE(v, std::string(n, '\0')) << n;
      EXPECT_TRUE(seen.insert(v).second) << n;
    }
  }
}

// A forked child must not hand out the bytes its parent still has buffered.
TEST(RandomBytes, ForkedChildDrawsFreshBytes) {
  ASSERT_TRUE(Uuid::v4().ok());  // the parent now holds a partly used block
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    Uuid mine[4];
    for (auto& u : mine) u = *Uuid::v4();
    ssize_t w = write(fds[1], mine, sizeof mine);
    _exit(w == static_cast<ssize_t>(sizeof mine) ? 0 : 1);
  }
  close(fds[1]);
  Uuid child[4];
  ASSERT_EQ(read(fds[0], child, sizeof child), static_cast<ssize_t>(sizeof child));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int i = 0; i < 4; ++i) {
    Uuid parent = *Uuid::v4();
    for (const Uuid& c : child) EXPECT_NE(parent, c);
  }
}

// ---------------------------------------------------------------------------
// Text forms

template <class F>
struct FloatCase {
  F value;
  std::string display;
  std::string debug;
};

TEST(TextFloat, DoubleForms) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::string dbl_max = "17976931348623157" + std::string(292, '0');
  const std::string denorm = "0." + std::string(323, '0') + "5";
  const std::string min_normal = "0." + std::string(307, '0') + "22250738585072014";
  const FloatCase<double> cases[] = {
      {2.0, "2", "2.0"},
      {0.5, "0.5", "0.5"},
      {-2.5, "-2.5", "-2.5"},
      {0.0, "0", "0.0"},
      {-0.0, "-0", "-0.0"},
      {0.1, "0.1", "0.1"},
      {0.30000000000000004, "0.30000000000000004", "0.30000000000000004"},
      {1.0 / 3, "0.3333333333333333", "0.3333333333333333"},
      {1e20, "100000000000000000000", "1e20"},
      {1.2345e20, "123450000000000000000", "1.2345e20"},
      {1e16, "10000000000000000", "1e16"},
      {9999999999999998.0, "9999999999999998", "9999999999999998.0"},
      {9.999e15, "9999000000000000", "9999000000000000.0"},
      {1e-4, "0.0001", "0.0001"},
      {9.999e-5, "0.00009999", "9.999e-5"},
      {1.5e-5, "0.000015", "1.5e-5"},
      {-1e-7, "-0.0000001", "-1e-7"},
      {DBL_MAX, dbl_max, "1.7976931348623157e308"},
      {-1e100, "-1" + std::string(100, '0'), "-1e100"},
      {DBL_MIN, min_normal, "2.2250738585072014e-308"},
      {5e-324, denorm, "5e-324"},
      {nan, "NaN", "NaN"},
      {-nan, "NaN", "NaN"},
      {inf, "inf", "inf"},
      {-inf, "-inf", "-inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text::display(c.value), c.display) << c.debug;
    EXPECT_EQ(text::debug(c.value), c.debug) << c.debug;
  }
}

TEST(TextFloat, FloatFormsUseSinglePrecisionDigits) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const FloatCase<float> cases[] = {
      {2.0f, "2", "2.0"},
      {-0.0f, "-0", "-0.0"},
      {0.1f, "0.1", "0.1"},
      {0.3f, "0.3", "0.3"},
      {1.0f / 3, "0.33333334", "0.33333334"},
      {123456.789f, "123456.79", "123456.79"},
      {16777216.0f, "16777216", "16777216.0"},
      {1e20f, "100000000000000000000", "1e20"},
      {1e16f, "10000000000000000", "1e16"},
      {9.999e15f, "9999000000000000", "9999000000000000.0"},
      {1e-4f, "0.0001", "0.0001"},  // compared with 1e-4 at single precision
      {9.999e-5f, "0.00009999", "9.999e-5"},
      {1.5e-5f, "0.000015", "1.5e-5"},
      {FLT_MAX, "34028235" + std::string(31, '0'), "3.4028235e38"},
      {FLT_MIN, "0." + std::string(37, '0') + "11754944", "1.1754944e-38"},
      {std::numeric_limits<float>::denorm_min(), "0." + std::string(44, '0') + "1", "1e-45"},
      {nan, "NaN", "NaN"},
      {-inf, "-inf", "-inf"},
      {inf, "inf", "inf"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(text::display(c.value), c.display) << c.debug;
    EXPECT_EQ(text::debug(c.value), c.debug) << c.debug;
  }
}

TEST(TextString, DebugEscapes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", R"("")"},
      {"plain text", R"("plain text")"},
      {"say \"hi\"", R"("say \"hi\"")"},
      {"a\\b", R"("a\\b")"},
      {"it's", R"("it's")"},
      {"l1\nl2\r\tx", R"("l1\nl2\r\tx")"},
      {std::string_view("a\0b", 3), R"("a\0b")"},
      {"\x01\x1b\x1f\x7f", R"("\u{1}\u{1b}\u{1f}\u{7f}")"},
      {"\xc2\x85", R"("\u{85}")"},                          // C1 control
      {"no\xc2\xa0" "break", R"("no\u{a0}break")"},         // Zs separator
      {"\xc2\xad", R"("\u{ad}")"},                          // soft hyphen (Cf)
      {"zero\xe2\x80\x8bwidth", R"("zero\u{200b}width")"},  // Cf
      {"\xe2\x80\xa8", R"("\u{2028}")"},                    // line separator
      {"\xcd\xb8", R"("\u{378}")"},                         // unassigned
      {"\xee\x80\x80", R"("\u{e000}")"},                    // private use
      {"\xf4\x8f\xbf\xbf", R"("\u{10ffff}")"},
      {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80\""},
      {"\xef\xbf\xbd", "\"\xef\xbf\xbd\""},  // a real U+FFFD is printable
      {"\xe3\x80\x80", R"("\u{3000}")"},     // ideographic space
      // Invalid UTF-8: one replacement per maximal ill-formed subpart.
      {"a\xff" "b", R"("a\u{fffd}b")"},
      {"\xc3", R"("\u{fffd}")"},
      {"\xe2\x80", R"("\u{fffd}")"},
      {"\xe2\x80" "A", R"("\u{fffd}A")"},
      {"\xf0\x9f\x98", R"("\u{fffd}")"},
      {"\xc0\xaf", R"("\u{fffd}\u{fffd}")"},                  // overlong
      {"\xed\xa0\x80", R"("\u{fffd}\u{fffd}\u{fffd}")"},      // surrogate
      {"\xf4\x90\x80\x80", R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"},  // > U+10FFFF
      {"\x80\xbf", R"("\u{fffd}\u{fffd}")"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(text::debug(in), out) << out;
}

TEST(TextString, IsPrintableBoundaries) {
  const std::pair<char32_t, bool> cases[] = {
      {U' ', true},      {U'~', true},       {0x1f, false},     {0x7f, false},
      {0xa0, false},     {0xa1, true},       {0xad, false},     {0x378, false},
      {0x379, false},    {0x37a, true},      {0xd800, false},   {0xfffd, true},
      {0xe0100, true},   {0x3134a, true},    {0x3134b, false},  {0x10ffff, false},
      {0x110000, false}, {U'\u65e5', true},  {0xe00ff, false},
  };
  for (auto [c, printable] : cases)
    EXPECT_EQ(text::is_printable(c), printable) << std::hex << static_cast<std::uint32_t>(c);
}

TEST(TextCompound, OptionalsAndLists) {
  EXPECT_EQ(text::debug(std::optional<float>{}), "None");
  EXPECT_EQ(text::debug(std::optional<float>{1.0f}), "Some(1.0)");
  EXPECT_EQ(text::debug(std::optional<std::string>{"a\"b"}), R"(Some("a\"b"))");
  EXPECT_EQ(text::debug(std::vector<std::string>{}), "[]");
  EXPECT_EQ(text::debug(std::vector<std::string>{"a", "b\n"}), R"(["a", "b\n"])");
  EXPECT_EQ(text::debug(std::vector<std::optional<double>>{std::nullopt, 1e16, 0.5}),
            "[None, Some(1e16), Some(0.5)]");
  EXPECT_EQ(text::debug(std::vector<std::uint32_t>{1, 4294967295u}), "[1, 4294967295]");
  EXPECT_EQ(text::debug(std::vector<bool>{true, false}), "[true, false]");
  EXPECT_EQ(text::debug(std::optional<std::vector<std::int64_t>>{{-1, 2}}), "Some([-1, 2])");
}

}  // namespace
}  // namespace kelo_core
