// The public faces of the engine: Run, Execution, SourceOutput, and the
// small behaviours and hosts the runtime provides itself.
#include "runtime/engine.h"

namespace kelo_core::runtime {

using detail::Engine;

// ---- hosts and behaviours ----------------------------------------------------------

std::shared_ptr<Host> null_host() {
  static const std::shared_ptr<Host> host = std::make_shared<Host>();
  return host;
}

std::optional<std::string> Behaviour::key_of(Payload, std::size_t) { return std::nullopt; }

Outcome Source::seek(std::int64_t) { return Failure{"this source cannot seek", nullptr}; }

namespace {

class Passthrough final : public Behaviour {
 public:
  HostAccess host_access() const override { return HostAccess::Any; }
  Outcome execute(Execution& x) override {
    const std::size_t outs = x.output_count();
    if (outs == 0) return {};
    for (std::size_t entry = 0; entry < x.entries(); ++entry) {
      for (std::size_t p = 0; p < x.input_count(); ++p) {
        const std::size_t n = x.items(entry, p).size();
        for (std::size_t i = 0; i < n; ++i) {
          x.output(std::min(p, outs - 1), x.take(entry, p, i), entry);
        }
      }
    }
    return {};
  }
};

}  // namespace

std::shared_ptr<Behaviour> passthrough() { return std::make_shared<Passthrough>(); }

// ---- Execution -------------------------------------------------------------------

std::size_t Execution::element() const { return r_->el->index; }
std::uint32_t Execution::attempt() const { return r_->attempt; }
std::size_t Execution::entries() const { return r_->entries(); }
std::size_t Execution::input_count() const { return r_->el->in.size(); }
std::size_t Execution::output_count() const { return r_->el->out.size(); }

std::span<const Item> Execution::items(std::size_t entry, std::size_t port) const {
  if (entry >= r_->entries() || port >= input_count()) return {};
  return r_->items_of(input_count(), entry, port);
}

Envelope Execution::envelope(std::size_t entry) const {
  return entry < r_->envs.size() ? r_->envs[entry] : Envelope{};
}

Envelope Execution::envelope() const { return r_->envs.empty() ? Envelope{} : r_->envs.back(); }

Payload Execution::take(std::size_t entry, std::size_t port, std::size_t index) {
  const auto span = items(entry, port);
  if (index >= span.size()) return nullptr;
  const auto flat = static_cast<std::size_t>(span.data() - r_->items.data()) + index;
  if (r_->taken[flat]) return nullptr;
  r_->taken[flat] = 1;
  return span[index].value;
}

void Execution::output(std::size_t port, Payload value) { output(port, value, r_->envs.size() - 1); }

void Execution::output(std::size_t port, Payload value, std::size_t entry) {
  if (port >= output_count() || entry >= r_->envs.size()) {
    r_->el->eng->release_now(value);
    return;
  }
  r_->outs.push_back(detail::Out{static_cast<std::uint32_t>(port), false, value, r_->envs[entry]});
}

Emit Execution::emit(std::size_t port, Payload value) {
  if (port >= output_count()) {
    r_->el->eng->release_now(value);
    return Emit::Sent;
  }
  if (r_->el->coupling == execution::OutputCoupling::Independent) {
    return r_->el->eng->emit_now(*r_, port, value);
  }
  r_->outs.push_back(detail::Out{static_cast<std::uint32_t>(port), false, value, envelope()});
  return Emit::Held;
}

bool Execution::cancelled() const { return r_->el->eng->cancelled(); }

std::optional<ConfirmToken> Execution::token() const {
  if (!r_->el->confirmed_completion) return std::nullopt;
  return ConfirmToken{(std::uint64_t{r_->index} << 32) | r_->gen};
}

// ---- SourceOutput ----------------------------------------------------------------

void SourceOutput::output(std::size_t port, Payload value) {
  if (port >= r_->values.size()) {
    r_->eng->release_now(value);
    return;
  }
  if (r_->has[port]) r_->eng->release_now(r_->values[port]);
  r_->values[port] = value;
  r_->has[port] = 1;
}

void SourceOutput::set_envelope(Envelope e) { r_->env = e; }
void SourceOutput::end() { r_->end = true; }
std::uint64_t SourceOutput::count() const { return r_->count; }

// ---- Run -------------------------------------------------------------------------

Result<Run> Run::start(Plan plan, RunOptions options) {
  if (auto e = validate(plan)) return *e;
  auto engine = std::make_shared<Engine>(std::move(plan), std::move(options));
  engine->launch();
  return Run(std::move(engine));
}

Run::Run(std::shared_ptr<detail::Engine> e) : e_(std::move(e)) {}
Run::Run(Run&&) noexcept = default;
Run& Run::operator=(Run&& o) noexcept {
  if (this != &o) {
    if (e_) e_->drop_handle();
    e_ = std::move(o.e_);
  }
  return *this;
}
Run::~Run() {
  if (e_) e_->drop_handle();
}

void Run::flush() { e_->flush(); }
std::optional<Error> Run::eos(std::size_t source) { return e_->eos(source); }
void Run::cancel() {
  if (e_->obs_) {
    e_->obs_->on_signal(SignalEvent{execution::ControlSignal{execution::ControlSignal::Cancel{}},
                                    std::nullopt, e_->now()});
  }
  e_->cancel(RunOutcome::Cancelled);
}
void Run::stop() { e_->stop(); }
std::optional<Error> Run::seek(std::size_t source, std::int64_t target_ns) {
  return e_->seek(source, target_ns);
}
std::optional<Error> Run::confirm(ConfirmToken token) { return e_->confirm(token, false); }
RunResult Run::wait(std::optional<std::int64_t> timeout_ns, std::optional<std::int64_t> grace_ns) {
  return e_->wait(timeout_ns, grace_ns);
}
RunResult Run::abandon() { return e_->abandon(); }
std::optional<RunResult> Run::result() const { return e_->result(); }
bool Run::ended() const { return e_->result().has_value(); }
ElementStats Run::stats(std::size_t node) const { return e_->stats(node); }
Snapshot Run::snapshot() const { return e_->snapshot(); }
std::size_t Run::workers() const { return e_->workers(); }
Payload Run::take_failure_payload() { return e_->take_failure_payload(); }

}  // namespace kelo_core::runtime
