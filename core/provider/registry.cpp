#include "provider/registry.h"

#include <stdexcept>
#include <vector>

namespace kelo_core::provider {

namespace {
constexpr std::size_t kNone = std::size_t(-1);
}  // namespace

void ProviderRegistry::register_provider(ProviderDescriptor descriptor) {
  if (descriptor.element_types.empty()) return;
  register_provider(Shared<ProviderDescriptor>::of(std::move(descriptor)));
}

void ProviderRegistry::register_provider(Shared<ProviderDescriptor> descriptor) {
  if (descriptor->element_types.empty()) return;
  Entry entry{std::move(descriptor), 0, 0, 0, 0, false};
  entry.priority = entry.descriptor->priority;
  entry.id_hash = id_hash(entry.descriptor->id);
  // All or nothing: what could fail (the tables' growth, the bookkeeping)
  // comes first, and an append that fails undoes the appends, the lists and
  // the tag numbers made before it, with operations that cannot fail.
  const std::size_t tags_before = tags_.size();
  const std::size_t lists_before = lists_.size();
  const auto& types = entry.descriptor->element_types;
  std::vector<std::vector<Entry>*> appended;
  appended.reserve(types.size());
  // At most this many new lists: growing once beats growing along the way.
  lists_.reserve(lists_.size() + types.size());
  reserve_slots(types.size());
  tags_.reserve(kTagBits);
  try {
    for (const Capability& c : entry.descriptor->capabilities) {
      entry.kinds = std::uint16_t(entry.kinds | (1u << static_cast<unsigned>(c.kind)));
      if (!c.is_custom()) continue;
      std::size_t prefix = 0;
      while (prefix < kTagPrefixes.size() && !c.tag.starts_with(kTagPrefixes[prefix])) ++prefix;
      if (prefix == kTagPrefixes.size()) continue;
      const std::string_view name = std::string_view(c.tag).substr(kTagPrefixes[prefix].size());
      std::uint64_t bit = tag_bit(prefix, name);
      if (bit == 0 && tags_.size() < kTagBits) {
        tags_.push_back({prefix, name_print(name), std::string(name)});
        bit = std::uint64_t(1) << (tags_.size() - 1);
      }
      if (bit == 0) entry.unnumbered_tags = true;
      entry.tag_bits |= bit;
    }
    for (const graph::ElementTypeId& type : types) {
      const std::uint32_t hash = type_hash(type);
      std::size_t at = find_list(type, hash);
      if (at == kNone) {
        at = lists_.size();
        lists_.push_back({type, {}});  // within the reserved room
        insert_slot(hash, at);
      }
      lists_[at].entries.push_back(entry);
      appended.push_back(&lists_[at].entries);
    }
  } catch (...) {
    for (auto it = appended.rbegin(); it != appended.rend(); ++it) (*it)->pop_back();
    // The lists made, newest first: with linear probing, a key inserted
    // after all others is removed by clearing its slot.
    while (lists_.size() > lists_before) {
      const std::size_t last = lists_.size() - 1;
      for (std::uint64_t& slot : slots_) {
        if ((slot & 0xFFFFFFFF) == last + 1) {
          slot = 0;
          break;
        }
      }
      lists_.pop_back();
    }
    tags_.resize(tags_before);
    throw;
  }
  entries_ += types.size();
}

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type,
                                                                std::uint32_t hash) const {
  const std::size_t at = find_list(type, hash);
  if (at == kNone) return {};
  return lists_[at].entries;
}

std::size_t ProviderRegistry::find_list(const graph::ElementTypeId& type, std::uint32_t hash) const {
  if (slots_.empty()) return kNone;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint64_t slot = slots_[i];
    if (slot == 0) return kNone;
    if (std::uint32_t(slot >> 32) != hash) continue;
    const std::size_t at = std::size_t(slot & 0xFFFFFFFF) - 1;
    if (lists_[at].type == type) return at;
  }
}

void ProviderRegistry::reserve_slots(std::size_t more) {
  const std::size_t wanted = lists_.size() + more;
  if (wanted > 0xFFFFFFFE) throw std::length_error("too many element types");
  std::size_t size = slots_.empty() ? 16 : slots_.size();
  while (size < 2 * wanted) size <<= 1;
  if (size == slots_.size()) return;
  std::vector<std::uint64_t> grown(size, 0);
  const std::size_t mask = size - 1;
  for (std::uint64_t slot : slots_) {
    if (slot == 0) continue;
    std::size_t i = std::size_t(slot >> 32) & mask;
    while (grown[i] != 0) i = (i + 1) & mask;
    grown[i] = slot;
  }
  slots_.swap(grown);
}

void ProviderRegistry::insert_slot(std::uint32_t hash, std::size_t list) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (slots_[i] != 0) i = (i + 1) & mask;
  slots_[i] = (std::uint64_t(hash) << 32) | std::uint64_t(list + 1);
}

std::uint64_t ProviderRegistry::tag_bit(std::size_t prefix, std::string_view name) const {
  const std::uint32_t print = name_print(name);
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const Tag& t = tags_[i];
    if (t.print == print && t.prefix == prefix && t.name == name) return std::uint64_t(1) << i;
  }
  return 0;
}

}  // namespace kelo_core::provider
