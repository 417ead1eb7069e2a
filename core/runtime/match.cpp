// The input relations: how queued items become an execution's entry. Every
// function here runs with the element locked. A matcher takes items from
// the heads of its ports' queues (each port's items arrive in sequence
// order), and either forms one entry, makes progress (drops an item that
// can no longer match, forwards a skip marker) or finds nothing to do.
#include <algorithm>

#include "runtime/engine.h"

namespace kelo_core::runtime::detail {

namespace {

using execution::MissingInputBehavior;

const QItem* head(const Element& e, std::size_t p) {
  const auto& q = e.in[p].q;
  return q.empty() ? nullptr : &q[0];
}

std::int64_t time_of(const Element& e, std::size_t p, const QItem& it) {
  return it.env.timestamp_ns + e.in[p].offset;
}

}  // namespace

QItem Engine::take_head(Element& e, std::size_t port, ThreadCtx& t) { return take_at(e, port, 0, t); }

QItem Engine::take_at(Element& e, std::size_t p, std::size_t i, ThreadCtx& t) {
  Port& port = e.in[p];
  QItem it = i == 0 ? port.q.pop_front() : port.q.erase(i);
  if (!it.marker) {
    --port.items;
    port.length.store(port.items, std::memory_order_relaxed);
    if (!port.held.empty() && port.items <= e.node->queue_capacity / 2) {
      t.wake.insert(t.wake.end(), port.held.begin(), port.held.end());
      port.held.clear();
    }
    if (obs_) [[unlikely]] {
      obs_->on_queue(QueueEvent{e.index, p, false, port.items, t.index, now()});
    }
  }
  return it;
}

void Engine::count_drop(Element& e, std::size_t port, DropReason why, const Envelope& env) {
  if (why != DropReason::Reject) e.st.dropped.fetch_add(1, std::memory_order_relaxed);
  e.st.drops[static_cast<std::size_t>(why)].fetch_add(1, std::memory_order_relaxed);
  if (obs_) [[unlikely]] obs_->on_drop(DropEvent{e.index, port, why, env, now()});
}

void Engine::drop(Element& e, std::size_t port, QItem&& it, DropReason why, ThreadCtx& t) {
  if (it.marker) return;
  count_drop(e, port, why, it.env);
  t.discard.push_back(it.value);
}

void Engine::forward_marker(Element& e, Envelope env, ThreadCtx& t) {
  Record* r = nullptr;
  for (std::uint32_t p = 0; p < e.out.size(); ++p) {
    if (e.out[p].empty()) continue;
    if (!r) r = fresh_record(e);
    r->outs.push_back(Out{p, true, nullptr, env});
  }
  if (!r) return;
  r->state = RecState::Done;
  if (e.preserve) {
    r->ticket = e.next_ticket++;
    e.reorder.push_back(r);
    t.markers = true;
  } else {
    t.direct.push_back(r);
  }
}

namespace {

// Each relation's matcher; `P` is the element's input port count.
struct Match {
  Engine& eng;
  Element& e;
  Record& r;
  ThreadCtx& t;
  std::size_t P;

  void put(std::size_t p) {
    QItem it = eng.take_head(e, p, t);
    r.put(P, p, Item{it.value, it.env});
  }
  // Drops the head of `p` (forwarding it if it is a marker).
  Formed discard_head(std::size_t p, DropReason why) {
    QItem it = eng.take_head(e, p, t);
    if (it.marker) {
      eng.forward_marker(e, it.env, t);
    } else {
      eng.drop(e, p, std::move(it), why, t);
    }
    return Formed::Progress;
  }
  // When port `p` has ended empty, nothing queued elsewhere can match.
  std::optional<Formed> drain_if_dead() {
    for (const std::uint32_t p : e.join) {
      if (!e.in[p].q.empty() || !e.in[p].ended()) continue;
      for (const std::uint32_t q : e.join) {
        if (!e.in[q].q.empty()) return discard_head(q, DropReason::Match);
      }
      return Formed::None;
    }
    return std::nullopt;
  }

  Formed synchronized() {
    for (const std::uint32_t p : e.join) {
      if (e.in[p].q.empty()) return drain_if_dead().value_or(Formed::None);
    }
    std::uint64_t m = 0;
    for (const std::uint32_t p : e.join) m = std::max(m, head(e, p)->env.sequence);
    bool skipped = false;
    for (const std::uint32_t p : e.join) {
      if (head(e, p)->env.sequence < m) return discard_head(p, DropReason::Match);
      skipped |= head(e, p)->marker;
    }
    const Envelope env = head(e, e.join[0])->env;
    if (skipped) {
      for (const std::uint32_t p : e.join) {
        eng.drop(e, p, eng.take_head(e, p, t), DropReason::Skip, t);
      }
      eng.forward_marker(e, env, t);
      return Formed::Progress;
    }
    for (std::size_t p = 0; p < P; ++p) {
      if (e.in[p].join) put(p);
    }
    r.close_entry(P, env);
    return Formed::Entry;
  }

  // A skip marker stands for an item that will never come: it is matched
  // like one, and whatever matches it is given up with it (or, under
  // missing=proceed, runs without it).
  Formed timestamp_matched() {
    // The earliest head drives the decision; an item before a marker of
    // the same time.
    std::optional<std::uint32_t> h;
    for (const std::uint32_t p : e.join) {
      const QItem* it = head(e, p);
      if (!it) continue;
      if (!h) {
        h = p;
        continue;
      }
      const QItem& best = *head(e, *h);
      const std::int64_t a = time_of(e, p, *it), b = time_of(e, *h, best);
      if (a < b || (a == b && best.marker && !it->marker)) h = p;
    }
    if (!h) return Formed::None;
    const QItem& driver = *head(e, *h);
    const std::int64_t at = time_of(e, *h, driver);
    const auto tol = static_cast<std::int64_t>(e.tolerance);
    const auto within = [&](std::size_t q) {
      const QItem* it = head(e, q);
      return it && time_of(e, q, *it) - at <= tol;
    };
    bool unknown = false, passed = false, skipped = driver.marker;
    for (const std::uint32_t q : e.join) {
      if (q == *h) continue;
      if (within(q)) {
        skipped |= head(e, q)->marker;
      } else if (head(e, q) || e.in[q].ended()) {
        passed = true;
      } else {
        unknown = true;
      }
    }
    const bool give_up = skipped || passed;
    if (unknown && !(give_up && e.missing == MissingInputBehavior::Drop)) return Formed::None;
    const bool proceed = e.missing == MissingInputBehavior::Proceed;
    if (give_up && !proceed) {
      // Everything at this time goes: items dropped, one marker forwarded.
      std::optional<Envelope> marker;
      for (const std::uint32_t q : e.join) {
        if (q != *h && !within(q)) continue;
        QItem it = eng.take_head(e, q, t);
        if (it.marker) {
          marker = marker.value_or(it.env);
        } else {
          eng.drop(e, q, std::move(it), skipped ? DropReason::Skip : DropReason::Match, t);
        }
      }
      if (marker) eng.forward_marker(e, *marker, t);
      return Formed::Progress;
    }
    // Every port matches at `at`, or (proceed) the rest have passed it or
    // were skipped there.
    std::optional<Envelope> env, marker;
    for (std::size_t p = 0; p < P; ++p) {
      if (!e.in[p].join || !within(p)) continue;
      if (head(e, p)->marker) {
        marker = marker.value_or(eng.take_head(e, p, t).env);
        continue;
      }
      if (p == e.join[0] || !env) env = head(e, p)->env;
      put(p);
    }
    if (!env) {
      eng.forward_marker(e, *marker, t);
      return Formed::Progress;
    }
    r.close_entry(P, *env);
    return Formed::Entry;
  }

  Formed latest_value() {
    for (std::size_t k = 1; k < e.join.size(); ++k) {
      Port& port = e.in[e.join[k]];
      while (!port.q.empty()) {
        QItem it = eng.take_head(e, e.join[k], t);
        if (it.marker) continue;
        if (port.latest) t.discard.push_back(port.latest->value);
        port.latest = std::move(it);
      }
    }
    const std::uint32_t trigger = e.join[0];
    const QItem* it = head(e, trigger);
    if (!it) return Formed::None;
    if (it->marker) return discard_head(trigger, DropReason::Skip);
    for (std::size_t k = 1; k < e.join.size(); ++k) {
      const Port& port = e.in[e.join[k]];
      if (port.latest) continue;
      if (port.ended()) return discard_head(trigger, DropReason::Match);
      return Formed::None;
    }
    const Envelope env = it->env;
    for (std::size_t p = 0; p < P; ++p) {
      Port& port = e.in[p];
      if (!port.join) continue;
      if (p == trigger) {
        put(p);
      } else {
        eng.retain(port.latest->value);
        r.put(P, p, Item{port.latest->value, port.latest->env});
      }
    }
    r.close_entry(P, env);
    return Formed::Entry;
  }

  Formed windowed() {
    const std::uint64_t size = e.window;
    bool full = true, some = false, short_end = false;
    for (const std::uint32_t p : e.join) {
      const Port& port = e.in[p];
      full &= port.items >= size;
      some |= port.items > 0;
      short_end |= port.ended() && port.items < size;
    }
    if (!full && !(some && (e.flush || e.inputs_done || short_end))) {
      for (const std::uint32_t p : e.join) {
        if (head(e, p) && head(e, p)->marker) return discard_head(p, DropReason::Skip);
      }
      return Formed::None;
    }
    std::optional<Envelope> first_env, last_env;
    for (std::size_t p = 0; p < P; ++p) {
      if (!e.in[p].join) continue;
      for (std::uint64_t n = 0; n < size && !e.in[p].q.empty();) {
        QItem it = eng.take_head(e, p, t);
        if (it.marker) {
          eng.forward_marker(e, it.env, t);
          continue;
        }
        (p == e.join[0] ? first_env : last_env) = it.env;
        r.put(P, p, Item{it.value, it.env});
        ++n;
      }
    }
    r.close_entry(P, first_env ? *first_env : last_env.value_or(Envelope{}));
    return Formed::Entry;
  }

  Formed explicit_join() {
    for (const std::uint32_t p : e.join) {
      if (head(e, p) && head(e, p)->marker) return discard_head(p, DropReason::Skip);
    }
    const auto& q0 = e.in[e.join[0]].q;
    auto& idx = t.idx;
    idx.assign(P, 0);
    for (std::size_t i = 0; i < q0.size(); ++i) {
      if (q0[i].marker) continue;
      idx[e.join[0]] = i;
      bool all = true;
      for (std::size_t k = 1; k < e.join.size() && all; ++k) {
        const auto& q = e.in[e.join[k]].q;
        all = false;
        for (std::size_t j = 0; j < q.size(); ++j) {
          if (!q[j].marker && *q[j].key == *q0[i].key) {
            idx[e.join[k]] = j;
            all = true;
            break;
          }
        }
      }
      if (!all) continue;
      const Envelope env = q0[i].env;
      for (std::size_t p = 0; p < P; ++p) {
        if (!e.in[p].join) continue;
        QItem it = eng.take_at(e, p, idx[p], t);
        r.put(P, p, Item{it.value, it.env});
      }
      r.close_entry(P, env);
      return Formed::Entry;
    }
    if (auto f = drain_if_dead()) return *f;
    // A full port whose items match nothing gives up its oldest, so that
    // the join cannot stall its producers for ever.
    for (const std::uint32_t p : e.join) {
      if (e.in[p].items >= e.node->queue_capacity) return discard_head(p, DropReason::Match);
    }
    return Formed::None;
  }
};

}  // namespace

Formed Engine::next_entry(Element& e, Record& r, ThreadCtx& t) {
  const std::size_t P = e.in.size();
  // Ports outside the join trigger alone, in turn.
  for (std::size_t k = 0; k < P; ++k) {
    const std::size_t p = (e.rr + k) % P;
    Port& port = e.in[p];
    if (port.join || port.q.empty()) continue;
    e.rr = p + 1;
    QItem it = take_head(e, p, t);
    if (it.marker) {
      forward_marker(e, it.env, t);
      return Formed::Progress;
    }
    r.put(P, p, Item{it.value, it.env});
    r.close_entry(P, it.env);
    return Formed::Entry;
  }
  Match m{*this, e, r, t, P};
  switch (e.relation) {
    case Relation::Independent: return Formed::None;
    case Relation::Synchronized: return m.synchronized();
    case Relation::TimestampMatched: return m.timestamp_matched();
    case Relation::LatestValue: return m.latest_value();
    case Relation::Windowed: return m.windowed();
    case Relation::ExplicitJoin: return m.explicit_join();
  }
  return Formed::None;
}

bool Engine::inputs_finished(Element& e, ThreadCtx& t) {
  bool all = true, any = false;
  for (const Port& port : e.in) {
    const bool done = port.ended() && port.q.empty();
    all &= done;
    any |= done;
  }
  if (!(e.any_input ? any : all)) return false;
  for (std::size_t p = 0; p < e.in.size(); ++p) {
    while (!e.in[p].q.empty()) drop(e, p, take_head(e, p, t), DropReason::Ended, t);
  }
  return true;
}

}  // namespace kelo_core::runtime::detail
