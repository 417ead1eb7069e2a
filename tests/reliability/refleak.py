"""Reference-leak check: drives every public callable on its success and failure
paths, round after round, under a debug interpreter, and fails when the total
reference count or the number of allocated blocks grows in every measured round
(a real leak grows each round; the interpreter's own caches jitter).

Run under python3.11-dbg with a module built against its headers (see
scripts/refleak.sh); a release interpreter has no sys.gettotalrefcount.
"""

import gc
import random
import sys

import driver

WARMUP, ROUNDS, PER_CALLABLE = 5, 8, 24


def one_round():
    rng, samples = random.Random(1), driver.find_samples()
    count = 0
    for _, thunk in driver.calls(samples, rng, PER_CALLABLE, hostile=True):
        try:
            thunk()
        except Exception:
            pass
        count += 1
    return count


def measure():
    gc.collect()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def main():
    if not hasattr(sys, "gettotalrefcount"):
        sys.exit("refleak: needs a debug interpreter (python3.11-dbg)")
    driver.complete_samples("refleak")
    for _ in range(WARMUP):
        calls = one_round()
    # Preallocated, and filled with differences only after each measurement, so that keeping the numbers does
    # not itself allocate inside a round.
    deltas = [[0, 0] for _ in range(ROUNDS)]
    for slot in deltas:
        refs, blocks = measure()
        one_round()
        after = measure()
        slot[0], slot[1] = after[0] - refs, after[1] - blocks
    refs, blocks = ([d[i] for d in deltas] for i in (0, 1))
    print(f"refleak: {ROUNDS} rounds of {calls} calls; reference deltas {refs}, block deltas {blocks}")
    # References are exact: any growth in every round is a leak. Blocks also move with the interpreter's own
    # caches (a few per round, never steadily), so they count as a leak when every round grows by at least one
    # block per call of some callable.
    if all(d > 0 for d in refs) or all(d >= PER_CALLABLE for d in blocks):
        sys.exit("refleak: references or memory blocks grow with the calls")


if __name__ == "__main__":
    main()
