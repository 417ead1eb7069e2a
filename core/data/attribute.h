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
// prefix first. Everything lies in one flat block: the entries in key order
// (where its key's bytes sit, and the value) and then the keys' bytes. Copies
// share the block until one of them inserts (copy on write); an empty
// collection holds none. An object's two attributes take one 72-byte block.
class Attributes {
 public:
  // One entry as iteration shows it.
  struct Entry {
    std::string_view key;
    const AttributeValue& value;
  };
  class const_iterator {
   public:
    using value_type = Entry;
    using difference_type = std::ptrdiff_t;
    const_iterator() = default;
    const_iterator(const Attributes* a, std::size_t i) : a_(a), i_(i) {}
    Entry operator*() const { return a_->entry(i_); }
    const_iterator& operator++() { ++i_; return *this; }
    const_iterator operator++(int) { return {a_, i_++}; }
    friend bool operator==(const const_iterator& x, const const_iterator& y) { return x.i_ == y.i_; }

   private:
    const Attributes* a_ = nullptr;
    std::size_t i_ = 0;
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
  void insert(std::string_view key, AttributeValue value);
  // The value under exactly this key, if any.
  const AttributeValue* get(std::string_view key) const;
  std::vector<std::string> keys() const;
  std::size_t size() const { return block_ ? block_->size : 0; }
  bool empty() const { return size() == 0; }

  // In key order.
  Entry entry(std::size_t i) const { return {block_->key(i), block_->slots()[i].value}; }
  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size()}; }

  friend bool operator==(const Attributes& a, const Attributes& b);

 private:
  struct Slot {
    std::uint32_t key_offset;  // into the key bytes
    std::uint32_t key_size;
    AttributeValue value;
  };
  // The header, room for capacity(size) slots, then key_capacity bytes.
  struct Block {
    std::atomic<std::uint32_t> refs{1};
    std::uint32_t size = 0;
    std::uint32_t key_bytes = 0;  // used
    std::uint32_t key_capacity = 0;

    static constexpr std::size_t kHeader = 16;
    Slot* slots() { return reinterpret_cast<Slot*>(reinterpret_cast<char*>(this) + kHeader); }
    const Slot* slots() const {
      return reinterpret_cast<const Slot*>(reinterpret_cast<const char*>(this) + kHeader);
    }
    char* key_area() { return reinterpret_cast<char*>(slots() + capacity(size)); }
    const char* key_area() const { return reinterpret_cast<const char*>(slots() + capacity(size)); }
    std::string_view key(std::size_t i) const {
      return {key_area() + slots()[i].key_offset, slots()[i].key_size};
    }
  };
  static_assert(sizeof(Slot) == 24 && alignof(Slot) <= Block::kHeader);
  static std::size_t capacity(std::size_t size) { return size < 2 ? size : std::bit_ceil(size); }
  // A block for `size` slots and `key_capacity` key bytes; size is set,
  // no slot is made.
  static Block* allocate(std::size_t size, std::size_t key_capacity);
  static void release(Block* b);
  // The index of the first key not below `key`.
  std::size_t lower_bound(std::string_view key) const;

  Block* block_ = nullptr;
};

}  // namespace kelo_core::data
