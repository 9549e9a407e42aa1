"""Soak test: many small searches of varied kinds and outcomes must not grow the process.

    python tests/soak/soak.py [SEARCHES]        (default 100000; CI runs 5000)

After a warm-up, the resident memory may grow by less than 2 MB, and neither the number of
live Python objects nor the memory traced by tracemalloc may grow. Failure reports that the
module writes to standard error are discarded while the searches run.
"""

import gc
import os
import sys
import tracemalloc

import swarmtuner

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from reliability_searches import ALL_KINDS, nested, sphere  # noqa: E402

PAGE = os.sysconf("SC_PAGE_SIZE")
RSS_LIMIT = 2 * 1024 * 1024
# Objects and bytes allowed to come and go between two measurements (interned strings,
# free lists, the warmed-up caches of decimal and tracemalloc itself).
OBJECT_SLACK = 0
TRACED_SLACK = 64 * 1024


def resident():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE


def raising(**point):
    raise ValueError("objective failed")


def unordered(**point):
    return None


# (objective, bounds, maximise, expected outcome: None for a result, else the exception class
# name)
SCENARIOS = [
    (sphere, {"f64_min": [-1.0, -2.0], "f64_max": [1.0, 2.0]}, False, None),
    (sphere, ALL_KINDS, False, None),
    (sphere, ALL_KINDS, True, None),
    (sphere, {"i_min": [-(2**200)], "i_max": [2**200], "d_min": [0], "d_max": ["0.5"]}, True, None),
    (nested, {"c128_min": [0j], "c128_max": [1j + 1]}, False, None),
    (raising, ALL_KINDS, False, "PanicException"),
    (sphere, {"f64_min": [1.0], "f64_max": [0.0]}, False, "PanicException"),
    (unordered, {"i8_min": [0], "i8_max": [3]}, True, "PanicException"),
    (sphere, {"i8_min": [0], "i8_max": [300]}, False, "OverflowError"),
    (sphere, {"d_min": ["1e-07"], "d_max": ["1"]}, False, "ValueError"),
    (sphere, {"f64_min": "text"}, False, "TypeError"),
    (sphere, {}, False, None),
]


def run(count):
    pso = swarmtuner.PSO(n_iters=2, n_particles=3)
    for k in range(count):
        f, bounds, maximise, expected = SCENARIOS[k % len(SCENARIOS)]
        try:
            value, point = (pso.max if maximise else pso.min)(f, **bounds)
            outcome = None
        except BaseException as error:  # noqa: BLE001 - every outcome is checked below
            outcome = type(error).__name__
        if outcome != expected:
            raise AssertionError(f"scenario {k % len(SCENARIOS)}: {outcome} instead of {expected}")


def measure():
    gc.collect()
    return resident(), len(gc.get_objects()), tracemalloc.get_traced_memory()[0]


def main():
    total = int(sys.argv[1]) if len(sys.argv) > 1 else 100_000
    warm_up = max(len(SCENARIOS) * 50, total // 10)
    # Failure reports go to the process's standard error; keep them off the terminal.
    saved_stderr = os.dup(2)
    with open(os.devnull, "w") as devnull:
        os.dup2(devnull.fileno(), 2)
    try:
        tracemalloc.start()
        run(warm_up)
        rss0, objects0, traced0 = measure()
        run(total - warm_up)
        rss1, objects1, traced1 = measure()
    finally:
        os.dup2(saved_stderr, 2)
    print(
        f"{total} searches: resident memory {rss1 - rss0:+d} bytes, live objects "
        f"{objects1 - objects0:+d}, traced Python memory {traced1 - traced0:+d} bytes "
        f"(after {warm_up} to warm up)"
    )
    ok = rss1 - rss0 < RSS_LIMIT and objects1 - objects0 <= OBJECT_SLACK
    ok = ok and traced1 - traced0 <= TRACED_SLACK
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
