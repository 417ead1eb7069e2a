"""Benchmark of the runtime: the cost of a hop between Python elements, the
overlap of work that releases the interpreter lock, memory over long runs,
and native hops.

1. Per hop: 100,000 items from a source through a chain of ten pass-through
   Python elements (Serialized, PreserveSequence, Block) into a sink, per
   item per hop, against (a) the floor, the same ten `process` calls in a
   plain loop, and (b) ten threads joined by `queue.Queue(maxsize=16)`.
   Targets: at most 3x the floor, at least 3x faster than the threads.
2. Overlap: two stages of ~1 ms each of work that releases the lock
   (hashlib.sha256 over 4 MiB), 200 items, against one loop running both.
   Target: at least 1.7x the loop's speed (on two cores).
3. Memory: the peak RSS of a 1,000,000-item run through ten elements against
   a 10,000-item run, each in a fresh process. Target: at most 1.2x.
4. Native hops: the marginal cost of a hop of `kelo.native.passthrough`
   (ten of them against none between the same source and sink) against that
   of a Python pass-through hop. Target: at most a tenth.

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_runtime.py [--repeat N] [--check]

Each figure is the median over the repeats. --check exits with status 1
when a target is missed.
"""

import argparse
import hashlib
import queue
import statistics
import subprocess
import sys
import threading
import time

import kelo
from kelo.ext.execution import PyConcurrency, PyExecutionContract
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline
from kelo.runtime import NativePassthrough

ITEMS, HOPS = 100_000, 10
ANY = PyDataContract.custom("any")
SERIAL = PyExecutionContract().with_concurrency(PyConcurrency.serialized())


class Count(kelo.Element):
    contract = SERIAL

    def generate(self):
        n = int(self.config.get("items", ITEMS))
        return ({"out": i} for i in range(n))


class Pass(kelo.Element):
    contract = SERIAL

    def process(self, inputs):
        return {"out": inputs["in"]}


class Sink(kelo.Element):
    contract = SERIAL

    def process(self, inputs):
        return None


class Hash(kelo.Element):
    contract = SERIAL
    data = bytes(4 << 20)

    def process(self, inputs):
        hashlib.sha256(self.data).digest()
        return {"out": inputs["in"]}


SOURCE = ElementType("bench.count", PyElementKind.Source, outputs={"out": ANY})
PASS = ElementType("bench.pass", PyElementKind.Operator, {"in": ANY}, {"out": ANY})
NATIVE = ElementType("kelo.native.passthrough", PyElementKind.Operator, {"in": ANY}, {"out": ANY})
HASH = ElementType("bench.hash", PyElementKind.Operator, {"in": ANY}, {"out": ANY})
SINK = ElementType("bench.sink", PyElementKind.Sink, inputs={"in": ANY})
ELEMENTS = {"bench.count": Count, "bench.pass": Pass, "bench.sink": Sink, "bench.hash": Hash}


def chain(hop: ElementType, hops: int, items: int) -> Pipeline:
    p = Pipeline("bench").add("src", SOURCE, config={"items": str(items)})
    last = "src"
    for i in range(hops):
        p.add(f"e{i}", hop).link(f"{last}.out", f"e{i}.in")
        last = f"e{i}"
    return p.add("sink", SINK).link(f"{last}.out", "sink.in")


def timed_run(p: Pipeline) -> float:
    t = time.perf_counter()
    report = kelo.run(p, elements=ELEMENTS)
    elapsed = time.perf_counter() - t
    if not report.ok:
        raise SystemExit(f"run failed: {report.summary()}{report.findings}")
    return elapsed


def floor_loop() -> float:
    elements = [Pass() for _ in range(HOPS)]
    t = time.perf_counter()
    for i in range(ITEMS):
        out = {"out": i}
        for e in elements:
            out = e.process({"in": out["out"]})
    return time.perf_counter() - t


def threads() -> float:
    queues = [queue.Queue(maxsize=16) for _ in range(HOPS + 1)]
    end = object()

    def stage(e: Pass, inbox: queue.Queue, outbox: queue.Queue) -> None:
        while (v := inbox.get()) is not end:
            outbox.put(e.process({"in": v})["out"])
        outbox.put(end)

    workers = [threading.Thread(target=stage, args=(Pass(), queues[i], queues[i + 1]))
               for i in range(HOPS)]
    t = time.perf_counter()
    for w in workers:
        w.start()

    def drain() -> None:
        while queues[-1].get() is not end:
            pass

    sink = threading.Thread(target=drain)
    sink.start()
    for i in range(ITEMS):
        queues[0].put(i)
    queues[0].put(end)
    sink.join()
    return time.perf_counter() - t


def overlap() -> tuple[float, float]:
    h = Hash()
    t = time.perf_counter()
    for i in range(200):
        h.process({"in": h.process({"in": i})["out"]})
    loop = time.perf_counter() - t
    p = (Pipeline("overlap").add("src", SOURCE, config={"items": "200"})
         .add("a", HASH).add("b", HASH).add("sink", SINK)
         .link("src.out", "a.in").link("a.out", "b.in").link("b.out", "sink.in"))
    return loop, timed_run(p)


def peak_rss_kib(items: int) -> int:
    code = ("import resource, sys; sys.path.insert(0, 'bench'); import bench_runtime as b; "
            f"b.timed_run(b.chain(b.PASS, b.HOPS, {items})); "
            "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    return int(out.stdout.split()[-1])


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()
    per = ITEMS * HOPS
    kelo_s, floor_s, threads_s, none_s, native_s = [], [], [], [], []
    for _ in range(args.repeat):
        kelo_s.append(timed_run(chain(PASS, HOPS, ITEMS)) / per)
        floor_s.append(floor_loop() / per)
        threads_s.append(threads() / per)
        none_s.append(timed_run(chain(PASS, 0, ITEMS)) / ITEMS)
        native_s.append(timed_run(chain(NATIVE, HOPS, ITEMS)) / ITEMS)
    hop, floor, thread_hop = map(statistics.median, (kelo_s, floor_s, threads_s))
    missed = []

    def report(name: str, text: str, ok: bool) -> None:
        print(f"{name:<10} {text}  [{'ok' if ok else 'MISSED'}]")
        if not ok:
            missed.append(name)

    report("hop", f"kelo {hop * 1e9:7.0f} ns  floor {floor * 1e9:7.0f} ns  "
           f"ratio {hop / floor:5.2f}x (target <= 3)", hop <= 3 * floor)
    report("threads", f"kelo {hop * 1e9:7.0f} ns  queue.Queue threads {thread_hop * 1e9:7.0f} ns  "
           f"speed-up {thread_hop / hop:5.2f}x (target >= 3)", thread_hop >= 3 * hop)
    python_hop = statistics.median(k * HOPS - n for k, n in zip(kelo_s, none_s)) / HOPS
    native_hop = statistics.median(k - n for k, n in zip(native_s, none_s)) / HOPS
    report("native", f"native hop {native_hop * 1e9:7.1f} ns  python hop {python_hop * 1e9:7.0f} ns"
           f"  ratio {native_hop / python_hop:5.3f} (target <= 0.1)", native_hop <= 0.1 * python_hop)
    loops, runs = zip(*(overlap() for _ in range(args.repeat)))
    loop, ran = statistics.median(loops), statistics.median(runs)
    report("overlap", f"kelo {ran * 1e3:6.1f} ms  one loop {loop * 1e3:6.1f} ms  "
           f"speed-up {loop / ran:4.2f}x (target >= 1.7)", loop >= 1.7 * ran)
    small, large = peak_rss_kib(10_000), peak_rss_kib(1_000_000)
    report("memory", f"1M items {large / 1024:6.1f} MiB  10k items {small / 1024:6.1f} MiB  "
           f"ratio {large / small:4.2f} (target <= 1.2)", large <= 1.2 * small)
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
