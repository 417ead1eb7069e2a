#include <string>

#include <gtest/gtest.h>

#include "data/event_type.h"

namespace kelo_core::data {
namespace {

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

// The Python tests cover the texts case by case; these pin the core's rules.
TEST(EventTypeTest, TextAndParse) {
  const struct { EventType type; std::string text; } cases[] = {
      {EventType::kelo("enter"), "enter"}, {{"a", "enter"}, "a/enter"}, {{"Kelo", "x"}, "Kelo/x"},
      {{"", ""}, "/"}, {EventType::kelo(""), ""}, {{"a", "b/c"}, "a/b/c"},
      {{std::string("k\0", 2), "x"}, std::string("k\0/x", 4)}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.type.as_str(), c.text);
    EXPECT_EQ(EventType::parse(c.text), c.type) << c.text;
    EXPECT_EQ(c.type.is_reserved(), c.type.namespace_ == "kelo");
  }
  // Slashes in a namespace, or in a reserved name, do not survive the text.
  EXPECT_EQ(EventType::parse(EventType::kelo("a/b").as_str()), EventType({"a", "b"}));
  EXPECT_EQ(EventType::parse(EventType({"a/b", "c"}).as_str()), EventType({"a", "b/c"}));
}

}  // namespace
}  // namespace kelo_core::data
