// Control signals, waiting with deadlines, abandoning stuck executions, the
// snapshot and the observer.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::ExecutionState;

TEST(RuntimeControlTest, EosAndStopEndTheSourcesAndDrain) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "eos");
    Line line({});
    line.src->infinite = true;
    line.end();
    auto run = start(line);
    wait_until([&] { return line.sink->count() >= 10; });
    if (stop) {
      run.stop();
    } else {
      EXPECT_EQ(run.eos(line.k)->message, "element 1 is not a source");
      EXPECT_EQ(run.seek(line.s, 5)->message, "source 'n0' cannot seek");
      EXPECT_FALSE(run.eos(line.s).has_value());
    }
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, stop ? RunOutcome::Stopped : RunOutcome::Completed);
    // Everything produced reached the sink, in order.
    EXPECT_EQ(line.sink->values(), upto(r.stats[line.s].emitted));
    EXPECT_EQ(std::make_pair(line.src->stops.load(), line.sink->stops.load()),
              std::make_pair(1, 1));
  }
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
  b.link(s, b.sink(std::make_shared<Collect>(), serialized()));
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

TEST(RuntimeControlTest, CancelAndTimeoutStopInFlightWorkAndCallEveryStop) {
  for (const bool timeout : {false, true}) {
    SCOPED_TRACE(timeout ? "timeout" : "cancel");
    auto host = std::make_shared<CountingHost>();
    // A sink that holds its first execution until the run is cancelled.
    auto entered = std::make_shared<std::atomic<int>>(0);
    auto sink = std::make_shared<Fn>(
        [entered](Execution& x) {
          entered->fetch_add(1);
          wait_until([&] { return x.cancelled(); });
          return Outcome{};
        },
        HostAccess::Left);
    Line line(upto(4), host);
    line.end(serialized(), sink);
    auto clock = std::make_shared<VirtualClock>();
    auto run = start(line, options(clock, host));
    wait_until([&] { return entered->load() == 1 && run.stats(line.k).received == 4; });
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
    EXPECT_EQ(r.stats[line.k].processed, 0u);
    EXPECT_EQ(std::make_pair(sink->stops.load(), line.src->stops.load()), std::make_pair(1, 1));
    EXPECT_EQ(host->live(), Refs{});
  }
}

// A stuck execution: abandoning the run, or a wait past its grace, ends the
// run without it.
TEST(RuntimeControlTest, AbandonEndsTheRunWithoutTheStuckExecution) {
  for (const bool grace : {false, true}) {
    SCOPED_TRACE(grace ? "wait with a grace" : "abandon");
    auto gate = std::make_shared<Gate>();
    auto entered = std::make_shared<std::atomic<int>>(0);
    auto stuck = std::make_shared<Fn>(
        [gate, entered](Execution&) {
          entered->fetch_add(1);
          gate->pass();
          return Outcome{};
        },
        HostAccess::Left);
    Line line({1, 2});
    line.end(serialized(), stuck);
    auto clock = std::make_shared<VirtualClock>();
    {
      auto run = start(line, options(clock));
      wait_until([&] { return entered->load() == 1; });
      RunResult r;
      if (grace) {
        std::thread waiter([&] { r = run.wait(100, 50); });
        wait_until([&] { return clock->pending_timers() == 2; });
        clock->advance(100);
        EXPECT_FALSE(run.ended());
        clock->advance(50);
        waiter.join();
      } else {
        r = run.abandon();
      }
      EXPECT_EQ(r.outcome, grace ? RunOutcome::TimedOut : RunOutcome::Cancelled);
      EXPECT_EQ(std::make_pair(r.abandoned, run.ended()), std::make_pair(true, true));
      EXPECT_EQ(stuck->stops.load(), 0);
    }
    // The stuck execution returns after its run's handle is gone; its
    // element is stopped then.
    gate->open();
    wait_until([&] { return stuck->stops.load() == 1; });
  }
}

TEST(RuntimeControlTest, StartFailureFailsTheRunAndStopsTheStarted) {
  class Refusing : public Fn {
   public:
    Refusing() : Fn([](Execution&) { return Outcome{}; }) {}
    Outcome start() override { return Failure{"no camera", nullptr}; }
  };
  Line line({1});
  line.op(passthrough()).end({});
  const auto k2 = line.b.sink(std::make_shared<Refusing>());
  line.b.link(line.a, k2);
  const RunResult r = start(line).wait();
  EXPECT_EQ(r.outcome, RunOutcome::Failed);
  EXPECT_EQ(r.failed_element, k2);
  EXPECT_EQ(r.failed_envelope, std::nullopt);
  EXPECT_EQ(r.message, "no camera");
  EXPECT_EQ(std::make_pair(line.sink->starts.load(), line.sink->stops.load()),
            std::make_pair(1, 1));
  EXPECT_EQ(line.src->stops.load(), 0);
}

TEST(RuntimeControlTest, SnapshotShowsWhatEachElementWaitsFor) {
  Builder b;
  auto gate = std::make_shared<Gate>();
  auto src = std::make_shared<ListSource>(Values{1});
  src->before = [gate](std::size_t) { gate->pass(); };
  const auto s = b.source(src);
  const auto k = b.sink(std::make_shared<Collect>(), ExecutionContract{}, 2);
  b.link(s, k, 0, 1);
  auto run = start(b, options(std::make_shared<VirtualClock>(500)));
  wait_until([&] { return run.snapshot().elements[k].waiting_for_input; });
  const Snapshot snap = run.snapshot();
  EXPECT_EQ(snap.time_ns, 500);
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
    (e.push ? pushes : pops) += 1;
  }
  void on_signal(const SignalEvent& e) override {
    std::lock_guard l(m);
    signals.push_back(std::string(e.signal.kind_name()));
  }
  std::mutex m;
  std::map<std::size_t, std::vector<ExecutionState>> states;
  std::size_t pushes = 0, pops = 0;
  std::vector<std::string> signals;
};

TEST(RuntimeControlTest, ObserverSeesEveryStateOfAnExecution) {
  using S = ExecutionState;
  Line line({1, 2});
  line.op(fails_on([](auto v) { return v == 2; }, "no"),
          serialized([](auto& c) { c.failure_policy = execution::FailurePolicy::Skip; }));
  line.end();
  auto rec = std::make_shared<Recorder>();
  RunOptions o = options();
  o.observer = rec;
  auto run = start(line, o);
  run.flush();
  run.wait();
  EXPECT_EQ(rec->states[line.a], (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed,
                                                 S::Pending, S::Admitted, S::Running, S::Failed}));
  EXPECT_EQ(rec->states[line.k],
            (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed}));
  // One push and one pop per item per queue.
  EXPECT_EQ(std::make_pair(rec->pushes, rec->pops), (std::pair<std::size_t, std::size_t>{3, 3}));
  EXPECT_EQ(rec->signals, std::vector<std::string>{"flush"});
}

// A chain of blocking queues of two under a slow sink: the source is held
// back, queues never pass their bound, nothing is lost.
TEST(RuntimeControlTest, BlockChainHoldsTheSourceBackWithoutStalling) {
  Line line(upto(300));
  std::vector<std::size_t> queues;
  for (int i = 0; i < 3; ++i) {
    line.op(passthrough(), serialized());
    queues.push_back(line.a);
  }
  auto slow = std::make_shared<Fn>(
      [sink = line.sink](Execution& x) {
        std::this_thread::yield();
        return sink->execute(x);
      },
      HostAccess::Any);
  line.end(serialized(), slow);
  queues.push_back(line.k);
  for (const auto q : queues) line.b.node(q).queue_capacity = 2;
  const RunResult r = start(line, options(steady_clock())).wait();
  EXPECT_EQ(line.sink->values(), upto(300));
  for (const auto q : queues) {
    EXPECT_LE(r.stats[q].max_queue, 3u) << q;
  }
}

}  // namespace
}  // namespace kelo_core::runtime::testing
