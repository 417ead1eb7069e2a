// A running pipeline's live state and trace as Python values.
#include "native/observe.h"

#include <string>

#include "toolkit/convert.h"

namespace kelo::py {

namespace rt = kelo_core::runtime;

namespace {

bool put(PyObject* d, const char* key, PyObject* value) {
  Ref v(value);
  return v && PyDict_SetItemString(d, key, v.get()) == 0;
}

PyObject* element_to_py(const rt::ElementSnapshot& e) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  PyObject* o = d.get();
  const bool ok = put(o, "queue_lengths", to_py(e.queue_lengths)) &&
                  put(o, "blocked_producers", to_py(e.blocked_producers)) &&
                  put(o, "waiting_for_input", to_py(e.waiting_for_input)) &&
                  put(o, "waiting_port", to_py(e.waiting_port)) && put(o, "held", to_py(e.held)) &&
                  put(o, "running_since_ns", to_py(e.running_since_ns)) &&
                  put(o, "ended", to_py(e.ended));
  return ok ? d.release() : nullptr;
}

}  // namespace

PyObject* snapshot_to_py(const rt::Snapshot& s) {
  Ref elements(PyList_New(Py_ssize_t(s.elements.size())));
  if (!elements) return nullptr;
  for (std::size_t i = 0; i < s.elements.size(); ++i) {
    PyObject* e = element_to_py(s.elements[i]);
    if (!e) return nullptr;
    PyList_SetItem(elements.get(), Py_ssize_t(i), e);
  }
  Ref d(PyDict_New());
  if (!d || !put(d.get(), "time_ns", to_py(s.time_ns)) ||
      !put(d.get(), "elements", elements.release())) {
    return nullptr;
  }
  return d.release();
}

PyObject* write_trace(const rt::TraceRecorder& trace, PyObject* path) {
  PyObject* converted = nullptr;
  if (!PyUnicode_FSConverter(path, &converted)) return nullptr;
  Ref bytes(converted);
  const std::string name = PyBytes_AsString(bytes.get());
  std::optional<kelo_core::Error> failed;
  std::uint64_t written = 0;
  Py_BEGIN_ALLOW_THREADS
  failed = trace.write_file(name);
  written = trace.recorded();
  Py_END_ALLOW_THREADS
  if (failed) {
    PyErr_SetString(PyExc_OSError, failed->message.c_str());
    return nullptr;
  }
  return Py_BuildValue("(KK)", static_cast<unsigned long long>(written),
                       static_cast<unsigned long long>(trace.lost()));
}

}  // namespace kelo::py
