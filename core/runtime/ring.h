// A growable ring buffer: the runtime's queues and reorder buffers. It grows
// by doubling and never shrinks, so a queue that has reached its working size
// allocates no more.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace kelo_core::runtime::detail {

template <class T>
class Ring {
 public:
  std::size_t size() const { return n_; }
  bool empty() const { return n_ == 0; }
  T& operator[](std::size_t i) { return buf_[(head_ + i) & mask_]; }
  const T& operator[](std::size_t i) const { return buf_[(head_ + i) & mask_]; }
  T& front() { return buf_[head_]; }
  T& back() { return (*this)[n_ - 1]; }

  void push_back(T v) {
    if (n_ == buf_.size()) grow();
    buf_[(head_ + n_) & mask_] = std::move(v);
    ++n_;
  }
  T pop_front() {
    T v = std::move(buf_[head_]);
    head_ = (head_ + 1) & mask_;
    --n_;
    return v;
  }
  // Removes the i-th element, keeping the order of the others.
  T erase(std::size_t i) {
    T v = std::move((*this)[i]);
    for (std::size_t j = i; j + 1 < n_; ++j) (*this)[j] = std::move((*this)[j + 1]);
    --n_;
    return v;
  }

 private:
  void grow() {
    std::vector<T> next(buf_.empty() ? 8 : buf_.size() * 2);
    for (std::size_t i = 0; i < n_; ++i) next[i] = std::move((*this)[i]);
    buf_ = std::move(next);
    head_ = 0;
    mask_ = buf_.size() - 1;
  }

  std::vector<T> buf_;
  std::size_t head_ = 0;
  std::size_t n_ = 0;
  std::size_t mask_ = 0;
};

}  // namespace kelo_core::runtime::detail
