#include "provider/selection.h"

#include <algorithm>
#include <string>
#include <unordered_set>

namespace kelo_core::provider {

namespace {

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

bool offers(std::span<const Capability> capabilities, Capability::Kind kind) {
  return std::any_of(capabilities.begin(), capabilities.end(),
                     [kind](const Capability& c) { return c.kind == kind; });
}

bool offers_custom(std::span<const Capability> capabilities, std::string_view prefix,
                   std::string_view name) {
  return std::any_of(capabilities.begin(), capabilities.end(),
                     [&](const Capability& c) { return c.is_custom(prefix, name); });
}

// A candidate's custom tags, hashed on the first requirement that names one
// when the candidate has too many capabilities to scan per requirement, so
// that a call is linear in requirements plus capabilities.
class CustomTags {
 public:
  explicit CustomTags(std::span<const Capability> capabilities) : capabilities_(capabilities) {}

  bool contains(std::string_view prefix, std::string_view name) {
    constexpr std::size_t kScanned = 16;
    if (capabilities_.size() <= kScanned) return offers_custom(capabilities_, prefix, name);
    if (!indexed_) {
      tags_.reserve(capabilities_.size());
      for (const Capability& c : capabilities_) {
        if (c.is_custom()) tags_.insert(c.tag);
      }
      indexed_ = true;
    }
    key_.assign(prefix).append(name);
    return tags_.contains(key_);
  }

 private:
  std::span<const Capability> capabilities_;
  bool indexed_ = false;
  std::unordered_set<std::string_view> tags_;
  std::string key_;
};

// satisfies() for a registered candidate: its capabilities are visited
// only to match custom tags.
bool meets(const Requirement& r, const ProviderRegistry::Entry& e, CustomTags& tags) {
  using K = Requirement::Kind;
  switch (r.kind) {
    case K::CudaRequired:
    case K::GpuMemory: return e.offers(Capability::Kind::Cuda);
    case K::Accelerator:
      return e.offers(Capability::Kind::Custom) && tags.contains("accelerator:", r.text);
    case K::ExternalRuntime:
      return e.offers(Capability::Kind::Custom) && tags.contains("runtime:", r.text);
    case K::OperatingSystem:
    case K::Custom: return satisfies(r, {});
  }
  return false;
}

}  // namespace

std::string_view message(SelectionError e) {
  switch (e) {
    case SelectionError::NoProvidersFound: return "no providers found";
    case SelectionError::NoProviderSatisfiesRequirements: return "no provider satisfies requirements";
    case SelectionError::ProviderNotFound: return "provider not found";
  }
  return "provider not found";
}

bool satisfies(const Requirement& r, std::span<const Capability> capabilities) {
  using K = Requirement::Kind;
  switch (r.kind) {
    case K::CudaRequired:
    case K::GpuMemory:  // the byte count is advisory
      return offers(capabilities, Capability::Kind::Cuda);
    case K::Accelerator: return offers_custom(capabilities, "accelerator:", r.text);
    case K::ExternalRuntime: return offers_custom(capabilities, "runtime:", r.text);
    case K::OperatingSystem: return equal_ignoring_ascii_case(r.text, kOperatingSystem);
    case K::Custom: return true;  // opaque to selection
  }
  return false;
}

Selection choose_provider(const graph::ElementTypeId& type, const ProviderRegistry& registry,
                          std::span<const Requirement> requirements, const SelectionPolicy& policy) {
  std::span<const ProviderRegistry::Entry> candidates = registry.find(type);
  if (candidates.empty()) return {nullptr, SelectionError::NoProvidersFound};

  // Without requirements every candidate survives, and the policies read
  // only what the entries keep beside their descriptors.
  const bool filter = !requirements.empty();
  const std::size_t wanted =
      policy.kind == SelectionPolicy::Kind::Manual ? SeededHash()(policy.id) : 0;
  const ProviderRegistry::Entry* best = nullptr;
  bool any_survives = false;
  for (const ProviderRegistry::Entry& e : candidates) {
    if (filter) {
      CustomTags tags(e.capabilities);
      if (!std::all_of(requirements.begin(), requirements.end(),
                       [&](const Requirement& r) { return meets(r, e, tags); })) {
        continue;
      }
    }
    any_survives = true;
    switch (policy.kind) {
      case SelectionPolicy::Kind::FirstAvailable: return {e.descriptor.get(), {}};
      case SelectionPolicy::Kind::Manual:
        if (e.id_hash == wanted && e.descriptor->id == policy.id) return {e.descriptor.get(), {}};
        break;
      case SelectionPolicy::Kind::HighestPriority:
        // Ties go to the later candidate.
        if (!best || e.priority >= best->priority) best = &e;
        break;
    }
  }
  if (!any_survives) return {nullptr, SelectionError::NoProviderSatisfiesRequirements};
  if (!best) return {nullptr, SelectionError::ProviderNotFound};
  return {best->descriptor.get(), {}};
}

Result<ProviderDescriptor> select_provider(const graph::ElementTypeId& type,
                                           const ProviderRegistry& registry,
                                           std::span<const Requirement> requirements,
                                           const SelectionPolicy& policy) {
  Selection s = choose_provider(type, registry, requirements, policy);
  if (!s) return Error::value(std::string(message(s.error)));
  return *s.chosen;
}

}  // namespace kelo_core::provider
