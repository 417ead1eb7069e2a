#include "data/metadata.h"

#include <type_traits>

namespace kelo_core::data {

// Appending to a list that has to grow moves the entries already there.
static_assert(std::is_nothrow_move_constructible_v<Object> &&
              std::is_nothrow_move_constructible_v<Track> &&
              std::is_nothrow_move_constructible_v<Event> &&
              std::is_nothrow_move_constructible_v<Metadata>);
// With its Shared node header, an object is one 144-byte allocation.
static_assert(sizeof(Object) == 128);

bool Metadata::is_empty() const {
  return objects.empty() && segments.empty() && tracks.empty() && classifications.empty() &&
         poses.empty() && spatial_poses.empty() && frame_transforms.empty() &&
         embeddings.empty() && events.empty() && relations.empty() && extensions.empty();
}

}  // namespace kelo_core::data
