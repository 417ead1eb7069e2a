#include "data/stream.h"

#include <utility>

namespace kelo_core::data {

Result<Stream> Stream::create(SourceInfo source, VideoFormat format) {
  auto id = StreamId::fresh();
  if (!id) return id.error();
  return Stream{.id = *id, .source = std::move(source), .format = std::move(format),
                .capabilities = {}};
}

Stream Stream::with_capabilities(StreamCapabilities caps) const {
  Stream s = *this;
  s.capabilities = caps;
  return s;
}

}  // namespace kelo_core::data
