// An execution contract read field by field, in the notation of a
// description file's [element.execution] table: what the runtime layer
// (python/kelo/runtime/contract.py) merges a file's keys into, and how a
// contract's relation parameters become visible, which kelo.ext keeps
// behind PyInputRelation.kind().
#include <string_view>
#include <type_traits>
#include <variant>

#include "execution/contract.h"
#include "graph/port.h"
#include "native/topics.h"

namespace kelo::py {

namespace {

using namespace kelo_core::execution;

bool put(PyObject* dict, const char* key, PyObject* value) {
  Ref v(value);
  return v && PyDict_SetItemString(dict, key, v.get()) == 0;
}

// "PreserveSequence" -> "preserve_sequence".
PyObject* snake(std::string_view name) {
  std::string out;
  for (char c : name) {
    if (c >= 'A' && c <= 'Z') {
      if (!out.empty()) out += '_';
      out += char(c - 'A' + 'a');
    } else {
      out += c;
    }
  }
  return to_py(out);
}

template <class E>
PyObject* snake(E e) {
  return snake(kelo_core::variant_name(e));
}

// input_relation and its parameters; ordering, concurrency ("serialized",
// "unrestricted" or the limit), delivery, overflow, output_coupling,
// completion, failure, eos; batch_size and batch_wait_ns when batching;
// join_ports (port ids).
Ref contract_fields(const ExecutionContract& c) {
  Ref d(PyDict_New());
  if (!d) return d;
  PyObject* o = d.get();
  bool ok = put(o, "input_relation", to_py(c.input_relation.kind_name()));
  ok = ok && std::visit(
                 [o](const auto& r) {
                   using R = std::decay_t<decltype(r)>;
                   if constexpr (std::is_same_v<R, InputRelation::TimestampMatched>) {
                     return put(o, "tolerance_ns", to_py(r.tolerance_ns)) &&
                            put(o, "missing", snake(r.missing)) &&
                            put(o, "clock_offsets_ns", to_py(r.clock_offsets_ns));
                   } else if constexpr (std::is_same_v<R, InputRelation::Windowed>) {
                     return put(o, "size", to_py(r.size));
                   } else if constexpr (std::is_same_v<R, InputRelation::ExplicitJoin>) {
                     return put(o, "key", to_py(r.key));
                   } else {
                     return true;
                   }
                 },
                 c.input_relation.kind);
  ok = ok && put(o, "ordering", snake(c.ordering));
  const std::optional<std::uint64_t> limit = c.concurrency.max_concurrent();
  if (std::holds_alternative<Concurrency::Limited>(c.concurrency.kind)) {
    ok = ok && put(o, "concurrency", to_py(*limit));
  } else {
    ok = ok && put(o, "concurrency", to_py(limit ? "serialized" : "unrestricted"));
  }
  ok = ok && put(o, "delivery", snake(c.delivery)) && put(o, "overflow", snake(c.overflow)) &&
       put(o, "output_coupling", snake(c.output_coupling)) &&
       put(o, "completion", snake(c.completion)) && put(o, "failure", snake(c.failure_policy)) &&
       put(o, "eos", snake(c.eos_policy));
  if (c.batching) {
    ok = ok && put(o, "batch_size", to_py(c.batching->max_size)) &&
         put(o, "batch_wait_ns", to_py(c.batching->max_wait_ns));
  }
  ok = ok && put(o, "join_ports", to_py(c.join_ports));
  return ok ? std::move(d) : Ref();
}

}  // namespace

void add_contract_functions(std::vector<FunctionSpec>& out) {
  out.push_back(Function<&contract_fields>(
      "contract_fields(contract)",
      "The fields of an execution contract as a dict in the notation of a\n"
      "description file's [element.execution] table: `input_relation` and\n"
      "its parameters (`tolerance_ns`, `missing`, `clock_offsets_ns`; `size`;\n"
      "`key`), `ordering`, `concurrency` (\"serialized\", \"unrestricted\" or\n"
      "the limit), `delivery`, `overflow`, `output_coupling`, `completion`,\n"
      "`failure`, `eos`, `batch_size` and `batch_wait_ns` when batching, and\n"
      "`join_ports` (port ids)."));
}

bool adopt_contract_classes(PyObject* ext) {
  Ref execution(ext_submodule(ext, "execution"));
  Ref graph(ext_submodule(ext, "graph"));
  return execution && graph &&
         adopt<ExecutionContract>(execution.get(), "PyExecutionContract") &&
         adopt<kelo_core::graph::PortId>(graph.get(), "PyPortId");
}

}  // namespace kelo::py
