// The runtime's cost per hop: items through chains of pass-through elements,
// beside the baseline of one plain virtual call per item per hop. The
// marginal hop (the difference between two chain lengths, divided by the
// difference) leaves out the source's hand-over, which every pipeline pays
// once per item.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "runtime/runtime.h"

namespace {

using namespace kelo_core::runtime;
namespace execution = kelo_core::execution;

class Count final : public Source {
 public:
  explicit Count(std::uint64_t n) : n_(n) {}
  HostAccess host_access() const override { return HostAccess::Any; }
  Outcome next(SourceOutput& out) override {
    if (i_ == n_) {
      out.end();
      return {};
    }
    out.output(0, reinterpret_cast<Payload>(++i_));
    return {};
  }

 private:
  std::uint64_t n_;
  std::uint64_t i_ = 0;
};

// A host whose lock is a mutex, as an interpreter lock would be.
class LockHost final : public Host {
 public:
  void enter() override { m_.lock(); }
  void leave() override { m_.unlock(); }

 private:
  std::mutex m_;
};

// The pass-through as host code: called entered.
class EnteredPass final : public Behaviour {
 public:
  Outcome execute(Execution& x) override {
    x.output(0, x.take(0, 0));
    return {};
  }
};

// Seconds to run `n` items through `hops` serialized, ordered, blocking
// pass-throughs.
double chain_seconds(std::uint64_t n, int hops, bool entered) {
  Plan p;
  Node s;
  s.name = "source";
  s.kind = NodeKind::Source;
  s.outputs = {"out"};
  s.source = std::make_shared<Count>(n);
  p.nodes.push_back(std::move(s));
  for (int i = 0; i < hops; ++i) {
    Node o;
    o.name = "pass" + std::to_string(i);
    o.kind = i + 1 == hops ? NodeKind::Sink : NodeKind::Operator;
    o.inputs = {"in"};
    if (i + 1 < hops) o.outputs = {"out"};
    o.contract.concurrency = execution::Concurrency::serialized();
    o.behaviour = entered ? std::shared_ptr<Behaviour>(std::make_shared<EnteredPass>()) : passthrough();
    p.nodes.push_back(std::move(o));
    p.edges.push_back(Edge{std::size_t(i), 0, std::size_t(i + 1), 0});
  }
  RunOptions options;
  if (entered) options.host = std::make_shared<LockHost>();
  const auto t0 = std::chrono::steady_clock::now();
  auto run = Run::start(std::move(p), options);
  run->wait();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Hop {
  virtual ~Hop() = default;
  virtual void* pass(void* v) = 0;
};
struct PlainHop final : Hop {
  void* pass(void* v) override { return v; }
};

void BM_RuntimeHop(benchmark::State& state) {
  const bool entered = state.range(0) != 0;
  constexpr std::uint64_t kItems = 100'000;
  constexpr int kShort = 2, kLong = 12;
  // The best of the runs: the machine's other load only adds.
  double a = 1e9, b = 1e9;
  for (auto _ : state) {
    a = std::min(a, chain_seconds(kItems, kShort, entered));
    b = std::min(b, chain_seconds(kItems, kLong, entered));
  }
  const double hop_ns = (b - a) * 1e9 / double(kItems) / (kLong - kShort);
  // The baseline: a virtual call per item per hop.
  std::vector<std::unique_ptr<Hop>> chain;
  for (int i = 0; i < kLong; ++i) chain.push_back(std::make_unique<PlainHop>());
  const auto t0 = std::chrono::steady_clock::now();
  void* v = nullptr;
  for (std::uint64_t i = 0; i < kItems; ++i) {
    v = reinterpret_cast<void*>(i);
    for (auto& h : chain) {
      Hop* opaque = h.get();
      benchmark::DoNotOptimize(opaque);
      v = opaque->pass(v);
    }
    benchmark::DoNotOptimize(v);
  }
  const double base_ns =
      std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count() /
      double(kItems) / kLong;
  state.counters["hop_ns"] = hop_ns;
  state.counters["baseline_ns"] = base_ns;
  state.counters["ratio"] = hop_ns / base_ns;
}
BENCHMARK(BM_RuntimeHop)->Arg(0)->Arg(1)->ArgName("entered")->Iterations(5)->Unit(benchmark::kMillisecond);

long max_rss_kb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// A million items through ten elements: the peak memory must not grow
// with the number of items (no per-item table anywhere).
void BM_RuntimeMemoryFlat(benchmark::State& state) {
  double grown_kb = 0;
  for (auto _ : state) {
    chain_seconds(100'000, 10, false);
    const long before = max_rss_kb();
    chain_seconds(1'000'000, 10, false);
    grown_kb = double(max_rss_kb() - before);
  }
  state.counters["rss_growth_kb"] = grown_kb;
}
BENCHMARK(BM_RuntimeMemoryFlat)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
