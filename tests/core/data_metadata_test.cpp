#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "data/attribute.h"
#include "data/classification.h"
#include "data/detection.h"
#include "data/metadata.h"
#include "support/text.h"

namespace kelo_core::data {
namespace {

template <class T>
T ok(Result<T> r) {
  EXPECT_TRUE(r.ok());
  return std::move(r).value();
}

Timestamp at(std::uint64_t ns) { return Timestamp::from_nanos(ns); }

// Fields are checked through the Python tests; the provenance record is not exposed there.
TEST(TrackAndEventTest, MakeStampsAFreshProvenance) {
  const TrackId id = ok(TrackId::fresh());
  const Timestamp first = at(20).with_dts(3), last = at(10);
  const Track t = ok(Track::make(id, 10, 5, first, last, TrackState::Lost));  // no ordering checks
  const Track u = ok(Track::make(id, 10, 5, first, last, TrackState::Lost));
  const Provenance fresh{{}, std::nullopt, first, t.provenance.id};
  EXPECT_EQ(t, (Track{id, 10, 5, first, last, TrackState::Lost, fresh}));
  EXPECT_NE(t.provenance.id, u.provenance.id);
  EXPECT_EQ(t.provenance.id.bytes[6] >> 4, 4);  // version 4

  const StreamId stream = ok(StreamId::fresh());
  const Event e = ok(Event::make(stream, at(7), {"a", "enter"}));
  const Event f = ok(Event::make(stream, at(7), {"a", "enter"}));
  const Provenance stamped{{}, std::nullopt, at(7), e.provenance.id};
  EXPECT_EQ(e, (Event{e.id, stream, at(7), {"a", "enter"}, {}, {}, stamped}));
  EXPECT_NE(e.id, f.id);
  EXPECT_NE(e.provenance.id, f.provenance.id);
  EXPECT_NE(e.provenance.id, e.id.uuid);
}

// One entry for each of the eleven lists.
using Adder = std::function<void(Metadata&)>;
std::vector<std::pair<const char*, Adder>> adders() {
  const Provenance p = ok(Provenance::fresh(at(1)));
  const EntityReference ref{ok(Uuid::v4()), 2};
  return {
      {"objects", [](Metadata& m) { m.objects.push_back(ok(Object::make({}, {}))); }},
      {"segments", [p](Metadata& m) {
         m.segments.push_back({{}, {}, {}, 0.5f, PolygonRegion{{}, {{1, 2}}, {{{3, 4}}}}, p});
       }},
      {"tracks",
       [](Metadata& m) { m.tracks.push_back(ok(Track::make({}, 0, 0, {}, {}, TrackState::Tentative))); }},
      {"classifications", [](Metadata& m) { m.classifications.push_back({{}, 0.9f, "cat"}); }},
      {"poses", [](Metadata& m) { m.poses.emplace_back(); }},
      {"spatial_poses",
       [p](Metadata& m) { m.spatial_poses.push_back({{}, {}, CoordinateSpace{}, 0.75f, p}); }},
      {"frame_transforms", [](Metadata& m) { m.frame_transforms.emplace_back(); }},
      {"embeddings",
       [](Metadata& m) { m.embeddings.push_back({ok(Tensor::make(DType::Float32, {128})), "face", {}}); }},
      {"events", [](Metadata& m) { m.events.push_back(ok(Event::make({}, {}, EventType::kelo("x")))); }},
      {"relations", [p, ref](Metadata& m) { m.relations.push_back({{"a", "rides"}, p, 0.25f, ref, ref}); }},
      {"extensions", [](Metadata& m) { m.extensions.push_back({"acme/plates", "application/json", "{}"}); }}};
}

TEST(MetadataTest, EmptyExactlyWhenAllElevenListsAre) {
  EXPECT_TRUE(Metadata{}.is_empty());
  const auto all = adders();
  ASSERT_EQ(all.size(), 11u);
  for (const auto& [list, add] : all) {
    Metadata m;
    add(m);
    EXPECT_FALSE(m.is_empty()) << list;
    EXPECT_NE(m, Metadata{}) << list;
  }
}

TEST(MetadataTest, CopiesOwnTheirEntriesAndNestedPayloads) {
  Metadata inner;
  for (const auto& [list, add] : adders()) add(inner);
  Event e = ok(Event::make({}, at(5), {"a", "b"}));
  e.payload = inner;
  Metadata outer;
  outer.events.push_back(e);
  outer.events.push_back(std::move(e));

  Metadata copy = outer;
  EXPECT_EQ(copy, outer);
  copy.events[0].payload.objects[0].label = "changed";
  copy.events[1].payload.extensions.clear();
  copy.events[1].payload.segments[0].geometry = MaskRegion{{}, 2, 2, {1, 3}};
  EXPECT_NE(copy, outer);
  EXPECT_EQ(outer.events[0].payload, inner);
  EXPECT_EQ(outer.events[1].payload, inner);
  EXPECT_FALSE(inner.objects[0].label.has_value());
}

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
  EXPECT_EQ(a.get("a")->as<std::int64_t>(), 1);
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
