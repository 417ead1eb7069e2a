// Relations between two results ("person rides bicycle", "track continues
// track"), typed like events.
#pragma once

#include <optional>

#include "data/event_type.h"
#include "data/provenance.h"

namespace kelo_core::data {

// Relation types are namespaced exactly as event types are.
using RelationType = EventType;

struct Relation {
  RelationType type;
  Provenance provenance;
  std::optional<float> confidence;
  EntityReference subject;
  EntityReference object;

  friend bool operator==(const Relation&, const Relation&) = default;
};

}  // namespace kelo_core::data
