// The runtime's binding: Python elements as the core's behaviours and
// sources, the interpreter as the core's host, and two small classes, the
// running pipeline (`Run`) and the virtual clock (`VirtualClock`). The
// Python layer (python/kelo/runtime/running.py) builds the plan's tuples and
// turns results into reports.
//
// Threads: every thread the core starts gets one thread state of its own
// (thread_begin) and enters and leaves the interpreter lock with it; a
// worker keeps the lock across consecutive executions, so a chain of Python
// elements runs without a lock hand-over per item. Payloads are the
// elements' values, one reference each; the core moves them between queues
// without the lock and retains or releases them with it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "data/frame.h"
#include "execution/contract.h"
#include "native/observe.h"
#include "native/topics.h"
#include "runtime/runtime.h"

namespace kelo::py {

namespace {

namespace rt = kelo_core::runtime;
using kelo_core::execution::ExecutionContract;

PyObject* as_object(rt::Payload p) { return static_cast<PyObject*>(p); }

// ---- the host ---------------------------------------------------------------

// The lock, on whatever thread: destructors of element code may run on the
// core's threads once a run's handle is gone.
class Gil {
 public:
  Gil() : state_(PyGILState_Ensure()) {}
  ~Gil() { PyGILState_Release(state_); }
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;

 private:
  PyGILState_STATE state_;
};

// Per thread: the thread state the core's thread was given, and how deep it
// is entered. A thread the core did not start (none enters through the host
// today) falls back on the interpreter's own per-thread state.
struct HostThread {
  PyThreadState* saved = nullptr;
  PyGILState_STATE gil{};
  int depth = 0;
  bool own = false;  // begun by thread_begin
  std::vector<PyGILState_STATE> foreign;
};
thread_local HostThread host_thread;

// Values may carry frames whose pixels live in a store of counted holders
// (kelo.elements.pixels): given the store (a dict, empty when nothing is
// stored) and its share/release functions, the host adds a holder to the
// frames of a value the runtime delivers once more (fan-out, a latest value
// reused) and releases those of a value it gives up. With the store empty
// that costs one size check.
struct PixelHooks {
  Ref store, share, discard;
};

class PythonHost final : public rt::Host {
 public:
  explicit PythonHost(std::optional<PixelHooks> pixels) : pixels_(std::move(pixels)) {}
  ~PythonHost() override {
    if (!pixels_) return;
    Gil gil;
    pixels_.reset();
  }
  void retain(rt::Payload p) override {
    Py_INCREF(as_object(p));
    if (stored()) count(as_object(p), +1);
  }
  void release(rt::Payload p) override { Py_DECREF(as_object(p)); }
  void discard(rt::Payload p) override {
    if (stored()) count(as_object(p), -1);
    Py_DECREF(as_object(p));
  }
  void enter() override {
    HostThread& t = host_thread;
    if (!t.own) {
      t.foreign.push_back(PyGILState_Ensure());
      return;
    }
    if (t.depth++ == 0) PyEval_RestoreThread(t.saved);
  }
  void leave() override {
    HostThread& t = host_thread;
    if (!t.own) {
      PyGILState_Release(t.foreign.back());
      t.foreign.pop_back();
      return;
    }
    if (--t.depth == 0) t.saved = PyEval_SaveThread();
  }
  void thread_begin() override {
    HostThread& t = host_thread;
    t.gil = PyGILState_Ensure();
    t.saved = PyEval_SaveThread();
    t.own = true;
  }
  void thread_end() override {
    HostThread& t = host_thread;
    PyEval_RestoreThread(t.saved);
    PyGILState_Release(t.gil);
    t = HostThread{};
  }

 private:
  bool stored() const { return pixels_ && PyDict_Size(pixels_->store.get()) > 0; }
  // Adds `n` holders to the stored pixels of every frame `value` carries (a
  // frame, or a tuple or list of them at any depth), dropping an entry whose
  // holders reach zero. It runs no Python code: the runtime may hold its own
  // locks here, and Python code could let the interpreter lock go to a
  // thread that waits for one of them.
  void count(PyObject* value, long n) {
    PyObject *type, *error, *traceback;  // an exception on its way stays as it is
    PyErr_Fetch(&type, &error, &traceback);
    holders(value, n);
    PyErr_Restore(type, error, traceback);
  }
  void holders(PyObject* value, long n, int depth = 0) {
    if (depth > 16) return;
    if (is_instance<kelo_core::data::Frame>(value)) {
      PyObject* store = pixels_->store.get();
      Ref key(PyObject_GetAttrString(value, "buffer_id"));
      PyObject* entry = key ? PyDict_GetItemWithError(store, key.get()) : nullptr;  // borrowed
      Ref held(entry ? PyObject_GetAttrString(entry, "holders") : nullptr);
      const long count = held ? PyLong_AsLong(held.get()) + n : 0;
      if (held && count > 0) {
        Ref now(PyLong_FromLong(count));
        if (now) PyObject_SetAttrString(entry, "holders", now.get());
      } else if (held) {
        PyDict_DelItem(store, key.get());
      }
      PyErr_Clear();
    } else if (PyTuple_Check(value) || PyList_Check(value)) {
      const Py_ssize_t size = PySequence_Size(value);
      for (Py_ssize_t i = 0; i < size; ++i) {
        Ref item(PySequence_GetItem(value, i));
        if (item) holders(item.get(), n, depth + 1);
      }
      PyErr_Clear();
    }
  }

  std::optional<PixelHooks> pixels_;
};

// ---- failures -------------------------------------------------------------

std::string text_of(PyObject* o) {
  Ref s(PyObject_Str(o));
  if (!s) {
    PyErr_Clear();
    return "?";
  }
  Py_ssize_t n = 0;
  const char* c = PyUnicode_AsUTF8AndSize(s.get(), &n);
  if (!c) {
    PyErr_Clear();
    return "?";
  }
  return std::string(c, std::size_t(n));
}

std::string type_of(PyObject* o) {
  Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(o)), "__name__"));
  if (!name) {
    PyErr_Clear();
    return "?";
  }
  return text_of(name.get());
}

// The pending exception, taken (a new reference), its traceback attached.
PyObject* take_exception() {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  if (value && tb) PyException_SetTraceback(value, tb);
  Py_XDECREF(type);
  Py_XDECREF(tb);
  return value;
}

// The pending exception as a failure carrying it.
rt::Failure failure_from_exception(const std::string& what) {
  PyObject* value = take_exception();
  std::string message = what;
  if (value) {
    std::string detail = text_of(value);
    message += ": " + type_of(value) + (detail.empty() ? "" : ": " + detail);
  }
  return rt::Failure{std::move(message), value};
}

// A failure of the element's own making: an exception of `type` raised here,
// so that the report carries an exception like any other.
rt::Failure failure(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  return rt::Failure{message, take_exception()};
}

// ---- element code ----------------------------------------------------------

// What sources and operators share: the element object, its name, its
// ports' names (interned, so that the dicts of consecutive executions share
// their keys) and what its stop() raised.
class Code {
 public:
  Code(PyObject* element, std::string name, PyObject* inputs, PyObject* outputs)
      : element_(Py_NewRef(element)), name_(std::move(name)) {
    intern(inputs, in_);
    intern(outputs, out_);
  }
  virtual ~Code() {
    Gil gil;
    Py_XDECREF(element_);
    Py_XDECREF(stop_error_);
    Py_XDECREF(method_);
    for (PyObject* o : in_) Py_DECREF(o);
    for (PyObject* o : out_) Py_DECREF(o);
  }
  Code(const Code&) = delete;
  Code& operator=(const Code&) = delete;

  bool ok() const { return ok_; }
  PyObject* element() const { return element_; }
  const std::string& name() const { return name_; }
  // A new reference to what stop() raised, or None.
  PyObject* stop_error() const { return Py_NewRef(stop_error_ ? stop_error_ : Py_None); }

  // The output port of a key, -1 when the element has none of that name.
  Py_ssize_t output_index(PyObject* key) const {
    for (std::size_t i = 0; i < out_.size(); ++i) {
      if (out_[i] == key) return Py_ssize_t(i);
    }
    if (!PyUnicode_Check(key)) return -1;
    for (std::size_t i = 0; i < out_.size(); ++i) {
      if (PyUnicode_Compare(out_[i], key) == 0) return Py_ssize_t(i);
    }
    if (PyErr_Occurred()) PyErr_Clear();
    return -1;
  }

  std::string output_names() const {
    std::string all;
    for (PyObject* o : out_) all += (all.empty() ? "" : ", ") + text_of(o);
    return all.empty() ? "none" : all;
  }

 protected:
  // element.start(), then the method the element runs by.
  rt::Outcome begin(const char* method, const char* role) {
    Ref started(PyObject_CallMethod(element_, "start", nullptr));
    if (!started) return failure_from_exception("start() of " + what());
    method_ = PyObject_GetAttrString(element_, method);
    if (!method_) return failure_from_exception(std::string(role) + " " + what());
    return {};
  }

  void end() {
    Ref stopped(PyObject_CallMethod(element_, "stop", nullptr));
    if (!stopped && !stop_error_) stop_error_ = take_exception();
    PyErr_Clear();
  }

  std::string what() const { return "element '" + name_ + "'"; }

  // Reads `d` into outs_ (output port, borrowed value), in the dict's
  // order, checking that every key is an output port; a failure names the
  // first that is not. outs_ holds until the caller next runs Python code.
  rt::Outcome read_outputs(PyObject* d, const char* from) {
    outs_.clear();
    Py_ssize_t pos = 0;
    PyObject *key, *value;
    while (PyDict_Next(d, &pos, &key, &value)) {
      const Py_ssize_t port = output_index(key);
      outs_.push_back({std::size_t(port), value});
      if (port < 0) {
        Ref r(PyObject_Repr(key));
        return failure(PyExc_KeyError, what() + ": " + from + " names output " +
                                           (r ? text_of(r.get()) : "?") +
                                           ", which it does not have (outputs: " +
                                           output_names() + ")");
      }
    }
    return {};
  }

  PyObject* element_;
  std::string name_;
  std::vector<PyObject*> in_, out_;
  PyObject* method_ = nullptr;  // bound process or the generate() iterator
  std::vector<std::pair<std::size_t, PyObject*>> outs_;
  PyObject* stop_error_ = nullptr;
  bool ok_ = true;

 private:
  void intern(PyObject* names, std::vector<PyObject*>& into) {
    Py_ssize_t n = PySequence_Size(names);
    for (Py_ssize_t i = 0; i < n && ok_; ++i) {
      PyObject* name = PySequence_GetItem(names, i);
      if (!name || !PyUnicode_Check(name)) {
        Py_XDECREF(name);
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_TypeError, "port names must be str");
        ok_ = false;
        return;
      }
      PyUnicode_InternInPlace(&name);
      into.push_back(name);
    }
    if (n < 0) ok_ = false;
  }
};

// The envelope a source's generate() asked for its next item
// (runtime_set_envelope), on the source's own thread.
thread_local std::optional<rt::Envelope> next_envelope;

// The execution a thread is running, for emit() and pending_token().
struct Current {
  class Operator* code = nullptr;
  rt::Execution* execution = nullptr;
};
thread_local Current current;

class Operator final : public Code, public rt::Behaviour {
 public:
  Operator(PyObject* element, std::string name, PyObject* inputs, PyObject* outputs,
           const ExecutionContract& contract, std::string join_key)
      : Code(element, std::move(name), inputs, outputs),
        batched_(contract.batching.has_value()),
        windowed_(std::holds_alternative<kelo_core::execution::InputRelation::Windowed>(
            contract.input_relation.kind)),
        join_key_(std::move(join_key)) {}

  rt::Outcome start() override { return begin("process", "process of"); }
  void stop() override { end(); }

  rt::Outcome execute(rt::Execution& x) override {
    const Current outer = current;
    current = {this, &x};
    rt::Outcome outcome = batched_ ? run_batch(x) : run_one(x);
    current = outer;
    return outcome;
  }

  std::optional<std::string> key_of(rt::Payload value, std::size_t) override {
    PyObject* v = as_object(value);
    Ref key(PyObject_GetAttrString(v, join_key_.c_str()));
    if (!key) {
      PyErr_Clear();
      Ref name(PyUnicode_FromStringAndSize(join_key_.data(), Py_ssize_t(join_key_.size())));
      if (name) key = Ref(PyObject_GetItem(v, name.get()));
    }
    if (!key || key.get() == Py_None) {
      PyErr_Clear();
      return std::nullopt;
    }
    Ref text(PyUnicode_Check(key.get()) ? Py_NewRef(key.get()) : PyObject_Repr(key.get()));
    if (!text) {
      PyErr_Clear();
      return std::nullopt;
    }
    return text_of(text.get());
  }

  Py_ssize_t emit(PyObject* port, PyObject* value, rt::Execution& x, bool* rejected) {
    Py_ssize_t i = output_index(port);
    if (i < 0) return i;
    *rejected = x.emit(std::size_t(i), Py_NewRef(value)) == rt::Emit::Rejected;
    return i;
  }

 private:
  // The value of port p in entry e: the item, or under windowed the list of
  // the window's items; null (nothing set) when the port has none.
  PyObject* port_value(rt::Execution& x, std::size_t e, std::size_t p) {
    std::span<const rt::Item> items = x.items(e, p);
    if (!windowed_) return items.empty() ? nullptr : Py_NewRef(as_object(items[0].value));
    PyObject* list = PyList_New(Py_ssize_t(items.size()));
    if (!list) return nullptr;
    for (std::size_t k = 0; k < items.size(); ++k) {
      PyList_SetItem(list, Py_ssize_t(k), Py_NewRef(as_object(items[k].value)));
    }
    return list;
  }

  rt::Outcome call(PyObject* inputs, Ref& result) {
    result = Ref(PyObject_CallFunctionObjArgs(method_, inputs, nullptr));
    if (!result) return failure_from_exception(what());
    if (result.get() != Py_None && !PyDict_Check(result.get())) {
      return failure(PyExc_TypeError, what() + ": process() returned " + type_of(result.get()) +
                                          ", expected a dict of output port -> value or None");
    }
    return {};
  }

  rt::Outcome run_one(rt::Execution& x) {
    Ref inputs(PyDict_New());
    if (!inputs) return failure_from_exception(what());
    const std::size_t ports = in_.size();
    for (std::size_t p = 0; p < ports; ++p) {
      PyObject* v = port_value(x, 0, p);
      if (!v) {
        if (PyErr_Occurred()) return failure_from_exception(what());
        continue;
      }
      int set = PyDict_SetItem(inputs.get(), in_[p], v);
      Py_DECREF(v);
      if (set < 0) return failure_from_exception(what());
    }
    Ref result;
    if (rt::Outcome f = call(inputs.get(), result)) return f;
    if (result.get() == Py_None) return {};
    if (rt::Outcome f = read_outputs(result.get(), "process()")) return f;
    for (const auto& [port, value] : outs_) {
      if (value != Py_None) x.output(port, Py_NewRef(value));
    }
    return {};
  }

  // Per port a list over the entries; per output a list of the same length.
  rt::Outcome run_batch(rt::Execution& x) {
    const std::size_t n = x.entries();
    Ref inputs(PyDict_New());
    if (!inputs) return failure_from_exception(what());
    for (std::size_t p = 0; p < in_.size(); ++p) {
      Ref list(PyList_New(0));
      if (!list) return failure_from_exception(what());
      for (std::size_t e = 0; e < n; ++e) {
        Ref v(port_value(x, e, p));
        if (!v && PyErr_Occurred()) return failure_from_exception(what());
        if (PyList_Append(list.get(), v ? v.get() : Py_None) < 0) {
          return failure_from_exception(what());
        }
      }
      if (PyDict_SetItem(inputs.get(), in_[p], list.get()) < 0) {
        return failure_from_exception(what());
      }
    }
    Ref result;
    if (rt::Outcome f = call(inputs.get(), result)) return f;
    if (result.get() == Py_None) return {};
    if (rt::Outcome f = read_outputs(result.get(), "process()")) return f;
    for (const auto& [port, value] : outs_) {
      if (!PyList_Check(value) || PyList_Size(value) != Py_ssize_t(n)) {
        return failure(PyExc_TypeError,
                       what() + ": under batching process() returns per port a list of " +
                           std::to_string(n) + " values; output " + text_of(out_[port]) + " is " +
                           (PyList_Check(value)
                                ? "a list of " + std::to_string(PyList_Size(value))
                                : type_of(value)));
      }
    }
    for (const auto& [port, value] : outs_) {
      for (std::size_t e = 0; e < n; ++e) {
        PyObject* v = PyList_GetItem(value, Py_ssize_t(e));
        if (v != Py_None) x.output(port, Py_NewRef(v), e);
      }
    }
    return {};
  }

  bool batched_, windowed_;
  std::string join_key_;
};

class PySource final : public Code, public rt::Source {
 public:
  using Code::Code;

  rt::Outcome start() override {
    if (rt::Outcome f = begin("generate", "generate() of")) return f;
    Ref generated(PyObject_CallNoArgs(method_));
    Py_CLEAR(method_);
    if (!generated) return failure_from_exception(what());
    method_ = PyObject_GetIter(generated.get());
    if (!method_) return failure_from_exception(what() + ": generate() must return an iterator");
    return {};
  }
  void stop() override {
    Py_CLEAR(method_);  // a generator's own clean-up runs now
    PyErr_Clear();
    end();
  }

  bool seekable() const override {
    Gil gil;
    Ref seek(PyObject_GetAttrString(element_, "seek"));
    PyErr_Clear();
    return seek && PyCallable_Check(seek.get());
  }

  rt::Outcome seek(std::int64_t target_ns) override {
    Ref done(PyObject_CallMethod(element_, "seek", "L", static_cast<long long>(target_ns)));
    if (!done) return failure_from_exception(what() + ": seek()");
    return {};
  }

  rt::Outcome next(rt::SourceOutput& out) override {
    next_envelope.reset();
    Ref item(PyIter_Next(method_));
    if (!item) {
      if (PyErr_Occurred()) return failure_from_exception(what());
      out.end();
      return {};
    }
    if (!PyDict_Check(item.get())) {
      return failure(PyExc_TypeError, what() + ": generate() yielded " + type_of(item.get()) +
                                          ", expected a dict of output port -> value");
    }
    if (rt::Outcome f = read_outputs(item.get(), "generate()")) return f;
    bool stamped = next_envelope.has_value();
    if (stamped) out.set_envelope(*next_envelope);
    for (const auto& [port, value] : outs_) {
      if (!stamped && is_instance<kelo_core::data::Frame>(value)) {
        const kelo_core::data::Frame& f = obj<kelo_core::data::Frame>(value)->value;
        const auto ns = f.timestamp.monotonic.total_nanos();
        out.set_envelope({f.sequence, ns > 0x7fffffffffffffff ? INT64_MAX : std::int64_t(ns)});
        stamped = true;
      }
      if (value != Py_None) out.output(port, Py_NewRef(value));
    }
    return {};
  }
};

// ---- runs -----------------------------------------------------------------

// A run and its element code, shared by the handle and the registry that
// confirm() looks runs up in.
struct RunBox {
  std::uint64_t id = 0;
  std::optional<rt::Run> run;
  std::vector<std::shared_ptr<Code>> code;  // per node; null for native ones
  std::shared_ptr<rt::VirtualClock> clock;
  std::shared_ptr<rt::TraceRecorder> trace;  // when traced
};

// Runs by id, under the interpreter lock.
std::unordered_map<std::uint64_t, std::weak_ptr<RunBox>>& runs() {
  static auto* all = new std::unordered_map<std::uint64_t, std::weak_ptr<RunBox>>();
  return *all;
}
std::uint64_t next_run_id = 1;

struct RunObject {
  PyObject_HEAD
  std::shared_ptr<RunBox>* box;
};

struct ClockObject {
  PyObject_HEAD
  std::shared_ptr<rt::VirtualClock>* clock;
};

PyTypeObject* run_type = nullptr;
PyTypeObject* clock_type = nullptr;
PyObject* rejected_type = nullptr;

std::shared_ptr<RunBox>& box_of(PyObject* self) { return *reinterpret_cast<RunObject*>(self)->box; }

rt::Run* run_of(PyObject* self) {
  std::shared_ptr<RunBox>& box = box_of(self);
  if (!box || !box->run) {
    PyErr_SetString(PyExc_RuntimeError, "the run has been released");
    return nullptr;
  }
  return &*box->run;
}

PyObject* raise_error(const std::optional<kelo_core::Error>& e) {
  if (e) return raise(*e);
  Py_RETURN_NONE;
}

// ---- building the plan ----------------------------------------------------

// (name, kind, inputs, outputs, contract, join_ports, queue_capacity,
//  retries, confirm_timeout_ns or None, element or the native behaviour's
//  name, join key)
bool node_of(PyObject* t, std::uint64_t run_id, rt::Node& node, std::shared_ptr<Code>& code) {
  const char* name = nullptr;
  int kind = 0;
  PyObject *inputs, *outputs, *contract, *join_ports, *timeout, *element;
  unsigned long long queue = 0;
  unsigned int retries = 0;
  const char* key = nullptr;
  if (!PyArg_ParseTuple(t, "siOOOOKIOOs", &name, &kind, &inputs, &outputs, &contract,
                        &join_ports, &queue, &retries, &timeout, &element, &key)) {
    return false;
  }
  node.name = name;
  node.kind = rt::NodeKind(kind);
  if (!from_py(inputs, node.inputs) || !from_py(outputs, node.outputs) ||
      !from_py(contract, node.contract) || !from_py(join_ports, node.join_ports)) {
    return false;
  }
  node.queue_capacity = std::size_t(queue);
  node.retries = retries;
  if (timeout != Py_None) {
    std::int64_t ns = 0;
    if (!from_py(timeout, ns)) return false;
    node.confirm_timeout_ns = ns;
  }
  if (PyUnicode_Check(element)) {  // a native behaviour by name
    if (text_of(element) != "passthrough") {
      PyErr_Format(PyExc_ValueError, "no native behaviour named %R", element);
      return false;
    }
    node.behaviour = rt::passthrough();
    return true;
  }
  Ref id(PyLong_FromUnsignedLongLong(run_id));
  if (!id || PyObject_SetAttrString(element, "_kelo_run", id.get()) < 0) return false;
  if (node.kind == rt::NodeKind::Source) {
    auto source = std::make_shared<PySource>(element, name, inputs, outputs);
    node.source = source;
    code = source;
  } else {
    auto op = std::make_shared<Operator>(element, name, inputs, outputs, node.contract, key);
    node.behaviour = op;
    code = op;
  }
  return code->ok();
}

PyObject* start_run(PyObject*, PyObject* args) {
  PyObject *nodes, *edges, *clock, *pixels = Py_None;
  Py_ssize_t workers = 0, trace_events = 0;
  if (!PyArg_ParseTuple(args, "OOOn|nO", &nodes, &edges, &clock, &workers, &trace_events,
                        &pixels)) {
    return nullptr;
  }
  std::optional<PixelHooks> hooks;
  if (pixels != Py_None) {
    PyObject *store, *share, *discard;
    if (!PyArg_ParseTuple(pixels, "O!OO", &PyDict_Type, &store, &share, &discard)) return nullptr;
    hooks = PixelHooks{Ref(Py_NewRef(store)), Ref(Py_NewRef(share)), Ref(Py_NewRef(discard))};
  }
  auto box = std::make_shared<RunBox>();
  box->id = next_run_id++;
  rt::Plan plan;
  Py_ssize_t n = PySequence_Size(nodes);
  if (n < 0) return nullptr;
  try {
    for (Py_ssize_t i = 0; i < n; ++i) {
      Ref t(PySequence_GetItem(nodes, i));
      rt::Node node;
      std::shared_ptr<Code> code;
      if (!t || !node_of(t.get(), box->id, node, code)) return nullptr;
      plan.nodes.push_back(std::move(node));
      box->code.push_back(std::move(code));
    }
    Py_ssize_t m = PySequence_Size(edges);
    if (m < 0) return nullptr;
    for (Py_ssize_t i = 0; i < m; ++i) {
      Ref t(PySequence_GetItem(edges, i));
      rt::Edge e;
      if (!t || !PyArg_ParseTuple(t.get(), "nnnn", &e.from, &e.output, &e.to, &e.input)) {
        return nullptr;
      }
      plan.edges.push_back(e);
    }
    rt::RunOptions options;
    options.host = std::make_shared<PythonHost>(std::move(hooks));
    if (clock != Py_None) {
      if (!PyObject_TypeCheck(clock, clock_type)) {
        PyErr_SetString(PyExc_TypeError, "clock must be a VirtualClock or None");
        return nullptr;
      }
      box->clock = *reinterpret_cast<ClockObject*>(clock)->clock;
      options.clock = box->clock;
    }
    options.workers = std::size_t(workers);
    if (trace_events > 0) {
      box->trace = std::make_shared<rt::TraceRecorder>(plan, std::size_t(trace_events));
      options.observer = box->trace;
    }
    kelo_core::Result<rt::Run> started = kelo_core::Error::internal("not started");
    Py_BEGIN_ALLOW_THREADS
    started = rt::Run::start(std::move(plan), std::move(options));
    Py_END_ALLOW_THREADS
    if (!started) return raise(started.error());
    box->run.emplace(std::move(started).value());
    if (box->trace) box->trace->set_workers(box->run->workers());
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  }
  auto* self = PyObject_New(RunObject, run_type);
  if (!self) return nullptr;
  self->box = new std::shared_ptr<RunBox>(box);
  runs()[box->id] = box;
  return reinterpret_cast<PyObject*>(self);
}

void run_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<RunObject*>(self);
  if (o->box) {
    if (*o->box) runs().erase((*o->box)->id);
    delete o->box;  // ~Run cancels a run still going, without waiting
  }
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

// ---- results ---------------------------------------------------------------

bool put(PyObject* d, const char* key, PyObject* value) {
  Ref v(value);
  return v && PyDict_SetItemString(d, key, v.get()) == 0;
}

PyObject* stats_dict(const rt::ElementStats& s) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  PyObject* o = d.get();
  Ref drops(PyDict_New());
  if (!drops) return nullptr;
  for (std::size_t i = 0; i < rt::kDropReasons; ++i) {
    const std::string name(rt::drop_reason_name(rt::DropReason(i)));
    if (s.drops[i] && !put(drops.get(), name.c_str(), to_py(s.drops[i]))) return nullptr;
  }
  bool ok = put(o, "received", to_py(s.received)) && put(o, "processed", to_py(s.processed)) &&
            put(o, "emitted", to_py(s.emitted)) && put(o, "dropped", to_py(s.dropped)) &&
            put(o, "rejected", to_py(s.rejected)) && put(o, "failed", to_py(s.failed)) &&
            put(o, "retried", to_py(s.retried)) && put(o, "skipped", to_py(s.skipped)) &&
            put(o, "max_queue", to_py(s.max_queue)) &&
            put(o, "max_concurrent", to_py(s.max_concurrent)) &&
            put(o, "drops", drops.release()) &&
            put(o, "latency_p50_ns", to_py(s.latency.percentile(0.5))) &&
            put(o, "latency_p90_ns", to_py(s.latency.percentile(0.9))) &&
            put(o, "latency_p99_ns", to_py(s.latency.percentile(0.99))) &&
            put(o, "latency_max_ns", to_py(s.latency.max_ns)) &&
            put(o, "latency_mean_ns", to_py(s.latency.mean_ns())) &&
            put(o, "wait_ns", to_py(s.input_wait_ns)) &&
            put(o, "blocked_ns", to_py(s.backpressure_ns)) &&
            put(o, "mean_queue", to_py(s.mean_queue())) && put(o, "in_per_s", to_py(s.in_per_s())) &&
            put(o, "out_per_s", to_py(s.out_per_s())) && put(o, "elapsed_ns", to_py(s.elapsed_ns));
  return ok ? d.release() : nullptr;
}

constexpr const char* kOutcomes[] = {"completed", "failed", "cancelled", "stopped", "timed_out"};

// outcome, failed_element, failed_envelope, message, error, abandoned,
// stats (per node), stop_errors (per node: what stop() raised, or None).
PyObject* result_dict(RunBox& box, const rt::RunResult& r) {
  Ref d(PyDict_New());
  if (!d) return nullptr;
  PyObject* o = d.get();
  PyObject* payload = box.run ? as_object(box.run->take_failure_payload()) : nullptr;
  Ref error(payload ? payload : Py_NewRef(Py_None));
  Ref stats(PyList_New(0));
  Ref stops(PyList_New(0));
  if (!stats || !stops) return nullptr;
  for (std::size_t i = 0; i < r.stats.size(); ++i) {
    Ref s(stats_dict(r.stats[i]));
    Ref e(i < box.code.size() && box.code[i] ? box.code[i]->stop_error() : Py_NewRef(Py_None));
    if (!s || PyList_Append(stats.get(), s.get()) < 0 || PyList_Append(stops.get(), e.get()) < 0) {
      return nullptr;
    }
  }
  PyObject* envelope = r.failed_envelope
                           ? Py_BuildValue("(KL)", static_cast<unsigned long long>(r.failed_envelope->sequence),
                                           static_cast<long long>(r.failed_envelope->timestamp_ns))
                           : Py_NewRef(Py_None);
  bool ok = put(o, "outcome", to_py(kOutcomes[std::size_t(r.outcome)])) &&
            put(o, "failed_element", r.failed_element ? to_py(*r.failed_element) : Py_NewRef(Py_None)) &&
            put(o, "failed_envelope", envelope) && put(o, "message", to_py(r.message)) &&
            put(o, "error", error.release()) && put(o, "abandoned", to_py(r.abandoned)) &&
            put(o, "stats", stats.release()) && put(o, "stop_errors", stops.release());
  return ok ? d.release() : nullptr;
}

// ---- Run's methods ---------------------------------------------------------

PyObject* run_flush(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  r->flush();
  Py_RETURN_NONE;
}
PyObject* run_cancel(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  r->cancel();
  Py_RETURN_NONE;
}
PyObject* run_stop(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  r->stop();
  Py_RETURN_NONE;
}
PyObject* run_eos(PyObject* self, PyObject* arg) {
  rt::Run* r = run_of(self);
  std::uint64_t source = 0;
  if (!r || !from_py(arg, source)) return nullptr;
  return raise_error(r->eos(std::size_t(source)));
}
PyObject* run_seek(PyObject* self, PyObject* args) {
  rt::Run* r = run_of(self);
  unsigned long long source = 0;
  long long target = 0;
  if (!r || !PyArg_ParseTuple(args, "KL", &source, &target)) return nullptr;
  return raise_error(r->seek(std::size_t(source), target));
}

// Waits up to `seconds` (None: for ever) for the run to end, the lock
// released, answering signals (KeyboardInterrupt) as they come. True once
// the run has ended.
PyObject* run_poll(PyObject* self, PyObject* arg) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  double seconds = -1;
  if (arg != Py_None && !from_py(arg, seconds)) return nullptr;
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + std::chrono::duration<double>(seconds < 0 ? 0 : seconds);
  auto step = std::chrono::microseconds(20);
  for (;;) {
    bool ended = false;
    Py_BEGIN_ALLOW_THREADS
    const auto slice_end = clock::now() + std::chrono::milliseconds(20);
    while (!(ended = r->ended()) && clock::now() < slice_end &&
           (seconds < 0 || clock::now() < deadline)) {
      std::this_thread::sleep_for(step);
      if (step < std::chrono::milliseconds(2)) step *= 2;
    }
    Py_END_ALLOW_THREADS
    if (ended) Py_RETURN_TRUE;
    if (PyErr_CheckSignals() < 0) return nullptr;
    if (seconds >= 0 && clock::now() >= deadline) Py_RETURN_FALSE;
  }
}

// The core's wait: blocks until the run has ended (a timeout in ns on the
// run's clock cancels it then, ending it TimedOut), and gives its result.
PyObject* run_finish(PyObject* self, PyObject* args) {
  PyObject *timeout = Py_None, *grace = Py_None;
  if (!PyArg_ParseTuple(args, "|OO", &timeout, &grace)) return nullptr;
  std::shared_ptr<RunBox> box = box_of(self);
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  std::optional<std::int64_t> t, g;
  if (!from_py(timeout, t) || !from_py(grace, g)) return nullptr;
  rt::RunResult result;
  Py_BEGIN_ALLOW_THREADS
  result = r->wait(t, g);
  Py_END_ALLOW_THREADS
  return result_dict(*box, result);
}

PyObject* run_abandon(PyObject* self, PyObject*) {
  std::shared_ptr<RunBox> box = box_of(self);
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  rt::RunResult result;
  Py_BEGIN_ALLOW_THREADS
  result = r->abandon();
  Py_END_ALLOW_THREADS
  return result_dict(*box, result);
}

PyObject* run_stats(PyObject* self, PyObject* arg) {
  rt::Run* r = run_of(self);
  std::uint64_t node = 0;
  if (!r || !from_py(arg, node)) return nullptr;
  if (node >= box_of(self)->code.size()) {
    PyErr_SetString(PyExc_IndexError, "no such element");
    return nullptr;
  }
  return stats_dict(r->stats(std::size_t(node)));
}

PyObject* run_ended(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  return to_py(r->ended());
}

PyObject* run_workers(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  if (!r) return nullptr;
  return to_py(std::uint64_t(r->workers()));
}

PyObject* run_snapshot(PyObject* self, PyObject*) {
  rt::Run* r = run_of(self);
  return r ? snapshot_to_py(r->snapshot()) : nullptr;
}

PyObject* run_write_trace(PyObject* self, PyObject* path) {
  if (!run_of(self)) return nullptr;
  if (!box_of(self)->trace) {
    PyErr_SetString(PyExc_RuntimeError, "the run was started without a trace");
    return nullptr;
  }
  return write_trace(*box_of(self)->trace, path);
}

PyMethodDef run_methods[] = {
    {"flush", run_flush, METH_NOARGS, "Release every partial batch and window now."},
    {"eos", run_eos, METH_O, "eos(source): end a source (by node index)."},
    {"cancel", run_cancel, METH_NOARGS, "Cancel: in-flight executions stop, queues are dropped."},
    {"stop", run_stop, METH_NOARGS, "Stop gracefully: the sources end, the queues drain."},
    {"seek", run_seek, METH_VARARGS, "seek(source, target_ns): reposition a source."},
    {"poll", run_poll, METH_O, "poll(seconds or None) -> bool: wait for the run to end."},
    {"finish", run_finish, METH_VARARGS,
     "finish(timeout_ns=None, grace_ns=None) -> dict: wait for the end, the result."},
    {"abandon", run_abandon, METH_NOARGS, "End now without waiting for executions; the result."},
    {"stats", run_stats, METH_O, "stats(node) -> dict: an element's counters now."},
    {"ended", run_ended, METH_NOARGS, "Whether the run has ended."},
    {"workers", run_workers, METH_NOARGS, "The number of worker threads."},
    {"snapshot", run_snapshot, METH_NOARGS, "snapshot() -> dict: the live state of every element."},
    {"write_trace", run_write_trace, METH_O,
     "write_trace(path) -> (written, lost): the run's trace as a Chrome trace file."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot run_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(&run_dealloc)},
    {Py_tp_methods, run_methods},
    {Py_tp_doc, const_cast<char*>("A running pipeline (made by kelo._native.start_run).")},
    {0, nullptr},
};

PyType_Spec run_spec = {"kelo._native.Run", sizeof(RunObject), 0, Py_TPFLAGS_DEFAULT, run_slots};

// ---- the virtual clock -------------------------------------------------------

std::shared_ptr<rt::VirtualClock>& clock_of(PyObject* self) {
  return *reinterpret_cast<ClockObject*>(self)->clock;
}

PyObject* clock_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  long long start = 0;
  static const char* names[] = {"start_ns", nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|L:VirtualClock", const_cast<char**>(names),
                                   &start)) {
    return nullptr;
  }
  auto* self = reinterpret_cast<ClockObject*>(PyType_GenericAlloc(type, 0));
  if (!self) return nullptr;
  self->clock = new std::shared_ptr<rt::VirtualClock>(std::make_shared<rt::VirtualClock>(start));
  return reinterpret_cast<PyObject*>(self);
}

void clock_dealloc(PyObject* self) {
  delete reinterpret_cast<ClockObject*>(self)->clock;
  PyTypeObject* type = Py_TYPE(self);
  PyObject_Free(self);
  Py_DECREF(type);
}

// advance(ns) and advance_to(ns): timers due fire on this thread, with the
// interpreter lock let go so that elements woken by them can run.
template <void (rt::VirtualClock::*Move)(std::int64_t)>
PyObject* clock_move(PyObject* self, PyObject* arg) {
  std::int64_t ns = 0;
  if (!from_py(arg, ns)) return nullptr;
  std::shared_ptr<rt::VirtualClock> c = clock_of(self);
  Py_BEGIN_ALLOW_THREADS
  ((*c).*Move)(ns);
  Py_END_ALLOW_THREADS
  Py_RETURN_NONE;
}

PyObject* clock_now(PyObject* self, PyObject*) { return to_py(clock_of(self)->now_ns()); }
PyObject* clock_pending(PyObject* self, PyObject*) {
  return to_py(std::uint64_t(clock_of(self)->pending_timers()));
}
PyObject* clock_next(PyObject* self, PyObject*) { return to_py(clock_of(self)->next_timer_ns()); }

PyMethodDef clock_methods[] = {
    {"advance", clock_move<&rt::VirtualClock::advance>, METH_O,
     "advance(ns): move time forward; timers due fire now, in order, on this thread."},
    {"advance_to", clock_move<&rt::VirtualClock::advance_to>, METH_O, "advance_to(ns): move time to `ns`."},
    {"now_ns", clock_now, METH_NOARGS, "The present instant in nanoseconds."},
    {"pending_timers", clock_pending, METH_NOARGS, "Timers armed and not yet fired."},
    {"next_timer_ns", clock_next, METH_NOARGS, "The earliest armed timer's time, or None."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot clock_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(&clock_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&clock_dealloc)},
    {Py_tp_methods, clock_methods},
    {Py_tp_doc, const_cast<char*>(
                    "VirtualClock(start_ns=0)\n--\n\nTime for a run that moves only when "
                    "advance() moves it;\ntimers fire on the advancing thread.")},
    {0, nullptr},
};

PyType_Spec clock_spec = {"kelo.runtime.VirtualClock", sizeof(ClockObject), 0, Py_TPFLAGS_DEFAULT,
                          clock_slots};

// ---- what element code calls during process() --------------------------------

Operator* running(PyObject* element, rt::Execution** x) {
  Current c = current;
  if (!c.code || c.code->element() != element) {
    Ref name(PyObject_GetAttrString(element, "name"));
    PyErr_Clear();
    PyErr_Format(PyExc_RuntimeError,
                 "element %R: emit() and pending_token() work only inside its own process(), "
                 "on the thread that runs it",
                 name ? name.get() : Py_None);
    return nullptr;
  }
  *x = c.execution;
  return c.code;
}

PyObject* emit(PyObject*, PyObject* args) {
  PyObject *element, *port, *value;
  if (!PyArg_ParseTuple(args, "OOO", &element, &port, &value)) return nullptr;
  rt::Execution* x = nullptr;
  Operator* op = running(element, &x);
  if (!op) return nullptr;
  bool rejected = false;
  if (op->emit(port, value, *x, &rejected) < 0) {
    PyErr_Format(PyExc_KeyError, "element '%s' has no output %R (outputs: %s)", op->name().c_str(),
                 port, op->output_names().c_str());
    return nullptr;
  }
  if (rejected) {
    if (!rejected_type) {  // kelo.Rejected, imported on first need
      Ref element(PyImport_ImportModule("kelo.runtime.element"));
      rejected_type = element ? PyObject_GetAttrString(element.get(), "Rejected") : nullptr;
      if (!rejected_type) return nullptr;
    }
    PyErr_Format(rejected_type, "element '%s': output %R was refused by a full queue",
                 op->name().c_str(), port);
    return nullptr;
  }
  Py_RETURN_NONE;
}

PyObject* pending_token(PyObject*, PyObject* element) {
  rt::Execution* x = nullptr;
  if (!running(element, &x)) return nullptr;
  std::optional<rt::ConfirmToken> t = x->token();
  if (!t) Py_RETURN_NONE;
  return to_py(t->id);
}

PyObject* envelopes(PyObject*, PyObject* element) {
  rt::Execution* x = nullptr;
  if (!running(element, &x)) return nullptr;
  Ref all(PyList_New(Py_ssize_t(x->entries())));
  for (std::size_t e = 0; all && e < x->entries(); ++e) {
    const rt::Envelope v = x->envelope(e);
    PyObject* pair = Py_BuildValue("(KL)", static_cast<unsigned long long>(v.sequence),
                                   static_cast<long long>(v.timestamp_ns));
    if (!pair) return nullptr;
    if (PyList_SetItem(all.get(), Py_ssize_t(e), pair) < 0) return nullptr;
  }
  return all.release();
}

PyObject* set_envelope(PyObject*, PyObject* args) {
  unsigned long long sequence = 0;
  long long timestamp_ns = 0;
  if (!PyArg_ParseTuple(args, "KL", &sequence, &timestamp_ns)) return nullptr;
  next_envelope = rt::Envelope{sequence, timestamp_ns};
  Py_RETURN_NONE;
}

PyObject* confirm(PyObject*, PyObject* args) {
  unsigned long long run_id = 0, token = 0;
  if (!PyArg_ParseTuple(args, "KK", &run_id, &token)) return nullptr;
  auto found = runs().find(run_id);
  std::shared_ptr<RunBox> box = found == runs().end() ? nullptr : found->second.lock();
  if (!box || !box->run) {
    PyErr_SetString(PyExc_RuntimeError, "confirm(): the element's run has ended");
    return nullptr;
  }
  std::optional<kelo_core::Error> e;
  rt::Run& r = *box->run;
  Py_BEGIN_ALLOW_THREADS
  e = r.confirm(rt::ConfirmToken{token});
  Py_END_ALLOW_THREADS
  return raise_error(e);
}

PyMethodDef functions[] = {
    {"start_run", start_run, METH_VARARGS,
     "start_run(nodes, edges, clock, workers, trace_events=0, pixels=None) -> Run: start a "
     "plan (see running.py); pixels: (store, share_value, release_value)."},
    {"runtime_emit", emit, METH_VARARGS,
     "runtime_emit(element, port, value): Element.emit inside process()."},
    {"runtime_pending_token", pending_token, METH_O,
     "runtime_pending_token(element) -> int or None: the running execution's token."},
    {"runtime_envelopes", envelopes, METH_O,
     "runtime_envelopes(element) -> [(sequence, timestamp_ns)]: each entry's envelope."},
    {"runtime_set_envelope", set_envelope, METH_VARARGS,
     "runtime_set_envelope(sequence, timestamp_ns): the envelope of the item a source's\n"
     "generate() yields next (on the source's thread)."},
    {"runtime_confirm", confirm, METH_VARARGS,
     "runtime_confirm(run_id, token): complete an ExternalConfirmed execution."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

bool add_runtime(PyObject* module) {
  if (!run_type) {
    run_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&run_spec));
    if (!run_type) return false;
  }
  if (!clock_type) {
    clock_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&clock_spec));
    if (!clock_type) return false;
  }
  return PyModule_AddFunctions(module, functions) == 0 &&
         PyModule_AddObjectRef(module, "Run", reinterpret_cast<PyObject*>(run_type)) == 0 &&
         PyModule_AddObjectRef(module, "VirtualClock", reinterpret_cast<PyObject*>(clock_type)) == 0;
}

}  // namespace kelo::py
