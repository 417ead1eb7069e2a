// An append-only list whose copies share their entries.
//
// Builders append one entry to a copy of a value again and again (an element
// gaining its ports, a descriptor its element types). With a vector each step
// copies every entry so far, and a chain of n steps costs n^2. A SharedList
// copy costs one reference count. Appending to a list that ends where the
// entries in its block end (the usual case: the newest copy in a chain) adds
// the entry in place; the older copies keep their own size and never see it.
// Appending to any other list (an older copy, or a branch off one), or to a
// full block, first copies the entries into a new block of twice the size.
//
// Entries in a block never move, and each slot is claimed once through an
// atomic counter, so copies may be read, and appended to, from several
// threads at once.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <new>
#include <utility>

namespace kelo_core {

template <class T>
class SharedList {
 public:
  using value_type = T;
  using size_type = std::size_t;
  using const_iterator = const T*;

  SharedList() = default;
  SharedList(std::initializer_list<T> items) {
    for (const T& item : items) push_back(item);
  }
  SharedList(const SharedList& other) : block_(other.block_), size_(other.size_) {
    if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedList(SharedList&& other) noexcept
      : block_(std::exchange(other.block_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  SharedList& operator=(SharedList other) noexcept {
    std::swap(block_, other.block_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~SharedList() { release(block_); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T* begin() const { return block_ ? block_->entries() : nullptr; }
  const T* end() const { return begin() + size_; }
  const T& operator[](std::size_t i) const { return begin()[i]; }
  const T& back() const { return begin()[size_ - 1]; }

  // Amortised O(1) for the newest copy; O(size) for any other.
  void push_back(T item) {
    if (block_ && size_ < block_->capacity) {
      std::size_t expected = size_;
      if (block_->claimed.compare_exchange_strong(expected, size_ + 1,
                                                  std::memory_order_acq_rel)) {
        ::new (block_->entries() + size_) T(std::move(item));
        ++size_;
        return;
      }
    }
    Block* grown = Block::allocate(std::max<std::size_t>(2 * size_, 1));
    // Only this list sees the old block, and no entry lies past its end:
    // the entries can move instead of being copied.
    const bool sole = block_ && block_->refs.load(std::memory_order_acquire) == 1 &&
                      block_->claimed.load(std::memory_order_acquire) == size_;
    T* to = grown->entries();
    for (std::size_t i = 0; i < size_; ++i) {
      T& from = block_->entries()[i];
      if (sole) {
        ::new (to + i) T(std::move(from));
      } else {
        ::new (to + i) T(from);
      }
    }
    ::new (to + size_) T(std::move(item));
    grown->claimed.store(size_ + 1, std::memory_order_release);
    release(block_);
    block_ = grown;
    ++size_;
  }

  friend bool operator==(const SharedList& a, const SharedList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  // A header followed by `capacity` slots, of which the first `claimed` hold
  // entries.
  struct Block {
    std::atomic<std::size_t> refs{1};
    std::atomic<std::size_t> claimed{0};
    std::size_t capacity = 0;

    static constexpr std::size_t kAlign = std::max(alignof(Block), alignof(T));
    static constexpr std::size_t kHeader = (sizeof(Block) + alignof(T) - 1) / alignof(T) * alignof(T);

    T* entries() { return reinterpret_cast<T*>(reinterpret_cast<char*>(this) + kHeader); }

    static Block* allocate(std::size_t capacity) {
      void* raw = ::operator new(kHeader + sizeof(T) * capacity, std::align_val_t(kAlign));
      Block* b = ::new (raw) Block;
      b->capacity = capacity;
      return b;
    }
  };

  static void release(Block* b) {
    if (!b || b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    std::destroy_n(b->entries(), b->claimed.load(std::memory_order_acquire));
    b->~Block();
    ::operator delete(static_cast<void*>(b), std::align_val_t(Block::kAlign));
  }

  Block* block_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace kelo_core
