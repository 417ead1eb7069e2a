#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "graph/contract.h"

namespace kelo_core::graph {
namespace {

using data::CoordinateSpaceVariant;
using data::DType;
using data::PixelFormatVariant;
using Shape = std::vector<std::uint64_t>;

const ContractSpec kAny;

// The Python tests check summaries against a model whose fields are always set in field order.
TEST(ContractSpecTest, Summaries) {
  const struct { ContractSpec spec; const char* text; } cases[] = {
      {kAny.with_height(480).with_width(640), "w=640,h=480"},  // field order, not call order
      {kAny.with_dtype(DType::BFloat16).with_width(0).with_shape({18446744073709551615u}),
       "w=0,dtype=BFloat16,shape=[18446744073709551615]"},
      {kAny.with_class_ids({4294967295u, 3, 3})
           .with_content_type("t")
           .with_coordinate_space(CoordinateSpaceVariant::Pixel)
           .with_shape({2})
           .with_dtype(DType::Bool)
           .with_height(2)
           .with_width(1)
           .with_pixel_format(PixelFormatVariant::P010),
       "pixel=P010,w=1,h=2,dtype=Bool,shape=[2],coords=Pixel,content=t,classes=[4294967295, 3, 3]"}};
  for (const auto& c : cases) EXPECT_EQ(c.spec.summary(), c.text);
}

// The Python tests check the other forms.
TEST(DataContractTest, NamesAndDisplayForms) {
  const ContractSpec nv12 =
      kAny.with_pixel_format(PixelFormatVariant::NV12).with_width(1920).with_height(1080);
  const struct { DataContract c; const char *name, *text; bool has_spec; } cases[] = {
      {DataContract(), "Frame", "Frame", false},
      {DataContract::batch(kAny.with_width(1)), "Batch", "Batch[w=1]", true},
      {DataContract::custom("a\"b)"), "Custom", "Custom(a\"b))", false},
      {DataContract::custom(""), "Custom", "Custom()", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.c.category_name(), c.name);
    EXPECT_EQ(c.c.str(), c.text);
    EXPECT_EQ(c.c.spec() != nullptr, c.has_spec);
  }
  EXPECT_EQ(*DataContract::frame(nv12).spec(), nv12);
  EXPECT_EQ(DataContract::custom("x").tag(), "x");
  EXPECT_EQ(DataContract::frame().tag(), "");
}

TEST(DataContractTest, Compatibility) {
  using C = DataContract;
  const ContractSpec w1 = kAny.with_width(1), w2 = kAny.with_width(2);
  const struct { C a, b; bool forward, backward; } rows[] = {
      {C::frame(), C::frame(w1), true, true}, {C::frame(), C::frame(), true, true},
      {C::frame(w1), C::frame(w2), false, false}, {C::frame(w1), C::frame(w1), true, true},
      {C::frame(), C::tensor(), false, false}, {C::frame(w1), C::tensor(w1), false, false},
      {C::event(), C::event(), true, true}, {C::batch(), C::batch(), true, true},
      {C::event(w1), C::event(w2), false, false}, {C::batch(w1), C::batch(), true, true},
      {C::custom("x"), C::custom("x"), true, true}, {C::custom("x"), C::custom("X"), false, false},
      {C::custom("Frame"), C::frame(), false, false}, {C::custom(""), C::custom(""), true, true},
      {C::metadata_content("detections"), C::metadata(), true, true},
      {C::metadata_content("detections"), C::metadata_content("detections"), true, true},
      {C::metadata_content("detections"), C::metadata_content("tracks"), false, false},
      {C::tensor(kAny.with_class_ids({1})), C::tensor(kAny.with_class_ids({1, 2})), true, false}};
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(rows[i].a.is_compatible_with(rows[i].b), rows[i].forward) << "row " << i;
    EXPECT_EQ(rows[i].b.is_compatible_with(rows[i].a), rows[i].backward) << "row " << i;
  }
}

TEST(DataContractTest, CopiesAreCheapAndEqual) {
  DataContract a = DataContract::frame(kAny.with_shape(Shape(64, 7)));
  DataContract b = a;
  EXPECT_EQ(a.spec(), b.spec());  // shared, immutable
  EXPECT_EQ(a, DataContract::frame(kAny.with_shape(Shape(64, 7))));
  for (const DataContract& other : {DataContract::tensor(kAny.with_shape(Shape(64, 7))),
                                    DataContract::frame(), DataContract::custom("a")}) {
    EXPECT_NE(a, other) << other.str();
  }
  EXPECT_NE(DataContract::frame(kAny), DataContract::frame());
  EXPECT_NE(DataContract::custom("a"), DataContract::custom("b"));
  EXPECT_LE(sizeof(DataContract), sizeof(void*) + 8);
}

}  // namespace
}  // namespace kelo_core::graph
