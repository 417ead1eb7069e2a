// An immutable value shared by reference count: one pointer wide (half a
// std::shared_ptr), for values that many small copies refer to.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace kelo_core {

template <class T>
class Shared {
 public:
  Shared() = default;
  template <class... Args>
  static Shared make(Args&&... args) {
    Shared s;
    s.node_ = new Node{{1}, T(std::forward<Args>(args)...)};
    return s;
  }

  Shared(const Shared& o) : node_(o.node_) {
    if (node_) node_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  Shared(Shared&& o) noexcept : node_(std::exchange(o.node_, nullptr)) {}
  Shared& operator=(Shared o) noexcept {
    std::swap(node_, o.node_);
    return *this;
  }
  ~Shared() {
    if (node_ && node_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete node_;
  }

  const T* get() const { return node_ ? &node_->value : nullptr; }
  const T& operator*() const { return node_->value; }
  const T* operator->() const { return &node_->value; }
  explicit operator bool() const { return node_ != nullptr; }
  // The same shared value (not an equality of values).
  friend bool operator==(const Shared& a, const Shared& b) { return a.node_ == b.node_; }

 private:
  struct Node {
    std::atomic<std::uint32_t> refs;
    T value;
  };
  Node* node_ = nullptr;
};

}  // namespace kelo_core
