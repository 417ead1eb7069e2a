// Each policy of the execution contract, value by value: delivery,
// overflow, output coupling, failure, concurrency and completion.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::Concurrency;
using execution::DeliveryMode;
using execution::ExecutionContract;
using execution::FailurePolicy;
using execution::OutputCoupling;
using execution::OverflowPolicy;

// A sink whose first execution holds until the test opens the gate; the
// source waits for that execution before its second item.
struct HeldSink {
  std::shared_ptr<Gate> gate = std::make_shared<Gate>();
  std::shared_ptr<std::atomic<int>> started = std::make_shared<std::atomic<int>>(0);
  std::shared_ptr<Collect> collect = std::make_shared<Collect>();
  std::shared_ptr<ListSource> src;
  Builder b;
  std::size_t s = 0, k = 0;

  HeldSink(std::size_t n, ExecutionContract c, std::size_t capacity) {
    std::vector<std::uintptr_t> values;
    for (std::uintptr_t i = 1; i <= n; ++i) values.push_back(i);
    src = std::make_shared<ListSource>(values);
    src->before = [started = started](std::size_t i) {
      if (i == 1) wait_until([&] { return started->load() > 0; });
    };
    s = b.source(src);
    auto sink = std::make_shared<Fn>(
        [gate = gate, started = started, collect = collect](Execution& x) {
          if (started->fetch_add(1) == 0) gate->pass();
          return collect->execute(x);
        },
        HostAccess::Left);
    k = b.sink(sink, c);
    b.node(k).queue_capacity = capacity;
    b.link(s, k);
  }
};

TEST(RuntimePolicyTest, OverflowOfAFullQueue) {
  const struct {
    OverflowPolicy policy;
    std::vector<std::uintptr_t> processed;
    std::uint64_t dropped, rejected;
    DropReason reason;
  } cases[] = {
      {OverflowPolicy::Block, {1, 2, 3, 4, 5, 6}, 0, 0, DropReason::DropOldest},
      {OverflowPolicy::DropOldest, {1, 5, 6}, 3, 0, DropReason::DropOldest},
      {OverflowPolicy::DropNewest, {1, 2, 3}, 3, 0, DropReason::DropNewest},
      {OverflowPolicy::Reject, {1, 2, 3}, 0, 3, DropReason::Reject},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(debug(c.policy));
    ExecutionContract contract = serialized();
    contract.overflow = c.policy;
    HeldSink h(6, contract, 2);
    auto run = start(h.b);
    wait_until([&] { return h.started->load() == 1; });
    if (c.policy == OverflowPolicy::Block) {
      // The source is held before its fourth item: one running, two queued.
      wait_until([&] {
        return run.snapshot().elements[h.k].blocked_producers[0] == std::vector<std::size_t>{h.s};
      });
      EXPECT_EQ(run.stats(h.k).received, 3u);
      EXPECT_EQ(run.snapshot().elements[h.k].queue_lengths, std::vector<std::size_t>{2});
    } else {
      wait_until([&] { return run.stats(h.k).received == 6; });
    }
    h.gate->open();
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(h.collect->values(), c.processed);
    const ElementStats& st = r.stats[h.k];
    EXPECT_EQ(st.received, 6u);
    EXPECT_EQ(st.dropped, c.dropped);
    EXPECT_EQ(st.rejected, c.rejected);
    EXPECT_EQ(st.drops[std::size_t(c.reason)], c.dropped + c.rejected);
    EXPECT_EQ(st.max_queue, 2u);
  }
}

TEST(RuntimePolicyTest, DeliveryLatestKeepsTheNewestWaitingItem) {
  for (const DeliveryMode mode : {DeliveryMode::All, DeliveryMode::Latest}) {
    SCOPED_TRACE(debug(mode));
    ExecutionContract contract = serialized();
    contract.delivery = mode;
    HeldSink h(6, contract, 16);
    auto run = start(h.b);
    wait_until([&] { return run.stats(h.k).received == 6; });
    h.gate->open();
    const RunResult r = run.wait();
    const bool latest = mode == DeliveryMode::Latest;
    const std::vector<std::uintptr_t> expected =
        latest ? std::vector<std::uintptr_t>{1, 6} : std::vector<std::uintptr_t>{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(h.collect->values(), expected);
    EXPECT_EQ(r.stats[h.k].dropped, latest ? 4u : 0u);
    EXPECT_EQ(r.stats[h.k].drops[std::size_t(DropReason::Latest)], latest ? 4u : 0u);
  }
}

// source -> op -> sink, the op being `b`.
struct Chain {
  Builder b;
  std::shared_ptr<ListSource> src;
  std::shared_ptr<Collect> sink = std::make_shared<Collect>();
  std::size_t s, a, k;
  Chain(std::vector<std::uintptr_t> values, std::shared_ptr<Behaviour> op, ExecutionContract c,
        std::shared_ptr<CountingHost> host = {})
      : src(std::make_shared<ListSource>(std::move(values), host)) {
    s = b.source(src);
    a = b.op(std::move(op), std::move(c));
    k = b.sink(sink, serialized());
    b.link(s, a);
    b.link(a, k);
  }
};

TEST(RuntimePolicyTest, FailurePartWayThroughAnExecutionUnderEachCoupling) {
  const struct {
    OutputCoupling coupling;
    Emit emitted;
    std::vector<std::uintptr_t> delivered;
  } cases[] = {{OutputCoupling::Independent, Emit::Sent, {100}},
               {OutputCoupling::Coupled, Emit::Held, {100}},
               {OutputCoupling::Transactional, Emit::Held, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(debug(c.coupling));
    auto host = std::make_shared<CountingHost>();
    ExecutionContract contract = serialized();
    contract.output_coupling = c.coupling;
    contract.failure_policy = FailurePolicy::Skip;
    std::shared_ptr<Collect> sink;
    std::optional<Emit> emitted;
    auto op = std::make_shared<Fn>(
        [&](Execution& x) {
          emitted = x.emit(0, host->make(100));
          // An independent output has left already; a held one cannot have.
          if (c.coupling == OutputCoupling::Independent) {
            host->leave();
            wait_until([&] { return sink->count() == 1; });
            host->enter();
          } else {
            EXPECT_EQ(sink->count(), 0u);
          }
          return Outcome{Failure{"half done", host->make(7)}};
        });
    Chain chain({1}, op, contract, host);
    sink = chain.sink;
    auto run = start(chain.b, options(std::make_shared<VirtualClock>(), host));
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    EXPECT_EQ(emitted, c.emitted);
    EXPECT_EQ(chain.sink->values(), c.delivered);
    EXPECT_EQ(r.stats[chain.a].skipped, 1u);
    EXPECT_EQ(r.stats[chain.a].failed, 1u);
    EXPECT_EQ(r.stats[chain.a].processed, 0u);
    EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
  }
}

TEST(RuntimePolicyTest, RetryRerunsAndKeepsOnlyTheLastAttemptsOutputs) {
  auto host = std::make_shared<CountingHost>();
  auto op = std::make_shared<Fn>([&](Execution& x) {
    x.emit(0, host->make(10 + x.attempt()));
    if (x.attempt() < 2) return Outcome{Failure{"not yet", host->make(50 + x.attempt())}};
    return Outcome{};
  });
  ExecutionContract contract = serialized();
  contract.failure_policy = FailurePolicy::Retry;
  Chain chain({1}, op, contract, host);
  auto run = start(chain.b, options(std::make_shared<VirtualClock>(), host));
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  EXPECT_EQ(chain.sink->values(), (std::vector<std::uintptr_t>{12}));
  EXPECT_EQ(r.stats[chain.a].retried, 2u);
  EXPECT_EQ(r.stats[chain.a].processed, 1u);
  EXPECT_EQ(r.stats[chain.a].failed, 0u);
  EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
}

TEST(RuntimePolicyTest, FailGraphAndExhaustedRetriesEndTheRunWithTheFailure) {
  for (const FailurePolicy policy : {FailurePolicy::FailGraph, FailurePolicy::Retry}) {
    SCOPED_TRACE(debug(policy));
    auto host = std::make_shared<CountingHost>();
    auto op = std::make_shared<Fn>([&](Execution& x) {
      const auto v = V(x.items(0)[0].value);
      if (v == 3) return Outcome{Failure{"boom at 3", host->make(999)}};
      x.output(0, x.take(0, 0));
      return Outcome{};
    });
    ExecutionContract contract = serialized();
    contract.failure_policy = policy;
    Chain chain({1, 2, 3, 4, 5}, op, contract, host);
    chain.b.node(chain.a).retries = 2;
    chain.src->envelopes = {{0, 0}, {1, 10}, {2, 20}, {3, 30}, {4, 40}};
    auto run = start(chain.b, options(std::make_shared<VirtualClock>(), host));
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, RunOutcome::Failed);
    EXPECT_EQ(r.failed_element, chain.a);
    EXPECT_EQ(r.failed_envelope, (Envelope{2, 20}));
    EXPECT_EQ(r.message, "boom at 3");
    EXPECT_TRUE(r.has_payload);
    EXPECT_EQ(r.stats[chain.a].failed, 1u);
    EXPECT_EQ(r.stats[chain.a].retried, policy == FailurePolicy::Retry ? 2u : 0u);
    EXPECT_EQ(run.take_failure_payload(), P(999));
    EXPECT_EQ(run.take_failure_payload(), nullptr);
    host->enter();
    host->release(P(999));
    host->leave();
    EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
    EXPECT_EQ(op->stops.load(), 1);
    EXPECT_EQ(chain.sink->stops.load(), 1);
    EXPECT_EQ(chain.src->stops.load(), 1);
  }
}

TEST(RuntimePolicyTest, SkippedExecutionsDoNotHoldUpOrderedOutputs) {
  auto op = std::make_shared<Fn>([](Execution& x) {
    if (V(x.items(0)[0].value) % 3 == 0) return Outcome{Failure{"skip me", nullptr}};
    x.output(0, x.take(0, 0));
    return Outcome{};
  }, HostAccess::Any);
  ExecutionContract contract;
  contract.concurrency = Concurrency::limited(3);
  contract.failure_policy = FailurePolicy::Skip;
  Chain chain({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, op, contract);
  auto run = start(chain.b);
  const RunResult r = run.wait();
  EXPECT_EQ(chain.sink->values(), (std::vector<std::uintptr_t>{1, 2, 4, 5, 7, 8, 10}));
  EXPECT_EQ(r.stats[chain.a].skipped, 3u);
}

// Executions that wait for one another in rounds of `n`: each round starts
// only when n run at once, so the runtime must allow n, and no more can
// pile in.
TEST(RuntimePolicyTest, ConcurrencyLimitsAreReachedAndKept) {
  const struct {
    Concurrency concurrency;
    std::uint64_t n;
  } cases[] = {{Concurrency::serialized(), 1}, {Concurrency::limited(3), 3}, {Concurrency::unrestricted(), 4}};
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
          cv.wait(l, [&] { return arrived >= (round + 1) * c.n; });
          x.output(0, x.take(0, 0));
          return Outcome{};
        },
        HostAccess::Left);
    ExecutionContract contract;
    contract.concurrency = c.concurrency;
    std::vector<std::uintptr_t> values;
    for (std::uintptr_t i = 1; i <= 4 * c.n; ++i) values.push_back(i);
    Chain chain(values, op, contract);
    auto run = start(chain.b, options(std::make_shared<VirtualClock>(), {}, 4));
    const RunResult r = run.wait();
    EXPECT_EQ(r.stats[chain.a].max_concurrent, c.n);
    EXPECT_EQ(chain.sink->values(), values);
  }
}

struct Confirmed {
  std::mutex m;
  std::vector<ConfirmToken> tokens;
  std::shared_ptr<Fn> op = std::make_shared<Fn>(
      [this](Execution& x) {
        std::lock_guard l(m);
        tokens.push_back(*x.token());
        x.output(0, x.take(0, 0));
        return Outcome{};
      },
      HostAccess::Any);
  std::size_t count() {
    std::lock_guard l(m);
    return tokens.size();
  }
  ConfirmToken token(std::size_t i) {
    std::lock_guard l(m);
    return tokens[i];
  }
};

TEST(RuntimePolicyTest, ExternalConfirmedHoldsItsSlotUntilConfirmed) {
  Confirmed c;
  ExecutionContract contract = serialized();
  contract.completion = execution::CompletionBoundary::ExternalConfirmed;
  Chain chain({1, 2}, c.op, contract);
  auto run = start(chain.b);
  wait_until([&] { return c.count() == 1; });
  wait_until([&] { return run.snapshot().elements[chain.a].queue_lengths[0] == 1; });
  EXPECT_EQ(run.snapshot().elements[chain.a].running_since_ns.size(), 1u);
  EXPECT_EQ(chain.sink->count(), 0u);
  EXPECT_FALSE(run.confirm(c.token(0)).has_value());
  wait_until([&] { return c.count() == 2 && chain.sink->count() == 1; });
  EXPECT_EQ(chain.sink->values(), (std::vector<std::uintptr_t>{1}));
  EXPECT_EQ(run.confirm(c.token(0))->message, "no execution awaits this confirmation");
  EXPECT_FALSE(run.confirm(c.token(1)).has_value());
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  EXPECT_EQ(chain.sink->values(), (std::vector<std::uintptr_t>{1, 2}));
  EXPECT_EQ(r.stats[chain.a].processed, 2u);
}

TEST(RuntimePolicyTest, ExternalConfirmedTimesOutOnTheClock) {
  for (const FailurePolicy policy : {FailurePolicy::FailGraph, FailurePolicy::Skip}) {
    SCOPED_TRACE(debug(policy));
    Confirmed c;
    ExecutionContract contract = serialized();
    contract.completion = execution::CompletionBoundary::ExternalConfirmed;
    contract.failure_policy = policy;
    // What the timed-out execution returned is withdrawn.
    contract.output_coupling = OutputCoupling::Transactional;
    Chain chain({1, 2}, c.op, contract);
    chain.b.node(chain.a).confirm_timeout_ns = 1000;
    auto clock = std::make_shared<VirtualClock>();
    auto run = start(chain.b, options(clock));
    wait_until([&] { return clock->pending_timers() == 1; });
    clock->advance(999);
    EXPECT_FALSE(run.ended());
    EXPECT_EQ(c.count(), 1u);
    clock->advance(1);
    if (policy == FailurePolicy::FailGraph) {
      const RunResult r = run.wait();
      EXPECT_EQ(r.outcome, RunOutcome::Failed);
      EXPECT_EQ(r.failed_element, chain.a);
      EXPECT_EQ(r.message, "no confirmation within 1000 ns");
      EXPECT_FALSE(r.has_payload);
    } else {
      wait_until([&] { return c.count() == 2; });
      EXPECT_FALSE(run.confirm(c.token(1)).has_value());
      const RunResult r = run.wait();
      EXPECT_EQ(r.outcome, RunOutcome::Completed);
      EXPECT_EQ(chain.sink->values(), (std::vector<std::uintptr_t>{2}));
      EXPECT_EQ(r.stats[chain.a].skipped, 1u);
    }
  }
}

}  // namespace
}  // namespace kelo_core::runtime::testing

namespace kelo_core::runtime::testing {
namespace {

TEST(RuntimePolicyTest, SourceFailuresFollowTheSourcesPolicy) {
  const struct {
    FailurePolicy policy;
    RunOutcome outcome;
    // What reaches the sink before a failing run is cancelled depends on
    // timing.
    std::optional<std::vector<std::uintptr_t>> delivered;
    std::uint64_t retried, skipped;
  } cases[] = {{FailurePolicy::Retry, RunOutcome::Completed, {{1, 3}}, 1, 0},
               {FailurePolicy::Skip, RunOutcome::Completed, {{1, 3}}, 0, 1},
               {FailurePolicy::FailGraph, RunOutcome::Failed, std::nullopt, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(debug(c.policy));
    ExecutionContract contract;
    contract.failure_policy = c.policy;
    Builder b;
    // Item 1 fails once; a retry asks for the next item.
    auto src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2, 3});
    src->fail_at = {1};
    const auto s = b.source(src, 1, contract);
    auto sink = std::make_shared<Collect>();
    const auto k = b.sink(sink, serialized());
    b.link(s, k);
    auto run = start(b);
    const RunResult r = run.wait();
    EXPECT_EQ(r.outcome, c.outcome);
    if (c.delivered) {
      EXPECT_EQ(sink->values(), *c.delivered);
    }
    EXPECT_EQ(r.stats[s].retried, c.retried);
    EXPECT_EQ(r.stats[s].skipped, c.skipped);
    if (c.outcome == RunOutcome::Failed) {
      EXPECT_EQ(r.failed_element, s);
      EXPECT_EQ(r.message, "source failed at 1");
      EXPECT_EQ(r.failed_envelope->sequence, 1u);
    }
  }
}

TEST(RuntimePolicyTest, MergedInputsEndWhenEveryProducerHasEnded) {
  Builder b;
  const auto s1 = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2}));
  const auto s2 = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{3, 4, 5}));
  auto sink = std::make_shared<Collect>();
  const auto k = b.sink(sink, serialized());
  b.link(s1, k);
  b.link(s2, k);
  auto run = start(b);
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  auto values = sink->values();
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, (std::vector<std::uintptr_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(r.stats[k].received, 5u);
}

}  // namespace
}  // namespace kelo_core::runtime::testing

namespace kelo_core::runtime::testing {
namespace {

TEST(RuntimePolicyTest, EmitReportsARefusingQueue) {
  // The receiver holds its first item; its queue of one takes the second
  // and refuses the third.
  auto gate = std::make_shared<Gate>();
  auto started = std::make_shared<std::atomic<int>>(0);
  std::vector<Emit> results;
  auto op = std::make_shared<Fn>(
      [&](Execution& x) {
        for (std::uintptr_t v = 1; v <= 3; ++v) {
          results.push_back(x.emit(0, P(v)));
          if (v == 1) wait_until([&] { return started->load() == 1; });
        }
        return Outcome{};
      },
      HostAccess::Left);
  auto held = std::make_shared<Fn>(
      [gate, started](Execution&) {
        if (started->fetch_add(1) == 0) gate->pass();
        return Outcome{};
      },
      HostAccess::Left);
  ExecutionContract independent = serialized();
  independent.output_coupling = OutputCoupling::Independent;
  ExecutionContract reject = serialized();
  reject.overflow = OverflowPolicy::Reject;
  Builder b;
  const auto s = b.source(std::make_shared<ListSource>(std::vector<std::uintptr_t>{9}));
  const auto a = b.op(op, independent);
  const auto k = b.sink(held, reject);
  b.node(k).queue_capacity = 1;
  b.link(s, a);
  b.link(a, k);
  auto run = start(b);
  wait_until([&] { return run.stats(a).processed == 1; });
  gate->open();
  const RunResult r = run.wait();
  EXPECT_EQ(results, (std::vector<Emit>{Emit::Sent, Emit::Sent, Emit::Rejected}));
  EXPECT_EQ(r.stats[k].rejected, 1u);
  EXPECT_EQ(r.stats[k].processed, 2u);
  EXPECT_EQ(r.stats[a].emitted, 3u);
}

}  // namespace
}  // namespace kelo_core::runtime::testing
