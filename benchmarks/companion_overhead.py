"""What swarmtuner_search adds per evaluation to swarmtuner.PSO.min, with an f that only
returns 0.0: reading the parameters back, the record, the budget and the order of values.

    .venv/bin/python benchmarks/companion_overhead.py

Process CPU time per evaluation, the least of 5 runs of 20,000 evaluations each. Nothing is
asserted; README.md quotes the numbers.
"""

from __future__ import annotations

import time
from collections.abc import Callable
from typing import Any

import swarmtuner
from swarmtuner_search import Choice, Dec, Float, Int, minimize

EVALUATIONS = 20_000


def per_evaluation(run: Callable[[], Any]) -> float:
    """Microseconds per evaluation of the fastest of 5 runs."""
    best = float("inf")
    for _ in range(5):
        started = time.process_time()
        run()
        best = min(best, time.process_time() - started)
    return best / EVALUATIONS * 1e6


def main() -> None:
    pso = swarmtuner.PSO(n_iters=EVALUATIONS // 100 - 1, n_particles=100, c1=0.7, c2=1.0,
                         inertia=0.5)
    cases: dict[str, Callable[[], Any]] = {
        "PSO.min, 10 f64 dimensions": lambda: pso.min(
            lambda f64: 0.0, f64_min=[-1.0] * 10, f64_max=[1.0] * 10),
        "minimize, one list of 10 Floats": lambda: minimize(
            lambda x: 0.0, {"x": Float([-1.0] * 10, [1.0] * 10)}, max_evals=EVALUATIONS),
        "minimize, 10 named Floats": lambda: minimize(
            lambda **params: 0.0, {f"x{k}": Float(-1.0, 1.0) for k in range(10)},
            max_evals=EVALUATIONS),
        "minimize, Int, log Float, Dec, Choice": lambda: minimize(
            lambda n, rate, price, mode: 0.0,
            {"n": Int(1, 32), "rate": Float(1e-4, 0.5, log=True),
             "price": Dec("0.00", "50.00", step="0.01"), "mode": Choice(["a", "b"])},
            max_evals=EVALUATIONS),
    }
    for label, run in cases.items():
        print(f"{label:40} {per_evaluation(run):6.2f} µs per evaluation")


if __name__ == "__main__":
    main()
