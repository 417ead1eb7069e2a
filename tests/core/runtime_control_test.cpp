// Control signals, waiting with deadlines, abandoning stuck executions, the
// snapshot and the observer.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::ExecutionContract;
using execution::ExecutionState;

// An endless source into a serialized collecting sink.
struct Endless {
  Builder b;
  std::shared_ptr<ListSource> src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{});
  std::shared_ptr<Collect> sink = std::make_shared<Collect>();
  std::size_t s, k;
  Endless() {
    src->infinite = true;
    s = b.source(src);
    k = b.sink(sink, serialized());
    b.link(s, k);
  }
};

TEST(RuntimeControlTest, EosAndStopEndTheSourcesAndDrain) {
  for (const bool stop : {false, true}) {
    Endless t;
    auto run = start(t.b);
    wait_until([&] { return t.sink->count() >= 10; });
    if (stop) {
      run.stop();
    } else {
      EXPECT_FALSE(run.eos(t.s).has_value());
    }
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, stop ? RunOutcome::Stopped : RunOutcome::Completed);
    // Everything produced reached the sink, in order.
    const auto values = t.sink->values();
    EXPECT_EQ(values.size(), r.stats[t.s].emitted);
    for (std::size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i], i + 1);
    EXPECT_EQ(t.src->stops.load(), 1);
    EXPECT_EQ(t.sink->stops.load(), 1);
  }
  Endless t;
  auto run = start(t.b);
  EXPECT_EQ(run.eos(t.k)->message, "element 1 is not a source");
  EXPECT_EQ(run.seek(t.s, 5)->message, "source 'n0' cannot seek");
  run.stop();
  run.wait();
}

class SeekingSource : public ListSource {
 public:
  SeekingSource() : ListSource({}) { infinite = true; }
  bool seekable() const override { return true; }
  Outcome seek(std::int64_t target) override {
    std::lock_guard l(m);
    targets.push_back(target);
    return {};
  }
  std::mutex m;
  std::vector<std::int64_t> targets;
};

TEST(RuntimeControlTest, SeekReachesASeekableSource) {
  Builder b;
  auto src = std::make_shared<SeekingSource>();
  const auto s = b.source(src);
  auto sink = std::make_shared<Collect>();
  b.link(s, b.sink(sink, serialized()));
  auto run = start(b);
  EXPECT_FALSE(run.seek(s, 42).has_value());
  wait_until([&] {
    std::lock_guard l(src->m);
    return !src->targets.empty();
  });
  run.stop();
  EXPECT_EQ(run.wait().outcome, RunOutcome::Stopped);
  EXPECT_EQ(src->targets, std::vector<std::int64_t>{42});
}

// A sink that holds its first execution until the run is cancelled.
std::shared_ptr<Fn> until_cancelled(std::shared_ptr<std::atomic<int>> entered) {
  return std::make_shared<Fn>(
      [entered](Execution& x) {
        entered->fetch_add(1);
        wait_until([&] { return x.cancelled(); });
        return Outcome{};
      },
      HostAccess::Left);
}

TEST(RuntimeControlTest, CancelAndTimeoutStopInFlightWorkAndCallEveryStop) {
  for (const bool timeout : {false, true}) {
    SCOPED_TRACE(timeout ? "timeout" : "cancel");
    auto host = std::make_shared<CountingHost>();
    Builder b;
    auto src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2, 3, 4}, host);
    const auto s = b.source(src);
    auto entered = std::make_shared<std::atomic<int>>(0);
    auto sink = until_cancelled(entered);
    const auto k = b.sink(sink, serialized());
    b.link(s, k);
    auto clock = std::make_shared<VirtualClock>();
    auto run = start(b, options(clock, host));
    wait_until([&] { return entered->load() == 1 && run.stats(k).received == 4; });
    RunResult r;
    if (timeout) {
      std::thread waiter([&] { r = run.wait(1000); });
      wait_until([&] { return clock->pending_timers() == 1; });
      clock->advance(1000);
      waiter.join();
      EXPECT_EQ(r.message, "the run did not end within 1000 ns");
    } else {
      run.cancel();
      r = run.wait();
    }
    EXPECT_EQ(r.outcome, timeout ? RunOutcome::TimedOut : RunOutcome::Cancelled);
    EXPECT_EQ(r.stats[k].processed, 0u);
    EXPECT_EQ(sink->stops.load(), 1);
    EXPECT_EQ(src->stops.load(), 1);
    EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
  }
}

// A sink whose executions wait at a gate the test opens only at the end.
struct Stuck {
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::shared_ptr<std::atomic<int>> entered = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<Fn> sink = std::make_shared<Fn>(
      [gate = gate, entered = entered](Execution&) {
        entered->fetch_add(1);
        gate->pass();
        return Outcome{};
      },
      HostAccess::Left);
};

TEST(RuntimeControlTest, AbandonEndsTheRunWithoutTheStuckExecution) {
  Builder b;
  const auto s = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2}));
  Stuck stuck;
  const auto k = b.sink(stuck.sink, serialized());
  b.link(s, k);
  {
    auto run = start(b);
    wait_until([&] { return stuck.entered->load() == 1; });
    const RunResult r = run.abandon();
    EXPECT_EQ(r.outcome, RunOutcome::Cancelled);
    EXPECT_TRUE(r.abandoned);
    EXPECT_TRUE(run.ended());
    EXPECT_EQ(stuck.sink->stops.load(), 0);
  }
  // The stuck execution returns after its run's handle is gone; its
  // element is stopped then.
  stuck.gate->open();
  wait_until([&] { return stuck.sink->stops.load() == 1; });
}

TEST(RuntimeControlTest, WaitAbandonsAfterTheGrace) {
  Builder b;
  const auto s = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{1}));
  Stuck stuck;
  b.link(s, b.sink(stuck.sink));
  auto clock = std::make_shared<VirtualClock>();
  auto run = start(b, options(clock));
  wait_until([&] { return stuck.entered->load() == 1; });
  RunResult r;
  std::thread waiter([&] { r = run.wait(100, 50); });
  wait_until([&] { return clock->pending_timers() == 2; });
  clock->advance(100);
  EXPECT_FALSE(run.ended());
  clock->advance(50);
  waiter.join();
  EXPECT_EQ(r.outcome, RunOutcome::TimedOut);
  EXPECT_TRUE(r.abandoned);
  stuck.gate->open();
  wait_until([&] { return stuck.sink->stops.load() == 1; });
}

TEST(RuntimeControlTest, StartFailureFailsTheRunAndStopsTheStarted) {
  Builder b;
  auto src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{1});
  const auto s = b.source(src);
  auto ok = std::make_shared<Collect>();
  class Refusing : public Fn {
   public:
    Refusing() : Fn([](Execution&) { return Outcome{}; }) {}
    Outcome start() override { return Failure{"no camera", nullptr}; }
  };
  const auto a = b.op(passthrough());
  const auto k1 = b.sink(ok);
  const auto k2 = b.sink(std::make_shared<Refusing>());
  b.link(s, a);
  b.link(a, k1);
  b.link(a, k2);
  auto run = start(b);
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Failed);
  EXPECT_EQ(r.failed_element, k2);
  EXPECT_EQ(r.failed_envelope, std::nullopt);
  EXPECT_EQ(r.message, "no camera");
  EXPECT_EQ(ok->starts.load(), 1);
  EXPECT_EQ(ok->stops.load(), 1);
  EXPECT_EQ(src->stops.load(), 0);
}

TEST(RuntimeControlTest, SnapshotShowsWhatEachElementWaitsFor) {
  Builder b;
  auto gate = std::make_shared<Gate>();
  auto src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{1});
  src->before = [gate](std::size_t) { gate->pass(); };
  const auto s = b.source(src);
  const auto k = b.sink(std::make_shared<Collect>(), execution::ExecutionContract{}, 2);
  b.link(s, k, 0, 1);
  auto run = start(b);
  wait_until([&] { return run.snapshot().elements[k].waiting_for_input; });
  const Snapshot snap = run.snapshot();
  EXPECT_EQ(snap.elements[k].waiting_port, 1u);  // port 0 is fed by nothing: ended
  EXPECT_EQ(snap.elements[k].queue_lengths, (std::vector<std::size_t>{0, 0}));
  EXPECT_TRUE(snap.elements[k].running_since_ns.empty());
  EXPECT_FALSE(snap.elements[k].ended);
  gate->open();
  EXPECT_EQ(run.wait().outcome, RunOutcome::Completed);
  EXPECT_TRUE(run.snapshot().elements[k].ended);
}

class Recorder : public Observer {
 public:
  void on_execution(const ExecutionEvent& e) override {
    std::lock_guard l(m);
    states[e.element].push_back(e.state);
  }
  void on_queue(const QueueEvent& e) override {
    std::lock_guard l(m);
    queue.push_back({e.element, std::size_t{e.push}, e.length});
  }
  void on_signal(const SignalEvent& e) override {
    std::lock_guard l(m);
    signals.push_back(std::string(e.signal.kind_name()));
  }
  std::mutex m;
  std::map<std::size_t, std::vector<ExecutionState>> states;
  std::vector<std::vector<std::size_t>> queue;
  std::vector<std::string> signals;
};

TEST(RuntimeControlTest, ObserverSeesEveryStateOfAnExecution) {
  using S = ExecutionState;
  Builder b;
  const auto s = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2}));
  ExecutionContract skip = serialized();
  skip.failure_policy = execution::FailurePolicy::Skip;
  const auto a = b.op(std::make_shared<Fn>([](Execution& x) {
    if (V(x.items(0)[0].value) == 2) return Outcome{Failure{"no", nullptr}};
    x.output(0, x.take(0, 0));
    return Outcome{};
  }), skip);
  const auto k = b.sink(std::make_shared<Collect>(), serialized());
  b.link(s, a);
  b.link(a, k);
  auto rec = std::make_shared<Recorder>();
  RunOptions o = options();
  o.observer = rec;
  auto run = start(b, o);
  run.flush();
  run.wait();
  EXPECT_EQ(rec->states[a], (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed, S::Pending,
                                            S::Admitted, S::Running, S::Failed}));
  EXPECT_EQ(rec->states[k], (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed}));
  // One push and one pop per item per queue, lengths after each change.
  std::size_t pushes = 0, pops = 0;
  for (const auto& q : rec->queue) (q[1] ? pushes : pops) += 1;
  EXPECT_EQ(pushes, 3u);
  EXPECT_EQ(pops, 3u);
  EXPECT_EQ(rec->signals, std::vector<std::string>{"flush"});
}

// A chain of blocking queues of two under a slow sink: the source is held
// back, queues never pass their bound, nothing is lost.
TEST(RuntimeControlTest, BlockChainHoldsTheSourceBackWithoutStalling) {
  Builder b;
  std::vector<std::uintptr_t> values;
  for (std::uintptr_t i = 1; i <= 300; ++i) values.push_back(i);
  const auto s = b.source(std::make_shared<ListSource>(values));
  std::size_t prev = s;
  std::vector<std::size_t> ops;
  for (int i = 0; i < 3; ++i) {
    const auto a = b.op(passthrough(), serialized());
    b.node(a).queue_capacity = 2;
    b.link(prev, a);
    ops.push_back(prev = a);
  }
  auto sink = std::make_shared<Collect>();
  auto slow = std::make_shared<Fn>(
      [sink](Execution& x) {
        std::this_thread::yield();
        return sink->execute(x);
      },
      HostAccess::Any);
  const auto k = b.sink(slow, serialized());
  b.node(k).queue_capacity = 2;
  b.link(prev, k);
  auto run = start(b, options(steady_clock()));
  const RunResult r = run.wait();
  EXPECT_EQ(sink->values(), values);
  for (const auto a : ops) {
    EXPECT_LE(r.stats[a].max_queue, 3u) << a;
  }
  EXPECT_LE(r.stats[k].max_queue, 3u);
}

TEST(RuntimeFlowTest, FanOutRetainsPerEdgeAndDropsRelease) {
  auto host = std::make_shared<CountingHost>();
  Builder b;
  std::vector<std::uintptr_t> values;
  for (std::uintptr_t i = 1; i <= 50; ++i) values.push_back(i);
  const auto s = b.source(std::make_shared<ListSource>(values, host));
  auto all = std::make_shared<Collect>();
  auto some = std::make_shared<Collect>();
  const auto k1 = b.sink(all, serialized());
  ExecutionContract lossy = serialized();
  lossy.overflow = execution::OverflowPolicy::DropOldest;
  const auto k2 = b.sink(some, lossy);
  b.node(k2).queue_capacity = 1;
  const auto k3 = b.sink(passthrough(), lossy);
  b.link(s, k1);
  b.link(s, k2);
  b.link(s, k3);
  auto run = start(b, options(std::make_shared<VirtualClock>(), host));
  const RunResult r = run.wait();
  EXPECT_EQ(all->values(), values);
  EXPECT_EQ(some->count() + r.stats[k2].dropped, 50u);
  EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
}

TEST(RuntimeFlowTest, PreservedOrderHoldsOutputsThatFinishEarly) {
  for (const auto ordering : {execution::OrderingRequirement::PreserveSequence,
                              execution::OrderingRequirement::AllowReorder}) {
    SCOPED_TRACE(debug(ordering));
    std::vector<std::shared_ptr<Gate>> gates;
    for (int i = 0; i < 4; ++i) gates.push_back(std::make_shared<Gate>());
    auto started = std::make_shared<std::atomic<int>>(0);
    auto op = std::make_shared<Fn>(
        [gates, started](Execution& x) {
          started->fetch_add(1);
          gates[V(x.items(0)[0].value) - 1]->pass();
          x.output(0, x.take(0, 0));
          return Outcome{};
        },
        HostAccess::Left);
    Builder b;
    const auto s = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2, 3, 4}));
    ExecutionContract c;
    c.concurrency = execution::Concurrency::limited(4);
    c.ordering = ordering;
    const auto a = b.op(op, c);
    auto sink = std::make_shared<Collect>();
    const auto k = b.sink(sink, serialized());
    b.link(s, a);
    b.link(a, k);
    auto run = start(b);
    wait_until([&] { return started->load() == 4; });
    // Finish in reverse.
    for (int i = 3; i > 0; --i) {
      gates[i]->open();
      if (ordering == execution::OrderingRequirement::AllowReorder) {
        wait_until([&] { return sink->count() == std::size_t(4 - i); });
      }
    }
    if (ordering == execution::OrderingRequirement::PreserveSequence) {
      wait_until([&] { return run.stats(a).processed == 3; });
      EXPECT_EQ(sink->count(), 0u);
    }
    gates[0]->open();
    run.wait();
    const bool keep = ordering == execution::OrderingRequirement::PreserveSequence;
    const std::vector<std::uintptr_t> expected =
        keep ? std::vector<std::uintptr_t>{1, 2, 3, 4} : std::vector<std::uintptr_t>{4, 3, 2, 1};
    EXPECT_EQ(sink->values(), expected);
  }
}

}  // namespace
}  // namespace kelo_core::runtime::testing
