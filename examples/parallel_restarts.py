"""Independent restarts in parallel processes: the way to use several cores.

One search runs on the thread that calls it and holds the interpreter lock throughout, so
threads do not make it faster. Separate processes do: each runs its own search with its own
random generator, and the best of several independent restarts is a sturdier answer than one
run on a function with many local minima. The function here is the 6-dimensional Rastrigin
function: its minimum is 0 at the origin, and it has a local minimum near every point with
integer coordinates, whose values lie near 1, 2, 3 and so on. The script prints each restart's
best value and then the best of all restarts, which is the smallest of the values above it.
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


def rastrigin(f64: list[float]) -> float:
    return 10.0 * len(f64) + sum(x * x - 10.0 * math.cos(2.0 * math.pi * x) for x in f64)


def restart(quick: bool) -> tuple[float, list[float]]:
    """One independent search. It runs in a worker process, so it builds its own PSO (PSO
    objects cannot be pickled) and returns plain values."""
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 300,
        n_particles=10 if quick else 60,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    value, best = pso.min(rastrigin, f64_min=[-5.12] * DIMENSIONS, f64_max=[5.12] * DIMENSIONS)
    return value, best["f64"]


def main() -> None:
    quick = quick_mode()
    restarts = 2 if quick else 8
    workers = min(restarts, os.cpu_count() or 1)
    # Each worker process draws its own random starting points, forked or spawned.
    with ProcessPoolExecutor(max_workers=workers) as pool:
        results = list(pool.map(restart, [quick] * restarts))
    for index, (value, _) in enumerate(results):
        print(f"restart {index}  best {value:.4f}")
    best_index = min(range(restarts), key=lambda k: results[k][0])
    value, point = results[best_index]
    print(f"best of {restarts} restarts  {value:.4f} (restart {best_index}, {workers} processes)")
    print(f"at  {', '.join(f'{x:.3f}' for x in point)}")


if __name__ == "__main__":
    main()
