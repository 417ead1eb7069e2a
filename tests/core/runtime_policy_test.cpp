// Each policy of the execution contract, value by value: delivery,
// overflow, output coupling, failure, concurrency and completion.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::Concurrency;
using execution::DeliveryMode;
using execution::FailurePolicy;
using execution::OutputCoupling;
using execution::OverflowPolicy;
using Counts = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t, std::uint64_t>;

// Six items, each emitted at once by an operator into a queue of two while
// the sink holds its first execution until the test opens the gate (the
// source waits for that execution before its second item).
TEST(RuntimePolicyTest, AFullQueueAndWaitingItemsUnderEachPolicy) {
  const struct {
    OverflowPolicy overflow;
    DeliveryMode delivery;
    Values processed;
    DropReason reason;
    // received, dropped, rejected, drops for the reason
    Counts counts;
    std::uint64_t max_queue;
  } cases[] = {
      {OverflowPolicy::Block, DeliveryMode::All, upto(6), DropReason::Reject, {6, 0, 0, 0}, 2},
      {OverflowPolicy::DropOldest, DeliveryMode::All, {1, 5, 6}, DropReason::DropOldest,
       {6, 3, 0, 3}, 2},
      {OverflowPolicy::DropNewest, DeliveryMode::All, {1, 2, 3}, DropReason::DropNewest,
       {6, 3, 0, 3}, 2},
      {OverflowPolicy::Reject, DeliveryMode::All, {1, 2, 3}, DropReason::Reject, {6, 0, 3, 3}, 2},
      // Only the newest waiting item is kept.
      {OverflowPolicy::Block, DeliveryMode::Latest, {1, 6}, DropReason::Latest, {6, 4, 0, 4}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(debug(c.overflow));
    SCOPED_TRACE(debug(c.delivery));
    auto gate = std::make_shared<Gate>();
    std::atomic<int> started{0};
    std::vector<Emit> emits;
    Line line(upto(6));
    line.src->before = [&](std::size_t i) {
      if (i == 1) wait_until([&] { return started.load() > 0; });
    };
    auto emit = std::make_shared<Fn>(
        [&](Execution& x) {
          emits.push_back(x.emit(0, x.take(0, 0)));
          return Outcome{};
        },
        HostAccess::Left);
    auto held = std::make_shared<Fn>(
        [&](Execution& x) {
          if (started.fetch_add(1) == 0) gate->pass();
          return line.sink->execute(x);
        },
        HostAccess::Left);
    line.op(emit, serialized([](auto& x) { x.output_coupling = OutputCoupling::Independent; }));
    line.end(serialized([&](auto& x) { x.overflow = c.overflow, x.delivery = c.delivery; }), held);
    line.b.node(line.k).queue_capacity = 2;
    auto run = start(line);
    wait_until([&] { return started.load() == 1; });
    if (c.overflow == OverflowPolicy::Block && c.delivery == DeliveryMode::All) {
      // The operator is held at its fourth item: one running, two queued.
      wait_until([&] {
        return run.snapshot().elements[line.k].blocked_producers[0] == std::vector{line.a};
      });
      EXPECT_EQ(run.stats(line.k).received, 3u);
      EXPECT_EQ(run.snapshot().elements[line.k].queue_lengths, std::vector<std::size_t>{2});
    } else {
      wait_until([&] { return run.stats(line.k).received == 6; });
    }
    gate->open();
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(line.sink->values(), c.processed);
    const ElementStats& st = r.stats[line.k];
    EXPECT_EQ(Counts(st.received, st.dropped, st.rejected, st.drops[std::size_t(c.reason)]),
              c.counts);
    EXPECT_EQ(st.max_queue, c.max_queue);
    // emit() tells the operator of a refusing queue only.
    std::vector<Emit> expected(6, Emit::Sent);
    std::fill(expected.end() - std::get<2>(c.counts), expected.end(), Emit::Rejected);
    EXPECT_EQ(emits, expected);
  }
}

// An operator emits, then fails on the second of three items: under Skip
// what it emitted goes on or not by its coupling, a retry keeps the last
// attempt's outputs, FailGraph or running out of retries ends the run. Or
// the source fails there once (a retry asks for the next item).
TEST(RuntimePolicyTest, AFailingExecutionUnderEachPolicyAndCoupling) {
  const Ending completed{RunOutcome::Completed, {}, {}, "", false, false};
  const Ending op_failed{RunOutcome::Failed, 1, Envelope{1, 10}, "half done", true, false};
  const struct {
    bool at_source;
    FailurePolicy policy;
    OutputCoupling coupling;
    std::uint32_t retries;
    std::optional<Emit> emitted;  // by the failing execution's first attempt
    std::optional<Values> delivered;  // what a failed run delivers depends on timing
    Counts counts;  // of the failing element: processed, failed, skipped, retried
    Ending ending;
  } cases[] = {
      {false, FailurePolicy::Skip, OutputCoupling::Independent, 3, Emit::Sent, {{10, 20, 30}},
       {2, 1, 1, 0}, completed},
      {false, FailurePolicy::Skip, OutputCoupling::Coupled, 3, Emit::Held, {{10, 20, 30}},
       {2, 1, 1, 0}, completed},
      {false, FailurePolicy::Skip, OutputCoupling::Transactional, 3, Emit::Held, {{10, 30}},
       {2, 1, 1, 0}, completed},
      {false, FailurePolicy::Retry, OutputCoupling::Coupled, 3, Emit::Held, {{10, 22, 30}},
       {3, 0, 0, 2}, completed},
      {false, FailurePolicy::Retry, OutputCoupling::Coupled, 1, Emit::Held, std::nullopt,
       {1, 1, 0, 1}, op_failed},
      {false, FailurePolicy::FailGraph, OutputCoupling::Coupled, 3, Emit::Held, std::nullopt,
       {1, 1, 0, 0}, op_failed},
      {true, FailurePolicy::Retry, OutputCoupling::Coupled, 3, {}, {{10, 30}}, {2, 0, 0, 1},
       completed},
      {true, FailurePolicy::Skip, OutputCoupling::Coupled, 3, {}, {{10, 30}}, {2, 1, 1, 0},
       completed},
      {true, FailurePolicy::FailGraph, OutputCoupling::Coupled, 3, {}, std::nullopt, {1, 1, 0, 0},
       {RunOutcome::Failed, 0, Envelope{1, 0}, "source failed at 1", false, false}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(numbered("case ", i));
    ExecutionContract source;
    source.failure_policy = c.policy;
    auto host = std::make_shared<CountingHost>();
    Line line({1, 2, 3}, host, c.at_source ? source : ExecutionContract{});
    if (c.at_source) line.src->fail_at = {1};
    line.src->envelopes = {{0, 0}, {1, 10}, {2, 20}};
    std::optional<Emit> emitted;
    auto op = std::make_shared<Fn>([&](Execution& x) {
      const auto v = V(x.items(0)[0].value);
      const Emit e = x.emit(0, host->make(10 * v + x.attempt()));
      if (v == 2 && x.attempt() == 0) emitted = e;
      // An independent output has left already; a held one cannot have.
      if (c.coupling == OutputCoupling::Independent) {
        host->leave();
        wait_until([&] { return line.sink->count() == v; });
        host->enter();
      } else {
        EXPECT_LT(line.sink->count(), v);
      }
      if (v == 2 && x.attempt() < 2) return Outcome{Failure{"half done", host->make(900)}};
      return Outcome{};
    });
    line.op(op, serialized([&](auto& x) {
      x.output_coupling = c.coupling, x.failure_policy = c.policy;
    }));
    line.end();
    line.b.node(c.at_source ? line.s : line.a).retries = c.retries;
    auto run = start(line, options(std::make_shared<VirtualClock>(), host));
    const RunResult r = run.wait();
    EXPECT_EQ(ending(r), c.ending);
    EXPECT_EQ(emitted, c.emitted);
    if (c.delivered) {
      EXPECT_EQ(line.sink->values(), *c.delivered);
    }
    const ElementStats& st = r.stats[c.at_source ? line.s : line.a];
    EXPECT_EQ(Counts(st.processed, st.failed, st.skipped, st.retried), c.counts);
    // A payload taken is the taker's to release; one left untaken goes with
    // the run's last handle.
    const bool payload = std::get<4>(c.ending);
    host->enter();
    if (i % 2 == 0) {
      EXPECT_EQ(run.take_failure_payload(), payload ? P(900) : nullptr);
      EXPECT_EQ(run.take_failure_payload(), nullptr);
      if (payload) host->release(P(900));
    }
    { runtime::Run gone = std::move(run); }
    host->leave();
    // The failing execution's held outputs are released with it.
    EXPECT_EQ(host->live(), Refs{});
    EXPECT_EQ(std::make_tuple(op->stops.load(), line.sink->stops.load(), line.src->stops.load()),
              std::make_tuple(1, 1, 1));
  }
}

// Executions that wait for one another in rounds of `n`: each round starts
// only when n run at once, so the runtime must allow n, and no more can
// pile in. Those of multiples of 3 fail and are skipped without holding up
// the outputs after them, which keep their order.
TEST(RuntimePolicyTest, ConcurrencyLimitsAreReachedAndKept) {
  const struct {
    Concurrency concurrency;
    std::uint64_t n;
    std::size_t workers;  // 0: the default, as many as the plan declares
  } cases[] = {{Concurrency::serialized(), 1, 4},
               {Concurrency::limited(3), 3, 0},
               {Concurrency::unrestricted(), 4, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(debug(c.concurrency));
    std::mutex m;
    std::condition_variable cv;
    std::uint64_t arrived = 0;
    auto op = std::make_shared<Fn>(
        [&](Execution& x) {
          std::unique_lock l(m);
          const std::uint64_t round = arrived++ / c.n;
          cv.notify_all();
          const auto full = [&] { return arrived >= (round + 1) * c.n; };
          if (!cv.wait_for(l, std::chrono::seconds(20), full)) ADD_FAILURE() << "round " << round;
          if (V(x.items(0)[0].value) % 3 == 0) return Outcome{Failure{"skip me", nullptr}};
          x.output(0, x.take(0, 0));
          return Outcome{};
        },
        HostAccess::Left);
    ExecutionContract contract;
    contract.concurrency = c.concurrency;
    contract.failure_policy = FailurePolicy::Skip;
    Line line(upto(4 * c.n));
    line.op(op, contract).end();
    const RunResult r =
        start(line, options(std::make_shared<VirtualClock>(), {}, c.workers)).wait();
    EXPECT_EQ(std::make_pair(r.stats[line.a].max_concurrent, r.stats[line.a].skipped),
              std::make_pair(c.n, 4 * c.n / 3));
    Values kept = upto(4 * c.n);
    std::erase_if(kept, [](auto v) { return v % 3 == 0; });
    EXPECT_EQ(line.sink->values(), kept);
  }
}

// Each execution holds its slot until confirmed; one not confirmed within
// its timeout fails, what it returned withdrawn.
TEST(RuntimePolicyTest, ExternalConfirmedHoldsItsSlotUntilConfirmedOrTimedOut) {
  for (const std::optional<FailurePolicy> timeout :
       {std::optional<FailurePolicy>{}, std::optional{FailurePolicy::FailGraph},
        std::optional{FailurePolicy::Skip}}) {
    SCOPED_TRACE(timeout ? debug(*timeout) : "confirmed");
    std::array<std::atomic<std::uint64_t>, 2> tokens{};  // of the executions, in order
    std::atomic<std::size_t> count{0};
    auto op = std::make_shared<Fn>(
        [&](Execution& x) {
          tokens[count.load()] = x.token()->id;
          count.fetch_add(1);
          x.output(0, x.take(0, 0));
          return Outcome{};
        },
        HostAccess::Any);
    const auto token = [&](std::size_t i) { return ConfirmToken{tokens[i].load()}; };
    Line c({1, 2});
    c.op(op, serialized([&](auto& x) {
      x.completion = execution::CompletionBoundary::ExternalConfirmed;
      x.failure_policy = timeout.value_or(FailurePolicy::FailGraph);
      x.output_coupling = OutputCoupling::Transactional;
    }));
    c.end();
    if (timeout) c.b.node(c.a).confirm_timeout_ns = 1000;
    auto clock = std::make_shared<VirtualClock>();
    auto run = start(c, options(clock));
    wait_until([&] {
      return count.load() == 1 && run.snapshot().elements[c.a].queue_lengths[0] == 1;
    });
    EXPECT_EQ(run.snapshot().elements[c.a].running_since_ns.size(), 1u);
    EXPECT_EQ(c.sink->count(), 0u);
    if (timeout) {
      wait_until([&] { return clock->pending_timers() == 1; });
      clock->advance(999);
      EXPECT_FALSE(run.ended());
      EXPECT_EQ(count.load(), 1u);
      clock->advance(1);
    } else {
      EXPECT_FALSE(run.confirm(token(0)).has_value());
    }
    if (timeout == FailurePolicy::FailGraph) {
      EXPECT_EQ(ending(run.wait()), (Ending{RunOutcome::Failed, c.a, Envelope{0, 0},
                                            "no confirmation within 1000 ns", false, false}));
      continue;
    }
    wait_until([&] { return count.load() == 2 && c.sink->count() == (timeout ? 0u : 1u); });
    if (!timeout) {
      EXPECT_EQ(run.confirm(token(0))->message, "no execution awaits this confirmation");
    }
    EXPECT_FALSE(run.confirm(token(1)).has_value());
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(c.sink->values(), timeout ? Values{2} : (Values{1, 2}));
    EXPECT_EQ(std::make_pair(r.stats[c.a].processed, r.stats[c.a].skipped),
              (std::pair<std::uint64_t, std::uint64_t>{timeout ? 1 : 2, timeout ? 1 : 0}));
  }
}

// A host whose n-th retain waits at a gate: the operator below fans out, so
// delivering its n-th output retains first, with its element unlocked.
class RetainGateHost final : public Host {
 public:
  explicit RetainGateHost(int n) : n_(n) {}
  void retain(Payload) override {
    if (++calls_ == n_) {
      waiting.store(true);
      gate.pass();
    }
  }
  Gate gate;
  std::atomic<bool> waiting{false};

 private:
  const int n_;
  std::atomic<int> calls_{0};
};

// Under Block a queue of two never holds a third item, even while an
// output of the operator feeding it waits on its way there (its third one,
// held at the host with one item queued and the sink's first execution
// held): no further execution of the operator is admitted meanwhile.
TEST(RuntimePolicyTest, BlockCountsOutputsOnTheirWayAgainstTheQueue) {
  constexpr std::uint64_t n = 6;
  auto host = std::make_shared<RetainGateHost>(3);
  auto sink_gate = std::make_shared<Gate>();
  std::atomic<int> started{0};
  Line line(upto(n));
  line.src->before = [&](std::size_t i) {
    if (i == 2) wait_until([&] { return started.load() > 0; });
    if (i == 3) wait_until([&] { return host->waiting.load(); });
  };
  auto forward = std::make_shared<Fn>(
      [](Execution& x) {
        x.output(0, x.take(0, 0));
        return Outcome{};
      },
      HostAccess::Left);
  auto held = std::make_shared<Fn>(
      [&](Execution& x) {
        if (started.fetch_add(1) == 0) sink_gate->pass();
        return line.sink->execute(x);
      },
      HostAccess::Left);
  line.op(forward, serialized()).end(serialized(), held);
  line.b.node(line.k).queue_capacity = 2;
  line.b.link(line.a, line.b.sink(passthrough()));
  auto run = start(line, options(std::make_shared<VirtualClock>(), host));
  wait_until([&] { return host->waiting.load(); });
  // Either the operator ran on (the fault) or it waits with input queued.
  wait_until([&] {
    const ElementSnapshot a = run.snapshot().elements[line.a];
    return run.stats(line.a).processed == n || (a.waiting_for_input && a.queue_lengths[0] > 0);
  });
  host->gate.open();
  wait_until([&] { return run.stats(line.k).received >= 3; });
  sink_gate->open();
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  EXPECT_EQ(line.sink->values(), upto(n));
  EXPECT_EQ(r.stats[line.k].max_queue, 2u);
}

}  // namespace
}  // namespace kelo_core::runtime::testing
