// What a default-made value of each core type holds: zero counts, no
// options, the first variant. Producers rely on these when they fill in
// only what they know.
#include <gtest/gtest.h>

#include "data/classification.h"
#include "data/format.h"
#include "data/geometry.h"
#include "data/provenance.h"
#include "data/segment.h"
#include "data/time.h"
#include "data/track.h"
#include "graph/edge.h"
#include "graph/element.h"
#include "graph/port.h"
#include "provider/abi.h"
#include "provider/capability.h"
#include "provider/descriptor.h"
#include "provider/selection.h"

namespace kelo_core {
namespace {

TEST(Defaults, DataValues) {
  using namespace data;
  const auto pixel = CoordinateSpace::of(CoordinateSpaceVariant::Pixel);
  EXPECT_EQ(EntityReference{}, (EntityReference{Uuid{}, 0}));
  EXPECT_EQ(CoordinateSpaceReference{}, (CoordinateSpaceReference{0, Uuid{}}));
  EXPECT_EQ(TimestampAnnotation{}, (TimestampAnnotation{"", 0, 0}));
  EXPECT_EQ(Duration{}, (Duration{0, 0}));
  EXPECT_EQ(FrameRate{}, (FrameRate{0, 0}));
  EXPECT_EQ(Point2D{}, (Point2D{0, 0}));
  EXPECT_EQ(BoundingBox{}, (BoundingBox{0, 0, 0, 0, pixel}));
  EXPECT_EQ(Polygon{}.coordinate_space, pixel);
  EXPECT_EQ(MaskRegion{}, (MaskRegion{{}, 0, 0, {}}));
  EXPECT_EQ(Classification{}, (Classification{{}, 0.0f, std::nullopt}));
  EXPECT_EQ(VideoFormat{}, (VideoFormat{0, 0, {}, ColorSpaceVariant::Srgb, ColorRange::Full, {}}));
  EXPECT_EQ(Track{}, (Track{{}, 0, 0, {}, {}, TrackState::Tentative, {}}));
}

TEST(Defaults, GraphAndProviderValues) {
  EXPECT_FALSE(graph::Edge{}.late_binding());
  EXPECT_EQ(graph::Port{}.direction, graph::PortDirection::Input);
  EXPECT_EQ(graph::Element{}.kind, graph::ElementKind::Source);
  EXPECT_EQ(provider::Version{}, (provider::Version{0, 0, 0}));
  EXPECT_EQ(provider::Capability{}, provider::Capability::of(provider::Capability::Kind::Cuda));
  EXPECT_EQ(provider::Requirement{}, provider::Requirement::cuda_required());
  EXPECT_EQ(provider::Requirement{}.bytes, 0u);
  EXPECT_EQ(provider::SelectionPolicy{}.kind, provider::SelectionPolicy::Kind::HighestPriority);
  EXPECT_EQ(provider::ProviderDescriptor{}.priority, 0);
}

}  // namespace
}  // namespace kelo_core
