"""Hostile-input run: every public callable with random arguments of random types.

Only the exceptions of a well-behaved binding may come out, nothing may crash, and
an object whose method raised must be left as it was.
"""

import random
import sys

import driver

ALLOWED = (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError)
# Allowed only for an argument named by a note: a sequence whose length lies or exceeds memory.
NOTED = (IndexError, MemoryError)


def main(seeds=range(int(sys.argv[1]) if len(sys.argv) > 1 else 20)):
    samples = driver.find_samples()
    missing = driver.missing_drivers(samples)
    if missing:
        sys.exit(f"hostile: no instance could be made of: {', '.join(missing)}")
    total = 0
    for seed in seeds:
        rng = random.Random(seed)
        for label, thunk in driver.calls(driver.find_samples(), rng, 20, hostile=True):
            receiver = getattr(thunk, "__defaults__", None) or ()
            # A call whose argument called back into the receiver may see it changed by the callbacks, not by
            # the call that raised.
            called_back = any(isinstance(a, driver.CallsBack) for a in receiver[-1:][0]) if (
                receiver and isinstance(receiver[-1], list)) else False
            before = [] if called_back else [repr(r) for r in receiver[:1]]
            try:
                thunk()
            except ALLOWED + NOTED as error:
                if isinstance(error, NOTED) and not getattr(error, "__notes__", None):
                    sys.exit(f"hostile: {label} raised {type(error).__name__} without a note: {error}")
                after = [] if called_back else [repr(r) for r in receiver[:1]]
                if label.split(".")[-1] not in ("__init__",) and before != after:
                    sys.exit(f"hostile: {label} raised but changed its receiver: {before} -> {after}")
            except Exception as error:  # anything else is a fault of the binding
                sys.exit(f"hostile: {label} raised {type(error).__name__}: {error}")
            total += 1
    print(f"hostile: {total} calls over {len(seeds)} seeds, classes {len(samples)}")


if __name__ == "__main__":
    main()
