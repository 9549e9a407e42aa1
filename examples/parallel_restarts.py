"""Independent restarts in parallel processes: the way to use several cores.

One search runs on the thread that calls it and holds the interpreter lock throughout, so
threads do not make it faster. Separate processes do: each runs its own search with its own
random generator, and the best of several independent restarts is a sturdier answer than one
run on a function with many local minima. The function here is the 6-dimensional Rastrigin
function: its minimum is 0 at the origin, and it has a local minimum near every point with
integer coordinates, whose values lie near 1, 2, 3 and so on. The script prints each restart's
best value and then the best of all restarts, which is the smallest of the values above it.

A search that fails in a worker must come back as an exception that pickle can carry (see
SearchFailed). With --with-failure the last restart's objective raises, as a faulty objective
would, and that restart's line shows the failure's message instead of a value.
"""

from __future__ import annotations

import math
import os
import sys
from concurrent.futures import ProcessPoolExecutor

import swarmtuner

DIMENSIONS = 6


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


class SearchFailed(Exception):
    """A search that failed in a worker process, carried to the parent with its message.

    A failed search raises pyo3_runtime.PanicException, which cannot travel between processes:
    pickle names its class by the module 'pyo3_runtime', which exists only inside the extension
    and cannot be imported in the parent, so the parent gets a PicklingError in its place. The
    worker catches it (by name: the class derives from BaseException and is not exported) and
    raises this ordinary exception, whose one argument is the message.
    """


def rastrigin(f64: list[float]) -> float:
    return 10.0 * len(f64) + sum(x * x - 10.0 * math.cos(2.0 * math.pi * x) for x in f64)


def faulty_rastrigin(f64: list[float]) -> float:
    """Stands in for an objective with a bug: it fails on its first call."""
    raise ValueError(f"the model diverged at x0 = {f64[0]:.3f}")


def restart(quick: bool, faulty: bool = False) -> tuple[float, list[float]]:
    """One independent search. It runs in a worker process, so it builds its own PSO (PSO
    objects cannot be pickled), returns plain values and raises only what pickle can carry."""
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 300,
        n_particles=10 if quick else 60,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    objective = faulty_rastrigin if faulty else rastrigin
    low, high = [-5.12] * DIMENSIONS, [5.12] * DIMENSIONS
    try:
        value, best = pso.min(objective, f64_min=low, f64_max=high)
    except BaseException as error:
        if type(error).__name__ != "PanicException":
            raise
        raise SearchFailed(str(error)) from error
    return value, best["f64"]


def main() -> None:
    quick = quick_mode()
    with_failure = "--with-failure" in sys.argv[1:]
    restarts = 2 if quick else 8
    workers = min(restarts, os.cpu_count() or 1)
    results: list[tuple[float, list[float]] | SearchFailed] = []
    # Each worker process draws its own random starting points, forked or spawned.
    with ProcessPoolExecutor(max_workers=workers) as pool:
        futures = [
            pool.submit(restart, quick, with_failure and index == restarts - 1)
            for index in range(restarts)
        ]
        for future in futures:
            try:
                results.append(future.result())
            except SearchFailed as failure:
                results.append(failure)
    for index, result in enumerate(results):
        if isinstance(result, SearchFailed):
            print(f"restart {index}  failed: {result}")
        else:
            print(f"restart {index}  best {result[0]:.4f}")
    found = {k: r for k, r in enumerate(results) if not isinstance(r, SearchFailed)}
    if not found:
        print("every restart failed")
        return
    best_index = min(found, key=lambda k: found[k][0])
    value, point = found[best_index]
    print(f"best of {restarts} restarts  {value:.4f} (restart {best_index}, {workers} processes)")
    print(f"at  {', '.join(f'{x:.3f}' for x in point)}")


if __name__ == "__main__":
    main()
