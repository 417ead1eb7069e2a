// Namespaced event types and events. PyEvent compares and hashes by
// identity; PyEventType by its two texts.
#include <string>
#include <string_view>

#include "data/event.h"
#include "data/identifier.h"
#include "data/topics.h"

namespace kelo::py {

using namespace kelo_core::data;

void add_event_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<EventType>("PyEventType(namespace, name)", "A namespaced event type (`namespace/name`).")
          .init<[](std::string namespace_, std::string name) {
            return EventType{std::move(namespace_), std::move(name)};
          }>()
          .def_static<&EventType::kelo>("kelo(name)", "Create in the reserved `kelo` namespace.")
          .def_static<[](std::string_view s) { return EventType::parse(s); }>(
              "parse(s)",
              "Parse `\"namespace/name\"`; a bare name lands in the `kelo`\nnamespace.")
          .property<&EventType::namespace_>("namespace")
          .property<&EventType::name>("name")
          .def<&EventType::as_str>("as_str($self)",
                                   "Canonical string form (bare name in the `kelo` namespace,\n"
                                   "`namespace/name` otherwise).")
          .str<&EventType::as_str>()
          .repr<[](const EventType& t) { return "PyEventType(" + t.as_str() + ")"; }>()
          .equality()
          .hash());

  out.push_back(
      Class<Event>("PyEvent(stream_id, timestamp, event_type)",
                   "A semantically meaningful occurrence.")
          .init<&Event::make>()
          .property<&Event::id>("id")
          .property<&Event::stream_id>("stream_id")
          .property<&Event::timestamp>("timestamp")
          .property<&Event::event_type>("event_type")
          .property<&Event::payload>("payload")
          .text<[](const Event& e) {
            ShortText<36> stream = uuid_text(e.stream_id);
            return "PyEvent(type=" + e.event_type.as_str() +
                   ", stream=" + std::string(stream.view()) + ")";
          }>());
}

}  // namespace kelo::py
