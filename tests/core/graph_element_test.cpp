#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "graph/element.h"

namespace kelo_core::graph {
namespace {

// The Python tests check order and replacement against a dict; these add the byte order past
// the Basic Multilingual Plane and keys holding a NUL.
TEST(ConfigTest, ByteWiseKeyOrderAndReplacement) {
  Config c;
  // U+10000 (4 UTF-8 bytes) sorts after U+FFFF (3 bytes), unlike UTF-16 code units.
  for (const char* k : {"b", "\xf0\x90\x80\x80", "B", "\xef\xbf\xbf", "ba", "\xee\x80\x80", ""})
    c.set(k, std::string("v") + k);
  c.set("b", "second");
  EXPECT_EQ(c.keys(), (std::vector<std::string>{"", "B", "b", "ba", "\xee\x80\x80", "\xef\xbf\xbf",
                                                "\xf0\x90\x80\x80"}));
  EXPECT_EQ(c.get("b"), "second");
  EXPECT_EQ(c.get(""), "v");
  EXPECT_EQ(c.get(std::string_view("b\0", 2)), std::nullopt);
  EXPECT_EQ(Config().get(""), std::nullopt);
}

// Builders are checked through the Python tests.
TEST(ElementTest, AllPortsAndConfigReplaced) {
  const Element e = Element::make(*ElementId::fresh(), {"kelo.decode.h264"}, "decoder",
                                  ElementKind::Operator);
  const Port a = *Port::input("a", DataContract::frame());
  const Element with = e.with_output(*Port::output("b", DataContract::tensor())).with_input(a)
                           .with_input(a);
  EXPECT_EQ(with.all_ports(),
            (std::vector<const Port*>{&with.inputs[0], &with.inputs[1], &with.outputs[0]}));

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
