// Plans the runtime refuses, the worker pool it derives, and the clocks.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::Concurrency;
using execution::InputRelation;

Builder two_inputs() {
  Builder b;
  const auto s = b.source(std::make_shared<ListSource>(Values{}));
  b.link(s, b.sink(std::make_shared<Collect>(), {}, 2));
  return b;
}

TEST(RuntimePlanTest, ValidationNamesWhatIsWrongAndWhere) {
  const struct {
    std::function<void(Builder&)> change;
    const char* message;
  } cases[] = {
      {[](Builder&) {}, ""},
      {[](Builder& b) { b.plan.nodes.clear(), b.plan.edges.clear(); }, "the plan has no elements"},
      {[](Builder& b) { b.node(1).contract.concurrency = Concurrency::limited(0); },
       "element 'n1': concurrency Limited(0) admits no execution"},
      {[](Builder& b) { b.node(1).contract.batching = execution::BatchingPolicy{0, 5}; },
       "element 'n1': a batch of size 0 holds no item"},
      {[](Builder& b) { b.node(1).contract.input_relation = InputRelation{InputRelation::Windowed{0}}; },
       "element 'n1': a window of size 0 holds no item"},
      {[](Builder& b) { b.node(1).join_ports = {0, 2}; },
       "element 'n1': join port 2 is out of range (2 input ports)"},
      {[](Builder& b) { b.node(1).join_ports = {1, 1}; }, "element 'n1': join port 1 is given twice"},
      {[](Builder& b) { b.node(1).queue_capacity = 0; },
       "element 'n1': an input queue of capacity 0 holds no item"},
      {[](Builder& b) { b.node(1).confirm_timeout_ns = -1; },
       "element 'n1': the confirmation timeout is negative"},
      {[](Builder& b) {
         b.node(1).contract.input_relation =
             InputRelation{InputRelation::TimestampMatched{1, {}, {0, 1, 2}}};
       },
       "element 'n1': 3 clock offsets for 2 input ports"},
      {[](Builder& b) { b.node(0).source = nullptr; }, "element 'n0': a source needs a source behaviour"},
      {[](Builder& b) { b.node(1).behaviour = nullptr; },
       "element 'n1': an operator or sink needs a behaviour"},
      {[](Builder& b) { b.node(1).inputs.clear(), b.plan.edges.clear(); },
       "element 'n1': only a source runs without input ports"},
      {[](Builder& b) { b.node(1).outputs = {"x"}; }, "element 'n1': a sink has no output ports"},
      {[](Builder& b) { b.node(1).name = "n0"; }, "element 'n0' is named twice"},
      {[](Builder& b) { b.link(0, 7); }, "edge 1: element index 7 is out of range (2 elements)"},
      {[](Builder& b) { b.link(0, 1, 1); }, "edge 1: 'n0' has no output port 1 (1 output port)"},
      {[](Builder& b) { b.link(0, 1, 0, 2); }, "edge 1: 'n1' has no input port 2 (2 input ports)"},
      {[](Builder& b) { b.link(0, 1); }, "edge 1: repeats edge 0"},
      {[](Builder& b) {
         const auto a = b.op(passthrough());
         const auto c = b.op(passthrough(), {}, 2);
         b.link(a, c);
         b.link(c, a);
       },
       "the plan has a cycle through element 'n2'"},
  };
  for (const auto& c : cases) {
    Builder b = two_inputs();
    c.change(b);
    const auto e = validate(b.plan);
    EXPECT_EQ(e ? e->message : "", c.message);
    // Nor does a run start.
    const auto r = Run::start(b.plan, options());
    EXPECT_EQ(r.ok() ? "" : r.error().message, c.message);
  }
}

TEST(RuntimePlanTest, WorkersCoverTheDeclaredConcurrency) {
  const std::size_t hw = std::max(1u, std::thread::hardware_concurrency());
  const struct {
    Concurrency concurrency;
    std::size_t workers;
  } cases[] = {{Concurrency::serialized(), std::max<std::size_t>(hw, 1)},
               {Concurrency::limited(8), std::max<std::size_t>(hw, 8)},
               {Concurrency::limited(1000), 256},
               {Concurrency::unrestricted(), hw}};
  for (const auto& c : cases) {
    Line line({1});
    line.end(serialized([&](auto& x) { x.concurrency = c.concurrency; }));
    auto run = start(line, options(std::make_shared<VirtualClock>(), {}, 0));
    EXPECT_EQ(run.workers(), c.workers) << debug(c.concurrency);
    EXPECT_EQ(run.wait().outcome, RunOutcome::Completed);
  }
}

TEST(RuntimeClockTest, VirtualTimersFireInOrderOnAdvance) {
  VirtualClock clock(100);
  std::vector<std::pair<int, std::int64_t>> fired;
  clock.schedule(300, [&] { fired.push_back({3, clock.now_ns()}); });
  clock.schedule(200, [&] {
    fired.push_back({2, clock.now_ns()});
    clock.schedule(250, [&] { fired.push_back({25, clock.now_ns()}); });
  });
  const TimerId gone = clock.schedule(220, [&] { fired.push_back({22, clock.now_ns()}); });
  clock.schedule(200, [&] { fired.push_back({20, clock.now_ns()}); });
  EXPECT_TRUE(clock.cancel(gone));
  EXPECT_FALSE(clock.cancel(gone));
  EXPECT_EQ(clock.next_timer_ns(), 200);
  clock.advance(99);
  EXPECT_TRUE(fired.empty());
  clock.advance(60);
  EXPECT_EQ(fired, (std::vector<std::pair<int, std::int64_t>>{{2, 200}, {20, 200}, {25, 250}}));
  EXPECT_EQ(clock.now_ns(), 259);
  EXPECT_EQ(clock.pending_timers(), 1u);
  clock.advance_to(250);
  EXPECT_EQ(clock.now_ns(), 259);
  clock.advance_to(300);
  EXPECT_EQ(fired.back(), (std::pair<int, std::int64_t>{3, 300}));
}

TEST(RuntimeClockTest, SteadyTimersFireAndCancel) {
  auto clock = steady_clock();
  std::mutex m;
  std::vector<int> fired;
  const auto note = [&](int i) {
    std::lock_guard l(m);
    fired.push_back(i);
  };
  const auto now = clock->now_ns();
  const TimerId far = clock->schedule(now + 3'600'000'000'000, [&] { note(0); });
  // A due timer fires, and one it schedules fires after it.
  clock->schedule(now, [&] {
    note(1);
    clock->schedule(clock->now_ns(), [&] { note(2); });
  });
  wait_until([&] {
    std::lock_guard l(m);
    return fired.size() == 2;
  });
  EXPECT_EQ(fired, (std::vector<int>{1, 2}));
  EXPECT_TRUE(clock->cancel(far));
}

TEST(RuntimeStatsTest, HistogramPercentilesStayWithinTheirBucket) {
  Histogram h;
  for (std::uint64_t v = 1000; v <= 1'000'000; v += 1000) {
    ++h.counts[Histogram::bucket_of(v)];
    ++h.count;
    h.sum_ns += v;
    h.max_ns = v;
  }
  for (const double q : {0.5, 0.9, 0.99}) {
    EXPECT_NEAR(double(h.percentile(q)), q * 1e6, q * 1e6 / 16) << q;
  }
  EXPECT_EQ(std::make_pair(h.percentile(1.0), Histogram{}.percentile(0.5)),
            (std::pair<std::uint64_t, std::uint64_t>{1'000'000, 0}));
  for (const std::uint64_t v : {0ull, 15ull, 16ull, 17ull, 1000ull, 1ull << 40, ~0ull}) {
    const auto b = Histogram::bucket_of(v);
    EXPECT_LT(b, Histogram::kBuckets);
    EXPECT_LE(v, Histogram::bucket_top(b)) << v;
    if (b > 0) {
      EXPECT_GT(v, Histogram::bucket_top(b - 1)) << v;
    }
  }
}

}  // namespace
}  // namespace kelo_core::runtime::testing
