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

TEST(GraphTest, EdgesElementsAndBuilders) {
  // A plain edge is two ids and a word; a port's direction shares its contract's padding.
  static_assert(sizeof(Edge) == 48 && sizeof(Port) == 64);
  Edge plain = Edge::plain(kA, kB);
  EXPECT_EQ(plain.source_element(), std::nullopt);
  EXPECT_EQ(plain.with_late_binding(), Edge::late(kA, kB));
  EXPECT_FALSE(plain.late_binding());
  Edge dyn = *Edge::dynamic_output("det", "objects", kB);
  EXPECT_NE(dyn.source, Edge::dynamic_output("det", "objects", kB)->source);
  EXPECT_TRUE(dyn.late_binding());
  // Copies own their names.
  Edge assigned = plain, copy = dyn;
  assigned = copy;
  copy = plain;
  EXPECT_EQ(copy, plain);
  EXPECT_EQ(std::move(assigned).with_late_binding(), dyn);
  EXPECT_EQ(dyn.source_pad(), "objects");

  Graph g = GraphBuilder().add_element(element(1, "first")).add_element(element(1, "second"))
                .connect(out(0), in(1)).connect_late(out(1), in(0)).build();
  EXPECT_EQ(g.find_element(seq<ElementId>(1)), std::nullopt);
  EXPECT_EQ(g.find_element(element(1).id)->name, "first");
  ASSERT_EQ(g.num_edges(), 2u);
  EXPECT_TRUE(g.edges()[1].late_binding());
  auto late = GraphBuilder().connect_dynamic("src", "pad", kB);
  ASSERT_TRUE(late.ok());
  EXPECT_EQ(std::move(*late).build().edges()[0].source_element(), "src");

  // Shared steps keep their common prefix; long chains build and release without recursion.
  const SharedGraphBuilder one = SharedGraphBuilder().add_element(node(0));
  const SharedGraphBuilder a = one.add_edge(Edge::plain(out(0), in(1))).add_element(node(1));
  EXPECT_EQ(one.add_element(node(2)).build().elements(), (std::vector<Element>{node(0), node(2)}));
  EXPECT_EQ(a.build().elements(), (std::vector<Element>{node(0), node(1)}));
  EXPECT_EQ(a.build().edges(), std::vector<Edge>{Edge::plain(out(0), in(1))});
  { const SharedGraphBuilder dropped = a.add_element(node(3)); }  // releases none of a's steps
  EXPECT_EQ(a.build().elements(), (std::vector<Element>{node(0), node(1)}));
  EXPECT_EQ(a.build().num_edges(), 1u);
  EXPECT_EQ(a.num_elements() * 10 + a.num_edges(), 21u);  // two elements, one edge
  constexpr std::size_t n = 1'000'000;
  auto chain = std::make_unique<SharedGraphBuilder>();
  for (std::size_t i = 0; i < n; ++i)
    *chain = chain->add_edge(Edge::plain(seq<PortId>(i), seq<PortId>(i + 1)));
  SharedGraphBuilder branch = chain->add_edge(Edge::plain(kA, kB));
  EXPECT_EQ(chain->build().edges()[n - 1].target, seq<PortId>(n));
  chain.reset();  // the branch still holds the whole chain
  EXPECT_EQ(branch.build().num_edges(), n + 1);
}

TEST(ValidationTest, KindNamesAndMessages) {
  const ElementId e = *ElementId::parse("00000000-0000-0000-0000-0000000000ee");
  const std::string a = "00000000-0000-0000-0000-00000000000a", b = "00000000-0000-0000-0000-00000000000b";
  const std::vector<std::tuple<GraphValidationError, std::string, std::string>> cases = {
      {EdgeReferencesMissingPort{kA}, "EdgeReferencesMissingPort", "edge references missing port " + a},
      {InvalidPortDirection{kA, kB, PortDirection::Input, PortDirection::Output}, "InvalidPortDirection",
       "edge " + a + " -> " + b + " has invalid direction Input -> Output (expected Output -> Input)"},
      {PortNotOwnedByElement{kA}, "PortNotOwnedByElement", "port " + a + " does not belong to any element"},
      {DuplicateElementId{e}, "DuplicateElementId",
       "duplicate element id 00000000-0000-0000-0000-0000000000ee"},
      {DuplicatePortId{kB}, "DuplicatePortId", "duplicate port id " + b},
      {ContractMismatch{kA, kB, "Frame", "Custom(x)"}, "ContractMismatch",
       "contract mismatch on edge " + a + " -> " + b + ": Frame vs Custom(x)"},
      {CycleDetected{}, "CycleDetected", "cycle detected in graph"},
      {DynamicSourceElementNotFound{"d\"e\n", kA, kB}, "DynamicSourceElementNotFound",
       "dynamic source element \"d\\\"e\\n\" not found (edge " + a + " -> " + b + ")"}};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto& [error, name, message] = cases[i];
    EXPECT_EQ(error.kind(), i);
    EXPECT_EQ(error.kind_name(), name);
    EXPECT_EQ(error.message(), message);
  }
  EXPECT_EQ(deferred_warning(kA, kB), "late-binding edge PortId(" + a + ") \xe2\x86\x92 PortId(" +
                                          b + "): source port not yet materialized (deferred)");
}

// The order of findings (duplicates in visiting order, the later port winning, edge findings in edge order,
// one cycle report last) is checked against a reference model on random graphs by the Python tests.

// The port index is sized for two ports an element and grows past that: entries made before the growth keep
// their answers after it.
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

// The edge pass guesses each end from the edge before (the next port in insertion order, on a chain):
// whatever it guesses, every end resolves to the last port with its id, missing ports stay missing, and an
// end out of the expected order is still found.
TEST(ValidationTest, EdgesOutOfTheirPortsOrder) {
  Graph g;
  for (std::uint64_t i = 0; i < 50; ++i) g.add_element(node(i));
  // Element 50 takes over out(10), and closes 50 -> 11 -> 12 -> 50.
  g.add_element(element(50).with_input(port(5000, PortDirection::Input))
                    .with_output(port(21, PortDirection::Output)));
  const PortId gone = seq<PortId>(9999);
  for (std::uint64_t i = 0; i < 20; ++i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  g.add_edge(Edge::plain(out(20), gone));
  for (std::uint64_t i = 21; i < 30; ++i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  g.add_edge(Edge::plain(in(30), in(31)));
  for (std::uint64_t i = 31; i < 40; ++i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  for (std::uint64_t i = 48; i >= 40; --i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  g.add_edge(Edge::plain(gone, in(3)));
  g.add_edge(Edge::plain(out(12), seq<PortId>(5000, 0xAA)));
  ValidationReport r = validate(g);
  EXPECT_EQ(kinds(r), (Kinds{"DuplicatePortId", "EdgeReferencesMissingPort", "InvalidPortDirection",
                             "EdgeReferencesMissingPort", "CycleDetected"}));
  EXPECT_EQ(r.errors[0].message(), "duplicate port id " + out(10).str());
  EXPECT_EQ(r.errors[2].message(), "edge " + in(30).str() + " -> " + in(31).str() +
                                     " has invalid direction Input -> Input (expected Output -> Input)");
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

// The cycle error names the elements on the cycle the search closed, from the one the closing edge enters; a
// tail leading into it is not part of it, and elements sharing an id are one node.
TEST(ValidationTest, CycleNamesItsElements) {
  Graph g;
  for (std::uint64_t i = 0; i < 5; ++i) g.add_element(node(i));
  g.add_element(element(4).with_input(port(100, PortDirection::Input)));
  for (auto [a, b] : {std::pair{0, 1}, {1, 2}, {2, 3}, {3, 4}}) g.add_edge(Edge::plain(out(a), in(b)));
  g.add_edge(Edge::plain(out(4), seq<PortId>(100, 0xAA)));  // into the element sharing 4's id
  g.add_edge(Edge::plain(out(3), in(2)));
  const ValidationReport r = validate(g);
  ASSERT_EQ(kinds(r), (Kinds{"DuplicateElementId", "CycleDetected"}));
  const auto& cycle = std::get<CycleDetected>(r.errors[1].payload()).elements;
  const std::vector<ElementId> want = {seq<ElementId>(4, 0xEE)};
  EXPECT_EQ(cycle, want);  // 4 -> (4 again) closes first, on the way down the chain
  Graph h;
  for (std::uint64_t i = 0; i < 4; ++i) h.add_element(node(i));
  for (auto [a, b] : {std::pair{0, 1}, {1, 2}, {2, 3}, {3, 1}}) h.add_edge(Edge::plain(out(a), in(b)));
  const ValidationReport rh = validate(h);
  const auto& ring = std::get<CycleDetected>(rh.errors[0].payload()).elements;
  EXPECT_EQ(ring, (std::vector<ElementId>{seq<ElementId>(1, 0xEE), seq<ElementId>(2, 0xEE),
                                          seq<ElementId>(3, 0xEE)}));
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
      {"dynamic source element not found",
       make({node(0)}, {*Edge::dynamic_output("nobody", "pad", in(0))}),
       {{"DynamicSourceElementNotFound", {0}, {0}}}, {}},
      {"cycle: path order from where it closed, the first edge of each step",
       make({node(0), node(1), node(2), node(3)},
            {Edge::plain(out(1), in(2)), Edge::plain(out(3), in(0)), Edge::plain(out(0), in(1)),
             Edge::plain(out(2), in(0)), Edge::plain(out(0), in(1))}),
       {{"CycleDetected", {0, 1, 2}, {2, 0, 3}}}, {}},
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
    for (const auto& e : r.errors)
      errors.emplace_back(e.kind_name(), e.indexes().elements, e.indexes().edges);
    EXPECT_EQ(errors, c.errors);
    std::vector<std::pair<Idx, Idx>> warnings;
    for (const auto& w : r.warnings) {
      EXPECT_EQ(w.kind_name(), "UnresolvedLateBinding");
      warnings.emplace_back(w.indexes().elements, w.indexes().edges);
    }
    EXPECT_EQ(warnings, c.warnings);
  }
}

}  // namespace
}  // namespace kelo_core::graph
