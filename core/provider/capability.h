// What a provider offers (capabilities) and what a caller asks of one
// (requirements).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "support/hash.h"

namespace kelo_core::provider {

// Something observable that a provider offers. Only `Custom` carries a tag.
struct Capability {
  enum class Kind : std::uint8_t {
    Cuda, Fp16, Int8, DynamicShape, Batching, H264, H265, Nv12, Metadata, AsyncExecution, Custom,
  };
  Kind kind = Kind::Cuda;
  std::string tag;  // Custom only; empty otherwise

  static Capability of(Kind kind) { return {kind, {}}; }
  static Capability custom(std::string tag) { return {Kind::Custom, std::move(tag)}; }
  bool is_custom() const { return kind == Kind::Custom; }
  // Whether this is Custom with the tag prefix + name, compared byte for byte.
  bool is_custom(std::string_view prefix, std::string_view name) const {
    return is_custom() && tag.size() == prefix.size() + name.size() && tag.starts_with(prefix) &&
           tag.ends_with(name);
  }

  friend bool operator==(const Capability& a, const Capability& b) {
    return a.kind == b.kind && (!a.is_custom() || a.tag == b.tag);
  }
  // The kind's index as 8 little-endian bytes; for Custom, the tag and 0xFF.
  friend void hash_into(HashStream& h, const Capability& c) {
    h.u64(static_cast<std::uint64_t>(c.kind));
    if (c.is_custom()) h.text(c.tag).u8(0xFF);
  }
};

// Kind names by index: "cuda" ... "async_execution", "custom".
inline constexpr std::array<std::string_view, 11> kCapabilityKinds = {
    "cuda", "fp16", "int8", "dynamic_shape", "batching", "h264",
    "h265", "nv12", "metadata", "async_execution", "custom",
};

inline std::string_view kind_name(const Capability& c) {
  return kCapabilityKinds[static_cast<std::size_t>(c.kind)];
}

// The kind name, or "custom:" followed by the tag.
inline std::string text(const Capability& c) {
  return c.is_custom() ? "custom:" + c.tag : std::string(kind_name(c));
}

// A resource or condition that a provider needs. GpuMemory carries a byte
// count; Accelerator, OperatingSystem, ExternalRuntime and Custom a text.
struct Requirement {
  enum class Kind : std::uint8_t {
    CudaRequired, GpuMemory, Accelerator, OperatingSystem, ExternalRuntime, Custom,
  };
  Kind kind = Kind::CudaRequired;
  std::uint64_t bytes = 0;  // GpuMemory only
  std::string text;         // the named kinds only

  static Requirement cuda_required() { return {Kind::CudaRequired, 0, {}}; }
  static Requirement gpu_memory(std::uint64_t bytes) { return {Kind::GpuMemory, bytes, {}}; }
  static Requirement accelerator(std::string name) { return {Kind::Accelerator, 0, std::move(name)}; }
  static Requirement operating_system(std::string name) {
    return {Kind::OperatingSystem, 0, std::move(name)};
  }
  static Requirement external_runtime(std::string name) {
    return {Kind::ExternalRuntime, 0, std::move(name)};
  }
  static Requirement custom(std::string tag) { return {Kind::Custom, 0, std::move(tag)}; }

  bool has_text() const { return kind >= Kind::Accelerator; }

  friend bool operator==(const Requirement& a, const Requirement& b) {
    if (a.kind != b.kind) return false;
    if (a.kind == Kind::GpuMemory) return a.bytes == b.bytes;
    return !a.has_text() || a.text == b.text;
  }
  // The kind's index as 8 little-endian bytes, then the byte count (8
  // little-endian bytes) or the text and 0xFF.
  friend void hash_into(HashStream& h, const Requirement& r) {
    h.u64(static_cast<std::uint64_t>(r.kind));
    if (r.kind == Kind::GpuMemory) h.u64(r.bytes);
    if (r.has_text()) h.text(r.text).u8(0xFF);
  }
};

inline constexpr std::array<std::string_view, 6> kRequirementKinds = {
    "cuda_required", "gpu_memory", "accelerator", "operating_system", "external_runtime", "custom",
};

inline std::string_view kind_name(const Requirement& r) {
  return kRequirementKinds[static_cast<std::size_t>(r.kind)];
}

}  // namespace kelo_core::provider
