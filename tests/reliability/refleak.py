"""Reference-leak check: drives every public callable on its success and failure
paths, round after round, under a debug interpreter, and fails when the total
reference count or the number of allocated blocks grows in every measured round.

Run under python3.11-dbg with a module built against its headers (see
scripts/refleak.sh); a release interpreter has no sys.gettotalrefcount.
"""

import gc
import random
import sys

import driver

WARMUP, ROUNDS, PER_CALLABLE = 3, 6, 8


def one_round():
    rng = random.Random(1)
    samples = driver.find_samples()
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
    missing = driver.missing_drivers(driver.find_samples())
    if missing:
        sys.exit(f"refleak: no instance could be made of: {', '.join(missing)}")
    for _ in range(WARMUP):
        calls = one_round()
    # One measurement around all rounds: storing a value per round would itself
    # hold references.
    refs, blocks = measure()
    for _ in range(ROUNDS):
        one_round()
    after = measure()
    refs, blocks = after[0] - refs, after[1] - blocks
    print(f"refleak: {ROUNDS} rounds of {calls} calls; reference delta {refs}, block delta {blocks}")
    if refs >= ROUNDS or blocks >= ROUNDS:
        sys.exit("refleak: references or memory blocks grow with the calls")

if __name__ == "__main__":
    main()
