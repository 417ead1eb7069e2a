"""Benchmark of pipeline graphs at the Python surface: validation, builder, memory.

Every figure stands beside a baseline measured in the same run:

  a. validate     PyGraph.validate() on chains of 10k, 100k and 1M elements
                  (one input and one output port each, unconstrained Frame
                  contracts, one edge between neighbours) beside
                  networkx.is_directed_acyclic_graph on a DiGraph of the same
                  topology (built outside the timing), warm (minimum over
                  repeats) and cold (the first call in a fresh process); a 1M
                  ring must report CycleDetected. Targets: >= 20x faster than
                  networkx at 100k and 1M, warm and cold; t(1M)/t(100k) <= 12.
                  The minor page faults of one validate() call are printed
                  beside (fresh memory it touches).
  b. builder      N PyGraphBuilder add_element + connect steps (each returning
                  a new builder, the last one kept) then build(), N = 1k, 10k,
                  20k, beside the step's two method calls alone (a builtin
                  dict.get with the same arguments) and beside plain Python
                  builders that copy the whole graph each step: `deepcopy`
                  (copy.deepcopy of the element and edge lists, the idiomatic
                  copy; measured at small N and extrapolated by a fitted
                  a*N^2 + b*N) and `listcopy` (new lists sharing frozen elements
                  and edges, the cheapest copy that keeps the value semantics;
                  measured at 20k). Targets: per step <= 2x its two calls;
                  t(20k)/t(10k) <= 2.3; >= 50x faster than deepcopy at 20k.
  c. memory       RSS growth of a process building a PyGraph of 100k chained
                  elements (two ports each) beside a networkx DiGraph of the same
                  topology (int nodes, no attributes); each in a fresh process.
                  Target: PyGraph growth <= a third of networkx's.
  d. dynamic      validate() of graphs with one dynamic-output edge per element
                  (edge i names element i-1 and targets element i's input), at
                  10k and 100k, beside validate() of the plain chain of the same
                  size. Target: t(100k)/t(10k) <= 12 (linear).
  e. adds         PyGraph.add_element / add_edge, 10k, 100k and 1M calls,
                  beside list.append of the same objects (no copy) and list.append
                  of a copy.deepcopy of a plain Python element (up to 100k).
                  Target: time per add at 100k <= 2x that at 10k (amortised O(1);
                  O(n) would be 10x). The per-call cost at 1M is printed.

Each case runs in a fresh interpreter, so a crash is reported as such and
memory is measured without leftovers. Times are the minimum over repeats.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_graph.py [--quick] [--check]

--quick runs sizes ten times smaller (builder: half); --check exits with
status 1 when a target is missed.
"""

import argparse
import copy
import dataclasses
import gc
import json
import os
import resource
import subprocess
import sys
import time

# ---------------------------------------------------------------- plain models


@dataclasses.dataclass(frozen=True)
class MContract:
    category: str
    spec: object = None


@dataclasses.dataclass(frozen=True)
class MPort:
    id: bytes
    name: str
    direction: str
    contract: MContract


@dataclasses.dataclass(frozen=True)
class MElement:
    id: bytes
    type_id: str
    name: str
    kind: str
    inputs: tuple
    outputs: tuple
    config: tuple = ()


@dataclasses.dataclass(frozen=True)
class MEdge:
    source: bytes
    target: bytes
    late_binding: bool = False
    source_element: str = None
    source_pad: str = None


class DeepBuilder:
    """Copies the whole graph (copy.deepcopy) at every step."""

    def __init__(self, elements=None, edges=None):
        self.elements, self.edges = elements or [], edges or []

    def add_element(self, e):
        elements, edges = copy.deepcopy((self.elements, self.edges))
        elements.append(copy.deepcopy(e))
        return DeepBuilder(elements, edges)

    def connect(self, source, target):
        elements, edges = copy.deepcopy((self.elements, self.edges))
        edges.append(MEdge(source, target))
        return DeepBuilder(elements, edges)

    def build(self):
        return copy.deepcopy((self.elements, self.edges))


class ListBuilder:
    """Copies the element and edge lists at every step, sharing the frozen values."""

    def __init__(self, elements=(), edges=()):
        self.elements, self.edges = elements, edges

    def add_element(self, e):
        return ListBuilder(self.elements + (e,), self.edges)

    def connect(self, source, target):
        return ListBuilder(self.elements, self.edges + (MEdge(source, target),))

    def build(self):
        return list(self.elements), list(self.edges)


def model_element(i):
    frame = MContract("Frame")
    return MElement(os.urandom(16), "kelo.bench.pass", f"e{i}", "Operator",
                    (MPort(os.urandom(16), "in", "Input", frame),),
                    (MPort(os.urandom(16), "out", "Output", frame),))


# ---------------------------------------------------------------- kelo helpers


def kelo():
    import kelo.ext.graph as g
    return g


def kelo_element(g, i, contract, type_id):
    """A fresh element with one input and one output port; returns it and the two port ids."""
    inp, out = g.PyPort.input("in", contract), g.PyPort.output("out", contract)
    e = (g.PyElement(g.PyElementId.new(), type_id, f"e{i}", g.PyElementKind.Operator)
         .with_input(inp).with_output(out))
    return e, inp.id, out.id


def kelo_chain(n, ring=False, dynamic=False):
    """PyGraph of n chained elements built in place, keeping no Python objects."""
    g = kelo()
    graph, contract, type_id = g.PyGraph(), g.PyDataContract.frame(), g.PyElementTypeId("kelo.bench.pass")
    prev = first = None
    for i in range(n):
        e, inp, out = kelo_element(g, i, contract, type_id)
        graph.add_element(e)
        if dynamic:
            graph.add_edge(g.PyEdge.dynamic_output(f"e{(i - 1) % n}", "objects", inp))
        elif prev is not None:
            graph.add_edge(g.PyEdge(prev, inp))
        else:
            first = inp
        prev = out
    if ring:
        graph.add_edge(g.PyEdge(prev, first))
    return graph


def nx_chain(n, ring=False):
    import networkx as nx
    d = nx.DiGraph()
    d.add_nodes_from(range(n))
    d.add_edges_from(zip(range(n - 1), range(1, n)))
    if ring:
        d.add_edge(n - 1, 0)
    return d


def best(fn, repeat, budget=None):
    """Minimum wall time of fn() over `repeat` runs (fewer when one run exceeds `budget` s)."""
    times, was_enabled = [], gc.isenabled()
    gc.collect()
    gc.disable()
    try:
        for _ in range(repeat):
            t0 = time.perf_counter()
            fn()
            times.append(time.perf_counter() - t0)
            if budget is not None and sum(times) > budget:
                break
    finally:
        if was_enabled:
            gc.enable()
    return min(times)


def rss() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


# ---------------------------------------------------------------- child cases


def case_validate(n, ring):
    import networkx as nx
    graph, d = kelo_chain(n, ring=ring), nx_chain(n, ring=ring)
    repeat = 3 if n >= 1_000_000 else 7
    gc.collect()
    t0 = time.perf_counter()
    report = graph.validate()
    cold = time.perf_counter() - t0
    kinds = [e.kind() for e in report.errors]
    t0 = time.perf_counter()
    dag = nx.is_directed_acyclic_graph(d)
    nx_cold = time.perf_counter() - t0
    ok = (kinds == ["CycleDetected"] and not dag) if ring else (report.is_valid() and not kinds and dag)
    del report
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt
    graph.validate()
    faults = resource.getrusage(resource.RUSAGE_SELF).ru_minflt - faults
    return {"kelo": best(graph.validate, repeat), "nx": best(lambda: nx.is_directed_acyclic_graph(d), repeat),
            "ok": ok, "kinds": kinds[:3], "faults": faults, "cold": cold, "nx_cold": nx_cold}


def case_builder(n):
    g = kelo()
    contract, type_id = g.PyDataContract.frame(), g.PyElementTypeId("kelo.bench.pass")
    parts = [kelo_element(g, i, contract, type_id) for i in range(n)]

    def run():
        b, prev = g.PyGraphBuilder(), None
        for e, inp, out in parts:
            b = b.add_element(e)
            if prev is not None:
                b = b.connect(prev, inp)
            prev = out
        return b.build()

    d = {}

    def calls():  # the step's two method calls, each a builtin doing nothing
        get, prev = d.get, None
        for e, inp, out in parts:
            get(e)
            if prev is not None:
                get(prev, inp)
            prev = out

    graph = run()
    ok = graph.num_elements() == n and graph.num_edges() == n - 1 and graph.validate().is_valid()
    return {"kelo": best(run, 7, budget=20), "calls": best(calls, 7), "ok": ok}


def model_builder_run(cls, elements):
    b, prev = cls(), None
    for e in elements:
        b = b.add_element(e)
        if prev is not None:
            b = b.connect(prev, e.inputs[0].id)
        prev = e.outputs[0].id
    return b.build()


def case_model_builder(name, n):
    cls = {"deepcopy": DeepBuilder, "listcopy": ListBuilder}[name]
    elements = [model_element(i) for i in range(n)]
    elements_out, edges_out = model_builder_run(cls, elements)
    ok = len(elements_out) == n and len(edges_out) == n - 1
    return {"model": best(lambda: model_builder_run(cls, elements), 3, budget=20), "ok": ok}


def case_memory(which, n):
    if which == "kelo":
        g = kelo()
        warm = kelo_chain(2)  # code paths and type objects in place before the first reading
        warm.validate()
        del warm
        gc.collect()
        before = rss()
        graph = kelo_chain(n)
        gc.collect()
        after = rss()
        ok = graph.num_elements() == n and graph.num_edges() == n - 1 and isinstance(graph, g.PyGraph)
    else:
        import networkx as nx
        nx_chain(2)
        gc.collect()
        before = rss()
        graph = nx.DiGraph()
        for i in range(n):
            graph.add_node(i)
            if i:
                graph.add_edge(i - 1, i)
        gc.collect()
        after = rss()
        ok = graph.number_of_nodes() == n and graph.number_of_edges() == n - 1
    return {"growth": after - before, "ok": ok}


def case_dynamic(n):
    plain, dyn = kelo_chain(n), kelo_chain(n, dynamic=True)
    report = dyn.validate()
    ok = report.is_valid() and not report.errors and not report.warnings and dyn.num_edges() == n
    del report
    repeat = 5
    return {"kelo": best(dyn.validate, repeat), "plain": best(plain.validate, repeat), "ok": ok}


def case_adds(n):
    g = kelo()
    contract, type_id = g.PyDataContract.frame(), g.PyElementTypeId("kelo.bench.pass")
    parts = [kelo_element(g, i, contract, type_id) for i in range(n)]
    elements = [p[0] for p in parts]
    edges = [g.PyEdge(a[2], b[1]) for a, b in zip(parts, parts[1:])]
    models = [model_element(i) for i in range(min(n, 100_000))]
    graphs = []

    def add_elements():
        graph = g.PyGraph()
        for e in elements:
            graph.add_element(e)
        graphs.append(graph)

    def add_edges():
        graph = g.PyGraph()
        for e in edges:
            graph.add_edge(e)

    def append():
        out = []
        for e in elements:
            out.append(e)

    def append_deepcopy():
        out = []
        for m in models:
            out.append(copy.deepcopy(m))

    repeat = 1 if n >= 1_000_000 else 3  # each graph is kept, as a caller keeps what it builds
    res = {"element": best(add_elements, repeat), "edge": best(add_edges, repeat),
           "append": best(append, repeat),
           # too slow to time at a million: left out there
           "deepcopy": best(append_deepcopy, 3) if n <= 100_000 else float("nan")}
    res["ok"] = graphs[-1].num_elements() == n
    return res


CASES = {
    "validate": lambda a: case_validate(int(a[0]), False),
    "ring": lambda a: case_validate(int(a[0]), True),
    "builder": lambda a: case_builder(int(a[0])),
    "model_builder": lambda a: case_model_builder(a[0], int(a[1])),
    "memory": lambda a: case_memory(a[0], int(a[1])),
    "dynamic": lambda a: case_dynamic(int(a[0])),
    "adds": lambda a: case_adds(int(a[0])),
}


# ---------------------------------------------------------------- parent


def child(*args, timeout=1800):
    """Runs one case in a fresh interpreter; returns its result or {'crash': text}."""
    cmd = [sys.executable, os.path.abspath(__file__), "--child", *map(str, args)]
    try:
        p = subprocess.run(cmd, capture_output=True, text=True, timeout=timeout)
    except subprocess.TimeoutExpired:
        return {"crash": f"timeout after {timeout}s"}
    if p.returncode != 0:
        why = f"signal {-p.returncode}" if p.returncode < 0 else f"exit {p.returncode}"
        tail = (p.stderr.strip().splitlines() or [""])[-1]
        return {"crash": f"{why} {tail}".strip()}
    return json.loads(p.stdout.strip().splitlines()[-1])


def fmt_t(s):
    if s >= 1:
        return f"{s:.2f} s"
    if s >= 1e-3:
        return f"{s * 1e3:.2f} ms"
    if s >= 1e-6:
        return f"{s * 1e6:.1f} us"
    return f"{s * 1e9:.0f} ns"


def size(n):
    return f"{n // 1_000_000}M" if n >= 1_000_000 and n % 1_000_000 == 0 else (
        f"{n // 1000}k" if n % 1000 == 0 else str(n))


class Targets:
    def __init__(self):
        self.missed, self.count = [], 0

    def check(self, label, ok):
        self.count += 1
        if not ok:
            self.missed.append(label)
        return "PASS" if ok else "MISS"


def crashed(label, r, targets):
    if "crash" in r:
        print(f"  {label}: CRASH ({r['crash']})  {targets.check(label + ' ran', False)}")
        return True
    if not r.get("ok", True):
        print(f"  {label}: wrong result {r}  {targets.check(label + ' result', False)}")
    return False


def section_validate(sizes, ring_n, targets):
    print("a. validate() of a chain vs networkx.is_directed_acyclic_graph (same topology)")
    print("   warm: minimum over repeats; cold: the first call in a fresh process")
    head = (f"  {'elements':>9}{'kelo':>11}{'networkx':>11}{'nx/kelo':>9}"
            f"{'cold kelo':>11}{'networkx':>11}{'nx/kelo':>9}  target")
    print(f"{head:<80}{'faults/call':>13}")
    t = {}
    for n in sizes:
        r = child("validate", n)
        if crashed(f"validate {size(n)}", r, targets):
            continue
        t[n] = r["kelo"]
        warm, cold = r["nx"] / r["kelo"], r["nx_cold"] / r["cold"]
        line = (f"  {size(n):>9}{fmt_t(r['kelo']):>11}{fmt_t(r['nx']):>11}{warm:>8.1f}x"
                f"{fmt_t(r['cold']):>11}{fmt_t(r['nx_cold']):>11}{cold:>8.1f}x")
        if n >= sizes[1]:
            line += (f"  >= 20x  {targets.check(f'validate {size(n)} vs networkx', warm >= 20)}"
                     f" {targets.check(f'cold validate {size(n)} vs networkx', cold >= 20)}")
        print(f"{line:<80}{r['faults']:>13}")
    big, mid = sizes[2], sizes[1]
    if big in t and mid in t:
        growth = t[big] / t[mid]
        print(f"  growth t({size(big)})/t({size(mid)}) = {growth:.2f}  (<= 12)  "
              f"{targets.check('validate growth', growth <= 12)}")
    r = child("ring", ring_n)
    if not crashed(f"ring {size(ring_n)}", r, targets):
        ok = r["ok"]
        print(f"  ring {size(ring_n)}: errors {r['kinds']} in {fmt_t(r['kelo'])} (networkx {fmt_t(r['nx'])}, "
              f"{r['nx'] / r['kelo']:.1f}x)  CycleDetected  {targets.check('ring', ok)}")
    print()


def deep_extrapolated(n1, target_n):
    """deepcopy model at n1 and 2*n1, fitted a*N^2 + b*N, evaluated at target_n."""
    r1, r2 = child("model_builder", "deepcopy", n1), child("model_builder", "deepcopy", 2 * n1)
    if "crash" in r1 or "crash" in r2:
        return None, None
    t1, t2 = r1["model"], r2["model"]
    a = (t2 - 2 * t1) / (2 * n1 * n1)
    b = (4 * t1 - t2) / (2 * n1)
    if a <= 0:  # noise: fall back to a pure square law from the larger run
        a, b = t2 / (2 * n1) ** 2, 0.0
    return a * target_n ** 2 + b * target_n, (n1, t1, t2)


def section_builder(sizes, deep_n, targets):
    print("b. PyGraphBuilder: N add_element + connect steps, then build()")
    t = {}
    for n in sizes:
        r = child("builder", n)
        if crashed(f"builder {size(n)}", r, targets):
            continue
        t[n] = r
    top = sizes[-1]
    listcopy = child("model_builder", "listcopy", top)
    deep, fit = deep_extrapolated(deep_n, top)
    print(f"  {'N':>6}{'kelo':>11}{'per step':>11}{'two calls':>11}{'ratio':>7}  target")
    for n, r in t.items():
        steps = n  # an add_element and a connect (the first step has no connect)
        ratio = r["kelo"] / r["calls"]
        print(f"  {size(n):>6}{fmt_t(r['kelo']):>11}{fmt_t(r['kelo'] / steps):>11}"
              f"{fmt_t(r['calls'] / steps):>11}{ratio:>6.2f}x  <= 2  "
              f"{targets.check(f'builder {size(n)} per step', ratio <= 2)}")
    if sizes[-1] in t and sizes[-2] in t:
        growth = t[sizes[-1]]["kelo"] / t[sizes[-2]]["kelo"]
        print(f"  growth t({size(sizes[-1])})/t({size(sizes[-2])}) = {growth:.2f}  (<= 2.3; linear 2, "
              f"quadratic 4)  {targets.check('builder growth', growth <= 2.3)}")
    if top in t and "crash" not in listcopy:
        print(f"  listcopy model at {size(top)} (measured): {fmt_t(listcopy['model'])}, "
              f"{listcopy['model'] / t[top]['kelo']:.1f}x kelo")
    if top in t and deep is not None:
        n1, t1, t2 = fit
        ratio = deep / t[top]["kelo"]
        print(f"  deepcopy model measured {fmt_t(t1)} at N={n1}, {fmt_t(t2)} at N={2 * n1}; "
              f"extrapolated to {size(top)}: {fmt_t(deep)}")
        print(f"  deepcopy/kelo at {size(top)} = {ratio:.0f}x  (>= 50x)  "
              f"{targets.check('builder vs deepcopy', ratio >= 50)}")
    print()


def section_memory(n, targets):
    print(f"c. RSS growth of building a graph of {size(n)} chained elements (fresh process each)")
    k, x = child("memory", "kelo", n), child("memory", "nx", n)
    if crashed("memory kelo", k, targets) or crashed("memory networkx", x, targets):
        print()
        return
    ratio = k["growth"] / x["growth"]
    print(f"  PyGraph {k['growth'] / 2**20:.1f} MiB ({k['growth'] / n:.0f} B/element), "
          f"networkx DiGraph {x['growth'] / 2**20:.1f} MiB ({x['growth'] / n:.0f} B/element)")
    print(f"  kelo/networkx = {ratio:.2f}  (<= 1/3)  {targets.check('memory', ratio <= 1 / 3)}")
    print()


def section_dynamic(sizes, targets):
    print("d. validate() with one dynamic-output edge per element vs the plain chain of the same size")
    t = {}
    for n in sizes:
        r = child("dynamic", n)
        if crashed(f"dynamic {size(n)}", r, targets):
            continue
        t[n] = r["kelo"]
        print(f"  {size(n):>6}: dynamic {fmt_t(r['kelo'])}, plain chain {fmt_t(r['plain'])}, "
              f"dynamic/plain {r['kelo'] / r['plain']:.2f}")
    if len(t) == 2:
        growth = t[sizes[1]] / t[sizes[0]]
        print(f"  growth t({size(sizes[1])})/t({size(sizes[0])}) = {growth:.2f}  (<= 12; quadratic 100)  "
              f"{targets.check('dynamic growth', growth <= 12)}")
    print()


def section_adds(sizes, targets):
    print("e. PyGraph.add_element / add_edge, per call")
    print(f"  {'calls':>6}{'add_element':>13}{'add_edge':>11}{'list.append':>13}{'deepcopy+append':>17}")
    per = {}
    for n in sizes:
        r = child("adds", n)
        if crashed(f"adds {size(n)}", r, targets):
            continue
        per[n] = {k: r[k] / n for k in ("element", "edge", "append", "deepcopy")}
        p = per[n]
        print(f"  {size(n):>6}{fmt_t(p['element']):>13}{fmt_t(p['edge']):>11}{fmt_t(p['append']):>13}"
              f"{fmt_t(p['deepcopy']):>17}")
    if sizes[0] in per and sizes[1] in per:
        lo, hi = per[sizes[0]], per[sizes[1]]
        for key, name in (("element", "add_element"), ("edge", "add_edge")):
            g = hi[key] / lo[key]
            print(f"  {name} per call {size(sizes[1])}/{size(sizes[0])} = {g:.2f}  (<= 2)  "
                  f"{targets.check(f'{name} amortised', g <= 2)}")
        print(f"  deepcopy+append / add_element at {size(sizes[1])}: {hi['deepcopy'] / hi['element']:.1f}x; "
              f"add_element / bare list.append: {hi['element'] / hi['append']:.1f}x")
    print()


def main() -> int:
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        gc.disable()  # the cases make no reference cycles; the collector only slows building
        print(json.dumps(CASES[sys.argv[2]](sys.argv[3:])))
        return 0
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="sizes ten times smaller (builder: half)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()
    import networkx
    q = 10 if args.quick else 1
    print(f"Python {sys.version.split()[0]}, networkx {networkx.__version__}, "
          f"{'quick' if args.quick else 'full'} run, minimum over repeats")
    print()
    targets = Targets()
    section_validate([10_000 // q, 100_000 // q, 1_000_000 // q], 1_000_000 // q, targets)
    section_builder([1000 // (2 if args.quick else 1), 10_000 // (2 if args.quick else 1),
                     20_000 // (2 if args.quick else 1)], 100 if args.quick else 200, targets)
    section_memory(100_000 // q, targets)
    section_dynamic([10_000 // q, 100_000 // q], targets)
    section_adds([10_000 // q, 100_000 // q, 1_000_000 // q], targets)
    print(f"{targets.count - len(targets.missed)} of {targets.count} targets met"
          + ("" if not targets.missed else "; missed: " + ", ".join(targets.missed)))
    return 1 if (targets.missed and args.check) else 0


if __name__ == "__main__":
    sys.exit(main())
