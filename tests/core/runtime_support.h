// Test elements and hosts for the runtime's tests: payloads are small
// integers, a counting host checks ownership and the host-lock rules, and
// elements coordinate with the test through waits on conditions, never
// through timed sleeps.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "runtime/runtime.h"

namespace kelo_core::runtime::testing {

// Run, by a name that GoogleTest's Test::Run does not hide in test bodies.
using Pipeline = Run;

using Values = std::vector<std::uintptr_t>;
using Refs = std::map<std::uintptr_t, int>;
using execution::ExecutionContract;

inline Payload P(std::uintptr_t v) { return reinterpret_cast<Payload>(v); }
inline std::uintptr_t V(Payload p) { return reinterpret_cast<std::uintptr_t>(p); }

// 1, 2, ..., n.
inline Values upto(std::uintptr_t n) {
  Values out;
  for (std::uintptr_t i = 1; i <= n; ++i) out.push_back(i);
  return out;
}

// Waits for a condition another thread makes true; fails the test after a
// generous real-time bound rather than hanging.
inline void wait_until(const std::function<bool()>& pred) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > deadline) return ADD_FAILURE() << "condition not met";
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

// "n3", without the string operator+ that GCC 12 warns about wrongly.
inline std::string numbered(const char* prefix, std::size_t i) {
  std::string s = prefix;
  s += std::to_string(i);
  return s;
}

// A gate a behaviour waits at until the test opens it.
class Gate {
 public:
  void open() {
    std::lock_guard l(m_);
    open_ = true;
    cv_.notify_all();
  }
  void pass() {
    std::unique_lock l(m_);
    cv_.wait(l, [&] { return open_; });
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool open_ = false;
};

// Counts references per payload and checks that they are touched entered
// only; the lock itself is a real mutex, as an interpreter lock would be.
class CountingHost final : public Host {
 public:
  void retain(Payload p) override {
    EXPECT_TRUE(entered_) << "retain outside the host";
    std::lock_guard l(m_);
    ++refs_[V(p)];
  }
  void release(Payload p) override {
    EXPECT_TRUE(entered_) << "release outside the host";
    std::lock_guard l(m_);
    --refs_[V(p)];
  }
  void enter() override {
    if (depth_++ == 0) lock_.lock();
    entered_ = true;
  }
  void leave() override {
    if (--depth_ == 0) {
      entered_ = false;
      lock_.unlock();
    }
  }
  void thread_begin() override {
    threads_.fetch_add(1);
    counted_ = true;
  }
  void thread_end() override {
    EXPECT_FALSE(entered_) << "thread ended entered";
    counted_ = false;
    threads_.fetch_sub(1);
  }

  // A new payload with one reference.
  Payload make(std::uintptr_t v) {
    std::lock_guard l(m_);
    ++refs_[v];
    return P(v);
  }
  // Payloads still holding references.
  Refs live() {
    std::lock_guard l(m_);
    Refs out = refs_;
    std::erase_if(out, [](const auto& r) { return r.second == 0; });
    return out;
  }
  static bool entered() { return entered_; }
  // Whether this thread runs for a counting host.
  static bool counted() { return counted_; }
  int threads() const { return threads_.load(); }

 private:
  std::mutex m_;
  Refs refs_;
  std::recursive_mutex lock_;
  std::atomic<int> threads_{0};
  static inline thread_local bool counted_ = false;
  static inline thread_local bool entered_ = false;
  static inline thread_local int depth_ = 0;
};

// A value as it reached a sink, with its envelope.
using Seen = std::pair<std::uintptr_t, Envelope>;

// A source of given values (with given envelopes, or the runtime's), that
// can wait before an item, fail at given indexes and record seeks.
class ListSource : public Source {
 public:
  explicit ListSource(std::vector<std::uintptr_t> values, std::shared_ptr<CountingHost> host = {})
      : values_(std::move(values)), host_(std::move(host)) {}

  std::vector<Envelope> envelopes;  // per item, when given
  std::function<void(std::size_t)> before;  // called before item i
  std::set<std::size_t> fail_at;
  std::size_t outputs = 1;
  std::atomic<int> stops{0};
  bool infinite = false;
  bool can_seek = false;
  std::atomic<std::int64_t> sought{-1};  // the last seek's target

  Outcome next(SourceOutput& out) override {
    if (!infinite && i_ >= values_.size()) {
      out.end();
      return {};
    }
    const std::size_t i = i_++;
    if (before) before(i);
    if (fail_at.count(i)) return Failure{numbered("source failed at ", i), nullptr};
    const std::uintptr_t v = infinite ? i + 1 : values_[i];
    for (std::size_t p = 0; p < outputs; ++p) out.output(p, host_ ? host_->make(v) : P(v));
    if (i < envelopes.size()) out.set_envelope(envelopes[i]);
    return {};
  }
  void stop() override { stops.fetch_add(1); }
  bool seekable() const override { return can_seek; }
  Outcome seek(std::int64_t target) override {
    sought.store(target);
    return {};
  }

 private:
  std::vector<std::uintptr_t> values_;
  std::shared_ptr<CountingHost> host_;
  std::size_t i_ = 0;
};

// A behaviour from a function; counts its starts and stops.
class Fn : public Behaviour {
 public:
  explicit Fn(std::function<Outcome(Execution&)> f, HostAccess access = HostAccess::Entered)
      : f_(std::move(f)), access_(access) {}
  HostAccess host_access() const override { return access_; }
  Outcome start() override {
    starts.fetch_add(1);
    return {};
  }
  void stop() override { stops.fetch_add(1); }
  Outcome execute(Execution& x) override {
    // An entered behaviour runs holding the counting host's lock.
    if (access_ == HostAccess::Entered) {
      EXPECT_TRUE(CountingHost::entered() || !CountingHost::counted());
    }
    return f_(x);
  }
  std::optional<std::string> key_of(Payload v, std::size_t) override {
    return key ? key(v) : std::nullopt;
  }
  std::function<std::optional<std::string>(Payload)> key;
  std::atomic<int> starts{0}, stops{0};

 private:
  std::function<Outcome(Execution&)> f_;
  HostAccess access_;
};

// A sink that records what reaches it, execution by execution.
class Collect : public Fn {
 public:
  Collect()
      : Fn([this](Execution& x) {
          std::vector<Seen> entry;
          for (std::size_t e = 0; e < x.entries(); ++e) {
            for (std::size_t p = 0; p < x.input_count(); ++p) {
              for (const Item& it : x.items(e, p)) entry.push_back({V(it.value), it.envelope});
            }
          }
          std::lock_guard l(m_);
          executions_.push_back(std::move(entry));
          return Outcome{};
        }) {}

  std::vector<Seen> seen() {
    std::lock_guard l(m_);
    std::vector<Seen> out;
    for (const auto& e : executions_) out.insert(out.end(), e.begin(), e.end());
    return out;
  }
  Values values() {
    Values out;
    for (const Seen& s : seen()) out.push_back(s.first);
    return out;
  }
  // Values per execution.
  std::vector<Values> executions() {
    std::lock_guard l(m_);
    std::vector<Values> out;
    for (const auto& e : executions_) {
      out.emplace_back();
      for (const Seen& s : e) out.back().push_back(s.first);
    }
    return out;
  }
  std::size_t count() { return seen().size(); }

 private:
  std::mutex m_;
  std::vector<std::vector<Seen>> executions_;
};

// An operator passing its items on, failing with `message` on the values
// `fails` picks.
inline std::shared_ptr<Fn> fails_on(std::function<bool(std::uintptr_t)> fails,
                                    std::string message, HostAccess access = HostAccess::Entered) {
  return std::make_shared<Fn>(
      [=](Execution& x) {
        if (fails(V(x.items(0)[0].value))) return Outcome{Failure{message, nullptr}};
        x.output(0, x.take(0, 0));
        return Outcome{};
      },
      access);
}

// Plans, built up node by node.
struct Builder {
  Plan plan;

  std::size_t source(std::shared_ptr<Source> s, std::size_t outputs = 1,
                     const ExecutionContract& c = {}) {
    Node& n = add(NodeKind::Source, 0, outputs, c);
    n.source = std::move(s);
    return plan.nodes.size() - 1;
  }
  std::size_t op(std::shared_ptr<Behaviour> b, const ExecutionContract& c = {},
                 std::size_t inputs = 1, std::size_t outputs = 1) {
    Node& n = add(outputs ? NodeKind::Operator : NodeKind::Sink, inputs, outputs, c);
    n.behaviour = std::move(b);
    return plan.nodes.size() - 1;
  }
  std::size_t sink(std::shared_ptr<Behaviour> b, const ExecutionContract& c = {},
                   std::size_t inputs = 1) {
    return op(std::move(b), c, inputs, 0);
  }
  Node& node(std::size_t i) { return plan.nodes[i]; }
  Node& add(NodeKind kind, std::size_t inputs, std::size_t outputs, const ExecutionContract& c) {
    Node n;
    n.name = numbered("n", plan.nodes.size());
    n.kind = kind;
    for (std::size_t i = 0; i < inputs; ++i) n.inputs.push_back(numbered("in", i));
    for (std::size_t i = 0; i < outputs; ++i) n.outputs.push_back(numbered("out", i));
    n.contract = c;
    return plan.nodes.emplace_back(std::move(n));
  }
  void link(std::size_t from, std::size_t to, std::size_t output = 0, std::size_t input = 0) {
    plan.edges.push_back(Edge{from, output, to, input});
  }
};

inline ExecutionContract serialized() {
  ExecutionContract c;
  c.concurrency = execution::Concurrency::serialized();
  return c;
}

// A serialized contract, as `change` leaves it.
template <class F>
ExecutionContract serialized(F change) {
  ExecutionContract c = serialized();
  change(c);
  return c;
}

// A source of `values`, through the operators a test adds, into a sink: the
// collecting one unless the test gives another.
struct Line {
  Builder b;
  std::shared_ptr<ListSource> src;
  std::shared_ptr<Collect> sink = std::make_shared<Collect>();
  std::size_t s = 0, a = 0, k = 0;  // the source, the last operator, the sink

  explicit Line(Values values, std::shared_ptr<CountingHost> host = {},
                const ExecutionContract& source = {})
      : src(std::make_shared<ListSource>(std::move(values), std::move(host))) {
    s = a = b.source(src, 1, source);
  }
  Line& op(std::shared_ptr<Behaviour> op, const ExecutionContract& c = {}) {
    const std::size_t from = a;
    a = b.op(std::move(op), c);
    b.link(from, a);
    return *this;
  }
  Line& end(const ExecutionContract& c = serialized(), std::shared_ptr<Behaviour> other = {}) {
    k = b.sink(other ? std::move(other) : sink, c);
    b.link(a, k);
    return *this;
  }
};

inline RunOptions options(std::shared_ptr<Clock> clock = std::make_shared<VirtualClock>(),
                          std::shared_ptr<Host> host = {}, std::size_t workers = 4) {
  RunOptions o;
  o.clock = std::move(clock);
  o.host = std::move(host);
  if (workers) o.workers = workers;  // 0 keeps the default: derived from the plan
  return o;
}

// How a run ended, as one value: the outcome, the failed element and
// envelope, the message, whether a payload came with the failure, whether
// stuck executions were abandoned.
using Ending = std::tuple<RunOutcome, std::optional<std::size_t>, std::optional<Envelope>,
                          std::string, bool, bool>;
inline Ending ending(const RunResult& r) {
  return {r.outcome, r.failed_element, r.failed_envelope, r.message, r.has_payload, r.abandoned};
}

inline Run start(Builder& b, RunOptions o = options()) {
  auto r = Run::start(b.plan, std::move(o));
  if (!r) {
    ADD_FAILURE() << r.error().message;
    std::abort();
  }
  return std::move(r).value();
}
inline Run start(Line& l, RunOptions o = options()) { return start(l.b, std::move(o)); }

}  // namespace kelo_core::runtime::testing

namespace kelo_core::runtime {
inline void PrintTo(RunOutcome o, std::ostream* os) {
  *os << std::array{"Completed", "Failed", "Cancelled", "Stopped", "TimedOut"}[std::size_t(o)];
}
}  // namespace kelo_core::runtime
