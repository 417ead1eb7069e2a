// Providers: their identity and the descriptor of what each implements.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "graph/element_type.h"
#include "provider/abi.h"
#include "provider/capability.h"
#include "support/hash.h"
#include "support/shared_list.h"

namespace kelo_core::provider {

// Any text, compared byte for byte; nothing is normalised.
struct ProviderId {
  std::string text;

  friend bool operator==(const ProviderId&, const ProviderId&) = default;
  // The UTF-8 bytes, then one 0xFF byte.
  friend void hash_into(HashStream& h, const ProviderId& id) { h.text(id.text).u8(0xFF); }
};

// What a provider implements, offers and needs. Lists keep the declared
// order and may hold duplicates; copies share them, so each builder step
// costs one entry. The provider's own requirements play no
// part in selection.
struct ProviderDescriptor {
  ProviderId id;
  Version version;
  SharedList<graph::ElementTypeId> element_types;
  SharedList<Capability> capabilities;
  SharedList<Requirement> requirements;
  std::int32_t priority = 0;

  static ProviderDescriptor make(ProviderId id, Version version) {
    return {std::move(id), version, {}, {}, {}, 0};
  }

  // Builders: a copy with the value appended (or the priority replaced).
  ProviderDescriptor with_element_type(graph::ElementTypeId t) const {
    ProviderDescriptor d = *this;
    d.element_types.push_back(std::move(t));
    return d;
  }
  ProviderDescriptor with_capability(Capability c) const {
    ProviderDescriptor d = *this;
    d.capabilities.push_back(std::move(c));
    return d;
  }
  ProviderDescriptor with_requirement(Requirement r) const {
    ProviderDescriptor d = *this;
    d.requirements.push_back(std::move(r));
    return d;
  }
  ProviderDescriptor with_priority(std::int32_t p) const {
    ProviderDescriptor d = *this;
    d.priority = p;
    return d;
  }

  bool supports(const graph::ElementTypeId& t) const {
    return std::find(element_types.begin(), element_types.end(), t) != element_types.end();
  }
};

}  // namespace kelo_core::provider
