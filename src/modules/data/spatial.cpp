// Vectors, rotation quaternions and rigid transforms. None of the three
// defines equality or hashing: they compare and hash by identity.
#include <string>

#include "data/spatial.h"
#include "data/topics.h"
#include "support/text.h"

namespace kelo::py {

using namespace kelo_core::data;
using kelo_core::text::display;

void add_spatial_classes(std::vector<ClassSpec>& out) {
  out.push_back(Class<Vec3>("PyVec3(x, y, z)", "A 3D vector (translations in meters).")
                    .init<[](float x, float y, float z) { return Vec3{x, y, z}; }>()
                    .property<&Vec3::x>("x")
                    .property<&Vec3::y>("y")
                    .property<&Vec3::z>("z")
                    .repr<[](const Vec3& v) {
                      return "PyVec3(x=" + display(v.x) + ", y=" + display(v.y) +
                             ", z=" + display(v.z) + ")";
                    }>());

  out.push_back(
      Class<Quaternion>("PyQuaternion(x, y, z, w)", "A 3D rotation as a unit quaternion.")
          .init<[](float x, float y, float z, float w) { return Quaternion{x, y, z, w}; }>()
          .def_static<&Quaternion::identity>("identity()", "The identity rotation.")
          .property<&Quaternion::x>("x")
          .property<&Quaternion::y>("y")
          .property<&Quaternion::z>("z")
          .property<&Quaternion::w>("w")
          .def<&Quaternion::rotate>("rotate($self, v)", "Rotate a vector by this quaternion.")
          .def<&Quaternion::normalized>("normalized($self)",
                                        "A normalized copy (zero maps to identity).")
          .def<&Quaternion::is_normalized>(
              "is_normalized($self)", "Whether the quaternion is normalized within tolerance.")
          .repr<[](const Quaternion& q) {
            return "PyQuaternion(x=" + display(q.x) + ", y=" + display(q.y) +
                   ", z=" + display(q.z) + ", w=" + display(q.w) + ")";
          }>());

  out.push_back(
      Class<RigidTransform>("PyRigidTransform(rotation, translation)",
                            "A rigid-body transformation (SE(3)): rotation + translation.")
          .init<[](Quaternion rotation, Vec3 translation) {
            return RigidTransform{rotation, translation};
          }>()
          .def_static<&RigidTransform::identity>("identity()", "The identity transform.")
          .property<&RigidTransform::rotation>("rotation")
          .property<&RigidTransform::translation>("translation")
          .def<&RigidTransform::transform_point>(
              "transform_point($self, p)", "Map a point from the local frame into the target frame.")
          .def<&RigidTransform::compose>("compose($self, other)")
          .repr<[](const RigidTransform&) { return "PyRigidTransform(...)"; }>());
}

}  // namespace kelo::py
