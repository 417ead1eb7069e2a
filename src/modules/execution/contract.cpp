// Input relations, execution states, control signals and the execution
// contract.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "execution/contract.h"
#include "execution/topics.h"
#include "toolkit/builder.h"

namespace kelo::py {

using namespace kelo_core::execution;
using kelo_core::graph::PortId;

namespace {

using Rel = InputRelation;
using Signal = ControlSignal;

// "PyInputRelation(windowed)": the class name around a kind name.
template <auto KindName>
ShortText<40> tagged(const char* cls, const auto& v) {
  ShortText<40> t;
  t << cls << "(" << std::invoke(KindName, v) << ")";
  return t;
}

using C = ExecutionContract;

}  // namespace

void add_input_relation_class(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Rel>("PyInputRelation", "How multiple inputs of an element type relate to one another.")
          .def_static<[] { return Rel{Rel::Independent{}}; }>(
              "independent()", "Each input may independently trigger execution (§7.1).")
          .def_static<[] { return Rel{Rel::Synchronized{}}; }>(
              "synchronized()",
              "Inputs correspond by explicit synchronization, e.g. matching\nframe `sequence` "
              "numbers (§7.2).")
          .def_static<[](std::uint64_t tolerance_ns, MissingInputBehavior missing,
                         std::optional<std::vector<std::int64_t>> clock_offsets_ns) {
            return Rel{Rel::TimestampMatched{
                tolerance_ns, missing, std::move(clock_offsets_ns).value_or(std::vector<std::int64_t>{})}};
          }>("timestamp_matched(tolerance_ns, missing, clock_offsets_ns=None)",
             "Inputs are matched using timestamp semantics (§7.3).\n`tolerance_ns` bounds the "
             "acceptable timestamp difference;\n`missing` selects the missing-input behavior; "
             "optional\n`clock_offsets_ns` hold calibrated per-port clock corrections\n"
             "(nanoseconds, port 0 = driver).")
          .def_static<[] { return Rel{Rel::LatestValue{}}; }>(
              "latest_value()", "Use the latest available value of secondary inputs (§7.4).")
          .def_static<[](std::uint64_t size) { return Rel{Rel::Windowed{size}}; }>(
              "windowed(size)", "Consume a window of `size` consecutive items (§7.5).")
          .def_static<[](std::string key) { return Rel{Rel::ExplicitJoin{std::move(key)}}; }>(
              "explicit_join(key)", "Join inputs by an element-specific key (§7.6).")
          .def<&Rel::kind_name>("kind($self)",
                                "The relation kind: `independent`, `synchronized`,\n"
                                "`timestamp_matched`, `latest_value`, `windowed` or\n"
                                "`explicit_join`.")
          .text<[](const Rel& r) { return tagged<&Rel::kind_name>("PyInputRelation", r); }>()
          .equality());
}

void add_execution_contract_classes(std::vector<ClassSpec>& out) {
  out.push_back(Enum<ExecutionState>("PyExecutionState",
                                     "Lifecycle of a single execution (RFC-005 §2.1).")
                    .def<&is_terminal>("is_terminal($self)",
                                       "Whether this is a terminal state (`Completed`, `Failed` or\n"
                                       "`Cancelled`) — RFC-005 Invariant 3."));

  out.push_back(
      Class<Signal>("PyControlSignal", "A control signal — not an ordinary data-plane object.")
          .def_static<[] { return Signal{Signal::Flush{}}; }>(
              "flush()", "Flush: reach a defined boundary for work admitted before the\nflush (§19).")
          .def_static<[] { return Signal{Signal::Eos{}}; }>(
              "eos()", "End of stream for a logical input stream (§20).")
          .def_static<[] { return Signal{Signal::Cancel{}}; }>(
              "cancel()", "Request cancellation of an execution (§21).")
          .def_static<[] { return Signal{Signal::Stop{}}; }>(
              "stop()", "Stop the runtime instance (RFC-003 §41).")
          .def_static<[](std::uint64_t target_ns) { return Signal{Signal::Seek{target_ns}}; }>(
              "seek(target_ns)", "Seek: reposition a source to `target_ns` stream time.")
          .def<&Signal::kind_name>("kind($self)",
                                   "The signal kind: `flush`, `eos`, `cancel`, `stop` or `seek`.")
          .def<&Signal::target_ns>("target_ns($self)",
                                   "The seek target in nanoseconds, if this is a seek.")
          .text<[](const Signal& s) { return tagged<&Signal::kind_name>("PyControlSignal", s); }>()
          .equality());

  out.push_back(
      Class<C>("PyExecutionContract()", "The semantic execution contract of an element type.")
          .init<[] { return C{}; }>()
          .def_static<&C::permissive>("permissive()",
                                      "A permissive contract: reorder-allowing, skip-on-failure.")
          .property<&C::input_relation>("input_relation")
          .property<&C::ordering>("ordering")
          .property<&C::concurrency>("concurrency")
          .property<&C::delivery>("delivery")
          .property<&C::overflow>("overflow")
          .property<&C::output_coupling>("output_coupling")
          .property<&C::completion>("completion")
          .property<&C::failure_policy>("failure_policy")
          .property<&C::eos_policy>("eos_policy")
          .property<&C::batching>("batching")
          .property<&C::join_ports>(
              "join_ports", "Input ports the join semantics operate over (empty = all\ndeclared input ports).")
          .def<&with<&C::input_relation>>("with_input_relation($self, relation)",
                                          "Set the input relation (builder-style).")
          .def<&with<&C::ordering>>("with_ordering($self, ordering)",
                                    "Set the ordering requirement (builder-style).")
          .def<&with<&C::concurrency>>("with_concurrency($self, concurrency)",
                                       "Set the concurrency (builder-style).")
          .def<&with<&C::delivery>>("with_delivery($self, delivery)",
                                    "Set the delivery mode (builder-style).")
          .def<&with<&C::overflow>>("with_overflow($self, overflow)",
                                    "Set the overflow policy (builder-style).")
          .def<&with<&C::output_coupling>>("with_output_coupling($self, coupling)",
                                           "Set the output coupling (builder-style).")
          .def<&with<&C::completion>>("with_completion($self, completion)",
                                      "Set the completion boundary (builder-style).")
          .def<&with<&C::failure_policy>>("with_failure_policy($self, policy)",
                                          "Set the failure policy (builder-style).")
          .def<&with<&C::eos_policy>>("with_eos_policy($self, policy)",
                                      "Set the EOS policy (builder-style).")
          // Never None: once present, batching stays.
          .def<&with<&C::batching>>("with_batching($self, policy)",
                                    "Enable batching (builder-style).")
          .def<&with<&C::join_ports>>("with_join_ports($self, ports)",
                                      "Set the join ports (builder-style).")
          .text<[](const C& c) {
            return "PyExecutionContract(ordering=" + std::string(debug(c.ordering)) +
                   ", concurrency=" + debug(c.concurrency) + ")";
          }>());
}

}  // namespace kelo::py
