#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "support/biguint.h"

namespace kelo_core::data {
namespace {

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
  for (const auto& c : cases) {
    BigUint n = 1;
    for (auto f : c.factors) n *= f;
    EXPECT_EQ(BigUint::product(c.factors), n);
    EXPECT_EQ(n.str(), c.decimal);
    EXPECT_EQ(n.hex(), c.hex);
    EXPECT_EQ(n.fits_u64(), std::string(c.hex).size() <= 16) << c.decimal;
  }
  BigUint zero = 1;
  zero *= kMax;
  zero *= kMax;
  zero *= 0;
  EXPECT_TRUE(zero.fits_u64());
  EXPECT_EQ(zero, BigUint(0));
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
}  // namespace kelo_core::data
