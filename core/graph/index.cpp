#include "graph/index.h"

#include <bit>

namespace kelo_core::graph {

namespace {

// Room for n more in a vector: by doubling, so that appends stay amortised
// O(1). May fail, changing nothing.
template <class T>
void make_room(std::vector<T>& v, std::size_t n) {
  if (v.capacity() - v.size() >= n) return;
  v.reserve(std::max(v.size() + n, 2 * v.capacity()));
}

}  // namespace

void IdTable::reserve(std::size_t n) {
  const std::size_t need = count_ + n;
  if (need * 3 <= slots_.size() * 2) return;
  const std::size_t size = std::bit_ceil(std::max<std::size_t>(16, need * 3 / 2 + 1));
  std::vector<Slot> grown(size);  // the one step that can fail
  const unsigned shift = 32 - unsigned(std::countr_zero(size));
  const std::size_t mask = size - 1;
  for (const Slot& s : slots_) {
    if (s.value_plus_one == 0) continue;
    std::size_t i = std::size_t(s.fingerprint) >> shift;
    while (grown[i].value_plus_one != 0) i = (i + 1) & mask;
    grown[i] = s;
  }
  slots_ = std::move(grown);
  mask_ = mask;
  shift_ = shift;
}

void GraphIndex::prepare_element(const Element& e) {
  const std::size_t k = e.inputs.size() + e.outputs.size();
  element_ids_.reserve(1);
  port_ids_.reserve(k);
  make_room(ports_, k);
  make_room(duplicates_, 1 + k);
}

void GraphIndex::commit_element(const SharedVector<Element>& elements, std::uint32_t index) noexcept {
  const Element& e = elements[index];
  const std::uint32_t fp = IdTable::fingerprint(e.id.uuid);
  std::uint32_t node =
      element_ids_.find(fp, [&](std::uint32_t i) { return elements[i].id == e.id; });
  if (node == IdTable::kNone) {
    element_ids_.insert(fp, index);
    node = index;
  } else {
    duplicates_.push_back({&e.id.uuid, false});
  }
  auto put = [&](const Port& p) {
    const DataContract& c = p.contract;
    const PortRecord record{&p, node, p.direction, c.category(),
                            c.category() != DataContract::Category::Custom && c.spec() == nullptr};
    const std::uint32_t pfp = IdTable::fingerprint(p.id.uuid);
    const std::uint32_t r = port_ids_.find(pfp, [&](std::uint32_t i) { return ports_[i].port->id == p.id; });
    if (r == IdTable::kNone) {
      port_ids_.insert(pfp, std::uint32_t(ports_.size()));
      ports_.push_back(record);
    } else {
      duplicates_.push_back({&p.id.uuid, true});
      ports_[r] = record;
    }
  };
  for (const Port& p : e.inputs) put(p);
  for (const Port& p : e.outputs) put(p);
}

void GraphIndex::prepare_edge() { make_room(ends_, 1); }

void GraphIndex::commit_edge(const Edge& edge) noexcept {
  const EdgeEnds ends{find_port(edge.source.uuid), find_port(edge.target.uuid)};
  if (ends.source == IdTable::kNone || ends.target == IdTable::kNone) ++unresolved_;
  ends_.push_back(ends);
}

}  // namespace kelo_core::graph
