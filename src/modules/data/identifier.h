// The identifier family: one generic class declaration for every typed
// UUID (StreamId ... ClassId in data, ElementId and PortId in graph).
#pragma once

#include <string_view>

#include "data/id.h"
#include "toolkit/class.h"

namespace kelo::py {

struct IdentifierDocs {
  const char* cls = nullptr;
  const char* fresh = "Create a new unique identifier.";
  const char* from_str = "Create from a UUID string, e.g.\n`\"550e8400-e29b-41d4-a716-446655440000\"`.";
  const char* uuid = "The underlying UUID string.";
};

// The text form, built without touching the heap.
template <class Id>
ShortText<36> uuid_text(const Id& id) {
  char text[36];
  id.uuid.write(text);
  ShortText<36> t;
  t << std::string_view(text, sizeof text);
  return t;
}

template <class Id>
Class<Id> identifier(const char* name, const IdentifierDocs& docs = {}) {
  Class<Id> c(name, docs.cls);
  c.template def_static<[] { return Id::fresh(); }>("new()", docs.fresh)
      .template def_static<[](std::string_view s) { return Id::parse(s); }>("from_str(s)",
                                                                           docs.from_str)
      .template def<[](const Id& id) { return uuid_text(id); }>("uuid($self)", docs.uuid)
      .template str<[](const Id& id) { return uuid_text(id); }>()
      .template repr<[](const Id& id) {
        ShortText<36> u = uuid_text(id);
        ShortText<96> t;
        t << PyClass<Id>::name << "('" << u.view() << "')";
        return t;
      }>()
      .equality()
      .hash();
  return c;
}

}  // namespace kelo::py
