"""Quickstart: tune integer, float and decimal parameters together with one swarm search.

A toy pricing model: choose a number of workers (an integer), a learning rate (a float on a
log scale), a momentum (a float) and a price in cents (an exact decimal). The cost is
smallest, 0, at 6 workers, a learning rate of 0.03, a momentum of 0.9 and a price of 19.99.
"""

from __future__ import annotations

import os
import sys
from decimal import Decimal

from swarmtuner_search import Dec, Float, Int, minimize


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def cost(workers: int, learning_rate: float, momentum: float, price: Decimal) -> float:
    return (
        1000 * (learning_rate - 0.03) ** 2
        + (momentum - 0.9) ** 2
        + 0.1 * (workers - 6) ** 2
        + float(abs(price - Decimal("19.99")))
    )


SPACE = {
    "workers": Int(1, 32),
    "learning_rate": Float(1e-4, 0.5, log=True),
    "momentum": Float(0.0, 1.0),
    "price": Dec("0.00", "50.00", step="0.01"),  # every price handed to cost is in cents
}


def main() -> None:
    res = minimize(cost, SPACE, max_evals=200 if quick_mode() else 5000)
    best = res.params
    print(f"best cost      {res.value:.6f}")
    print(f"workers        {best['workers']}")
    print(f"learning rate  {best['learning_rate']:.5f}")
    print(f"momentum       {best['momentum']:.5f}")
    print(f"price          {best['price']}")


if __name__ == "__main__":
    main()
