#include "data/frame.h"

#include <utility>

namespace kelo_core::data {

Result<Frame> Frame::create(StreamId stream_id, std::uint64_t sequence, Timestamp timestamp,
                            VideoFormat format) {
  auto id = FrameId::fresh();
  if (!id) return id.error();
  auto buffer = BufferId::fresh();
  if (!buffer) return buffer.error();
  auto metadata = MetadataId::fresh();
  if (!metadata) return metadata.error();
  return Frame{.id = *id,
               .stream_id = stream_id,
               .sequence = sequence,
               .timestamp = std::move(timestamp),
               .duration = std::nullopt,
               .format = std::move(format),
               .buffer_id = *buffer,
               .metadata_id = *metadata};
}

Frame Frame::with_duration_ns(std::uint64_t nanos) const {
  Frame f = *this;
  f.duration = Duration::from_nanos(nanos);
  return f;
}

}  // namespace kelo_core::data
