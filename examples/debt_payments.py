"""Exact money: split a monthly budget between three debts so that next month's interest is least.

Payments and interest are decimal amounts in cents, computed with Python's decimal module, so
no binary rounding creeps into the totals. Debt A charges the highest rate, so the best split
pays A as much as the budget allows once the minimum payments of B and C are met:
A 800.00, B 50.00, C 150.00, for interest of 48.00 + 22.05 + 31.40 = 101.45.
"""

from __future__ import annotations

import os
import sys
from decimal import ROUND_DOWN, ROUND_HALF_EVEN, Decimal

import swarmtuner

CENT = Decimal("0.01")
BUDGET = Decimal("1000.00")
# name: (balance, monthly rate, minimum payment)
DEBTS = {
    "A": (Decimal("4000.00"), Decimal("0.015"), Decimal("100.00")),
    "B": (Decimal("2500.00"), Decimal("0.009"), Decimal("50.00")),
    "C": (Decimal("8000.00"), Decimal("0.004"), Decimal("150.00")),
}
# C gets what A and B leave of the budget, so a split is infeasible when that is below C's
# minimum payment; this much per missing unit of money keeps such splits out of the result.
PENALTY = Decimal("1000")


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def split(d: list[Decimal]) -> dict[str, Decimal]:
    """Payments for A and B come from the search (rounded down to whole cents, as a bank
    transfer would be); C gets the rest of the budget."""
    a, b = (amount.quantize(CENT, rounding=ROUND_DOWN) for amount in d)
    return {"A": a, "B": b, "C": BUDGET - a - b}


def interest(d: list[Decimal]) -> Decimal:
    payments = split(d)
    total = Decimal(0)
    for name, (balance, rate, minimum) in DEBTS.items():
        paid = payments[name]
        if paid < minimum:
            total += PENALTY * (minimum - paid)
        # Each account rounds its own interest to the cent, ties to even.
        total += ((balance - paid) * rate).quantize(CENT, rounding=ROUND_HALF_EVEN)
    return total


def main() -> None:
    quick = quick_mode()
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 200,
        n_particles=10 if quick else 40,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    # A and B each pay at least their minimum and at most what the budget leaves once the
    # other two minimums are met. Starting points are drawn on the cent grid of these bounds;
    # a particle that overshoots a bound is put back exactly on it.
    value, best = pso.min(
        interest,
        d_min=[DEBTS["A"][2], DEBTS["B"][2]],
        d_max=[Decimal("800.00"), Decimal("750.00")],
    )
    payments = split(best["d"])
    for name, paid in payments.items():
        print(f"payment {name}  {paid:>8}")
    print(f"total      {sum(payments.values()):>8}")
    print(f"interest   {value:>8}")


if __name__ == "__main__":
    main()
