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
  if (!dynamic_.empty()) {
    name_ids_.reserve(1);
    make_room(names_, 1);
  }
  element_ids_.reserve(1);
  port_ids_.reserve(k);
  make_room(records_, k);
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
    duplicates_.push_back({&e.id.uuid, false, node, index});
  }
  auto put = [&](const Port& p) {
    const DataContract& c = p.contract;
    const PortRecord record{node, p.direction, c.category(),
                            c.category() != DataContract::Category::Custom && c.spec() == nullptr};
    const std::uint32_t pfp = IdTable::fingerprint(p.id.uuid);
    const std::uint32_t r = port_ids_.find(pfp, [&](std::uint32_t i) { return ports_[i]->id == p.id; });
    if (r == IdTable::kNone) {
      const auto fresh = std::uint32_t(ports_.size());
      port_ids_.insert(pfp, fresh);
      records_.push_back(record);
      ports_.push_back(&p);
      if (!pending_.empty()) {
        const std::uint32_t w =
            pending_ids_.find(pfp, [&](std::uint32_t i) { return pending_[i].id == p.id.uuid; });
        for (std::uint32_t i = w; i != IdTable::kNone;) {
          Pending& end = pending_[i];
          if (!end.resolved) {
            (end.target ? ends_[end.edge].target : ends_[end.edge].source) = fresh;
            end.resolved = true;
          }
          i = end.next_plus_one - 1;
        }
      }
    } else {
      duplicates_.push_back({&p.id.uuid, true, records_[r].node, node});
      records_[r] = record;
      ports_[r] = &p;
    }
  };
  for (const Port& p : e.inputs) put(p);
  for (const Port& p : e.outputs) put(p);
  if (!dynamic_.empty()) enter_name(e.name, true);
}

std::uint32_t GraphIndex::enter_name(std::string_view text, bool element) noexcept {
  const std::uint32_t fp = IdTable::fingerprint(text);
  std::uint32_t i = find_name(fp, text);
  if (i == IdTable::kNone) {
    i = std::uint32_t(names_.size());
    name_ids_.insert(fp, i);
    names_.push_back({text, element});
  } else if (element) {
    names_[i].element = true;
  }
  return i;
}

void GraphIndex::prepare_edge(const Edge& edge, const SharedVector<Element>& elements) {
  make_room(ends_, 1);
  pending_ids_.reserve(2);
  make_room(pending_, 2);
  if (!edge.source_element()) return;
  // The first dynamic-output edge enters every element's name.
  const std::size_t k = 1 + (dynamic_.empty() ? elements.size() : 0);
  name_ids_.reserve(k);
  make_room(names_, k);
  make_room(dynamic_, 1);
}

void GraphIndex::commit_edge(const Edge& edge, std::uint32_t index,
                             const SharedVector<Element>& elements) noexcept {
  const EdgeEnds ends{find_port(edge.source.uuid), find_port(edge.target.uuid)};
  ends_.push_back(ends);
  auto wait = [&](const Uuid& id, bool target) {
    const std::uint32_t fp = IdTable::fingerprint(id);
    const auto at = std::uint32_t(pending_.size());
    const std::uint32_t first =
        pending_ids_.find(fp, [&](std::uint32_t i) { return pending_[i].id == id; });
    if (first == IdTable::kNone) {
      pending_.push_back({id, index, 0, target, false});
      pending_ids_.insert(fp, at);
    } else {
      // Second in the chain: the table keeps pointing at the first.
      pending_.push_back({id, index, pending_[first].next_plus_one, target, false});
      pending_[first].next_plus_one = at + 1;
    }
  };
  if (ends.source == IdTable::kNone) wait(edge.source.uuid, false);
  if (ends.target == IdTable::kNone) wait(edge.target.uuid, true);
  if (auto name = edge.source_element()) {
    if (dynamic_.empty()) {
      for (const Element& e : elements) enter_name(e.name, true);
    }
    dynamic_.push_back({index, enter_name(*name, false)});
  }
}

}  // namespace kelo_core::graph
