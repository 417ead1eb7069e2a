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
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace kelo_core {

template <class T>
class SharedList {
 public:
  using value_type = T;
  using size_type = std::size_t;
  using const_iterator = const T*;
  static constexpr std::size_t kMaxSize = 0xFFFFFFFFu;

  SharedList() = default;
  SharedList(std::initializer_list<T> items) {
    for (const T& item : items) push_back(item);
  }
  SharedList(const SharedList& other)
      : block_(other.block_), size_(other.size_), capacity_(other.capacity_) {
    if (block_) block_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedList(SharedList&& other) noexcept
      : block_(std::exchange(other.block_, nullptr)),
        size_(std::exchange(other.size_, 0)),
        capacity_(std::exchange(other.capacity_, 0)) {}
  SharedList& operator=(SharedList other) noexcept {
    std::swap(block_, other.block_);
    std::swap(size_, other.size_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  ~SharedList() { release(block_); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T* begin() const { return block_ ? block_->entries() : nullptr; }
  const T* end() const { return begin() + size_; }
  const T& operator[](std::size_t i) const { return begin()[i]; }
  const T& back() const { return begin()[size_ - 1]; }

  // Amortised O(1) for the newest copy; O(size) for any other. The list
  // must hold fewer than kMaxSize entries. All or nothing: when an entry's
  // copy or the allocation throws, the list and its block are as before.
  void push_back(T item) {
    if (size_ < capacity_) {
      std::uint32_t expected = size_;
      if (block_->claimed.compare_exchange_strong(expected, size_ + 1,
                                                  std::memory_order_acq_rel)) {
        try {
          ::new (block_->entries() + size_) T(std::move(item));
        } catch (...) {
          // No other list can pass the claimed slot before this one does.
          block_->claimed.store(size_, std::memory_order_release);
          throw;
        }
        ++size_;
        return;
      }
    }
    // Doubling, within the 32-bit counts.
    const auto capacity = std::uint32_t(std::clamp<std::size_t>(2 * std::size_t(size_), 1, kMaxSize));
    Block* grown = Block::allocate(capacity);
    // Only this list sees the old block, and no entry lies past its end:
    // the entries can move instead of being copied, if moving cannot fail.
    const bool sole = std::is_nothrow_move_constructible_v<T> && block_ &&
                      block_->refs.load(std::memory_order_acquire) == 1 &&
                      block_->claimed.load(std::memory_order_acquire) == size_;
    T* to = grown->entries();
    std::size_t made = 0;
    try {
      for (; made < size_; ++made) {
        T& from = block_->entries()[made];
        if (sole) {
          ::new (to + made) T(std::move(from));
        } else {
          ::new (to + made) T(from);
        }
      }
      ::new (to + size_) T(std::move(item));
    } catch (...) {
      grown->claimed.store(std::uint32_t(made), std::memory_order_relaxed);
      release(grown);
      throw;
    }
    grown->claimed.store(size_ + 1, std::memory_order_release);
    release(block_);
    block_ = grown;
    capacity_ = capacity;
    ++size_;
  }

  friend bool operator==(const SharedList& a, const SharedList& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  // A header followed by the slots, of which the first `claimed` hold
  // entries; the lists that share a block carry its capacity. Two 32-bit
  // counts (a list holds fewer than 2^32 entries) keep the header at 8 bytes,
  // so a block of one port is a small allocation.
  struct Block {
    std::atomic<std::uint32_t> refs{1};
    std::atomic<std::uint32_t> claimed{0};

    static constexpr std::size_t kAlign = std::max(alignof(Block), alignof(T));
    static constexpr std::size_t kHeader = (sizeof(Block) + alignof(T) - 1) / alignof(T) * alignof(T);

    T* entries() { return reinterpret_cast<T*>(reinterpret_cast<char*>(this) + kHeader); }

    static constexpr bool kOverAligned = kAlign > __STDCPP_DEFAULT_NEW_ALIGNMENT__;

    static Block* allocate(std::size_t capacity) {
      const std::size_t bytes = kHeader + sizeof(T) * capacity;
      void* raw = kOverAligned ? ::operator new(bytes, std::align_val_t(kAlign)) : ::operator new(bytes);
      return ::new (raw) Block;
    }
  };

  static void release(Block* b) {
    if (!b || b->refs.fetch_sub(1, std::memory_order_acq_rel) != 1) return;
    std::destroy_n(b->entries(), b->claimed.load(std::memory_order_acquire));
    b->~Block();
    if constexpr (Block::kOverAligned) {
      ::operator delete(static_cast<void*>(b), std::align_val_t(Block::kAlign));
    } else {
      ::operator delete(static_cast<void*>(b));
    }
  }

  Block* block_ = nullptr;
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;  // of block_
};

}  // namespace kelo_core
