// The runtime moving items: chains, fan-out, envelopes, ownership of
// payloads, the host-lock rules, ordering and end of stream.
#include "runtime_support.h"

namespace kelo_core::runtime::testing {
namespace {

using execution::ExecutionContract;

TEST(RuntimeFlowTest, ChainDeliversEveryItemInOrderWithItsEnvelope) {
  auto host = std::make_shared<CountingHost>();
  auto clock = std::make_shared<VirtualClock>(500);
  auto src = std::make_shared<ListSource>(std::vector<std::uintptr_t>{1, 2, 3, 4, 5}, host);
  auto sink = std::make_shared<Collect>();
  Builder b;
  const auto s = b.source(src);
  const auto a = b.op(passthrough(), serialized());
  const auto c = b.op(std::make_shared<Fn>([](Execution& x) {
    x.output(0, x.take(0, 0));
    return Outcome{};
  }));
  const auto k = b.sink(sink);
  b.link(s, a);
  b.link(a, c);
  b.link(c, k);
  auto run = start(b, options(clock, host));
  const RunResult r = run.wait();
  EXPECT_EQ(r.outcome, RunOutcome::Completed);
  std::vector<Seen> expected;
  for (std::uint64_t i = 0; i < 5; ++i) expected.push_back({i + 1, {i, 500}});
  EXPECT_EQ(sink->seen(), expected);
  for (const auto node : {a, c, k}) {
    EXPECT_EQ(r.stats[node].received, 5u) << node;
    EXPECT_EQ(r.stats[node].processed, 5u) << node;
  }
  EXPECT_EQ(r.stats[s].emitted, 5u);
  EXPECT_EQ(r.stats[c].emitted, 5u);
  EXPECT_EQ(host->live(), (std::map<std::uintptr_t, int>{}));
  EXPECT_EQ(host->threads(), 0);
  EXPECT_EQ(sink->starts.load(), 1);
  EXPECT_EQ(sink->stops.load(), 1);
}

}  // namespace
}  // namespace kelo_core::runtime::testing
