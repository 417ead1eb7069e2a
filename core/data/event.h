// Events: semantically meaningful occurrences on a stream.
#pragma once

#include <utility>
#include <vector>

#include "data/event_type.h"
#include "data/id.h"
#include "data/metadata.h"
#include "data/provenance.h"
#include "data/time.h"
#include "support/result.h"

namespace kelo_core::data {

struct Event {
  EventId id;
  StreamId stream_id;
  Timestamp timestamp;
  EventType event_type;
  std::vector<EntityReference> references;  // the results it concerns
  Metadata payload;                         // results attached to the event
  Provenance provenance;

  // An event with a fresh identifier, no references, an empty payload and a
  // fresh provenance record stamped with its timestamp. Fails (Internal)
  // only when the random source does.
  static Result<Event> make(StreamId stream_id, Timestamp timestamp, EventType event_type);

  friend bool operator==(const Event&, const Event&) = default;
};

}  // namespace kelo_core::data
