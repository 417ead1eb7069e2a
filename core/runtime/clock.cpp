#include "runtime/clock.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace kelo_core::runtime {

namespace {

// Pending timers in firing order: by time, then by scheduling order.
struct Timers {
  struct Timer {
    TimerId id;
    std::function<void()> fire;
  };
  std::map<std::pair<std::int64_t, TimerId>, Timer> by_time;
  std::map<TimerId, std::int64_t> at_of;
  TimerId last = 0;

  TimerId add(std::int64_t at, std::function<void()> fire) {
    const TimerId id = ++last;
    by_time.emplace(std::pair{at, id}, Timer{id, std::move(fire)});
    at_of.emplace(id, at);
    return id;
  }
  bool remove(TimerId id) {
    const auto it = at_of.find(id);
    if (it == at_of.end()) return false;
    by_time.erase({it->second, id});
    at_of.erase(it);
    return true;
  }
  // The earliest timer due by `now`, taken out.
  std::optional<std::pair<std::int64_t, std::function<void()>>> take_due(std::int64_t now) {
    if (by_time.empty() || by_time.begin()->first.first > now) return std::nullopt;
    auto node = by_time.extract(by_time.begin());
    at_of.erase(node.key().second);
    return std::pair{node.key().first, std::move(node.mapped().fire)};
  }
};

std::int64_t steady_now_ns() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// The timer thread shares the timers with the clock, so that a callback
// holding the clock's last owner can end the clock and then its own loop.
class SteadyClock final : public Clock {
 public:
  ~SteadyClock() override {
    {
      std::lock_guard lock(s_->m);
      s_->done = true;
    }
    s_->cv.notify_all();
    if (!thread_.joinable()) return;
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

  std::int64_t now_ns() const override { return steady_now_ns(); }

  TimerId schedule(std::int64_t at_ns, std::function<void()> fire) override {
    std::lock_guard lock(s_->m);
    const TimerId id = s_->timers.add(at_ns, std::move(fire));
    if (!thread_.joinable()) thread_ = std::thread([s = s_] { loop(*s); });
    s_->cv.notify_all();
    return id;
  }

  bool cancel(TimerId id) override {
    std::lock_guard lock(s_->m);
    return s_->timers.remove(id);
  }

 private:
  struct State {
    std::mutex m;
    std::condition_variable cv;
    Timers timers;
    bool done = false;
  };

  static void loop(State& s) {
    std::unique_lock lock(s.m);
    while (!s.done) {
      if (auto due = s.timers.take_due(steady_now_ns())) {
        lock.unlock();
        due->second();
        due.reset();
        lock.lock();
        continue;
      }
      if (s.timers.by_time.empty()) {
        s.cv.wait(lock);
      } else {
        const auto at = std::chrono::steady_clock::time_point(
            std::chrono::nanoseconds(s.timers.by_time.begin()->first.first));
        s.cv.wait_until(lock, at);
      }
    }
  }

  std::shared_ptr<State> s_ = std::make_shared<State>();
  std::thread thread_;
};

}  // namespace

std::shared_ptr<Clock> steady_clock() { return std::make_shared<SteadyClock>(); }

struct VirtualClock::State {
  mutable std::mutex m;
  std::int64_t now;
  Timers timers;
};

VirtualClock::VirtualClock(std::int64_t start_ns) : s_(std::make_unique<State>()) { s_->now = start_ns; }
VirtualClock::~VirtualClock() = default;

std::int64_t VirtualClock::now_ns() const {
  std::lock_guard lock(s_->m);
  return s_->now;
}

TimerId VirtualClock::schedule(std::int64_t at_ns, std::function<void()> fire) {
  std::lock_guard lock(s_->m);
  return s_->timers.add(at_ns, std::move(fire));
}

bool VirtualClock::cancel(TimerId id) {
  std::lock_guard lock(s_->m);
  return s_->timers.remove(id);
}

void VirtualClock::advance(std::int64_t delta_ns) {
  std::int64_t target;
  {
    std::lock_guard lock(s_->m);
    target = s_->now + delta_ns;
  }
  advance_to(target);
}

void VirtualClock::advance_to(std::int64_t at_ns) {
  for (;;) {
    std::function<void()> fire;
    {
      std::lock_guard lock(s_->m);
      auto due = s_->timers.take_due(at_ns);
      if (!due) {
        if (at_ns > s_->now) s_->now = at_ns;
        return;
      }
      if (due->first > s_->now) s_->now = due->first;
      fire = std::move(due->second);
    }
    fire();
  }
}

std::size_t VirtualClock::pending_timers() const {
  std::lock_guard lock(s_->m);
  return s_->timers.by_time.size();
}

std::optional<std::int64_t> VirtualClock::next_timer_ns() const {
  std::lock_guard lock(s_->m);
  if (s_->timers.by_time.empty()) return std::nullopt;
  return s_->timers.by_time.begin()->first.first;
}

}  // namespace kelo_core::runtime
