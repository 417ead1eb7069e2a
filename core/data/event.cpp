#include "data/event_type.h"

namespace kelo_core::data {

EventType EventType::parse(std::string_view text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return kelo(std::string(text));
  return {std::string(text.substr(0, slash)), std::string(text.substr(slash + 1))};
}

std::string EventType::as_str() const {
  if (is_reserved()) return name;
  std::string out;
  out.reserve(namespace_.size() + 1 + name.size());
  out.append(namespace_).append(1, '/').append(name);
  return out;
}

}  // namespace kelo_core::data
