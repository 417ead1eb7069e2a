#include "provider/registry.h"

namespace kelo_core::provider {

void ProviderRegistry::register_provider(ProviderDescriptor descriptor) {
  if (descriptor.element_types.empty()) return;
  auto shared = std::make_shared<const ProviderDescriptor>(std::move(descriptor));
  for (const graph::ElementTypeId& type : shared->element_types) {
    lists_[type].push_back(shared);
    ++entries_;  // counted one by one, so that it stays the sum of the lists
  }
}

std::span<const ProviderRegistry::Entry> ProviderRegistry::find(const graph::ElementTypeId& type) const {
  auto it = lists_.find(type);
  if (it == lists_.end()) return {};
  return it->second;
}

}  // namespace kelo_core::provider
