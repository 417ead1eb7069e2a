"""Benchmark of pipeline description files and authoring by name.

1. Loading and checking a generated description file (chains of elements
   with contracts, one link per element, ten element types with three
   providers each, elements asking for requirements) against the baseline
   `tomllib.loads` alone on the same text, in the same run, at 1,000, 10,000
   and 100,000 elements. Target: at 10,000 elements, load + check takes at
   most 2x `tomllib.loads`; the ratio stays flat with size (linear).
2. Authoring N elements by name, linking them, and converting to a PyGraph,
   at 10,000 and 100,000 elements. Target: t(100k) / t(10k) <= 12.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_pipelines.py [--repeat N] [--check]

Each figure is the minimum over the repeats; the cases compared run in turn
within each repeat. --check exits with status 1 when a target is missed.
"""

import argparse
import gc
import sys
import time
import tomllib

from kelo.checker.checking import check
from kelo.checker.description import loads
from kelo.ext.graph import (PyDataContract, PyEdge, PyElement, PyElementId, PyElementKind,
                            PyElementTypeId, PyGraph, PyPort)
from kelo.pipeline import ElementType, Pipeline

TYPES, CHAIN = 10, 50


def generate(n: int) -> str:
    """A description of `n` elements in chains of CHAIN: a source, operators
    of TYPES types, a sink; contracts on every port, a link per element."""
    out = ['[pipeline]\nname = "generated"\npolicy = "highest_priority"\n']
    links = []
    for i in range(n):
        position = i % CHAIN
        kind = "source" if position == 0 else "sink" if position == CHAIN - 1 else "operator"
        lines = [f'[[element]]\nname = "e{i}"\ntype = "kelo.bench.t{i % TYPES}"\n'
                 f'kind = "{kind}"']
        if kind != "source":
            lines.append('inputs = { in = { category = "frame", pixel_format = "nv12", '
                         'width = 1920, height = 1080 } }')
            links.append(f'[[link]]\nfrom = "e{i - 1}.out"\nto = "e{i}.in"\n')
        if kind != "sink":
            lines.append('outputs = { out = { category = "frame", pixel_format = "nv12" } }')
        if i % 3 == 0:
            lines.append('requires = ["cuda_required"]')
        lines.append(f'config = {{ index = "{i}" }}\n')
        out.append("\n".join(lines))
    out.extend(links)
    for t in range(TYPES):
        for p, caps in enumerate(('["cuda", "fp16"]', '["fp16"]', '["cuda"]')):
            out.append(f'[[provider]]\nid = "p{t}.{p}"\nversion = "1.{p}.0"\n'
                       f'element_types = ["kelo.bench.t{t}"]\npriority = {p * 3}\n'
                       f'capabilities = {caps}\n')
    return "\n".join(out)


def best(fn, repeat: int) -> float:
    return side_by_side([fn], repeat)[0]


def side_by_side(fns, repeat: int) -> list[float]:
    """The minimum time of each function over `repeat` rounds; each round runs
    every function once, in turn, so that a busy machine weighs on all alike."""
    times = [float("inf")] * len(fns)
    for _ in range(repeat):
        for i, fn in enumerate(fns):
            gc.collect()
            start = time.perf_counter()
            fn()
            times[i] = min(times[i], time.perf_counter() - start)
    return times


def author(n: int) -> None:
    frame = PyDataContract.frame()
    op = ElementType("kelo.bench.op", PyElementKind.Operator, {"in": frame}, {"out": frame})
    p = Pipeline("bench")
    for i in range(n):
        p.add(f"e{i}", op)
    for i in range(1, n):
        p.link(f"e{i - 1}.out", f"e{i}.in")
    p.to_graph()


def raw(n: int) -> None:
    """The baseline of authoring: the same graph made with kelo.ext alone,
    ports kept by hand."""
    frame = PyDataContract.frame()
    tid = PyElementTypeId("kelo.bench.op")
    graph = PyGraph()
    ports = []
    for i in range(n):
        pi, po = PyPort.input("in", frame), PyPort.output("out", frame)
        graph.add_element(PyElement(PyElementId.new(), tid, f"e{i}", PyElementKind.Operator)
                          .with_input(pi).with_output(po))
        ports.append((pi.id, po.id))
    for i in range(1, n):
        graph.add_edge(PyEdge(ports[i - 1][1], ports[i][0]))


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    ok = True

    print("load + check of a generated file vs tomllib.loads alone (same text, same run)")
    print(f"{'elements':>10} {'bytes':>11} {'tomllib':>10} {'load+check':>11} {'ratio':>6}")
    for n in (1_000, 10_000, 100_000):
        text = generate(n)
        repeat = args.repeat if n < 100_000 else 1
        result = None

        def run() -> None:
            nonlocal result
            result = check(loads(text, "generated.toml"))
        base, total = side_by_side([lambda: tomllib.loads(text), run], repeat)
        assert result is not None and result.errors == 0, [str(f) for f in result.findings[:3]]
        ratio = total / base
        print(f"{n:>10,} {len(text):>11,} {base:>9.3f}s {total:>10.3f}s {ratio:>6.2f}")
        if n == 10_000 and ratio > 2.0:
            print("  target missed: load + check over 2x tomllib.loads")
            ok = False

    print("\nauthoring by name and converting to a PyGraph, beside the same graph made")
    print("with kelo.ext alone (ids kept by hand)")
    print(f"{'elements':>10} {'by name':>10} {'kelo.ext':>10}")
    t10, r10, t100, r100 = side_by_side([lambda: author(10_000), lambda: raw(10_000),
                                         lambda: author(100_000), lambda: raw(100_000)],
                                        args.repeat)
    print(f"{'10,000':>10} {t10:>9.3f}s {r10:>9.3f}s\n{'100,000':>10} {t100:>9.3f}s {r100:>9.3f}s")
    print(f"t(100k)/t(10k) = {t100 / t10:.2f} (target <= 12); kelo.ext alone: {r100 / r10:.2f}")
    if t100 / t10 > 12:
        ok = False
    return 0 if ok or not args.check else 1


if __name__ == "__main__":
    sys.exit(main())
