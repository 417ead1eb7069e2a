// Execution policies: the closed policy enumerations, concurrency and
// batching.
#include <string>

#include "execution/contract.h"
#include "execution/topics.h"

namespace kelo::py {

using namespace kelo_core::execution;

void add_policy_classes(std::vector<ClassSpec>& out) {
  out.push_back(Enum<MissingInputBehavior>("PyMissingInputBehavior"));
  out.push_back(Enum<OrderingRequirement>("PyOrderingRequirement"));

  out.push_back(
      Class<Concurrency>("PyConcurrency", "Concurrency requirement of an element type.")
          .def_static<&Concurrency::serialized>(
              "serialized()", "Executions must be serialized (stateful elements).")
          .def_static<&Concurrency::limited>(
              "limited(n)", "Up to `n` concurrent executions are semantically safe.")
          .def_static<&Concurrency::unrestricted>(
              "unrestricted()", "Unlimited concurrent executions are semantically safe.")
          .def<&Concurrency::max_concurrent>(
              "max_concurrent($self)",
              "Maximum number of concurrently running executions (`None` =\nunrestricted).")
          .text<[](const Concurrency& c) { return "PyConcurrency(" + debug(c) + ")"; }>()
          .equality());

  out.push_back(Enum<CompletionBoundary>("PyCompletionBoundary"));
  out.push_back(Enum<EosPolicy>("PyEosPolicy"));

  out.push_back(
      Class<BatchingPolicy>("PyBatchingPolicy(max_size, max_wait_ns)", "Runtime batching policy.")
          .init<[](std::uint64_t max_size, std::uint64_t max_wait_ns) {
            return BatchingPolicy{max_size, max_wait_ns};
          }>()
          .property<&BatchingPolicy::max_size>("max_size")
          .property<&BatchingPolicy::max_wait_ns>("max_wait_ns")
          .text<[](const BatchingPolicy& b) {
            return "PyBatchingPolicy(max_size=" + std::to_string(b.max_size) +
                   ", max_wait_ns=" + std::to_string(b.max_wait_ns) + ")";
          }>()
          .equality());

  out.push_back(Enum<DeliveryMode>("PyDeliveryMode"));
  out.push_back(Enum<OverflowPolicy>("PyOverflowPolicy"));
  out.push_back(Enum<OutputCoupling>("PyOutputCoupling"));
  out.push_back(Enum<FailurePolicy>("PyFailurePolicy"));
}

}  // namespace kelo::py
