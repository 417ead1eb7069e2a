// The registered provider descriptors, indexed by element type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "graph/element_type.h"
#include "provider/descriptor.h"
#include "support/seeded_hash.h"
#include "support/shared.h"

namespace kelo_core::provider {

// One list per element type, in registration order. A descriptor that
// declares n element types makes n entries, one in each list (a type
// declared twice gets two), but is stored only once: the lists share it,
// and since it never changes, sharing cannot be told apart from copies.
class ProviderRegistry {
 public:
  // Beside the shared descriptor, what the selection policies read of it,
  // so that walking a list does not visit every descriptor.
  struct Entry {
    Shared<ProviderDescriptor> descriptor;
    std::span<const Capability> capabilities;  // the descriptor's own
    std::int32_t priority;
    std::uint16_t kinds;  // bit k set: some capability is of kind k
    std::size_t id_hash;  // SeededHash of the descriptor's id
    // One bit per custom tag, picked by tag_bit(): a requirement whose tag's
    // bit is clear is not met, without a tag being read.
    std::uint64_t tag_bits;
    bool offers(Capability::Kind k) const { return (kinds >> static_cast<unsigned>(k)) & 1u; }
    bool may_offer_tag(std::uint64_t bit) const { return (tag_bits & bit) != 0; }
  };

  // The bit of the custom tag prefix + name (FNV-1a over its bytes).
  static std::uint64_t tag_bit(std::string_view prefix, std::string_view name) {
    std::uint64_t h = 0xCBF29CE484222325ULL;
    for (std::string_view part : {prefix, name}) {
      for (char c : part) h = (h ^ std::uint8_t(c)) * 0x100000001B3ULL;
    }
    return std::uint64_t(1) << (h >> 58);
  }

  static_assert(kCapabilityKinds.size() <= 16, "one bit of Entry::kinds per capability kind");

  // Appends the descriptor to the list of each type it declares, in
  // declared order. A descriptor that declares no type is dropped.
  void register_provider(ProviderDescriptor descriptor);
  // The same, sharing the caller's descriptor (it never changes).
  void register_provider(Shared<ProviderDescriptor> descriptor);

  // The entries of one element type, in registration order; empty when
  // none. Valid until the next registration.
  std::span<const Entry> find(const graph::ElementTypeId& type) const;

  // The number of entries: the lengths of all lists added up.
  std::size_t len() const { return entries_; }
  bool is_empty() const { return entries_ == 0; }

 private:
  std::unordered_map<graph::ElementTypeId, std::vector<Entry>, SeededHash> lists_;
  std::size_t entries_ = 0;
};

}  // namespace kelo_core::provider
