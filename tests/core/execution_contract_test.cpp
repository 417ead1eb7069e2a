#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "execution/contract.h"

namespace kelo_core::execution {
namespace {

using Rel = InputRelation;

TEST(ExecutionContractTest, DefaultAndPermissiveDifferInThreeFields) {
  const ExecutionContract d;
  EXPECT_EQ(d.input_relation, Rel{});
  EXPECT_EQ(d.ordering, OrderingRequirement::PreserveSequence);
  EXPECT_EQ(d.concurrency, Concurrency::unrestricted());
  EXPECT_EQ(d.delivery, DeliveryMode::All);
  EXPECT_EQ(d.overflow, OverflowPolicy::Block);
  EXPECT_EQ(d.output_coupling, OutputCoupling::Coupled);
  EXPECT_EQ(d.completion, CompletionBoundary::OutputReady);
  EXPECT_EQ(d.failure_policy, FailurePolicy::FailGraph);
  EXPECT_EQ(d.eos_policy, EosPolicy::AllInputs);
  EXPECT_FALSE(d.batching.has_value());
  EXPECT_TRUE(d.join_ports.empty());

  ExecutionContract p = ExecutionContract::permissive();
  EXPECT_EQ(p.ordering, OrderingRequirement::AllowReorder);
  EXPECT_EQ(p.output_coupling, OutputCoupling::Independent);
  EXPECT_EQ(p.failure_policy, FailurePolicy::Skip);
  p.ordering = d.ordering;
  p.output_coupling = d.output_coupling;
  p.failure_policy = d.failure_policy;
  EXPECT_EQ(p, d);
}

TEST(InputRelationTest, EqualityComparesKindAndPayload) {
  const auto tm = [](std::uint64_t tol, MissingInputBehavior m, std::vector<std::int64_t> offs) {
    return Rel{Rel::TimestampMatched{tol, m, std::move(offs)}};
  };
  const auto w = MissingInputBehavior::Wait;
  const struct {
    Rel a, b;
    bool equal;
  } cases[] = {
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
  const struct {
    Concurrency c;
    std::optional<std::uint64_t> max_concurrent;
    const char* debug;
  } cases[] = {
      {Concurrency::serialized(), 1, "Serialized"}, {Concurrency::limited(0), 0, "Limited(0)"},
      {Concurrency::limited(4), 4, "Limited(4)"},
      {Concurrency::limited(max), max, "Limited(18446744073709551615)"},
      {Concurrency::unrestricted(), std::nullopt, "Unrestricted"}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.c.max_concurrent(), c.max_concurrent) << c.debug;
    EXPECT_EQ(debug(c.c), c.debug);
  }
  EXPECT_EQ(Concurrency::limited(4), Concurrency::limited(4));
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

TEST(ControlSignalTest, KindsTargetsAndEquality) {
  using S = ControlSignal;
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  const struct {
    S s;
    std::string_view kind;
    std::optional<std::uint64_t> target;
  } cases[] = {
      {S{S::Flush{}}, "flush", std::nullopt}, {S{S::Eos{}}, "eos", std::nullopt},
      {S{S::Cancel{}}, "cancel", std::nullopt}, {S{S::Stop{}}, "stop", std::nullopt},
      {S{S::Seek{0}}, "seek", 0},             {S{S::Seek{max}}, "seek", max}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.s.kind_name(), c.kind);
    EXPECT_EQ(c.s.target_ns(), c.target) << c.kind;
  }
  EXPECT_EQ(S{S::Eos{}}, S{S::Eos{}});
  EXPECT_EQ(S{S::Seek{10}}, S{S::Seek{10}});
  EXPECT_NE(S{S::Seek{10}}, S{S::Seek{11}});
  EXPECT_NE(S{S::Stop{}}, S{S::Cancel{}});
  EXPECT_NE(S{S::Seek{0}}, S{S::Flush{}});
}

}  // namespace
}  // namespace kelo_core::execution
