"""Hostile-input run: every public callable with random arguments of random types.

Only the exceptions of a well-behaved binding may come out, nothing may crash, and
an object whose method raised must be left as it was.
"""

import random
import subprocess
import sys
import textwrap

import driver

ALLOWED = (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError)
# Allowed only for an argument named by a note: a sequence whose length lies or exceeds memory.
NOTED = (IndexError, MemoryError)


# Run in a child: the address space is limited to a little above what the process
# uses, then a registration that needs far more is made from the main thread and
# from a thread started under the limit, which has not entered the module before. Each must raise
# MemoryError and leave the registry as it was; the C++ runtime's per-thread
# state for its first exception must not be what runs out.
PRESSURE = textwrap.dedent("""
    import resource, threading
    from kelo.ext.graph import PyElementTypeId
    from kelo.ext.provider import PyProviderDescriptor, PyProviderId, PyProviderRegistry, PyVersion

    big = PyProviderDescriptor(PyProviderId("vendor.big"), PyVersion(1, 0, 0))
    for i in range(200_000):
        big = big.with_element_type(PyElementTypeId(f"kelo.pressure.type{i}"))
    registry, outcomes, go = PyProviderRegistry(), [], threading.Event()

    def register():
        try:
            registry.register(big)
            outcomes.append("registered")
        except MemoryError:
            outcomes.append(("MemoryError", len(registry)))

    def fresh():
        go.wait()
        register()

    with open("/proc/self/statm") as f:
        limit = int(f.read().split()[0]) * resource.getpagesize() + (16 << 20)
    resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))
    # Started under the limit, so that it cannot reserve an allocator arena
    # of its own; a small stack leaves the room to the registrations.
    threading.stack_size(1 << 18)
    thread = threading.Thread(target=fresh)
    thread.start()
    register()
    go.set()
    thread.join()
    print(outcomes)
""")


def memory_pressure():
    p = subprocess.run([sys.executable, "-c", PRESSURE], capture_output=True, text=True, timeout=600)
    expected = str([("MemoryError", 0)] * 2)
    if p.returncode != 0 or p.stdout.strip() != expected:
        sys.exit(f"hostile: registration under an address-space limit: exit {p.returncode}, "
                 f"printed {p.stdout.strip()!r} (expected {expected}), {p.stderr.strip()[-300:]!r}")
    print("hostile: MemoryError under an address-space limit, from the main thread and a fresh one")


def main(seeds=range(int(sys.argv[1]) if len(sys.argv) > 1 else 20)):
    memory_pressure()
    samples = driver.complete_samples("hostile")
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
