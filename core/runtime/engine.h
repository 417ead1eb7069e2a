// The runtime's insides: elements with their input queues, execution
// records, the worker pool and the control thread. Only runtime/*.cpp see
// this file.
//
// Locks: each element has one mutex guarding its queues, matcher, ordering
// and scheduling state. A thread holds at most one element lock, except
// that an element may lock a downstream element it feeds (plans are
// acyclic, so that order never loops). The ready-queue lock and the control
// lock are taken after an element lock, never before one. The host is never
// entered with any of them held.
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "runtime/ring.h"
#include "runtime/runtime.h"

namespace kelo_core::runtime::detail {

using execution::ExecutionState;

// An item in an input queue. A marker stands for an item that was skipped
// upstream: it carries only the envelope, so that a join waiting for that
// item moves on.
struct QItem {
  Payload value = nullptr;
  Envelope env;
  bool marker = false;
  std::unique_ptr<std::string> key;  // explicit_join; a pointer keeps moves cheap
};

// An output held until its execution ends.
struct Out {
  std::uint32_t port = 0;
  bool marker = false;
  Payload value = nullptr;
  Envelope env;
};

struct Element;
class Engine;

// Awaiting: returned, waiting for its confirmation; Confirmed: confirmed (or
// timed out), waiting for a worker to finish it.
enum class RecState : std::uint8_t { Forming, Admitted, Running, Awaiting, Confirmed, Done };

// One execution (or, with no entries, a forwarding of markers), pooled per
// element: its vectors keep their capacity from one use to the next.
struct Record {
  Element* el = nullptr;
  std::uint32_t index = 0;  // in Engine::records
  std::uint32_t gen = 0;    // bumped at each reuse: stale tokens fail
  std::uint64_t serial = 0;
  std::uint64_t ticket = 0;
  std::uint32_t attempt = 0;
  RecState state = RecState::Forming;
  std::vector<Item> items;
  std::vector<std::uint8_t> taken;
  std::vector<std::uint32_t> start;  // first item of each (entry, port)
  std::vector<Envelope> envs;        // per entry
  std::vector<Out> outs;
  std::atomic<std::int64_t> started_ns{0};
  std::int64_t idle_from = -1;  // when its element began waiting for it
  Outcome failure;
  bool confirmed = false;
  bool cancelled = false;
  bool admitted = false;  // counted in its element's `undelivered`
  TimerId timer = 0;

  std::size_t entries() const { return envs.size(); }
  void put(std::size_t ports, std::size_t port, Item it);
  void close_entry(std::size_t ports, Envelope env);
  std::span<const Item> items_of(std::size_t ports, std::size_t entry, std::size_t port) const;
  void reset();
};

// What a source's next() produced.
struct SourceRecord {
  Engine* eng = nullptr;
  Element* el = nullptr;
  std::vector<Payload> values;
  std::vector<std::uint8_t> has;
  std::optional<Envelope> env;
  bool end = false;
  std::uint64_t count = 0;
};

struct Port {
  Ring<QItem> q;
  std::size_t items = 0;  // queued items other than markers
  std::atomic<std::size_t> length{0};  // `items`, readable without the lock
  std::size_t producers = 0;
  std::size_t eos = 0;
  bool join = false;
  std::int64_t offset = 0;  // timestamp_matched clock correction
  std::optional<QItem> latest;  // latest_value: a contributing port's value
  std::vector<std::uint32_t> held;  // producers held by this full queue
  bool ended() const { return eos >= producers; }
};

struct Target {
  Element* el;
  std::uint32_t port;
};

struct LiveStats {
  using C = std::atomic<std::uint64_t>;
  C received{0}, processed{0}, emitted{0}, dropped{0}, rejected{0}, failed{0}, retried{0},
      skipped{0}, max_queue{0}, max_concurrent{0}, queue_samples{0}, queue_sum{0};
  std::array<C, kDropReasons> drops{};
  std::array<C, Histogram::kBuckets> latency{};
  C latency_count{0}, latency_sum{0}, latency_max{0};
  std::atomic<std::int64_t> input_wait{0}, backpressure{0};
};

// A source's requests, set by Run's signals and read by its thread.
struct SourceControl {
  std::mutex m;
  std::condition_variable cv;
  bool eos = false;
  bool woken = false;
  std::optional<std::int64_t> seek;
};

enum class Relation : std::uint8_t {
  Independent, Synchronized, TimestampMatched, LatestValue, Windowed, ExplicitJoin
};

struct Element {
  Engine* eng = nullptr;
  std::uint32_t index = 0;
  const Node* node = nullptr;
  bool source = false;

  // The contract, unpacked.
  std::size_t limit = 1;
  bool preserve = true;
  bool latest_delivery = false;
  execution::OverflowPolicy overflow = execution::OverflowPolicy::Block;
  execution::OutputCoupling coupling = execution::OutputCoupling::Coupled;
  bool confirmed_completion = false;
  execution::FailurePolicy failure = execution::FailurePolicy::FailGraph;
  bool any_input = false;
  std::optional<execution::BatchingPolicy> batching;
  Relation relation = Relation::Independent;
  std::uint64_t tolerance = 0;
  execution::MissingInputBehavior missing = execution::MissingInputBehavior::Wait;
  std::uint64_t window = 0;
  std::vector<std::uint32_t> join;  // in the given order; join[0] drives
  HostAccess access = HostAccess::Entered;
  bool key_join = false;  // explicit_join: keys are asked of the behaviour
  bool key_targets = false;  // it feeds an explicit_join port

  std::vector<Target> block_targets;  // downstream Block queues, for holding
  std::vector<std::vector<Target>> out;  // per output port

  mutable std::mutex m;
  std::vector<Port> in;
  bool scheduled = false;  // in a ready queue or being formed by a worker
  bool dirty = false;      // something changed since the matcher found nothing
  bool held = false;
  bool inputs_done = false;
  bool ended = false;
  bool started = false;
  bool stopped = false;
  bool flush = false;
  bool batch_due = false;
  bool releasing = false;
  bool torn = false;
  std::size_t running = 0;
  // Admitted executions not yet recycled: running, or done with outputs that
  // have not all been delivered. Each may still add an item to every Block
  // queue it feeds, so admission counts them against those queues' room.
  std::size_t undelivered = 0;
  std::size_t rr = 0;  // round robin over independent ports
  Record* pending = nullptr;  // a batch being filled
  std::uint64_t batch_gen = 0;
  TimerId batch_timer = 0;
  std::uint64_t next_ticket = 0;
  std::uint64_t next_release = 0;
  Ring<Record*> reorder;  // by ticket from the next to release
  std::vector<Record*> inflight;
  std::vector<Record*> free_records;
  std::int64_t idle_since = 0;  // -1 when not idle
  std::int64_t held_since = 0;
  std::atomic<std::int64_t> ewma_ns{-1};
  LiveStats st;
  std::unique_ptr<SourceControl> ctl;  // sources
};

struct Task {
  Element* el = nullptr;
  Record* rec = nullptr;  // a confirmed or timed-out execution to finish
  std::uint32_t gen = 0;  // the record's, when posted
  explicit operator bool() const { return el || rec; }
};

// Per-thread state of a runtime thread.
struct ThreadCtx {
  Engine* eng = nullptr;
  std::uint32_t index = kExternalThread;
  bool worker = false;
  bool entered = false;
  bool executing = false;  // inside a behaviour: ready work goes to the shared queue
  Task local;  // run next on this worker: run to completion
  std::vector<Payload> release;  // payloads to release once unlocked
  std::vector<Payload> discard;  // payloads to discard once unlocked
  std::vector<std::uint32_t> wake;  // producers to let go once unlocked
  std::vector<Record*> direct;  // marker records to deliver once unlocked
  bool markers = false;  // marker records wait in a reorder buffer
  std::vector<std::size_t> idx;  // explicit_join's positions
  std::vector<Record*> ready;  // records being released in order
  std::int64_t now = 0;  // this thread's last reading of the clock
  std::uint32_t sample = 0;  // short executions are timed one in kSampleEvery
};


// What the matcher did.
enum class Formed : std::uint8_t { None, Entry, Progress };

class Engine : public std::enable_shared_from_this<Engine> {
 public:
  Engine(Plan plan, RunOptions options);
  ~Engine();
  void launch();

  // ---- Run's signals and queries
  void flush();
  std::optional<Error> eos(std::size_t source);
  void cancel(RunOutcome why, std::string message = {});
  void stop();
  std::optional<Error> seek(std::size_t source, std::int64_t target_ns);
  std::optional<Error> confirm(ConfirmToken token, bool timed_out);
  RunResult wait(std::optional<std::int64_t> timeout_ns, std::optional<std::int64_t> grace_ns);
  RunResult abandon();
  std::optional<RunResult> result() const;
  ElementStats stats(std::size_t node) const;
  Snapshot snapshot() const;
  Payload take_failure_payload();
  void drop_handle();
  std::size_t workers() const { return nworkers_; }

  // ---- called by Execution and SourceOutput
  Emit emit_now(Record& r, std::size_t port, Payload value);
  void release_now(Payload p);
  void retain(Payload p) {
    if (!trivial_host_) host_->retain(p);
  }
  bool cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
  std::int64_t now() const { return clock_->now_ns(); }

  // ---- the matcher's helpers (match.cpp), called with the element locked
  Formed next_entry(Element& e, Record& r, ThreadCtx& t);
  QItem take_head(Element& e, std::size_t port, ThreadCtx& t);
  QItem take_at(Element& e, std::size_t port, std::size_t i, ThreadCtx& t);
  void drop(Element& e, std::size_t port, QItem&& it, DropReason why, ThreadCtx& t);
  void forward_marker(Element& e, Envelope env, ThreadCtx& t);
  bool inputs_finished(Element& e, ThreadCtx& t);

 private:
  friend class kelo_core::runtime::Run;

  // Threads.
  void worker_main(std::uint32_t index);
  void source_main(Element& e, std::uint32_t index);
  void control_main(std::uint32_t index);
  void thread_enter(ThreadCtx& t, std::uint32_t index, bool worker);
  void thread_exit(ThreadCtx& t);
  void ensure_entered(ThreadCtx& t);
  void ensure_left(ThreadCtx& t);
  void host_for(ThreadCtx& t, HostAccess a);
  void flush_scratch(ThreadCtx& t);

  // Scheduling.
  bool schedulable(const Element& e) const;
  bool may_form(const Element& e) const;
  void enqueue(Task task);
  void push_shared(Task task);
  void wake_check();
  std::int64_t read_now(ThreadCtx& t);
  void set_long(ThreadCtx& t, bool is_long);

  // Executions.
  void run_element(Element& e, ThreadCtx& t);
  Record* form(Element& e, ThreadCtx& t);
  bool can_admit(Element& e);
  Record* fresh_record(Element& e);
  void recycle(Record* r);
  Record* admit(Element& e, Record* r);
  void execute(Record& r, ThreadCtx& t);
  void finish(Record& r, ThreadCtx& t);
  void release_ready(Element& e, ThreadCtx& t);
  void release_locked(Element& e, std::unique_lock<std::mutex>& lock, ThreadCtx& t);
  void deliver(Element& e, Record& r, ThreadCtx& t);
  Emit deliver_one(Element& e, std::uint32_t port, Payload value, Envelope env, bool marker,
                   ThreadCtx& t);
  enum class Pushed : std::uint8_t { Accepted, Dropped, Rejected };
  Pushed push(Element& to, std::size_t port, QItem&& it, ThreadCtx& t);
  void end_element(Element& e, ThreadCtx& t);
  void push_eos(Element& to, std::size_t port, ThreadCtx& t);
  void let_go(ThreadCtx& t);
  void release_inputs(Record& r, ThreadCtx& t, bool consumed);
  void complete(Task task, ThreadCtx& t);
  void count_drop(Element& e, std::size_t port, DropReason why, const Envelope& env);
  void event(const Record& r, ExecutionState s, std::uint32_t thread);
  void fail_run(Element& e, std::optional<Envelope> env, Failure f);
  void element_ended();

  // Sources.
  bool wait_for_room(Element& e, ThreadCtx& t);
  // `began_ns`: when next() was called, for the observer.
  void source_deliver(Element& e, SourceRecord& sr, std::int64_t began_ns, ThreadCtx& t);

  // The end.
  bool tear_down(Element& e, ThreadCtx& t);
  void publish(bool abandoned);
  RunResult make_result() const;
  void notify_control();

 public:
  Plan plan_;
  std::shared_ptr<Host> host_;
  bool trivial_host_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<Observer> observer_;
  Observer* obs_;
  std::vector<std::unique_ptr<Element>> els_;
  std::size_t nworkers_ = 0;
  std::size_t nsources_ = 0;

 private:
  // The shared ready queue.
  std::mutex qm_;
  std::condition_variable qcv_;
  Ring<Task> ready_;
  std::size_t idle_ = 0;
  bool shutdown_ = false;
  std::atomic<std::size_t> ready_n_{0};
  std::atomic<std::size_t> idle_n_{0};
  std::atomic<int> short_active_{0};
  std::atomic<std::uint64_t> pops_{0};  // tasks taken from the shared queue
  std::uint64_t polled_pops_ = 0;        // the control thread's last look
  std::atomic<int> busy_{0};

  // Run state.
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> stopping_{false};
  std::atomic<std::size_t> ended_{0};
  std::atomic<std::size_t> sources_alive_{0};
  std::atomic<std::uint64_t> serial_{0};
  mutable std::mutex cm_;  // the control lock
  std::condition_variable ccv_;  // the control thread's
  std::condition_variable dcv_;  // wait()'s
  bool go_ = false;
  bool outcome_set_ = false;
  RunOutcome outcome_ = RunOutcome::Completed;
  std::optional<std::size_t> failed_element_;
  std::optional<Envelope> failed_envelope_;
  std::string message_;
  Payload fail_payload_ = nullptr;
  bool has_payload_ = false;
  bool handle_alive_ = true;
  std::optional<RunResult> result_;
  std::int64_t start_ns_ = 0;
  std::int64_t end_ns_ = 0;
  std::vector<TimerId> wait_timers_;

  // Records, by index for confirmation tokens.
  std::mutex rm_;
  std::vector<std::unique_ptr<Record>> records_;

  std::mutex tm_;
  std::vector<std::thread> threads_;
};

}  // namespace kelo_core::runtime::detail
