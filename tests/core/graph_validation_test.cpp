#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include "graph/graph.h"
#include "graph/validation.h"

namespace kelo_core::graph {
namespace {

using namespace validation;

// Ids that differ only in their last bytes: not random, so the tables' hashing has to use every byte.
template <class Id>
Id seq(std::uint64_t n, std::uint8_t tag = 0) {
  Id id{};
  id.uuid.bytes[0] = tag;
  for (int i = 0; i < 8; ++i) id.uuid.bytes[15 - i] = std::uint8_t(n >> (8 * i));
  return id;
}

Port port(std::uint64_t n, PortDirection d, DataContract c = DataContract::frame()) {
  return Port{seq<PortId>(n, 0xAA), "p", d, std::move(c)};
}

Element element(std::uint64_t n, std::string name = "e") {
  return Element::make(seq<ElementId>(n, 0xEE), {"kelo.test"}, std::move(name), ElementKind::Operator);
}

// Element n has input port 2n and output port 2n + 1.
Element node(std::uint64_t n) {
  return element(n).with_input(port(2 * n, PortDirection::Input))
      .with_output(port(2 * n + 1, PortDirection::Output));
}

PortId in(std::uint64_t n) { return seq<PortId>(2 * n, 0xAA); }
PortId out(std::uint64_t n) { return seq<PortId>(2 * n + 1, 0xAA); }

std::vector<std::string> kinds(const ValidationReport& r) {
  std::vector<std::string> out;
  for (const auto& e : r.errors) out.emplace_back(e.kind_name());
  return out;
}

using Kinds = std::vector<std::string>;

const PortId kA = *PortId::parse("00000000-0000-0000-0000-00000000000a");
const PortId kB = *PortId::parse("00000000-0000-0000-0000-00000000000b");

// Edges, graphs and the shared builder are checked through the Python tests.
TEST(GraphTest, EdgeCopiesBuildersAndLongChains) {
  // A plain edge is two ids and a word; a port's direction shares its contract's padding.
  static_assert(sizeof(Edge) == 48 && sizeof(Port) == 64);
  // Copies own their names.
  const Edge plain = Edge::plain(kA, kB), dyn = *Edge::dynamic_output("det", "objects", kB);
  Edge assigned = plain, copy = dyn;
  assigned = copy;
  copy = plain;
  EXPECT_EQ(copy, plain);
  EXPECT_EQ(std::move(assigned).with_late_binding(), dyn);

  Graph g = GraphBuilder().add_element(element(1, "first")).add_element(element(1, "second"))
                .connect(out(0), in(1)).connect_late(out(1), in(0)).build();
  EXPECT_EQ(g.find_element(seq<ElementId>(1)), std::nullopt);
  EXPECT_EQ(g.find_element(element(1).id)->name, "first");
  EXPECT_EQ(g.edges(), (std::vector<Edge>{Edge::plain(out(0), in(1)), Edge::late(out(1), in(0))}));
  auto late = GraphBuilder().connect_dynamic("src", "pad", kB);
  ASSERT_TRUE(late.ok());
  EXPECT_EQ(std::move(*late).build().edges()[0].source_element(), "src");

  // Shared steps keep their common prefix; long chains build and release without recursion.
  const SharedGraphBuilder a = SharedGraphBuilder().add_element(node(0)).add_element(node(1));
  { const SharedGraphBuilder dropped = a.add_element(node(3)); }  // releases none of a's steps
  EXPECT_EQ(a.build().elements(), (std::vector<Element>{node(0), node(1)}));
  constexpr std::size_t n = 1'000'000;
  auto chain = std::make_unique<SharedGraphBuilder>();
  for (std::size_t i = 0; i < n; ++i)
    *chain = chain->add_edge(Edge::plain(seq<PortId>(i), seq<PortId>(i + 1)));
  SharedGraphBuilder branch = chain->add_edge(Edge::plain(kA, kB));
  EXPECT_EQ(chain->build().edges()[n - 1].target, seq<PortId>(n));
  chain.reset();  // the branch still holds the whole chain
  EXPECT_EQ(branch.build().num_edges(), n + 1);
}

// The Python tests check every other message and kind name; validation never reports this one.
TEST(ValidationTest, PortNotOwnedByElement) {
  const GraphValidationError error = PortNotOwnedByElement{kA};
  EXPECT_EQ(error.kind(), 2u);
  EXPECT_EQ(error.kind_name(), "PortNotOwnedByElement");
  EXPECT_EQ(error.message(),
            "port 00000000-0000-0000-0000-00000000000a does not belong to any element");
}

// The order of findings (duplicates in visiting order, the later port winning, edge findings in edge order,
// one cycle report last) is checked against a reference model on random graphs by the Python tests.

// The id table grows as ports are added: entries made before a growth keep their answers after
// it, and a later port with an id takes it over.
TEST(ValidationTest, ManyPortsAnElement) {
  Graph g;
  Element wide = element(0);
  for (std::uint64_t i = 0; i < 400; ++i)
    wide = std::move(wide).with_input(port(1000 + i, PortDirection::Input));
  for (std::uint64_t i = 0; i < 400; ++i)
    wide = std::move(wide).with_output(port(2000 + i, PortDirection::Output));
  wide = std::move(wide).with_output(port(1005, PortDirection::Output));  // an early input's id
  g.add_element(wide);
  g.add_element(element(1).with_input(port(3000, PortDirection::Input)));
  auto p = [](std::uint64_t n) { return seq<PortId>(n, 0xAA); };
  g.add_edge(Edge::plain(p(2399), p(3000)));
  g.add_edge(Edge::plain(p(1005), p(3000)));  // now an output
  g.add_edge(Edge::plain(p(1000), p(3000)));  // still an input
  g.add_edge(Edge::plain(p(2000), p(1399)));  // into its own element
  ValidationReport r = validate(g);
  EXPECT_EQ(kinds(r), (Kinds{"DuplicatePortId", "InvalidPortDirection", "CycleDetected"}));
  EXPECT_EQ(r.errors[0].message(), "duplicate port id " + p(1005).str());
  EXPECT_EQ(r.errors[1].message(), "edge " + p(1000).str() + " -> " + p(3000).str() +
                                     " has invalid direction Input -> Input (expected Output -> Input)");
}

// Long class-id lists, directly and in validation, which sorts a target's list once and keeps the
// answer per pair of constraints (the second edge of each pair is answered from it). The rule is
// checked against a model on short lists by the Python tests.
TEST(ValidationTest, ClassIdSubsetOnLongLists) {
  using Ids = std::vector<std::uint32_t>;
  Ids wide, even;
  for (std::uint32_t i = 0; i < 200; ++i) wide.push_back(199 - i);
  for (std::uint32_t i = 0; i < 100; ++i) even.push_back(i * 2);
  Ids beyond = even;
  beyond.push_back(200);
  const struct { Ids producer, consumer; bool fits; } cases[] = {
      {even, wide, true}, {wide, even, false}, {beyond, wide, false}, {{4, 2}, wide, true},
      {{4, 200}, wide, false}};
  const auto contract = [](Ids ids) {
    return DataContract::tensor(ContractSpec().with_class_ids(std::move(ids)));
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.producer));
    EXPECT_EQ(contract(c.producer).is_compatible_with(contract(c.consumer)), c.fits);
    Graph g;
    g.add_element(element(0).with_output(port(1, PortDirection::Output, contract(c.producer))));
    g.add_element(element(1).with_input(port(2, PortDirection::Input, contract(c.consumer))));
    for (int i = 0; i < 2; ++i) g.add_edge(Edge::plain(out(0), in(1)));
    EXPECT_EQ(kinds(validate(g)), c.fits ? Kinds{} : Kinds(2, "ContractMismatch"));
  }
}

// Deep paths: the search keeps its path on the heap.
TEST(ValidationTest, MillionElementChainAndRing) {
  constexpr std::uint64_t n = 1'000'000;
  Graph g;
  g.reserve(n, n + 1);
  for (std::uint64_t i = 0; i < n; ++i) g.add_element(node(i));
  for (std::uint64_t i = 0; i + 1 < n; ++i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  EXPECT_TRUE(validate(g).is_valid());
  g.add_edge(Edge::late(out(n - 1), in(0)));  // a late edge between existing ports counts
  ValidationReport r = validate(g);
  ASSERT_EQ(kinds(r), Kinds{"CycleDetected"});
  EXPECT_EQ(std::get<CycleDetected>(r.errors[0].payload()).elements.size(), n);
}

// Every finding's indexes: the elements it concerns in graph order (elements sharing an id are the first of
// them), its edges; a cycle's elements in path order and its edges around it, the search's own.
TEST(ValidationTest, FindingsCarryTheirIndexes) {
  using Idx = std::vector<std::uint32_t>;
  struct Case {
    const char* what;
    Graph graph;
    std::vector<std::tuple<std::string, Idx, Idx>> errors;  // kind, elements, edges
    std::vector<std::pair<Idx, Idx>> warnings;
  };
  auto make = [](std::vector<Element> elements, std::vector<Edge> edges) {
    Graph g;
    for (auto& e : elements) g.add_element(std::move(e));
    for (auto& e : edges) g.add_edge(std::move(e));
    return g;
  };
  const PortId gone = seq<PortId>(9999);
  const std::vector<Case> cases = {
      {"repeated element id", make({node(0), node(1), element(0)}, {}),
       {{"DuplicateElementId", {0, 2}, {}}}, {}},
      {"repeated port id, in another element and in its own",
       make({node(0), node(1), element(2).with_output(port(3, PortDirection::Output))
                                   .with_input(port(4, PortDirection::Input))
                                   .with_output(port(4, PortDirection::Output))},
            {}),
       {{"DuplicatePortId", {1, 2}, {}}, {"DuplicatePortId", {2}, {}}}, {}},
      {"edge findings in edge order",
       make({node(0), node(1), node(2)},
            {Edge::plain(out(0), in(1)), Edge::plain(in(2), in(0)), Edge::plain(gone, in(1)),
             Edge::plain(out(2), gone), Edge::late(gone, in(2)), Edge::late(gone, gone)}),
       {{"InvalidPortDirection", {0, 2}, {1}},
        {"EdgeReferencesMissingPort", {1}, {2}},
        {"EdgeReferencesMissingPort", {2}, {3}},
        {"EdgeReferencesMissingPort", {}, {5}}},
       {{{2}, {4}}, {{}, {5}}}},
      {"contract mismatch within one element",
       make({element(0).with_input(port(0, PortDirection::Input, DataContract::tensor()))
                 .with_output(port(1, PortDirection::Output))},
            {Edge::plain(out(0), in(0))}),
       {{"ContractMismatch", {0}, {0}}, {"CycleDetected", {0}, {0}}}, {}},
      {"cycle: path order from where it closed, the first edge of each step",
       make({node(0), node(1), node(2), node(3)},
            {Edge::plain(out(1), in(2)), Edge::plain(out(3), in(0)), Edge::plain(out(0), in(1)),
             Edge::plain(out(2), in(0)), Edge::plain(out(0), in(1))}),
       {{"CycleDetected", {0, 1, 2}, {2, 0, 3}}}, {}},
      {"cycle with a tail into it", make({node(0), node(1), node(2), node(3)},
           {Edge::plain(out(0), in(1)), Edge::plain(out(1), in(2)), Edge::plain(out(2), in(3)),
            Edge::plain(out(3), in(1))}),
       {{"CycleDetected", {1, 2, 3}, {1, 2, 3}}}, {}},
      {"cycle through a repeated element id",
       make({node(0), node(1), element(1).with_input(port(50, PortDirection::Input))},
            {Edge::plain(out(0), in(1)), Edge::plain(out(1), seq<PortId>(50, 0xAA)),
             Edge::plain(out(1), in(0))}),
       {{"DuplicateElementId", {1, 2}, {}}, {"CycleDetected", {1}, {1}}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ValidationReport r = validate(c.graph);
    std::vector<std::tuple<std::string, Idx, Idx>> errors;
    for (const auto& e : r.errors) {
      errors.emplace_back(e.kind_name(), e.indexes().elements, e.indexes().edges);
      if (const auto* cycle = std::get_if<CycleDetected>(&e.payload())) {
        std::vector<ElementId> ids;  // the cycle names its elements, in the same order
        for (std::uint32_t i : e.indexes().elements) ids.push_back(c.graph.elements()[i].id);
        EXPECT_EQ(cycle->elements, ids);
      }
    }
    EXPECT_EQ(errors, c.errors);
    std::vector<std::pair<Idx, Idx>> warnings;
    for (const auto& w : r.warnings) {
      EXPECT_EQ(w.kind_name(), "UnresolvedLateBinding");
      warnings.emplace_back(w.indexes().elements, w.indexes().edges);
    }
    EXPECT_EQ(warnings, c.warnings);
  }
}

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
  EXPECT_EQ(std::pair(c.empty(), Config().empty()), std::pair(false, true));
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
}

}  // namespace
}  // namespace kelo_core::graph
