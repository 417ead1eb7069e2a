// An element's configuration: opaque text keys mapped to text values.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kelo_core::graph {

// Ordered by key, byte by byte over the UTF-8 text (so "B" < "a" < "b" <
// "ba", and code points beyond U+FFFF sort after U+FFFF); at most one value
// per key. Kept as one sorted array: configurations are small and copied
// with their elements far more often than they are changed.
class Config {
 public:
  using Entry = std::pair<std::string, std::string>;

  // The value stored under key, compared byte for byte.
  std::optional<std::string_view> get(std::string_view key) const;
  // Stores value under key, replacing any value already there.
  void set(std::string key, std::string value);

  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // In key order.
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<std::string> keys() const;

  friend bool operator==(const Config&, const Config&) = default;

 private:
  std::vector<Entry>::const_iterator find(std::string_view key) const;
  std::vector<Entry> entries_;
};

}  // namespace kelo_core::graph
