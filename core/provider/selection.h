// Choosing one provider for an element type: the registry's candidates,
// filtered by the caller's requirements, then picked by a policy.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "graph/element_type.h"
#include "provider/capability.h"
#include "provider/descriptor.h"
#include "provider/registry.h"
#include "support/result.h"

namespace kelo_core::provider {

// The operating system this library is built for, as `operating_system`
// requirements name it.
#if defined(__APPLE__)
inline constexpr std::string_view kOperatingSystem = "macos";
#elif defined(__linux__)
inline constexpr std::string_view kOperatingSystem = "linux";
#elif defined(_WIN32)
inline constexpr std::string_view kOperatingSystem = "windows";
#elif defined(__FreeBSD__)
inline constexpr std::string_view kOperatingSystem = "freebsd";
#else
inline constexpr std::string_view kOperatingSystem = "unknown";
#endif

struct SelectionPolicy {
  enum class Kind : std::uint8_t { HighestPriority, FirstAvailable, Manual };
  // The kinds as description files write them, by index.
  static constexpr std::array<std::string_view, 3> kKindNames = {"highest_priority",
                                                                 "first_available", "manual"};
  Kind kind = Kind::HighestPriority;
  ProviderId id;  // Manual only

  static SelectionPolicy highest_priority() { return {Kind::HighestPriority, {}}; }
  static SelectionPolicy first_available() { return {Kind::FirstAvailable, {}}; }
  static SelectionPolicy manual(ProviderId id) { return {Kind::Manual, std::move(id)}; }
};

enum class SelectionError : std::uint8_t {
  NoProvidersFound,
  NoProviderSatisfiesRequirements,
  ProviderNotFound,
};

// "no providers found", "no provider satisfies requirements", "provider not found"
std::string_view message(SelectionError e);

// Whether a candidate offering `capabilities` meets the requirement.
bool satisfies(const Requirement& r, std::span<const Capability> capabilities);

// How a requirement is met, by kind:
//
//   kind               met when the candidate offers    basis
//   cuda_required      cuda                             evidence
//   gpu_memory:N       cuda (N is not compared: no      assumption
//                      capability states a memory size)
//   accelerator:X      custom:accelerator:X             evidence
//   external_runtime:X custom:runtime:X                 evidence
//   operating_system:X nothing: X names the host this   assumption
//                      library is built for (ASCII case
//                      ignored), whatever the candidate
//   custom:<tag>       nothing: always met, opaque to   assumption
//                      selection
//
// A requirement met by evidence is met because the candidate declares a
// capability for it; one met by assumption is met without anything the
// candidate declares that bears it out.
enum class Basis : std::uint8_t { Evidence, Assumption };
Basis basis(Requirement::Kind kind);

// The requirements of one selection, read where they lie: a list of
// values, or pointers to values their holders keep (the objects a caller
// passed), so that a selection copies none.
class RequirementList {
 public:
  RequirementList() = default;
  RequirementList(std::span<const Requirement> values)
      : items_(values.data()), size_(values.size()), pointers_(false) {}
  RequirementList(const std::vector<Requirement>& values)
      : RequirementList(std::span<const Requirement>(values)) {}
  RequirementList(std::span<const Requirement* const> pointers)
      : items_(pointers.data()), size_(pointers.size()), pointers_(true) {}

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const Requirement& operator[](std::size_t i) const {
    return pointers_ ? *static_cast<const Requirement* const*>(items_)[i]
                     : static_cast<const Requirement*>(items_)[i];
  }

 private:
  // Two words, so that the list is passed in registers.
  const void* items_ = nullptr;
  std::size_t size_ : 63 = 0;
  std::size_t pointers_ : 1 = 0;  // items_ holds pointers to the values
};

// The chosen descriptor as the registry stores it, or why there is none.
struct Selection {
  const ProviderDescriptor* chosen = nullptr;
  SelectionError error{};
  explicit operator bool() const { return chosen != nullptr; }
};

// One pass over the candidates, reading the registry's entries only;
// nothing is copied. Custom tags are matched by the numbers the registry
// gave them; a candidate with a tag past the numbered ones has its
// capabilities read (and, when many, its custom tags hashed once) for a
// requirement naming a tag without a number.
Selection choose_provider(const graph::ElementTypeId& type, const ProviderRegistry& registry,
                          RequirementList requirements, const SelectionPolicy& policy);

// Why one candidate was or was not chosen.
enum class Verdict : std::uint8_t {
  Chosen,
  FailsRequirement,  // `requirement` is the index of the first one it fails
  Outranked,         // it survived, and the policy preferred another survivor
  NotManualChoice,   // it survived, but a manual policy names another id
};

// "chosen", "fails_requirement", "outranked", "not_manual_choice"
std::string_view verdict_name(Verdict v);

struct CandidateVerdict {
  const ProviderDescriptor* descriptor = nullptr;  // as the registry stores it
  Verdict verdict = Verdict::Chosen;
  std::size_t requirement = 0;  // FailsRequirement only
  // The requirements it meets by assumption (Basis), in order: of those it
  // was tested against (all, or those before the one it fails).
  std::vector<std::size_t> assumed;
};

// choose_provider's answer, with a verdict for every candidate in the
// registry's order, reached by the same rules in the same pass.
struct SelectionExplanation {
  Selection selection;
  std::vector<CandidateVerdict> candidates;
};

SelectionExplanation explain_selection(const graph::ElementTypeId& type,
                                       const ProviderRegistry& registry,
                                       RequirementList requirements,
                                       const SelectionPolicy& policy);

// The chosen descriptor, shared with the registry (it never changes), or a
// Value error with the message.
Result<Shared<ProviderDescriptor>> select_shared(const graph::ElementTypeId& type,
                                                 const ProviderRegistry& registry,
                                                 RequirementList requirements,
                                                 const SelectionPolicy& policy);
// The same, given ProviderRegistry::type_hash(type) worked out beforehand.
Result<Shared<ProviderDescriptor>> select_shared(const graph::ElementTypeId& type,
                                                 std::uint32_t type_hash,
                                                 const ProviderRegistry& registry,
                                                 RequirementList requirements,
                                                 const SelectionPolicy& policy);

Result<ProviderDescriptor> select_provider(const graph::ElementTypeId& type,
                                           const ProviderRegistry& registry,
                                           RequirementList requirements,
                                           const SelectionPolicy& policy);

}  // namespace kelo_core::provider
