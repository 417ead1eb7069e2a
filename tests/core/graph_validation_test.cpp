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

// Ids that differ only in their last bytes: not random, so the tables'
// hashing has to use every byte.
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
  return Element::make(seq<ElementId>(n, 0xEE), {"kelo.test"}, std::move(name),
                       ElementKind::Operator);
}

// Element n has input port 2n and output port 2n + 1.
Element node(std::uint64_t n) {
  return element(n)
      .with_input(port(2 * n, PortDirection::Input))
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

TEST(EdgeTest, MakersAndCopies) {
  // A plain edge is two ids and a word; a port's direction shares its
  // contract's padding.
  static_assert(sizeof(Edge) == 40 && sizeof(Port) == 64);
  Edge plain = Edge::plain(kA, kB);
  EXPECT_FALSE(plain.late_binding());
  EXPECT_EQ(plain.source_element(), std::nullopt);
  EXPECT_EQ(plain.source_pad(), std::nullopt);
  EXPECT_TRUE(plain.with_late_binding().late_binding());
  EXPECT_FALSE(plain.late_binding());
  EXPECT_EQ(plain.with_late_binding(), Edge::late(kA, kB));

  Edge d1 = *Edge::dynamic_output("det", "objects", kB);
  Edge d2 = *Edge::dynamic_output("det", "objects", kB);
  EXPECT_NE(d1.source, d2.source);
  EXPECT_TRUE(d1.late_binding());
  EXPECT_EQ(d1.target, kB);
  EXPECT_EQ(d1.source_element(), "det");
  EXPECT_EQ(d1.source_pad(), "objects");

  // Copies own their names.
  Edge copy = d1;
  Edge assigned = plain;
  assigned = copy;
  copy = plain;
  EXPECT_EQ(copy, plain);
  EXPECT_EQ(assigned, d1);
  EXPECT_EQ(assigned.source_pad(), "objects");
  Edge moved = std::move(assigned);
  EXPECT_EQ(moved, d1);
  moved = moved.with_late_binding();
  EXPECT_EQ(moved, d1);
}

TEST(GraphTest, FindElementAndBuilders) {
  Graph g;
  EXPECT_EQ(g.find_element(seq<ElementId>(1)), nullptr);
  g.add_element(element(1, "first"));
  g.add_element(element(1, "second"));
  ASSERT_NE(g.find_element(element(1).id), nullptr);
  EXPECT_EQ(g.find_element(element(1).id)->name, "first");

  Graph b = GraphBuilder()
                .add_element(node(0))
                .connect(out(0), in(1))
                .connect_late(out(1), in(0))
                .add_edge(Edge::plain(kA, kB))
                .build();
  ASSERT_EQ(b.num_edges(), 3u);
  EXPECT_EQ(b.num_elements(), 1u);
  EXPECT_TRUE(b.edges()[1].late_binding());
  auto dyn = GraphBuilder().connect_dynamic("src", "pad", kB);
  ASSERT_TRUE(dyn.ok());
  EXPECT_EQ(std::move(*dyn).build().edges()[0].source_element(), "src");
}

TEST(SharedGraphBuilderTest, StepsShareTheirPrefix) {
  const SharedGraphBuilder empty;
  const SharedGraphBuilder one = empty.add_element(node(0));
  const SharedGraphBuilder a = one.add_edge(Edge::plain(out(0), in(1))).add_element(node(1));
  const SharedGraphBuilder b = one.add_element(node(2));
  EXPECT_EQ(empty.build().num_elements(), 0u);
  EXPECT_EQ(one.build().num_elements(), 1u);
  Graph ga = a.build();
  ASSERT_EQ(ga.num_elements(), 2u);
  EXPECT_EQ(ga.elements()[1], node(1));
  EXPECT_EQ(ga.edges(), std::vector<Edge>{Edge::plain(out(0), in(1))});
  Graph gb = b.build();
  EXPECT_EQ(gb.elements(), (std::vector<Element>{node(0), node(2)}));
  EXPECT_EQ(gb.num_edges(), 0u);
  EXPECT_EQ(a.build().elements(), ga.elements());
}

TEST(SharedGraphBuilderTest, LongChainsBuildAndReleaseWithoutRecursion) {
  constexpr std::size_t n = 1'000'000;
  auto chain = std::make_unique<SharedGraphBuilder>();
  for (std::size_t i = 0; i < n; ++i)
    *chain = chain->add_edge(Edge::plain(seq<PortId>(i), seq<PortId>(i + 1)));
  SharedGraphBuilder branch = chain->add_edge(Edge::plain(kA, kB));
  Graph g = chain->build();
  ASSERT_EQ(g.num_edges(), n);
  EXPECT_EQ(g.edges()[n - 1].target, seq<PortId>(n));
  chain.reset();  // the branch still holds the whole chain
  EXPECT_EQ(branch.build().num_edges(), n + 1);
}

TEST(ValidationTest, KindNamesAndMessages) {
  const ElementId e = *ElementId::parse("00000000-0000-0000-0000-0000000000ee");
  const std::string a = "00000000-0000-0000-0000-00000000000a";
  const std::string b = "00000000-0000-0000-0000-00000000000b";
  const std::vector<std::pair<GraphValidationError, std::string>> cases = {
      {EdgeReferencesMissingPort{kA}, "edge references missing port " + a},
      {InvalidPortDirection{kA, kB, PortDirection::Input, PortDirection::Output},
       "edge " + a + " -> " + b +
           " has invalid direction Input -> Output (expected Output -> Input)"},
      {PortNotOwnedByElement{kA}, "port " + a + " does not belong to any element"},
      {DuplicateElementId{e}, "duplicate element id 00000000-0000-0000-0000-0000000000ee"},
      {DuplicatePortId{kB}, "duplicate port id " + b},
      {ContractMismatch{kA, kB, "Frame", "Custom(x)"},
       "contract mismatch on edge " + a + " -> " + b + ": Frame vs Custom(x)"},
      {CycleDetected{}, "cycle detected in graph"},
      {DynamicSourceElementNotFound{"d\"e\n", kA, kB},
       "dynamic source element \"d\\\"e\\n\" not found (edge " + a + " -> " + b + ")"},
  };
  const Kinds names = {"EdgeReferencesMissingPort", "InvalidPortDirection", "PortNotOwnedByElement",
                       "DuplicateElementId",        "DuplicatePortId",      "ContractMismatch",
                       "CycleDetected",             "DynamicSourceElementNotFound"};
  for (std::size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].first.kind(), i);
    EXPECT_EQ(cases[i].first.kind_name(), names[i]);
    EXPECT_EQ(cases[i].first.message(), cases[i].second);
  }
  EXPECT_EQ(deferred_warning(kA, kB), "late-binding edge PortId(" + a + ") \xe2\x86\x92 PortId(" +
                                          b + "): source port not yet materialized (deferred)");
}

TEST(ValidationTest, DuplicatesInVisitingOrder) {
  EXPECT_TRUE(validate(Graph()).is_valid());
  Graph g;
  g.add_element(node(0));
  g.add_element(node(0));  // same element id, same two port ids
  // Port 1 (element 0's output) again, as an input of a new element, whose
  // output reuses its own input's id: the later port wins each time.
  g.add_element(element(5)
                    .with_input(port(1, PortDirection::Input))
                    .with_input(port(100, PortDirection::Input))
                    .with_output(port(100, PortDirection::Output)));
  g.add_element(element(6).with_input(port(200, PortDirection::Input)));
  // 1 now resolves to an input (bad source); 100 to an output (good source).
  g.add_edge(Edge::plain(out(0), seq<PortId>(200, 0xAA)));
  g.add_edge(Edge::plain(seq<PortId>(100, 0xAA), seq<PortId>(200, 0xAA)));
  ValidationReport r = validate(g);
  EXPECT_EQ(kinds(r), (Kinds{"DuplicateElementId", "DuplicatePortId", "DuplicatePortId",
                             "DuplicatePortId", "DuplicatePortId", "InvalidPortDirection"}));
  EXPECT_EQ(r.errors[1].message(), "duplicate port id " + in(0).str());
  EXPECT_EQ(r.errors[3].message(), "duplicate port id " + out(0).str());
  EXPECT_EQ(r.errors[5].message(),
            "edge " + out(0).str() + " -> " + seq<PortId>(200, 0xAA).str() +
                " has invalid direction Input -> Input (expected Output -> Input)");
}

TEST(ValidationTest, EdgeFindingsInEdgeOrder) {
  Graph g;
  g.add_element(node(0));
  g.add_element(element(1, "det\"x")
                    .with_input(port(2, PortDirection::Input, DataContract::tensor()))
                    .with_output(port(3, PortDirection::Output)));
  const PortId gone1 = seq<PortId>(1000), gone2 = seq<PortId>(1001);
  g.add_edge(Edge::plain(gone1, gone2));                            // missing, missing
  g.add_edge(Edge::late(gone1, in(0)));                             // warning only
  g.add_edge(Edge::late(gone2, gone1));                             // warning, missing target
  g.add_edge(*Edge::dynamic_output("det\"x", "objects", in(0)));    // found by name
  g.add_edge(*Edge::dynamic_output("det", "objects", gone2));       // not found, missing target
  g.add_edge(Edge::late(out(0), in(1)));                            // exists: contract tested
  g.add_edge(Edge::plain(in(1), out(1)));                           // direction and contract
  g.add_edge(Edge::plain(out(1), out(0)));                          // Output -> Output
  g.add_edge(Edge::plain(out(0), gone1));                           // target missing
  ValidationReport r = validate(g);
  EXPECT_EQ(kinds(r), (Kinds{"EdgeReferencesMissingPort", "EdgeReferencesMissingPort",
                             "EdgeReferencesMissingPort", "DynamicSourceElementNotFound",
                             "EdgeReferencesMissingPort", "ContractMismatch",
                             "InvalidPortDirection", "ContractMismatch", "InvalidPortDirection",
                             "EdgeReferencesMissingPort", "CycleDetected"}));
  EXPECT_EQ(r.errors[0].message(), "edge references missing port " + gone1.str());
  EXPECT_EQ(r.errors[1].message(), "edge references missing port " + gone2.str());
  EXPECT_EQ(r.errors[2].message(), "edge references missing port " + gone1.str());
  EXPECT_EQ(r.errors[3].message().substr(0, 36), "dynamic source element \"det\" not fou");
  EXPECT_EQ(r.errors[5].message(), "contract mismatch on edge " + out(0).str() + " -> " +
                                       in(1).str() + ": Frame vs Tensor");
  EXPECT_EQ(r.errors[6].message(),
            "edge " + in(1).str() + " -> " + out(1).str() +
                " has invalid direction Input -> Output (expected Output -> Input)");
  EXPECT_EQ(r.errors[7].message(), "contract mismatch on edge " + in(1).str() + " -> " +
                                       out(1).str() + ": Tensor vs Frame");
  EXPECT_EQ(r.errors[8].message(),
            "edge " + out(1).str() + " -> " + out(0).str() +
                " has invalid direction Output -> Output (expected Output -> Input)");
  EXPECT_EQ(r.warnings, (std::vector<std::string>{deferred_warning(gone1, in(0)),
                                                  deferred_warning(gone2, gone1)}));
  // Dynamic sources are looked up by name, never by id.
  Graph by_id;
  by_id.add_element(element(7, "other"));
  by_id.add_edge(*Edge::dynamic_output(element(7).id.str(), "p", gone1));
  EXPECT_EQ(kinds(validate(by_id)),
            (Kinds{"DynamicSourceElementNotFound", "EdgeReferencesMissingPort"}));
}

TEST(ValidationTest, CyclesReportedOnceAndLast) {
  Graph two;
  for (std::uint64_t n = 0; n < 4; ++n) two.add_element(node(n));
  two.add_edge(Edge::plain(out(0), in(1)));
  two.add_edge(Edge::plain(out(1), in(0)));
  two.add_edge(Edge::plain(out(2), in(3)));
  two.add_edge(Edge::plain(out(3), in(2)));
  two.add_edge(Edge::plain(out(3), seq<PortId>(99)));
  EXPECT_EQ(kinds(validate(two)), (Kinds{"EdgeReferencesMissingPort", "CycleDetected"}));

  Graph self;
  self.add_element(node(0));
  self.add_edge(Edge::plain(out(0), in(0)));
  EXPECT_EQ(kinds(validate(self)), Kinds{"CycleDetected"});

  // A diamond, entered in both orders, with a dynamic edge (no dependency)
  // and two elements sharing one node: no cycle.
  Graph diamond;
  for (std::uint64_t n = 0; n < 4; ++n) diamond.add_element(node(n));
  for (auto [a, b] : {std::pair{0, 1}, {0, 2}, {1, 3}, {2, 3}, {0, 3}})
    diamond.add_edge(Edge::plain(out(a), in(b)));
  diamond.add_edge(*Edge::dynamic_output("e", "p", in(0)));
  EXPECT_TRUE(validate(diamond).is_valid());
  // Element 4 shares element 3's id, so 3 -> 4 is a self-loop.
  Graph shared = diamond;
  Element twin = node(4);
  twin.id = node(3).id;
  shared.add_element(twin);
  shared.add_edge(Edge::plain(out(3), in(4)));
  EXPECT_EQ(kinds(validate(shared)), (Kinds{"DuplicateElementId", "CycleDetected"}));
}

// The port index is sized for two ports an element and grows past that:
// entries made before the growth keep their answers after it.
TEST(ValidationTest, ManyPortsAnElement) {
  Graph g;
  Element wide = element(0);
  for (std::uint64_t i = 0; i < 400; ++i) {
    wide = std::move(wide).with_input(port(1000 + i, PortDirection::Input));
  }
  for (std::uint64_t i = 0; i < 400; ++i) {
    wide = std::move(wide).with_output(port(2000 + i, PortDirection::Output));
  }
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
  EXPECT_EQ(r.errors[1].message(),
            "edge " + p(1000).str() + " -> " + p(3000).str() +
                " has invalid direction Input -> Input (expected Output -> Input)");
}

// Contracts decided from the index alone (category, no constraints) and
// those that need the contracts themselves.
TEST(ValidationTest, ContractsOnEdges) {
  const DataContract wide = DataContract::frame(ContractSpec().with_width(1920));
  const DataContract narrow = DataContract::frame(ContractSpec().with_width(1080));
  const std::vector<std::tuple<DataContract, DataContract, bool>> cases = {
      {wide, DataContract::frame(), true},
      {DataContract::frame(), narrow, true},
      {wide, wide, true},
      {wide, narrow, false},
      {DataContract::tensor(), DataContract::frame(), false},
      {DataContract::custom("a"), DataContract::custom("a"), true},
      {DataContract::custom("a"), DataContract::custom("b"), false},
      {DataContract::custom(""), DataContract::frame(), false},
  };
  for (const auto& [source, target, fits] : cases) {
    Graph g;
    g.add_element(element(0).with_output(port(1, PortDirection::Output, source)));
    g.add_element(element(1).with_input(port(2, PortDirection::Input, target)));
    g.add_edge(Edge::plain(seq<PortId>(1, 0xAA), seq<PortId>(2, 0xAA)));
    ValidationReport r = validate(g);
    EXPECT_EQ(r.is_valid(), fits) << source.str() << " -> " << target.str();
    if (!fits) {
      ASSERT_EQ(r.errors.size(), 1u);
      EXPECT_EQ(r.errors[0].message(), "contract mismatch on edge " +
                                           seq<PortId>(1, 0xAA).str() + " -> " +
                                           seq<PortId>(2, 0xAA).str() + ": " + source.str() +
                                           " vs " + target.str());
    }
  }
}

// The edge pass guesses each end from the edge before (the next port in
// insertion order, on a chain): whatever it guesses, every end resolves to
// the last port with its id, missing ports stay missing, and an end out of
// the expected order is still found.
TEST(ValidationTest, EdgesOutOfTheirPortsOrder) {
  Graph g;
  for (std::uint64_t i = 0; i < 50; ++i) g.add_element(node(i));
  // Element 50 takes over out(10), and closes 50 -> 11 -> 12 -> 50.
  g.add_element(element(50)
                    .with_input(port(5000, PortDirection::Input))
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
  EXPECT_EQ(r.errors[1].message(), "edge references missing port " + gone.str());
  EXPECT_EQ(r.errors[2].message(),
            "edge " + in(30).str() + " -> " + in(31).str() +
                " has invalid direction Input -> Input (expected Output -> Input)");
  // Without the takeover there is no cycle.
  Graph plain;
  for (std::uint64_t i = 0; i < 50; ++i) plain.add_element(node(i));
  for (std::uint64_t i = 0; i < 49; ++i) plain.add_edge(Edge::plain(out(i), in(i + 1)));
  for (std::uint64_t i = 48; i >= 1; --i) plain.add_edge(Edge::plain(out(i - 1), in(i)));
  EXPECT_TRUE(validate(plain).is_valid());
  plain.add_edge(Edge::plain(out(49), in(0)));
  EXPECT_EQ(kinds(validate(plain)), Kinds{"CycleDetected"});
}

Graph chain(std::uint64_t n, bool ring) {
  Graph g;
  g.reserve(n, n);
  for (std::uint64_t i = 0; i < n; ++i) g.add_element(node(i));
  for (std::uint64_t i = 0; i + 1 < n; ++i) g.add_edge(Edge::plain(out(i), in(i + 1)));
  if (ring) g.add_edge(Edge::plain(out(n - 1), in(0)));
  return g;
}

// Deep paths: the search keeps its path on the heap.
TEST(ValidationTest, MillionElementChainAndRing) {
  constexpr std::uint64_t n = 1'000'000;
  Graph g = chain(n, false);
  EXPECT_TRUE(validate(g).is_valid());
  g.add_edge(Edge::plain(out(n - 1), in(0)));
  EXPECT_EQ(kinds(validate(g)), Kinds{"CycleDetected"});
}

TEST(ValidationTest, LateEdgeIntoTheChainHeadStillClosesTheRing) {
  Graph g = chain(200'000, false);
  g.add_edge(Edge::late(out(199'999), in(0)));
  EXPECT_EQ(kinds(validate(g)), Kinds{"CycleDetected"});
}

}  // namespace
}  // namespace kelo_core::graph
