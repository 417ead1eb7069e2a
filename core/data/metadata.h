// Per-frame metadata: the typed collection of perception results that
// belong to one frame.
#pragma once

#include <vector>

#include "data/classification.h"
#include "data/detection.h"
#include "data/embedding.h"
#include "data/extension.h"
#include "data/pose.h"
#include "data/relation.h"
#include "data/segment.h"
#include "data/spatial.h"
#include "data/track.h"
#include "support/shared_vector.h"

namespace kelo_core::data {

struct Event;  // defined in data/event.h, included at the end

// Eleven ordered lists, each in insertion order. A metadata owns its entries:
// copying it copies every entry, events' payloads included. Objects are
// immutable values shared by the copies that hold them (an entry changed in
// place is copied first), so a copy or an append costs a reference count.
struct Metadata {
  SharedVector<Object> objects;
  std::vector<Segment> segments;
  std::vector<Track> tracks;
  std::vector<Classification> classifications;
  std::vector<Pose> poses;
  std::vector<SpatialPose> spatial_poses;
  std::vector<FrameTransform> frame_transforms;
  std::vector<Embedding> embeddings;
  std::vector<Event> events;
  std::vector<Relation> relations;
  std::vector<ExtensionMetadata> extensions;

  // Whether all eleven lists are empty.
  bool is_empty() const;

  friend bool operator==(const Metadata&, const Metadata&) = default;
};

}  // namespace kelo_core::data

// Event holds a Metadata by value and so is defined after it; either header
// brings in both.
#include "data/event.h"
