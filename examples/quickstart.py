"""Quickstart: tune integer, float and decimal parameters together with one swarm search.

A toy pricing model: choose a number of workers (an integer), a learning rate and a momentum
(floats) and a price (an exact decimal). The cost is smallest, 0, at 6 workers, a learning
rate of 0.03, a momentum of 0.9 and a price of 19.99.
"""

from __future__ import annotations

import os
import sys
from decimal import Decimal

import swarmtuner


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def cost(i32: list[int], f64: list[float], d: list[Decimal]) -> float:
    (workers,) = i32
    learning_rate, momentum = f64
    (price,) = d
    return (
        1000 * (learning_rate - 0.03) ** 2
        + (momentum - 0.9) ** 2
        + 0.1 * (workers - 6) ** 2
        + float(abs(price - Decimal("19.99")))
    )


def main() -> None:
    quick = quick_mode()
    # The coefficients suit this search's velocity update, which has no random factors; the
    # defaults (c1 = c2 = 2.0) make particles overshoot (see README, "Choosing the settings").
    pso = swarmtuner.PSO(
        n_iters=20 if quick else 300,
        n_particles=10 if quick else 100,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    value, best = pso.min(
        cost,
        i32_min=[1], i32_max=[32],                      # workers in 1..32
        f64_min=[1e-4, 0.0], f64_max=[0.5, 1.0],        # learning rate, momentum
        d_min=[Decimal("0.00")], d_max=[Decimal("50.00")],  # price; starts on a cent grid
    )
    print(f"best cost      {value:.6f}")
    print(f"workers        {best['i32'][0]}")
    print(f"learning rate  {best['f64'][0]:.5f}")
    print(f"momentum       {best['f64'][1]:.5f}")
    # Moves add the digits of the coefficients to a decimal, so round it for display.
    print(f"price          {best['d'][0].quantize(Decimal('0.01'))}")


if __name__ == "__main__":
    main()
