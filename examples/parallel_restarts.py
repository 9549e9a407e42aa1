"""Independent restarts in parallel processes: the way to use several cores.

One search runs on the thread that calls it and holds the interpreter lock throughout, so
threads do not make it faster. Separate processes do: each runs its own search with its own
random generator, and the best of several independent restarts is a sturdier answer than one
run on a function with many local minima. The function here is the 6-dimensional Rastrigin
function: its minimum is 0 at the origin, and it has a local minimum near every point with
integer coordinates, whose values lie near 1, 2, 3 and so on. The script prints each restart's
best value and then the best of all restarts, which is the smallest of the values above it.

A restart is one call of minimize in a worker: its result, and an exception raised by the
objective (which minimize passes on as it is), travel back to the parent by pickle. With
--with-failure the last restart's objective raises, as a faulty objective would, and that
restart's line shows the exception instead of a value.
"""

from __future__ import annotations

import math
import os
import sys
from concurrent.futures import ProcessPoolExecutor

from swarmtuner_search import Float, Result, minimize

DIMENSIONS = 6
SPACE = {"x": Float([-5.12] * DIMENSIONS, [5.12] * DIMENSIONS)}


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def rastrigin(x: list[float]) -> float:
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def faulty_rastrigin(x: list[float]) -> float:
    """Stands in for an objective with a bug: it fails on its first call."""
    raise ValueError(f"the model diverged at x0 = {x[0]:.3f}")


def restart(quick: bool, faulty: bool = False) -> Result[float]:
    """One independent search, run in a worker process."""
    objective = faulty_rastrigin if faulty else rastrigin
    return minimize(objective, SPACE, max_evals=100 if quick else 18_000)


def main() -> None:
    quick = quick_mode()
    with_failure = "--with-failure" in sys.argv[1:]
    restarts = 2 if quick else 8
    workers = min(restarts, os.cpu_count() or 1)
    results: list[Result[float] | ValueError] = []
    # Each worker process draws its own random starting points, forked or spawned.
    with ProcessPoolExecutor(max_workers=workers) as pool:
        futures = [
            pool.submit(restart, quick, with_failure and index == restarts - 1)
            for index in range(restarts)
        ]
        for future in futures:
            try:
                results.append(future.result())
            except ValueError as failure:  # the objective's own exception
                results.append(failure)
    for index, result in enumerate(results):
        if isinstance(result, ValueError):
            print(f"restart {index}  failed: {result!r}")
        else:
            print(f"restart {index}  best {result.value:.4f}")
    found = {k: r for k, r in enumerate(results) if isinstance(r, Result)}
    if not found:
        print("every restart failed")
        return
    best_index = min(found, key=lambda k: found[k].value)
    best = found[best_index]
    print(
        f"best of {restarts} restarts  {best.value:.4f} (restart {best_index}, {workers} processes)"
    )
    print(f"at  {', '.join(f'{v:.3f}' for v in best.params['x'])}")


if __name__ == "__main__":
    main()
