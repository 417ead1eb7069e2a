// Typed attribute values and the key-ordered collections of them that
// objects carry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "data/tensor.h"
#include "data/time.h"

namespace kelo_core::data {

struct AttributeValue {
  // The alternatives' order is the kind index.
  using Payload =
      std::variant<bool, std::int64_t, double, std::string, Tensor, Timestamp, Duration>;
  Payload payload;

  // The kind names, by index.
  static constexpr std::array<std::string_view, 7> kKindNames = {
      "bool", "int", "float", "string", "tensor", "timestamp", "duration"};

  std::size_t kind_index() const { return payload.index(); }
  std::string_view kind() const { return kKindNames[payload.index()]; }

  // A copy of the payload when it is a T, else absent: no conversion
  // between kinds.
  template <class T>
  std::optional<T> as() const {
    if (const T* v = std::get_if<T>(&payload)) return *v;
    return std::nullopt;
  }

  friend bool operator==(const AttributeValue&, const AttributeValue&) = default;
};

// At most one value per key; keys are ordered by their UTF-8 bytes, a proper
// prefix first.
class Attributes {
 public:
  // Adds the entry or replaces the value under an existing key.
  void insert(std::string key, AttributeValue value) {
    entries_.insert_or_assign(std::move(key), std::move(value));
  }
  // The value under exactly this key, if any.
  const AttributeValue* get(std::string_view key) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
  }
  std::vector<std::string> keys() const {
    std::vector<std::string> out;
    out.reserve(entries_.size());
    for (const auto& [key, value] : entries_) out.push_back(key);
    return out;
  }
  std::size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }

  // In key order.
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

  friend bool operator==(const Attributes&, const Attributes&) = default;

 private:
  // std::string compares through char_traits<char>, which orders bytes as
  // unsigned char: byte-wise lexicographic order.
  std::map<std::string, AttributeValue, std::less<>> entries_;
};

}  // namespace kelo_core::data
