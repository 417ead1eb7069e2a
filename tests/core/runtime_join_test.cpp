// Input relations, batching and end of stream through joins.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::FailurePolicy;
using execution::InputRelation;
using execution::MissingInputBehavior;
using Executions = std::vector<Values>;

// A stream of values with (sequence, timestamp) envelopes.
struct Stream {
  Values values;
  std::vector<Envelope> envs;
};

// Values base + sequence, at the given timestamps (0 when not given).
Stream seqs(std::uintptr_t base, std::vector<std::uint64_t> q, std::vector<std::int64_t> ts = {}) {
  Stream s;
  for (std::size_t i = 0; i < q.size(); ++i) {
    s.values.push_back(base + q[i]);
    s.envs.push_back({q[i], i < ts.size() ? ts[i] : 0});
  }
  return s;
}

// One source per stream, each feeding its port of a serialized collecting
// sink under `relation`.
struct Join {
  Builder b;
  std::vector<std::shared_ptr<ListSource>> sources;
  std::shared_ptr<Collect> sink = std::make_shared<Collect>();
  std::size_t k = 0;

  Join(std::vector<Stream> streams, InputRelation relation) {
    ExecutionContract c = serialized();
    c.input_relation = std::move(relation);
    for (auto& st : streams) {
      auto src = std::make_shared<ListSource>(st.values);
      src->envelopes = st.envs;
      sources.push_back(src);
      b.source(src);
    }
    k = b.sink(sink, c, streams.size());
    for (std::size_t i = 0; i < streams.size(); ++i) b.link(i, k, 0, i);
  }
  RunResult run() { return start(b).wait(); }
};

// Each relation over streams whose items match or miss: what executions
// the matched items make, and how many items found no match.
TEST(RuntimeJoinTest, RelationsMatchItemsAcrossPorts) {
  using M = MissingInputBehavior;
  using R = InputRelation;
  const Stream a = seqs(10, {0, 1, 2}, {0, 100, 200});
  const Stream b = seqs(20, {0, 2}, {3, 205});
  const Stream shifted = seqs(20, {0, 2}, {103, 305});
  const struct {
    R relation;
    std::vector<Stream> streams;
    Executions expected;  // in order, or sorted when `any_order`
    std::uint64_t unmatched;
    bool any_order = false;
    std::vector<std::size_t> join_ports = {};
  } cases[] = {
      {R{R::Synchronized{}}, {seqs(10, {0, 1, 2, 3, 4}), seqs(20, {0, 1, 2})},
       {{10, 20}, {11, 21}, {12, 22}}, 2},
      {R{R::Synchronized{}}, {seqs(10, {0, 1, 2}), seqs(20, {0, 2})}, {{10, 20}, {12, 22}}, 1},
      {R{R::Synchronized{}}, {seqs(10, {3}), seqs(20, {1, 2})}, {}, 3},
      {R{R::TimestampMatched{10, M::Wait, {}}}, {a, b}, {{10, 20}, {12, 22}}, 1},
      {R{R::TimestampMatched{10, M::Drop, {}}}, {a, b}, {{10, 20}, {12, 22}}, 1},
      {R{R::TimestampMatched{10, M::Proceed, {}}}, {a, b}, {{10, 20}, {11}, {12, 22}}, 0},
      {R{R::TimestampMatched{10, M::Wait, {0, -100}}}, {a, shifted}, {{10, 20}, {12, 22}}, 1},
      {R{R::TimestampMatched{10, M::Wait, {}}}, {a, shifted}, {{11, 20}}, 3},
      // The sink's keys: the last digit, none for 4.
      {R{R::ExplicitJoin{"id"}}, {seqs(10, {1, 2, 3}), seqs(20, {3, 1, 2, 4})},
       {{11, 21}, {12, 22}, {13, 23}}, 1, true},
      // The join ports leave the other inputs independent.
      {R{R::Synchronized{}}, {seqs(10, {0, 1}), seqs(20, {0, 1}), seqs(30, {0})},
       {{10, 20}, {11, 21}, {30}}, 0, true, {1, 0}},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(i);
    Join j(c.streams, c.relation);
    j.b.node(j.k).join_ports = c.join_ports;
    j.sink->key = [](Payload v) -> std::optional<std::string> {
      if (V(v) % 10 == 4) return std::nullopt;
      return std::to_string(V(v) % 10);
    };
    const RunResult r = j.run();
    EXPECT_EQ(r.outcome, RunOutcome::Completed);
    auto got = j.sink->executions();
    if (c.any_order) std::sort(got.begin(), got.end());
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(r.stats[j.k].drops[std::size_t(DropReason::Match)], c.unmatched);
    EXPECT_EQ(j.sink->stops.load(), 1);
  }
}

// Back-to-back windows of 3, the last flushed at the end; a window's output
// inherits its last item's envelope.
TEST(RuntimeJoinTest, WindowsAreBackToBackAndTheLastIsFlushedAtTheEnd) {
  Join j({seqs(10, {0, 1, 2, 3, 4, 5, 6, 7}, {0, 1, 2, 3, 4, 5, 6, 7})},
         InputRelation{InputRelation::Windowed{3}});
  // The windowed element is made an operator telling size and first item.
  Node& w = j.b.node(j.k);
  w.kind = NodeKind::Operator;
  w.outputs = {"out"};
  w.behaviour = std::make_shared<Fn>([](Execution& x) {
    x.output(0, P(100 * x.items(0).size() + V(x.items(0)[0].value)));
    return Outcome{};
  });
  auto sink = std::make_shared<Collect>();
  j.b.link(j.k, j.b.sink(sink, serialized()));
  j.run();
  EXPECT_EQ(sink->seen(), (std::vector<Seen>{{310, {2, 2}}, {313, {5, 5}}, {216, {7, 7}}}));
}

TEST(RuntimeJoinTest, LatestValueContributesTheNewestOfTheOtherPorts) {
  Join j({seqs(10, {0, 1, 2}), seqs(20, {0, 1})}, InputRelation{InputRelation::LatestValue{}});
  // The trigger's first item waits for a value on the other port; that
  // port's second value comes after the second execution, before the
  // trigger's third item.
  std::atomic<Pipeline*> run{nullptr};
  j.sources[1]->before = [&](std::size_t i) {
    if (i == 1) wait_until([&] { return j.sink->count() >= 4; });
  };
  j.sources[0]->before = [&](std::size_t i) {
    if (i == 1) wait_until([&] { return j.sink->count() >= 2; });
    if (i == 2) wait_until([&] { return run.load() && run.load()->stats(j.k).received == 4; });
  };
  auto r = start(j.b);
  run = &r;
  r.wait();
  EXPECT_EQ(j.sink->executions(), (Executions{{10, 20}, {11, 20}, {12, 21}}));
}

// A skipped item upstream of a join sends a marker that lets the join give
// up that item's partner at once, without waiting for later items.
TEST(RuntimeJoinTest, SkipUpstreamAdvancesTheJoin) {
  for (const InputRelation& relation :
       {InputRelation{InputRelation::TimestampMatched{0, MissingInputBehavior::Wait, {}}},
        InputRelation{InputRelation::Synchronized{}}}) {
    SCOPED_TRACE(relation.kind_name());
    Builder b;
    auto src = std::make_shared<ListSource>(upto(4));
    src->outputs = 2;
    src->envelopes = {{0, 0}, {1, 10}, {2, 20}, {3, 30}};
    const auto s = b.source(src, 2);
    const auto a = b.op(fails_on([](auto v) { return v == 3; }, "bad frame"),
                        serialized([](auto& c) { c.failure_policy = FailurePolicy::Skip; }));
    auto sink = std::make_shared<Collect>();
    const auto k = b.sink(sink, serialized([&](auto& c) { c.input_relation = relation; }), 2);
    b.link(s, a, 0);
    b.link(a, k, 0, 0);
    b.link(s, k, 1, 1);
    // Item 4 comes only once the join has given up item 3.
    std::atomic<Pipeline*> run{nullptr};
    const auto gave_up = [&] { return run.load()->stats(k).drops[std::size_t(DropReason::Skip)]; };
    src->before = [&](std::size_t i) {
      if (i == 3) wait_until([&] { return run.load() && gave_up() == 1; });
    };
    auto r = start(b);
    run = &r;
    const RunResult result = r.wait();
    EXPECT_EQ(result.outcome, RunOutcome::Completed);
    EXPECT_EQ(sink->executions(), (Executions{{1, 1}, {2, 2}, {4, 4}}));
    EXPECT_EQ(result.stats[a].skipped, 1u);
  }
}

// Batches of up to 4 within 1000 ns: the first is released by its size,
// the second by the clock or a flush, the last at the end.
TEST(RuntimeJoinTest, BatchesLeaveFullOnTheClockOnFlushAndAtTheEnd) {
  for (const bool flush : {false, true}) {
    SCOPED_TRACE(flush ? "flush" : "clock");
    Line line(upto(7));
    line.end(serialized([](auto& c) { c.batching = execution::BatchingPolicy{4, 1000}; }));
    // The full batch is taken before the next item comes, so that sizes do
    // not depend on timing; the last item waits for the partial batch.
    auto gate = std::make_shared<Gate>();
    line.src->before = [&](std::size_t i) {
      if (i == 4) wait_until([&] { return line.sink->count() == 4; });
      if (i == 6) gate->pass();
    };
    auto clock = std::make_shared<VirtualClock>();
    auto run = start(line, options(clock));
    wait_until([&] { return run.stats(line.k).received == 6 && clock->pending_timers() == 1; });
    if (flush) {
      run.flush();
    } else {
      clock->advance(999);
      EXPECT_EQ(line.sink->count(), 4u);
      clock->advance(1);
    }
    wait_until([&] { return line.sink->count() == 6; });
    gate->open();
    run.wait();
    EXPECT_EQ(line.sink->executions(), (Executions{{1, 2, 3, 4}, {5, 6}, {7}}));
  }
}

TEST(RuntimeJoinTest, AnyInputEndsWithTheFirstEndedInput) {
  Join j({seqs(10, {0}), seqs(20, {0, 1, 2})}, InputRelation{});
  j.b.node(j.k).contract.eos_policy = execution::EosPolicy::AnyInput;
  std::atomic<Pipeline*> run{nullptr};
  j.sources[1]->before = [&](std::size_t i) {
    if (i > 0) return;
    wait_until([&] { return run.load() && run.load()->snapshot().elements[j.k].ended; });
  };
  auto r = start(j.b);
  run = &r;
  const RunResult result = r.wait();
  EXPECT_EQ(result.outcome, RunOutcome::Completed);
  EXPECT_EQ(j.sink->executions(), (Executions{{10}}));
  EXPECT_EQ(result.stats[j.k].drops[std::size_t(DropReason::Ended)], 3u);
  EXPECT_EQ(j.sink->stops.load(), 1);
}

// Two producers into one port: it ends when both have.
TEST(RuntimeJoinTest, MergedInputsEndWhenEveryProducerHasEnded) {
  Line line({1, 2});
  line.end();
  line.b.link(line.b.source(std::make_shared<ListSource>(Values{3, 4, 5})), line.k);
  const RunResult r = start(line).wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  auto values = line.sink->values();
  std::sort(values.begin(), values.end());
  EXPECT_EQ(values, upto(5));
  EXPECT_EQ(r.stats[line.k].received, 5u);
}

}  // namespace
}  // namespace kelo_core::runtime::testing
