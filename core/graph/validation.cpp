#include "graph/validation.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <unordered_map>
#include <utility>


#include "support/seeded_hash.h"
#include "support/text.h"

namespace kelo_core::graph::validation {

namespace {

// ---- memory -------------------------------------------------------------

// A zero-filled block of memory, aligned to a cache line.
class ZeroedBlock {
 public:
  static constexpr std::size_t kLine = 64;

  explicit ZeroedBlock(std::size_t bytes) : bytes_(std::max<std::size_t>(bytes, 1)) {
    raw_ = std::calloc(bytes_ + kLine - 1, 1);
    if (!raw_) throw std::bad_alloc();
    const auto at = (reinterpret_cast<std::uintptr_t>(raw_) + kLine - 1) & ~(kLine - 1);
    data_ = reinterpret_cast<std::byte*>(at);
  }
  ZeroedBlock(const ZeroedBlock&) = delete;
  ZeroedBlock& operator=(const ZeroedBlock&) = delete;
  ~ZeroedBlock() { std::free(raw_); }

  std::byte* data() const { return data_; }
  std::size_t size() const { return bytes_; }

 private:
  std::size_t bytes_;
  std::byte* data_ = nullptr;
  void* raw_ = nullptr;
};

// Bytes for `n` values of T, rounded up to whole cache lines.
template <class T>
constexpr std::size_t line_bytes(std::size_t n) {
  return (std::max<std::size_t>(n, 1) * sizeof(T) + ZeroedBlock::kLine - 1) /
         ZeroedBlock::kLine * ZeroedBlock::kLine;
}

// All the working arrays of one run, carved in turn out of one block: one
// allocation and one release instead of a dozen, which also keeps a small
// run's memory in the allocator's hands between runs instead of going back
// to the system (and faulting in again) each time.
class Arena {
 public:
  // Over `size` bytes, aligned to a line.
  Arena(std::byte* data, std::size_t size) : data_(data), size_(size) {}

  // The next `bytes` (a multiple of the line), or null when they do not fit.
  std::byte* take(std::size_t bytes) {
    if (bytes > size_ - used_) return nullptr;
    std::byte* p = data_ + used_;
    used_ += bytes;
    return p;
  }

 private:
  std::byte* data_;
  std::size_t size_;
  std::size_t used_ = 0;
};

// An array of a trivial type: from the arena when given one (and there is
// room), else in a zero-filled block of its own. Arena memory holds what the
// last run left there: it is zero-filled only when `zeroed` is asked for, so
// that a run writes no more than the arrays it reads before writing.
template <class T>
class ZeroedArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  explicit ZeroedArray(std::size_t n, Arena* arena = nullptr, bool zeroed = true) {
    std::byte* p = arena ? arena->take(line_bytes<T>(n)) : nullptr;
    if (p && zeroed) std::memset(p, 0, line_bytes<T>(n));
    if (!p) {
      own_ = std::make_unique<ZeroedBlock>(line_bytes<T>(n));
      p = own_->data();
    }
    data_ = reinterpret_cast<T*>(p);
  }

  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }

 private:
  std::unique_ptr<ZeroedBlock> own_;
  T* data_;
};

// Whether a source's contract can feed a target's, from the records where
// they tell, else from the contracts themselves. Class-id lists are the one
// constraint whose test is not constant per edge; a run sorts each target's
// list once and remembers the answer per pair of constraints (copied
// contracts share theirs), so that many edges into a port cost one test.
class Compatibility {
 public:
  bool operator()(const PortRecord& s, const PortRecord& t, const Graph& g, std::uint32_t sr,
                  std::uint32_t tr) {
    if (s.category != t.category) return false;
    if (s.unconstrained || t.unconstrained) return true;
    const DataContract& sc = g.record_contract(sr);
    const DataContract& tc = g.record_contract(tr);
    const ContractSpec* a = sc.spec();
    const ContractSpec* b = tc.spec();
    if (!a || !b || !a->class_ids || !b->class_ids ||
        a->class_ids->size() * b->class_ids->size() <= 64) {
      return sc.is_compatible_with(tc);
    }
    auto [ids, unsorted] = sorted_.try_emplace(b);
    if (unsorted) {
      ids->second = *b->class_ids;
      std::ranges::sort(ids->second);
    }
    // A short list of ours is searched for at once; a long one once per pair.
    constexpr std::size_t kSearched = 16;
    if (a->class_ids->size() <= kSearched) return a->is_compatible_with_sorted(*b, ids->second);
    auto [known, fresh] = answers_.try_emplace({a, b}, false);
    if (fresh) known->second = a->is_compatible_with_sorted(*b, ids->second);
    return known->second;
  }

 private:
  struct PairHash {
    std::size_t operator()(const std::pair<const ContractSpec*, const ContractSpec*>& p) const {
      return std::hash<const void*>()(p.first) * 31 + std::hash<const void*>()(p.second);
    }
  };
  std::unordered_map<const ContractSpec*, std::vector<std::uint32_t>> sorted_;
  std::unordered_map<std::pair<const ContractSpec*, const ContractSpec*>, bool, PairHash> answers_;
};

// ---- the cycle search ---------------------------------------------------

// Successors by node, flat: node n's are succ[begin[n] .. end[n]), in edge
// order. The edge pass records the arcs and counts each node's in `begin`;
// link() turns the counts into the layout.
struct Adjacency {
  struct Arc {
    std::uint32_t from, to;
  };

  Adjacency(std::size_t nodes, std::size_t arcs, Arena* arena)
      : nodes(nodes),
        begin(nodes, arena),
        end(nodes, arena, false),
        succ(arcs, arena, false),
        arcs(arcs, arena, false) {}
  static std::size_t bytes(std::size_t nodes, std::size_t arcs) {
    return 2 * line_bytes<std::uint32_t>(nodes) + line_bytes<std::uint32_t>(arcs) +
           line_bytes<Arc>(arcs);
  }

  void add(std::uint32_t from, std::uint32_t to) {
    arcs[arc_count++] = Arc{from, to};
    ++begin[from];
  }
  void link() {
    std::uint32_t at = 0;
    for (std::size_t n = 0; n < nodes; ++n) {
      at += std::exchange(begin[n], at);
      end[n] = begin[n];
    }
    for (std::size_t k = 0; k < arc_count; ++k) succ[end[arcs[k].from]++] = arcs[k].to;
  }

  std::size_t nodes;
  ZeroedArray<std::uint32_t> begin, end, succ;
  ZeroedArray<Arc> arcs;  // in edge order
  std::size_t arc_count = 0;
};

// Depth-first search in three colours (0 unvisited, 1 on the current path,
// 2 finished) from every unvisited node in turn: a successor on the current
// path closes a cycle. The path is an explicit stack so that its depth is
// bounded by memory, not by the call stack; a node's next successor is
// a.begin[node], advanced as it is taken, so successors go in edge order,
// as a recursive search would take them.
std::size_t cycle_search_bytes(std::size_t nodes) {
  return line_bytes<std::uint8_t>(nodes) + line_bytes<std::uint32_t>(nodes);
}
// The nodes of the first cycle found, from the successor that closed it to
// the node whose arc closed it; empty when there is none.
std::vector<std::uint32_t> find_cycle(Adjacency& a, Arena* arena) {
  ZeroedArray<std::uint8_t> colour(a.nodes, arena);
  ZeroedArray<std::uint32_t> path(a.nodes, arena, false);  // a node is on it at most once
  for (std::uint32_t root = 0; root < a.nodes; ++root) {
    if (colour[root] != 0) continue;
    colour[root] = 1;
    std::size_t depth = 0;
    path[depth++] = root;
    while (depth != 0) {
      const std::uint32_t node = path[depth - 1];
      if (a.begin[node] == a.end[node]) {
        colour[node] = 2;
        --depth;
        continue;
      }
      const std::uint32_t s = a.succ[a.begin[node]++];
      if (colour[s] == 1) {
        std::size_t from = depth - 1;
        while (path[from] != s) --from;
        return std::vector<std::uint32_t>(&path[from], &path[from] + (depth - from));
      }
      if (colour[s] == 0) {
        colour[s] = 1;
        path[depth++] = s;
      }
    }
  }
  return {};
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

constexpr std::array<std::string_view, 1> kWarningNames = {"UnresolvedLateBinding"};

static_assert(std::variant_size_v<GraphValidationWarning::Payload> == kWarningNames.size());

// Two elements in graph order, once if they are one.
std::vector<std::uint32_t> pair_of(std::uint32_t a, std::uint32_t b) {
  if (a == b) return {a};
  return {std::min(a, b), std::max(a, b)};
}

// The owners of an edge's ends that exist, and the edge.
Indexes edge_at(std::size_t k, const EdgeEnds& ends, const Chunked<PortRecord>& records) {
  Indexes at;
  at.edges = {std::uint32_t(k)};
  const bool s = ends.source != IdTable::kNone, t = ends.target != IdTable::kNone;
  if (s && t) {
    at.elements = pair_of(records[ends.source].node, records[ends.target].node);
  } else if (s || t) {
    at.elements = {records[s ? ends.source : ends.target].node};
  }
  return at;
}

// A cycle's edges, from the nodes find_cycle gave: edges[i] is the first
// edge in edge order from nodes[i] to the next node, the one the search
// took (it takes successors in edge order).
std::vector<std::uint32_t> cycle_edges(const std::vector<std::uint32_t>& nodes,
                                       const Chunked<EdgeEnds>& ends,
                                       const Chunked<PortRecord>& records, std::size_t n) {
  std::vector<std::uint32_t> position(n, IdTable::kNone);
  for (std::size_t i = 0; i < nodes.size(); ++i) position[nodes[i]] = std::uint32_t(i);
  std::vector<std::uint32_t> edges(nodes.size(), IdTable::kNone);
  for (std::size_t k = 0; k < ends.size(); ++k) {
    if (ends[k].source == IdTable::kNone || ends[k].target == IdTable::kNone) continue;
    const std::uint32_t from = position[records[ends[k].source].node];
    if (from == IdTable::kNone || edges[from] != IdTable::kNone) continue;
    if (records[ends[k].target].node == nodes[(from + 1) % nodes.size()]) edges[from] = std::uint32_t(k);
  }
  return edges;
}

}  // namespace

std::string_view GraphValidationError::kind_name() const { return kKindNames[kind()]; }

std::vector<PortId> GraphValidationError::ports() const {
  return std::visit(
      Overloaded{
          [](const EdgeReferencesMissingPort& e) { return std::vector<PortId>{e.port}; },
          [](const PortNotOwnedByElement& e) { return std::vector<PortId>{e.port}; },
          [](const DuplicatePortId& e) { return std::vector<PortId>{e.id}; },
          [](const InvalidPortDirection& e) { return std::vector<PortId>{e.source, e.target}; },
          [](const ContractMismatch& e) { return std::vector<PortId>{e.source, e.target}; },
          [](const DynamicSourceElementNotFound& e) {
            return std::vector<PortId>{e.source, e.target};
          },
          [](const DuplicateElementId&) { return std::vector<PortId>{}; },
          [](const CycleDetected&) { return std::vector<PortId>{}; },
      },
      payload_);
}

std::optional<std::string> GraphValidationError::element_name() const {
  if (const auto* d = std::get_if<DynamicSourceElementNotFound>(&payload_)) return d->element;
  return std::nullopt;
}

std::string_view GraphValidationWarning::kind_name() const { return kWarningNames[kind()]; }

std::string GraphValidationWarning::message() const {
  const auto& w = std::get<UnresolvedLateBinding>(payload_);
  return deferred_warning(w.source, w.target);
}

std::vector<PortId> GraphValidationWarning::ports() const {
  const auto& w = std::get<UnresolvedLateBinding>(payload_);
  return {w.source, w.target};
}

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
  const Chunked<PortRecord>& records = graph.records();
  const auto n = std::uint32_t(graph.num_elements());
  const std::size_t num_edges = graph.num_edges();

  // 1. and 2. Duplicate element and port ids, found as they were added.
  for (const DuplicateFinding& d : graph.duplicates()) {
    Indexes at{pair_of(d.first, d.again), {}};
    if (d.port) {
      report.errors.emplace_back(DuplicatePortId{PortId{d.id}}, std::move(at));
    } else {
      report.errors.emplace_back(DuplicateElementId{ElementId{d.id}}, std::move(at));
    }
  }

  // 3. Edges, in order, their ends resolved as the graph grew. The common
  // path reads the ends and the two eight-byte records, nothing else.
  const std::vector<DynamicName>& dynamic = graph.dynamic_names();
  std::size_t next_dynamic = 0;
  const Chunked<EdgeEnds>& ends = graph.ends();
  std::size_t arcs = 0;
  // Whether every arc goes from an element to a later one: then insertion
  // order is a topological order and there is no cycle to search for.
  bool forward = true;
  Compatibility compatible;
  for (std::size_t k = 0; k < num_edges; ++k) {
    const std::uint32_t s = ends[k].source, t = ends[k].target;
    if (s != IdTable::kNone && t != IdTable::kNone) {
      const PortRecord& source = records[s];
      const PortRecord& target = records[t];
      if (source.direction != PortDirection::Output || target.direction != PortDirection::Input) {
        report.errors.emplace_back(
            InvalidPortDirection{graph.edge_source(k), graph.edge_target(k), source.direction,
                                 target.direction},
            edge_at(k, ends[k], records));
      }
      if (!compatible(source, target, graph, s, t)) {
        report.errors.emplace_back(
            ContractMismatch{graph.edge_source(k), graph.edge_target(k),
                             graph.record_contract(s).str(),
                             graph.record_contract(t).str()},
            edge_at(k, ends[k], records));
      }
      forward &= source.node < target.node;
      ++arcs;
      continue;
    }
    struct {
      const PortId &source, &target;
    } edge{graph.edge_source(k), graph.edge_target(k)};
    if (s == IdTable::kNone) {
      // Whether the edge is a dynamic-output one, from the index (the
      // edge's own names lie elsewhere in memory).
      while (next_dynamic < dynamic.size() && dynamic[next_dynamic].edge < k) ++next_dynamic;
      const bool named = next_dynamic < dynamic.size() && dynamic[next_dynamic].edge == k;
      // (Only late-binding edges carry names.)
      if (named) {
        if (!graph.names()[dynamic[next_dynamic].name].element) {
          report.errors.emplace_back(DynamicSourceElementNotFound{std::string(*graph.edge_source_element(k)),
                                                                  edge.source, edge.target},
                                     edge_at(k, ends[k], records));
        }
      } else if (!graph.edge_late_binding(k)) {
        report.errors.emplace_back(EdgeReferencesMissingPort{edge.source}, edge_at(k, ends[k], records));
      } else {
        report.warnings.emplace_back(UnresolvedLateBinding{edge.source, edge.target},
                                     edge_at(k, ends[k], records));
      }
    }
    if (t == IdTable::kNone) {
      report.errors.emplace_back(EdgeReferencesMissingPort{edge.target}, edge_at(k, ends[k], records));
    }
  }

  // 4. At most one cycle, reported last: a search over the element graph,
  // in working arrays the graph keeps between runs.
  if (forward) return report;
  const std::size_t bytes = Adjacency::bytes(n, arcs) + cycle_search_bytes(n);
  const Graph::Scratch& scratch = graph.scratch();
  Graph::Scratch::Block* block = scratch.take(bytes);
  struct Keep {
    const Graph::Scratch& scratch;
    Graph::Scratch::Block* block;
    ~Keep() { scratch.give(block); }
  } keep{scratch, block};
  Arena arena(block->data(), block->size);
  Adjacency adjacency(n, arcs, &arena);
  for (std::size_t k = 0; k < num_edges; ++k) {
    const EdgeEnds& e = ends[k];
    if (e.source != IdTable::kNone && e.target != IdTable::kNone) {
      adjacency.add(records[e.source].node, records[e.target].node);
    }
  }
  adjacency.link();
  const std::vector<std::uint32_t> cycle = find_cycle(adjacency, &arena);
  if (!cycle.empty()) {
    CycleDetected found;
    found.elements.reserve(cycle.size());
    for (std::uint32_t node : cycle) found.elements.push_back(graph.element_id(node));
    report.errors.emplace_back(std::move(found),
                               Indexes{cycle, cycle_edges(cycle, ends, records, n)});
  }
  return report;
}

}  // namespace kelo_core::graph::validation

namespace kelo_core::graph {

validation::ValidationReport Graph::validate() const { return validation::validate(*this); }

}  // namespace kelo_core::graph
