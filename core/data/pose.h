// Keypoint poses: a skeleton of image-plane points, e.g. from a pose
// estimator, optionally tied to the detected object it was found on.
#pragma once

#include <optional>
#include <vector>

#include "data/geometry.h"
#include "data/id.h"

namespace kelo_core::data {

struct Keypoint {
  float x = 0;
  float y = 0;
  float confidence = 0;

  friend bool operator==(const Keypoint&, const Keypoint&) = default;
};

// Keypoints in the order of the estimator's skeleton; `skeleton` names that
// order (a class of the estimator's model), when known.
struct Pose {
  std::optional<ObjectId> object;
  std::optional<ClassId> skeleton;
  std::vector<Keypoint> keypoints;
  CoordinateSpace coordinate_space = CoordinateSpace::of(CoordinateSpaceVariant::Pixel);
  std::optional<float> confidence;

  friend bool operator==(const Pose&, const Pose&) = default;
};

}  // namespace kelo_core::data
