// Frames.
#include <string>

#include "data/frame.h"
#include "data/topics.h"

namespace kelo::py {

using namespace kelo_core::data;

void add_frame_classes(std::vector<ClassSpec>& out) {
  out.push_back(
      Class<Frame>("PyFrame(stream_id, sequence, timestamp, format)",
                   "The fundamental temporal media object.\n\nA `Frame` carries identity, timing "
                   "and format; pixel data lives in\nthe memory model behind the frame's logical "
                   "buffer handle.")
          .init<&Frame::create>()
          .property<&Frame::id>("id")
          .property<&Frame::stream_id>("stream_id")
          .property<&Frame::sequence>("sequence")
          .property<&Frame::timestamp>("timestamp")
          .property<&Frame::duration_ns>("duration_ns", "Frame duration in nanoseconds, if known.")
          .property<&Frame::format>("format")
          .property<&Frame::buffer_id>("buffer_id")
          .property<&Frame::metadata_id>("metadata_id",
                                         "The logical metadata handle for this frame.")
          .def<&Frame::with_duration_ns>("with_duration_ns($self, nanos)",
                                         "Attach a duration in nanoseconds (builder-style).")
          .repr<[](const Frame& f) {
            return "PyFrame(stream=" + f.stream_id.str() + ", sequence=" +
                   std::to_string(f.sequence) + ")";
          }>());
}

}  // namespace kelo::py
