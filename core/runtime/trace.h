// A run's trace: an Observer that records the run's events into bounded
// per-thread buffers and writes them afterwards in the Chrome trace event
// format, which Perfetto's UI and chrome://tracing open.
//
// The file holds two processes. "elements" has one track per element (more
// when its executions overlap: one per concurrent lane) with a slice per
// execution, flow arrows from each execution to the executions that consume
// the item it ran on, a counter per input queue, and instant events for
// drops, retries, failures and control signals. "threads" has one track per
// runtime thread with the executions it ran.
//
// Recording costs one fixed-size record per event in the buffer of the
// thread it happens on, with no allocation but one buffer per thread per
// 1024 events. Past
// `max_events` records further events are only counted (lost()).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/runtime.h"
#include "support/result.h"

namespace kelo_core::runtime {

// "latest", "drop_oldest", "drop_newest", "reject", "match", "skip" or "ended".
std::string_view drop_reason_name(DropReason r);

class TraceRecorder final : public Observer {
 public:
  static constexpr std::size_t kDefaultMaxEvents = std::size_t{1} << 21;

  // Keeps what it needs of the plan: names, ports and links.
  explicit TraceRecorder(const Plan& plan, std::size_t max_events = kDefaultMaxEvents);
  ~TraceRecorder() override;
  TraceRecorder(const TraceRecorder&) = delete;
  TraceRecorder& operator=(const TraceRecorder&) = delete;

  void on_execution(const ExecutionEvent& e) override;
  void on_queue(const QueueEvent& e) override;
  void on_drop(const DropEvent& e) override;
  void on_retry(const RetryEvent& e) override;
  void on_signal(const SignalEvent& e) override;

  // The run's worker count, which names the thread tracks ("worker 0",
  // "source cam", "control"); unset, they are "thread N".
  void set_workers(std::size_t workers);

  std::uint64_t recorded() const;
  // Events not recorded because the buffers were full.
  std::uint64_t lost() const;

  // The trace of every event recorded so far. Safe while events still
  // arrive (from executions a run abandoned): those are left out.
  void write(std::ostream& out) const;
  std::optional<Error> write_file(const std::string& path) const;

 private:
  struct Rec;
  struct Chunk;
  struct Topology {
    std::vector<std::string> names;
    std::vector<std::vector<std::string>> inputs;
    std::vector<bool> is_source;
    // The source whose sequence numbers an element's envelopes carry, when
    // there is exactly one; absent otherwise (no flows through it).
    std::vector<std::optional<std::size_t>> origin;
    // The elements feeding the input its envelopes come from.
    std::vector<std::vector<std::size_t>> upstream;
  };

  // Appends from runtime thread `thread` (kExternalThread when unknown).
  void append(const Rec& rec, std::uint32_t thread);
  Chunk* refill();
  std::vector<Rec> collect() const;

  Topology topo_;
  const std::uint64_t id_;
  const std::size_t max_chunks_;
  std::atomic<std::size_t> workers_{0};
  std::atomic<std::uint64_t> lost_{0};
  std::atomic<bool> full_{false};
  // The chunk each runtime thread appends to, by thread index: one writer
  // each. Other threads (and indexes past these) use a thread-local one.
  struct alignas(64) Lane {
    void* chunk = nullptr;  // a Chunk
  };
  static constexpr std::size_t kLanes = 512;
  std::unique_ptr<Lane[]> lanes_;
  mutable std::mutex m_;  // guards chunks_ and messages_
  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::vector<std::string> messages_;  // retry messages, by index
};

}  // namespace kelo_core::runtime
