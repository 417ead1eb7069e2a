// What a running pipeline shows of itself: its live state and its trace, as
// Python values (observe.cpp). The run's binding (runtime.cpp) calls these.
#pragma once

#include "runtime/runtime.h"
#include "runtime/trace.h"
#include "toolkit/python.h"

namespace kelo::py {

// {"time_ns", "elements": [{"queue_lengths", "blocked_producers",
// "waiting_for_input", "waiting_port", "held", "running_since_ns",
// "ended"}, ...]} with node indexes.
PyObject* snapshot_to_py(const kelo_core::runtime::Snapshot& s);

// Writes the trace to the file `path` (a str or path-like) without holding
// the interpreter lock; (events written, events lost), or OSError.
PyObject* write_trace(const kelo_core::runtime::TraceRecorder& trace, PyObject* path);

}  // namespace kelo::py
