#include "provider/registry.h"

#include <algorithm>
#include <vector>

namespace kelo_core::provider {

void ProviderRegistry::register_provider(ProviderDescriptor descriptor) {
  if (descriptor.element_types.empty()) return;
  register_provider(Shared<ProviderDescriptor>::of(std::move(descriptor)));
}

void ProviderRegistry::register_provider(Shared<ProviderDescriptor> descriptor) {
  if (descriptor->element_types.empty()) return;
  Entry entry{std::move(descriptor), {}, 0, 0, 0, {}};
  entry.capabilities = entry.descriptor->capabilities;
  entry.priority = entry.descriptor->priority;
  for (const Capability& c : entry.descriptor->capabilities) {
    entry.kinds = std::uint16_t(entry.kinds | (1u << static_cast<unsigned>(c.kind)));
  }
  entry.id_hash = SeededHash()(entry.descriptor->id);
  if (entry.offers(Capability::Kind::Custom)) {
    std::vector<TagHash> tags;
    const auto& caps = entry.descriptor->capabilities;
    for (std::size_t i = 0; i < caps.size(); ++i) {
      if (caps[i].is_custom()) tags.push_back({tag_hash(caps[i].tag, {}), std::uint32_t(i)});
    }
    std::sort(tags.begin(), tags.end());
    entry.tags = Shared<std::vector<TagHash>>::of(std::move(tags));
  }
  // All or nothing: what could fail (the table's growth, the bookkeeping)
  // comes first, and an append that fails undoes the appends and the lists
  // made before it, with operations that cannot fail.
  const auto& types = entry.descriptor->element_types;
  std::vector<std::vector<Entry>*> appended;
  appended.reserve(types.size());
  std::vector<const graph::ElementTypeId*> made;
  made.reserve(types.size());
  // At most this many new lists: growing once beats rehashing along the way.
  lists_.reserve(lists_.size() + types.size());
  try {
    for (const graph::ElementTypeId& type : types) {
      auto [list, fresh] = lists_.try_emplace(type);
      if (fresh) made.push_back(&type);
      list->second.push_back(entry);
      appended.push_back(&list->second);
    }
  } catch (...) {
    for (auto it = appended.rbegin(); it != appended.rend(); ++it) (*it)->pop_back();
    for (const graph::ElementTypeId* type : made) lists_.erase(*type);
    throw;
  }
  entries_ += types.size();
}

std::uint64_t ProviderRegistry::tag_hash(std::string_view prefix, std::string_view name) {
  const ProcessKey& key = process_key();
  return HashStream(key.k0, key.k1).text(prefix).text(name).finish();
}

bool ProviderRegistry::Entry::offers_custom(std::uint64_t hash, std::string_view prefix,
                                            std::string_view name) const {
  if (!tags) return false;
  auto it = std::lower_bound(tags->begin(), tags->end(), TagHash{hash, 0});
  for (; it != tags->end() && it->hash == hash; ++it) {
    if (capabilities[it->capability].is_custom(prefix, name)) return true;
  }
  return false;
}

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type) const {
  auto it = lists_.find(type);
  if (it == lists_.end()) return {};
  return it->second;
}

}  // namespace kelo_core::provider
