#include "provider/registry.h"

namespace kelo_core::provider {

void ProviderRegistry::register_provider(ProviderDescriptor descriptor) {
  if (descriptor.element_types.empty()) return;
  register_provider(Shared<ProviderDescriptor>::of(std::move(descriptor)));
}

void ProviderRegistry::register_provider(Shared<ProviderDescriptor> descriptor) {
  if (descriptor->element_types.empty()) return;
  Entry entry{std::move(descriptor), {}, 0, 0, 0};
  entry.capabilities = entry.descriptor->capabilities;
  entry.priority = entry.descriptor->priority;
  for (const Capability& c : entry.descriptor->capabilities) {
    entry.kinds = std::uint16_t(entry.kinds | (1u << static_cast<unsigned>(c.kind)));
  }
  entry.id_hash = SeededHash()(entry.descriptor->id);
  // At most this many new lists: growing once beats rehashing along the way.
  lists_.reserve(lists_.size() + entry.descriptor->element_types.size());
  for (const graph::ElementTypeId& type : entry.descriptor->element_types) {
    lists_[type].push_back(entry);
    ++entries_;  // counted one by one, so that it stays the sum of the lists
  }
}

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type) const {
  auto it = lists_.find(type);
  if (it == lists_.end()) return {};
  return it->second;
}

}  // namespace kelo_core::provider
