// Streams and their sources: where a stream comes from, what the source can
// do, and the stream's identity and video format.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "data/format.h"
#include "data/id.h"
#include "support/result.h"
#include "support/variants.h"

namespace kelo_core::data {

enum class SourceKind : std::uint8_t { Camera, VideoFile, NetworkStream, Sensor, Generated, Virtual };

}  // namespace kelo_core::data

namespace kelo_core {

template <>
struct VariantNames<data::SourceKind> {
  static constexpr std::array<std::string_view, 6> names = {
      "Camera", "VideoFile", "NetworkStream", "Sensor", "Generated", "Virtual"};
};

}  // namespace kelo_core

namespace kelo_core::data {

// The origin of a stream. The source id is free-form (it may be empty) and
// nothing here is validated.
struct SourceInfo {
  std::string source_id;
  SourceKind kind = SourceKind::Camera;
  std::optional<std::string> uri;
  std::optional<std::string> name;

  friend bool operator==(const SourceInfo&, const SourceInfo&) = default;
};

// What the source can do; every combination is allowed.
struct StreamCapabilities {
  bool supports_random_access = false;
  bool supports_seek = false;
  bool live = false;
  bool variable_frame_rate = false;
  bool hardware_timestamps = false;

  friend bool operator==(const StreamCapabilities&, const StreamCapabilities&) = default;
};

// A logical source of temporally ordered data.
struct Stream {
  StreamId id;
  SourceInfo source;
  VideoFormat format;
  StreamCapabilities capabilities;

  // A stream with a fresh random identity and no capabilities; fails only
  // when the system's random source does.
  static Result<Stream> create(SourceInfo source, VideoFormat format);

  // A copy with the capabilities replaced; the identity is kept.
  Stream with_capabilities(StreamCapabilities caps) const;

  friend bool operator==(const Stream&, const Stream&) = default;
};

}  // namespace kelo_core::data
