// The runtime: runs a plan of elements on threads and keeps the promises of
// each element's execution contract (ordering, concurrency, delivery,
// overflow, output coupling, completion, failure, end of stream, input
// relations, batching).
//
// The runtime knows nothing of the host language. Payloads are opaque
// pointers owned by the host; the host's lock (an interpreter lock) is
// entered and left through the Host interface. The threading rules:
//
//  - Every thread the runtime starts (workers, one per source, one control
//    thread) calls Host::thread_begin() first and Host::thread_end() last,
//    both while not entered.
//  - A core thread enters the host before calling a behaviour whose
//    host_access() is Entered and before retain()/release(); it leaves
//    before any blocking wait. A worker stays entered across consecutive
//    executions rather than leaving and entering per item.
//  - The runtime never enters the host while it holds one of its own locks;
//    it may call retain()/release() and Entered behaviours while holding
//    them. Behaviours and the host must therefore never wait for a runtime
//    lock: they may call the Execution they were given, Run::confirm() and
//    the Run's signals, which only post work.
//  - Run's members never call the host on the calling thread, with one
//    exception: ~Run() releases an untaken failure payload of an ended run
//    (see take_failure_payload()), so the last Run handle must be dropped
//    where the host may be used (entered, for an interpreter lock).
//    Run::wait() blocks: call it without holding the host's lock.
//
// Ownership of payloads: an item moving along a queue keeps its one
// reference (forwarding moves ownership); fan-out to several edges retains
// once per extra edge; an item that is dropped, rejected or left over at the
// end is discarded (Host::discard), an input of a completed execution is
// released. A value given to Execution::output()/emit(),
// SourceOutput::output() or Failure::payload hands one reference to the
// runtime.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "execution/contract.h"
#include "runtime/clock.h"
#include "support/result.h"

namespace kelo_core::runtime {

// ---- payloads ------------------------------------------------------------

// An opaque host value; the runtime only moves, retains and releases it.
using Payload = void*;

// What every item carries; outputs inherit the envelope of the input that
// triggered them.
struct Envelope {
  std::uint64_t sequence = 0;
  std::int64_t timestamp_ns = 0;
  friend bool operator==(const Envelope&, const Envelope&) = default;
};

struct Item {
  Payload value = nullptr;
  Envelope envelope;
};

// ---- the host ------------------------------------------------------------

// The owner of payloads and of the lock behaviours run under. Every member
// may be called from any core thread; the defaults do nothing (a host for
// native payloads).
class Host {
 public:
  virtual ~Host() = default;
  // Called entered.
  virtual void retain(Payload) {}
  virtual void release(Payload) {}
  // A payload given up without an execution completing on it: dropped by an
  // overflow policy or a join, rejected, an input of a skipped or cancelled
  // execution, an output linked nowhere or never delivered, or left over
  // when the run ends. A host whose values own resources beyond the
  // reference (held by whoever consumes them) frees those here.
  virtual void discard(Payload p) { release(p); }
  // Take and give back the host lock. Entering nests: a thread that already
  // holds the lock may enter again and leaves once per enter.
  virtual void enter() {}
  virtual void leave() {}
  // First and last call on every thread the runtime starts.
  virtual void thread_begin() {}
  virtual void thread_end() {}
};

// The shared do-nothing host.
std::shared_ptr<Host> null_host();

// What a behaviour needs of the host lock while the runtime calls it.
enum class HostAccess : std::uint8_t {
  Entered,  // host code: called entered
  Any,      // short native code: called entered or not, whichever is cheaper
  Left,     // long native code: called not entered, so the host lock is free
};

// A behaviour's failure. `payload` (the host's exception, or null) hands
// one reference to the runtime, which keeps the reported one until the end
// and releases the others.
struct Failure {
  std::string message;
  Payload payload = nullptr;
};

// Empty on success.
using Outcome = std::optional<Failure>;

// ---- executions ------------------------------------------------------------

// Identifies one ExternalConfirmed execution of a run.
struct ConfirmToken {
  std::uint64_t id = 0;
  friend bool operator==(ConfirmToken, ConfirmToken) = default;
};

// What became of an emitted value.
enum class Emit : std::uint8_t {
  Sent,      // delivered to every receiving queue
  Held,      // kept until the execution ends (coupled or transactional output)
  Rejected,  // a receiving queue refused it under Reject (any other receiver got it)
};

namespace detail {
struct Record;
struct SourceRecord;
class Engine;
}  // namespace detail

// One execution of an element, valid during Behaviour::execute() only. An
// execution holds one or more entries: one without batching, up to the
// batch size with it. An entry holds, per input port, the items that
// triggered it: one item on the arriving port for an independent input, one
// per join port for synchronized, timestamp-matched, latest-value and
// explicit-join inputs (none on a port that is missing under
// missing=proceed), `size` per join port under windowed (fewer when a
// partial window is flushed).
class Execution {
 public:
  std::size_t element() const;
  // 0 for the first run, n for the n-th retry.
  std::uint32_t attempt() const;
  std::size_t entries() const;
  std::size_t input_count() const;
  std::size_t output_count() const;

  std::span<const Item> items(std::size_t entry, std::size_t port) const;
  std::span<const Item> items(std::size_t port) const { return items(0, port); }
  // An entry's envelope: its triggering item's (the first join port's
  // item; a window's last item).
  Envelope envelope(std::size_t entry) const;
  // The last entry's envelope.
  Envelope envelope() const;

  // Takes over the reference of an input item, which the runtime will then
  // not release: the way a native behaviour forwards an input without
  // touching its count. Null when out of range or already taken.
  Payload take(std::size_t entry, std::size_t port, std::size_t index = 0);

  // A returned output of the execution, with the envelope of `entry`
  // (envelope() when absent). It leaves when the execution ends, in input
  // order under PreserveSequence. An out-of-range port or entry releases
  // the value and sends nothing.
  void output(std::size_t port, Payload value);
  void output(std::size_t port, Payload value, std::size_t entry);
  // A value sent during the execution, with envelope(). Under Independent
  // coupling it leaves at once, ahead of ordering; otherwise it is held
  // like an output.
  Emit emit(std::size_t port, Payload value);

  // Set when the run is being cancelled: a long behaviour may stop early.
  bool cancelled() const;
  // The token to confirm an ExternalConfirmed execution with; absent for
  // OutputReady.
  std::optional<ConfirmToken> token() const;

 private:
  friend class detail::Engine;
  explicit Execution(detail::Record* r) : r_(r) {}
  detail::Record* r_;
};

// An operator's or sink's code. start() runs once before the first
// execution and stop() once after the last, on every ending (completion,
// failure, cancel, stop, timeout) for every started element; both on a
// runtime thread, start() on the control thread before any source runs.
//
// What becomes of an execution's held outputs when it fails: under Retry
// they are discarded before the re-run (an Independent emit has left
// already); when the failure is final under Skip, Coupled outputs still
// leave and Transactional ones are discarded, and every connected output
// port that received nothing carries a skip marker for each entry, so that
// joins downstream move on; under FailGraph nothing more leaves.
class Behaviour {
 public:
  virtual ~Behaviour() = default;
  virtual HostAccess host_access() const { return HostAccess::Entered; }
  virtual Outcome start() { return {}; }
  virtual void stop() {}
  // May run on several threads at once as the contract's concurrency allows.
  virtual Outcome execute(Execution& x) = 0;
  // The join key of an item arriving on `port` under explicit_join; absent
  // drops the item. Called like execute() as to the host.
  virtual std::optional<std::string> key_of(Payload value, std::size_t port);
};

// What a source produces in one next() call.
class SourceOutput {
 public:
  // The item's value on output `port`; ports not given carry nothing.
  void output(std::size_t port, Payload value);
  // Without it, the item's sequence is the number of items this source
  // produced before it and its timestamp the clock's now.
  void set_envelope(Envelope e);
  // The source has ended; values given in the same call still go out.
  void end();
  // Items produced so far.
  std::uint64_t count() const;

 private:
  friend class detail::Engine;
  explicit SourceOutput(detail::SourceRecord* r) : r_(r) {}
  detail::SourceRecord* r_;
};

// A source's code. Each source runs on its own thread; start(), next(),
// seek() and stop() are called on that thread only.
class Source {
 public:
  virtual ~Source() = default;
  virtual HostAccess host_access() const { return HostAccess::Entered; }
  virtual Outcome start() { return {}; }
  virtual void stop() {}
  // Produces one item (or the end) into `out`. A failure follows the
  // source's failure policy (values given before it are released): Retry
  // calls next() again, up to the node's retries in a row; Skip moves on,
  // the item's sequence used up and a skip marker sent in its place;
  // FailGraph ends the run.
  virtual Outcome next(SourceOutput& out) = 0;
  virtual bool seekable() const { return false; }
  // Called between two next() calls when Run::seek() asked for it; a
  // failure counts like one of next().
  virtual Outcome seek(std::int64_t target_ns);
};

// A native behaviour that forwards every input item of port i to output
// port i (the last port when there are fewer outputs) with its entry's
// envelope, without touching counts or entering the host.
std::shared_ptr<Behaviour> passthrough();

// ---- the plan -----------------------------------------------------------------

enum class NodeKind : std::uint8_t { Source, Operator, Sink };

struct Node {
  std::string name;
  NodeKind kind = NodeKind::Operator;
  std::vector<std::string> inputs;
  std::vector<std::string> outputs;
  // Its join_ports (port ids) are not read: see join_ports below.
  execution::ExecutionContract contract;
  // Input port indexes the input relation joins; empty means every input.
  std::vector<std::size_t> join_ports;
  // Per input port.
  std::size_t queue_capacity = 16;
  // Re-runs under FailurePolicy::Retry before the failure is final.
  std::uint32_t retries = 3;
  // ExternalConfirmed: the time an execution may wait for its confirmation
  // before it fails; absent waits for ever.
  std::optional<std::int64_t> confirm_timeout_ns;
  std::shared_ptr<Behaviour> behaviour;  // operators and sinks
  std::shared_ptr<Source> source;        // sources
};

// One output port feeds any number of edges (fan-out); an input port may be
// fed by several (their items merge in arrival order).
struct Edge {
  std::size_t from = 0;    // node index
  std::size_t output = 0;  // output port index of `from`
  std::size_t to = 0;      // node index
  std::size_t input = 0;   // input port index of `to`
  friend bool operator==(const Edge&, const Edge&) = default;
};

struct Plan {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
};

// Empty when the plan can run; otherwise what is wrong and where, e.g.
// "element 'det': concurrency Limited(0) admits no execution".
std::optional<Error> validate(const Plan& plan);

// ---- statistics ------------------------------------------------------------

enum class DropReason : std::uint8_t {
  Latest,      // an older waiting item replaced under DeliveryMode::Latest
  DropOldest,  // the oldest queued item of a full queue
  DropNewest,  // the arriving item at a full queue
  Reject,      // an arriving item refused at a full queue
  Match,       // an item a join could not match
  Skip,        // an item whose partner (or own execution) was skipped
  Ended,       // an item arriving after its element ended
};
inline constexpr std::size_t kDropReasons = 7;

// Durations in nanoseconds on a log-linear scale (16 steps per power of
// two: a percentile is within 1/16 of the true value); the maximum is exact.
struct Histogram {
  static constexpr std::size_t kSubBits = 4;
  static constexpr std::size_t kBuckets = (64 - kSubBits + 1) << kSubBits;
  std::array<std::uint64_t, kBuckets> counts{};
  std::uint64_t count = 0;
  std::uint64_t sum_ns = 0;
  std::uint64_t max_ns = 0;

  // The value below which the fraction `q` (0..1) of samples lie; 0 when
  // empty.
  std::uint64_t percentile(double q) const;
  double mean_ns() const { return count ? double(sum_ns) / double(count) : 0.0; }
  static std::size_t bucket_of(std::uint64_t ns);
  // The largest value of a bucket.
  static std::uint64_t bucket_top(std::size_t bucket);
};

// An element's counters, copied from the live ones.
struct ElementStats {
  std::uint64_t received = 0;   // items arriving at its inputs
  std::uint64_t processed = 0;  // executions completed (a source: items produced)
  std::uint64_t emitted = 0;    // values it sent (once per value, not per edge)
  std::uint64_t dropped = 0;    // items discarded for every reason but Reject
  std::uint64_t rejected = 0;   // arriving items refused under Reject
  std::uint64_t failed = 0;     // executions whose failure was final (skipped ones too)
  std::uint64_t retried = 0;    // re-runs
  std::uint64_t skipped = 0;    // executions given up under Skip
  std::uint64_t max_queue = 0;  // the longest input queue seen
  std::uint64_t max_concurrent = 0;
  std::array<std::uint64_t, kDropReasons> drops{};  // by DropReason
  // Running to its end: every execution of an element whose executions
  // usually take over 20 us, one in 16 of the shorter ones (reading the
  // clock would cost more than they do).
  Histogram latency;
  std::int64_t input_wait_ns = 0;  // idle with nothing to run, before its end
  std::int64_t backpressure_ns = 0;  // held by a full downstream queue (Block)
  std::uint64_t queue_samples = 0;   // arrivals, each sampling its queue length
  std::uint64_t queue_length_sum = 0;
  std::int64_t elapsed_ns = 0;  // the run's time so far (or in all)

  double mean_queue() const;
  double in_per_s() const;   // received per second of elapsed_ns
  double out_per_s() const;  // emitted per second of elapsed_ns
};

// ---- observation ---------------------------------------------------------------

// The index of the runtime thread an event happened on: workers first, then
// one per source in node order, then the control thread; kExternalThread
// for a thread the runtime did not start.
inline constexpr std::uint32_t kExternalThread = 0xFFFFFFFF;

struct ExecutionEvent {
  std::size_t element = 0;
  std::uint64_t execution = 0;  // a run-wide serial number
  execution::ExecutionState state = execution::ExecutionState::Pending;
  Envelope envelope;            // its last entry's
  std::uint32_t thread = kExternalThread;
  std::int64_t time_ns = 0;
};

struct QueueEvent {
  std::size_t element = 0;
  std::size_t port = 0;
  bool push = true;  // false: popped into an execution
  std::size_t length = 0;  // after the change
  std::uint32_t thread = kExternalThread;
  std::int64_t time_ns = 0;
};

struct DropEvent {
  std::size_t element = 0;
  std::size_t port = 0;
  DropReason reason = DropReason::Latest;
  Envelope envelope;
  std::int64_t time_ns = 0;
};

struct RetryEvent {
  std::size_t element = 0;
  std::uint32_t attempt = 0;  // the attempt about to run
  Envelope envelope;
  std::string message;  // the failure being retried
  std::int64_t time_ns = 0;
};

struct SignalEvent {
  execution::ControlSignal signal;
  std::optional<std::size_t> source;  // eos and seek
  std::int64_t time_ns = 0;
};

// Receives events as they happen, on the thread they happen on, possibly
// while the runtime holds its locks: keep it short, never call into the run
// and never enter the host. Without an observer each event costs one branch.
class Observer {
 public:
  virtual ~Observer() = default;
  virtual void on_execution(const ExecutionEvent&) {}
  virtual void on_queue(const QueueEvent&) {}
  virtual void on_drop(const DropEvent&) {}
  virtual void on_retry(const RetryEvent&) {}
  virtual void on_signal(const SignalEvent&) {}
};

// The live state of one element.
struct ElementSnapshot {
  std::vector<std::size_t> queue_lengths;  // per input port
  // Per input port: the nodes held because that queue is full (Block).
  std::vector<std::vector<std::size_t>> blocked_producers;
  // Nothing running and nothing ready: waiting for input, on
  // `waiting_port` (the first port a join lacks; the first empty port).
  bool waiting_for_input = false;
  std::optional<std::size_t> waiting_port;
  bool held = false;  // itself held by a full downstream queue
  // One per running execution; for executions too short to be timed, the
  // worker's last clock reading before it.
  std::vector<std::int64_t> running_since_ns;
  bool ended = false;
};

struct Snapshot {
  std::int64_t time_ns = 0;
  std::vector<ElementSnapshot> elements;  // per node
};

// ---- running ---------------------------------------------------------------

enum class RunOutcome : std::uint8_t { Completed, Failed, Cancelled, Stopped, TimedOut };

struct RunResult {
  RunOutcome outcome = RunOutcome::Completed;
  // Failed: the element, the envelope of the item it failed on (absent for a
  // failing start()), the message. Also the message of a timeout.
  std::optional<std::size_t> failed_element;
  std::optional<Envelope> failed_envelope;
  std::string message;
  bool has_payload = false;  // see Run::take_failure_payload()
  // The run ended without waiting for executions that had not returned.
  bool abandoned = false;
  std::vector<ElementStats> stats;  // per node
};

struct RunOptions {
  std::shared_ptr<Host> host;  // null: null_host()
  std::shared_ptr<Clock> clock;  // null: steady_clock()
  std::shared_ptr<Observer> observer;  // null: none
  // Worker threads; 0 derives them from the plan: the sum of the declared
  // concurrency (an Unrestricted element counting as the hardware's),
  // at least the hardware concurrency, at most 256.
  std::size_t workers = 0;
};

// A running (or ended) pipeline. Moving the handle moves the run; the run's
// threads share its state, so a run whose handle is gone (or that was
// abandoned) finishes safely on its own.
class Run {
 public:
  // Validates the plan, starts the threads and returns at once; the
  // behaviours' start() run on the control thread, and a failing one fails
  // the run. host_access() is asked here, on the calling thread.
  static Result<Run> start(Plan plan, RunOptions options = {});

  Run(Run&&) noexcept;
  Run& operator=(Run&&) noexcept;
  ~Run();  // cancels a run that has not ended, without waiting

  // Releases every partial batch and window now.
  void flush();
  // Ends a source as if it had ended itself.
  std::optional<Error> eos(std::size_t source);
  // Stops executions: in-flight ones are cancelled, queued items released.
  void cancel();
  // Graceful: the sources end, everything queued drains, the run ends
  // with RunOutcome::Stopped.
  void stop();
  // Asks a seekable source to seek before its next item.
  std::optional<Error> seek(std::size_t source, std::int64_t target_ns);
  // Completes an ExternalConfirmed execution; from any thread.
  std::optional<Error> confirm(ConfirmToken token);

  // Blocks until the run has ended. With `timeout_ns` (on the run's clock,
  // from now) a run still going then is cancelled and ends TimedOut; with
  // `grace_ns` too, executions that have not returned that long after the
  // timeout are abandoned.
  RunResult wait(std::optional<std::int64_t> timeout_ns = std::nullopt,
                 std::optional<std::int64_t> grace_ns = std::nullopt);
  // Ends the run at once: cancels it and returns without waiting for
  // executions that have not returned; their threads finish on their own
  // (stop() of their elements runs when the last returns).
  RunResult abandon();
  // The result once ended; absent before.
  std::optional<RunResult> result() const;
  bool ended() const;

  // Live and safe from any thread.
  ElementStats stats(std::size_t node) const;
  Snapshot snapshot() const;
  std::size_t workers() const;

  // Hands over the failure payload of an ended, failed run (null when there
  // is none or it was taken); ~Run() releases one never taken.
  Payload take_failure_payload();

 private:
  explicit Run(std::shared_ptr<detail::Engine> e);
  std::shared_ptr<detail::Engine> e_;
};

}  // namespace kelo_core::runtime
