#include "graph/edge.h"

#include <utility>

namespace kelo_core::graph {

Edge::Edge(PortId s, PortId t, bool late_binding)
    : source(s), target(t), bits_(late_binding ? kLate : 0) {}

std::uintptr_t Edge::copy_names(std::uintptr_t bits) {
  auto* n = reinterpret_cast<const Names*>(bits & ~kLate);
  if (!n) return bits;
  return reinterpret_cast<std::uintptr_t>(new Names(*n)) | (bits & kLate);
}

Edge::Edge(const Edge& other)
    : source(other.source), target(other.target), bits_(copy_names(other.bits_)) {}

Edge::Edge(Edge&& other) noexcept
    : source(other.source), target(other.target), bits_(std::exchange(other.bits_, 0)) {}

Edge& Edge::operator=(const Edge& other) {
  if (this != &other) {
    std::uintptr_t bits = copy_names(other.bits_);
    delete names();
    source = other.source;
    target = other.target;
    bits_ = bits;
  }
  return *this;
}

Edge& Edge::operator=(Edge&& other) noexcept {
  if (this != &other) {
    delete names();
    source = other.source;
    target = other.target;
    bits_ = std::exchange(other.bits_, 0);
  }
  return *this;
}

Edge::~Edge() { delete names(); }

Result<Edge> Edge::dynamic_output(std::string source_element, std::string pad_name,
                                  PortId target) {
  auto source = PortId::fresh();
  if (!source) return source.error();
  Edge e(*source, target, true);
  auto* n = new Names{std::move(source_element), std::move(pad_name)};
  e.bits_ |= reinterpret_cast<std::uintptr_t>(n);
  return e;
}

std::optional<std::string_view> Edge::source_element() const {
  const Names* n = names();
  if (!n || !n->element) return std::nullopt;
  return std::string_view(*n->element);
}

std::optional<std::string_view> Edge::source_pad() const {
  const Names* n = names();
  if (!n || !n->pad) return std::nullopt;
  return std::string_view(*n->pad);
}

Edge Edge::with_late_binding() const& { return Edge(*this).with_late_binding(); }

Edge Edge::with_late_binding() && {
  bits_ |= kLate;
  return std::move(*this);
}

bool operator==(const Edge& a, const Edge& b) {
  return a.source == b.source && a.target == b.target && a.late_binding() == b.late_binding() &&
         a.source_element() == b.source_element() && a.source_pad() == b.source_pad();
}

}  // namespace kelo_core::graph
