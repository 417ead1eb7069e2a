// Sources, their capabilities and streams.
#include <string>
#include <utility>

#include "data/stream.h"
#include "data/topics.h"
#include "support/text.h"

namespace kelo::py {

using namespace kelo_core::data;
using kelo_core::text::debug;

void add_stream_classes(std::vector<ClassSpec>& out) {
  out.push_back(Enum<SourceKind>("PySourceKind"));

  out.push_back(
      Class<SourceInfo>("PySourceInfo(source_id, kind, uri=None, name=None)",
                        "Describes the origin of a stream.")
          .init<[](std::string source_id, SourceKind kind, std::optional<std::string> uri,
                   std::optional<std::string> name) {
            return SourceInfo{std::move(source_id), kind, std::move(uri), std::move(name)};
          }>()
          .property<&SourceInfo::source_id>("source_id")
          .property<&SourceInfo::kind>("kind")
          .property<&SourceInfo::uri>("uri")
          .property<&SourceInfo::name>("name")
          .repr<[](const SourceInfo& s) { return "PySourceInfo(" + debug(s.source_id) + ")"; }>());

  out.push_back(
      Class<StreamCapabilities>(
          "PyStreamCapabilities(supports_random_access=False, supports_seek=False, live=False, "
          "variable_frame_rate=False, hardware_timestamps=False)",
          "Source semantics (random access, seek, live, \xe2\x80\xa6).")
          .init<[](bool supports_random_access, bool supports_seek, bool live,
                   bool variable_frame_rate, bool hardware_timestamps) {
            return StreamCapabilities{supports_random_access, supports_seek, live,
                                      variable_frame_rate, hardware_timestamps};
          }>()
          .property<&StreamCapabilities::supports_random_access>("supports_random_access")
          .property<&StreamCapabilities::supports_seek>("supports_seek")
          .property<&StreamCapabilities::live>("live")
          .property<&StreamCapabilities::variable_frame_rate>("variable_frame_rate")
          .property<&StreamCapabilities::hardware_timestamps>("hardware_timestamps")
          .repr<[](const StreamCapabilities& c) {
            return "PyStreamCapabilities(live=" + debug(c.live) + ", seek=" +
                   debug(c.supports_seek) + ")";
          }>());

  out.push_back(
      Class<Stream>("PyStream(source, format)", "A logical source of temporally ordered data.")
          .init<&Stream::create>()
          .property<&Stream::id>("id")
          .property<&Stream::source>("source")
          .property<&Stream::format>("format")
          .property<&Stream::capabilities>("capabilities")
          .def<&Stream::with_capabilities>("with_capabilities($self, caps)",
                                           "Replace the capabilities (builder-style).")
          .repr<[](const Stream& s) { return "PyStream(id=" + s.id.str() + ")"; }>());
}

}  // namespace kelo::py
