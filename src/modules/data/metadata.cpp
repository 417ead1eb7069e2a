// Per-frame metadata. Python reaches five of its eleven lists: it appends to
// them in place and reads them as lists of copies. PyMetadata compares and
// hashes by identity.
#include <string>

#include "data/metadata.h"
#include "data/topics.h"

namespace kelo::py {

using namespace kelo_core::data;

namespace {

// An in-place append of a copy of the argument's value; the receiver is
// held exclusively and the argument is read where it lives.
template <class T, std::vector<T> Metadata::*List>
void append(Metadata& m, const T& entry) {
  (m.*List).push_back(entry);
}

// Objects are shared, not copied: the entry is the argument's own value.
void append_object(Metadata& m, const kelo_core::Shared<Object>& object) { m.objects.push_back(object); }

}  // namespace

void add_metadata_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Metadata>("PyMetadata()",
                      "A typed collection of perception results associated with a frame.")
          .init<[] { return Metadata{}; }>()
          .def<&append_object>("add_object($self, object)")
          .def<&append<Track, &Metadata::tracks>>("add_track($self, track)")
          .def<&append<Classification, &Metadata::classifications>>(
              "add_classification($self, classification)")
          .def<&append<Embedding, &Metadata::embeddings>>("add_embedding($self, embedding)")
          .def<&append<Event, &Metadata::events>>("add_event($self, event)")
          .property<&Metadata::objects>("objects")
          .property<&Metadata::tracks>("tracks")
          .property<&Metadata::classifications>("classifications")
          .property<&Metadata::embeddings>("embeddings")
          .property<&Metadata::events>("events")
          .def<&Metadata::is_empty>("is_empty($self)")
          .text<[](const Metadata& m) {
            return "PyMetadata(objects=" + std::to_string(m.objects.size()) +
                   ", tracks=" + std::to_string(m.tracks.size()) +
                   ", classifications=" + std::to_string(m.classifications.size()) + ")";
          }>());
}

}  // namespace kelo::py
