// Control signals, waiting with deadlines, abandoning stuck executions, the
// snapshot and the observer.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::ExecutionState;

// Eos ends a source and stop every source, what they produced draining to
// the sink in order; a seek reaches a seekable source.
TEST(RuntimeControlTest, SignalsToTheSources) {
  for (const bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "seek and stop" : "eos");
    Line line({});
    line.src->infinite = true;
    line.src->can_seek = stop;
    line.end();
    auto run = start(line);
    wait_until([&] { return line.sink->count() >= 10; });
    EXPECT_EQ(run.eos(line.k)->message, "element 1 is not a source");
    if (stop) {
      EXPECT_FALSE(run.seek(line.s, 42).has_value());
      wait_until([&] { return line.src->sought.load() == 42; });
      run.stop();
    } else {
      EXPECT_EQ(run.seek(line.s, 5)->message, "source 'n0' cannot seek");
      EXPECT_FALSE(run.eos(line.s).has_value());
    }
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, stop ? RunOutcome::Stopped : RunOutcome::Completed);
    EXPECT_EQ(line.sink->values(), upto(r.stats[line.s].emitted));
    EXPECT_EQ(std::make_pair(line.src->stops.load(), line.sink->stops.load()),
              std::make_pair(1, 1));
  }
}

// Eos reaches a source that waits for room downstream: it ends there, while
// the sink still holds its first item.
TEST(RuntimeControlTest, EosReachesASourceWaitingForRoom) {
  Gate gate;
  auto sink = std::make_shared<Fn>(
      [&](Execution&) {
        gate.pass();
        return Outcome{};
      },
      HostAccess::Left);
  Line line({});
  line.src->infinite = true;
  line.end(serialized(), sink);
  line.b.node(line.k).queue_capacity = 1;
  auto run = start(line);
  wait_until([&] { return !run.snapshot().elements[line.k].blocked_producers[0].empty(); });
  EXPECT_FALSE(run.eos(line.s).has_value());
  wait_until([&] { return run.snapshot().elements[line.s].ended; });
  gate.open();
  EXPECT_EQ(run.wait().outcome, RunOutcome::Completed);
}

// An execution in flight as the run is cancelled, times out, is abandoned
// or outlives a wait's grace. The sink returns on the cancellation, or,
// stuck, only when the test lets it: the run ends without it, and its
// element is stopped once it has returned.
TEST(RuntimeControlTest, EndingARunWithAnExecutionInFlight) {
  // Cancel, time out, abandon, wait with a grace.
  for (const auto& [stuck, timed] : {std::pair{false, false}, std::pair{false, true},
                                     std::pair{true, false}, std::pair{true, true}}) {
    SCOPED_TRACE(stuck ? "stuck" : "cooperative");
    SCOPED_TRACE(timed ? "timed out" : "ended");
    auto host = std::make_shared<CountingHost>();
    auto released = std::make_shared<std::atomic<bool>>(false);  // by the test, at the end
    auto entered = std::make_shared<std::atomic<int>>(0);
    auto sink = std::make_shared<Fn>(
        [=](Execution& x) {
          entered->fetch_add(1);
          wait_until([&] { return stuck ? released->load() : x.cancelled(); });
          return Outcome{};
        },
        HostAccess::Left);
    Line line(upto(4), host);
    line.end(serialized(), sink);
    auto clock = std::make_shared<VirtualClock>();
    {
      auto run = start(line, options(clock, host));
      wait_until([&] { return entered->load() == 1 && run.stats(line.k).received == 4; });
      RunResult r;
      if (!timed && !stuck) {
        run.cancel();
        r = run.wait();
      } else if (!timed) {
        r = run.abandon();
      } else {
        std::thread waiter([&] { r = stuck ? run.wait(1000, 50) : run.wait(1000); });
        wait_until([&] { return clock->pending_timers() == (stuck ? 2u : 1u); });
        clock->advance(1000);
        if (stuck) {
          EXPECT_FALSE(run.ended());
          clock->advance(50);
        }
        waiter.join();
      }
      const std::string message = timed ? "the run did not end within 1000 ns" : "";
      const RunOutcome outcome = timed ? RunOutcome::TimedOut : RunOutcome::Cancelled;
      EXPECT_EQ(ending(r), (Ending{outcome, {}, {}, message, false, stuck}));
      EXPECT_TRUE(run.ended());
      EXPECT_EQ(r.stats[line.k].processed, 0u);
      EXPECT_EQ(sink->stops.load(), stuck ? 0 : 1);
    }
    released->store(true);
    wait_until([&] { return sink->stops.load() == 1; });
    EXPECT_EQ(line.src->stops.load(), 1);
    EXPECT_EQ(host->live(), Refs{});
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
  EXPECT_EQ(ending(start(line).wait()),
            (Ending{RunOutcome::Failed, k2, std::nullopt, "no camera", false, false}));
  EXPECT_EQ(std::make_pair(line.sink->starts.load(), line.sink->stops.load()),
            std::make_pair(1, 1));
  EXPECT_EQ(line.src->stops.load(), 0);
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

// The snapshot shows what each element waits for; the observer sees every
// state of each execution, the queues and the signals.
TEST(RuntimeControlTest, SnapshotAndObserverFollowTheRun) {
  using S = ExecutionState;
  auto gate = std::make_shared<Gate>();
  Line line({1, 2});
  line.src->before = [gate](std::size_t) { gate->pass(); };
  line.op(fails_on([](auto v) { return v == 2; }, "no"),
          serialized([](auto& c) { c.failure_policy = execution::FailurePolicy::Skip; }));
  // The sink's port 0 is fed by nothing: ended at once.
  line.k = line.b.sink(line.sink, serialized(), 2);
  line.b.link(line.a, line.k, 0, 1);
  auto rec = std::make_shared<Recorder>();
  RunOptions o = options(std::make_shared<VirtualClock>(500));
  o.observer = rec;
  auto run = start(line, o);
  wait_until([&] { return run.snapshot().elements[line.k].waiting_for_input; });
  const Snapshot snap = run.snapshot();
  const ElementSnapshot& e = snap.elements[line.k];
  EXPECT_EQ(std::make_tuple(snap.time_ns, e.waiting_port, e.queue_lengths,
                            e.running_since_ns.size(), e.ended),
            std::make_tuple(500, 1u, std::vector<std::size_t>{0, 0}, 0u, false));
  gate->open();
  run.flush();
  EXPECT_EQ(run.wait().outcome, RunOutcome::Completed);
  EXPECT_TRUE(run.snapshot().elements[line.k].ended);
  EXPECT_EQ(rec->states[line.a], (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed,
                                                 S::Pending, S::Admitted, S::Running, S::Failed}));
  EXPECT_EQ(rec->states[line.k],
            (std::vector<S>{S::Pending, S::Admitted, S::Running, S::Completed}));
  // One push and one pop per item per queue.
  EXPECT_EQ(std::make_pair(rec->pushes, rec->pops), (std::pair<std::size_t, std::size_t>{3, 3}));
  EXPECT_EQ(rec->signals, std::vector<std::string>{"flush"});
}

}  // namespace
}  // namespace kelo_core::runtime::testing
