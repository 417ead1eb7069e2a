#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "execution/contract.h"

namespace kelo_core::execution {
namespace {

using Rel = InputRelation;

// The Python tests read the contracts' fields; these hold their values, and the defaults of the
// parts a producer fills in.
TEST(ExecutionContractTest, DefaultAndPermissiveDifferInThreeFields) {
  const ExecutionContract defaults{Rel{}, OrderingRequirement::PreserveSequence,
                                   Concurrency::unrestricted(), DeliveryMode::All,
                                   OverflowPolicy::Block, OutputCoupling::Coupled,
                                   CompletionBoundary::OutputReady, FailurePolicy::FailGraph,
                                   EosPolicy::AllInputs, std::nullopt, {}};
  EXPECT_EQ(ExecutionContract{}, defaults);
  ExecutionContract permissive = defaults;
  permissive.ordering = OrderingRequirement::AllowReorder;
  permissive.output_coupling = OutputCoupling::Independent;
  permissive.failure_policy = FailurePolicy::Skip;
  EXPECT_EQ(ExecutionContract::permissive(), permissive);
  EXPECT_EQ(BatchingPolicy{}, (BatchingPolicy{0, 0}));
  EXPECT_EQ(Rel::TimestampMatched{}, (Rel::TimestampMatched{0, MissingInputBehavior::Wait, {}}));
  EXPECT_EQ(ControlSignal{}.kind_name(), "flush");
}

TEST(InputRelationTest, EqualityComparesKindAndPayload) {
  const auto tm = [](std::uint64_t tol, MissingInputBehavior m, std::vector<std::int64_t> offs) {
    return Rel{Rel::TimestampMatched{tol, m, std::move(offs)}};
  };
  const auto w = MissingInputBehavior::Wait;
  const struct { Rel a, b; bool equal; } cases[] = {
      {tm(5, w, {}), tm(5, w, {}), true}, {tm(5, w, {0, 3}), tm(5, w, {0, 3}), true},
      {tm(5, w, {0, 3}), tm(5, w, {0, 4}), false}, {tm(5, w, {0, 3}), tm(5, w, {3, 0}), false},
      {tm(5, w, {0}), tm(5, w, {0, 0}), false}, {tm(5, w, {}), tm(6, w, {}), false},
      {tm(5, w, {}), tm(5, MissingInputBehavior::Drop, {}), false},
      {Rel{Rel::Windowed{3}}, Rel{Rel::Windowed{3}}, true},
      {Rel{Rel::Windowed{3}}, Rel{Rel::Windowed{4}}, false},
      {Rel{Rel::ExplicitJoin{"k"}}, Rel{Rel::ExplicitJoin{"k"}}, true},
      {Rel{Rel::ExplicitJoin{"k"}}, Rel{Rel::ExplicitJoin{"K"}}, false},
      {Rel{Rel::ExplicitJoin{std::string("a\0", 2)}}, Rel{Rel::ExplicitJoin{"a"}}, false},
      {Rel{Rel::Independent{}}, Rel{Rel::Synchronized{}}, false},
      {Rel{Rel::LatestValue{}}, Rel{Rel::LatestValue{}}, true}, {Rel{Rel::Windowed{0}}, tm(0, w, {}), false}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.a == c.b, c.equal) << c.a.kind_name() << " vs " << c.b.kind_name();
    EXPECT_EQ(c.b == c.a, c.equal);
  }
}

TEST(ConcurrencyTest, EqualityMaxConcurrentAndDebug) {
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const struct { Concurrency c; std::optional<std::uint64_t> most; const char* debug; } cases[] = {
      {Concurrency::serialized(), 1, "Serialized"}, {Concurrency::limited(0), 0, "Limited(0)"},
      {Concurrency::limited(4), 4, "Limited(4)"},
      {Concurrency::limited(max), max, "Limited(18446744073709551615)"},
      {Concurrency::unrestricted(), std::nullopt, "Unrestricted"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.c.max_concurrent(), c.most) << c.debug;
    EXPECT_EQ(debug(c.c), c.debug);
  }
  EXPECT_NE(Concurrency::limited(4), Concurrency::limited(5));
  EXPECT_NE(Concurrency::serialized(), Concurrency::limited(1));
  EXPECT_NE(Concurrency::unrestricted(), Concurrency::limited(0));
}

TEST(ExecutionStateTest, TerminalFromCompletedOn) {
  const std::pair<ExecutionState, bool> cases[] = {
      {ExecutionState::Pending, false},  {ExecutionState::Admitted, false},
      {ExecutionState::Running, false},  {ExecutionState::Completed, true},
      {ExecutionState::Failed, true},    {ExecutionState::Cancelled, true}};
  for (const auto& [state, terminal] : cases) {
    EXPECT_EQ(is_terminal(state), terminal) << debug(state);
  }
  EXPECT_EQ(debug(ExecutionState::Cancelled), "Cancelled");
}

// Kinds, targets and equality across kinds are checked through the Python tests.
TEST(ControlSignalTest, SeekTargets) {
  using S = ControlSignal;
  EXPECT_EQ(S{S::Seek{0}}.target_ns(), 0u);
  EXPECT_EQ(S{S::Seek{10}}, S{S::Seek{10}});
  EXPECT_NE(S{S::Seek{10}}, S{S::Seek{11}});
  EXPECT_NE(S{S::Seek{0}}, S{S::Flush{}});
}

}  // namespace
}  // namespace kelo_core::execution
