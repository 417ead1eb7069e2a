// Where a result came from: the records it was derived from, the model that
// made it and when.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "data/model.h"
#include "data/time.h"
#include "support/result.h"
#include "support/uuid.h"

namespace kelo_core::data {

// A result this one refers to: its identifier and the kind of entity it names
// (a frame, an object, a track, ...; the numbering belongs to the producers).
struct EntityReference {
  Uuid id;
  std::uint8_t kind = 0;

  friend bool operator==(const EntityReference&, const EntityReference&) = default;
};

struct Provenance {
  std::vector<EntityReference> references;
  std::optional<ModelReference> model;
  Timestamp timestamp;
  Uuid id;  // this record's own identity

  // A record made now: no references, no model, the given time and a fresh
  // random identifier. Fails (Internal) only when the random source does.
  static Result<Provenance> fresh(Timestamp timestamp = {}) {
    auto id = Uuid::v4();
    if (!id) return id.error();
    return Provenance{{}, std::nullopt, std::move(timestamp), *id};
  }

  friend bool operator==(const Provenance&, const Provenance&) = default;
};

// Identifiers for records that usually nobody reads: a record keeps an
// eight-byte serial number instead of its sixteen-byte id, and the id is
// derived from it when asked for, under a key drawn from the operating
// system's random source once per process: a version-4 UUID as random as a
// drawn one, distinct for distinct serials, costing no draw per record.
struct ProvenanceSerial {
  // A serial no other record of this process has. Fails (Internal) only
  // when the random source does, before the key is drawn.
  static Result<std::uint64_t> next();
  // The record's id.
  static Uuid id(std::uint64_t serial);
};

}  // namespace kelo_core::data
