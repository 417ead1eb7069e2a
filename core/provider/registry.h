// The registered provider descriptors, indexed by element type.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
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
  // Beside the shared descriptor, what the selection policies and the
  // requirement filter read of it, so that walking a list reads one small
  // record per candidate and never visits a descriptor.
  struct Entry {
    Shared<ProviderDescriptor> descriptor;
    // Bit i set: the descriptor offers the custom tag numbered i (tag_bit()).
    std::uint64_t tag_bits;
    std::int32_t priority;
    std::uint32_t id_hash;  // id_hash() of the descriptor's id
    std::uint16_t kinds;    // bit k set: some capability is of kind k
    // Some custom tag of the descriptor was registered after the numbers
    // ran out: a tag without a number must be looked for among its
    // capabilities.
    bool unnumbered_tags;
    bool offers(Capability::Kind k) const { return (kinds >> static_cast<unsigned>(k)) & 1u; }
  };

  static_assert(kCapabilityKinds.size() <= 16, "one bit of Entry::kinds per capability kind");

  // Appends the descriptor to the list of each type it declares, in
  // declared order. A descriptor that declares no type is dropped.
  void register_provider(ProviderDescriptor descriptor);
  // The same, sharing the caller's descriptor (it never changes).
  void register_provider(Shared<ProviderDescriptor> descriptor);

  // The entries of one element type, in registration order; empty when
  // none. Valid until the next registration.
  std::span<const Entry> find(const graph::ElementTypeId& type) const {
    return find(type, type_hash(type));
  }
  // The same, given type_hash(type) worked out beforehand (a caller that
  // looks the same type up again and again keeps it).
  std::span<const Entry> find(const graph::ElementTypeId& type, std::uint32_t hash) const;

  // The lookup hash of an element type: SeededHash folded to 32 bits, the
  // same for every registry of the process.
  static std::uint32_t type_hash(const graph::ElementTypeId& type) {
    return fold(SeededHash()(type));
  }
  // Entry::id_hash of a provider id.
  static std::uint32_t id_hash(const ProviderId& id) { return fold(SeededHash()(id)); }

  // Requirements name custom tags under these prefixes ("accelerator:tpu");
  // a tag under none of them meets no requirement.
  static constexpr std::array<std::string_view, 2> kTagPrefixes = {"accelerator:", "runtime:"};
  // The first kTagBits distinct custom tags registered under one of
  // kTagPrefixes get a number each, in order of first registration: the bit
  // of the tag kTagPrefixes[prefix] + name in Entry::tag_bits, or 0 when
  // the tag has no number (no entry offers it, unless its unnumbered_tags
  // is set).
  static constexpr std::size_t kTagBits = 64;
  std::uint64_t tag_bit(std::size_t prefix, std::string_view name) const;

  // The number of entries: the lengths of all lists added up.
  std::size_t len() const { return entries_; }
  bool is_empty() const { return entries_ == 0; }

 private:
  // One element type's list, held in its slot of the table (so that a
  // lookup reads the slot and the entries, and the type's text when short).
  struct List {
    std::uint32_t hash = 0;  // type_hash of the type
    std::uint32_t size = 0;  // of the type's text
    std::vector<Entry> entries;  // empty: a free slot
    std::unique_ptr<char[]> long_text;  // the text when longer than short_text
    char short_text[24];

    List() = default;
    List(const List& o);
    List(List&&) noexcept = default;
    List& operator=(const List& o) { return *this = List(o); }
    List& operator=(List&&) noexcept = default;

    const char* text() const { return size <= sizeof short_text ? short_text : long_text.get(); }
    bool is(const graph::ElementTypeId& type, std::uint32_t h) const;
  };
  // A numbered tag: its prefix's index, a quick fingerprint of its name
  // (name_print), and its name.
  struct Tag {
    std::size_t prefix;
    std::uint32_t print;
    std::string name;
  };

  static std::uint32_t fold(std::size_t h) { return std::uint32_t(h ^ (std::uint64_t(h) >> 32)); }
  static std::uint32_t name_print(std::string_view name) {
    return name.empty() ? 0 : std::uint32_t(name.size() << 16 | std::uint8_t(name.front()) << 8 |
                                            std::uint8_t(name.back()));
  }
  // The slot of the type's list, or npos.
  std::size_t find_slot(const graph::ElementTypeId& type, std::uint32_t hash) const;
  // Room in the table for `more` lists beyond those there are.
  void reserve_slots(std::size_t more);
  // Makes an empty list for the type in a free slot; returns the slot.
  std::size_t make_list(const graph::ElementTypeId& type, std::uint32_t hash);

  // The lists, found by open addressing with linear probing over a
  // power-of-two table at most half full, starting at the slot of the
  // type's hash.
  std::vector<List> slots_;
  std::size_t lists_ = 0;
  std::vector<Tag> tags_;  // the numbered tags, by number
  std::size_t entries_ = 0;
};

}  // namespace kelo_core::provider
