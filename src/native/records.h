// The record codec: every data-model value as plain Python data and back.
//
// Two forms. The text form (Mode::Text) is what kelo.io writes as JSON:
// records as dicts of named fields, identifiers as their text, times and
// durations as integer nanoseconds, single-precision values as the shortest
// decimal that reads back to the same value, non-finite values as the texts
// "inf", "-inf", "nan" (or "nan:0x" and the hexadecimal bits of a NaN with
// any other bit pattern), enumerations by variant name, open descriptors by
// canonical name. The state form (Mode::State) is what pickling carries:
// records as tuples in field order, identifiers as 16 bytes, floats widened,
// enumerations by index.
//
// Reading checks everything and builds nothing visible until the whole value
// has been read: a failure is a ValueError naming the field path
// ("objects[3].bbox.width: expected a number, got 'str'").
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "toolkit/python.h"

namespace kelo::py::records {

enum class Mode { Text, State };

// The version of the text form that this build writes and the newest it reads.
inline constexpr int kSchemaVersion = 1;

// Where a reader is, for messages.
class Path {
 public:
  explicit Path(std::string base = {}) : base_(std::move(base)) {}
  // Reading values nested deeper than this many fields and items fails:
  // reading recurses, and the stack is finite.
  static constexpr std::size_t kMaxDepth = 400;
  bool too_deep() const { return segments_.size() > kMaxDepth; }

  void field(const char* name) { segments_.push_back({'.', name, {}, 0}); }
  void index(Py_ssize_t i) { segments_.push_back({'[', nullptr, {}, i}); }
  void key(std::string_view k) { segments_.push_back({'k', nullptr, k, 0}); }
  void pop() { segments_.pop_back(); }
  std::string str() const;

  // Raises ValueError "<path>: <what>"; returns false.
  bool fail(const std::string& what) const;

 private:
  struct Segment {
    char kind;
    const char* name;
    std::string_view key;
    Py_ssize_t index;
  };
  std::string base_;
  std::vector<Segment> segments_;
};

}  // namespace kelo::py::records
