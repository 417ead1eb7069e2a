// Hash stream, UUID, text-form, shared list and big number helpers.
#include <gtest/gtest.h>

#include <cfloat>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/biguint.h"
#include "support/hash.h"
#include "support/random.h"
#include "support/shared_list.h"
#include "support/text.h"
#include "support/uuid.h"

namespace kelo_core {
namespace {

// SipHash-1-3 of the message 0, 1, ..., n-1 under the zero key, from an independent implementation that
// agrees with CPython's own bytes hash.
constexpr std::uint64_t kZeroKey[18] = {
    0xd1fba762150c532cull, 0x68a914128e01e473ull, 0x010bac45c41e3669ull, 0x4d4c9a4a8ef6e0adull,
    0x7cc43f98813e4dbdull, 0x5abe2169dff36275ull, 0xe3c25f87624f1cdbull, 0x2f098ab0c751325aull,
    0xead411e67ebe2eeaull, 0x75927f9d95124362ull, 0xaf9f77a65ab51a1dull, 0xfe64ce8b6617fcffull,
    0xa6baf4fb0f9fe1c2ull, 0xa0cf3211850f8e0dull, 0x7f86049379fbfe67ull, 0xf30eb725bb91c9eaull,
    0x8972188433a5c5b7ull, 0x4883c49a2c009c1dull};
constexpr std::uint64_t kK0 = 0x0706050403020100ull, kK1 = 0x0f0e0d0c0b0a0908ull;

std::vector<unsigned char> sequence(std::size_t n, unsigned step = 1) {
  std::vector<unsigned char> v;
  for (std::size_t i = 0; i < n; ++i) v.push_back(static_cast<unsigned char>(i * step));
  return v;
}

TEST(SipHash13, KnownValuesAndIntegerWrites) {
  for (std::size_t n = 0; n < 18; ++n) {
    auto m = sequence(n);
    EXPECT_EQ(siphash13(m.data(), n), kZeroKey[n]) << n;
    EXPECT_EQ(HashStream().bytes(m.data(), n).finish(), kZeroKey[n]) << n;
  }
  auto m = sequence(15);
  EXPECT_EQ(siphash13(m.data(), 15, kK0, kK1), 0xd320d86d2a519956ull);
  auto long_message = sequence(1000, 7);  // the length byte wraps (1000 & 0xff)
  EXPECT_EQ(siphash13(long_message.data(), 1000, kK0, kK1), 0x576dc38f426b606eull);
  // Integers are written little-endian; finish leaves the stream as it was.
  HashStream h;
  h.u8(0).u32(0x04030201u).u64(0x0c0b0a0908070605ull);
  EXPECT_EQ(h.finish(), kZeroKey[13]);
  EXPECT_EQ(h.text(std::string_view("\x0d\x0e\x0f\x10", 4)).finish(), kZeroKey[17]);
}

TEST(SipHash13, AnySplitGivesTheOneShotHash) {
  auto m = sequence(1000, 7);
  const std::uint64_t expected = siphash13(m.data(), m.size(), kK0, kK1);
  // 0: irregular, empty writes included. Single bytes go in as u8, at every place in a block.
  for (std::size_t chunk : {0, 1, 3, 8, 9, 64, 999}) {
    HashStream h(kK0, kK1);
    for (std::size_t i = 0, k = 0; i < m.size(); ++k) {
      std::size_t len = std::min<std::size_t>(chunk ? chunk : k % 11, m.size() - i);
      if (len == 1) {
        h.u8(m[i]);
      } else {
        h.bytes(m.data() + i, len);
      }
      i += len;
    }
    EXPECT_EQ(h.finish(), expected) << chunk;
  }
}

TEST(SipHash13, SignedHashReservesMinusOne) {
  EXPECT_EQ(signed_hash(~std::uint64_t{0}), -2);
  EXPECT_EQ(signed_hash(~std::uint64_t{0} - 1), -2);
  EXPECT_EQ(signed_hash(0x8000000000000000ull), INT64_MIN);
  EXPECT_EQ(signed_hash(5), 5);
}

// The accepted forms are checked through the Python tests, for every identifier class.
TEST(UuidParse, RejectedInputsAndTheirMessages) {
  const std::string U = "550e8400-e29b-41d4-a716-446655440000", len = "invalid length: found ",
                    chr = "invalid character: found ", count = "invalid group count: expected 5, found ",
                    group = "invalid group length in group ";
  std::string e_acute_23;
  for (int i = 0; i < 23; ++i) e_acute_23 += "\xc3\xa9";
  const std::pair<std::string, std::string> cases[] = {
      {"", len + "0"}, {U + "1234567890", len + "46"}, {std::string(36, '0'), len + "36"},
      {"550e8400e29b41d4a71644665544000", len + "31"}, {e_acute_23, len + "46"},  // bytes, not characters
      {"urn:uuid:{" + U + "}", len + "47"}, {U.substr(0, 35) + "g", chr + "`g` at 35"},
      {U.substr(0, 35) + " ", chr + "` ` at 35"}, {U + "g", chr + "`g` at 36"}, {"g", chr + "`g` at 0"},
      {std::string(1, '\0'), chr + "`" + '\0' + "` at 0"}, {"550e8400_" + U.substr(9), chr + "`_` at 8"},
      {"0x550e8400e29b41d4a716446655440000", chr + "`x` at 1"},
      {U.substr(0, 35) + "\xc3\xa9", chr + "`\xc3\xa9` at 35"}, {"URN:UUID:" + U, chr + "`U` at 0"},
      {"\xe6\x97\xa5\xe6\x9c\xac", chr + "`\xe6\x97\xa5` at 0"}, {"-", count + "2"},
      {U.substr(0, 35) + "\xff", chr + "`\xef\xbf\xbd` at 35"}, {"----", group + "0: expected 8, found 0"},
      {"550e8400e29b-41d4-a716-446655440000", count + "4"},
      {"550e8400-e29b-41d4-a716-4466-55440000", count + "6"},
      {"550e840-0e29b-41d4-a716-446655440000", group + "0: expected 8, found 7"},
      {"550e84000-e29b-41d4-a716-44665544000", group + "0: expected 8, found 9"},
      {"550e8400-e29b4-1d4-a716-446655440000", group + "1: expected 4, found 5"},
      {"550e8400-e29b-41d-4a716-446655440000", group + "2: expected 4, found 3"},
      {"550e8400-e29b-41d4-a7164-46655440000", group + "3: expected 4, found 5"},
      {U + "1", group + "4: expected 12, found 13"}, {U.substr(0, 35), group + "4: expected 12, found 11"},
      {U + "000000000", group + "4: expected 12, found 21"},
      // Wrappers: judged by the inner text, positions in the whole input.
      {"{" + U, chr + "`{` at 0"}, {U + "}", chr + "`}` at 36"}, {"{}", count + "1"},
      {"{" + U.substr(0, 35) + "g}", chr + "`g` at 36"}, {"{550e8400e29b41d4a716446655440000}", count + "1"},
      {"{" + U.substr(0, 34) + "}", group + "4: expected 12, found 10"},
      {"urn:uuid:" + U.substr(0, 35) + "x", chr + "`x` at 44"}, {"urn:uuid:", count + "1"},
      {"urn:uuid:550e8400e29b41d4a716446655440000", count + "1"}, {"xrn:uuid:" + U, chr + "`x` at 0"}};
  for (const auto& [input, detail] : cases) {
    auto r = Uuid::parse(input);
    ASSERT_FALSE(r.ok()) << input;
    EXPECT_EQ(r.error().kind, Error::Kind::Value);
    EXPECT_EQ(r.error().message, "invalid UUID: " + detail) << input;
  }
}

// Version 4, variant 10; every other bit varies across UUIDs, one at a time or many at once.
TEST(Uuid, V4IsRandomVersion4) {
  std::set<std::array<std::uint8_t, 16>> seen;
  std::array<std::uint8_t, 16> ored{}, anded;
  anded.fill(0xff);
  auto many = Uuid::v4_many(2000);
  ASSERT_TRUE(many.ok()) << many.error().message;
  ASSERT_EQ(many->size(), 2000u);
  for (int i = 0; i < 4000; ++i) {  // several refills of the random block
    auto r = i < 2000 ? Uuid::v4() : Result<Uuid>((*many)[std::size_t(i - 2000)]);
    ASSERT_TRUE(r.ok()) << r.error().message;
    EXPECT_TRUE(seen.insert(r->bytes).second);
    for (int b = 0; b < 16; ++b) ored[b] |= r->bytes[b], anded[b] &= r->bytes[b];
  }
  EXPECT_TRUE(Uuid::v4_many(0)->empty());
  for (int b = 0; b < 16; ++b) {
    EXPECT_EQ(ored[b], b == 6 ? 0x4f : b == 8 ? 0xbf : 0xff) << b;
    EXPECT_EQ(anded[b], b == 6 ? 0x40 : b == 8 ? 0x80 : 0x00) << b;
  }
}

TEST(RandomBytes, AnySizeAcrossBlockBoundaries) {
  std::string error;
  for (std::size_t n : {0, 1, 7, 16, 4079, 4080, 4081, 10000}) {
    std::string v(n, '\0');
    ASSERT_TRUE(random_bytes(v.data(), n, &error)) << error;
    EXPECT_TRUE(n < 16 || v != std::string(n, '\0')) << n;
  }
}

template <class F>
void check_float_forms(const std::vector<std::tuple<F, std::string, std::string>>& cases) {
  for (const auto& [value, display, debug] : cases) {
    EXPECT_EQ(text::display(value), display) << debug;
    EXPECT_EQ(text::debug(value), debug) << debug;
  }
}

TEST(TextFloat, DoubleForms) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = 1 / 0.0;
  check_float_forms<double>({
      {2.0, "2", "2.0"}, {-2.5, "-2.5", "-2.5"}, {0.0, "0", "0.0"}, {-0.0, "-0", "-0.0"},
      {0.1, "0.1", "0.1"}, {1.0 / 3, "0.3333333333333333", "0.3333333333333333"},
      {0.30000000000000004, "0.30000000000000004", "0.30000000000000004"},
      {1.2345e20, "123450000000000000000", "1.2345e20"}, {1e16, "10000000000000000", "1e16"},
      {9999999999999998.0, "9999999999999998", "9999999999999998.0"}, {1e-4, "0.0001", "0.0001"},
      {9.999e-5, "0.00009999", "9.999e-5"}, {1.5e-5, "0.000015", "1.5e-5"}, {-1e-7, "-0.0000001", "-1e-7"},
      {DBL_MAX, "17976931348623157" + std::string(292, '0'), "1.7976931348623157e308"},
      {DBL_MIN, "0." + std::string(307, '0') + "22250738585072014", "2.2250738585072014e-308"},
      {5e-324, "0." + std::string(323, '0') + "5", "5e-324"}, {nan, "NaN", "NaN"}, {-nan, "NaN", "NaN"},
      {-1e100, "-1" + std::string(100, '0'), "-1e100"}, {inf, "inf", "inf"}, {-inf, "-inf", "-inf"}});
}

TEST(TextFloat, FloatFormsUseSinglePrecisionDigits) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = 1 / 0.0f;
  check_float_forms<float>({
      {2.0f, "2", "2.0"}, {-0.0f, "-0", "-0.0"}, {0.1f, "0.1", "0.1"}, {0.3f, "0.3", "0.3"},
      {1.0f / 3, "0.33333334", "0.33333334"}, {123456.789f, "123456.79", "123456.79"},
      {16777216.0f, "16777216", "16777216.0"}, {1e16f, "10000000000000000", "1e16"},
      {9.999e15f, "9999000000000000", "9999000000000000.0"}, {1e-4f, "0.0001", "0.0001"},
      {9.999e-5f, "0.00009999", "9.999e-5"}, {1.5e-5f, "0.000015", "1.5e-5"},
      {FLT_MAX, "34028235" + std::string(31, '0'), "3.4028235e38"},
      {FLT_MIN, "0." + std::string(37, '0') + "11754944", "1.1754944e-38"},
      {std::numeric_limits<float>::denorm_min(), "0." + std::string(44, '0') + "1", "1e-45"},
      {nan, "NaN", "NaN"}, {-inf, "-inf", "-inf"}, {inf, "inf", "inf"}});
}

TEST(TextString, DebugEscapes) {
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"", R"("")"}, {"plain text", R"("plain text")"}, {"say \"hi\"", R"("say \"hi\"")"},
      {"a\\b", R"("a\\b")"}, {"it's", R"("it's")"}, {"l1\nl2\r\tx", R"("l1\nl2\r\tx")"},
      {std::string_view("a\0b", 3), R"("a\0b")"},
      {"\x01\x1b\x1f\x7f", R"("\u{1}\u{1b}\u{1f}\u{7f}")"},
      {"\xc2\x85", R"("\u{85}")"}, {"no\xc2\xa0" "break", R"("no\u{a0}break")"},
      {"\xc2\xad", R"("\u{ad}")"}, {"zero\xe2\x80\x8bwidth", R"("zero\u{200b}width")"},
      {"\xe2\x80\xa8", R"("\u{2028}")"}, {"\xcd\xb8", R"("\u{378}")"}, {"\xee\x80\x80", R"("\u{e000}")"},
      {"\xf4\x8f\xbf\xbf", R"("\u{10ffff}")"}, {"\xe3\x80\x80", R"("\u{3000}")"},
      {"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xe6\x97\xa5 \xf0\x9f\x98\x80\""},
      {"\xef\xbf\xbd", "\"\xef\xbf\xbd\""},  // a real U+FFFD is printable
      // the edges of the printable table: U+A1, U+37A, U+3134A, U+E0100 are printable
      {"\xc2\xa1\xcd\xba\xf0\xb1\x8d\x8a\xf3\xa0\x84\x80",
       "\"\xc2\xa1\xcd\xba\xf0\xb1\x8d\x8a\xf3\xa0\x84\x80\""},
      {"\xcd\xb9\xf0\xb1\x8d\x8b\xf3\xa0\x83\xbf", R"("\u{379}\u{3134b}\u{e00ff}")"},
      // Invalid UTF-8: one replacement per maximal ill-formed subpart.
      {"a\xff" "b", R"("a\u{fffd}b")"}, {"\xc3", R"("\u{fffd}")"}, {"\xe2\x80", R"("\u{fffd}")"},
      {"\xe2\x80" "A", R"("\u{fffd}A")"}, {"\xf0\x9f\x98", R"("\u{fffd}")"},
      {"\xc0\xaf", R"("\u{fffd}\u{fffd}")"}, {"\xed\xa0\x80", R"("\u{fffd}\u{fffd}\u{fffd}")"},
      {"\xf4\x90\x80\x80", R"("\u{fffd}\u{fffd}\u{fffd}\u{fffd}")"}, {"\x80\xbf", R"("\u{fffd}\u{fffd}")"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(text::debug(in), out) << out;
}

TEST(TextCompound, OptionalsAndLists) {
  EXPECT_EQ(text::debug(std::vector<std::optional<double>>{std::nullopt, 1e16, 0.5}),
            "[None, Some(1e16), Some(0.5)]");
  EXPECT_EQ(text::debug(std::optional<std::vector<std::string>>{{"a", "b\n"}}), R"(Some(["a", "b\n"]))");
  EXPECT_EQ(text::debug(std::vector<bool>{true, false}), "[true, false]");
  EXPECT_EQ(text::debug(std::vector<std::uint32_t>{}), "[]");
}

// Counts live instances, so that tests can see every entry destroyed once.
struct Counted {
  static inline int live = 0;
  std::string text;
  explicit Counted(std::string t) : text(std::move(t)) { ++live; }
  Counted(const Counted& o) : text(o.text) { ++live; }
  Counted(Counted&& o) noexcept : text(std::move(o.text)) { ++live; }
  ~Counted() { --live; }
  friend bool operator==(const Counted&, const Counted&) = default;
};

std::vector<std::string> texts(const SharedList<Counted>& l) {
  std::vector<std::string> out;
  for (const Counted& c : l) out.push_back(c.text);
  return out;
}

TEST(SharedList, CopiesKeepTheirOwnEntriesAndChainsShareBlocks) {
  {
    SharedList<Counted> a;
    a.push_back(Counted("x"));
    SharedList<Counted> b = a;  // shares, then appends in place
    b.push_back(Counted("y"));
    SharedList<Counted> c = a;  // a branch off an older copy: copies first
    c.push_back(Counted("z"));
    a.push_back(Counted("w"));  // likewise
    EXPECT_EQ(texts(a), (std::vector<std::string>{"x", "w"}));
    EXPECT_EQ(texts(b), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(texts(c), (std::vector<std::string>{"x", "z"}));
    EXPECT_NE(a, b);
    SharedList<Counted> d;
    d.push_back(Counted("x"));
    d.push_back(Counted("y"));
    EXPECT_EQ(d, b);
    EXPECT_EQ(&b[0], &(*b.begin()));

    std::vector<SharedList<Counted>> chain(1);
    for (int i = 0; i < 1000; ++i) {
      SharedList<Counted> next = chain.back();
      next.push_back(Counted(std::to_string(i)));
      chain.push_back(std::move(next));
    }
    for (std::size_t n = 1; n < chain.size(); ++n) {
      ASSERT_EQ(chain[n].size(), n);
      EXPECT_EQ(chain[n].back().text, std::to_string(n - 1));
    }
    // Blocks double, so the copies made along the way are O(n), not O(n^2).
    EXPECT_LT(Counted::live, 3000);
    const Counted* first = &chain[10][0];
    chain.resize(500);
    EXPECT_EQ(&chain[10][0], first);
  }
  EXPECT_EQ(Counted::live, 0);
}

TEST(SharedList, CopiesAppendFromSeveralThreads) {
  SharedList<int> base{1, 2, 3};
  std::vector<SharedList<int>> out(4, base);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&out, t] {
      for (int i = 0; i < 10000; ++i) out[t].push_back(t);
    });
  for (auto& th : threads) th.join();
  for (int t = 0; t < 4; ++t) {
    ASSERT_EQ(out[t].size(), 10003u);
    EXPECT_EQ(out[t][2], 3);
    EXPECT_EQ(std::count(out[t].begin(), out[t].end(), t), 10000 + (t >= 1 && t <= 3));
  }
  EXPECT_EQ(base.size(), 3u);
}

constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();

TEST(BigUintTest, ProductsBeyond64Bits) {
  const struct { std::vector<std::uint64_t> factors; const char* decimal; const char* hex; } cases[] = {
      {{}, "1", "1"}, {{0}, "0", "0"}, {{kMax}, "18446744073709551615", "ffffffffffffffff"},
      {{1ull << 32, 1ull << 32}, "18446744073709551616", "10000000000000000"},
      {{kMax, kMax}, "340282366920938463426481119284349108225", "fffffffffffffffe0000000000000001"},
      {{kMax, kMax, kMax}, "6277101735386680762814942322444851025767571854389858533375",
       "fffffffffffffffd0000000000000002ffffffffffffffff"}, {{kMax, kMax, 0, kMax}, "0", "0"},
      {{10000000000000000000u, 10000000000000000000u}, "100000000000000000000000000000000000000",
       "4b3b4ca85a86c47a098a224000000000"}, {{1ull << 63, 2}, "18446744073709551616", "10000000000000000"}};
  for (const auto& c : cases) {  // {kMax, kMax, 0, kMax}: a long number shrinks back to one limb
    SCOPED_TRACE(c.decimal);
    BigUint n = 1;
    for (auto f : c.factors) n *= f;
    EXPECT_EQ(BigUint::product(c.factors), n);
    EXPECT_EQ(n.str(), c.decimal);
    EXPECT_EQ(n.hex(), c.hex);
    EXPECT_EQ(n.fits_u64(), std::string(c.hex).size() <= 16);
  }
}

// The product tree and its transform multiplication against one limb at a time, over sizes on both sides of
// the switch from schoolbook to transform and mixes of factors that do and do not fold into 64 bits.
TEST(BigUintTest, ProductTreeMatchesOneFactorAtATime) {
  std::uint64_t state = 0x9e3779b97f4a7c15u;
  auto next = [&] {
    state ^= state << 13, state ^= state >> 7, state ^= state << 17;
    return state;
  };
  for (std::size_t count : {2u, 63u, 64u, 65u, 200u, 1000u, 3000u}) {
    for (int bits : {7, 40, 64}) {
      std::vector<std::uint64_t> factors(count);
      for (auto& f : factors) f = (next() >> (64 - bits)) | 1;
      factors[count / 2] = kMax;
      BigUint n = 1;
      for (auto f : factors) n *= f;
      EXPECT_EQ(BigUint::product(factors), n) << count << " factors of " << bits << " bits";
    }
  }
}

}  // namespace
}  // namespace kelo_core
