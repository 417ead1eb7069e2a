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
#include <utility>


#include "support/seeded_hash.h"
#include "support/text.h"

namespace kelo_core::graph::validation {

namespace {

// ---- memory -------------------------------------------------------------

// On a large graph the id tables are far bigger than the caches and every
// lookup lands on a random line. Waiting for each miss in turn is what makes
// validation slow; instead the passes below compute the hash of the key a
// few items ahead, prefetch its slot, and use the slot when they get there,
// so that many misses are in flight at once.
inline void prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p, 0, 3);
#else
  (void)p;
#endif
}
inline void prefetch_for_write(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(p, 1, 3);
#else
  (void)p;
#endif
}

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
  explicit Arena(std::size_t bytes) : block_(bytes) {}

  // The next `bytes` (a multiple of the line), or null when they do not fit.
  std::byte* take(std::size_t bytes) {
    if (bytes > block_.size() - used_) return nullptr;
    std::byte* p = block_.data() + used_;
    used_ += bytes;
    return p;
  }

 private:
  ZeroedBlock block_;
  std::size_t used_ = 0;
};

// A zero-filled array of a trivial type: from the arena when given one (and
// there is room), else in a block of its own.
template <class T>
class ZeroedArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  explicit ZeroedArray(std::size_t n, Arena* arena = nullptr) {
    std::byte* p = arena ? arena->take(line_bytes<T>(n)) : nullptr;
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

// ---- the id tables --------------------------------------------------------

// The two halves of an id, for hashing and comparing without a call.
struct Key {
  std::uint64_t lo = 0, hi = 0;
  Key(std::uint64_t l, std::uint64_t h) : lo(l), hi(h) {}
  explicit Key(const Uuid& u) {
    std::memcpy(&lo, u.bytes.data(), 8);
    std::memcpy(&hi, u.bytes.data() + 8, 8);
  }
  friend bool operator==(const Key&, const Key&) = default;
};

// Open addressing with linear probing over `size` slots; a key's home slot
// comes from the high bits of its hash. Ids parsed from text need not be
// random, so the hash mixes all sixteen bytes, under the process key.
class Probe {
 public:
  explicit Probe(std::size_t size) : size_(size), seed_(process_key()) {}

  std::uint64_t hash(const Key& k) const {
    std::uint64_t x = (k.lo ^ seed_.k0) ^ std::rotl((k.hi ^ seed_.k1) * 0xC2B2AE3D27D4EB4FULL, 29);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return x;
  }
  // The hash's high bits scaled onto [0, size).
  std::size_t home(std::uint64_t h) const {
    return std::size_t((static_cast<unsigned __int128>(h) * size_) >> 64);
  }
  std::size_t next(std::size_t i) const { return i + 1 == size_ ? 0 : i + 1; }
  std::size_t size() const { return size_; }

 private:
  std::size_t size_;
  ProcessKey seed_;
};

// Slots for at most `n` keys at a load of two thirds or less.
std::size_t slots_for(std::size_t n) { return n + n / 2 + 16; }

// Element id -> node: the index of the first element with the id, so that
// elements sharing an id share a node. A slot is a 32-bit fingerprint of the
// hash and the node: eight bytes. Only a matching fingerprint leads to the
// element itself for the full comparison, so a new id costs one random
// line and nothing else.
class ElementIds {
 public:
  ElementIds(const std::vector<Element>& elements, Arena* arena)
      : elements_(elements),
        probe_(slots_for(elements.size())),
        slots_(probe_.size(), arena) {}
  static std::size_t bytes(std::size_t elements) {
    return line_bytes<Slot>(slots_for(elements));
  }

  std::uint64_t hash(const Uuid& id) const { return probe_.hash(Key(id)); }
  void prefetch_slot(std::uint64_t h) const { prefetch_for_write(&slots_[probe_.home(h)]); }

  // The node of element `index`, whose id hashes to `h`: `index` itself
  // when the id is new (*fresh), else the node of the first element with it.
  std::uint32_t insert(std::uint32_t index, std::uint64_t h, bool* fresh) {
    const Key key(elements_[index].id.uuid);
    const auto fp = std::uint32_t(h);
    for (std::size_t i = probe_.home(h);; i = probe_.next(i)) {
      Slot& s = slots_[i];
      if (s.node_plus_one == 0) {
        s = Slot{fp, index + 1};
        *fresh = true;
        return index;
      }
      if (s.fingerprint == fp && Key(elements_[s.node_plus_one - 1].id.uuid) == key) {
        *fresh = false;
        return s.node_plus_one - 1;
      }
    }
  }

 private:
  struct Slot {
    std::uint32_t fingerprint;
    std::uint32_t node_plus_one;  // 0: free
  };

  const std::vector<Element>& elements_;
  Probe probe_;
  ZeroedArray<Slot> slots_;
};

// What the edge pass needs of a port: its key, owner's node, direction, and
// the contract's category and whether it constrains anything, so that an
// edge's lookup reads this record and not the port; the port itself is read
// only when contracts have to be compared in full or printed.
struct PortRecord {
  std::uint64_t lo, hi;
  const Port* port;
  std::uint32_t node;
  PortDirection direction;
  DataContract::Category category;
  bool unconstrained;  // no constraints, and not Custom: fits any contract of its category
};
static_assert(sizeof(PortRecord) == 32);

// Whether a source's contract can feed a target's, from the records where
// they tell, else from the contracts themselves.
bool compatible(const PortRecord& s, const PortRecord& t) {
  if (s.category != t.category) return false;
  if (s.unconstrained || t.unconstrained) return true;
  return s.port->contract.is_compatible_with(t.port->contract);
}

// Port id -> record. The records are dense, in first-insertion order; the
// table holds, per slot, a 32-bit fingerprint of the key's hash and the
// record's index, eight bytes, so that it stays small, and only a matching
// fingerprint leads to the record. Sized for a guess and doubled when the
// guess is passed (a graph's port count is not known without reading every
// element twice). A repeated id keeps one record, describing the last port
// put under it.
class PortIndex {
 public:
  explicit PortIndex(std::size_t expected, Arena* arena = nullptr)
      : capacity_(capacity_for(expected)),
        probe_(slots_for(capacity_)),
        slots_(std::make_unique<ZeroedArray<Slot>>(probe_.size(), arena)),
        records_(std::make_unique<ZeroedArray<PortRecord>>(capacity_, arena)) {}
  static std::size_t bytes(std::size_t expected) {
    const std::size_t capacity = capacity_for(expected);
    return line_bytes<Slot>(slots_for(capacity)) + line_bytes<PortRecord>(capacity);
  }

  std::uint64_t hash(const Uuid& id) const { return probe_.hash(Key(id)); }
  void prefetch_slot(std::uint64_t h, bool for_write) const {
    const Slot* s = &(*slots_)[probe_.home(h)];
    for_write ? prefetch_for_write(s) : prefetch(s);
  }

  // Puts port `p` of node `node` under its id, which hashes to `h`; false
  // when the id was there already (its record now describes `p`).
  bool put(const Port& p, std::uint64_t h, std::uint32_t node) {
    if (count_ == capacity_) grow();
    const Key key(p.id.uuid);
    const auto fp = std::uint32_t(h);
    bool fresh = false;
    PortRecord* r = nullptr;
    for (std::size_t i = probe_.home(h);; i = probe_.next(i)) {
      Slot& s = (*slots_)[i];
      if (s.record_plus_one == 0) {
        s = Slot{fp, std::uint32_t(++count_)};
        r = &(*records_)[count_ - 1];
        fresh = true;
        break;
      }
      PortRecord& old = (*records_)[s.record_plus_one - 1];
      if (s.fingerprint == fp && old.lo == key.lo && old.hi == key.hi) {
        r = &old;
        break;
      }
    }
    const DataContract& c = p.contract;
    *r = PortRecord{key.lo, key.hi, &p,         node, p.direction, c.category(),
                    c.category() != DataContract::Category::Custom && c.spec() == nullptr};
    return fresh;
  }

  // Record `i`, when there is one and it holds `id`.
  const PortRecord* record_if(std::int64_t i, const Uuid& id) const {
    if (i < 0 || std::uint64_t(i) >= count_) return nullptr;
    const PortRecord& r = (*records_)[std::size_t(i)];
    const Key key(id);
    return r.lo == key.lo && r.hi == key.hi ? &r : nullptr;
  }
  std::int64_t index_of(const PortRecord* r) const { return r - &(*records_)[0]; }

  // The record of the id hashing to `h`, or null.
  const PortRecord* find(const Uuid& id, std::uint64_t h) const {
    const Key key(id);
    const auto fp = std::uint32_t(h);
    for (std::size_t i = probe_.home(h);; i = probe_.next(i)) {
      const Slot& s = (*slots_)[i];
      if (s.record_plus_one == 0) return nullptr;
      if (s.fingerprint != fp) continue;
      const PortRecord& r = (*records_)[s.record_plus_one - 1];
      if (r.lo == key.lo && r.hi == key.hi) return &r;
    }
  }

 private:
  struct Slot {
    std::uint32_t fingerprint;
    std::uint32_t record_plus_one;  // 0: free
  };

  static std::size_t capacity_for(std::size_t expected) {
    return std::max<std::size_t>(expected, 16);
  }

  // Into blocks of its own: the arena was sized for the guess.
  void grow() {
    PortIndex bigger(2 * capacity_);
    for (std::size_t k = 0; k < count_; ++k) {
      const PortRecord& r = (*records_)[k];
      const std::uint64_t h = bigger.probe_.hash(Key(r.lo, r.hi));
      std::size_t i = bigger.probe_.home(h);
      while ((*bigger.slots_)[i].record_plus_one != 0) i = bigger.probe_.next(i);
      (*bigger.slots_)[i] = Slot{std::uint32_t(h), std::uint32_t(k + 1)};
      (*bigger.records_)[k] = r;
    }
    bigger.count_ = count_;
    *this = std::move(bigger);
  }

  std::size_t capacity_;
  std::size_t count_ = 0;
  Probe probe_;
  std::unique_ptr<ZeroedArray<Slot>> slots_;
  std::unique_ptr<ZeroedArray<PortRecord>> records_;
};

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

// ---- lookahead ----------------------------------------------------------

// Values computed ahead of their use (hashes), first in first out: push(v)
// for the item N places further on, pop() for the current one.
template <std::size_t N, class T = std::uint64_t>
class HashRing {
 public:
  static constexpr std::size_t kAhead = N;

  void push(T v) { ring_[pushed_++ % N] = v; }
  T pop() { return ring_[popped_++ % N]; }

 private:
  std::array<T, N> ring_{};
  std::size_t pushed_ = 0, popped_ = 0;
};

// Walks the ids of pass 1 in its order: each element's id, then its inputs',
// then its outputs'. It runs ahead of the pass, so it also fetches the port
// blocks of the elements a little beyond it.
class IdWalk {
 public:
  explicit IdWalk(const std::vector<Element>& elements)
      : e_(elements.data()), end_(e_ + elements.size()) {
    for (std::size_t i = 0; i < kBlocksAhead && e_ + i < end_; ++i) fetch_ports(e_[i]);
  }

  bool done() const { return e_ == end_; }
  bool at_element() const { return k_ == 0; }
  const Uuid& id() const {
    if (k_ == 0) return e_->id.uuid;
    const std::size_t p = k_ - 1, ins = e_->inputs.size();
    return p < ins ? e_->inputs[p].id.uuid : e_->outputs[p - ins].id.uuid;
  }
  void next() {
    if (++k_ <= e_->inputs.size() + e_->outputs.size()) return;
    k_ = 0;
    ++e_;
    if (std::size_t(end_ - e_) > kBlocksAhead) fetch_ports(e_[kBlocksAhead]);
  }

 private:
  static constexpr std::size_t kBlocksAhead = 8;
  static void fetch_ports(const Element& e) {
    if (!e.inputs.empty()) prefetch(e.inputs.begin());
    if (!e.outputs.empty()) prefetch(e.outputs.begin());
  }

  const Element* e_;
  const Element* end_;
  std::size_t k_ = 0;  // 0: the element's id; then its ports, inputs first
};

// Edges are mostly listed in the order their ports were added, so one end
// of an edge tends to sit a fixed number of records after the same end of
// the edge before (two, on a chain of one-input, one-output elements). An
// EndGuess tries that record before the table: a matching key is the
// answer, since every id has one record, and it costs no random lookup.
// After a few wrong guesses in a row it only tries now and then, so that a
// graph in no such order pays for almost none.
class EndGuess {
 public:
  // Whether the last guess held: then the table lookup need not be
  // prepared ahead.
  bool confident() const { return misses_ == 0; }

  // The end's record: the guessed one if it holds `id`, else through the
  // table (`h`, when the hash was computed ahead).
  const PortRecord* resolve(const PortIndex& ports, const Uuid& id,
                            std::optional<std::uint64_t> h) {
    if (misses_ < kTries || misses_ % kRetryEvery == 0) {
      if (const PortRecord* r = ports.record_if(last_ + stride_, id)) {
        last_ += stride_;
        misses_ = 0;
        return r;
      }
    }
    ++misses_;
    const PortRecord* r = ports.find(id, h ? *h : ports.hash(id));
    if (r) {
      const std::int64_t i = ports.index_of(r);
      stride_ = i - last_;
      last_ = i;
    }
    return r;
  }

 private:
  static constexpr std::uint32_t kTries = 4, kRetryEvery = 64;
  std::int64_t last_ = -1, stride_ = 1;
  std::uint32_t misses_ = 0;  // wrong or skipped guesses in a row
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
        end(nodes, arena),
        succ(arcs, arena),
        arcs(arcs, arena) {}
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
  ZeroedArray<std::uint32_t> path(a.nodes, arena);  // a node is on it at most once
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
  const std::vector<Edge>& edges = graph.edges();
  const auto n = std::uint32_t(elements.size());

  // 1. Element ids, port ids and the port index; 2. one node per element
  // id. The walk hashes the ids a ring's length ahead of the inserts and
  // prefetches their slots.
  const std::size_t expected_ports = 2 * elements.size();  // most have an input and an output
  Arena arena(ElementIds::bytes(n) + PortIndex::bytes(expected_ports) +
              Adjacency::bytes(n, edges.size()) + cycle_search_bytes(n));
  ElementIds element_ids(elements, &arena);
  PortIndex ports(expected_ports, &arena);
  HashRing<16> ids_ahead;
  IdWalk walk(elements);
  auto ahead = [&] {
    if (walk.done()) return;
    if (walk.at_element()) {
      const std::uint64_t h = element_ids.hash(walk.id());
      element_ids.prefetch_slot(h);
      ids_ahead.push(h);
    } else {
      const std::uint64_t h = ports.hash(walk.id());
      ports.prefetch_slot(h, true);
      ids_ahead.push(h);
    }
    walk.next();
  };
  auto next_hash = [&] {
    const std::uint64_t h = ids_ahead.pop();
    ahead();
    return h;
  };
  for (std::size_t i = 0; i < ids_ahead.kAhead; ++i) ahead();
  auto index_port = [&](const Port& p, std::uint32_t node) {
    if (!ports.put(p, next_hash(), node)) report.errors.emplace_back(DuplicatePortId{p.id});
  };
  for (std::uint32_t i = 0; i < n; ++i) {
    const Element& e = elements[i];
    bool fresh;
    const std::uint32_t node = element_ids.insert(i, next_hash(), &fresh);
    if (!fresh) report.errors.emplace_back(DuplicateElementId{e.id});
    for (const Port& p : e.inputs) index_port(p, node);
    for (const Port& p : e.outputs) index_port(p, node);
  }

  // 3. Edges, in order. Each end is guessed from the edge before; an end
  // whose guesses have been failing is hashed and prefetched a ring's
  // length ahead instead.
  Adjacency adjacency(n, edges.size(), &arena);
  std::optional<NameSet> names;
  EndGuess source_guess, target_guess;
  HashRing<32, std::optional<std::uint64_t>> ends_ahead;  // source, target, source, ...
  std::size_t fetched = 0;
  auto ahead_end = [&](const EndGuess& guess, const PortId& id) {
    if (guess.confident()) {
      ends_ahead.push(std::nullopt);
    } else {
      const std::uint64_t h = ports.hash(id.uuid);
      ports.prefetch_slot(h, false);
      ends_ahead.push(h);
    }
  };
  auto ahead_edge = [&] {
    if (fetched == edges.size()) return;
    const Edge& edge = edges[fetched++];
    ahead_end(source_guess, edge.source);
    ahead_end(target_guess, edge.target);
  };
  for (std::size_t i = 0; i < ends_ahead.kAhead / 2; ++i) ahead_edge();
  for (const Edge& edge : edges) {
    const std::optional<std::uint64_t> hs = ends_ahead.pop(), ht = ends_ahead.pop();
    ahead_edge();
    const PortRecord* source = source_guess.resolve(ports, edge.source.uuid, hs);
    const PortRecord* target = target_guess.resolve(ports, edge.target.uuid, ht);
    if (source && target) {
      if (source->direction != PortDirection::Output || target->direction != PortDirection::Input) {
        report.errors.emplace_back(
            InvalidPortDirection{edge.source, edge.target, source->direction, target->direction});
      }
      if (!compatible(*source, *target)) {
        report.errors.emplace_back(ContractMismatch{edge.source, edge.target,
                                                    source->port->contract.str(),
                                                    target->port->contract.str()});
      }
      adjacency.add(source->node, target->node);
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
  adjacency.link();
  const std::vector<std::uint32_t> cycle = find_cycle(adjacency, &arena);
  if (!cycle.empty()) {
    CycleDetected found;
    found.elements.reserve(cycle.size());
    for (std::uint32_t node : cycle) found.elements.push_back(elements[node].id);
    report.errors.emplace_back(std::move(found));
  }
  return report;
}

}  // namespace kelo_core::graph::validation

namespace kelo_core::graph {

validation::ValidationReport Graph::validate() const { return validation::validate(*this); }

}  // namespace kelo_core::graph
