#include "graph/config.h"

#include <algorithm>

namespace kelo_core::graph {

// std::string_view compares through char_traits<char>, which orders bytes
// as unsigned char: exactly the byte-wise order of the UTF-8 encoding.
std::vector<Config::Entry>::const_iterator Config::find(std::string_view key) const {
  return std::ranges::lower_bound(entries_, key, {},
                                  [](const Entry& e) { return std::string_view(e.first); });
}

std::optional<std::string_view> Config::get(std::string_view key) const {
  auto it = find(key);
  if (it == entries_.end() || it->first != key) return std::nullopt;
  return std::string_view(it->second);
}

void Config::set(std::string key, std::string value) {
  auto at = entries_.begin() + (find(key) - entries_.cbegin());
  if (at != entries_.end() && at->first == key) {
    at->second = std::move(value);
  } else {
    entries_.emplace(at, std::move(key), std::move(value));
  }
}

std::vector<std::string> Config::keys() const {
  std::vector<std::string> out;
  out.reserve(entries_.size());
  for (const auto& [key, value] : entries_) out.push_back(key);
  return out;
}

}  // namespace kelo_core::graph
