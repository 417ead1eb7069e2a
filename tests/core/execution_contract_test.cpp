#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "execution/contract.h"

namespace kelo_core::execution {
namespace {

using Rel = InputRelation;

// The Python tests read the contracts' fields; these hold their values, and the defaults of the
// policies a producer fills in.
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

// Equality of relations, concurrency and signals is the compiler's, member by member; the Python
// tests check it across kinds.
TEST(ConcurrencyTest, MaxConcurrentAndDebug) {
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
}

TEST(ExecutionStateTest, TerminalFromCompletedOn) {
  using E = ExecutionState;
  std::vector<bool> terminal;
  for (E s : {E::Pending, E::Admitted, E::Running, E::Completed, E::Failed, E::Cancelled}) {
    terminal.push_back(is_terminal(s));
  }
  EXPECT_EQ(terminal, (std::vector<bool>{false, false, false, true, true, true}));
  EXPECT_EQ(debug(ExecutionState::Cancelled), "Cancelled");
}

}  // namespace
}  // namespace kelo_core::execution
