// The time source of a run: the present instant and one-shot timers. A real
// steady clock for running pipelines, a virtual clock for tests, where time
// moves only when the test advances it and timers fire on that advance, in
// order, on the advancing thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace kelo_core::runtime {

// A timer's handle; 0 is never issued.
using TimerId = std::uint64_t;

// Nanoseconds on a monotonic time line, and timers on the same line. Every
// member is safe to call from any thread. A timer's callback runs on a
// thread of the clock's choosing, without any lock of the clock held: it may
// schedule or cancel timers. The runtime's callbacks only post work to the
// run; they never call behaviours.
class Clock {
 public:
  virtual ~Clock() = default;

  virtual std::int64_t now_ns() const = 0;
  // Runs `fire` once, at or after `at_ns`. A time already past fires soon.
  virtual TimerId schedule(std::int64_t at_ns, std::function<void()> fire) = 0;
  // Withdraws a timer that has not fired; true when it was withdrawn. A
  // callback already running is not waited for.
  virtual bool cancel(TimerId id) = 0;
};

// std::chrono::steady_clock, with one timer thread started on the first
// schedule() and stopped with the clock.
std::shared_ptr<Clock> steady_clock();

// Time that moves only through advance()/advance_to(); now_ns() starts at
// `start_ns`. Timers due by the new time fire on the advancing thread in
// order of their times (then of scheduling), the clock showing each timer's
// own time while it fires; timers that those callbacks schedule within the
// advance fire in the same advance.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(std::int64_t start_ns = 0);
  ~VirtualClock() override;

  std::int64_t now_ns() const override;
  TimerId schedule(std::int64_t at_ns, std::function<void()> fire) override;
  bool cancel(TimerId id) override;

  void advance(std::int64_t delta_ns);
  void advance_to(std::int64_t at_ns);
  // Timers scheduled and not yet fired or cancelled (a test's way to wait
  // until the runtime has armed one).
  std::size_t pending_timers() const;
  // The earliest pending timer's time.
  std::optional<std::int64_t> next_timer_ns() const;

 private:
  struct State;
  std::unique_ptr<State> s_;
};

}  // namespace kelo_core::runtime
