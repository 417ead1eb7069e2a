#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "data/spatial.h"

namespace kelo_core::data {
namespace {

// Expected values were computed independently with numpy float32 scalars, one rounding per operation in the
// same order, and are written as exact hex floats. NaN results are checked as NaN, every other result bit for
// bit (so the sign of zero counts).
constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Each component's bits in hex, or "nan".
std::vector<std::string> bits(std::initializer_list<float> values) {
  std::vector<std::string> out;
  char text[16];
  for (float v : values) {
    std::snprintf(text, sizeof text, "%08x", std::bit_cast<std::uint32_t>(v));
    out.emplace_back(std::isnan(v) ? "nan" : text);
  }
  return out;
}
std::vector<std::string> bits(const Vec3& v) { return bits({v.x, v.y, v.z}); }
std::vector<std::string> bits(const Quaternion& q) { return bits({q.x, q.y, q.z, q.w}); }

TEST(SpatialTest, RotateIsBitExact) {
  const struct { Quaternion q; Vec3 v, want; } cases[] = {
      {{0.0f, 0.0f, 0x1.6a09e6p-1f, 0x1.6a09e6p-1f}, {0x1p+0f, 0.0f, 0.0f}, {0x1p-24f, 0x1.fffffep-1f, 0.0f}},
      {{0.0f, 0.0f, 0x1p+0f, 0x1p+0f}, {0x1p+0f, 0.0f, 0.0f}, {-0x1p+0f, 0x1p+1f, 0.0f}},
      {{0x1.99999ap-4f, 0x1.99999ap-3f, 0x1.333334p-2f, 0x1.99999ap-2f}, {0x1.0624dep-10f, -0x1.cp+2f, 0x1.edd2f2p+6f}, {0x1.c8fa1ap+4f, -0x1.52ad8p-1f, 0x1.b6d75ap+6f}},
      {{-0x1p-1f, 0x1p-1f, -0x1p-1f, 0x1p-1f}, {0x1.4p+1f, -0x1.4p+0f, 0x1.333334p-2f}, {0x1.333338p-2f, -0x1.4p+1f, 0x1.4p+0f}},
      {{0x1.5af1d8p+66f, 0.0f, 0.0f, 0x1p+0f}, {0x1p+0f, 0x1p+0f, 0x1p+0f}, {0x1p+0f, -kInf, -kInf}},
      {{kNaN, 0.0f, 0.0f, 0x1p+0f}, {0x1p+0f, 0.0f, 0.0f}, {kNaN, kNaN, kNaN}},
      {{0.0f, 0.0f, 0.0f, 0x1p+0f}, {kInf, -kInf, kNaN}, {kNaN, kNaN, kNaN}},
      {{0x1p-149f, -0x1p-149f, 0x1p-149f, 0x1p+0f}, {0x1.fffffep+127f, 0x1.fffffep+127f, -0x1.fffffep+127f}, {0x1.fffffep+127f, 0x1.fffffep+127f, -0x1.fffffep+127f}},
      {{0x1.75e974p-3f, 0x1.75e974p-2f, 0x1.186f18p-1f, 0x1.75e974p-1f}, {0x1.16c2p-133f, 0x1.5c73p-129f, -0x1.4e84p-135f}, {-0x1.d39e8p-130f, 0x1.076dap-130f, 0x1.be03ep-130f}},
      {{kInf, 0.0f, 0.0f, 0x1p+0f}, {0.0f, 0x1p+0f, 0.0f}, {kNaN, kNaN, kNaN}},
      {{0.0f, 0.0f, 0.0f, 0.0f}, {0x1.4p+2f, 0x1.8p+2f, 0x1.cp+2f}, {0x1.4p+2f, 0x1.8p+2f, 0x1.cp+2f}},
      {{0x1.1b578cp-65f, 0x1.4484cp-100f, 0.0f, 0x1.fffffcp-1f}, {0x1.2a05f2p+33f, -0x1.b7cdfep-34f, 0x1.54fdf4p-2f}, {0x1.2a05f2p+33f, -0x1.b7cdfep-34f, 0x1.54fdf4p-2f}},
      {{-0x1.c31e6ep-3f, -0x1.36a87ep-1f, -0x1.81c63ap-1f, 0x1.ffe69ep-4f}, {0x1.3d9e82p+5f, -0x1.495158p+3f, 0x1.de4d9ep+5f}, {-0x1.c85238p+4f, 0x1.fbe2dap+5f, 0x1.4522fcp+4f}},
  };
  const Vec3 shift{0.5f, -0.0f, 0x1p-149f};
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE(row);
    const auto& c = cases[row];
    EXPECT_EQ(bits(c.q.rotate(c.v)), bits(c.want));
    // transform_point is the rotation plus the translation, added last
    EXPECT_EQ(bits(RigidTransform{c.q, shift}.transform_point(c.v)),
              bits({shift.x + c.want.x, shift.y + c.want.y, shift.z + c.want.z}));
  }
}

TEST(SpatialTest, ComposeIsBitExact) {
  const struct { Quaternion a; Vec3 ta; Quaternion b; Vec3 tb; Quaternion want_rotation; Vec3 want_translation; } cases[] = {
      {{0.0f, 0.0f, 0x1.6a09e6p-1f, 0x1.6a09e6p-1f}, {0x1p+0f, 0x1p+1f, 0x1.8p+1f}, {0.0f, 0.0f, 0x1.6a09e6p-1f, 0x1.6a09e6p-1f}, {0x1p+0f, 0x1p+1f, 0x1.8p+1f}, {0.0f, 0.0f, 0x1.fffffep-1f, 0.0f}, {-0x1.fffff8p-1f, 0x1.8p+1f, 0x1.8p+2f}},
      {{0x1.99999ap-4f, 0x1.99999ap-3f, 0x1.333334p-2f, 0x1.99999ap-2f}, {-0x1p+0f, 0x1p-1f, 0x1p+1f}, {-0x1p-1f, 0x1p-1f, -0x1p-1f, 0x1p-1f}, {0x1.05564p-128f, -0x1.b38fb8p-127f, 0x1.cp+2f}, {-0x1.99999ap-2f, 0x1.999998p-3f, 0x1.99999ap-4f, 0x1.333334p-2f}, {0x1.147aep-1f, 0x1.8f5c2ap-1f, 0x1.09999ap+3f}},
      {{0x1.5af1d8p+66f, 0.0f, 0.0f, 0x1p+0f}, {0.0f, 0.0f, 0.0f}, {0x1.5af1d8p+66f, 0x1p+0f, 0.0f, 0.0f}, {0x1p+0f, 0x1p+0f, 0x1p+0f}, {0x1.5af1d8p+66f, 0x1p+0f, 0x1.5af1d8p+66f, -kInf}, {0x1p+0f, -kInf, -kInf}},
      {{kNaN, 0.0f, 0.0f, 0x1p+0f}, {0x1p+0f, 0x1p+1f, 0x1.8p+1f}, {0.0f, 0.0f, 0.0f, 0x1p+0f}, {0x1p+0f, 0x1p+1f, 0x1.8p+1f}, {kNaN, kNaN, kNaN, kNaN}, {kNaN, kNaN, kNaN}},
      {{0x1.75e974p-3f, 0x1.75e974p-2f, 0x1.186f18p-1f, 0x1.75e974p-1f}, {0x1.e848p+19f, -0x1.e848p+19f, 0x1p-1f}, {0x1p-1f, 0x1p-1f, 0x1p-1f, 0x1p-1f}, {0x1.0624dep-10f, 0x1.0624dep-9f, -0x1.89374cp-9f}, {0x1.75e97p-2f, 0x1.75e974p-1f, 0x1.186f18p-1f, -0x1.75e974p-3f}, {0x1.e848p+19f, -0x1.e848p+19f, 0x1.fef9dcp-2f}},
      {{0x1p+1f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f}, {0.0f, 0x1.8p+1f, 0.0f, 0.0f}, {kInf, 0.0f, 0.0f}, {0.0f, 0.0f, 0x1.8p+2f, 0.0f}, {kNaN, kNaN, kNaN}},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE(row);
    const auto& c = cases[row];
    const RigidTransform ab = RigidTransform{c.a, c.ta}.compose({c.b, c.tb});
    EXPECT_EQ(bits(ab.rotation), bits(c.want_rotation));
    EXPECT_EQ(bits(ab.translation), bits(c.want_translation));
  }
}

TEST(SpatialTest, NormalizedIsBitExact) {
  // The last column: whether the result passes is_normalized().
  const struct { Quaternion q, want; bool unit; } cases[] = {
      {{0.0f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0x1p+0f}, true},
      {{0x1.0624dep-10f, 0.0f, 0.0f, 0.0f}, {0x1p+0f, 0.0f, 0.0f, 0.0f}, true},
      {{0x1p+0f, 0x1p+0f, 0x1p+0f, 0x1p+0f}, {0x1p-1f, 0x1p-1f, 0x1p-1f, 0x1p-1f}, true},
      {{0.0f, 0.0f, 0.0f, 0x1p+1f}, {0.0f, 0.0f, 0.0f, 0x1p+0f}, true},
      {{0x1p-12f, -0x1p-12f, 0x1p-23f, 0.0f}, {0x1.6a09e4p-1f, -0x1.6a09e4p-1f, 0x1.6a09e4p-12f, 0.0f}, true},
      {{0x1.99999ap-4f, 0x1.99999ap-3f, 0x1.333334p-2f, 0x1.99999ap-2f}, {0x1.75e974p-3f, 0x1.75e974p-2f, 0x1.186f18p-1f, 0x1.75e974p-1f}, true},
      {{0x1.5af1d8p+66f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0.0f}, false},
      {{kInf, 0.0f, 0.0f, 0x1p+0f}, {kNaN, 0.0f, 0.0f, 0.0f}, false},
      {{kNaN, 0.0f, 0.0f, 0x1p+0f}, {kNaN, kNaN, kNaN, kNaN}, false},
      {{0x1p-149f, 0.0f, 0.0f, 0.0f}, {0.0f, 0.0f, 0.0f, 0x1p+0f}, true},
      {{-0x1.8p+1f, 0x1p+2f, 0.0f, 0x1.8p+3f}, {-0x1.d89d8cp-3f, 0x1.3b13b2p-2f, 0.0f, 0x1.d89d8cp-1f}, true},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    SCOPED_TRACE(row);
    const Quaternion n = cases[row].q.normalized();
    EXPECT_EQ(bits(n), bits(cases[row].want));
    EXPECT_EQ(n.is_normalized(), cases[row].unit);
  }
}

TEST(SpatialTest, IsNormalizedTolerance) {
  const struct { Quaternion q; bool want; } cases[] = {
      {{0.0f, 0.0f, 0.0f, 0x1p+1f}, false}, {{0.0f, 0.0f, 0.0f, 0x1.00068ep+0f}, false},
      {{0.0f, 0.0f, 0.0f, 0x1.0002ap+0f}, true}, {{0.0f, 0.0f, 0x1.6a09e6p-1f, 0x1.6a09e6p-1f}, true},
      {{0.0f, 0.0f, 0.0f, 0x1.fffac2p-1f}, true}, {{0.0f, 0.0f, 0.0f, 0x1.fff2e4p-1f}, false},
      {{kNaN, 0.0f, 0.0f, 0x1p+0f}, false}, {{0.0f, 0.0f, 0.0f, kInf}, false},
      {{0x1p-1f, 0x1p-1f, 0x1p-1f, 0x1p-1f}, true}, {{0.0f, 0.0f, 0.0f, 0.0f}, false}};
  int row = 0;
  for (const auto& c : cases) EXPECT_EQ(c.q.is_normalized(), c.want) << "row " << row++;
}

TEST(SpatialTest, Identities) {
  const Vec3 p{0.1f, -2.0f, 3e38f};
  EXPECT_EQ(bits(RigidTransform{}.transform_point(p)), bits(p));
  EXPECT_EQ(RigidTransform{}, RigidTransform::identity());
  const RigidTransform t{{0.1f, 0.2f, 0.3f, 0.4f}, {1, 2, 3}};
  EXPECT_EQ(t.compose(RigidTransform::identity()), t);
  EXPECT_EQ(RigidTransform::identity().compose(t), t);
}

}  // namespace
}  // namespace kelo_core::data
