"""Benchmark of pipelines placed on a Dask cluster: the speed-up of work
that holds the interpreter lock, and the cost of a crossing link.

1. Throughput: four streams from the test pattern (64x144, 2 objects), each
   through a detector whose work is pure Python (it holds the interpreter
   lock), into a counting sink. One process runs them all (the baseline);
   on a local cluster of 2 worker processes streams 1-2 run in group "a"
   and streams 3-4 in group "b" (sources placed too), one group a worker.
   Target: at least 1.6x the baseline's frames per second (on two cores).
2. Crossing cost: a stream of small items source -> pass-through -> sink
   on the cluster, the sink in the same group (its link a hop inside the
   group: the baseline) or in another group (a crossing link) at several
   batch sizes. The cost is the processor time all workers spend per item,
   the difference of two runs of different lengths, so that starting and
   ending cost nothing. Reported: the crossing's cost per item beyond the
   hop's, and the smallest batch at which it is under 10% of a 1 ms element
   (100 us).

Run from the repository root after a build:

    PYTHONPATH=python python3 bench/bench_cluster.py [--frames N] [--repeat N] [--check]

Throughput times are the median of --repeat runs. The machine's two cores
must be free for the ratio to mean anything. --check exits with status 1
when a target is missed.
"""

import argparse
import statistics
import sys
import time

import distributed

import kelo
import kelo.cluster
from kelo.elements.pixels import pixels, release
from kelo.elements.sources import TestPattern
from kelo.ext.execution import PyConcurrency, PyExecutionContract
from kelo.ext.graph import PyDataContract, PyElementKind
from kelo.pipeline import ElementType, Pipeline

SERIAL = PyExecutionContract().with_concurrency(PyConcurrency.serialized())
ANY = PyDataContract.custom("any")
FRAMES = PyDataContract.frame()


class PyDetector(kelo.Element):
    """Counts bright pixels with a Python loop, `passes` times over a
    picture (64x144): about 0.2 ms of work that holds the lock per pass."""

    contract = SERIAL

    def process(self, inputs):
        frame = inputs["frames"]
        rows = pixels(frame)[:, :, 0].tolist()
        release(frame)
        found = 0
        for _ in range(int(self.config.get("passes", "4"))):
            for row in rows:
                for v in row:
                    if v > 128:
                        found += 1
        return {"count": found}


class Tally(kelo.Element):
    contract = SERIAL

    def process(self, inputs):
        return None


class Numbers(kelo.Element):
    contract = SERIAL

    def generate(self):
        for i in range(int(self.config["n"])):
            yield {"out": i}


class Pass(kelo.Element):
    contract = SERIAL

    def process(self, inputs):
        return {"out": inputs["in"]}


def streams(frames):
    """Four test-pattern streams through detectors; two streams a group."""
    p = Pipeline("streams")
    source = ElementType("b.scene", PyElementKind.Source, outputs={"frames": FRAMES})
    detect = ElementType("b.detect", PyElementKind.Operator, {"frames": FRAMES}, {"count": ANY})
    tally = ElementType("b.tally", PyElementKind.Sink, {"count": ANY})
    for k in range(4):
        p.add(f"scene{k}", source, config={"seed": str(k + 1), "width": "64", "height": "144",
                                           "objects": "2", "frames": str(frames)})
        p.add(f"detect{k}", detect, config={"passes": "30"})
        p.add(f"tally{k}", tally)
        p.link(f"scene{k}.frames", f"detect{k}.frames").link(f"detect{k}.count", f"tally{k}.count")
    elements = {"b.scene": TestPattern, "b.detect": PyDetector, "b.tally": Tally}
    place = {f"{e}{k}": "a" if k < 2 else "b" for k in range(4) for e in ("scene", "detect")}
    return p, elements, place


def hops(n):
    p = Pipeline("hops")
    p.add("src", ElementType("h.src", PyElementKind.Source, outputs={"out": ANY}),
          config={"n": str(n)})
    p.add("pass", ElementType("h.pass", PyElementKind.Operator, {"in": ANY}, {"out": ANY}))
    p.add("sink", ElementType("h.sink", PyElementKind.Sink, {"count": ANY}))
    p.link("src.out", "pass.in").link("pass.out", "sink.count")
    return p, {"h.src": Numbers, "h.pass": Pass, "h.sink": Tally}


def timed(run):
    t = time.perf_counter()
    report = run()
    elapsed = time.perf_counter() - t
    assert report.outcome == "completed", report
    return elapsed


def cpu_per_item(client, run, short, long):
    """Processor seconds per item spent by every worker: the difference of a
    long and a short run."""
    def spent(n):
        before = sum(client.run(time.process_time).values())
        timed(lambda: run(n))
        return sum(client.run(time.process_time).values()) - before
    return (spent(long) - spent(short)) / (long - short)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--frames", type=int, default=300, help="frames per stream")
    parser.add_argument("--items", type=int, default=20000, help="items of the long hop run")
    parser.add_argument("--repeat", type=int, default=3, help="throughput runs (the median)")
    parser.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = parser.parse_args()
    missed = []
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  host="127.0.0.1", dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        p, elements, place = streams(args.frames)
        kelo.run(p, elements=elements, cluster=client, place=place)     # warm the workers
        one = statistics.median(timed(lambda: kelo.run(p, elements=elements))
                                for _ in range(args.repeat))
        two = statistics.median(timed(lambda: kelo.run(p, elements=elements, cluster=client,
                                                       place=place))
                                for _ in range(args.repeat))
        frames = 4 * args.frames
        ratio = one / two
        print(f"1. four streams, pure-Python detector, {frames} frames")
        print(f"   one process (baseline): {frames / one:8.1f} frames/s")
        print(f"   2 worker processes:     {frames / two:8.1f} frames/s   ratio {ratio:.2f}x "
              "(target >= 1.6x)")
        if ratio < 1.6:
            missed.append("throughput")

        short, long = args.items // 10, args.items
        hel = hops(0)[1]

        def inside(n):
            return kelo.run(hops(n)[0], elements=hel, cluster=client)

        hop = cpu_per_item(client, inside, short, long)
        print(f"2. a crossing link against a hop inside a group ({long} items; processor time)")
        print(f"   all in one group (baseline): {hop * 1e6:7.1f} us/item")
        under = None
        for batch in (1, 4, 16, 64, 256):
            def across(n, batch=batch):
                return kelo.cluster.start(hops(n)[0], cluster=client, elements=hel,
                                          place_in={"sink": "far"}, batch=batch).wait()
            cost = cpu_per_item(client, across, short, long) - hop
            print(f"   crossing, batch {batch:3}:      {cost * 1e6:7.1f} us/item beyond the "
                  f"hop ({cost / 1e-3:.1%} of a 1 ms element)")
            if under is None and cost < 1e-4:
                under = batch
        print(f"   smallest batch under 10% of a 1 ms element: {under}")
        if under is None:
            missed.append("crossing cost")
    if args.check and missed:
        print("missed:", ", ".join(missed))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
