"""Quickstart: tune integer, float and decimal parameters together with one swarm search.

A toy pricing model: choose a number of workers (an integer), a learning rate and a momentum
(floats) and a price in cents (an exact decimal). The cost is smallest at 6 workers, a learning
rate of 0.03, a momentum of 0.9 and a price of 19.99.
"""
from decimal import Decimal

import swarmtuner


def cost(i32, f64, d):
    (workers,) = i32
    learning_rate, momentum = f64
    (price,) = d
    return (
        1000 * (learning_rate - 0.03) ** 2
        + (momentum - 0.9) ** 2
        + 0.1 * (workers - 6) ** 2
        + float(abs(price - Decimal("19.99")))
    )


def main():
    pso = swarmtuner.PSO(n_iters=300, n_particles=40)
    value, best = pso.min(
        cost,
        i32_min=[1], i32_max=[33],                      # workers in 1..32
        f64_min=[1e-4, 0.0], f64_max=[0.5, 1.0],        # learning rate, momentum
        d_min=[Decimal("0.00")], d_max=[Decimal("50.00")],  # price on a cent grid
    )
    print(f"best cost      {value:.6f}")
    print(f"workers        {best['i32'][0]}")
    print(f"learning rate  {best['f64'][0]:.5f}")
    print(f"momentum       {best['f64'][1]:.5f}")
    print(f"price          {best['d'][0]}")


if __name__ == "__main__":
    main()
