#include "data/event.h"

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

Result<Event> Event::make(StreamId stream_id, Timestamp timestamp, EventType event_type) {
  auto id = EventId::fresh();
  if (!id) return id.error();
  auto provenance = Provenance::fresh(timestamp);
  if (!provenance) return provenance.error();
  return Event{*id, stream_id, std::move(timestamp), std::move(event_type), {}, {},
               std::move(*provenance)};
}

}  // namespace kelo_core::data
