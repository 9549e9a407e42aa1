"""Integer and float hyperparameters together: tune a simulated model's validation loss.

The "model" is a formula standing in for a training run, so that the example runs in a moment
and its answer is known: the loss is smallest, 0.0500, at 4 layers, 192 units per layer, a
batch size of 2**6 = 64, a learning rate of 10**-2.5 (about 3.2e-03) and a dropout of 0.25.
Layer count, units and the batch-size exponent are integers; the learning rate is searched on
a log scale, as its exponent, and the dropout as a plain float.
"""

from __future__ import annotations

import math
import os
import sys

import swarmtuner


def quick_mode() -> bool:
    """--quick or SWARMTUNER_EXAMPLES_QUICK=1: a small search whose output has the same form."""
    return "--quick" in sys.argv[1:] or os.environ.get("SWARMTUNER_EXAMPLES_QUICK") == "1"


class SimulatedModel:
    """Counts how often it is trained, to show that a search costs
    n_particles * (n_iters + 1) evaluations."""

    def __init__(self) -> None:
        self.trainings = 0

    def validation_loss(self, i8: list[int], i32: list[int], f64: list[float]) -> float:
        self.trainings += 1
        (batch_exponent,) = i8
        layers, units = i32
        log10_learning_rate, dropout = f64
        # Deeper models want a little more dropout: the best dropout is 0.25 at 4 layers.
        best_dropout = 0.05 + 0.05 * layers
        return (
            0.0500
            + 0.004 * (layers - 4) ** 2
            + 0.02 * (math.log2(units) - math.log2(192)) ** 2
            + 0.002 * (batch_exponent - 6) ** 2
            + 0.03 * (log10_learning_rate + 2.5) ** 2
            + 0.2 * (dropout - best_dropout) ** 2
        )


def main() -> None:
    quick = quick_mode()
    model = SimulatedModel()
    pso = swarmtuner.PSO(
        n_iters=10 if quick else 200,
        n_particles=10 if quick else 60,
        c1=0.7,
        c2=1.0,
        inertia=0.5,
    )
    loss, best = pso.min(
        model.validation_loss,
        i8_min=[3], i8_max=[10],                 # batch size 2**3 .. 2**10
        i32_min=[1, 16], i32_max=[12, 1024],     # layers, units per layer
        f64_min=[-5.0, 0.0], f64_max=[-1.0, 0.6],  # log10(learning rate), dropout
    )
    (batch_exponent,) = best["i8"]
    layers, units = best["i32"]
    log10_learning_rate, dropout = best["f64"]
    print(f"validation loss  {loss:.4f}")
    print(f"layers           {layers}")
    print(f"units            {units}")
    print(f"batch size       {2 ** batch_exponent}")
    print(f"learning rate    {10 ** log10_learning_rate:.1e}")
    print(f"dropout          {dropout:.2f}")
    print(f"trainings        {model.trainings} = {pso.n_particles} * ({pso.n_iters} + 1)")


if __name__ == "__main__":
    main()
