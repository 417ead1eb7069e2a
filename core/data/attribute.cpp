#include "data/attribute.h"

#include <memory>
#include <new>

namespace kelo_core::data {

static_assert(sizeof(AttributeValue) == 16);

namespace {

// The first entry whose key is not below `key` (byte order).
const Attributes::Entry* first_not_below(const Attributes::Entry* begin, const Attributes::Entry* end,
                                     std::string_view key) {
  return std::lower_bound(begin, end, key,
                          [](const Attributes::Entry& e, std::string_view k) { return e.key < k; });
}

}  // namespace

Attributes::Block* Attributes::allocate(std::size_t size) {
  void* raw = ::operator new(Block::kHeader + sizeof(Entry) * capacity(size));
  return ::new (raw) Block;
}

void Attributes::release(Block* b) {
  if (!b || b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
  std::destroy_n(b->entries(), b->size);
  b->~Block();
  ::operator delete(static_cast<void*>(b));
}

void Attributes::insert(std::string key, AttributeValue value) {
  const std::size_t n = size();
  const Entry* at = first_not_below(begin(), end(), key);
  const std::size_t i = std::size_t(at - begin());
  const bool replace = at != end() && at->key == key;
  const bool sole = block_ && block_->refs.load(std::memory_order_acquire) == 1;
  if (sole && replace) {
    block_->entries()[i].value = std::move(value);
    return;
  }
  if (sole && n + 1 <= capacity(n)) {
    // Room in a block of our own: shift the tail up by one (moves do not
    // fail) and place the new entry.
    Entry* e = block_->entries();
    if (i == n) {
      ::new (e + n) Entry{std::move(key), std::move(value)};
    } else {
      ::new (e + n) Entry(std::move(e[n - 1]));
      std::move_backward(e + i, e + n - 1, e + n);
      e[i] = Entry{std::move(key), std::move(value)};
    }
    ++block_->size;
    return;
  }
  // A new block: entries before i, the new one, the rest. Copies from a
  // shared block may fail part way; what was built is then destroyed and
  // this collection keeps its old block.
  const std::size_t m = replace ? n : n + 1;
  Block* grown = allocate(m);
  Entry* to = grown->entries();
  Entry* from = block_ ? block_->entries() : nullptr;
  std::size_t built = 0;
  try {
    for (std::size_t j = 0; j < i; ++j, ++built) {
      if (sole) {
        ::new (to + built) Entry(std::move(from[j]));
      } else {
        ::new (to + built) Entry(from[j]);
      }
    }
    ::new (to + built) Entry{std::move(key), std::move(value)};
    ++built;
    for (std::size_t j = replace ? i + 1 : i; j < n; ++j, ++built) {
      if (sole) {
        ::new (to + built) Entry(std::move(from[j]));
      } else {
        ::new (to + built) Entry(from[j]);
      }
    }
  } catch (...) {
    std::destroy_n(to, built);
    grown->~Block();
    ::operator delete(static_cast<void*>(grown));
    throw;
  }
  grown->size = std::uint32_t(m);
  release(block_);
  block_ = grown;
}

const AttributeValue* Attributes::get(std::string_view key) const {
  const Entry* at = first_not_below(begin(), end(), key);
  return at != end() && at->key == key ? &at->value : nullptr;
}

std::vector<std::string> Attributes::keys() const {
  std::vector<std::string> out;
  out.reserve(size());
  for (const Entry& e : *this) out.push_back(e.key);
  return out;
}

}  // namespace kelo_core::data
