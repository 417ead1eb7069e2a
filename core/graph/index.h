// A graph's ids as dense 32-bit indexes, kept up to date as elements and
// edges are added, so that validation reads arrays instead of hashing every
// id again on every run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include "graph/edge.h"
#include "graph/element.h"
#include "support/hash.h"
#include "support/seeded_hash.h"
#include "support/shared_vector.h"
#include "support/uuid.h"

namespace kelo_core::graph {

// Open addressing with linear probing from UUIDs to 32-bit values. A slot is
// eight bytes: a 32-bit fingerprint of the key's hash, which also picks the
// home slot (so that growing never reads a key again), and the value. The
// keys themselves live with their owners; only a matching fingerprint leads
// the caller to compare one.
class IdTable {
 public:
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  // Ids parsed from text need not be random: the hash mixes all sixteen
  // bytes under the process key.
  static std::uint32_t fingerprint(const Uuid& id) {
    static const ProcessKey key = process_key();
    std::uint64_t lo, hi;
    std::memcpy(&lo, id.bytes.data(), 8);
    std::memcpy(&hi, id.bytes.data() + 8, 8);
    std::uint64_t x = (lo ^ key.k0) ^ ((hi ^ key.k1) * 0xC2B2AE3D27D4EB4FULL >> 29 |
                                       (hi ^ key.k1) * 0xC2B2AE3D27D4EB4FULL << 35);
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return std::uint32_t(x >> 32);
  }

  static std::uint32_t fingerprint(std::string_view text) {
    static const ProcessKey key = process_key();
    return std::uint32_t(HashStream(key.k0, key.k1).text(text).finish() >> 32);
  }

  // The value under a key with fingerprint fp for which same(value) holds,
  // or kNone.
  template <class Same>
  std::uint32_t find(std::uint32_t fp, Same same) const {
    if (slots_.empty()) return kNone;
    for (std::size_t i = home(fp);; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.value_plus_one == 0) return kNone;
      if (s.fingerprint == fp && same(s.value_plus_one - 1)) return s.value_plus_one - 1;
    }
  }
  // Room for n more keys; may fail (bad_alloc), changing nothing.
  void reserve(std::size_t n);
  // A key not in the table yet, after reserve.
  void insert(std::uint32_t fp, std::uint32_t value) noexcept {
    std::size_t i = home(fp);
    while (slots_[i].value_plus_one != 0) i = (i + 1) & mask_;
    slots_[i] = Slot{fp, value + 1};
    ++count_;
  }

 private:
  struct Slot {
    std::uint32_t fingerprint = 0;
    std::uint32_t value_plus_one = 0;  // 0: free
  };
  std::size_t home(std::uint32_t fp) const { return std::size_t(fp) >> shift_; }

  std::vector<Slot> slots_;  // a power of two of them, at most two thirds used
  std::size_t mask_ = 0;
  unsigned shift_ = 32;
  std::size_t count_ = 0;
};

// What validation reads of a port: its owner's node, direction and the
// contract's category and whether it constrains anything, eight bytes, so
// that an edge's check reads this record and not the port. The port itself
// (kept beside, in ports()) is read only when contracts have to be compared
// in full or printed.
struct PortRecord {
  std::uint32_t node;
  PortDirection direction;
  DataContract::Category category;
  bool unconstrained;  // no constraints, and not Custom: fits any contract of its category
};
static_assert(sizeof(PortRecord) == 8);

// A duplicate id, as found when its element was added.
struct DuplicateFinding {
  const Uuid* id;  // in the element or its port, which the graph keeps alive
  bool port;
  // The node that had the id first (for a port, its owner's), and the
  // element being added when the id came again.
  std::uint32_t first, again;
};

// The two ends of an edge as port records, kNone when not found.
struct EdgeEnds {
  std::uint32_t source = IdTable::kNone, target = IdTable::kNone;
};

// A dynamic-output edge's source element name, interned.
struct DynamicName {
  std::uint32_t edge;  // its index among the edges
  std::uint32_t name;  // into GraphIndex::names()
};

// A name that dynamic-output edges refer to, and whether an element has it.
struct NameRecord {
  std::string_view text;  // in an element or an edge, which the graph keeps alive
  bool element;
};

// Element ids name nodes (the first element with an id is the node of every
// element with it); port ids name records (a repeated port id keeps one
// record, describing the last port added under it, inputs before outputs);
// the duplicates are kept in the order validation reports them.
class GraphIndex {
 public:
  // Before element `index` is appended: room for all that commit_element
  // records. May fail (bad_alloc), changing nothing.
  void prepare_element(const Element& e);
  void commit_element(const SharedVector<Element>& elements, std::uint32_t index) noexcept;
  void prepare_edge(const Edge& edge, const SharedVector<Element>& elements);
  void commit_edge(const Edge& edge, std::uint32_t index, const SharedVector<Element>& elements) noexcept;

  // The record of a port id, or kNone. Edge ends are kept resolved: an end
  // is kNone exactly when no port has its id.
  std::uint32_t find_port(const Uuid& id) const {
    return port_ids_.find(IdTable::fingerprint(id),
                          [&](std::uint32_t r) { return ports_[r]->id.uuid == id; });
  }

  const std::vector<PortRecord>& records() const { return records_; }
  // The port behind each record, in its element's block, which the graph
  // keeps alive.
  const std::vector<const Port*>& ports() const { return ports_; }
  const std::vector<DuplicateFinding>& duplicates() const { return duplicates_; }
  const std::vector<EdgeEnds>& ends() const { return ends_; }
  // The dynamic-output edges' element names, in edge order. Names are
  // interned only once some dynamic-output edge has been added (then every
  // element's name, and every later one's, is entered).
  const std::vector<DynamicName>& dynamic_names() const { return dynamic_; }
  const std::vector<NameRecord>& names() const { return names_; }

 private:
  IdTable element_ids_;
  IdTable port_ids_;
  std::vector<PortRecord> records_;
  std::vector<const Port*> ports_;
  std::vector<DuplicateFinding> duplicates_;
  std::vector<EdgeEnds> ends_;
  // Edge ends whose port was not there when the edge was added, by port id:
  // a port added later resolves them.
  struct Pending {
    Uuid id;
    std::uint32_t edge;
    std::uint32_t next_plus_one;  // another end waiting for the same id
    bool target;
    bool resolved;
  };
  IdTable pending_ids_;
  std::vector<Pending> pending_;
  IdTable name_ids_;
  std::vector<NameRecord> names_;
  std::vector<DynamicName> dynamic_;

  std::uint32_t find_name(std::uint32_t fp, std::string_view text) const {
    return name_ids_.find(fp, [&](std::uint32_t i) { return names_[i].text == text; });
  }
  // Enters a name after room was made; returns its record.
  std::uint32_t enter_name(std::string_view text, bool element) noexcept;
};

}  // namespace kelo_core::graph
