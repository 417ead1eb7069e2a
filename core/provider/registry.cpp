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
  Entry entry{std::move(descriptor), {}, 0, 0, 0, 0};
  entry.capabilities = entry.descriptor->capabilities;
  entry.priority = entry.descriptor->priority;
  for (const Capability& c : entry.descriptor->capabilities) {
    entry.kinds = std::uint16_t(entry.kinds | (1u << static_cast<unsigned>(c.kind)));
    if (c.is_custom()) entry.tag_bits |= tag_bit({}, c.tag);
  }
  entry.id_hash = SeededHash()(entry.descriptor->id);
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

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type) const {
  auto it = lists_.find(type);
  if (it == lists_.end()) return {};
  return it->second;
}

}  // namespace kelo_core::provider
