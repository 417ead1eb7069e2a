#include "provider/registry.h"

#include <cstring>
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
  const auto& types = entry.descriptor->element_types;
  std::vector<std::vector<Entry>*> appended;
  appended.reserve(types.size());
  std::vector<std::size_t> made;  // the slots of the lists made, in order
  made.reserve(types.size());
  std::vector<std::uint32_t> hashes;
  hashes.reserve(types.size());
  std::size_t fresh = 0;  // at most this many new lists
  for (const graph::ElementTypeId& type : types) {
    hashes.push_back(type_hash(type));
    if (find_slot(type, hashes.back()) == kNone) ++fresh;
  }
  // Growing once beats growing along the way.
  reserve_slots(fresh);
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
    for (std::size_t k = 0; k < types.size(); ++k) {
      const graph::ElementTypeId& type = types[k];
      const std::uint32_t hash = hashes[k];
      std::size_t at = find_slot(type, hash);
      if (at == kNone) {
        at = make_list(type, hash);
        made.push_back(at);
      }
      slots_[at].entries.push_back(entry);
      appended.push_back(&slots_[at].entries);
    }
  } catch (...) {
    for (auto it = appended.rbegin(); it != appended.rend(); ++it) (*it)->pop_back();
    // The lists made, newest first: with linear probing, a key inserted
    // after all others is removed by freeing its slot.
    for (auto it = made.rbegin(); it != made.rend(); ++it) {
      slots_[*it] = List();
      --lists_;
    }
    tags_.resize(tags_before);
    throw;
  }
  entries_ += types.size();
}

ProviderRegistry::List::List(const List& o) : hash(o.hash), size(o.size), entries(o.entries) {
  if (o.long_text) {
    long_text = std::make_unique_for_overwrite<char[]>(size);
    std::memcpy(long_text.get(), o.long_text.get(), size);
  }
  std::memcpy(short_text, o.short_text, sizeof short_text);
}

bool ProviderRegistry::List::is(const graph::ElementTypeId& type, std::uint32_t h) const {
  return hash == h && size == type.text.size() &&
         std::memcmp(text(), type.text.data(), size) == 0;
}

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type,
                                                                std::uint32_t hash) const {
  const std::size_t at = find_slot(type, hash);
  if (at == kNone) return {};
  return slots_[at].entries;
}

std::size_t ProviderRegistry::find_slot(const graph::ElementTypeId& type,
                                        std::uint32_t hash) const {
  if (slots_.empty()) return kNone;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const List& list = slots_[i];
    if (list.entries.empty()) return kNone;
    if (list.is(type, hash)) return i;
  }
}

void ProviderRegistry::reserve_slots(std::size_t more) {
  const std::size_t wanted = lists_ + more;
  std::size_t size = slots_.empty() ? 16 : slots_.size();
  while (size < 2 * wanted) size <<= 1;
  if (size == slots_.size()) return;
  std::vector<List> grown(size);
  const std::size_t mask = size - 1;
  for (List& list : slots_) {
    if (list.entries.empty()) continue;
    std::size_t i = list.hash & mask;
    while (!grown[i].entries.empty()) i = (i + 1) & mask;
    grown[i] = std::move(list);
  }
  slots_.swap(grown);
}

std::size_t ProviderRegistry::make_list(const graph::ElementTypeId& type, std::uint32_t hash) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash & mask;
  while (!slots_[i].entries.empty()) i = (i + 1) & mask;
  List& list = slots_[i];
  const std::string& text = type.text;
  if (text.size() > 0xFFFFFFFF) throw std::length_error("element type too long");
  if (text.size() > sizeof list.short_text) {
    list.long_text = std::make_unique_for_overwrite<char[]>(text.size());
  }
  list.hash = hash;
  list.size = std::uint32_t(text.size());
  std::memcpy(const_cast<char*>(list.text()), text.data(), text.size());
  ++lists_;
  return i;
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
