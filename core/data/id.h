// Typed identifiers: one distinct type per kind of entity, each a UUID.
#pragma once

#include <string>
#include <string_view>

#include "support/hash.h"
#include "support/result.h"
#include "support/uuid.h"

namespace kelo_core::data {

// Identifiers of different kinds never compare equal, even over the same
// UUID: Tag makes each kind its own type.
template <class Tag>
struct Id {
  Uuid uuid;

  static Result<Id> fresh() {
    auto u = Uuid::v4();
    if (!u) return u.error();
    return Id{*u};
  }
  static Result<Id> parse(std::string_view text) {
    auto u = Uuid::parse(text);
    if (!u) return u.error();
    return Id{*u};
  }
  std::string str() const { return uuid.str(); }

  friend bool operator==(const Id&, const Id&) = default;
  // The 16 bytes, no length prefix.
  friend void hash_into(HashStream& h, const Id& id) { h.bytes(id.uuid.bytes.data(), 16); }
};

using StreamId = Id<struct StreamTag>;
using FrameId = Id<struct FrameTag>;
using BufferId = Id<struct BufferTag>;
using ObjectId = Id<struct ObjectTag>;
using SegmentId = Id<struct SegmentTag>;
using TrackId = Id<struct TrackTag>;
using EventId = Id<struct EventTag>;
using AssetId = Id<struct AssetTag>;
using BatchId = Id<struct BatchTag>;
using MetadataId = Id<struct MetadataTag>;
using ComponentId = Id<struct ComponentTag>;
using ClassId = Id<struct ClassTag>;

}  // namespace kelo_core::data
