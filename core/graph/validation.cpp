#include "graph/validation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <utility>

#include "support/seeded_hash.h"
#include "support/text.h"

namespace kelo_core::graph::validation {

namespace {

// ---- working tables ---------------------------------------------------

// The two halves of an id, for hashing and comparing without a call.
struct Key {
  std::uint64_t lo = 0, hi = 0;
  explicit Key(const Uuid& u) {
    std::memcpy(&lo, u.bytes.data(), 8);
    std::memcpy(&hi, u.bytes.data() + 8, 8);
  }
  friend bool operator==(const Key&, const Key&) = default;
};

// Dense records keyed by UUID, in first-insertion order, found through an
// open-addressing table with linear probing. The table holds, per slot, a
// 32-bit fingerprint of the key's hash and the record's index: eight bytes
// a slot, and only a matching fingerprint leads to the record itself. Sized
// once for at most `n` keys (no rehashing; the load stays at or below two
// thirds). A record does not hold its key: key_of(record) reads it from the
// graph.
template <class Entry, auto key_of>
class IdIndex {
 public:
  explicit IdIndex(std::size_t n)
      : size_(n + n / 2 + 16),
        slots_(static_cast<Slot*>(std::calloc(size_, sizeof(Slot)))),
        seed_(process_key()) {
    if (!slots_) throw std::bad_alloc();
    entries_.reserve(n);
  }
  IdIndex(const IdIndex&) = delete;
  IdIndex& operator=(const IdIndex&) = delete;
  ~IdIndex() { std::free(slots_); }

  // The key's record; `candidate` is added as the record when the key is
  // new. *fresh tells which.
  Entry& insert(const Uuid& id, const Entry& candidate, bool* fresh) {
    const Key key(id);
    const std::uint64_t h = hash(key);
    const auto fp = std::uint32_t(h);
    for (std::size_t i = home(h);; i = next(i)) {
      Slot& s = slots_[i];
      if (s.index_plus_one == 0) {
        entries_.push_back(candidate);
        s = Slot{fp, std::uint32_t(entries_.size())};
        *fresh = true;
        return entries_.back();
      }
      if (s.fingerprint == fp && Key(key_of(entries_[s.index_plus_one - 1])) == key) {
        *fresh = false;
        return entries_[s.index_plus_one - 1];
      }
    }
  }

  // The key's record, or null.
  const Entry* find(const Uuid& id) const {
    const Key key(id);
    const std::uint64_t h = hash(key);
    const auto fp = std::uint32_t(h);
    for (std::size_t i = home(h); slots_[i].index_plus_one != 0; i = next(i)) {
      const Slot& s = slots_[i];
      if (s.fingerprint == fp && Key(key_of(entries_[s.index_plus_one - 1])) == key) {
        return &entries_[s.index_plus_one - 1];
      }
    }
    return nullptr;
  }

  std::size_t size() const { return entries_.size(); }
  std::uint32_t index_of(const Entry& e) const { return std::uint32_t(&e - entries_.data()); }

 private:
  struct Slot {
    std::uint32_t fingerprint;
    std::uint32_t index_plus_one;  // 0: free
  };

  std::uint64_t hash(const Key& k) const {
    std::uint64_t x = (k.lo ^ seed_.k0) ^ std::rotl((k.hi ^ seed_.k1) * 0xC2B2AE3D27D4EB4FULL, 29);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
  }
  // The hash's high bits scaled onto [0, size_); its low bits are the
  // fingerprint.
  std::size_t home(std::uint64_t h) const {
    return std::size_t((static_cast<unsigned __int128>(h) * size_) >> 64);
  }
  std::size_t next(std::size_t i) const { return i + 1 == size_ ? 0 : i + 1; }

  std::size_t size_;
  Slot* slots_;
  ProcessKey seed_;
  std::vector<Entry> entries_;
};

// The first element with an id; the record's index is the id's node in the
// cycle search, so elements that share an id share a node.
struct ElementEntry {
  const Element* element;
};
constexpr auto element_key = [](const ElementEntry& e) -> const Uuid& {
  return e.element->id.uuid;
};

// The last port seen with an id, and its owner's node. The port is read in
// place: nothing of it is copied.
struct PortEntry {
  const Port* port;
  std::uint32_t node;
};
constexpr auto port_key = [](const PortEntry& e) -> const Uuid& { return e.port->id.uuid; };

// The element names, for dynamic-output edges; built on first need.
class NameSet {
 public:
  explicit NameSet(const std::vector<Element>& elements)
      : slots_(std::bit_ceil(std::max<std::size_t>(16, 2 * elements.size()))),
        mask_(slots_.size() - 1),
        seed_(process_key()) {
    for (const Element& e : elements) {
      std::size_t i = hash(e.name);
      while (slots_[i] && *slots_[i] != e.name) i = (i + 1) & mask_;
      slots_[i] = &e.name;
    }
  }

  bool contains(std::string_view name) const {
    for (std::size_t i = hash(name); slots_[i]; i = (i + 1) & mask_) {
      if (*slots_[i] == name) return true;
    }
    return false;
  }

 private:
  std::size_t hash(std::string_view s) const {
    return HashStream(seed_.k0, seed_.k1).text(s).finish() & mask_;
  }
  std::vector<const std::string*> slots_;
  std::size_t mask_;
  ProcessKey seed_;
};

// ---- the cycle search ---------------------------------------------------

// Successors by node, flat: node n's are succ[start[n] .. start[n + 1]),
// in edge order.
struct Adjacency {
  std::vector<std::uint32_t> start;
  std::vector<std::uint32_t> succ;
};

Adjacency adjacency(std::uint32_t nodes,
                    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& arcs) {
  Adjacency a;
  a.start.assign(std::size_t(nodes) + 1, 0);
  for (const auto& [from, to] : arcs) ++a.start[from + 1];
  for (std::uint32_t n = 0; n < nodes; ++n) a.start[n + 1] += a.start[n];
  a.succ.resize(arcs.size());
  std::vector<std::uint32_t> fill(a.start.begin(), a.start.end() - 1);
  for (const auto& [from, to] : arcs) a.succ[fill[from]++] = to;
  return a;
}

// Depth-first search in three colours (0 unvisited, 1 on the current path,
// 2 finished) from every unvisited node in turn: a successor on the current
// path closes a cycle. The path is an explicit stack of (node, next
// successor) so that its depth is bounded by memory, not by the call stack;
// successors are taken in edge order, as a recursive search would.
bool has_cycle(const Adjacency& a) {
  const std::uint32_t nodes = std::uint32_t(a.start.size() - 1);
  std::vector<std::uint8_t> colour(nodes, 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> path;
  for (std::uint32_t root = 0; root < nodes; ++root) {
    if (colour[root] != 0) continue;
    colour[root] = 1;
    path.emplace_back(root, a.start[root]);
    while (!path.empty()) {
      auto& [node, next] = path.back();
      if (next == a.start[node + 1]) {
        colour[node] = 2;
        path.pop_back();
        continue;
      }
      std::uint32_t s = a.succ[next++];
      if (colour[s] == 1) return true;
      if (colour[s] == 0) {
        colour[s] = 1;
        path.emplace_back(s, a.start[s]);
      }
    }
  }
  return false;
}

const char* direction_name(PortDirection d) {
  return d == PortDirection::Input ? "Input" : "Output";
}

template <class... K>
struct Overloaded : K... {
  using K::operator()...;
};
template <class... K>
Overloaded(K...) -> Overloaded<K...>;

constexpr std::array<std::string_view, 8> kKindNames = {
    "EdgeReferencesMissingPort", "InvalidPortDirection", "PortNotOwnedByElement",
    "DuplicateElementId",        "DuplicatePortId",      "ContractMismatch",
    "CycleDetected",             "DynamicSourceElementNotFound"};

static_assert(std::variant_size_v<GraphValidationError::Payload> == kKindNames.size());

}  // namespace

std::string_view GraphValidationError::kind_name() const { return kKindNames[kind()]; }

std::string GraphValidationError::message() const {
  return std::visit(
      Overloaded{
          [](const EdgeReferencesMissingPort& e) {
            return "edge references missing port " + e.port.str();
          },
          [](const InvalidPortDirection& e) {
            return "edge " + e.source.str() + " -> " + e.target.str() + " has invalid direction " +
                   direction_name(e.source_direction) + " -> " +
                   direction_name(e.target_direction) + " (expected Output -> Input)";
          },
          [](const PortNotOwnedByElement& e) {
            return "port " + e.port.str() + " does not belong to any element";
          },
          [](const DuplicateElementId& e) { return "duplicate element id " + e.id.str(); },
          [](const DuplicatePortId& e) { return "duplicate port id " + e.id.str(); },
          [](const ContractMismatch& e) {
            return "contract mismatch on edge " + e.source.str() + " -> " + e.target.str() + ": " +
                   e.source_contract + " vs " + e.target_contract;
          },
          [](const CycleDetected&) { return std::string("cycle detected in graph"); },
          [](const DynamicSourceElementNotFound& e) {
            return "dynamic source element " + text::debug(e.element) + " not found (edge " +
                   e.source.str() + " -> " + e.target.str() + ")";
          },
      },
      payload_);
}

std::string deferred_warning(const PortId& source, const PortId& target) {
  return "late-binding edge PortId(" + source.str() + ") \xe2\x86\x92 PortId(" + target.str() +
         "): source port not yet materialized (deferred)";
}

ValidationReport validate(const Graph& graph) {
  ValidationReport report;
  const std::vector<Element>& elements = graph.elements();

  // 1. Element ids, port ids and the port index; 2. one node per element id.
  std::size_t port_count = 0;
  for (const Element& e : elements) port_count += e.inputs.size() + e.outputs.size();
  IdIndex<ElementEntry, element_key> element_ids(elements.size());
  IdIndex<PortEntry, port_key> ports(port_count);
  auto index_port = [&](const Port& p, std::uint32_t node) {
    bool fresh;
    PortEntry& entry = ports.insert(p.id.uuid, PortEntry{&p, node}, &fresh);
    if (!fresh) {
      report.errors.emplace_back(DuplicatePortId{p.id});
      entry = PortEntry{&p, node};
    }
  };
  for (const Element& e : elements) {
    bool fresh;
    const std::uint32_t node =
        element_ids.index_of(element_ids.insert(e.id.uuid, ElementEntry{&e}, &fresh));
    if (!fresh) report.errors.emplace_back(DuplicateElementId{e.id});
    for (const Port& p : e.inputs) index_port(p, node);
    for (const Port& p : e.outputs) index_port(p, node);
  }

  // 3. Edges, in order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> arcs;
  arcs.reserve(graph.edges().size());
  std::optional<NameSet> names;
  for (const Edge& edge : graph.edges()) {
    const PortEntry* source = ports.find(edge.source.uuid);
    const PortEntry* target = ports.find(edge.target.uuid);
    if (source && target) {
      const Port& s = *source->port;
      const Port& t = *target->port;
      if (s.direction != PortDirection::Output || t.direction != PortDirection::Input) {
        report.errors.emplace_back(
            InvalidPortDirection{edge.source, edge.target, s.direction, t.direction});
      }
      if (!s.contract.is_compatible_with(t.contract)) {
        report.errors.emplace_back(
            ContractMismatch{edge.source, edge.target, s.contract.str(), t.contract.str()});
      }
      arcs.emplace_back(source->node, target->node);
      continue;
    }
    if (!source) {
      if (!edge.late_binding()) {
        report.errors.emplace_back(EdgeReferencesMissingPort{edge.source});
      } else if (auto element = edge.source_element()) {
        if (!names) names.emplace(elements);
        if (!names->contains(*element)) {
          report.errors.emplace_back(
              DynamicSourceElementNotFound{std::string(*element), edge.source, edge.target});
        }
      } else {
        report.warnings.push_back(deferred_warning(edge.source, edge.target));
      }
    }
    if (!target) report.errors.emplace_back(EdgeReferencesMissingPort{edge.target});
  }

  // 4. At most one cycle, reported last.
  if (has_cycle(adjacency(std::uint32_t(element_ids.size()), arcs))) {
    report.errors.emplace_back(CycleDetected{});
  }
  return report;
}

}  // namespace kelo_core::graph::validation

namespace kelo_core::graph {

validation::ValidationReport Graph::validate() const { return validation::validate(*this); }

}  // namespace kelo_core::graph
