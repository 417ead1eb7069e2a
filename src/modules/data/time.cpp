// Timestamps, time units and frame rates.
#include <string>

#include "data/time.h"
#include "support/biguint.h"
#include "data/topics.h"

namespace kelo::py {

using namespace kelo_core::data;

void add_time_classes(std::vector<ClassSpec>& out) {
  out.push_back(Enum<TimeUnit>("PyTimeUnit"));

  out.push_back(
      Class<Timestamp>("PyTimestamp",
                       "A presentation/decode timestamp pair.\n\nThe primary clock is the "
                       "presentation timestamp (`monotonic`); the\ndecode timestamp (`dts`) is "
                       "optional and precedes presentation on\nreordered streams.")
          .def_static<&Timestamp::from_nanos>(
              "from_nanos(nanos)", "Create from a monotonic presentation time in nanoseconds.")
          .def_static<&Timestamp::from_secs_f64>(
              "from_secs_f64(secs)", "Create from a monotonic presentation time in seconds.")
          .property<&Timestamp::monotonic_ns>("monotonic_ns",
                                              "The presentation timestamp in nanoseconds.")
          .property<&Timestamp::monotonic_secs>("monotonic_secs",
                                                "The presentation timestamp in seconds.")
          .property<&Timestamp::dts_ns>("dts_ns", "The decode timestamp in nanoseconds, if known.")
          .def<&Timestamp::with_dts>("with_dts($self, dts_ns)",
                                     "Attach a decode timestamp (nanoseconds), builder-style.")
          .def<&Timestamp::dts_or_pts_ns>(
              "dts_or_pts_ns($self)", "The decode timestamp if known, else the presentation time.")
          .repr<[](const Timestamp& t) {
            return "PyTimestamp(monotonic_ns=" + kelo_core::BigUint::wide(t.monotonic_ns()).str() + ")";
          }>());

  out.push_back(
      Class<FrameRate>("PyFrameRate(numerator, denominator)", "Frame rate as a rational number.")
          .init<[](std::uint32_t numerator, std::uint32_t denominator) {
            return FrameRate{numerator, denominator};
          }>()
          .property<&FrameRate::numerator>("numerator")
          .property<&FrameRate::denominator>("denominator")
          .def<&FrameRate::as_f64>("as_f64($self)",
                                   "The frame rate as a float (`numerator / denominator`).")
          .repr<[](const FrameRate& r) {
            return "PyFrameRate(" + std::to_string(r.numerator) + "/" +
                   std::to_string(r.denominator) + ")";
          }>()
          .equality()
          .hash());
}

}  // namespace kelo::py
