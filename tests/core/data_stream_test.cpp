#include <cstdint>
#include <limits>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "data/frame.h"
#include "data/stream.h"

namespace kelo_core::data {
namespace {

VideoFormat nv12() { return VideoFormat::make(1920, 1080, PixelFormatVariant::NV12); }

TEST(StreamTest, CreateDrawsAFreshIdentityAndNoCapabilities) {
  SourceInfo source{"cam0", SourceKind::NetworkStream, "rtsp://h/1", std::nullopt};
  auto a = Stream::create(source, nv12());
  auto b = Stream::create(source, nv12());
  ASSERT_TRUE(a.ok() && b.ok());
  EXPECT_NE(a->id, b->id);
  EXPECT_EQ(a->id.uuid.bytes[6] >> 4, 4);  // version 4
  EXPECT_EQ(a->source, source);
  EXPECT_EQ(a->format, nv12());
  EXPECT_EQ(a->capabilities, StreamCapabilities{});
}

TEST(StreamTest, WithCapabilitiesKeepsEverythingElse) {
  auto s = Stream::create({"", SourceKind::Virtual, std::nullopt, "n"}, nv12());
  ASSERT_TRUE(s.ok());
  const StreamCapabilities caps{.supports_seek = true, .hardware_timestamps = true};
  Stream t = s->with_capabilities(caps);
  EXPECT_EQ(t.capabilities, caps);
  EXPECT_EQ(s->capabilities, StreamCapabilities{});
  t.capabilities = {};
  EXPECT_EQ(t, *s);
  EXPECT_EQ(t.with_capabilities(caps).with_capabilities({}), *s);  // replaced, not merged
}

TEST(FrameTest, CreateDrawsThreeIndependentHandles) {
  const StreamId sid{Uuid{}};
  std::set<std::string> seen;
  for (int i = 0; i < 4; ++i) {
    auto f = Frame::create(sid, 7, Timestamp::from_nanos(5).with_dts(3), nv12());
    ASSERT_TRUE(f.ok());
    EXPECT_EQ(f->stream_id, sid);
    EXPECT_EQ(f->sequence, 7u);
    EXPECT_EQ(f->timestamp, Timestamp::from_nanos(5).with_dts(3));
    EXPECT_EQ(f->format, nv12());
    EXPECT_FALSE(f->duration.has_value());
    EXPECT_FALSE(f->duration_ns().has_value());
    for (const Uuid& u : {f->id.uuid, f->buffer_id.uuid, f->metadata_id.uuid}) {
      EXPECT_EQ(u.bytes[6] >> 4, 4);
      seen.insert(u.str());
    }
  }
  EXPECT_EQ(seen.size(), 12u);
}

TEST(FrameTest, WithDurationSplitsAndReplaces) {
  auto f = Frame::create(StreamId{}, 0, Timestamp::from_nanos(0), nv12());
  ASSERT_TRUE(f.ok());
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  const struct { std::uint64_t nanos, secs; std::uint32_t rest; } cases[] = {
      {0, 0, 0}, {33366667, 0, 33366667}, {999999999, 0, 999999999}, {1000000000, 1, 0},
      {1500000001, 1, 500000001}, {kMax, kMax / 1000000000, std::uint32_t(kMax % 1000000000)}};
  for (const auto& c : cases) {
    Frame g = f->with_duration_ns(c.nanos).with_duration_ns(c.nanos);
    ASSERT_TRUE(g.duration.has_value());
    EXPECT_EQ(g.duration->secs, c.secs);
    EXPECT_EQ(g.duration->nanos, c.rest);
    EXPECT_TRUE(g.duration_ns() == Nanos128(c.nanos)) << c.nanos;
    g.duration.reset();
    EXPECT_EQ(g, *f);  // handles and everything else kept
  }
  EXPECT_TRUE(f->with_duration_ns(kMax).with_duration_ns(1).duration_ns() == Nanos128(1));
  EXPECT_FALSE(f->duration.has_value());
}

TEST(FrameTest, DurationNanosIsExactBeyondSixtyFourBits) {
  Frame f;
  f.duration = Duration{std::numeric_limits<std::uint64_t>::max(), 999999999};
  const Nanos128 want = Nanos128(std::numeric_limits<std::uint64_t>::max()) * 1000000000u + 999999999u;
  EXPECT_TRUE(f.duration_ns() == want);
}

}  // namespace
}  // namespace kelo_core::data
