// Track lifecycle states and tracks. PyTrack compares and hashes by identity.
#include <string>

#include "data/identifier.h"
#include "data/topics.h"
#include "data/track.h"

namespace kelo::py {

using namespace kelo_core::data;

void add_track_classes(std::vector<ClassSpec>& out) {
  out.push_back(Enum<TrackState>("PyTrackState"));

  out.push_back(
      Class<Track>("PyTrack(id, first_sequence, last_sequence, first_timestamp, last_timestamp, "
                   "state)",
                   "Temporal identity of a perceived entity.")
          .init<&Track::make>()
          .property<&Track::id>("id")
          .property<&Track::first_sequence>("first_sequence")
          .property<&Track::last_sequence>("last_sequence")
          .property<&Track::first_timestamp>("first_timestamp")
          .property<&Track::last_timestamp>("last_timestamp")
          .property<&Track::state>("state")
          .text<[](const Track& t) {
            ShortText<36> id = uuid_text(t.id);
            ShortText<72> out;
            out << "PyTrack(id=" << id.view()
                << ", state=" << debug(t.state) << ")";
            return out;
          }>());
}

}  // namespace kelo::py
