// The building blocks of a graph's own storage: append-only arrays in fixed
// blocks, a compact hash table from keys to 32-bit indexes, and a pool of
// interned texts. A graph keeps its elements, ports and edges as flat
// records in these, and its ids as dense indexes, kept up to date as
// elements and edges are added, so that validation reads arrays instead of
// hashing every id again on every run.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "graph/contract.h"
#include "graph/port.h"
#include "support/hash.h"
#include "support/seeded_hash.h"
#include "support/uuid.h"

namespace kelo_core::graph {

// An append-only array of trivially copyable records. Past its first block
// it grows a block at a time (about 32 KiB each) and never moves what it
// holds: growing copies nothing and leaves no freed copy behind. The first
// block starts small and doubles up to the full size, so that a small graph
// stays small.
template <class T>
class Chunked {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);
  static constexpr std::size_t kShift =
      std::size_t(std::countr_zero(std::bit_floor(std::size_t(32768) / sizeof(T))));
  static constexpr std::size_t kPerBlock = std::size_t(1) << kShift;
  static constexpr std::size_t kMask = kPerBlock - 1;

 public:
  Chunked() = default;
  Chunked(const Chunked& o) {
    reserve(o.size_);
    for (std::size_t b = 0; b * kPerBlock < o.size_; ++b) {
      std::memcpy(blocks_[b].get(), o.blocks_[b].get(),
                  sizeof(T) * std::min(kPerBlock, o.size_ - b * kPerBlock));
    }
    size_ = o.size_;
  }
  Chunked(Chunked&& o) noexcept
      : blocks_(std::move(o.blocks_)),
        size_(std::exchange(o.size_, 0)),
        first_(std::exchange(o.first_, 0)),
        capacity_(std::exchange(o.capacity_, 0)) {}
  Chunked& operator=(Chunked o) noexcept {
    std::swap(blocks_, o.blocks_);
    std::swap(size_, o.size_);
    std::swap(first_, o.first_);
    std::swap(capacity_, o.capacity_);
    return *this;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  const T& operator[](std::size_t i) const { return blocks_[i >> kShift][i & kMask]; }
  T& operator[](std::size_t i) { return blocks_[i >> kShift][i & kMask]; }

  // Room for n records in all; may fail (bad_alloc), changing nothing.
  void reserve(std::size_t n) {
    if (n <= kPerBlock) {
      if (n <= first_) return;
      const std::size_t size = std::min(kPerBlock, std::max<std::size_t>({n, 2 * first_, 8}));
      auto grown = std::make_unique_for_overwrite<T[]>(size);
      if (blocks_.empty()) {
        blocks_.push_back(nullptr);  // the one other step that can fail, before any change
      } else {
        std::memcpy(grown.get(), blocks_[0].get(), sizeof(T) * size_);
      }
      blocks_[0] = std::move(grown);
      first_ = capacity_ = size;
      return;
    }
    reserve(kPerBlock);
    const std::size_t need = (n + kMask) >> kShift;
    if (need <= blocks_.size()) return;
    blocks_.reserve(std::max(need, 2 * blocks_.size()));
    while (blocks_.size() < need) {
      blocks_.push_back(std::make_unique_for_overwrite<T[]>(kPerBlock));
      capacity_ = blocks_.size() * kPerBlock;
    }
  }
  // Room for n more, by doubling while the first block grows.
  void make_room(std::size_t n) {
    if (n <= capacity_ - size_) return;
    reserve(size_ + n);
  }
  // After reserve or make_room.
  void push_back(const T& value) noexcept { (*this)[size_++] = value; }

 private:
  std::vector<std::unique_ptr<T[]>> blocks_;
  std::size_t size_ = 0;
  std::size_t first_ = 0;     // capacity of the first block
  std::size_t capacity_ = 0;  // of all the blocks
};

// Open addressing with linear probing from keys to 32-bit values, four bytes
// a slot. The keys live with their owners; the table holds the value and, in
// the bits the value does not need (a table of 2^b slots holds values below
// 2^b - 1), more bits of the key's hash, so that a probe compares a key only when
// those agree. The hash's top bits pick the home slot.
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
    const std::uint32_t tag = tag_of(fp);
    for (std::size_t i = home(fp);; i = (i + 1) & mask_) {
      const std::uint32_t s = slots_[i];
      if (s == 0) return kNone;
      if ((s & ~std::uint32_t(mask_)) == tag && same((s & std::uint32_t(mask_)) - 1)) {
        return (s & std::uint32_t(mask_)) - 1;
      }
    }
  }
  // Asks for the home slot of fingerprint fp to be brought into the cache
  // ahead of a find.
  void prefetch(std::uint32_t fp) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[home(fp)]);
  }
  // Room for n more keys, with values below `values`; may fail (bad_alloc),
  // changing nothing. Growing calls each(put), which must call put(fp,
  // value) for every key held: in the order of the values, the owners'
  // records are read in order, not at random.
  template <class Each>
  void reserve(std::size_t n, std::size_t values, Each each) {
    const std::size_t need = count_ + n;
    if (need * 3 <= slots_.size() * 2 && values < slots_.size()) return;
    const std::size_t size =
        std::bit_ceil(std::max<std::size_t>({16, need * 3 / 2 + 1, values + 1}));
    IdTable grown;
    grown.slots_.assign(size, 0);  // the one step that can fail
    grown.mask_ = size - 1;
    grown.shift_ = 32 - unsigned(std::countr_zero(size));
    each([&](std::uint32_t fp, std::uint32_t value) { grown.insert(fp, value); });
    *this = std::move(grown);
  }
  // A key not in the table yet, after reserve.
  void insert(std::uint32_t fp, std::uint32_t value) noexcept {
    std::size_t i = home(fp);
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = tag_of(fp) | (value + 1);
    ++count_;
  }

 private:
  std::size_t home(std::uint32_t fp) const { return shift_ >= 32 ? 0 : std::size_t(fp) >> shift_; }
  // The hash's low bits above the value's.
  std::uint32_t tag_of(std::uint32_t fp) const {
    return shift_ == 0 ? 0 : std::uint32_t(fp << (32 - shift_));
  }

  std::vector<std::uint32_t> slots_;  // a power of two of them, at most two thirds used; 0: free
  std::size_t mask_ = 0;
  unsigned shift_ = 32;  // 32 - log2(size)
  std::size_t count_ = 0;
};

// Texts entered once each and named by a dense index.
class TextPool {
 public:
  std::uint32_t find(std::string_view text) const {
    return ids_.find(IdTable::fingerprint(text),
                     [&](std::uint32_t i) { return texts_[i] == text; });
  }
  // The index of a text, entering it first when new; may fail (bad_alloc),
  // leaving at most the text entered. The text under `hint` (an index or
  // kNone), when equal, is taken without hashing.
  std::uint32_t enter(std::string_view text, std::uint32_t hint = IdTable::kNone) {
    if (hint != IdTable::kNone && texts_[hint] == text) return hint;
    std::uint32_t i = find(text);
    if (i != IdTable::kNone) return i;
    texts_.reserve(std::max<std::size_t>(8, texts_.size() + 1));
    ids_.reserve(1, texts_.size() + 1, [&](auto put) {
      for (std::size_t v = 0; v < texts_.size(); ++v) put(IdTable::fingerprint(texts_[v]), v);
    });
    i = std::uint32_t(texts_.size());
    texts_.emplace_back(text);
    ids_.insert(IdTable::fingerprint(text), i);
    return i;
  }
  const std::string& operator[](std::uint32_t i) const { return texts_[i]; }

 private:
  std::vector<std::string> texts_;
  IdTable ids_;
};

// What validation reads of a port: its owner's node, direction and the
// contract's category and whether it constrains anything, eight bytes, so
// that an edge's check reads this record and not the port. The contract
// itself is read only when contracts have to be compared in full or printed.
struct PortRecord {
  std::uint32_t node;
  PortDirection direction;
  DataContract::Category category;
  bool unconstrained;  // no constraints, and not Custom: fits any contract of its category
};
static_assert(sizeof(PortRecord) == 8);

// A duplicate id, as found when its element was added.
struct DuplicateFinding {
  Uuid id;
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
  std::uint32_t name;  // into Graph::names()
};

// A name that dynamic-output edges refer to, and whether an element has it.
struct NameRecord {
  std::uint32_t text;  // into the graph's text
  std::uint32_t size;
  bool element;
};

}  // namespace kelo_core::graph
