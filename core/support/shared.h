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
    s.node_ = new Node(std::forward<Args>(args)...);
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

  // Wraps a value already made.
  static Shared of(T value) { return make(std::move(value)); }

  const T* get() const { return node_ ? &node_->value : nullptr; }
  // Whether this is the only holder of its value.
  bool unique() const { return node_ && node_->refs.load(std::memory_order_acquire) == 1; }
  // The value, for an in-place change: first copied into a node of its own
  // when other holders share it (copy on write), so they never see the
  // change. Must not be empty.
  T& mutate() {
    if (!unique()) *this = make(node_->value);
    return node_->value;
  }
  const T& operator*() const { return node_->value; }
  const T* operator->() const { return &node_->value; }
  explicit operator bool() const { return node_ != nullptr; }
  // The same shared value (not an equality of values).
  friend bool operator==(const Shared& a, const Shared& b) { return a.node_ == b.node_; }

 private:
  struct Node {
    // A constructor rather than aggregate initialization, which would
    // clear the whole node before the value is made in it.
    template <class... Args>
    explicit Node(Args&&... args) : refs(1), value(std::forward<Args>(args)...) {}
    std::atomic<std::uint32_t> refs;
    T value;
  };
  Node* node_ = nullptr;
};

// An immutable value kept out of line: one pointer wide, copied by a
// reference count, compared by value. Made implicitly from a T, so that it
// can stand in a variant or a record where a T stood.
template <class T>
class Boxed {
 public:
  Boxed(T value) : shared_(Shared<T>::of(std::move(value))) {}  // NOLINT: implicit on purpose
  const T& operator*() const { return *shared_; }
  const T* operator->() const { return shared_.get(); }
  friend bool operator==(const Boxed& a, const Boxed& b) { return a.shared_ == b.shared_ || *a == *b; }

 private:
  Shared<T> shared_;
};

}  // namespace kelo_core
