// Frames: the fundamental temporal media object. A frame carries identity,
// timing and format; its pixels and its perception results live elsewhere,
// behind the logical buffer and metadata handles.
#pragma once

#include <cstdint>
#include <optional>

#include "data/format.h"
#include "data/id.h"
#include "data/time.h"
#include "support/result.h"

namespace kelo_core::data {

struct Frame {
  FrameId id;
  // The stream the frame belongs to; no such stream needs to exist.
  StreamId stream_id;
  // Position within the stream; neither order nor uniqueness is enforced.
  std::uint64_t sequence = 0;
  Timestamp timestamp;
  std::optional<Duration> duration;
  VideoFormat format;
  BufferId buffer_id;      // the pixel buffer
  MetadataId metadata_id;  // the perception results

  // A frame with fresh random identity, buffer and metadata handles (three
  // independent draws) and no duration; fails only when the system's random
  // source does.
  static Result<Frame> create(StreamId stream_id, std::uint64_t sequence, Timestamp timestamp,
                              VideoFormat format);

  // A copy, handles included, whose duration is `nanos` (replacing any).
  Frame with_duration_ns(std::uint64_t nanos) const;

  // Exact, like the timestamp's views.
  std::optional<Nanos128> duration_ns() const {
    if (!duration) return std::nullopt;
    return duration->total_nanos();
  }

  friend bool operator==(const Frame&, const Frame&) = default;
};

}  // namespace kelo_core::data
