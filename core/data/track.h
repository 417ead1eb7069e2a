// Tracks: the temporal identity of a perceived entity across frames.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>

#include "data/id.h"
#include "data/provenance.h"
#include "data/time.h"
#include "support/result.h"
#include "support/variants.h"

namespace kelo_core::data {

enum class TrackState : std::uint8_t { Tentative, Confirmed, Lost, Terminated };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::TrackState> {
  static constexpr std::array<std::string_view, 4> names = {
      "Tentative", "Confirmed", "Lost", "Terminated"};
};

}  // namespace kelo_core

namespace kelo_core::data {

inline std::string_view debug(TrackState s) { return variant_name(s); }

// No order between the sequences or the timestamps is enforced.
struct Track {
  TrackId id;
  std::uint64_t first_sequence = 0;
  std::uint64_t last_sequence = 0;
  Timestamp first_timestamp;
  Timestamp last_timestamp;
  TrackState state = TrackState::Tentative;
  Provenance provenance;

  // A track with a fresh provenance record stamped with its first
  // timestamp. Fails (Internal) only when the random source does.
  static Result<Track> make(TrackId id, std::uint64_t first_sequence, std::uint64_t last_sequence,
                            Timestamp first_timestamp, Timestamp last_timestamp,
                            TrackState state) {
    auto provenance = Provenance::fresh(first_timestamp);
    if (!provenance) return provenance.error();
    return Track{id,    first_sequence, last_sequence, std::move(first_timestamp),
                 std::move(last_timestamp), state, std::move(*provenance)};
  }

  friend bool operator==(const Track&, const Track&) = default;
};

}  // namespace kelo_core::data
