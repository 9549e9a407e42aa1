"""How the default settings of swarmtuner_search were chosen: a grid of PSO settings on shifted
test functions at several budgets, ranked by the median best value.

    .venv/bin/python benchmarks/companion_defaults.py coefficients   # c1, c2, inertia, max_v
    .venv/bin/python benchmarks/companion_defaults.py finalists      # the best of them, by size
    .venv/bin/python benchmarks/companion_defaults.py particles      # swarm size per budget
    .venv/bin/python benchmarks/companion_defaults.py check          # the last two, mixed kinds

The first study ranks a grid of settings with 5 runs per cell; the second takes the leaders
with 15 runs at several swarm sizes; the third finds the best swarm size at budgets from 100
to 10,000; the fourth compares the two leading settings through swarmtuner_search.minimize,
with its swarm sizes, on the shifted functions and on problems with integer and decimal
parameters.

Each search runs swarmtuner.PSO.min on f64 dimensions, which is what minimize runs for a space
of Floats (its wrapper changes no step of the search). The functions are 10-dimensional and
shifted by a random vector per run, so that no optimum sits at the centre of the box or on a
bound, where clamping would find it for free. Nothing here is asserted; the numbers are
printed, and README.md quotes them.
"""

from __future__ import annotations

import argparse
import itertools
import math
import random
import statistics
import time
from collections.abc import Callable, Sequence
from typing import Any

import swarmtuner

DIMENSIONS = 10
LOW, HIGH = -5.0, 5.0

Objective = Callable[[list[float]], float]


def sphere(x: Sequence[float]) -> float:
    return sum(v * v for v in x)


def rosenbrock(x: Sequence[float]) -> float:
    # Shifted so that its minimum, at (1, ..., 1) unshifted, lies where the shift puts it.
    y = [v + 1.0 for v in x]
    return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(y, y[1:]))


def rastrigin(x: Sequence[float]) -> float:
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


def ackley(x: Sequence[float]) -> float:
    n = len(x)
    squares = sum(v * v for v in x) / n
    cosines = sum(math.cos(2.0 * math.pi * v) for v in x) / n
    return -20.0 * math.exp(-0.2 * math.sqrt(squares)) - math.exp(cosines) + 20.0 + math.e


FUNCTIONS: dict[str, Callable[[Sequence[float]], float]] = {
    "sphere": sphere,
    "rosenbrock": rosenbrock,
    "rastrigin": rastrigin,
    "ackley": ackley,
}


def shifted(function: Callable[[Sequence[float]], float], rng: random.Random) -> Objective:
    shift = [rng.uniform(0.6 * LOW, 0.6 * HIGH) for _ in range(DIMENSIONS)]

    def objective(f64: list[float]) -> float:
        return function([v - s for v, s in zip(f64, shift)])

    return objective


def best_value(
    settings: dict[str, float], particles: int, budget: int, objective: Objective
) -> float:
    pso = swarmtuner.PSO(n_iters=budget // particles - 1, n_particles=particles, **settings)
    value, _ = pso.min(objective, f64_min=[LOW] * DIMENSIONS, f64_max=[HIGH] * DIMENSIONS)
    return value


def score(values: list[float]) -> float:
    """The median best value, as a power of ten (values below 1e-12 count as 1e-12)."""
    return math.log10(max(statistics.median(values), 1e-12))


def coefficients(runs: int, budgets: list[int], particles: int) -> None:
    grid = list(
        itertools.product([0.3, 0.5, 0.7, 1.0, 1.3], [0.3, 0.6, 1.0, 1.5], [0.3, 0.5, 0.7, 0.9],
                          [0.1, 0.2, 0.5])
    )
    grid.append((2.0, 2.0, 0.5, 0.2))  # swarmtuner.PSO's own defaults, for comparison
    columns = [(name, budget) for budget in budgets for name in FUNCTIONS]
    scores: dict[tuple[float, ...], list[float]] = {}
    started = time.monotonic()
    for setting in grid:
        c1, c2, inertia, max_v = setting
        settings = {"c1": c1, "c2": c2, "inertia": inertia, "max_v": max_v}
        row = []
        for name, budget in columns:
            # The same shifts for every setting: run k of a column meets the same function.
            rng = random.Random(f"{name} {budget}")
            values = [
                best_value(settings, particles, budget, shifted(FUNCTIONS[name], rng))
                for _ in range(runs)
            ]
            row.append(score(values))
        scores[setting] = row
    ranks = _mean_ranks(scores)
    print(f"{runs} runs per cell, {particles} particles, {DIMENSIONS} dimensions, "
          f"{time.monotonic() - started:.0f} s")
    print("log10 of the median best value per function and budget; rank = mean rank over columns")
    header = "c1   c2   inertia max_v  " + " ".join(f"{n[:5]}{b:>6}" for n, b in columns)
    print(header + "  rank")
    ordered = sorted(scores, key=lambda s: ranks[s])
    for setting in ordered[:15] + [(2.0, 2.0, 0.5, 0.2)]:
        c1, c2, inertia, max_v = setting
        cells = " ".join(f"{v:11.2f}" for v in scores[setting])
        print(f"{c1:<4} {c2:<4} {inertia:<7} {max_v:<5}  {cells}  {ranks[setting]:.1f}")


FINALISTS = [
    (0.5, 1.0, 0.9, 0.1),
    (0.5, 0.3, 0.9, 0.1),
    (0.7, 1.0, 0.9, 0.1),
    (0.7, 1.0, 0.7, 0.5),
    (0.7, 0.3, 0.9, 0.1),
    (0.5, 0.3, 0.9, 0.5),
    (0.7, 1.0, 0.5, 0.2),  # the README's suggestion for PSO
    (0.7, 0.6, 0.7, 0.5),
]


def finalists(runs: int, budgets: list[int], sizes: list[int]) -> None:
    columns = [(name, budget) for budget in budgets for name in FUNCTIONS]
    scores: dict[tuple[float, ...], list[float]] = {}
    started = time.monotonic()
    for setting in FINALISTS:
        c1, c2, inertia, max_v = setting
        settings = {"c1": c1, "c2": c2, "inertia": inertia, "max_v": max_v}
        for size in sizes:
            row = []
            for name, budget in columns:
                rng = random.Random(f"{name} {budget}")
                values = [
                    best_value(settings, size, budget, shifted(FUNCTIONS[name], rng))
                    for _ in range(runs)
                ]
                row.append(score(values))
            scores[(*setting, size)] = row
    ranks = _mean_ranks(scores)
    print(f"{runs} runs per cell, {DIMENSIONS} dimensions, {time.monotonic() - started:.0f} s")
    print("log10 of the median best value per function and budget; rank = mean rank over columns")
    header = "c1   c2   inertia max_v size " + " ".join(f"{n[:5]}{b:>6}" for n, b in columns)
    print(header + "  rank")
    for key in sorted(scores, key=lambda k: ranks[k]):
        c1, c2, inertia, max_v, size = key
        cells = " ".join(f"{v:11.2f}" for v in scores[key])
        print(f"{c1:<4} {c2:<4} {inertia:<7} {max_v:<5} {size:<4} {cells}  {ranks[key]:.1f}")


def particles(runs: int, budgets: list[int], settings: dict[str, float]) -> None:
    sizes = [10, 20, 30, 45, 60, 100, 150]
    print(f"{runs} runs per cell, settings {settings}, {DIMENSIONS} dimensions")
    print("log10 of the median best value; rows: swarm size; '-' where it leaves no sweep")
    for budget in budgets:
        print(f"budget {budget}")
        print("  size " + " ".join(f"{name:>11}" for name in FUNCTIONS) + "  mean rank")
        table = {}
        for size in sizes:
            if size * 2 > budget:
                continue
            row = []
            for name in FUNCTIONS:
                rng = random.Random(f"{name} {budget}")
                values = [
                    best_value(settings, size, budget, shifted(FUNCTIONS[name], rng))
                    for _ in range(runs)
                ]
                row.append(score(values))
            table[(size,)] = row
        ranks = _mean_ranks(table)
        for (size,), row in table.items():
            print(f"  {size:4} " + " ".join(f"{v:11.2f}" for v in row) + f"  {ranks[(size,)]:.1f}")


def mixed(ns: list[int], xs: list[float]) -> float:
    """Integers and floats together: a shifted sphere over five of each."""
    return sum((n - 17) ** 2 for n in ns) / 100 + sum((x - 1.3) ** 2 for x in xs)


def check(runs: int, budgets: list[int]) -> None:
    from decimal import Decimal

    from companion_peers import PRICE_RANGES, Pricing, best_pricing
    from swarmtuner_search import Dec, Float, Int, maximize, minimize

    # The defaults (twice the budget's square root in particles, within 20 to 100), the same
    # coefficients with the square root, and the other leading coefficients.
    def size(rule: float) -> Callable[[int], int]:
        return lambda budget: max(20, min(100, round(rule * budget**0.5)))

    leaders = {
        "c1 0.7 c2 1.0 inertia 0.5 max_v 0.2, 2√": ({"c1": 0.7, "c2": 1.0, "inertia": 0.5,
                                                     "max_v": 0.2}, size(2)),
        "c1 0.7 c2 1.0 inertia 0.5 max_v 0.2, √": ({"c1": 0.7, "c2": 1.0, "inertia": 0.5,
                                                    "max_v": 0.2}, size(1)),
        "c1 0.7 c2 1.0 inertia 0.9 max_v 0.1, 2√": ({"c1": 0.7, "c2": 1.0, "inertia": 0.9,
                                                     "max_v": 0.1}, size(2)),
    }
    box = {"x": Float([LOW] * DIMENSIONS, [HIGH] * DIMENSIONS)}
    optimum = best_pricing()

    def quickstart(workers: int, learning_rate: float, momentum: float, price: Decimal) -> float:
        return (1000 * (learning_rate - 0.03) ** 2 + (momentum - 0.9) ** 2
                + 0.1 * (workers - 6) ** 2 + float(abs(price - Decimal("19.99"))))

    problems: dict[str, Callable[[int, dict[str, Any], random.Random], float]] = {}
    def continuous(function: Callable[[Sequence[float]], float]) -> Callable[..., float]:
        def run(budget: int, settings: dict[str, Any], rng: random.Random) -> float:
            objective = shifted(function, rng)
            return minimize(lambda x: objective(x), box, max_evals=budget, **settings).value

        return run

    for name, function in FUNCTIONS.items():
        problems[name] = continuous(function)
    problems["mixed"] = lambda budget, settings, rng: minimize(
        mixed, {"ns": Int([-50] * 5, [50] * 5), "xs": Float([-5.0] * 5, [5.0] * 5)},
        max_evals=budget, **settings).value
    problems["quickstart"] = lambda budget, settings, rng: minimize(
        quickstart, {"workers": Int(1, 32), "learning_rate": Float(1e-4, 0.5, log=True),
                     "momentum": Float(0.0, 1.0), "price": Dec("0.00", "50.00", step="0.01")},
        max_evals=budget, **settings).value
    problems["pricing"] = lambda budget, settings, rng: float(optimum - maximize(
        Pricing(), {"prices": Dec([lo for lo, _ in PRICE_RANGES], [hi for _, hi in PRICE_RANGES],
                                  step="0.01")}, max_evals=budget, **settings).value)
    print(f"{runs} runs per cell; log10 of the median best value (pricing: profit short of the "
          "optimum); particles: a multiple of the budget's square root, within 20 to 100")
    for budget in budgets:
        print(f"budget {budget}")
        print(f"  {'settings, particles':42}" + "".join(f"{name:>11}" for name in problems))
        for label, (coefficients, sizing) in leaders.items():
            settings = {**coefficients, "n_particles": sizing(budget)}
            cells = []
            for name, problem in problems.items():
                rng = random.Random(f"{name} {budget}")
                # The same shift per run for every setting: one fresh generator per run.
                values = [problem(budget, settings, random.Random(rng.random()))
                          for _ in range(runs)]
                cells.append(score(values))
            print(f"  {label:42}" + "".join(f"{v:11.2f}" for v in cells))


def _mean_ranks(scores: dict[tuple[float, ...], list[float]]) -> dict[tuple[float, ...], float]:
    keys = list(scores)
    columns = len(next(iter(scores.values())))
    total = {k: 0.0 for k in keys}
    for column in range(columns):
        ordered = sorted(keys, key=lambda k: scores[k][column])
        for rank, key in enumerate(ordered, 1):
            total[key] += rank
    return {k: v / columns for k, v in total.items()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("study", choices=["coefficients", "finalists", "particles", "check"])
    parser.add_argument("--runs", type=int, default=5)
    arguments = parser.parse_args()
    if arguments.study == "coefficients":
        coefficients(arguments.runs, [1000, 10000], particles=30)
    elif arguments.study == "check":
        check(arguments.runs, [1000, 10000])
    elif arguments.study == "finalists":
        finalists(arguments.runs, [1000, 10000], [15, 30, 60])
    else:
        from swarmtuner_search._search import C1, C2, INERTIA, MAX_V

        settings = {"c1": C1, "c2": C2, "inertia": INERTIA, "max_v": MAX_V}
        particles(arguments.runs, [100, 300, 1000, 3000, 10000], settings)


if __name__ == "__main__":
    main()
