// The trace recorder: the Chrome trace event file it writes from events fed
// to it directly, read back with a small JSON reader.
#include <sstream>
#include <variant>

#include "runtime/trace.h"
#include "runtime_support.h"

namespace kelo_core::runtime {
namespace {

using execution::ControlSignal;
using execution::ExecutionState;
using Flows = std::multiset<std::pair<std::string, std::string>>;

// A JSON reader, strict enough to reject what Python's json would.
struct Json {
  using Array = std::vector<Json>;
  using Object = std::vector<std::pair<std::string, Json>>;
  std::variant<double, std::string, Array, Object> v;  // the writer has no true, false, null

  const Json* get(std::string_view key) const {
    for (const auto& [k, val] : std::get<Object>(v)) {
      if (k == key) return &val;
    }
    return nullptr;
  }
  const Json& at(std::string_view key) const {
    const Json* j = get(key);
    if (!j) throw std::runtime_error("no key " + std::string(key));
    return *j;
  }
  double num() const { return std::get<double>(v); }
  const std::string& str() const { return std::get<std::string>(v); }
};

class Reader {
 public:
  explicit Reader(std::string_view s) : s_(s) {}
  Json document() {
    Json j = value();
    space();
    if (i_ != s_.size()) fail("trailing text");
    return j;
  }

 private:
  [[noreturn]] void fail(const char* what) {
    throw std::runtime_error(std::string(what) + " at " + std::to_string(i_));
  }
  bool at_one_of(std::string_view set) const {
    return i_ < s_.size() && set.find(s_[i_]) != std::string_view::npos;
  }
  void space() {
    while (at_one_of(" \t\r\n")) ++i_;
  }
  bool eat(char c) {
    space();
    if (i_ >= s_.size() || s_[i_] != c) return false;
    ++i_;
    return true;
  }
  void expect(char c) {
    if (!eat(c)) fail("expected punctuation");
  }
  // The members of an object or array, up to `close`.
  void members(char close, const std::function<void()>& member) {
    if (eat(close)) return;
    do member();
    while (eat(','));
    expect(close);
  }
  Json value() {
    if (eat('{')) {
      Json::Object o;
      members('}', [&] {
        expect('"');
        std::string k = string();
        expect(':');
        o.emplace_back(std::move(k), value());
      });
      return Json{std::move(o)};
    }
    if (eat('[')) {
      Json::Array a;
      members(']', [&] { a.push_back(value()); });
      return Json{std::move(a)};
    }
    if (eat('"')) return Json{string()};
    const std::size_t start = i_;
    while (at_one_of("+-.eE0123456789")) ++i_;
    if (start == i_) fail("unexpected character");
    return Json{std::stod(std::string(s_.substr(start, i_ - start)))};
  }
  // The rest of a string whose opening quote is read.
  std::string string() {
    std::string out;
    for (; i_ < s_.size() && s_[i_] != '"'; ++i_) {
      const auto c = static_cast<unsigned char>(s_[i_]);
      if (c < 0x20) fail("raw control character");
      if (c != '\\') {
        out += static_cast<char>(c);
      } else if (const char e = s_.at(++i_); e == 'u') {
        out += "\\u" + std::string(s_.substr(i_ + 1, 4));  // kept escaped
        i_ += 4;
      } else if (std::string_view("\"\\/bfnrt").find(e) != std::string_view::npos) {
        out += e;
      } else {
        fail("bad escape");
      }
    }
    if (i_ >= s_.size()) fail("unterminated string");
    ++i_;
    return out;
  }
  std::string_view s_;
  std::size_t i_ = 0;
};

Node node(std::string name, NodeKind kind, std::vector<std::string> in, std::vector<std::string> out) {
  Node n;
  n.name = std::move(name);
  n.kind = kind;
  n.inputs = std::move(in);
  n.outputs = std::move(out);
  return n;
}

// cam -> det -> out
Plan chain() {
  Plan p;
  p.nodes = {node("cam", NodeKind::Source, {}, {"frames"}),
             node("det", NodeKind::Operator, {"in"}, {"boxes"}),
             node("out", NodeKind::Sink, {"in"}, {})};
  p.edges = {{0, 0, 1, 0}, {1, 0, 2, 0}};
  return p;
}

void exec(TraceRecorder& t, std::size_t element, std::uint64_t serial, ExecutionState s,
          std::uint64_t seq, std::uint32_t thread, std::int64_t at) {
  t.on_execution(ExecutionEvent{element, serial, s, Envelope{seq, std::int64_t(seq) * 100}, thread, at});
}

// One execution from Running at `from` to Completed at `to`.
void run(TraceRecorder& t, std::size_t element, std::uint64_t serial, std::uint64_t seq,
         std::uint32_t thread, std::int64_t from, std::int64_t to) {
  exec(t, element, serial, ExecutionState::Pending, seq, thread, from - 5);
  exec(t, element, serial, ExecutionState::Running, seq, thread, from);
  exec(t, element, serial, ExecutionState::Completed, seq, thread, to);
}

Json written(const TraceRecorder& t) {
  std::ostringstream out;
  t.write(out);
  return Reader(out.str()).document();
}

const Json::Array& events(const Json& doc) { return std::get<Json::Array>(doc.at("traceEvents").v); }

std::vector<const Json*> of_phase(const Json& doc, char ph) {
  std::vector<const Json*> out;
  for (const Json& e : events(doc)) {
    if (e.at("ph").str() == std::string(1, ph)) out.push_back(&e);
  }
  return out;
}

// The names of the tracks of process `pid`, by tid.
std::map<int, std::string> track_names(const Json& doc, int pid) {
  std::map<int, std::string> out;
  for (const Json* e : of_phase(doc, 'M')) {
    if (e->at("name").str() == "thread_name" && e->at("pid").num() == pid) {
      out[int(e->at("tid").num())] = e->at("args").at("name").str();
    }
  }
  return out;
}

// Every event carries the format's keys; every flow has one start and one
// end, each inside a slice of its track; returns the flows as
// (from track, to track) pairs of names.
Flows check_structure(const Json& doc) {
  std::map<double, std::vector<const Json*>> flows;
  for (const Json& e : events(doc)) {
    for (const char* key : {"name", "ph", "pid", "tid", "ts"}) {
      EXPECT_TRUE(e.get(key)) << key;
    }
    const std::string ph = e.at("ph").str();
    if (ph == "X") {
      EXPECT_GE(e.at("dur").num(), 0.0);
    }
    if (ph == "s" || ph == "f") flows[e.at("id").num()].push_back(&e);
  }
  const auto names = track_names(doc, 1);
  auto enclosing = [&](const Json& f) -> std::string {
    for (const Json* x : of_phase(doc, 'X')) {
      const double ts = x->at("ts").num(), end = ts + x->at("dur").num();
      if (x->at("pid").num() == f.at("pid").num() && x->at("tid").num() == f.at("tid").num() &&
          ts <= f.at("ts").num() && f.at("ts").num() <= end) {
        return names.at(int(x->at("tid").num()));
      }
    }
    return "(none)";
  };
  Flows out;
  for (const auto& [id, pair] : flows) {
    EXPECT_EQ(pair.size(), 2u) << id;
    if (pair.size() != 2) continue;
    EXPECT_EQ(std::make_tuple(pair[0]->at("ph").str(), pair[1]->at("ph").str(), pair[1]->at("bp").str()),
              std::make_tuple("s", "f", "e"));
    EXPECT_EQ(pair[0]->at("cat").str(), pair[1]->at("cat").str());
    out.emplace(enclosing(*pair[0]), enclosing(*pair[1]));
  }
  return out;
}

TEST(TraceRecorder, ExecutionsOnElementLanesAndThreadsWithFlowsBetweenThem) {
  TraceRecorder t(chain());
  t.set_workers(2);
  run(t, 0, 1, 7, 2, 1000, 1500);     // the source's production, on its thread
  run(t, 1, 2, 7, 0, 2000, 6000);     // det on worker 0 ...
  run(t, 1, 3, 8, 1, 3000, 4000);     // ... overlapped on worker 1: a second lane
  run(t, 2, 4, 7, 1, 7000, 7250);
  run(t, 2, 5, 8, 1, 7300, 7400);
  const Json doc = written(t);

  EXPECT_EQ(check_structure(doc), (Flows{{"cam", "det"}, {"det", "out"}, {"det (2)", "out"}}))
      << "det's sequence 8 has no production by cam to come from";
  EXPECT_EQ(track_names(doc, 1), (std::map<int, std::string>{{1, "cam"}, {2, "det"}, {3, "det (2)"}, {4, "out"}}));
  EXPECT_EQ(track_names(doc, 2), (std::map<int, std::string>{{1, "worker 0"}, {2, "worker 1"}, {3, "source cam"}}));

  std::vector<std::tuple<double, double, double, double, std::string>> slices;  // pid, tid, ts, dur, name
  for (const Json* x : of_phase(doc, 'X')) {
    if (x->at("args").at("sequence").num() == 7 && x->at("pid").num() == 1) {
      slices.emplace_back(x->at("tid").num(), x->at("ts").num(), x->at("dur").num(),
                          x->at("args").at("timestamp_ns").num(), x->at("name").str());
    }
  }
  std::sort(slices.begin(), slices.end());
  // ts in microseconds from the first recorded event (cam's Running at 1000 ns).
  EXPECT_EQ(slices, (std::vector<std::tuple<double, double, double, double, std::string>>{
                        {1, 0.0, 0.5, 700, "cam"}, {2, 1.0, 4.0, 700, "det"}, {4, 6.0, 0.25, 700, "out"}}));
}

TEST(TraceRecorder, QueuesDropsRetriesFailuresAndSignals) {
  TraceRecorder t(chain());
  t.on_queue(QueueEvent{1, 0, true, 3, 2, 100});
  t.on_queue(QueueEvent{1, 0, false, 2, 0, 200});
  t.on_drop(DropEvent{2, 0, DropReason::DropOldest, Envelope{4, 40}, 300});
  t.on_drop(DropEvent{2, 0, DropReason::Reject, Envelope{5, 50}, 310});
  exec(t, 1, 9, ExecutionState::Running, 6, 0, 400);
  t.on_retry(RetryEvent{1, 1, Envelope{6, 60}, "bad \"frame\"\n\xff", 450});
  exec(t, 1, 9, ExecutionState::Running, 6, 0, 460);
  exec(t, 1, 9, ExecutionState::Failed, 6, 0, 500);
  t.on_signal(SignalEvent{ControlSignal{ControlSignal::Eos{}}, 0, 600});
  t.on_signal(SignalEvent{ControlSignal{ControlSignal::Seek{123}}, 0, 700});
  t.on_signal(SignalEvent{ControlSignal{ControlSignal::Stop{}}, std::nullopt, 800});
  const Json doc = written(t);
  check_structure(doc);

  std::vector<std::string> seen;
  for (const Json& e : events(doc)) {
    const std::string ph = e.at("ph").str();
    if (ph == "M" || (ph == "X" && e.at("pid").num() != 1)) continue;
    std::ostringstream line;
    line << ph << ' ' << e.at("name").str() << " @" << e.at("ts").num();
    if (ph == "C") line << " length=" << e.at("args").at("length").num();
    if (ph == "X") {
      line << " dur=" << e.at("dur").num() << " attempt=" << e.at("args").at("attempt").num() << ' '
           << e.at("args").at("state").str();
    }
    if (const Json* a = e.get("args"); a && ph == "i") {
      for (const auto& [k, v] : std::get<Json::Object>(a->v)) {
        line << ' ' << k << '=';
        if (auto* s = std::get_if<std::string>(&v.v)) line << *s;
        else line << v.num();
      }
    }
    seen.push_back(line.str());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "X det @0.3 dur=0.06 attempt=0 Failed", "X det @0.36 dur=0.04 attempt=1 Failed",
                      "C queue det.in @0 length=3", "C queue det.in @0.1 length=2",
                      "i drop @0.2 reason=drop_oldest port=0 sequence=4 timestamp_ns=40",
                      "i reject @0.21 reason=reject port=0 sequence=5 timestamp_ns=50",
                      "i retry @0.35 attempt=1 sequence=6 message=bad \"frame\"\\u000a\\ufffd",
                      "i failure @0.4 sequence=6 execution=9", "i eos @0.5 source=cam",
                      "i seek @0.6 source=cam target_ns=123", "i stop @0.7"}));
}

TEST(TraceRecorder, FlowsFollowTheSourceWhoseSequenceAnEnvelopeCarries) {
  // a, b -> j (timestamp-matched on ports 0 and 1) -> k; a, b -> m (one
  // independent port fed by both: its sequences are ambiguous).
  Plan p;
  p.nodes = {node("a", NodeKind::Source, {}, {"o"}), node("b", NodeKind::Source, {}, {"o"}),
             node("j", NodeKind::Operator, {"x", "y"}, {"o"}), node("k", NodeKind::Sink, {"in"}, {}),
             node("m", NodeKind::Sink, {"in"}, {})};
  p.nodes[2].contract.input_relation.kind = execution::InputRelation::TimestampMatched{};
  p.edges = {{0, 0, 2, 0}, {1, 0, 2, 1}, {2, 0, 3, 0}, {0, 0, 4, 0}, {1, 0, 4, 0}};
  TraceRecorder t(p);
  run(t, 0, 1, 3, 0, 10, 20);
  run(t, 1, 2, 3, 1, 10, 20);
  run(t, 2, 3, 3, 0, 30, 40);
  run(t, 3, 4, 3, 0, 50, 60);
  run(t, 4, 5, 3, 1, 50, 60);
  EXPECT_EQ(check_structure(written(t)), (Flows{{"a", "j"}, {"j", "k"}}));
}

TEST(TraceRecorder, MemoryIsBoundedAndLostEventsCounted) {
  TraceRecorder t(chain(), 1);  // one chunk
  for (int i = 0; i < 3000; ++i) t.on_queue(QueueEvent{1, 0, true, 1, 0, i});
  const Json doc = written(t);
  EXPECT_EQ(std::make_tuple(t.recorded(), t.lost()), std::make_tuple(1024u, 1976u));
  EXPECT_EQ(std::make_tuple(doc.at("otherData").at("events_recorded").num(), doc.at("otherData").at("events_lost").num()),
            std::make_tuple(1024.0, 1976.0));
}

TEST(TraceRecorder, ThreadsRecordAtOnceWhileTheTraceIsWritten) {
  TraceRecorder t(chain(), 1 << 16);
  constexpr int kThreads = 4, kRuns = 5000;
  std::vector<std::thread> threads;
  for (int k = 0; k < kThreads; ++k) {
    threads.emplace_back([&t, k] {
      for (int i = 0; i < kRuns; ++i) {
        const auto serial = std::uint64_t(k) * kRuns + std::uint64_t(i);
        run(t, 1, serial, serial, std::uint32_t(k), i * 10, i * 10 + 5);
      }
    });
  }
  // A trace written meanwhile reads back whole: it holds what was published.
  EXPECT_NO_THROW(written(t));
  for (auto& th : threads) th.join();
  const Json doc = written(t);
  EXPECT_EQ(std::make_tuple(t.recorded() + t.lost(), of_phase(doc, 'X').size()),
            std::make_tuple(std::uint64_t(kThreads) * kRuns * 2, std::size_t(t.recorded())));
}

TEST(TraceRecorder, DropReasonNames) {
  std::vector<std::string_view> names;
  for (std::size_t r = 0; r < kDropReasons; ++r) names.push_back(drop_reason_name(DropReason(r)));
  EXPECT_EQ(names, (std::vector<std::string_view>{"latest", "drop_oldest", "drop_newest", "reject", "match",
                                                  "skip", "ended"}));
}

}  // namespace
}  // namespace kelo_core::runtime
