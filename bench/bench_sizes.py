"""Exact tensor sizes of many 64-bit dimensions: PyTensor.numel() beside
math.prod of the same Python ints, in the same run, and beside a balanced
product tree in Python (pairwise products, which the interpreter multiplies by
Karatsuba). Target: numel() within 2x of math.prod.

math.prod multiplies one factor at a time, which is quadratic in the number
of factors; it runs in a child process stopped after --limit seconds, and a
stopped run is printed as "> limit".

    PYTHONPATH=python python3 bench/bench_sizes.py [--sizes 100000 1000000] [--limit 600]
"""

import argparse
import math
import os
import subprocess
import sys
import time

from kelo.ext.data import PyDType, PyTensor

FACTOR = 2**64 - 1


def tree(xs):
    while len(xs) > 1:
        xs = [xs[i] * xs[i + 1] for i in range(0, len(xs) - 1, 2)] + xs[len(xs) - len(xs) % 2:]
    return xs[0]


def timed(fn, *args):
    start = time.perf_counter()
    fn(*args)
    return time.perf_counter() - start


def prod_in_child(n, limit):
    code = ("import math, time; xs = [2**64 - 1] * %d; s = time.perf_counter(); math.prod(xs); "
            "print(time.perf_counter() - s)" % n)
    try:
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                             timeout=limit, check=True, env=dict(os.environ))
    except subprocess.TimeoutExpired:
        return None
    return float(out.stdout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", type=int, nargs="+", default=[100_000, 1_000_000])
    parser.add_argument("--limit", type=float, default=600.0)
    args = parser.parse_args()
    print(f"{'n':>10} {'numel':>10} {'math.prod':>12} {'ratio':>7} {'tree':>10}")
    for n in args.sizes:
        xs = [FACTOR] * n
        t = PyTensor(PyDType.Int8, xs)
        assert t.numel() == tree(list(xs))
        ours = min(timed(t.numel) for _ in range(3 if n <= 100_000 else 1))
        pairwise = timed(tree, list(xs))
        prod = prod_in_child(n, args.limit)
        shown = f"{prod:10.2f} s" if prod is not None else f"> {args.limit:.0f} s"
        ratio = f"{ours / prod:7.3f}" if prod is not None else f"< {ours / args.limit:.3f}"
        print(f"{n:>10,} {ours:8.2f} s {shown:>12} {ratio:>7} {pairwise:8.2f} s")


if __name__ == "__main__":
    main()
