// The engine: workers that run elements to completion, one thread per
// source, and a control thread that starts the behaviours, watches for the
// end and tears the run down.
//
// Scheduling. An element is scheduled (one flag) when something changed for
// it and it may admit an execution; a task for it then sits in a ready queue.
// When an execution ends and its outputs make a downstream element ready,
// the same worker runs that element next (its local task), staying entered
// in the host; only other ready work goes to the shared queue. Idle workers
// are woken sparingly: at once when no busy worker is about to look at the
// shared queue (every busy one is in a long execution), otherwise when work
// has waited there for a whole control poll.
#include "runtime/engine.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kelo_core::runtime::detail {

namespace {

thread_local ThreadCtx* tl_ctx = nullptr;

// Executions that usually take longer than this (or whose length is still
// unknown) count as long: a worker running one will not soon come back to
// the shared queue.
constexpr std::int64_t kLongNs = 20'000;
// How often the control thread checks for work left waiting in the shared
// queue: work that waited a whole period wakes an idle worker.
constexpr auto kControlPoll = std::chrono::milliseconds(1);
// Executions shorter than kLongNs are timed one in this many: reading the
// clock would cost more than the execution.
constexpr std::uint32_t kSampleEvery = 16;

void add(std::atomic<std::uint64_t>& c, std::uint64_t n = 1) {
  c.fetch_add(n, std::memory_order_relaxed);
}

// For counters only ever changed under their element's lock: no
// read-modify-write needed.
void relaxed_add(std::atomic<std::uint64_t>& c, std::uint64_t n = 1) {
  c.store(c.load(std::memory_order_relaxed) + n, std::memory_order_relaxed);
}

void raise_to(std::atomic<std::uint64_t>& c, std::uint64_t v) {
  std::uint64_t cur = c.load(std::memory_order_relaxed);
  while (cur < v && !c.compare_exchange_weak(cur, v, std::memory_order_relaxed)) {
  }
}

// A pause inside a spin loop.
inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#endif
}

// Spins before sleeping: a wait that ends within a few microseconds costs
// no futex sleep and wake.
constexpr int kSpins = 128;

template <class Pred>
bool spin_until(Pred pred) {
  for (int i = 0; i < kSpins; ++i) {
    if (pred()) return true;
    cpu_relax();
  }
  return pred();
}

std::size_t hardware() { return std::max<std::size_t>(1, std::thread::hardware_concurrency()); }

Relation relation_of(const execution::InputRelation& r) {
  return static_cast<Relation>(r.kind.index());
}

}  // namespace

// ---- records ---------------------------------------------------------------

void Record::put(std::size_t ports, std::size_t port, Item it) {
  const std::size_t slot = envs.size() * ports + port;
  while (start.size() <= slot) start.push_back(static_cast<std::uint32_t>(items.size()));
  items.push_back(it);
  taken.push_back(0);
}

void Record::close_entry(std::size_t ports, Envelope env) {
  const std::size_t end = (envs.size() + 1) * ports;
  while (start.size() < end) start.push_back(static_cast<std::uint32_t>(items.size()));
  envs.push_back(env);
}

std::span<const Item> Record::items_of(std::size_t ports, std::size_t entry,
                                       std::size_t port) const {
  const std::size_t slot = entry * ports + port;
  const std::size_t b = start[slot];
  const std::size_t e = slot + 1 < start.size() ? start[slot + 1] : items.size();
  return {items.data() + b, e - b};
}

void Record::reset() {
  ++gen;
  serial = 0;
  ticket = 0;
  attempt = 0;
  state = RecState::Forming;
  items.clear();
  taken.clear();
  start.clear();
  envs.clear();
  outs.clear();
  started_ns.store(0, std::memory_order_relaxed);
  idle_from = -1;
  failure.reset();
  confirmed = false;
  cancelled = false;
  admitted = false;
  timer = 0;
}

// ---- construction -------------------------------------------------------------

Engine::Engine(Plan plan, RunOptions options)
    : plan_(std::move(plan)),
      host_(options.host ? options.host : null_host()),
      trivial_host_(host_ == null_host()),
      clock_(options.clock ? options.clock : steady_clock()),
      observer_(std::move(options.observer)),
      obs_(observer_.get()) {
  const std::size_t hw = hardware();
  std::size_t declared = 0;
  for (std::size_t i = 0; i < plan_.nodes.size(); ++i) {
    const Node& n = plan_.nodes[i];
    const auto& c = n.contract;
    auto e = std::make_unique<Element>();
    e->eng = this;
    e->index = static_cast<std::uint32_t>(i);
    e->node = &n;
    e->source = n.kind == NodeKind::Source;
    e->limit = static_cast<std::size_t>(std::min<std::uint64_t>(
        c.concurrency.max_concurrent().value_or(0), std::uint64_t{1} << 30));
    e->preserve = c.ordering == execution::OrderingRequirement::PreserveSequence;
    e->latest_delivery = c.delivery == execution::DeliveryMode::Latest;
    e->overflow = c.overflow;
    e->coupling = c.output_coupling;
    e->confirmed_completion = c.completion == execution::CompletionBoundary::ExternalConfirmed;
    e->failure = c.failure_policy;
    e->any_input = c.eos_policy == execution::EosPolicy::AnyInput;
    e->batching = c.batching;
    e->relation = relation_of(c.input_relation);
    e->in = std::vector<Port>(n.inputs.size());
    e->out.resize(n.outputs.size());
    if (e->relation != Relation::Independent) {
      if (n.join_ports.empty()) {
        for (std::uint32_t p = 0; p < n.inputs.size(); ++p) e->join.push_back(p);
      } else {
        for (const std::size_t p : n.join_ports) e->join.push_back(static_cast<std::uint32_t>(p));
      }
      for (const std::uint32_t p : e->join) e->in[p].join = true;
    }
    using R = execution::InputRelation;
    if (const auto* tm = std::get_if<R::TimestampMatched>(&c.input_relation.kind)) {
      e->tolerance = tm->tolerance_ns;
      e->missing = tm->missing;
      for (std::size_t p = 0; p < tm->clock_offsets_ns.size(); ++p) {
        e->in[p].offset = tm->clock_offsets_ns[p];
      }
    } else if (const auto* w = std::get_if<R::Windowed>(&c.input_relation.kind)) {
      e->window = w->size;
    }
    e->key_join = e->relation == Relation::ExplicitJoin;
    e->access = e->source ? n.source->host_access() : n.behaviour->host_access();
    if (e->source) {
      e->ctl = std::make_unique<SourceControl>();
      ++nsources_;
    } else {
      declared += e->limit ? e->limit : hw;
    }
    els_.push_back(std::move(e));
  }
  for (const Edge& edge : plan_.edges) {
    Element& from = *els_[edge.from];
    Element& to = *els_[edge.to];
    from.out[edge.output].push_back(Target{&to, static_cast<std::uint32_t>(edge.input)});
    ++to.in[edge.input].producers;
    from.key_targets |= to.key_join;
    const bool known = std::any_of(from.block_targets.begin(), from.block_targets.end(),
                                   [&](const Target& t) { return t.el == &to && t.port == edge.input; });
    if (to.overflow == execution::OverflowPolicy::Block && !known) {
      from.block_targets.push_back(Target{&to, static_cast<std::uint32_t>(edge.input)});
    }
  }
  nworkers_ = options.workers ? options.workers : std::clamp<std::size_t>(declared, hw, 256);
  for (auto& e : els_) {
    if (!e->source && e->limit == 0) e->limit = nworkers_;
  }
}

Engine::~Engine() {
  for (auto& th : threads_) {
    if (th.joinable()) th.detach();
  }
  for (auto& e : els_) {
    if (e->batch_timer) clock_->cancel(e->batch_timer);
  }
}

void Engine::launch() {
  start_ns_ = now();
  for (auto& e : els_) e->idle_since = start_ns_;
  auto self = shared_from_this();
  sources_alive_ = nsources_;
  std::lock_guard lock(tm_);
  std::uint32_t index = 0;
  for (; index < nworkers_; ++index) {
    threads_.emplace_back([self, index] { self->worker_main(index); });
  }
  for (auto& e : els_) {
    if (!e->source) continue;
    Element* el = e.get();
    threads_.emplace_back([self, el, index] { self->source_main(*el, index); });
    ++index;
  }
  threads_.emplace_back([self, index] { self->control_main(index); });
}

// ---- threads and the host ---------------------------------------------------

void Engine::thread_enter(ThreadCtx& t, std::uint32_t index, bool worker) {
  t.eng = this;
  t.index = index;
  t.worker = worker;
  tl_ctx = &t;
  if (!trivial_host_) host_->thread_begin();
}

void Engine::thread_exit(ThreadCtx& t) {
  ensure_left(t);
  if (!trivial_host_) host_->thread_end();
  tl_ctx = nullptr;
}

void Engine::ensure_entered(ThreadCtx& t) {
  if (trivial_host_ || t.entered) return;
  host_->enter();
  t.entered = true;
}

void Engine::ensure_left(ThreadCtx& t) {
  if (!t.entered) return;
  host_->leave();
  t.entered = false;
}

void Engine::host_for(ThreadCtx& t, HostAccess a) {
  if (a == HostAccess::Entered) {
    ensure_entered(t);
  } else if (a == HostAccess::Left) {
    ensure_left(t);
  }
}

void Engine::release_now(Payload p) {
  if (trivial_host_) return;
  ThreadCtx* t = tl_ctx;
  if (!t) {
    host_->release(p);
    return;
  }
  const bool was = t->entered;
  ensure_entered(*t);
  host_->release(p);
  if (!was) ensure_left(*t);
}

void Engine::flush_scratch(ThreadCtx& t) {
  while (!t.direct.empty()) {
    Record* r = t.direct.back();
    t.direct.pop_back();
    deliver(*r->el, *r, t);
    std::lock_guard lock(r->el->m);
    recycle(r);
  }
  if (!t.release.empty() || !t.discard.empty()) {
    if (!trivial_host_) {
      ensure_entered(t);
      for (Payload p : t.release) host_->release(p);
      for (Payload p : t.discard) host_->discard(p);
    }
    t.release.clear();
    t.discard.clear();
  }
  if (!t.wake.empty()) let_go(t);
}

// Producers held by a queue that has drained may go on.
void Engine::let_go(ThreadCtx& t) {
  std::vector<std::uint32_t> wake;
  wake.swap(t.wake);
  for (const std::uint32_t id : wake) {
    Element& p = *els_[id];
    if (p.source) {
      {
        std::lock_guard lock(p.ctl->m);
        p.ctl->woken = true;
      }
      p.ctl->cv.notify_one();
      continue;
    }
    bool sched = false;
    {
      std::lock_guard lock(p.m);
      if (!p.held) continue;
      p.held = false;
      p.st.backpressure.fetch_add(now() - p.held_since, std::memory_order_relaxed);
      if (schedulable(p)) sched = p.scheduled = true;
    }
    if (sched) enqueue(Task{&p});
  }
  wake.clear();
  if (t.wake.empty()) t.wake.swap(wake);
}

// ---- scheduling ----------------------------------------------------------------

bool Engine::schedulable(const Element& e) const {
  return !e.scheduled && e.dirty && !e.ended && !e.held && e.running < e.limit && !cancelled();
}

// Whether the matcher may find something now, from what is queued: an
// element left with nothing queued is not rescheduled when an execution
// ends, but when something arrives.
bool Engine::may_form(const Element& e) const {
  if (e.flush || e.pending || e.inputs_done) return true;
  return std::any_of(e.in.begin(), e.in.end(),
                     [](const Port& p) { return !p.q.empty() || p.eos > 0 || p.ended(); });
}

void Engine::enqueue(Task task) {
  ThreadCtx* t = tl_ctx;
  if (t && t->worker && !t->executing && !t->local) {
    t->local = task;
  } else {
    push_shared(task);
  }
}

void Engine::push_shared(Task task) {
  bool wake;
  {
    std::lock_guard lock(qm_);
    ready_.push_back(task);
    ready_n_.fetch_add(1, std::memory_order_relaxed);
    wake = idle_ > 0 && short_active_.load(std::memory_order_relaxed) == 0;
  }
  if (wake) qcv_.notify_one();
}

// Called by the control thread once per poll.
void Engine::wake_check() {
  const std::uint64_t pops = pops_.load(std::memory_order_relaxed);
  const bool stale = pops == std::exchange(polled_pops_, pops);
  if (stale && ready_n_.load(std::memory_order_relaxed) > 0 &&
      idle_n_.load(std::memory_order_relaxed) > 0) {
    qcv_.notify_one();
  }
}

std::int64_t Engine::read_now(ThreadCtx& t) { return t.now = now(); }

void Engine::set_long(ThreadCtx&, bool is_long) {
  if (!is_long) {
    short_active_.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  if (short_active_.fetch_sub(1, std::memory_order_relaxed) == 1 &&
      ready_n_.load(std::memory_order_relaxed) > 0 && idle_n_.load(std::memory_order_relaxed) > 0) {
    qcv_.notify_one();
  }
}

void Engine::worker_main(std::uint32_t index) {
  ThreadCtx t;
  thread_enter(t, index, true);
  busy_.fetch_add(1);
  short_active_.fetch_add(1);
  for (;;) {
    Task task;
    if (t.local) {
      task = std::exchange(t.local, Task{});
    } else {
      std::unique_lock lock(qm_);
      if (ready_.empty()) {
        lock.unlock();
        ensure_left(t);
        short_active_.fetch_sub(1);
        if (busy_.fetch_sub(1) == 1) notify_control();
        spin_until([&] { return ready_n_.load(std::memory_order_relaxed) > 0; });
        lock.lock();
        if (ready_.empty()) {
          ++idle_;
          idle_n_.fetch_add(1);
          qcv_.wait(lock, [&] { return !ready_.empty() || shutdown_; });
          --idle_;
          idle_n_.fetch_sub(1);
          if (ready_.empty()) break;  // shut down
        }
        busy_.fetch_add(1);
        short_active_.fetch_add(1);
      }
      task = ready_.pop_front();
      ready_n_.fetch_sub(1, std::memory_order_relaxed);
      pops_.fetch_add(1, std::memory_order_relaxed);
    }
    if (task.rec) {
      complete(task, t);
    } else {
      run_element(*task.el, t);
    }
  }
  thread_exit(t);
}

// ---- executions ----------------------------------------------------------------

Record* Engine::fresh_record(Element& e) {
  if (!e.free_records.empty()) {
    Record* r = e.free_records.back();
    e.free_records.pop_back();
    return r;
  }
  std::lock_guard lock(rm_);
  records_.push_back(std::make_unique<Record>());
  Record* r = records_.back().get();
  r->index = static_cast<std::uint32_t>(records_.size() - 1);
  r->el = &e;
  return r;
}

void Engine::recycle(Record* r) {
  if (r->admitted) --r->el->undelivered;
  r->reset();
  r->el->free_records.push_back(r);
}

// Under Block, a queue's room is what is queued plus what this element's
// admitted executions may still deliver there: their outputs can be on the
// way with the element unlocked (release_locked), and counting only what has
// arrived would admit several executions against one free slot.
bool Engine::can_admit(Element& e) {
  if (e.running >= e.limit) return false;
  for (const Target& tg : e.block_targets) {
    Port& port = tg.el->in[tg.port];
    const std::size_t cap = tg.el->node->queue_capacity;
    if (port.length.load(std::memory_order_relaxed) + e.undelivered < cap) continue;
    std::lock_guard lock(tg.el->m);
    if (port.items + e.undelivered < cap || tg.el->ended || tg.el->inputs_done) continue;
    // Room that this element's own undelivered outputs will fill: releasing
    // them reschedules the element, so it is not held.
    if (port.items < cap) return false;
    if (std::find(port.held.begin(), port.held.end(), e.index) == port.held.end()) {
      port.held.push_back(e.index);
    }
    e.held = true;
    e.held_since = now();
    return false;
  }
  return true;
}

Record* Engine::admit(Element& e, Record* r) {
  if (r == e.pending) {
    e.pending = nullptr;
    e.batch_due = false;
    ++e.batch_gen;
    if (e.batch_timer) clock_->cancel(std::exchange(e.batch_timer, 0));
  }
  r->state = RecState::Running;
  r->admitted = true;
  ++e.undelivered;
  ++e.running;
  raise_to(e.st.max_concurrent, e.running);
  if (e.preserve) {
    r->ticket = e.next_ticket++;
    e.reorder.push_back(nullptr);
  }
  e.inflight.push_back(r);
  r->idle_from = std::exchange(e.idle_since, -1);
  if (obs_) [[unlikely]] {
    r->serial = serial_.fetch_add(1, std::memory_order_relaxed);
    event(*r, ExecutionState::Pending, tl_ctx ? tl_ctx->index : kExternalThread);
    event(*r, ExecutionState::Admitted, tl_ctx ? tl_ctx->index : kExternalThread);
  }
  return r;
}

Record* Engine::form(Element& e, ThreadCtx& t) {
  const auto& batching = e.batching;
  for (;;) {
    if (e.pending && e.pending->entries() >= batching->max_size) {
      return can_admit(e) ? admit(e, e.pending) : nullptr;
    }
    if (!batching && !can_admit(e)) return nullptr;
    Record* r = e.pending ? e.pending : fresh_record(e);
    const Formed f = next_entry(e, *r, t);
    if (f == Formed::Entry) {
      if (!batching) {
        e.dirty = may_form(e);
        return admit(e, r);
      }
      if (!e.pending) {
        e.pending = r;
        const std::uint64_t gen = ++e.batch_gen;
        if (batching->max_wait_ns == 0) {
          e.batch_due = true;
        } else {
          std::weak_ptr<Engine> w = weak_from_this();
          Element* el = &e;
          e.batch_timer = clock_->schedule(
              now() + static_cast<std::int64_t>(batching->max_wait_ns), [w, el, gen] {
                auto self = w.lock();
                if (!self) return;
                bool sched = false;
                {
                  std::lock_guard lock(el->m);
                  if (!el->pending || el->batch_gen != gen) return;
                  el->batch_timer = 0;
                  el->batch_due = el->dirty = true;
                  if (self->schedulable(*el)) sched = el->scheduled = true;
                }
                if (sched) self->enqueue(Task{el});
              });
        }
      }
      continue;
    }
    if (r != e.pending) recycle(r);
    if (f == Formed::Progress) continue;
    if (!e.inputs_done && inputs_finished(e, t)) {
      e.inputs_done = true;
      continue;
    }
    if (e.pending && (e.batch_due || e.flush || e.inputs_done)) {
      return can_admit(e) ? admit(e, e.pending) : nullptr;
    }
    e.flush = false;
    e.dirty = false;
    return nullptr;
  }
}

void Engine::run_element(Element& e, ThreadCtx& t) {
  if (e.relation == Relation::LatestValue) ensure_entered(t);
  Record* r = nullptr;
  bool end = false;
  bool again = false;
  {
    std::lock_guard lock(e.m);
    if (!cancelled() && !e.ended) r = form(e, t);
    if (r && e.dirty && e.running < e.limit && !e.held && !cancelled()) {
      again = true;  // another worker may start the next execution at once
    } else {
      e.scheduled = false;
    }
    if (!r && !cancelled() && !e.ended && e.inputs_done && e.running == 0 && !e.pending &&
        e.reorder.empty() && !e.releasing) {
      e.ended = end = true;
    }
  }
  if (again) push_shared(Task{&e});
  flush_scratch(t);
  if (std::exchange(t.markers, false)) release_ready(e, t);
  if (end) end_element(e, t);
  if (r) execute(*r, t);
}

void Engine::event(const Record& r, ExecutionState s, std::uint32_t thread) {
  obs_->on_execution(ExecutionEvent{r.el->index, r.serial, s,
                                    r.envs.empty() ? Envelope{} : r.envs.back(), thread, now()});
}

void Engine::execute(Record& r, ThreadCtx& t) {
  Element& e = *r.el;
  Behaviour& b = *e.node->behaviour;
  const std::int64_t ewma = e.ewma_ns.load(std::memory_order_relaxed);
  const bool is_long = ewma < 0 || ewma > kLongNs;
  if (is_long) set_long(t, true);
  for (;;) {
    host_for(t, e.access);
    const bool timed = is_long || t.sample++ % kSampleEvery == 0;
    const std::int64_t t0 = timed ? read_now(t) : t.now;
    r.started_ns.store(t0, std::memory_order_relaxed);
    if (r.idle_from >= 0) {
      e.st.input_wait.fetch_add(std::max<std::int64_t>(0, t0 - r.idle_from),
                                std::memory_order_relaxed);
      r.idle_from = -1;
    }
    if (obs_) [[unlikely]] event(r, ExecutionState::Running, t.index);
    Execution x(&r);
    t.executing = true;
    Outcome o = b.execute(x);
    t.executing = false;
    if (timed) {
      const auto d = static_cast<std::uint64_t>(std::max<std::int64_t>(0, read_now(t) - t0));
      add(e.st.latency[Histogram::bucket_of(d)]);
      add(e.st.latency_count);
      add(e.st.latency_sum, d);
      raise_to(e.st.latency_max, d);
      const std::int64_t old = e.ewma_ns.load(std::memory_order_relaxed);
      e.ewma_ns.store(old < 0 ? std::int64_t(d) : old + (std::int64_t(d) - old) / 8,
                      std::memory_order_relaxed);
    }
    if (o && e.failure == execution::FailurePolicy::Retry && r.attempt < e.node->retries &&
        !cancelled()) {
      add(e.st.retried);
      ++r.attempt;
      if (obs_) [[unlikely]] {
        obs_->on_retry(RetryEvent{e.index, r.attempt, r.envs.back(), o->message, now()});
      }
      if (o->payload) t.release.push_back(o->payload);
      for (const Out& out : r.outs) {
        if (!out.marker) t.release.push_back(out.value);
      }
      r.outs.clear();
      flush_scratch(t);
      continue;
    }
    r.failure = std::move(o);
    break;
  }
  if (is_long) set_long(t, false);
  if (!r.failure && e.confirmed_completion && !cancelled()) {
    std::lock_guard lock(e.m);
    if (!r.confirmed) {
      r.state = RecState::Awaiting;
      if (e.node->confirm_timeout_ns) {
        std::weak_ptr<Engine> w = weak_from_this();
        const ConfirmToken token{(std::uint64_t{r.index} << 32) | r.gen};
        r.timer = clock_->schedule(now() + *e.node->confirm_timeout_ns, [w, token] {
          if (auto self = w.lock()) (void)self->confirm(token, true);
        });
      }
      return;
    }
  }
  finish(r, t);
}

std::optional<Error> Engine::confirm(ConfirmToken token, bool timed_out) {
  const auto index = static_cast<std::uint32_t>(token.id >> 32);
  const auto gen = static_cast<std::uint32_t>(token.id);
  Record* r = nullptr;
  {
    std::lock_guard lock(rm_);
    if (index < records_.size()) r = records_[index].get();
  }
  const auto unknown = [] { return Error::value("no execution awaits this confirmation"); };
  if (!r) return unknown();
  Element& e = *r->el;
  {
    std::lock_guard lock(e.m);
    if (r->gen != gen) return unknown();
    if (r->state == RecState::Running && !timed_out) {
      r->confirmed = true;
      return std::nullopt;
    }
    if (r->state != RecState::Awaiting) return unknown();
    if (timed_out) {
      r->failure = Failure{"no confirmation within " + std::to_string(*e.node->confirm_timeout_ns) +
                               " ns",
                           nullptr};
    } else if (r->timer) {
      clock_->cancel(r->timer);
    }
    r->timer = 0;
    r->confirmed = true;
    r->state = RecState::Confirmed;
  }
  push_shared(Task{nullptr, r, gen});
  return std::nullopt;
}

// A confirmed (or timed-out) execution, finished on a worker.
void Engine::complete(Task task, ThreadCtx& t) {
  Record& r = *task.rec;
  Element& e = *r.el;
  {
    std::lock_guard lock(e.m);
    if (r.gen != task.gen || r.state != RecState::Confirmed) return;
    r.state = RecState::Running;
  }
  if (r.failure && e.failure == execution::FailurePolicy::Retry && r.attempt < e.node->retries &&
      !cancelled()) {
    add(e.st.retried);
    ++r.attempt;
    if (obs_) [[unlikely]] {
      obs_->on_retry(RetryEvent{e.index, r.attempt, r.envs.back(), r.failure->message, now()});
    }
    for (const Out& out : r.outs) {
      if (!out.marker) t.release.push_back(out.value);
    }
    r.outs.clear();
    r.failure.reset();
    r.confirmed = false;
    flush_scratch(t);
    execute(r, t);
    return;
  }
  finish(r, t);
}

// `consumed`: the execution completed on them; else they are given up.
void Engine::release_inputs(Record& r, ThreadCtx& t, bool consumed) {
  auto& to = consumed ? t.release : t.discard;
  for (std::size_t i = 0; i < r.items.size(); ++i) {
    if (!r.taken[i]) to.push_back(r.items[i].value);
  }
  r.items.clear();
  r.taken.clear();
}

void Engine::finish(Record& r, ThreadCtx& t) {
  Element& e = *r.el;
  ExecutionState state = ExecutionState::Completed;
  const auto release_outs = [&] {
    for (const Out& out : r.outs) {
      if (!out.marker) t.release.push_back(out.value);
    }
    r.outs.clear();
  };
  if (cancelled() || r.cancelled) {
    state = ExecutionState::Cancelled;
    release_outs();
    if (r.failure && r.failure->payload) t.release.push_back(r.failure->payload);
  } else if (r.failure) {
    state = ExecutionState::Failed;
    add(e.st.failed);
    if (e.failure == execution::FailurePolicy::Skip) {
      add(e.st.skipped);
      if (r.failure->payload) t.release.push_back(r.failure->payload);
      if (e.coupling == execution::OutputCoupling::Transactional) release_outs();
      // Markers where the execution left nothing, so that joins downstream
      // move on.
      for (std::uint32_t p = 0; p < e.out.size(); ++p) {
        const bool sent = std::any_of(r.outs.begin(), r.outs.end(),
                                      [&](const Out& o) { return o.port == p && !o.marker; });
        if (sent || e.out[p].empty()) continue;
        for (const Envelope& env : r.envs) r.outs.push_back(Out{p, true, nullptr, env});
      }
    } else {
      release_outs();
      fail_run(e, r.envs.empty() ? std::optional<Envelope>() : r.envs.back(),
               std::move(*r.failure));
    }
    r.failure.reset();
  }
  release_inputs(r, t, state == ExecutionState::Completed);
  if (obs_) [[unlikely]] event(r, state, t.index);
  if (!t.release.empty() || !t.discard.empty()) flush_scratch(t);
  std::unique_lock lock(e.m);
  if (state == ExecutionState::Completed) relaxed_add(e.st.processed);
  --e.running;
  e.inflight.erase(std::find(e.inflight.begin(), e.inflight.end(), &r));
  e.dirty = e.dirty || may_form(e);
  r.state = RecState::Done;
  if (e.running == 0) e.idle_since = t.now;
  if (cancelled()) notify_control();
  if (e.preserve) {
    e.reorder[r.ticket - e.next_release] = &r;
  } else {
    t.ready.push_back(&r);
  }
  release_locked(e, lock, t);
}

void Engine::release_ready(Element& e, ThreadCtx& t) {
  std::unique_lock lock(e.m);
  release_locked(e, lock, t);
}

// Delivers what has become releasable (in ticket order under
// PreserveSequence; the records in t.ready otherwise), one thread at a time
// per element, then reschedules the element. Locked on entry, unlocked on
// return.
void Engine::release_locked(Element& e, std::unique_lock<std::mutex>& lock, ThreadCtx& t) {
  const bool mine = !e.releasing;
  if (mine) {
    e.releasing = true;
    // Entered (or with nothing to enter) the records go out under the lock;
    // otherwise delivering may have to enter the host, so the lock is let go.
    const bool under_lock = (trivial_host_ || t.entered) && !e.key_targets;
    for (;;) {
      while (!e.reorder.empty() && e.reorder.front() &&
             e.reorder.front()->state == RecState::Done) {
        t.ready.push_back(e.reorder.pop_front());
        ++e.next_release;
      }
      if (t.ready.empty()) break;
      if (!under_lock) lock.unlock();
      for (Record* r : t.ready) deliver(e, *r, t);
      if (!under_lock) lock.lock();
      for (Record* r : t.ready) recycle(r);
      t.ready.clear();
    }
    e.releasing = false;
  } else if (!t.ready.empty()) {
    // Unordered: no need to wait for the releasing thread.
    lock.unlock();
    for (Record* r : t.ready) deliver(e, *r, t);
    lock.lock();
    for (Record* r : t.ready) recycle(r);
    t.ready.clear();
  }
  if (e.inputs_done) e.dirty = true;  // it may end now
  const bool sched = schedulable(e) && (e.scheduled = true);
  lock.unlock();
  flush_scratch(t);
  if (sched) enqueue(Task{&e});
}

// Payloads refused on the way wait in t.release.
void Engine::deliver(Element& e, Record& r, ThreadCtx& t) {
  for (const Out& o : r.outs) deliver_one(e, o.port, o.value, o.env, o.marker, t);
  r.outs.clear();
}

Emit Engine::deliver_one(Element& e, std::uint32_t port, Payload value, Envelope env, bool marker,
                         ThreadCtx& t) {
  const auto& targets = e.out[port];
  if (!marker) add(e.st.emitted);
  if (targets.empty()) {
    if (!marker) t.discard.push_back(value);
    return Emit::Sent;
  }
  if (!marker && targets.size() > 1 && !trivial_host_) {
    ensure_entered(t);
    for (std::size_t k = 1; k < targets.size(); ++k) host_->retain(value);
  }
  Emit result = Emit::Sent;
  for (const Target& tg : targets) {
    QItem it{value, env, marker, {}};
    Element& to = *tg.el;
    if (!marker && to.key_join && to.in[tg.port].join) {
      host_for(t, to.access);
      auto key = to.node->behaviour->key_of(value, tg.port);
      if (!key) {
        {
          std::lock_guard lock(to.m);
          relaxed_add(to.st.received);
        }
        count_drop(to, tg.port, DropReason::Match, env);
        t.discard.push_back(value);
        continue;
      }
      it.key = std::make_unique<std::string>(std::move(*key));
    }
    if (push(to, tg.port, std::move(it), t) == Pushed::Rejected) result = Emit::Rejected;
  }
  return result;
}

Emit Engine::emit_now(Record& r, std::size_t port, Payload value) {
  ThreadCtx& t = *tl_ctx;
  Element& e = *r.el;
  const Emit result =
      deliver_one(e, static_cast<std::uint32_t>(port), value, r.envs.back(), false, t);
  flush_scratch(t);
  if (e.access == HostAccess::Left) ensure_left(t);
  return result;
}

Engine::Pushed Engine::push(Element& to, std::size_t p, QItem&& it, ThreadCtx& t) {
  bool sched = false;
  Pushed result = Pushed::Accepted;
  {
    std::lock_guard lock(to.m);
    Port& port = to.in[p];
    if (to.ended || to.inputs_done || cancelled()) {
      if (!it.marker) {
        add(to.st.received);
        drop(to, p, std::move(it), DropReason::Ended, t);
      }
      return Pushed::Dropped;
    }
    if (!it.marker) {
      relaxed_add(to.st.received);
      if (to.latest_delivery) {
        for (std::size_t i = 0; i < port.q.size();) {
          if (port.q[i].marker) {
            ++i;
            continue;
          }
          drop(to, p, port.q.erase(i), DropReason::Latest, t);
          --port.items;
        }
      }
      const std::size_t cap = to.node->queue_capacity;
      if (port.items >= cap) {
        switch (to.overflow) {
          case execution::OverflowPolicy::Block: break;
          case execution::OverflowPolicy::DropOldest:
            for (std::size_t i = 0; i < port.q.size(); ++i) {
              if (port.q[i].marker) continue;
              drop(to, p, port.q.erase(i), DropReason::DropOldest, t);
              --port.items;
              break;
            }
            break;
          case execution::OverflowPolicy::DropNewest:
            drop(to, p, std::move(it), DropReason::DropNewest, t);
            return Pushed::Dropped;
          case execution::OverflowPolicy::Reject:
            add(to.st.rejected);
            drop(to, p, std::move(it), DropReason::Reject, t);
            return Pushed::Rejected;
        }
      }
      ++port.items;
      port.length.store(port.items, std::memory_order_relaxed);
      if (port.items > to.st.max_queue.load(std::memory_order_relaxed)) {
        to.st.max_queue.store(port.items, std::memory_order_relaxed);
      }
      relaxed_add(to.st.queue_samples);
      relaxed_add(to.st.queue_sum, port.items);
      if (obs_) [[unlikely]] {
        obs_->on_queue(QueueEvent{to.index, p, true, port.items, t.index, now()});
      }
    }
    port.q.push_back(std::move(it));
    to.dirty = true;
    if (schedulable(to)) sched = to.scheduled = true;
  }
  if (sched) enqueue(Task{&to});
  return result;
}

void Engine::push_eos(Element& to, std::size_t p, ThreadCtx&) {
  bool sched = false;
  {
    std::lock_guard lock(to.m);
    ++to.in[p].eos;
    to.dirty = true;
    if (schedulable(to)) sched = to.scheduled = true;
  }
  if (sched) enqueue(Task{&to});
}

void Engine::end_element(Element& e, ThreadCtx& t) {
  bool stop_it;
  {
    std::lock_guard lock(e.m);
    stop_it = e.started && !e.stopped;
    e.stopped = true;
    for (Port& port : e.in) {
      if (port.latest) t.discard.push_back(port.latest->value);
      port.latest.reset();
      t.wake.insert(t.wake.end(), port.held.begin(), port.held.end());
      port.held.clear();
    }
  }
  flush_scratch(t);
  if (stop_it) {
    host_for(t, e.access);
    if (e.source) {
      e.node->source->stop();
    } else {
      e.node->behaviour->stop();
    }
  }
  for (std::size_t p = 0; p < e.out.size(); ++p) {
    for (const Target& tg : e.out[p]) push_eos(*tg.el, tg.port, t);
  }
  element_ended();
}

void Engine::element_ended() {
  if (ended_.fetch_add(1) + 1 == els_.size()) notify_control();
}

void Engine::notify_control() {
  std::lock_guard lock(cm_);
  ccv_.notify_all();
}

void Engine::fail_run(Element& e, std::optional<Envelope> env, Failure f) {
  {
    std::lock_guard lock(cm_);
    if (!outcome_set_) {
      outcome_set_ = true;
      outcome_ = RunOutcome::Failed;
      failed_element_ = e.index;
      failed_envelope_ = env;
      message_ = std::move(f.message);
      fail_payload_ = std::exchange(f.payload, nullptr);
      has_payload_ = fail_payload_ != nullptr;
    }
  }
  if (f.payload) release_now(f.payload);
  cancel(RunOutcome::Failed);
}

// ---- sources ---------------------------------------------------------------------

bool Engine::wait_for_room(Element& e, ThreadCtx& t) {
  for (const Target& tg : e.block_targets) {
    Port& port = tg.el->in[tg.port];
    const std::size_t cap = tg.el->node->queue_capacity;
    const auto room = [&] { return port.length.load(std::memory_order_relaxed) < cap; };
    if (room()) continue;
    ensure_left(t);
    if (spin_until(room)) continue;
    {
      std::lock_guard lock(e.ctl->m);
      e.ctl->woken = false;
    }
    {
      std::lock_guard lock(tg.el->m);
      if (port.items < cap || tg.el->ended || tg.el->inputs_done) continue;
      if (std::find(port.held.begin(), port.held.end(), e.index) == port.held.end()) {
        port.held.push_back(e.index);
      }
    }
    ensure_left(t);
    const std::int64_t t0 = now();
    {
      std::unique_lock lock(e.ctl->m);
      e.ctl->cv.wait(lock, [&] {
        return e.ctl->woken || e.ctl->eos || e.ctl->seek || cancelled();
      });
    }
    e.st.backpressure.fetch_add(now() - t0, std::memory_order_relaxed);
    return false;
  }
  return true;
}

void Engine::source_deliver(Element& e, SourceRecord& sr, std::int64_t began_ns, ThreadCtx& t) {
  bool any = false;
  for (std::size_t p = 0; p < sr.has.size(); ++p) any |= sr.has[p] != 0;
  if (!any) return;
  const Envelope env = sr.env ? *sr.env : Envelope{sr.count, now()};
  ++sr.count;
  add(e.st.processed);
  if (obs_) [[unlikely]] {  // the production, as an execution of the source
    const std::uint64_t serial = serial_.fetch_add(1, std::memory_order_relaxed);
    obs_->on_execution(ExecutionEvent{e.index, serial, ExecutionState::Running, env, t.index, began_ns});
    obs_->on_execution(ExecutionEvent{e.index, serial, ExecutionState::Completed, env, t.index, now()});
  }
  for (std::uint32_t p = 0; p < sr.has.size(); ++p) {
    if (sr.has[p]) deliver_one(e, p, sr.values[p], env, false, t);
  }
  flush_scratch(t);
}

void Engine::source_main(Element& e, std::uint32_t index) {
  ThreadCtx t;
  thread_enter(t, index, false);
  {
    std::unique_lock lock(cm_);
    ccv_.wait(lock, [&] { return go_ || cancelled(); });
  }
  Source& src = *e.node->source;
  SourceRecord sr;
  sr.eng = this;
  sr.el = &e;
  sr.values.resize(e.out.size());
  sr.has.resize(e.out.size());
  bool ok = !cancelled();
  if (ok) {
    host_for(t, e.access);
    if (Outcome o = src.start()) {
      fail_run(e, std::nullopt, std::move(*o));
      ok = false;
    } else {
      std::lock_guard lock(e.m);
      e.started = true;
    }
  }
  std::uint32_t attempts = 0;
  while (ok && !cancelled()) {
    std::optional<std::int64_t> seek;
    {
      std::lock_guard lock(e.ctl->m);
      if (e.ctl->eos) break;
      seek = std::exchange(e.ctl->seek, std::nullopt);
    }
    Outcome o;
    if (seek) {
      host_for(t, e.access);
      o = src.seek(*seek);
      if (!o) continue;
    } else {
      if (!wait_for_room(e, t)) continue;
      host_for(t, e.access);
      std::fill(sr.has.begin(), sr.has.end(), 0);
      sr.env.reset();
      sr.end = false;
      SourceOutput out(&sr);
      const std::int64_t began = obs_ ? now() : 0;
      o = src.next(out);
      if (!o) {
        attempts = 0;
        source_deliver(e, sr, began, t);
        if (sr.end) break;
        continue;
      }
      for (std::size_t p = 0; p < sr.has.size(); ++p) {
        if (sr.has[p]) t.discard.push_back(sr.values[p]);
      }
    }
    if (o->payload) t.release.push_back(std::exchange(o->payload, nullptr));
    if (e.failure == execution::FailurePolicy::Retry && attempts < e.node->retries) {
      ++attempts;
      add(e.st.retried);
      if (obs_) [[unlikely]] {
        obs_->on_retry(RetryEvent{e.index, attempts, Envelope{sr.count, now()}, o->message, now()});
      }
      flush_scratch(t);
      continue;
    }
    add(e.st.failed);
    if (e.failure == execution::FailurePolicy::Skip) {
      add(e.st.skipped);
      const Envelope env{sr.count++, now()};
      for (std::uint32_t p = 0; p < e.out.size(); ++p) deliver_one(e, p, nullptr, env, true, t);
      flush_scratch(t);
      continue;
    }
    flush_scratch(t);
    fail_run(e, Envelope{sr.count, now()}, std::move(*o));
    break;
  }
  flush_scratch(t);
  bool stop_it;
  {
    std::lock_guard lock(e.m);
    e.ended = true;
    stop_it = e.started && !e.stopped;
    e.stopped = true;
  }
  if (!cancelled()) {
    for (std::size_t p = 0; p < e.out.size(); ++p) {
      for (const Target& tg : e.out[p]) push_eos(*tg.el, tg.port, t);
    }
  }
  if (stop_it) {
    host_for(t, e.access);
    src.stop();
  }
  element_ended();
  thread_exit(t);
  {
    std::lock_guard lock(cm_);
    --sources_alive_;
    ccv_.notify_all();
  }
}

// ---- control and the end -------------------------------------------------------

bool Engine::tear_down(Element& e, ThreadCtx& t) {
  bool stop_it;
  {
    std::lock_guard lock(e.m);
    if (e.torn) return true;
    for (std::size_t i = 0; i < e.inflight.size();) {
      Record* r = e.inflight[i];
      if (r->state != RecState::Awaiting && r->state != RecState::Confirmed) {
        ++i;
        continue;
      }
      if (r->timer) clock_->cancel(r->timer);
      for (const Out& out : r->outs) {
        if (!out.marker) t.discard.push_back(out.value);
      }
      r->outs.clear();
      if (r->failure && r->failure->payload) t.release.push_back(r->failure->payload);
      release_inputs(*r, t, true);
      if (obs_) [[unlikely]] event(*r, ExecutionState::Cancelled, t.index);
      e.inflight.erase(e.inflight.begin() + static_cast<std::ptrdiff_t>(i));
      --e.running;
      if (e.preserve) e.reorder[r->ticket - e.next_release] = r;
      r->state = RecState::Done;
      if (!e.preserve) recycle(r);
    }
    if (e.running > 0 || e.releasing) return false;
    e.torn = e.ended = true;
    for (std::size_t p = 0; p < e.in.size(); ++p) {
      Port& port = e.in[p];
      while (!port.q.empty()) {
        QItem it = port.q.pop_front();
        if (!it.marker) t.discard.push_back(it.value);
      }
      port.items = 0;
      port.length.store(0, std::memory_order_relaxed);
      if (port.latest) t.discard.push_back(port.latest->value);
      port.latest.reset();
      t.wake.insert(t.wake.end(), port.held.begin(), port.held.end());
      port.held.clear();
    }
    if (Record* r = std::exchange(e.pending, nullptr)) {
      release_inputs(*r, t, false);
      recycle(r);
    }
    while (!e.reorder.empty()) {
      Record* r = e.reorder.pop_front();
      if (!r) continue;
      for (const Out& out : r->outs) {
        if (!out.marker) t.discard.push_back(out.value);
      }
      r->outs.clear();
      recycle(r);
    }
    stop_it = e.started && !e.stopped;
    e.stopped = true;
  }
  flush_scratch(t);
  if (stop_it) {
    host_for(t, e.access);
    e.node->behaviour->stop();
  }
  return true;
}

void Engine::control_main(std::uint32_t index) {
  ThreadCtx t;
  thread_enter(t, index, false);
  for (auto& e : els_) {
    if (e->source || cancelled()) continue;
    host_for(t, e->access);
    if (Outcome o = e->node->behaviour->start()) {
      fail_run(*e, std::nullopt, std::move(*o));
      break;
    }
    std::lock_guard lock(e->m);
    e->started = true;
  }
  ensure_left(t);
  {
    std::lock_guard lock(cm_);
    go_ = true;
  }
  ccv_.notify_all();
  // Inputs nothing feeds have ended already.
  for (auto& e : els_) {
    if (e->source) continue;
    bool sched = false;
    {
      std::lock_guard lock(e->m);
      e->dirty = true;
      if (schedulable(*e)) sched = e->scheduled = true;
    }
    if (sched) push_shared(Task{e.get()});
  }
  std::unique_lock lock(cm_);
  for (;;) {
    const bool quiet = sources_alive_ == 0 && busy_.load() == 0;
    if (!cancelled() && ended_.load() == els_.size() && quiet) break;
    if (cancelled()) {
      lock.unlock();
      bool all = true;
      for (auto& e : els_) {
        if (!e->source && !tear_down(*e, t)) all = false;
      }
      ensure_left(t);
      lock.lock();
      if (all && sources_alive_ == 0 && busy_.load() == 0) break;
    }
    ccv_.wait_for(lock, kControlPoll);
    wake_check();
  }
  lock.unlock();
  publish(false);
  {
    std::lock_guard q(qm_);
    shutdown_ = true;
  }
  qcv_.notify_all();
  thread_exit(t);
}

void Engine::cancel(RunOutcome why, std::string message) {
  {
    std::lock_guard lock(cm_);
    if (result_ || (ended_.load() == els_.size() && !cancelled())) return;
    if (!outcome_set_) {
      outcome_set_ = true;
      outcome_ = why;
      message_ = std::move(message);
    }
    cancelled_.store(true);
    ccv_.notify_all();
  }
  for (auto& e : els_) {
    if (!e->source) continue;
    std::lock_guard lock(e->ctl->m);
    e->ctl->cv.notify_all();
  }
}

void Engine::stop() {
  stopping_.store(true);
  if (obs_) obs_->on_signal(SignalEvent{execution::ControlSignal{execution::ControlSignal::Stop{}}, std::nullopt, now()});
  for (auto& e : els_) {
    if (!e->source) continue;
    std::lock_guard lock(e->ctl->m);
    e->ctl->eos = true;
    e->ctl->cv.notify_all();
  }
}

void Engine::flush() {
  if (obs_) obs_->on_signal(SignalEvent{execution::ControlSignal{execution::ControlSignal::Flush{}}, std::nullopt, now()});
  for (auto& e : els_) {
    if (e->source) continue;
    bool sched = false;
    {
      std::lock_guard lock(e->m);
      e->flush = e->dirty = true;
      if (schedulable(*e)) sched = e->scheduled = true;
    }
    if (sched) enqueue(Task{e.get()});
  }
}

std::optional<Error> Engine::eos(std::size_t source) {
  if (source >= els_.size() || !els_[source]->source) {
    return Error::value("element " + std::to_string(source) + " is not a source");
  }
  if (obs_) obs_->on_signal(SignalEvent{execution::ControlSignal{execution::ControlSignal::Eos{}}, source, now()});
  Element& e = *els_[source];
  std::lock_guard lock(e.ctl->m);
  e.ctl->eos = true;
  e.ctl->cv.notify_all();
  return std::nullopt;
}

std::optional<Error> Engine::seek(std::size_t source, std::int64_t target_ns) {
  if (source >= els_.size() || !els_[source]->source) {
    return Error::value("element " + std::to_string(source) + " is not a source");
  }
  Element& e = *els_[source];
  if (!e.node->source->seekable()) {
    return Error::value("source '" + e.node->name + "' cannot seek");
  }
  if (obs_) {
    obs_->on_signal(SignalEvent{
        execution::ControlSignal{execution::ControlSignal::Seek{static_cast<std::uint64_t>(target_ns)}},
        source, now()});
  }
  std::lock_guard lock(e.ctl->m);
  e.ctl->seek = target_ns;
  e.ctl->cv.notify_all();
  return std::nullopt;
}

ElementStats Engine::stats(std::size_t node) const {
  const LiveStats& s = els_[node]->st;
  const auto get = [](const std::atomic<std::uint64_t>& c) { return c.load(std::memory_order_relaxed); };
  ElementStats out;
  out.received = get(s.received);
  out.processed = get(s.processed);
  out.emitted = get(s.emitted);
  out.dropped = get(s.dropped);
  out.rejected = get(s.rejected);
  out.failed = get(s.failed);
  out.retried = get(s.retried);
  out.skipped = get(s.skipped);
  out.max_queue = get(s.max_queue);
  out.max_concurrent = get(s.max_concurrent);
  for (std::size_t i = 0; i < kDropReasons; ++i) out.drops[i] = get(s.drops[i]);
  for (std::size_t i = 0; i < Histogram::kBuckets; ++i) out.latency.counts[i] = get(s.latency[i]);
  out.latency.count = get(s.latency_count);
  out.latency.sum_ns = get(s.latency_sum);
  out.latency.max_ns = get(s.latency_max);
  out.input_wait_ns = s.input_wait.load(std::memory_order_relaxed);
  out.backpressure_ns = s.backpressure.load(std::memory_order_relaxed);
  out.queue_samples = get(s.queue_samples);
  out.queue_length_sum = get(s.queue_sum);
  {
    std::lock_guard lock(cm_);
    out.elapsed_ns = (result_ ? end_ns_ : now()) - start_ns_;
  }
  return out;
}

Snapshot Engine::snapshot() const {
  Snapshot s;
  s.time_ns = now();
  for (const auto& ep : els_) {
    const Element& e = *ep;
    ElementSnapshot es;
    std::lock_guard lock(e.m);
    for (std::size_t p = 0; p < e.in.size(); ++p) {
      const Port& port = e.in[p];
      es.queue_lengths.push_back(port.items);
      es.blocked_producers.emplace_back(port.held.begin(), port.held.end());
      if (!es.waiting_port && port.q.empty() && !port.ended()) es.waiting_port = p;
    }
    es.waiting_for_input = !e.source && e.running == 0 && !e.scheduled && !e.ended && !e.held;
    if (!es.waiting_for_input) es.waiting_port.reset();
    es.held = e.held;
    for (const Record* r : e.inflight) {
      es.running_since_ns.push_back(r->started_ns.load(std::memory_order_relaxed));
    }
    es.ended = e.ended;
    s.elements.push_back(std::move(es));
  }
  return s;
}

RunResult Engine::make_result() const {
  RunResult r;
  r.outcome = outcome_;
  r.failed_element = failed_element_;
  r.failed_envelope = failed_envelope_;
  r.message = message_;
  r.has_payload = has_payload_;
  return r;
}

void Engine::publish(bool abandoned) {
  std::vector<ElementStats> stats_now;
  Payload orphan = nullptr;
  {
    std::lock_guard lock(cm_);
    if (result_) return;
  }
  for (std::size_t i = 0; i < els_.size(); ++i) stats_now.push_back(stats(i));
  {
    std::lock_guard lock(cm_);
    if (result_) return;
    end_ns_ = now();
    if (!outcome_set_) outcome_ = stopping_ ? RunOutcome::Stopped : RunOutcome::Completed;
    outcome_set_ = true;
    if (!handle_alive_ && fail_payload_) {
      orphan = std::exchange(fail_payload_, nullptr);
      has_payload_ = false;
    }
    result_ = make_result();
    result_->abandoned = abandoned;
    for (auto& s : stats_now) s.elapsed_ns = end_ns_ - start_ns_;
    result_->stats = std::move(stats_now);
    dcv_.notify_all();
  }
  if (orphan) release_now(orphan);
}

RunResult Engine::wait(std::optional<std::int64_t> timeout_ns, std::optional<std::int64_t> grace_ns) {
  std::vector<TimerId> timers;
  if (timeout_ns) {
    std::weak_ptr<Engine> w = weak_from_this();
    const std::int64_t at = now() + *timeout_ns;
    const std::string message = "the run did not end within " + std::to_string(*timeout_ns) + " ns";
    timers.push_back(clock_->schedule(at, [w, message] {
      if (auto self = w.lock()) self->cancel(RunOutcome::TimedOut, message);
    }));
    if (grace_ns) {
      timers.push_back(clock_->schedule(at + *grace_ns, [w] {
        if (auto self = w.lock()) self->abandon();
      }));
    }
  }
  RunResult r;
  {
    std::unique_lock lock(cm_);
    dcv_.wait(lock, [&] { return result_.has_value(); });
    r = *result_;
  }
  for (const TimerId id : timers) clock_->cancel(id);
  std::vector<std::thread> threads;
  {
    std::lock_guard lock(tm_);
    if (r.abandoned) {
      for (auto& th : threads_) th.detach();
      threads_.clear();
    }
    threads.swap(threads_);
  }
  for (auto& th : threads) th.join();
  return r;
}

RunResult Engine::abandon() {
  cancel(RunOutcome::Cancelled);
  publish(true);
  {
    std::lock_guard lock(tm_);
    for (auto& th : threads_) {
      if (th.joinable()) th.detach();
    }
    threads_.clear();
  }
  std::lock_guard lock(cm_);
  return *result_;
}

std::optional<RunResult> Engine::result() const {
  std::lock_guard lock(cm_);
  return result_;
}

Payload Engine::take_failure_payload() {
  std::lock_guard lock(cm_);
  if (!result_) return nullptr;
  has_payload_ = false;
  result_->has_payload = false;
  return std::exchange(fail_payload_, nullptr);
}

void Engine::drop_handle() {
  Payload p = nullptr;
  bool ended;
  bool abandoned = false;
  {
    std::lock_guard lock(cm_);
    handle_alive_ = false;
    ended = result_.has_value();
    if (ended) {
      p = std::exchange(fail_payload_, nullptr);
      abandoned = result_->abandoned;
    }
  }
  if (p && !trivial_host_) host_->release(p);
  if (ended) {
    std::vector<std::thread> threads;
    {
      std::lock_guard lock(tm_);
      threads.swap(threads_);
    }
    for (auto& th : threads) {
      if (abandoned) {
        th.detach();
      } else {
        th.join();
      }
    }
    return;
  }
  cancel(RunOutcome::Cancelled);
  std::lock_guard lock(tm_);
  for (auto& th : threads_) th.detach();
  threads_.clear();
}

}  // namespace kelo_core::runtime::detail
