"""A lexicographic objective: first meet demand, then spend as little as possible.

The objective returns a tuple (unmet demand, cost). Python compares tuples item by item, and
the search orders values with Python's own comparisons, so any plan that meets all demand
beats every plan that does not, however cheap. Three regions need 17, 9 and 30 units of
capacity; a server gives 4 units and costs 5, 7 or 3 a month depending on the region. The
answer is 5, 3 and 8 servers: unmet demand 0 at a cost of 25 + 21 + 24 = 70. The search finds
it in nearly every run; otherwise it ends on a plan that meets demand at a slightly higher cost.

Tuples have no __neg__, so PSO.max cannot rank them; the last line shows the failure it
raises, and how to catch it.
"""

from __future__ import annotations

import os
import sys

import swarmtuner

DEMAND = (17, 9, 30)
SERVER_COST = (5, 7, 3)
UNITS_PER_SERVER = 4


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


def plan_quality(i16: list[int]) -> tuple[int, int]:
    unmet = sum(max(0, need - UNITS_PER_SERVER * n) for need, n in zip(DEMAND, i16))
    cost = sum(price * n for price, n in zip(SERVER_COST, i16))
    return (unmet, cost)


def is_panic(error: BaseException) -> bool:
    """A failed search raises pyo3_runtime.PanicException, which derives from BaseException
    and is not exported by the module; recognise it by name."""
    return type(error).__name__ == "PanicException"


def main() -> None:
    quick = quick_mode()
    # Pulls of less than one unit truncate to zero on integer dimensions, so particles near
    # the best stop short of it; an all-integer search needs more particles to look around.
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 100,
        n_particles=10 if quick else 120,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    (unmet, cost), best = pso.min(plan_quality, i16_min=[0, 0, 0], i16_max=[20, 20, 20])
    print(f"servers per region  {best['i16']}")
    print(f"unmet demand        {unmet}")
    print(f"cost                {cost}")
    try:
        # Type checkers refuse this call too: tuples have no __neg__.
        pso.max(
            plan_quality,  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
            i16_min=[0, 0, 0],
            i16_max=[20, 20, 20],
        )
    except BaseException as error:
        if not is_panic(error):
            raise
        print(f"max with tuples     {type(error).__name__}: {str(error).split(':')[0]}")


if __name__ == "__main__":
    main()
