"""Maximisation: choose a price and a staff count for the largest weekly profit.

Demand falls with the price, 1000 * exp(-price / 20) units a week; each unit costs 8 to make;
each member of staff costs 150 a week and can serve 60 units. PSO.max searches for the largest
profit; a plain scan of every staff count and a fine price grid gives the reference, which the
swarm should match to about a cent: 4 staff, a price of about 28.54 (where demand falls to the
240 units that 4 staff can serve), a profit of about 4330.16.
"""

from __future__ import annotations

import math
import os
import sys

import swarmtuner

UNIT_COST = 8.0
STAFF_COST = 150.0
UNITS_PER_STAFF = 60


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def weekly_profit(price: float, staff: int) -> float:
    demand = 1000.0 * math.exp(-price / 20.0)
    sold = min(demand, float(UNITS_PER_STAFF * staff))
    return (price - UNIT_COST) * sold - STAFF_COST * staff


def objective(i16: list[int], f64: list[float]) -> float:
    return weekly_profit(f64[0], i16[0])


def reference(quick: bool) -> tuple[float, int, float]:
    """The best (profit, staff, price) on a grid of prices 0.001 apart (0.01 in quick mode)."""
    step = 0.01 if quick else 0.001
    prices = [10.0 + k * step for k in range(int(50.0 / step))]
    return max((weekly_profit(p, n), n, p) for n in range(1, 21) for p in prices)


def main() -> None:
    quick = quick_mode()
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 200,
        n_particles=10 if quick else 40,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    # max negates every profit with __neg__, minimises, and negates the best once more, so
    # the value returned is a float again.
    profit, best = pso.max(objective, i16_min=[1], i16_max=[20], f64_min=[10.0], f64_max=[60.0])
    ref_profit, ref_staff, ref_price = reference(quick)
    staff, price = best["i16"][0], best["f64"][0]
    print(f"swarm      staff {staff:2d}  price {price:6.2f}  profit {profit:8.2f}")
    print(f"reference  staff {ref_staff:2d}  price {ref_price:6.2f}  profit {ref_profit:8.2f}")


if __name__ == "__main__":
    main()
