#include <string>

#include <gtest/gtest.h>

#include "data/event_type.h"

namespace kelo_core::data {
namespace {

std::uint64_t hash_of(const EventType& t) {
  HashStream h;
  hash_into(h, t);
  return h.finish();
}

// Single bytes land at every position of a block, as bytes() would put them.
TEST(HashStreamTest, ByteWritesMatchBytes) {
  unsigned char m[19];
  for (int i = 0; i < 19; ++i) m[i] = static_cast<unsigned char>(0xF0 + i);
  for (std::size_t n = 0; n <= 19; ++n) {
    HashStream by_byte;
    for (std::size_t i = 0; i < n; ++i) by_byte.u8(m[i]);
    EXPECT_EQ(by_byte.finish(), siphash13(m, n)) << n;
  }
  for (std::size_t n = 1; n <= 19; ++n) {  // a byte between two runs
    HashStream mixed;
    mixed.bytes(m, n / 2).u8(m[n / 2]).bytes(m + n / 2 + 1, n - n / 2 - 1);
    EXPECT_EQ(mixed.finish(), siphash13(m, n)) << n;
  }
}

TEST(EventTypeTest, CanonicalText) {
  const struct { EventType type; std::string text; } cases[] = {
      {EventType::kelo("enter"), "enter"},
      {{"a", "enter"}, "a/enter"},
      {{"Kelo", "x"}, "Kelo/x"},  // the reserved namespace is case-sensitive
      {{"kelo ", "x"}, "kelo /x"},
      {{"kelo/", "x"}, "kelo//x"},
      {{"", "x"}, "/x"},
      {{"a", ""}, "a/"},
      {{"", ""}, "/"},
      {EventType::kelo(""), ""},
      {EventType::kelo("a/b"), "a/b"},
      {{"a/b", "c/d"}, "a/b/c/d"},
      {{std::string("k\0", 2), "x"}, std::string("k\0/x", 4)},
  };
  for (const auto& c : cases) EXPECT_EQ(c.type.as_str(), c.text) << c.type.namespace_;
}

TEST(EventTypeTest, Parse) {
  const struct { std::string text; EventType type; } cases[] = {
      {"x", EventType::kelo("x")},
      {"", EventType::kelo("")},
      {"a/x", {"a", "x"}},
      {"a/b/x", {"a", "b/x"}},
      {"/x", {"", "x"}},
      {"a/", {"a", ""}},
      {"/", {"", ""}},
      {"//", {"", "/"}},
      {"kelo/x", EventType::kelo("x")},
      {"Kelo/x", {"Kelo", "x"}},
      {std::string("a\0/b", 4), {std::string("a\0", 2), "b"}},
  };
  for (const auto& c : cases) {
    EventType parsed = EventType::parse(c.text);
    EXPECT_EQ(parsed, c.type) << c.text;
    EXPECT_EQ(parsed.is_reserved(), c.type.namespace_ == "kelo") << c.text;
  }
}

TEST(EventTypeTest, ParseInvertsCanonicalTextExceptAcrossSlashes) {
  const EventType round_trips[] = {
      EventType::kelo("x"), EventType::kelo(""), {"a", "x"}, {"a", "b/c"}, {"", ""}, {"Kelo", "a/b"}};
  for (const auto& t : round_trips) EXPECT_EQ(EventType::parse(t.as_str()), t) << t.as_str();
  EXPECT_EQ(EventType::parse(EventType::kelo("a/b").as_str()), EventType({"a", "b"}));
  EXPECT_EQ(EventType::parse(EventType({"a/b", "c"}).as_str()), EventType({"a", "b/c"}));
}

TEST(EventTypeTest, HashStreamSeparatesTheTexts) {
  auto stream = [](std::string_view bytes) {
    HashStream h;
    h.text(bytes);
    return h.finish();
  };
  EXPECT_EQ(hash_of({"a", "x"}), stream("a\xff" "x\xff"));
  EXPECT_EQ(hash_of({"", ""}), stream("\xff\xff"));
  EXPECT_EQ(hash_of(EventType::kelo("x")), stream("kelo\xff" "x\xff"));
  EXPECT_NE(hash_of({"a/", "b"}), hash_of({"a", "/b"}));
  EXPECT_NE(hash_of({"ab", ""}), hash_of({"a", "b"}));
  EXPECT_NE(EventType({"ab", ""}), EventType({"a", "b"}));
}

}  // namespace
}  // namespace kelo_core::data
