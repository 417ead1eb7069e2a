#include "provider/selection.h"

#include <algorithm>
#include <optional>
#include <string>
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

// A candidate's custom tags, for a requirement naming a tag that the
// registry gave no number (ProviderRegistry::tag_bit): scanned, or hashed
// on first use when the candidate has too many capabilities to scan per
// requirement, so that a call is linear in requirements plus
// capabilities. One flat table with open addressing: a slot holds a tag's
// index plus one (0 is empty). The descriptor is read only when needed.
class CustomTags {
 public:
  explicit CustomTags(const ProviderDescriptor& descriptor) : descriptor_(descriptor) {}

  bool contains(std::string_view prefix, std::string_view name) {
    constexpr std::size_t kScanned = 16;
    std::span<const Capability> capabilities = descriptor_.capabilities;
    if (capabilities.size() <= kScanned) return offers_custom(capabilities, prefix, name);
    if (slots_.empty()) index(capabilities);
    key_.assign(prefix).append(name);
    for (std::size_t i = std::hash<std::string_view>()(key_) & mask_;; i = (i + 1) & mask_) {
      if (slots_[i] == 0) return false;
      if (capabilities[slots_[i] - 1].tag == key_) return true;
    }
  }

 private:
  void index(std::span<const Capability> capabilities) {
    std::size_t size = 2;
    while (size < 2 * capabilities.size()) size <<= 1;
    slots_.assign(size, 0);
    mask_ = size - 1;
    for (std::size_t c = 0; c < capabilities.size(); ++c) {
      if (!capabilities[c].is_custom()) continue;
      std::size_t i = std::hash<std::string_view>()(capabilities[c].tag) & mask_;
      while (slots_[i] != 0) i = (i + 1) & mask_;
      slots_[i] = std::uint32_t(c + 1);
    }
  }

  const ProviderDescriptor& descriptor_;
  std::vector<std::uint32_t> slots_;
  std::size_t mask_ = 0;
  std::string key_;
};

// The custom tag prefix a requirement names its tag under, by its index
// in ProviderRegistry::kTagPrefixes (accelerator and external_runtime only).
std::size_t tag_prefix(const Requirement& r) {
  return r.kind == Requirement::Kind::Accelerator ? 0 : 1;
}

// A requirement as a test of a registry entry, worked out once per
// selection: satisfies() reduced to the bits the entry keeps.
struct Test {
  enum class How : std::uint8_t {
    Kinds,  // met when the entry offers a kind among `bits`
    Tag,    // met when the entry's tag_bits has `bits`
    Always,
    Never,
    Scan,   // a tag without a number: looked for among the capabilities
  };
  How how;
  std::uint64_t bits;
};

Test test_of(const Requirement& r, const ProviderRegistry& registry) {
  using K = Requirement::Kind;
  switch (r.kind) {
    case K::CudaRequired:
    case K::GpuMemory:
      return {Test::How::Kinds, std::uint64_t(1) << static_cast<unsigned>(Capability::Kind::Cuda)};
    case K::Accelerator:
    case K::ExternalRuntime: {
      const std::uint64_t bit = registry.tag_bit(tag_prefix(r), r.text);
      return bit ? Test{Test::How::Tag, bit} : Test{Test::How::Scan, 0};
    }
    case K::OperatingSystem:
    case K::Custom: return {satisfies(r, {}) ? Test::How::Always : Test::How::Never, 0};
  }
  return {Test::How::Never, 0};
}

bool passes(const Test& t, const Requirement& r, const ProviderRegistry::Entry& e,
            std::optional<CustomTags>& tags) {
  switch (t.how) {
    case Test::How::Kinds: return (e.kinds & t.bits) != 0;
    case Test::How::Tag: return (e.tag_bits & t.bits) != 0;
    case Test::How::Always: return true;
    case Test::How::Never: return false;
    case Test::How::Scan:
      if (!e.unnumbered_tags) return false;
      if (!tags) tags.emplace(*e.descriptor);
      return tags->contains(ProviderRegistry::kTagPrefixes[tag_prefix(r)], r.text);
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

Basis basis(Requirement::Kind kind) {
  using K = Requirement::Kind;
  switch (kind) {
    case K::CudaRequired:
    case K::Accelerator:
    case K::ExternalRuntime: return Basis::Evidence;
    case K::GpuMemory:
    case K::OperatingSystem:
    case K::Custom: return Basis::Assumption;
  }
  return Basis::Assumption;
}

namespace {

// The requirements as tests (the first kTests of them; the rest are
// worked out per candidate), with the bits that all of them together ask
// of an entry when every one is a test of bits.
class Tests {
 public:
  Tests(RequirementList list, const ProviderRegistry& registry) : list_(list), registry_(registry) {
    const std::size_t n = std::min(kTests, list.size());
    bits_only_ = n == list.size();
    for (std::size_t i = 0; i < n; ++i) {
      tests_[i] = test_of(list[i], registry);
      switch (tests_[i].how) {
        case Test::How::Kinds: kinds_ |= tests_[i].bits; break;
        case Test::How::Tag: tags_ |= tests_[i].bits; break;
        case Test::How::Always: break;
        case Test::How::Never:
        case Test::How::Scan: bits_only_ = false; break;
      }
    }
  }

  // Whether the candidate meets them all.
  bool all_met(const ProviderRegistry::Entry& e) const {
    if (bits_only_) return (e.kinds & kinds_) == kinds_ && (e.tag_bits & tags_) == tags_;
    return first_unmet(e) == std::size_t(-1);
  }

  // The first requirement the candidate fails, or npos when it meets them all.
  std::size_t first_unmet(const ProviderRegistry::Entry& e) const {
    if (bits_only_ && (e.kinds & kinds_) == kinds_ && (e.tag_bits & tags_) == tags_) {
      return std::size_t(-1);
    }
    std::optional<CustomTags> tags;
    for (std::size_t i = 0; i < list_.size(); ++i) {
      const Requirement& r = list_[i];
      if (!passes(i < kTests ? tests_[i] : test_of(r, registry_), r, e, tags)) return i;
    }
    return std::size_t(-1);
  }

 private:
  static constexpr std::size_t kTests = 16;
  RequirementList list_;
  const ProviderRegistry& registry_;
  std::array<Test, kTests> tests_;  // the first min(kTests, size) are set
  std::uint64_t kinds_ = 0, tags_ = 0;
  bool bits_only_ = true;
};

// The one walk over the candidates behind both choose_provider and
// explain_selection: the requirement filter, then the policy over the
// survivors. With `all`, `note(i, unmet)` hears of every candidate i
// before the policy looks at it; without, the walk stops as soon as the
// choice is certain. *chosen_at receives the chosen candidate's index.
template <bool all, class Note>
Selection walk(std::span<const ProviderRegistry::Entry> candidates,
               const ProviderRegistry& registry, RequirementList requirements,
               const SelectionPolicy& policy, [[maybe_unused]] Note&& note,
               std::size_t* chosen_at = nullptr) {
  if (candidates.empty()) return {nullptr, SelectionError::NoProvidersFound};
  // Without requirements every candidate survives, and the policies read
  // only what the entries keep beside their descriptors.
  const bool filter = !requirements.empty();
  const Tests tests(requirements, registry);
  const std::uint32_t wanted =
      policy.kind == SelectionPolicy::Kind::Manual ? ProviderRegistry::id_hash(policy.id) : 0;
  const ProviderRegistry::Entry* best = nullptr;
  bool any_survives = false;
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const ProviderRegistry::Entry& e = candidates[i];
    if constexpr (all) {
      const std::size_t unmet = filter ? tests.first_unmet(e) : std::size_t(-1);
      note(i, unmet);
      if (unmet != std::size_t(-1)) continue;
    } else {
      if (filter && !tests.all_met(e)) continue;
    }
    any_survives = true;
    switch (policy.kind) {
      case SelectionPolicy::Kind::FirstAvailable:
        if (!best) best = &e;
        if (!all) break;
        continue;
      case SelectionPolicy::Kind::Manual:
        if (!best && e.id_hash == wanted && e.descriptor->id == policy.id) {
          best = &e;
          if (!all) break;
        }
        continue;
      case SelectionPolicy::Kind::HighestPriority:
        // Ties go to the later candidate.
        if (!best || e.priority >= best->priority) best = &e;
        continue;
    }
    break;  // the choice is certain
  }
  if (!any_survives) return {nullptr, SelectionError::NoProviderSatisfiesRequirements};
  if (!best) return {nullptr, SelectionError::ProviderNotFound};
  if (chosen_at) *chosen_at = std::size_t(best - candidates.data());
  return {best->descriptor.get(), {}};
}

}  // namespace

Selection choose_provider(const graph::ElementTypeId& type, const ProviderRegistry& registry,
                          RequirementList requirements, const SelectionPolicy& policy) {
  return walk<false>(registry.find(type), registry, requirements, policy,
                     [](std::size_t, std::size_t) {});
}

std::string_view verdict_name(Verdict v) {
  switch (v) {
    case Verdict::Chosen: return "chosen";
    case Verdict::FailsRequirement: return "fails_requirement";
    case Verdict::Outranked: return "outranked";
    case Verdict::NotManualChoice: return "not_manual_choice";
  }
  return "chosen";
}

SelectionExplanation explain_selection(const graph::ElementTypeId& type,
                                       const ProviderRegistry& registry,
                                       RequirementList requirements,
                                       const SelectionPolicy& policy) {
  std::span<const ProviderRegistry::Entry> candidates = registry.find(type);
  SelectionExplanation out;
  out.candidates.resize(candidates.size());
  std::vector<std::size_t> assumed;
  for (std::size_t r = 0; r < requirements.size(); ++r) {
    if (basis(requirements[r].kind) == Basis::Assumption) assumed.push_back(r);
  }
  std::size_t chosen_at = candidates.size();
  out.selection = walk<true>(
      candidates, registry, requirements, policy,
      [&](std::size_t i, std::size_t unmet) {
        CandidateVerdict& v = out.candidates[i];
        v.descriptor = candidates[i].descriptor.get();
        if (unmet != std::size_t(-1)) {
          v.verdict = Verdict::FailsRequirement;
          v.requirement = unmet;
        }
        v.assumed.assign(assumed.begin(),
                         std::lower_bound(assumed.begin(), assumed.end(), unmet));
      },
      &chosen_at);
  for (std::size_t i = 0; i < out.candidates.size(); ++i) {
    CandidateVerdict& v = out.candidates[i];
    if (v.verdict == Verdict::FailsRequirement) continue;
    if (i == chosen_at) {
      v.verdict = Verdict::Chosen;
    } else if (policy.kind == SelectionPolicy::Kind::Manual && !(v.descriptor->id == policy.id)) {
      v.verdict = Verdict::NotManualChoice;
    } else {
      v.verdict = Verdict::Outranked;
    }
  }
  return out;
}

Result<Shared<ProviderDescriptor>> select_shared(const graph::ElementTypeId& type,
                                                 const ProviderRegistry& registry,
                                                 RequirementList requirements,
                                                 const SelectionPolicy& policy) {
  return select_shared(type, ProviderRegistry::type_hash(type), registry, requirements, policy);
}

Result<Shared<ProviderDescriptor>> select_shared(const graph::ElementTypeId& type,
                                                 std::uint32_t type_hash,
                                                 const ProviderRegistry& registry,
                                                 RequirementList requirements,
                                                 const SelectionPolicy& policy) {
  std::span<const ProviderRegistry::Entry> candidates = registry.find(type, type_hash);
  std::size_t at = 0;
  Selection s =
      walk<false>(candidates, registry, requirements, policy, [](std::size_t, std::size_t) {}, &at);
  if (!s) return Error::value(std::string(message(s.error)));
  return candidates[at].descriptor;
}

Result<ProviderDescriptor> select_provider(const graph::ElementTypeId& type,
                                           const ProviderRegistry& registry,
                                           RequirementList requirements,
                                           const SelectionPolicy& policy) {
  Selection s = choose_provider(type, registry, requirements, policy);
  if (!s) return Error::value(std::string(message(s.error)));
  return *s.chosen;
}

}  // namespace kelo_core::provider
