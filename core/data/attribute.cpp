#include "data/attribute.h"

#include <cstring>
#include <memory>
#include <new>

namespace kelo_core::data {

static_assert(sizeof(AttributeValue) == 16);

Attributes::Block* Attributes::allocate(std::size_t size, std::size_t key_capacity) {
  if (size > 0xFFFFFFFFu || key_capacity > 0xFFFFFFFFu) throw std::bad_alloc();
  void* raw = ::operator new(Block::kHeader + sizeof(Slot) * capacity(size) + key_capacity);
  Block* b = ::new (raw) Block;
  b->size = std::uint32_t(size);
  b->key_capacity = std::uint32_t(key_capacity);
  return b;
}

void Attributes::release(Block* b) {
  if (!b || b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  std::destroy_n(b->slots(), b->size);
  b->~Block();
  ::operator delete(static_cast<void*>(b));
}

std::size_t Attributes::lower_bound(std::string_view key) const {
  std::size_t lo = 0, hi = size();
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (block_->key(mid) < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

void Attributes::insert(std::string_view key, AttributeValue value) {
  const std::size_t n = size();
  const std::size_t i = lower_bound(key);
  const bool replace = i < n && block_->key(i) == key;
  const bool sole = block_ && block_->refs.load(std::memory_order_acquire) == 1;
  if (sole && replace) {
    block_->slots()[i].value = std::move(value);
    return;
  }
  if (sole && n + 1 <= capacity(n) && block_->key_bytes + key.size() <= block_->key_capacity) {
    // Room in a block of our own: the slots after i move up by one (moves
    // do not fail) and the key goes after the others.
    Slot* s = block_->slots();
    const auto offset = block_->key_bytes;
    if (!key.empty()) std::memcpy(block_->key_area() + offset, key.data(), key.size());
    block_->key_bytes += std::uint32_t(key.size());
    Slot fresh{offset, std::uint32_t(key.size()), std::move(value)};
    if (i == n) {
      ::new (s + n) Slot(std::move(fresh));
    } else {
      ::new (s + n) Slot(std::move(s[n - 1]));
      std::move_backward(s + i, s + n - 1, s + n);
      s[i] = std::move(fresh);
    }
    ++block_->size;
    return;
  }
  // A new block: the slots before i, the new one, the rest; keys after. A
  // block of our own grows with room to spare; a copy of a shared one is
  // made to measure. Only the allocation can fail, before anything moves.
  const std::size_t m = replace ? n : n + 1;
  const std::size_t used = (block_ ? block_->key_bytes : 0) + (replace ? 0 : key.size());
  Block* grown = allocate(m, sole ? std::bit_ceil(std::max<std::size_t>(used, 16)) : used);
  Slot* to = grown->slots();
  char* keys = grown->key_area();
  if (block_ && block_->key_bytes) std::memcpy(keys, block_->key_area(), block_->key_bytes);
  grown->key_bytes = block_ ? block_->key_bytes : 0;
  Slot* from = block_ ? block_->slots() : nullptr;
  std::size_t built = 0;
  auto take = [&](std::size_t j) {
    if (sole) {
      ::new (to + built++) Slot(std::move(from[j]));
    } else {
      ::new (to + built++) Slot(from[j]);  // copies a value: a reference count at most
    }
  };
  for (std::size_t j = 0; j < i; ++j) take(j);
  if (replace) {
    ::new (to + built++) Slot{from[i].key_offset, from[i].key_size, std::move(value)};
  } else {
    if (!key.empty()) std::memcpy(keys + grown->key_bytes, key.data(), key.size());
    ::new (to + built++) Slot{grown->key_bytes, std::uint32_t(key.size()), std::move(value)};
    grown->key_bytes += std::uint32_t(key.size());
  }
  for (std::size_t j = replace ? i + 1 : i; j < n; ++j) take(j);
  release(block_);
  block_ = grown;
}

const AttributeValue* Attributes::get(std::string_view key) const {
  const std::size_t i = lower_bound(key);
  return i < size() && block_->key(i) == key ? &block_->slots()[i].value : nullptr;
}

std::vector<std::string> Attributes::keys() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (std::size_t i = 0; i < size(); ++i) out.emplace_back(block_->key(i));
  return out;
}

bool operator==(const Attributes& a, const Attributes& b) {
  if (a.block_ == b.block_) return true;
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a.block_->key(i) != b.block_->key(i) ||
        !(a.block_->slots()[i].value == b.block_->slots()[i].value)) {
      return false;
    }
  }
  return true;
}

}  // namespace kelo_core::data
