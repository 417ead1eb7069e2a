#include "provider/selection.h"

#include <algorithm>
#include <vector>

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

// The tag prefix a requirement matches custom capabilities by, if any.
std::string_view tag_prefix(const Requirement& r) {
  switch (r.kind) {
    case Requirement::Kind::Accelerator: return "accelerator:";
    case Requirement::Kind::ExternalRuntime: return "runtime:";
    default: return {};
  }
}

// satisfies() for a registered candidate, through its capability index;
// `hash` is the tag_hash of the tag the requirement names, if it names one.
bool meets(const Requirement& r, std::uint64_t hash, const ProviderRegistry::Entry& e) {
  using K = Requirement::Kind;
  switch (r.kind) {
    case K::CudaRequired:
    case K::GpuMemory: return e.offers(Capability::Kind::Cuda);
    case K::Accelerator:
    case K::ExternalRuntime:
      return e.offers(Capability::Kind::Custom) && e.offers_custom(hash, tag_prefix(r), r.text);
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
  if (candidates.empty()) return {nullptr, nullptr, SelectionError::NoProvidersFound};

  // Without requirements every candidate survives, and the policies read
  // only what the entries keep beside their descriptors.
  const bool filter = !requirements.empty();
  const std::size_t wanted =
      policy.kind == SelectionPolicy::Kind::Manual ? SeededHash()(policy.id) : 0;
  // Each requirement's tag is hashed once, not once per candidate.
  constexpr std::size_t kInline = 8;
  std::uint64_t inline_hashes[kInline];
  std::vector<std::uint64_t> more;
  std::uint64_t* hashes = inline_hashes;
  if (requirements.size() > kInline) {
    more.resize(requirements.size());
    hashes = more.data();
  }
  for (std::size_t i = 0; i < requirements.size(); ++i) {
    const std::string_view prefix = tag_prefix(requirements[i]);
    hashes[i] = prefix.empty() ? 0 : ProviderRegistry::tag_hash(prefix, requirements[i].text);
  }
  const ProviderRegistry::Entry* best = nullptr;
  bool any_survives = false;
  for (const ProviderRegistry::Entry& e : candidates) {
    if (filter) {
      bool all = true;
      for (std::size_t i = 0; all && i < requirements.size(); ++i) all = meets(requirements[i], hashes[i], e);
      if (!all) continue;
    }
    any_survives = true;
    switch (policy.kind) {
      case SelectionPolicy::Kind::FirstAvailable: return {e.descriptor.get(), &e.descriptor, {}};
      case SelectionPolicy::Kind::Manual:
        if (e.id_hash == wanted && e.descriptor->id == policy.id) {
          return {e.descriptor.get(), &e.descriptor, {}};
        }
        break;
      case SelectionPolicy::Kind::HighestPriority:
        // Ties go to the later candidate.
        if (!best || e.priority >= best->priority) best = &e;
        break;
    }
  }
  if (!any_survives) return {nullptr, nullptr, SelectionError::NoProviderSatisfiesRequirements};
  if (!best) return {nullptr, nullptr, SelectionError::ProviderNotFound};
  return {best->descriptor.get(), &best->descriptor, {}};
}

Result<Shared<ProviderDescriptor>> select_shared(const graph::ElementTypeId& type,
                                                 const ProviderRegistry& registry,
                                                 std::span<const Requirement> requirements,
                                                 const SelectionPolicy& policy) {
  Selection s = choose_provider(type, registry, requirements, policy);
  if (!s) return Error::value(std::string(message(s.error)));
  return *s.shared;
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
