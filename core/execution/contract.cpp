#include "execution/contract.h"

namespace kelo_core::execution {

namespace {

// A name per alternative, in alternative order.
template <class Variant, std::size_t N>
std::string_view name_of(const Variant& v, const std::array<std::string_view, N>& names) {
  static_assert(std::variant_size_v<Variant> == N);
  return names[v.index()];
}

}  // namespace

std::optional<std::uint64_t> Concurrency::max_concurrent() const {
  if (std::holds_alternative<Serialized>(kind)) return 1;
  if (const auto* l = std::get_if<Limited>(&kind)) return l->n;
  return std::nullopt;
}

std::string debug(const Concurrency& c) {
  if (std::holds_alternative<Concurrency::Serialized>(c.kind)) return "Serialized";
  if (const auto* l = std::get_if<Concurrency::Limited>(&c.kind)) {
    return "Limited(" + std::to_string(l->n) + ")";
  }
  return "Unrestricted";
}

std::string_view InputRelation::kind_name() const {
  static constexpr std::array<std::string_view, 6> names = {
      "independent", "synchronized", "timestamp_matched", "latest_value", "windowed", "explicit_join"};
  return name_of(kind, names);
}

ExecutionContract ExecutionContract::permissive() {
  ExecutionContract c;
  c.ordering = OrderingRequirement::AllowReorder;
  c.output_coupling = OutputCoupling::Independent;
  c.failure_policy = FailurePolicy::Skip;
  return c;
}

std::string_view ControlSignal::kind_name() const {
  static constexpr std::array<std::string_view, 5> names = {"flush", "eos", "cancel", "stop", "seek"};
  return name_of(kind, names);
}

std::optional<std::uint64_t> ControlSignal::target_ns() const {
  if (const auto* s = std::get_if<Seek>(&kind)) return s->target_ns;
  return std::nullopt;
}

}  // namespace kelo_core::execution
