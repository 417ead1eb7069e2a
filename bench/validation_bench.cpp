// Validating long chains and a ring: n elements, each with one input and one
// output port (unconstrained Frame contracts), one edge between neighbours.
// The graphs are built once per size, outside the timing. The shuffled chain
// lists its edges in random order, so that no edge end can be guessed from
// the edge before and every lookup goes through the port table.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <algorithm>
#include <map>
#include <random>
#include <memory>
#include <string>
#include <utility>

#include "graph/graph.h"
#include "graph/validation.h"

namespace {

using namespace kelo_core::graph;

enum class Shape { Chain, Ring, Shuffled };

std::unique_ptr<Graph> make_chain(std::size_t n, Shape shape) {
  auto g = std::make_unique<Graph>();
  g->reserve(n, n);
  PortId first_in{}, last_out{};
  for (std::size_t i = 0; i < n; ++i) {
    Port in(*PortId::fresh(), "in", PortDirection::Input, DataContract());
    Port out(*PortId::fresh(), "out", PortDirection::Output, DataContract());
    const PortId in_id = in.id, out_id = out.id;
    g->add_element(Element::make(*ElementId::fresh(), {"kelo.bench"}, std::to_string(i),
                                 ElementKind::Operator)
                       .with_input(std::move(in))
                       .with_output(std::move(out)));
    if (i == 0) first_in = in_id;
    if (i > 0) g->add_edge(Edge::plain(last_out, in_id));
    last_out = out_id;
  }
  if (shape == Shape::Ring && n > 0) g->add_edge(Edge::plain(last_out, first_in));
  if (shape == Shape::Shuffled) {
    std::vector<Edge> edges = g->edges();
    std::shuffle(edges.begin(), edges.end(), std::mt19937_64(42));
    auto shuffled = std::make_unique<Graph>();
    shuffled->reserve(n, edges.size());
    for (const Element& e : g->elements()) shuffled->add_element(e);
    for (Edge& e : edges) shuffled->add_edge(std::move(e));
    return shuffled;
  }
  return g;
}

const Graph& graph(std::size_t n, Shape shape) {
  static std::map<std::pair<std::size_t, Shape>, std::unique_ptr<Graph>> cache;
  auto& slot = cache[{n, shape}];
  if (!slot) slot = make_chain(n, shape);
  return *slot;
}

void BM_ValidateChain(benchmark::State& state) {
  const Graph& g = graph(std::size_t(state.range(0)), Shape::Chain);
  for (auto _ : state) {
    auto report = validation::validate(g);
    if (!report.is_valid()) state.SkipWithError("chain reported invalid");
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ValidateChain)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond);

void BM_ValidateRing(benchmark::State& state) {
  const Graph& g = graph(std::size_t(state.range(0)), Shape::Ring);
  for (auto _ : state) {
    auto report = validation::validate(g);
    if (report.errors.size() != 1) state.SkipWithError("ring without one cycle");
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ValidateRing)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_ValidateShuffledChain(benchmark::State& state) {
  const Graph& g = graph(std::size_t(state.range(0)), Shape::Shuffled);
  for (auto _ : state) {
    auto report = validation::validate(g);
    if (!report.is_valid()) state.SkipWithError("chain reported invalid");
    benchmark::DoNotOptimize(report);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ValidateShuffledChain)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

}  // namespace
