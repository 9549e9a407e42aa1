"""swarmtuner_search against optuna, nevergrad and pyswarms, each used as its documentation
shows, on the same problems and budgets: best values, and time per evaluation.

    benchmarks/companion_peers.sh            # makes its own environment, then runs this
    benchmarks/companion_peers.sh --quick    # a small run, for checking that it works

Problems: the sphere, Rosenbrock's and Rastrigin's functions in 10 dimensions with 2,000
evaluations, each shifted by a random vector per run (the same vectors for every tool), so
that no optimum sits at the centre of the box; and pricing five products in cents with an
exact Decimal profit model, 1,000 evaluations, whose optimum a search over every cent finds.

Tools: swarmtuner_search.minimize / maximize with its defaults. optuna and nevergrad with
CMA-ES on the continuous functions (optuna's CmaEsSampler, nevergrad's CMA), where it is the
method of choice, and with their defaults on the pricing task (optuna's TPE sampler,
nevergrad's NGOpt); at these budgets nevergrad's NGOpt costs 10 to 30 ms per evaluation on
the continuous functions, and the budget is 2,000 rather than 10,000 evaluations, so that the
whole run takes minutes, not an hour. pyswarms' GlobalBestPSO with the options of its
documentation (c1 0.5, c2 0.3, w 0.9), 50 particles, and its objective vectorised with numpy
as pyswarms expects. Nothing is asserted; the script prints a Markdown table.
"""

from __future__ import annotations

import argparse
import logging
import math
import random
import statistics
import time
import warnings
from collections.abc import Callable, Sequence
from decimal import ROUND_FLOOR, Decimal
from importlib.metadata import version
from typing import Any

DIMENSIONS = 10
LOW, HIGH = -5.0, 5.0
CENT = Decimal("0.01")


# --- the continuous problems -----------------------------------------------------------------


def sphere(x: Sequence[float]) -> float:
    return sum(v * v for v in x)


def rosenbrock(x: Sequence[float]) -> float:
    y = [v + 1.0 for v in x]  # the minimum, at (1, ..., 1) unshifted, moves to the shift
    return sum(100.0 * (b - a * a) ** 2 + (1.0 - a) ** 2 for a, b in zip(y, y[1:]))


def rastrigin(x: Sequence[float]) -> float:
    return 10.0 * len(x) + sum(v * v - 10.0 * math.cos(2.0 * math.pi * v) for v in x)


FUNCTIONS: dict[str, Callable[[Sequence[float]], float]] = {
    "sphere": sphere,
    "rosenbrock": rosenbrock,
    "rastrigin": rastrigin,
}


class Shifted:
    """A function of x - shift, counting its calls; call(x) takes a point, rows(X) a numpy
    array of points (pyswarms' form)."""

    def __init__(self, function: Callable[[Sequence[float]], float], shift: list[float]) -> None:
        self.function, self.shift, self.calls = function, shift, 0

    def __call__(self, x: Sequence[float]) -> float:
        self.calls += 1
        return self.function([v - s for v, s in zip(x, self.shift)])

    def rows(self, xs: Any) -> Any:
        import numpy

        self.calls += len(xs)
        shifted = xs - numpy.asarray(self.shift)
        if self.function is sphere:
            return (shifted**2).sum(axis=1)
        if self.function is rosenbrock:
            y = shifted + 1.0
            return (100.0 * (y[:, 1:] - y[:, :-1] ** 2) ** 2 + (1.0 - y[:, :-1]) ** 2).sum(axis=1)
        return 10.0 * xs.shape[1] + (shifted**2 - 10.0 * numpy.cos(2.0 * numpy.pi * shifted)).sum(
            axis=1
        )


def continuous_swarmtuner(f: Shifted, budget: int) -> float:
    from swarmtuner_search import Float, minimize

    space = {"x": Float([LOW] * DIMENSIONS, [HIGH] * DIMENSIONS)}
    return minimize(f, space, max_evals=budget).value


def continuous_optuna(f: Shifted, budget: int) -> float:
    import optuna

    def objective(trial: Any) -> float:
        return f([trial.suggest_float(f"x{k}", LOW, HIGH) for k in range(DIMENSIONS)])

    study = optuna.create_study(sampler=optuna.samplers.CmaEsSampler())
    study.optimize(objective, n_trials=budget)
    return float(study.best_value)


def continuous_nevergrad(f: Shifted, budget: int) -> float:
    import nevergrad as ng

    parametrization = ng.p.Array(shape=(DIMENSIONS,), lower=LOW, upper=HIGH)
    optimizer = ng.optimizers.CMA(parametrization=parametrization, budget=budget)
    best = math.inf
    for _ in range(budget):
        candidate = optimizer.ask()
        value = f(candidate.value.tolist())
        best = min(best, value)
        optimizer.tell(candidate, value)
    return best


def continuous_pyswarms(f: Shifted, budget: int) -> float:
    import numpy
    import pyswarms

    particles = 50
    bounds = (numpy.full(DIMENSIONS, LOW), numpy.full(DIMENSIONS, HIGH))
    optimizer = pyswarms.single.GlobalBestPSO(
        n_particles=particles, dimensions=DIMENSIONS, bounds=bounds,
        options={"c1": 0.5, "c2": 0.3, "w": 0.9},
    )
    cost, _ = optimizer.optimize(f.rows, iters=budget // particles, verbose=False)
    return float(cost)


# --- the pricing task --------------------------------------------------------------------------

# Per product: unit cost, and demand = max(0, floor(base - slope * price)) units.
PRODUCTS = [
    (Decimal("2.50"), Decimal("900"), Decimal("61")),
    (Decimal("4.00"), Decimal("500"), Decimal("23")),
    (Decimal("7.25"), Decimal("1200"), Decimal("37")),
    (Decimal("1.10"), Decimal("300"), Decimal("55")),
    (Decimal("12.00"), Decimal("2000"), Decimal("41")),
]
# Prices from the unit cost to four times it, in cents.
PRICE_RANGES = [(cost, cost * 4) for cost, _, _ in PRODUCTS]


class Pricing:
    """Total profit of five prices, exactly, in Decimal; counts its calls."""

    def __init__(self) -> None:
        self.calls = 0

    def __call__(self, prices: Sequence[Decimal]) -> Decimal:
        self.calls += 1
        return sum(
            (product_profit(k, price) for k, price in enumerate(prices)), start=Decimal(0)
        )


def product_profit(k: int, price: Decimal) -> Decimal:
    cost, base, slope = PRODUCTS[k]
    units = max(Decimal(0), (base - slope * price).to_integral_value(ROUND_FLOOR))
    return (price - cost) * units


def best_pricing() -> Decimal:
    """The optimum, by trying every cent of every product (the profit is a sum over products)."""
    total = Decimal(0)
    for k, (low, high) in enumerate(PRICE_RANGES):
        cents = range(int(low * 100), int(high * 100) + 1)
        total += max(product_profit(k, Decimal(c) / 100) for c in cents)
    return total


def pricing_swarmtuner(f: Pricing, budget: int) -> Decimal:
    from swarmtuner_search import Dec, maximize

    space = {"prices": Dec([low for low, _ in PRICE_RANGES], [high for _, high in PRICE_RANGES],
                           step=CENT)}
    return maximize(f, space, max_evals=budget).value


def pricing_optuna(f: Pricing, budget: int) -> Decimal:
    import optuna

    def objective(trial: Any) -> float:
        prices = [
            Decimal(trial.suggest_int(f"p{k}", int(low * 100), int(high * 100))) / 100
            for k, (low, high) in enumerate(PRICE_RANGES)
        ]
        trial.set_user_attr("profit", str(f(prices)))
        return float(trial.user_attrs["profit"])

    study = optuna.create_study(direction="maximize")
    study.optimize(objective, n_trials=budget)
    return Decimal(study.best_trial.user_attrs["profit"])


def pricing_nevergrad(f: Pricing, budget: int) -> Decimal:
    import nevergrad as ng

    parametrization = ng.p.Tuple(*(
        ng.p.Scalar(lower=int(low * 100), upper=int(high * 100)).set_integer_casting()
        for low, high in PRICE_RANGES
    ))
    optimizer = ng.optimizers.NGOpt(parametrization=parametrization, budget=budget)
    best = Decimal(-math.inf)
    for _ in range(budget):
        candidate = optimizer.ask()
        profit = f([Decimal(c) / 100 for c in candidate.value])
        best = max(best, profit)
        optimizer.tell(candidate, -float(profit))
    return best


def pricing_pyswarms(f: Pricing, budget: int) -> Decimal:
    import numpy
    import pyswarms

    particles = 50
    low = numpy.array([float(low) for low, _ in PRICE_RANGES])
    high = numpy.array([float(high) for _, high in PRICE_RANGES])
    best = [Decimal(-math.inf)]

    def costs(xs: Any) -> Any:
        values = []
        for row in xs:
            profit = f([Decimal(round(float(x) * 100)) / 100 for x in row])
            best[0] = max(best[0], profit)
            values.append(-float(profit))
        return numpy.array(values)

    optimizer = pyswarms.single.GlobalBestPSO(
        n_particles=particles, dimensions=len(PRODUCTS), bounds=(low, high),
        options={"c1": 0.5, "c2": 0.3, "w": 0.9},
    )
    optimizer.optimize(costs, iters=budget // particles, verbose=False)
    return best[0]


TOOLS = ["swarmtuner_search", "optuna", "nevergrad", "pyswarms"]
CONTINUOUS = {
    "swarmtuner_search": continuous_swarmtuner,
    "optuna": continuous_optuna,
    "nevergrad": continuous_nevergrad,
    "pyswarms": continuous_pyswarms,
}
PRICING = {
    "swarmtuner_search": pricing_swarmtuner,
    "optuna": pricing_optuna,
    "nevergrad": pricing_nevergrad,
    "pyswarms": pricing_pyswarms,
}


def quiet() -> None:
    import optuna

    optuna.logging.set_verbosity(optuna.logging.WARNING)
    logging.getLogger("pyswarms").setLevel(logging.WARNING)
    warnings.filterwarnings("ignore")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--quick", action="store_true", help="1 run, budgets divided by 10")
    arguments = parser.parse_args()
    runs = 1 if arguments.quick else arguments.runs
    scale = 10 if arguments.quick else 1
    quiet()
    budget, pricing_budget = 2_000 // scale, 1_000 // scale
    versions = ", ".join(
        f"{name} {version(name)}" for name in ("swarmtuner", "optuna", "nevergrad", "pyswarms")
    )
    print(f"{runs} runs per cell; median best value (its range); time per evaluation; {versions}")
    print()
    print(f"| problem | budget | {' | '.join(TOOLS)} |")
    print("|---|---|" + "---|" * len(TOOLS))
    started = time.monotonic()
    for name, function in FUNCTIONS.items():
        shifts = [
            [random.Random(f"{name} {run} {k}").uniform(0.6 * LOW, 0.6 * HIGH)
             for k in range(DIMENSIONS)]
            for run in range(runs)
        ]
        cells = []
        for tool in TOOLS:
            values, seconds = [], 0.0
            for shift in shifts:
                f = Shifted(function, shift)
                began = time.perf_counter()
                values.append(CONTINUOUS[tool](f, budget))
                seconds += time.perf_counter() - began
                assert f.calls <= budget, (tool, f.calls)
            cells.append(cell(values, seconds / (runs * budget)))
        print(f"| {name}, 10-D, minimum 0 | {budget:,} | " + " | ".join(cells) + " |")
    optimum = best_pricing()
    cells = []
    for tool in TOOLS:
        profits, seconds = [], 0.0
        for _ in range(runs):
            f = Pricing()
            began = time.perf_counter()
            profits.append(PRICING[tool](f, pricing_budget))
            seconds += time.perf_counter() - began
            assert f.calls <= pricing_budget, (tool, f.calls)
        hits = sum(p == optimum for p in profits)
        cells.append(cell([float(optimum - p) for p in profits], seconds / (runs * pricing_budget))
                     + f", optimum {hits} of {runs}")
    print(f"| pricing, 5 products in cents: profit short of the optimum {optimum} | "
          f"{pricing_budget:,} | " + " | ".join(cells) + " |")
    print()
    print(f"{time.monotonic() - started:.0f} s in all")


def cell(values: list[float], seconds_per_eval: float) -> str:
    return (f"{statistics.median(values):.3g} ({min(values):.3g} to {max(values):.3g}); "
            f"{per_eval(seconds_per_eval)}")


def per_eval(seconds: float) -> str:
    if seconds >= 1e-3:
        return f"{seconds * 1e3:.1f} ms"
    return f"{seconds * 1e6:.0f} µs"


if __name__ == "__main__":
    main()
