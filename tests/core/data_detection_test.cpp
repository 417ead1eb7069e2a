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

TEST(AttributeValueTest, KindsAndAccessors) {
  const AttributeValue values[] = {{true}, {std::int64_t{-5}}, {2.5}, {std::string("x")},
                                   {*Tensor::make(DType::Bool, {2})}, {Timestamp::from_nanos(7)},
                                   {Duration::from_nanos(1500000000)}};
  for (std::size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(values[i].kind_index(), i);
    EXPECT_EQ(values[i].kind(), AttributeValue::kKindNames[i]);
  }
  EXPECT_EQ(values[1].as<std::int64_t>(), -5);
  EXPECT_FALSE(values[1].as<double>().has_value());
  EXPECT_FALSE(values[1].as<bool>().has_value());
  EXPECT_FALSE(values[0].as<std::int64_t>().has_value());
  auto d = values[6].as<Duration>();
  ASSERT_TRUE(d.has_value());
  EXPECT_EQ(d->secs, 1u);
  EXPECT_EQ(d->nanos, 500000000u);
}

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

TEST(ObjectTest, FreshProvenanceCarriedThroughBuilders) {
  ObjectId id = *ObjectId::fresh();
  auto a = Object::make(id, BoundingBox{1, 2, 3, 4});
  auto b = Object::make(id, BoundingBox{1, 2, 3, 4});
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE(a->provenance().id, b->provenance().id);
  EXPECT_EQ(a->provenance().id.bytes[6] >> 4, 4);
  EXPECT_TRUE(a->provenance().references.empty());
  EXPECT_FALSE(a->provenance().model.has_value());
  EXPECT_EQ(a->provenance().timestamp, Timestamp{});
  a->related_mut().push_back(*Uuid::v4());
  a->provenance_mut().references.push_back({*Uuid::v4(), 3});
  const Object built = a->with_class_id(*ClassId::fresh())
                           .with_label("person")
                           .with_confidence(std::numeric_limits<float>::quiet_NaN())
                           .with_attribute("k", {true});
  EXPECT_EQ(built.provenance(), a->provenance());
  EXPECT_EQ(built.related(), a->related());
  EXPECT_TRUE(std::isnan(*built.confidence));
  EXPECT_EQ(built.attributes.size(), 1u);
  EXPECT_TRUE(a->attributes.empty());
  EXPECT_FALSE(a->label.has_value());
}

// Copies share storage until one changes: the change reaches no other copy.
TEST(ObjectTest, CopiesChangeIndependently) {
  Attributes a;
  a.insert("m", {std::int64_t{1}});
  Attributes b = a, c = a;
  b.insert("a", {std::string("x")});  // before, in a shared block
  c.insert("m", {2.5});               // replacing, in a shared block
  EXPECT_EQ(a.keys(), std::vector<std::string>{"m"});
  EXPECT_EQ(a.get("m")->as<std::int64_t>(), 1);
  EXPECT_EQ(b.keys(), (std::vector<std::string>{"a", "m"}));
  EXPECT_EQ(c.get("m")->as<double>(), 2.5);

  const BoundingBox box{1, 2, 3, 4, CoordinateSpace::of(CoordinateSpaceVariant::World)};
  Object o = *Object::make({}, box);
  EXPECT_EQ(o.bbox(), box);
  Object p = o;
  p.related_mut().push_back({});
  p.provenance_mut().model = ModelReference{"m", std::nullopt};
  EXPECT_TRUE(o.related().empty());
  EXPECT_FALSE(o.provenance().model.has_value());
  EXPECT_EQ(p.provenance().id, o.provenance().id);
  EXPECT_EQ(p.bbox(), box);
  EXPECT_NE(p, o);
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
