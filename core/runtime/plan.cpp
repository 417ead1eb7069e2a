// Plan validation: every reason a plan cannot run, named with the element
// or edge it concerns.
#include <string>
#include <unordered_set>

#include "runtime/runtime.h"

namespace kelo_core::runtime {

namespace {

using execution::InputRelation;

std::string quoted(const Node& n) { return "'" + n.name + "'"; }

std::string ports(std::size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? " port" : " ports");
}

std::optional<Error> check_node(const Node& n) {
  const std::string who = "element " + quoted(n);
  const auto fail = [&](const std::string& what) { return Error::value(who + ": " + what); };
  if (n.kind == NodeKind::Source) {
    if (!n.source) return fail("a source needs a source behaviour");
    if (!n.inputs.empty()) return fail("a source has no input ports");
    if (n.outputs.empty()) return fail("a source needs an output port");
  } else {
    if (!n.behaviour) return fail("an operator or sink needs a behaviour");
    if (n.inputs.empty()) return fail("only a source runs without input ports");
    if (n.kind == NodeKind::Sink && !n.outputs.empty()) return fail("a sink has no output ports");
  }
  const auto& c = n.contract;
  if (c.concurrency.max_concurrent() == std::uint64_t{0}) {
    return fail("concurrency Limited(0) admits no execution");
  }
  if (c.batching && c.batching->max_size == 0) return fail("a batch of size 0 holds no item");
  if (n.queue_capacity == 0) return fail("an input queue of capacity 0 holds no item");
  if (n.confirm_timeout_ns && *n.confirm_timeout_ns < 0) {
    return fail("the confirmation timeout is negative");
  }
  if (const auto* w = std::get_if<InputRelation::Windowed>(&c.input_relation.kind);
      w && w->size == 0) {
    return fail("a window of size 0 holds no item");
  }
  if (const auto* t = std::get_if<InputRelation::TimestampMatched>(&c.input_relation.kind);
      t && t->clock_offsets_ns.size() > n.inputs.size()) {
    return fail(std::to_string(t->clock_offsets_ns.size()) + " clock offsets for " +
                ports(n.inputs.size(), "input"));
  }
  std::unordered_set<std::size_t> seen;
  for (const std::size_t p : n.join_ports) {
    if (p >= n.inputs.size()) {
      return fail("join port " + std::to_string(p) + " is out of range (" +
                  ports(n.inputs.size(), "input") + ")");
    }
    if (!seen.insert(p).second) return fail("join port " + std::to_string(p) + " is given twice");
  }
  return std::nullopt;
}

}  // namespace

std::optional<Error> validate(const Plan& plan) {
  const auto& nodes = plan.nodes;
  if (nodes.empty()) return Error::value("the plan has no elements");
  std::unordered_set<std::string> names;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].name.empty()) return Error::value("element " + std::to_string(i) + " has no name");
    if (!names.insert(nodes[i].name).second) {
      return Error::value("element " + quoted(nodes[i]) + " is named twice");
    }
    if (auto e = check_node(nodes[i])) return e;
  }
  std::vector<std::vector<std::size_t>> next(nodes.size());
  for (std::size_t k = 0; k < plan.edges.size(); ++k) {
    const Edge& e = plan.edges[k];
    const std::string who = "edge " + std::to_string(k) + ": ";
    if (e.from >= nodes.size() || e.to >= nodes.size()) {
      return Error::value(who + "element index " + std::to_string(std::max(e.from, e.to)) +
                          " is out of range (" + std::to_string(nodes.size()) + " elements)");
    }
    const Node& from = nodes[e.from];
    const Node& to = nodes[e.to];
    if (e.output >= from.outputs.size()) {
      return Error::value(who + quoted(from) + " has no output port " + std::to_string(e.output) +
                          " (" + ports(from.outputs.size(), "output") + ")");
    }
    if (e.input >= to.inputs.size()) {
      return Error::value(who + quoted(to) + " has no input port " + std::to_string(e.input) +
                          " (" + ports(to.inputs.size(), "input") + ")");
    }
    for (std::size_t j = 0; j < k; ++j) {
      if (plan.edges[j] == e) {
        return Error::value(who + "repeats edge " + std::to_string(j));
      }
    }
    next[e.from].push_back(e.to);
  }
  // Depth-first search for a cycle: 1 = on the current path, 2 = done.
  std::vector<unsigned char> mark(nodes.size(), 0);
  std::vector<std::pair<std::size_t, std::size_t>> stack;
  for (std::size_t root = 0; root < nodes.size(); ++root) {
    if (mark[root]) continue;
    stack.push_back({root, 0});
    mark[root] = 1;
    while (!stack.empty()) {
      auto& [node, i] = stack.back();
      if (i == next[node].size()) {
        mark[node] = 2;
        stack.pop_back();
        continue;
      }
      const std::size_t to = next[node][i++];
      if (mark[to] == 1) return Error::value("the plan has a cycle through element " + quoted(nodes[to]));
      if (mark[to] == 0) {
        mark[to] = 1;
        stack.push_back({to, 0});
      }
    }
  }
  return std::nullopt;
}

}  // namespace kelo_core::runtime
