// The vocabulary an element type declares about its execution: policies,
// input relations, the execution contract, execution states and control
// signals. Plain values; the runtime that honours them lives elsewhere.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "graph/port.h"
#include "support/variants.h"

namespace kelo_core::execution {

// ---- closed policies, by variant index --------------------------------

enum class OrderingRequirement : std::uint8_t { PreserveSequence, AllowReorder };
enum class DeliveryMode : std::uint8_t { All, Latest };
enum class OverflowPolicy : std::uint8_t { Block, DropOldest, DropNewest, Reject };
enum class OutputCoupling : std::uint8_t { Independent, Coupled, Transactional };
enum class CompletionBoundary : std::uint8_t { OutputReady, ExternalConfirmed };
enum class FailurePolicy : std::uint8_t { Retry, Skip, FailGraph };
enum class EosPolicy : std::uint8_t { AllInputs, AnyInput };
// What timestamp matching does with an input that has no match.
enum class MissingInputBehavior : std::uint8_t { Wait, Proceed, Drop };

// The lifecycle of a single execution; the last three states are terminal.
enum class ExecutionState : std::uint8_t { Pending, Admitted, Running, Completed, Failed, Cancelled };

constexpr bool is_terminal(ExecutionState s) { return s >= ExecutionState::Completed; }

}  // namespace kelo_core::execution

namespace kelo_core {

template <>
struct VariantNames<execution::OrderingRequirement> {
  static constexpr std::array<std::string_view, 2> names = {"PreserveSequence", "AllowReorder"};
};
template <>
struct VariantNames<execution::DeliveryMode> {
  static constexpr std::array<std::string_view, 2> names = {"All", "Latest"};
};
template <>
struct VariantNames<execution::OverflowPolicy> {
  static constexpr std::array<std::string_view, 4> names = {"Block", "DropOldest", "DropNewest",
                                                            "Reject"};
};
template <>
struct VariantNames<execution::OutputCoupling> {
  static constexpr std::array<std::string_view, 3> names = {"Independent", "Coupled",
                                                            "Transactional"};
};
template <>
struct VariantNames<execution::CompletionBoundary> {
  static constexpr std::array<std::string_view, 2> names = {"OutputReady", "ExternalConfirmed"};
};
template <>
struct VariantNames<execution::FailurePolicy> {
  static constexpr std::array<std::string_view, 3> names = {"Retry", "Skip", "FailGraph"};
};
template <>
struct VariantNames<execution::EosPolicy> {
  static constexpr std::array<std::string_view, 2> names = {"AllInputs", "AnyInput"};
};
template <>
struct VariantNames<execution::MissingInputBehavior> {
  static constexpr std::array<std::string_view, 3> names = {"Wait", "Proceed", "Drop"};
};
template <>
struct VariantNames<execution::ExecutionState> {
  static constexpr std::array<std::string_view, 6> names = {"Pending",   "Admitted", "Running",
                                                            "Completed", "Failed",   "Cancelled"};
};

}  // namespace kelo_core

namespace kelo_core::execution {

// The bare variant name, e.g. "PreserveSequence".
template <NamedVariants E>
std::string_view debug(E e) {
  return variant_name(e);
}

// ---- concurrency and batching -----------------------------------------

struct Concurrency {
  struct Serialized {
    friend bool operator==(Serialized, Serialized) = default;
  };
  struct Limited {
    std::uint64_t n = 0;
    friend bool operator==(Limited, Limited) = default;
  };
  struct Unrestricted {
    friend bool operator==(Unrestricted, Unrestricted) = default;
  };
  std::variant<Serialized, Limited, Unrestricted> kind = Unrestricted{};

  static Concurrency serialized() { return {Serialized{}}; }
  static Concurrency limited(std::uint64_t n) { return {Limited{n}}; }
  static Concurrency unrestricted() { return {Unrestricted{}}; }

  // 1 when serialized, n when limited, absent when unrestricted.
  std::optional<std::uint64_t> max_concurrent() const;

  friend bool operator==(const Concurrency&, const Concurrency&) = default;
};

// "Serialized", "Limited(4)" or "Unrestricted".
std::string debug(const Concurrency& c);

// Nothing is validated: zero sizes and waits are kept.
struct BatchingPolicy {
  std::uint64_t max_size = 0;
  std::uint64_t max_wait_ns = 0;

  friend bool operator==(const BatchingPolicy&, const BatchingPolicy&) = default;
};

// ---- input relations ---------------------------------------------------

// How the several inputs of an element type relate to one another. No
// payload is validated.
struct InputRelation {
  struct Independent {
    friend bool operator==(const Independent&, const Independent&) = default;
  };
  struct Synchronized {
    friend bool operator==(const Synchronized&, const Synchronized&) = default;
  };
  struct TimestampMatched {
    std::uint64_t tolerance_ns = 0;
    MissingInputBehavior missing = MissingInputBehavior::Wait;
    // Per-port clock corrections in nanoseconds, port 0 being the driver.
    std::vector<std::int64_t> clock_offsets_ns;
    friend bool operator==(const TimestampMatched&, const TimestampMatched&) = default;
  };
  struct LatestValue {
    friend bool operator==(const LatestValue&, const LatestValue&) = default;
  };
  struct Windowed {
    std::uint64_t size = 0;
    friend bool operator==(const Windowed&, const Windowed&) = default;
  };
  struct ExplicitJoin {
    std::string key;
    friend bool operator==(const ExplicitJoin&, const ExplicitJoin&) = default;
  };
  std::variant<Independent, Synchronized, TimestampMatched, LatestValue, Windowed, ExplicitJoin>
      kind = Independent{};

  // "independent", "synchronized", "timestamp_matched", "latest_value",
  // "windowed" or "explicit_join".
  std::string_view kind_name() const;

  friend bool operator==(const InputRelation&, const InputRelation&) = default;
};

// ---- the contract -------------------------------------------------------

// Everything an element type declares about its execution. Default-built it
// is the default contract; any combination of fields may be set.
struct ExecutionContract {
  InputRelation input_relation;
  OrderingRequirement ordering = OrderingRequirement::PreserveSequence;
  Concurrency concurrency = Concurrency::unrestricted();
  DeliveryMode delivery = DeliveryMode::All;
  OverflowPolicy overflow = OverflowPolicy::Block;
  OutputCoupling output_coupling = OutputCoupling::Coupled;
  CompletionBoundary completion = CompletionBoundary::OutputReady;
  FailurePolicy failure_policy = FailurePolicy::FailGraph;
  EosPolicy eos_policy = EosPolicy::AllInputs;
  std::optional<BatchingPolicy> batching;
  // The input ports the join semantics operate over; empty means all
  // declared input ports.
  std::vector<graph::PortId> join_ports;

  // Reorder-allowing, skip-on-failure, outputs independent; otherwise the
  // default.
  static ExecutionContract permissive();

  friend bool operator==(const ExecutionContract&, const ExecutionContract&) = default;
};

// ---- control signals ---------------------------------------------------

struct ControlSignal {
  struct Flush {
    friend bool operator==(Flush, Flush) = default;
  };
  struct Eos {
    friend bool operator==(Eos, Eos) = default;
  };
  struct Cancel {
    friend bool operator==(Cancel, Cancel) = default;
  };
  struct Stop {
    friend bool operator==(Stop, Stop) = default;
  };
  struct Seek {
    std::uint64_t target_ns = 0;
    friend bool operator==(Seek, Seek) = default;
  };
  std::variant<Flush, Eos, Cancel, Stop, Seek> kind = Flush{};

  // "flush", "eos", "cancel", "stop" or "seek".
  std::string_view kind_name() const;
  // The target of a seek; absent for every other signal.
  std::optional<std::uint64_t> target_ns() const;

  friend bool operator==(const ControlSignal&, const ControlSignal&) = default;
};

}  // namespace kelo_core::execution
