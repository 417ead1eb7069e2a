// The trace recorder: fixed-size records in per-thread chunks while the run
// goes, the Chrome trace event JSON built from them afterwards.
#include "runtime/trace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <unordered_map>
#include <variant>

#include "support/text.h"

namespace kelo_core::runtime {

namespace {

constexpr std::size_t kChunkRecords = 1024;
constexpr std::size_t kMaxMessages = 1024;
constexpr std::uint32_t kNone = 0xFFFFFFFF;
constexpr int kElementsPid = 1;
constexpr int kThreadsPid = 2;

enum class Kind : std::uint8_t { Execution, Queue, Drop, Retry, Signal };

// The names of ControlSignal's kinds, in the order of its variant.
constexpr std::string_view kSignalNames[] = {"flush", "eos", "cancel", "stop", "seek"};
constexpr std::uint8_t kSeek = 4;
static_assert(std::size(kSignalNames) ==
              std::variant_size_v<decltype(execution::ControlSignal::kind)>);

std::atomic<std::uint64_t> next_recorder_id{1};

// The chunk this thread appends to, for the recorder `owner`.
struct Cursor {
  std::uint64_t owner = 0;
  void* chunk = nullptr;
};
thread_local Cursor tl_cursor;

std::uint32_t narrow(std::size_t v) {
  return v >= kNone ? kNone - 1 : static_cast<std::uint32_t>(v);
}

}  // namespace

// One event. Fields by kind:
//   Execution: element, thread, code = state, serial, sequence, stamp
//   Queue:     element, thread, aux = port, serial = length, code = push
//   Drop:      element, aux = port, code = reason, sequence, stamp
//   Retry:     element, aux = attempt, sequence, stamp, serial = message + 1
//   Signal:    element = source or kNone, code = kind, sequence = seek target
struct TraceRecorder::Rec {
  std::int64_t time_ns;
  std::uint64_t serial;
  std::uint64_t sequence;
  std::int64_t stamp;
  std::uint32_t element;
  std::uint32_t thread;
  std::uint32_t aux;
  Kind kind;
  std::uint8_t code;
};

// Written by one thread; `used` publishes its records to the writer of the
// trace.
struct TraceRecorder::Chunk {
  std::atomic<std::size_t> used{0};
  Rec recs[kChunkRecords];
};

std::string_view drop_reason_name(DropReason r) {
  static constexpr std::string_view names[kDropReasons] = {
      "latest", "drop_oldest", "drop_newest", "reject", "match", "skip", "ended"};
  return names[static_cast<std::size_t>(r)];
}

TraceRecorder::TraceRecorder(const Plan& plan, std::size_t max_events)
    : id_(next_recorder_id.fetch_add(1)),
      max_chunks_((max_events + kChunkRecords - 1) / kChunkRecords),
      lanes_(std::make_unique<Lane[]>(kLanes)) {
  const std::size_t n = plan.nodes.size();
  topo_.upstream.resize(n);
  for (const Node& node : plan.nodes) {
    topo_.names.push_back(node.name);
    topo_.inputs.push_back(node.inputs);
    topo_.is_source.push_back(node.kind == NodeKind::Source);
  }
  // An element's envelope comes from its arriving input when the inputs are
  // independent, from its first joined input otherwise.
  for (std::size_t i = 0; i < n; ++i) {
    const Node& node = plan.nodes[i];
    const bool independent = std::holds_alternative<execution::InputRelation::Independent>(
        node.contract.input_relation.kind);
    const std::size_t first = node.join_ports.empty() ? 0 : node.join_ports.front();
    for (const Edge& e : plan.edges) {
      if (e.to == i && e.from < n && (independent || e.input == first)) {
        topo_.upstream[i].push_back(e.from);
      }
    }
  }
  // Origins by walking upstream; a cycle or several sources leave none.
  topo_.origin.assign(n, std::nullopt);
  std::vector<std::uint8_t> state(n, 0);  // 0 unvisited, 1 visiting, 2 done
  auto visit = [&](auto& self, std::size_t i) -> std::optional<std::size_t> {
    if (state[i] == 2) return topo_.origin[i];
    if (state[i] == 1) return std::nullopt;
    state[i] = 1;
    std::optional<std::size_t> origin;
    if (topo_.is_source[i]) {
      origin = i;
    } else {
      bool unique = !topo_.upstream[i].empty();
      for (std::size_t u : topo_.upstream[i]) {
        const auto o = self(self, u);
        if (!o || (origin && *origin != *o)) unique = false;
        origin = o;
      }
      if (!unique) origin.reset();
    }
    state[i] = 2;
    return topo_.origin[i] = origin;
  };
  for (std::size_t i = 0; i < n; ++i) visit(visit, i);
}

TraceRecorder::~TraceRecorder() = default;

TraceRecorder::Chunk* TraceRecorder::refill() {
  std::lock_guard lock(m_);
  if (chunks_.size() == max_chunks_) {
    full_.store(true, std::memory_order_relaxed);
    return nullptr;
  }
  chunks_.push_back(std::make_unique<Chunk>());
  return chunks_.back().get();
}

void TraceRecorder::append(const Rec& rec, std::uint32_t thread) {
  static_assert(sizeof(Rec) <= 48);
  void** cursor;
  if (thread < kLanes) {
    cursor = &lanes_[thread].chunk;
  } else {
    if (tl_cursor.owner != id_) tl_cursor = Cursor{id_, nullptr};
    cursor = &tl_cursor.chunk;
  }
  auto* c = static_cast<Chunk*>(*cursor);
  std::size_t used = c ? c->used.load(std::memory_order_relaxed) : kChunkRecords;
  if (used == kChunkRecords) {
    if (full_.load(std::memory_order_relaxed) || !(c = refill())) {
      lost_.fetch_add(1, std::memory_order_relaxed);
      return;
    }
    *cursor = c;
    used = 0;
  }
  c->recs[used] = rec;
  c->used.store(used + 1, std::memory_order_release);
}

void TraceRecorder::on_execution(const ExecutionEvent& e) {
  using execution::ExecutionState;
  if (e.state == ExecutionState::Pending || e.state == ExecutionState::Admitted) return;
  append(Rec{e.time_ns, e.execution, e.envelope.sequence, e.envelope.timestamp_ns,
           narrow(e.element), e.thread, 0, Kind::Execution, static_cast<std::uint8_t>(e.state)},
         e.thread);
}

void TraceRecorder::on_queue(const QueueEvent& e) {
  append(Rec{e.time_ns, e.length, 0, 0, narrow(e.element), e.thread, narrow(e.port), Kind::Queue,
           static_cast<std::uint8_t>(e.push)},
         e.thread);
}

void TraceRecorder::on_drop(const DropEvent& e) {
  append(Rec{e.time_ns, 0, e.envelope.sequence, e.envelope.timestamp_ns, narrow(e.element), kNone,
           narrow(e.port), Kind::Drop, static_cast<std::uint8_t>(e.reason)},
         kExternalThread);
}

void TraceRecorder::on_retry(const RetryEvent& e) {
  std::uint64_t message = 0;
  {
    std::lock_guard lock(m_);
    if (messages_.size() < kMaxMessages) {
      messages_.push_back(e.message);
      message = messages_.size();
    }
  }
  append(Rec{e.time_ns, message, e.envelope.sequence, e.envelope.timestamp_ns, narrow(e.element),
           kNone, e.attempt, Kind::Retry, 0},
         kExternalThread);
}

void TraceRecorder::on_signal(const SignalEvent& e) {
  append(Rec{e.time_ns, 0, e.signal.target_ns().value_or(0), 0,
           e.source ? narrow(*e.source) : kNone, kNone, 0, Kind::Signal,
           static_cast<std::uint8_t>(e.signal.kind.index())},
         kExternalThread);
}

void TraceRecorder::set_workers(std::size_t workers) { workers_.store(workers); }

std::uint64_t TraceRecorder::recorded() const {
  std::lock_guard lock(m_);
  std::uint64_t n = 0;
  for (const auto& c : chunks_) n += c->used.load(std::memory_order_acquire);
  return n;
}

std::uint64_t TraceRecorder::lost() const { return lost_.load(std::memory_order_relaxed); }

std::vector<TraceRecorder::Rec> TraceRecorder::collect() const {
  std::vector<Rec> all;
  {
    std::lock_guard lock(m_);
    for (const auto& c : chunks_) {
      const std::size_t used = c->used.load(std::memory_order_acquire);
      all.insert(all.end(), c->recs, c->recs + used);
    }
  }
  std::stable_sort(all.begin(), all.end(),
                   [](const Rec& a, const Rec& b) { return a.time_ns < b.time_ns; });
  return all;
}

// ---- the JSON --------------------------------------------------------------------

namespace {

// A JSON string: valid UTF-8 kept, control characters escaped, ill-formed
// bytes replaced by U+FFFD.
void quoted(std::ostream& out, std::string_view s) {
  out << '"';
  for (std::size_t i = 0; i < s.size();) {
    char32_t cp;
    bool valid = true;
    const std::size_t len = text::decode_utf8(s, i, &cp, &valid);
    if (!valid) {
      out << "\\ufffd";
    } else if (cp == '"' || cp == '\\') {
      out << '\\' << static_cast<char>(cp);
    } else if (cp < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(cp));
      out << buf;
    } else {
      out.write(s.data() + i, static_cast<std::streamsize>(len));
    }
    i += len;
  }
  out << '"';
}

// Microseconds with the nanoseconds as three decimals.
void micros(std::ostream& out, std::int64_t ns) {
  char buf[32];
  const char* sign = ns < 0 ? "-" : "";
  const std::uint64_t a = ns < 0 ? std::uint64_t(-(ns + 1)) + 1 : std::uint64_t(ns);
  std::snprintf(buf, sizeof buf, "%s%llu.%03llu", sign, static_cast<unsigned long long>(a / 1000),
                static_cast<unsigned long long>(a % 1000));
  out << buf;
}

// An execution from its Running event to its end (or the next attempt's
// start, or the end of the trace for one still running).
struct Slice {
  std::uint32_t element;
  std::uint32_t thread;
  std::int64_t start;
  std::int64_t end;
  std::int64_t thread_end;  // clipped at the next slice on its thread
  std::uint64_t serial;
  std::uint64_t sequence;
  std::int64_t stamp;
  std::uint32_t attempt;
  std::string_view state;
  std::uint32_t lane;
};

// Writes the events one by one, separated by commas.
class Events {
 public:
  Events(std::ostream& out, std::int64_t base) : out_(out), base_(base) {}

  // Opens an event: name, ph, pid, tid, ts; the caller adds fields and
  // closes it with '}'.
  std::ostream& open(std::string_view name, char ph, int pid, std::uint64_t tid,
                     std::optional<std::int64_t> time_ns) {
    out_ << (first_ ? "\n" : ",\n") << "{\"name\":";
    first_ = false;
    quoted(out_, name);
    out_ << ",\"ph\":\"" << ph << "\",\"pid\":" << pid << ",\"tid\":" << tid << ",\"ts\":";
    micros(out_, time_ns ? *time_ns - base_ : 0);
    return out_;
  }
  void metadata(std::string_view what, int pid, std::uint64_t tid, std::string_view name) {
    open(what, 'M', pid, tid, std::nullopt) << ",\"args\":{\"name\":";
    quoted(out_, name);
    out_ << "}}";
  }
  void sort_index(int pid, std::uint64_t tid, std::uint64_t index) {
    open("thread_sort_index", 'M', pid, tid, std::nullopt)
        << ",\"args\":{\"sort_index\":" << index << "}}";
  }
  void duration(std::int64_t ns) {
    out_ << ",\"dur\":";
    micros(out_, ns);
  }

 private:
  std::ostream& out_;
  std::int64_t base_;
  bool first_ = true;
};

}  // namespace

void TraceRecorder::write(std::ostream& out) const {
  const std::vector<Rec> recs = collect();
  std::vector<std::string> messages;
  {
    std::lock_guard lock(m_);
    messages = messages_;
  }
  const std::size_t n = topo_.names.size();
  const std::int64_t base = recs.empty() ? 0 : recs.front().time_ns;
  const std::int64_t last = recs.empty() ? 0 : recs.back().time_ns;
  auto element_name = [&](std::uint32_t e) -> std::string_view {
    return e < n ? std::string_view(topo_.names[e]) : std::string_view("?");
  };

  // Executions into slices.
  std::vector<Slice> slices;
  std::unordered_map<std::uint64_t, std::size_t> open;
  for (const Rec& r : recs) {
    if (r.kind != Kind::Execution || r.element >= n) continue;
    const auto state = static_cast<execution::ExecutionState>(r.code);
    auto it = open.find(r.serial);
    if (state == execution::ExecutionState::Running) {
      std::uint32_t attempt = 0;
      if (it != open.end()) {  // a retry: the previous attempt failed
        Slice& prev = slices[it->second];
        prev.end = r.time_ns;
        prev.state = "Failed";
        attempt = prev.attempt + 1;
      }
      open[r.serial] = slices.size();
      slices.push_back(Slice{r.element, r.thread, r.time_ns, last, last, r.serial, r.sequence,
                             r.stamp, attempt, "Running", 0});
    } else if (it != open.end()) {
      Slice& s = slices[it->second];
      s.end = r.time_ns;
      s.state = variant_name(state);
      s.sequence = r.sequence;
      s.stamp = r.stamp;
      open.erase(it);
    }
  }

  // Lanes, so that an element's overlapping executions never share a track;
  // a thread's slices clipped so that they never overlap.
  std::vector<std::vector<std::int64_t>> lane_ends(n);
  std::unordered_map<std::uint32_t, std::size_t> on_thread;
  for (std::size_t i = 0; i < slices.size(); ++i) {
    Slice& s = slices[i];
    auto& ends = lane_ends[s.element];
    auto free = std::find_if(ends.begin(), ends.end(), [&](std::int64_t e) { return e <= s.start; });
    if (free == ends.end()) free = ends.insert(ends.end(), 0);
    *free = s.end;
    s.lane = static_cast<std::uint32_t>(free - ends.begin());
    s.thread_end = s.end;
    auto [prev, fresh] = on_thread.try_emplace(s.thread, i);
    if (!fresh) {
      Slice& p = slices[prev->second];
      p.thread_end = std::min(p.thread_end, s.start);
      prev->second = i;
    }
  }
  std::vector<std::uint64_t> first_tid(n + 1, 1);
  for (std::size_t e = 0; e < n; ++e) {
    first_tid[e + 1] = first_tid[e] + std::max<std::size_t>(1, lane_ends[e].size());
  }
  auto tid_of = [&](const Slice& s) { return first_tid[s.element] + s.lane; };
  auto thread_tid = [](std::uint32_t t) -> std::uint64_t {
    return t == kExternalThread ? 0 : std::uint64_t{t} + 1;
  };
  auto middle = [](const Slice& s) { return s.start + (s.end - s.start) / 2; };

  out << "{\"displayTimeUnit\":\"ns\",\"otherData\":{\"events_recorded\":" << recs.size()
      << ",\"events_lost\":" << lost() << ",\"base_ns\":" << base
      << "},\"traceEvents\":[";
  Events ev(out, base);

  // Names of processes and tracks.
  ev.metadata("process_name", kElementsPid, 0, "elements");
  ev.metadata("process_name", kThreadsPid, 0, "threads");
  for (std::size_t e = 0; e < n; ++e) {
    for (std::uint64_t tid = first_tid[e]; tid < first_tid[e + 1]; ++tid) {
      const std::uint64_t lane = tid - first_tid[e];
      ev.metadata("thread_name", kElementsPid, tid,
                  lane ? topo_.names[e] + " (" + std::to_string(lane + 1) + ")" : topo_.names[e]);
      ev.sort_index(kElementsPid, tid, tid);
    }
  }
  const std::size_t workers = workers_.load();
  std::vector<std::size_t> sources;
  for (std::size_t e = 0; e < n; ++e) {
    if (topo_.is_source[e]) sources.push_back(e);
  }
  for (const auto& [thread, _] : on_thread) {
    std::string name;
    if (thread == kExternalThread) {
      name = "other";
    } else if (workers == 0) {
      name = "thread " + std::to_string(thread);
    } else if (thread < workers) {
      name = "worker " + std::to_string(thread);
    } else if (thread - workers < sources.size()) {
      name = "source " + topo_.names[sources[thread - workers]];
    } else {
      name = "control";
    }
    ev.metadata("thread_name", kThreadsPid, thread_tid(thread), name);
    ev.sort_index(kThreadsPid, thread_tid(thread), thread_tid(thread));
  }

  // Executions, on their element's lane and on their thread.
  for (const Slice& s : slices) {
    ev.open(element_name(s.element), 'X', kElementsPid, tid_of(s), s.start);
    ev.duration(s.end - s.start);
    out << ",\"cat\":\"execution\",\"args\":{\"sequence\":" << s.sequence
        << ",\"timestamp_ns\":" << s.stamp << ",\"execution\":" << s.serial
        << ",\"attempt\":" << s.attempt << ",\"state\":\"" << s.state << "\"}}";
    ev.open(element_name(s.element), 'X', kThreadsPid, thread_tid(s.thread), s.start);
    ev.duration(s.thread_end - s.start);
    out << ",\"cat\":\"execution\",\"args\":{\"sequence\":" << s.sequence
        << ",\"execution\":" << s.serial << "}}";
  }

  // Flows: from the execution upstream that ran on an item to each one that
  // ran on what it sent, matched by sequence number within one source.
  std::vector<std::unordered_map<std::uint64_t, std::size_t>> latest(n);
  std::uint64_t flow = 0;
  for (std::size_t i = 0; i < slices.size(); ++i) {
    const Slice& s = slices[i];
    if (!topo_.origin[s.element]) continue;
    for (std::size_t u : topo_.upstream[s.element]) {
      auto it = latest[u].find(s.sequence);
      if (it == latest[u].end()) continue;
      const Slice& p = slices[it->second];
      ++flow;
      ev.open("item", 's', kElementsPid, tid_of(p), middle(p))
          << ",\"cat\":\"item\",\"id\":" << flow << "}";
      ev.open("item", 'f', kElementsPid, tid_of(s), middle(s))
          << ",\"cat\":\"item\",\"id\":" << flow << ",\"bp\":\"e\"}";
    }
    latest[s.element][s.sequence] = i;
  }

  // Queue lengths, drops, retries, failures and signals.
  for (const Rec& r : recs) {
    const bool known = r.element < n;
    switch (r.kind) {
      case Kind::Execution:
        if (known && static_cast<execution::ExecutionState>(r.code) ==
                         execution::ExecutionState::Failed) {
          ev.open("failure", 'i', kElementsPid, first_tid[r.element], r.time_ns)
              << ",\"s\":\"t\",\"args\":{\"sequence\":" << r.sequence << ",\"execution\":"
              << r.serial << "}}";
        }
        break;
      case Kind::Queue: {
        if (!known) break;
        const auto& ports = topo_.inputs[r.element];
        std::string name = "queue " + topo_.names[r.element] + "." +
                           (r.aux < ports.size() ? ports[r.aux] : std::to_string(r.aux));
        ev.open(name, 'C', kElementsPid, 0, r.time_ns) << ",\"args\":{\"length\":" << r.serial
                                                       << "}}";
        break;
      }
      case Kind::Drop: {
        if (!known) break;
        const auto reason = static_cast<DropReason>(r.code);
        ev.open(reason == DropReason::Reject ? "reject" : "drop", 'i', kElementsPid,
                first_tid[r.element], r.time_ns)
            << ",\"s\":\"t\",\"args\":{\"reason\":\"" << drop_reason_name(reason)
            << "\",\"port\":" << r.aux << ",\"sequence\":" << r.sequence
            << ",\"timestamp_ns\":" << r.stamp << "}}";
        break;
      }
      case Kind::Retry:
        if (!known) break;
        ev.open("retry", 'i', kElementsPid, first_tid[r.element], r.time_ns)
            << ",\"s\":\"t\",\"args\":{\"attempt\":" << r.aux << ",\"sequence\":" << r.sequence;
        if (r.serial > 0 && r.serial <= messages.size()) {
          out << ",\"message\":";
          quoted(out, messages[r.serial - 1]);
        }
        out << "}}";
        break;
      case Kind::Signal: {
        const std::string_view kind =
            r.code < std::size(kSignalNames) ? kSignalNames[r.code] : std::string_view("signal");
        ev.open(kind, 'i', kElementsPid, 0, r.time_ns) << ",\"s\":\"g\",\"args\":{";
        if (known) {
          out << "\"source\":";
          quoted(out, topo_.names[r.element]);
          if (r.code == kSeek) out << ",";
        }
        if (r.code == kSeek) out << "\"target_ns\":" << r.sequence;
        out << "}}";
        break;
      }
    }
  }
  out << "\n]}\n";
}

std::optional<Error> TraceRecorder::write_file(const std::string& path) const {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (f) write(f);
  if (f) f.flush();
  if (!f) {
    return Error::value("cannot write the trace file '" + path + "': " + std::strerror(errno));
  }
  return std::nullopt;
}

}  // namespace kelo_core::runtime
