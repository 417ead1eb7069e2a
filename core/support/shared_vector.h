// A list of immutable values held through Shared: copying the list, or
// appending a value another holder already shares, costs a reference count
// per entry instead of a copy of each value. It reads like a vector of T;
// changing an entry in place copies it first when others share it (copy on
// write), so no other holder sees the change.
//
// The holders lie in fixed blocks of 4 KiB that never move: a list that
// grows allocates one more block, never copies the entries already there, and
// never asks for a region large enough for the allocator to map fresh pages
// from the system (and unmap them again when the list goes).
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

#include "support/shared.h"

namespace kelo_core {

template <class T>
class SharedVector {
  static constexpr std::size_t kShift = 9;
  static constexpr std::size_t kPerBlock = std::size_t(1) << kShift;  // 512 holders, 4 KiB
  static constexpr std::size_t kMask = kPerBlock - 1;
  struct Block {
    Shared<T> slots[kPerBlock];
  };

 public:
  using value_type = T;
  using size_type = std::size_t;

  // Reads entries as const T&.
  class const_iterator {
   public:
    using iterator_category = std::random_access_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;

    const_iterator() = default;
    const_iterator(const SharedVector* list, std::size_t i) : list_(list), i_(i) {}
    const T& operator*() const { return *list_->shared(i_); }
    const T* operator->() const { return list_->shared(i_).get(); }
    const T& operator[](difference_type n) const { return *list_->shared(i_ + n); }
    const_iterator& operator++() { ++i_; return *this; }
    const_iterator operator++(int) { return {list_, i_++}; }
    const_iterator& operator--() { --i_; return *this; }
    const_iterator operator--(int) { return {list_, i_--}; }
    const_iterator& operator+=(difference_type n) { i_ += n; return *this; }
    const_iterator& operator-=(difference_type n) { i_ -= n; return *this; }
    friend const_iterator operator+(const_iterator a, difference_type n) { return a += n; }
    friend const_iterator operator+(difference_type n, const_iterator a) { return a += n; }
    friend const_iterator operator-(const_iterator a, difference_type n) { return a -= n; }
    friend difference_type operator-(const_iterator a, const_iterator b) {
      return difference_type(a.i_) - difference_type(b.i_);
    }
    friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.i_ == b.i_; }
    friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.i_ <=> b.i_; }

   private:
    const SharedVector* list_ = nullptr;
    std::size_t i_ = 0;
  };

  SharedVector() = default;
  SharedVector(const SharedVector& other) {
    reserve(other.size_);
    for (std::size_t i = 0; i < other.size_; ++i) push_back(other.shared(i));
  }
  SharedVector(SharedVector&& other) noexcept
      : blocks_(std::move(other.blocks_)), size_(std::exchange(other.size_, 0)) {}
  SharedVector& operator=(SharedVector other) noexcept {
    std::swap(blocks_, other.blocks_);
    std::swap(size_, other.size_);
    return *this;
  }
  ~SharedVector() { clear(); }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // Room for n entries without allocating; may fail (bad_alloc), changing
  // nothing.
  void reserve(std::size_t n) {
    const std::size_t need = (n + kMask) >> kShift;
    if (need <= blocks_.size()) return;
    blocks_.reserve(need);
    while (blocks_.size() < need) blocks_.push_back(std::make_unique<Block>());
  }
  void clear() {
    for (std::size_t i = 0; i < size_; ++i) blocks_[i >> kShift]->slots[i & kMask] = Shared<T>();
    blocks_.clear();
    size_ = 0;
  }

  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }
  const T& operator[](std::size_t i) const { return *shared(i); }
  const T& back() const { return *shared(size_ - 1); }
  // In place, after a copy when shared.
  T& operator[](std::size_t i) { return slot(i).mutate(); }
  T& back() { return slot(size_ - 1).mutate(); }

  // Calls f(entry) on every entry in order, a block at a time (faster than
  // the iterator where f writes through pointers the compiler cannot tell
  // apart from the list's own).
  template <class F>
  void for_each(F&& f) const {
    for (std::size_t start = 0; start < size_; start += kPerBlock) {
      const Shared<T>* slots = blocks_[start >> kShift]->slots;
      const std::size_t count = std::min(kPerBlock, size_ - start);
      for (std::size_t j = 0; j < count; ++j) f(*slots[j]);
    }
  }

  // The holder of entry i.
  const Shared<T>& shared(std::size_t i) const { return blocks_[i >> kShift]->slots[i & kMask]; }

  // Each appends or, when memory runs out, changes nothing.
  void push_back(Shared<T> item) {
    reserve(size_ + 1);
    slot(size_) = std::move(item);
    ++size_;
  }
  void push_back(T item) { push_back(Shared<T>::of(std::move(item))); }
  template <class... A>
  T& emplace_back(A&&... args) {
    push_back(Shared<T>::make(std::forward<A>(args)...));
    return slot(size_ - 1).mutate();
  }

  // Entry by entry against plain values.
  friend bool operator==(const SharedVector& a, const std::vector<T>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

  friend bool operator==(const SharedVector& a, const SharedVector& b) {
    if (a.size_ != b.size_) return false;
    for (std::size_t i = 0; i < a.size_; ++i) {
      const Shared<T>& x = a.shared(i);
      const Shared<T>& y = b.shared(i);
      if (!(x == y || *x == *y)) return false;
    }
    return true;
  }

 private:
  Shared<T>& slot(std::size_t i) { return blocks_[i >> kShift]->slots[i & kMask]; }

  std::vector<std::unique_ptr<Block>> blocks_;
  std::size_t size_ = 0;
};

}  // namespace kelo_core
