// Rigid-body geometry in three dimensions: vectors, rotation quaternions and
// rigid transforms (SE(3)), plus the records that place things in 3D.
//
// Every operation is single precision, evaluated in the order its comment
// gives, so that results agree bit for bit wherever they are computed.
#pragma once

#include <optional>

#include "data/geometry.h"
#include "data/id.h"
#include "data/provenance.h"
#include "data/time.h"

namespace kelo_core::data {

// A point or a translation (meters).
struct Vec3 {
  float x = 0;
  float y = 0;
  float z = 0;

  friend bool operator==(const Vec3&, const Vec3&) = default;
};

// (x, y, z) is the vector part, w the scalar part. Stored as given: nothing
// forces unit length, and the operations use the components as they are.
struct Quaternion {
  float x = 0;
  float y = 0;
  float z = 0;
  float w = 1;

  static Quaternion identity() { return {0, 0, 0, 1}; }

  // v + w*t + q×t with t = 2(q×v): the rotation of v for a unit quaternion.
  Vec3 rotate(Vec3 v) const;
  // Each component times 1/√m, m the squared length; the identity when
  // m <= 2^-23 (a NaN length is not below it and propagates).
  Quaternion normalized() const;
  // |m - 1| <= 0.0001 for the squared length m; false with any NaN.
  bool is_normalized() const;

  friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

// Maps points from a local frame into a target frame: rotation first, then
// translation.
struct RigidTransform {
  Quaternion rotation;
  Vec3 translation;

  static RigidTransform identity() { return {}; }

  Vec3 transform_point(Vec3 p) const;
  // self ∘ other: applies other first, then self. The rotation is the
  // Hamilton product, not normalised.
  RigidTransform compose(const RigidTransform& other) const;

  friend bool operator==(const RigidTransform&, const RigidTransform&) = default;
};

// A calibration or tracking result: the transform that maps points of
// `source` into `target`, as known at `timestamp` if given.
struct FrameTransform {
  CoordinateSpace source;
  CoordinateSpace target;
  RigidTransform transform;
  std::optional<Timestamp> timestamp;

  friend bool operator==(const FrameTransform&, const FrameTransform&) = default;
};

// The 3D pose of an entity (an object when `object` is set): the transform
// from the entity's own frame into `space`, with an optional confidence and
// where the estimate came from.
struct SpatialPose {
  std::optional<ObjectId> object;
  RigidTransform pose;
  CoordinateSpace space = CoordinateSpace::of(CoordinateSpaceVariant::World);
  std::optional<float> confidence;
  Provenance provenance;

  friend bool operator==(const SpatialPose&, const SpatialPose&) = default;
};

}  // namespace kelo_core::data
