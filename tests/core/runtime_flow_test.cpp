// The runtime moving items: chains, fan-out, envelopes, ownership of
// payloads, the host-lock rules and ordering.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::OrderingRequirement;
using execution::OverflowPolicy;
using Counts = std::tuple<std::uint64_t, std::uint64_t, std::uint64_t>;

// Items arrive in order with their envelopes. The source also fans out to
// lossy sinks: payloads are retained per edge and released, dropped or not.
TEST(RuntimeFlowTest, ChainDeliversEveryItemInOrderWithItsEnvelope) {
  constexpr std::uint64_t n = 100;
  auto host = std::make_shared<CountingHost>();
  Line line(upto(n), host);
  auto forward = std::make_shared<Fn>([](Execution& x) {
    x.output(0, x.take(0, 0));
    return Outcome{};
  });
  line.op(passthrough(), serialized()).op(forward).end();
  const auto lossy = serialized([](auto& c) { c.overflow = OverflowPolicy::DropOldest; });
  auto some = std::make_shared<Collect>();
  line.b.link(line.s, line.b.sink(some, lossy));
  line.b.link(line.s, line.b.sink(passthrough(), lossy));
  line.b.node(4).queue_capacity = 1;
  const RunResult r = start(line, options(std::make_shared<VirtualClock>(500), host)).wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  std::vector<Seen> expected;
  for (std::uint64_t i = 0; i < n; ++i) expected.push_back({i + 1, {i, 500}});
  EXPECT_EQ(line.sink->seen(), expected);
  // received, processed, emitted
  const std::vector<Counts> counts = {{0, n, n}, {n, n, n}, {n, n, n}, {n, n, 0}};
  for (std::size_t e = 0; e < counts.size(); ++e) {
    const ElementStats& st = r.stats[e];
    EXPECT_EQ(Counts(st.received, st.processed, st.emitted), counts[e]) << e;
  }
  EXPECT_EQ(some->count() + r.stats[4].dropped, n);
  EXPECT_EQ(host->live(), Refs{});
  EXPECT_EQ(host->threads(), 0);
  EXPECT_EQ(std::make_pair(line.sink->starts.load(), line.sink->stops.load()),
            std::make_pair(1, 1));
}

TEST(RuntimeFlowTest, PreservedOrderHoldsOutputsThatFinishEarly) {
  for (const auto ordering : {OrderingRequirement::PreserveSequence,
                              OrderingRequirement::AllowReorder}) {
    SCOPED_TRACE(debug(ordering));
    const bool keep = ordering == OrderingRequirement::PreserveSequence;
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
    ExecutionContract c;
    c.concurrency = execution::Concurrency::limited(4);
    c.ordering = ordering;
    Line line(upto(4));
    line.op(op, c).end();
    auto run = start(line);
    wait_until([&] { return started->load() == 4; });
    // Finish in reverse.
    for (int i = 3; i > 0; --i) {
      gates[i]->open();
      if (!keep) wait_until([&] { return line.sink->count() == std::size_t(4 - i); });
    }
    if (keep) {
      wait_until([&] { return run.stats(line.a).processed == 3; });
      EXPECT_EQ(line.sink->count(), 0u);
    }
    gates[0]->open();
    run.wait();
    EXPECT_EQ(line.sink->values(), keep ? upto(4) : (Values{4, 3, 2, 1}));
  }
}

}  // namespace
}  // namespace kelo_core::runtime::testing
