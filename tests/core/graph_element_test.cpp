#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "graph/element.h"

namespace kelo_core::graph {
namespace {

TEST(ConfigTest, ByteWiseKeyOrderAndReplacement) {
  Config c;
  // U+10000 (4 UTF-8 bytes) sorts after U+FFFF (3 bytes), unlike UTF-16 code units; ASCII upper case before
  // lower case; a prefix first.
  for (const char* k :
       {"b", "\xf0\x90\x80\x80", "B", "\xef\xbf\xbf", "ba", "a", "\xee\x80\x80", ""})
    c.set(k, std::string("v") + k);
  c.set("b", "second");
  EXPECT_EQ(c.size(), 8u);
  EXPECT_EQ(c.keys(), (std::vector<std::string>{"", "B", "a", "b", "ba", "\xee\x80\x80",
                                                "\xef\xbf\xbf", "\xf0\x90\x80\x80"}));
  EXPECT_EQ(c.get("b"), "second");
  EXPECT_EQ(c.get(""), "v");
  EXPECT_EQ(c.get("A"), std::nullopt);
  EXPECT_EQ(c.get(std::string_view("b\0", 2)), std::nullopt);
  EXPECT_EQ(Config().get(""), std::nullopt);
}

TEST(PortTest, FreshIdsAndDirections) {
  auto in = Port::input("frames", DataContract::frame());
  auto out = Port::output("frames", DataContract::frame());
  ASSERT_TRUE(in.ok() && out.ok());
  EXPECT_EQ(in->direction, PortDirection::Input);
  EXPECT_EQ(out->direction, PortDirection::Output);
  EXPECT_NE(in->id, out->id);
  EXPECT_EQ(in->name, "frames");
}

TEST(ElementTest, BuildersAndAllPorts) {
  auto id = ElementId::fresh();
  ASSERT_TRUE(id.ok());
  const Element e = Element::make(*id, {"kelo.decode.h264"}, "decoder", ElementKind::Operator);
  Port a = *Port::input("a", DataContract::frame());
  Port b = *Port::output("b", DataContract::tensor());
  Element with = e.with_output(b).with_input(a).with_input(a);
  EXPECT_TRUE(e.inputs.empty() && e.outputs.empty() && e.config.empty());
  ASSERT_EQ(with.inputs.size(), 2u);
  std::vector<const Port*> all = with.all_ports();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0], &with.inputs[0]);
  EXPECT_EQ(all[1], &with.inputs[1]);
  EXPECT_EQ(all[2], &with.outputs[0]);

  Config first, second;
  first.set("x", "1");
  second.set("y", "2");
  Element configured = e.with_config(first).with_config(second);
  EXPECT_EQ(configured.config.keys(), std::vector<std::string>{"y"});  // replaced, not merged
  EXPECT_NE(configured, e);
  EXPECT_EQ(Element(e).with_config(Config()), e);
}

}  // namespace
}  // namespace kelo_core::graph
