// Typed attribute values and the key-ordered collections of them that
// objects carry.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "data/tensor.h"
#include "data/time.h"
#include "support/shared.h"

namespace kelo_core::data {

// Scalars are held inline; texts, tensors and times are kept out of line and
// shared by copies, so a value is 16 bytes whatever its kind.
struct AttributeValue {
  // The alternatives' order is the kind index.
  using Payload = std::variant<bool, std::int64_t, double, Boxed<std::string>, Boxed<Tensor>,
                               Boxed<Timestamp>, Boxed<Duration>>;
  Payload payload;

  // The kind names, by index.
  static constexpr std::array<std::string_view, 7> kKindNames = {
      "bool", "int", "float", "string", "tensor", "timestamp", "duration"};

  std::size_t kind_index() const { return payload.index(); }
  std::string_view kind() const { return kKindNames[payload.index()]; }

  // A copy of the payload when it is a T, else absent: no conversion
  // between kinds.
  template <class T>
  std::optional<T> as() const {
    if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> ||
                  std::is_same_v<T, double>) {
      if (const T* v = std::get_if<T>(&payload)) return *v;
    } else {
      if (const Boxed<T>* v = std::get_if<Boxed<T>>(&payload)) return **v;
    }
    return std::nullopt;
  }

  friend bool operator==(const AttributeValue&, const AttributeValue&) = default;
};

// At most one value per key; keys are ordered by their UTF-8 bytes, a proper
// prefix first. The entries lie in one flat block in key order, shared by
// copies until one of them inserts (copy on write); an empty collection
// holds no block.
class Attributes {
 public:
  struct Entry {
    std::string key;
    AttributeValue value;

    friend bool operator==(const Entry&, const Entry&) = default;
  };

  Attributes() = default;
  Attributes(const Attributes& other) : block_(other.block_) {
    if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  Attributes(Attributes&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
  Attributes& operator=(Attributes other) noexcept {
    std::swap(block_, other.block_);
    return *this;
  }
  ~Attributes() { release(block_); }

  // Adds the entry or replaces the value under an existing key. Either
  // completes or, when memory runs out, changes nothing.
  void insert(std::string key, AttributeValue value);
  // The value under exactly this key, if any.
  const AttributeValue* get(std::string_view key) const;
  std::vector<std::string> keys() const;
  std::size_t size() const { return block_ ? block_->size : 0; }
  bool empty() const { return size() == 0; }

  // In key order.
  const Entry* begin() const { return block_ ? block_->entries() : nullptr; }
  const Entry* end() const { return begin() + size(); }

  friend bool operator==(const Attributes& a, const Attributes& b) {
    return a.block_ == b.block_ || std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  // A header and then the entries; room for capacity(size) of them.
  struct Block {
    std::atomic<std::uint32_t> refs{1};
    std::uint32_t size = 0;

    static constexpr std::size_t kHeader =
        (sizeof(std::uint64_t) + alignof(Entry) - 1) / alignof(Entry) * alignof(Entry);
    Entry* entries() { return reinterpret_cast<Entry*>(reinterpret_cast<char*>(this) + kHeader); }
  };
  static std::size_t capacity(std::size_t size) { return size < 2 ? size : std::bit_ceil(size); }
  static Block* allocate(std::size_t size);
  static void release(Block* b);

  Block* block_ = nullptr;
};

}  // namespace kelo_core::data
