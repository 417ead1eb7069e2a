// Validation of graphs decoded from the bytes: small pools of element and
// port ids (so that duplicates, shared ports and cycles are common), ports of
// either direction in either list, plain, late-binding and dynamic-output
// edges. Validation never crashes, reports at most one cycle and reports it
// last, never reports a port "not owned", warns only for late-binding edges,
// and gives the same report for the same graph twice.
#include <cstdlib>
#include <string>

#include "bytes.h"
#include "graph/validation.h"

namespace {

using namespace kelo_core;
using namespace kelo_core::graph;

template <class Id>
Id pooled(FuzzBytes& in) {
  Id id;
  id.uuid.bytes[15] = in.byte() % 24;
  id.uuid.bytes[0] = 0x40;  // not the nil id: some parsed ids start alike
  return id;
}

DataContract contract(FuzzBytes& in) {
  switch (in.below(6)) {
    case 0: return DataContract::frame();
    case 1: return DataContract::tensor();
    case 2: return DataContract::frame(ContractSpec{}.with_width(in.below(3)));
    case 3: return DataContract::metadata_content(in.below(2) ? "a" : "b");
    case 4: return DataContract::custom(in.text());
    default: return DataContract::event();
  }
}

Graph decode(FuzzBytes& in) {
  Graph g;
  for (std::size_t n = in.below(12); n > 0; --n) {
    const char* names[] = {"a", "b", "c", "\"q\"\n"};
    Element e = Element::make(pooled<ElementId>(in), ElementTypeId{"t"}, names[in.below(4)],
                              ElementKind::Operator);
    for (std::size_t p = in.below(5); p > 0; --p) {
      Port port(pooled<PortId>(in), "p", in.below(2) ? PortDirection::Input : PortDirection::Output,
                contract(in));
      e = in.below(2) ? std::move(e).with_input(std::move(port)) : std::move(e).with_output(std::move(port));
    }
    g.add_element(std::move(e));
  }
  for (std::size_t n = in.below(24); n > 0; --n) {
    const PortId source = pooled<PortId>(in), target = pooled<PortId>(in);
    switch (in.below(4)) {
      case 0:
      case 1: g.add_edge(Edge(source, target)); break;
      case 2: g.add_edge(Edge(source, target, true)); break;
      default: {
        const char* names[] = {"a", "zz", "\"q\"\n"};
        auto edge = Edge::dynamic_output(names[in.below(3)], "pad", target);
        if (!edge) std::abort();
        g.add_edge(std::move(*edge));
      }
    }
  }
  return g;
}

bool same(const validation::ValidationReport& a, const validation::ValidationReport& b) {
  if (a.warnings != b.warnings || a.errors.size() != b.errors.size()) return false;
  for (std::size_t i = 0; i < a.errors.size(); ++i)
    if (a.errors[i].message() != b.errors[i].message() || a.errors[i].indexes() != b.errors[i].indexes())
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzBytes in{data, size};
  const Graph g = decode(in);
  const auto report = validation::validate(g);
  constexpr std::size_t kCycle = 6, kNotOwned = 2;
  std::size_t cycles = 0;
  for (std::size_t i = 0; i < report.errors.size(); ++i) {
    const auto& e = report.errors[i];
    if (e.kind() == kNotOwned || e.kind_name().empty() || e.message().empty()) std::abort();
    if (e.kind() == kCycle && (++cycles > 1 || i + 1 != report.errors.size())) std::abort();
  }
  std::size_t late = 0;
  for (const Edge& e : g.edges()) late += e.late_binding();
  if (report.warnings.size() > late) std::abort();
  if (!same(report, validation::validate(g))) std::abort();
  return 0;
}
