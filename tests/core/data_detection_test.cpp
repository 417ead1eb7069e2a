#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/attribute.h"
#include "data/classification.h"
#include "data/detection.h"
#include "support/text.h"

namespace kelo_core::data {
namespace {

// Attribute value kinds and accessors, and builders leaving their receiver, are checked through the
// Python tests.
TEST(AttributesTest, ByteOrderAndReplacement) {
  Attributes a;
  for (const char* k : {"b", "a", "B", "ab", "\xc3\xa9", "z", "", "a\x7f"}) {
    a.insert(k, {std::string(k)});
  }
  a.insert(std::string("a\0b", 3), {true});
  EXPECT_EQ(a.keys(), (std::vector<std::string>{"", "B", "a", std::string("a\0b", 3), "ab", "a\x7f",
                                                "b", "z", "\xc3\xa9"}));
  a.insert("a", {std::int64_t{1}});
  EXPECT_EQ(a.size(), 9u);
  ASSERT_NE(a.get("a"), nullptr);
  EXPECT_EQ(a.get("a")->as<std::int64_t>(), 1);
  EXPECT_EQ(a.get("A"), nullptr);
  EXPECT_EQ(a.get(std::string_view("a\0b", 3))->kind(), "bool");
  EXPECT_EQ(a.get("a\0b"), a.get("a"));  // a C string stops at the NUL
}

// The provenance record is fresh per object and carried through builders; copies share the
// out-of-line record until one changes it, and compare by value, not by which record they hold.
TEST(ObjectTest, ProvenanceAndCopiesThatChange) {
  const BoundingBox box{1, 2, 3, 4, CoordinateSpace::of(CoordinateSpaceVariant::World)};
  const ObjectId id = *ObjectId::fresh();
  Object a = *Object::make(id, box), plain = *Object::make(id, {});
  EXPECT_NE(a.provenance().id, plain.provenance().id);
  EXPECT_EQ(plain.provenance().id.bytes[6] >> 4, 4);
  EXPECT_EQ(plain.provenance(), (Provenance{{}, std::nullopt, {}, plain.provenance().id}));
  EXPECT_EQ(a.bbox(), box);
  Object touched = plain;
  touched.provenance_mut();  // makes the record, unchanged
  EXPECT_EQ(touched, plain);

  a.related_mut().push_back(*Uuid::v4());
  a.provenance_mut().references.push_back({*Uuid::v4(), 3});
  const Object built = a.with_class_id(*ClassId::fresh())
                           .with_label("person")
                           .with_confidence(std::numeric_limits<float>::quiet_NaN())
                           .with_attribute("k", {true});
  EXPECT_EQ(built.provenance(), a.provenance());
  EXPECT_EQ(built.related(), a.related());
  EXPECT_TRUE(std::isnan(*built.confidence));

  Object p = a;
  p.related_mut().push_back({});
  p.provenance_mut().model = ModelReference{"m", std::nullopt};
  EXPECT_EQ(a.related().size(), 1u);
  EXPECT_FALSE(a.provenance().model.has_value());
  EXPECT_EQ(p.provenance().id, a.provenance().id);
  EXPECT_EQ(p.bbox(), box);
  EXPECT_NE(p, a);
  Object q = a;
  q.related_mut();  // an equal record of its own
  EXPECT_EQ(q, a);
}

// Expected texts from Python's decimal on each float's exact value, quantized to 0.001 with ROUND_HALF_EVEN.
TEST(TextTest, FixedPointThreeDecimals) {
  const struct { float v; const char* text; } cases[] = {
      {0.95f, "0.950"}, {1.0f, "1.000"}, {0.0005f, "0.001"}, {12.3456f, "12.346"},
      {0.0625f, "0.062"}, {0.1875f, "0.188"}, {0.9996f, "1.000"}, {-0.0f, "-0.000"},
      {-0.0004f, "-0.000"}, {-2.5f, "-2.500"}, {0.0f, "0.000"}, {1e-45f, "0.000"},
      {0.0015f, "0.002"}, {0.0025f, "0.002"}, {1.0625f, "1.062"}, {16777216.0f, "16777216.000"},
      {std::numeric_limits<float>::max(), "340282346638528859811704183484516925440.000"},
      {std::numeric_limits<float>::quiet_NaN(), "NaN"}, {-std::numeric_limits<float>::quiet_NaN(), "NaN"},
      {std::numeric_limits<float>::infinity(), "inf"}, {-std::numeric_limits<float>::infinity(), "-inf"}};
  for (const auto& c : cases) EXPECT_EQ(text::fixed_point(c.v, 3), c.text) << c.v;
  EXPECT_EQ(text::fixed_point(2.5, 0), "2");
  EXPECT_EQ(text::fixed_point(-std::numeric_limits<double>::max(), 0).size(), 310u);
}

}  // namespace
}  // namespace kelo_core::data
