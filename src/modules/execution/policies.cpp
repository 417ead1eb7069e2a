// Execution policies: the closed policy enumerations, concurrency and
// batching.
#include <string>

#include "execution/contract.h"
#include "execution/topics.h"

namespace kelo::py {

using namespace kelo_core::execution;

namespace {

// A closed policy, its variants named by the core's table.
template <class E>
Enum<E> policy(const char* name) {
  return Enum<E>(name, VariantNames<E>::names);
}

}  // namespace

void add_policy_classes(std::vector<ClassSpec>& out) {
  out.push_back(policy<MissingInputBehavior>("PyMissingInputBehavior"));
  out.push_back(policy<OrderingRequirement>("PyOrderingRequirement"));

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

  out.push_back(policy<CompletionBoundary>("PyCompletionBoundary"));
  out.push_back(policy<EosPolicy>("PyEosPolicy"));

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

  out.push_back(policy<DeliveryMode>("PyDeliveryMode"));
  out.push_back(policy<OverflowPolicy>("PyOverflowPolicy"));
  out.push_back(policy<OutputCoupling>("PyOutputCoupling"));
  out.push_back(policy<FailurePolicy>("PyFailurePolicy"));
}

}  // namespace kelo::py
