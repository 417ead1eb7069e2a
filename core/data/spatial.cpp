#include "data/spatial.h"

#include <cfloat>
#include <cmath>

namespace kelo_core::data {

// Every intermediate below is a float rounded to single precision: no wider
// evaluation (checked here) and no contraction into fused multiply-adds (the
// build passes -ffp-contract=off).
static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace {

// The squared length, summed left to right.
float squared_length(const Quaternion& q) {
  const float xx = q.x * q.x, yy = q.y * q.y, zz = q.z * q.z, ww = q.w * q.w;
  return ((xx + yy) + zz) + ww;
}

}  // namespace

Vec3 Quaternion::rotate(Vec3 v) const {
  // u = q × v
  const float ux = y * v.z - z * v.y;
  const float uy = z * v.x - x * v.z;
  const float uz = x * v.y - y * v.x;
  // t = 2u
  const float tx = ux + ux, ty = uy + uy, tz = uz + uz;
  // d = q × t
  const float dx = y * tz - z * ty;
  const float dy = z * tx - x * tz;
  const float dz = x * ty - y * tx;
  return {(v.x + w * tx) + dx, (v.y + w * ty) + dy, (v.z + w * tz) + dz};
}

Quaternion Quaternion::normalized() const {
  const float m = squared_length(*this);
  if (m <= FLT_EPSILON) return identity();
  const float root = std::sqrt(m);
  const float s = 1.0f / root;
  return {x * s, y * s, z * s, w * s};
}

bool Quaternion::is_normalized() const {
  return std::fabs(squared_length(*this) - 1.0f) <= 0.0001f;
}

Vec3 RigidTransform::transform_point(Vec3 p) const {
  const Vec3 r = rotation.rotate(p);
  return {translation.x + r.x, translation.y + r.y, translation.z + r.z};
}

RigidTransform RigidTransform::compose(const RigidTransform& other) const {
  const Quaternion& a = rotation;
  const Quaternion& b = other.rotation;
  const Quaternion q{
      ((a.w * b.x + a.x * b.w) + a.y * b.z) - a.z * b.y,
      ((a.w * b.y - a.x * b.z) + a.y * b.w) + a.z * b.x,
      ((a.x * b.y + a.w * b.z) - a.y * b.x) + a.z * b.w,
      ((a.w * b.w - a.x * b.x) - a.y * b.y) - a.z * b.z,
  };
  return {q, transform_point(other.translation)};
}

}  // namespace kelo_core::data
