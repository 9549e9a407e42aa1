"""The swarm search written out in plain Python over f64 lists: the "write it yourself" baseline.

It runs the same sweeps as swarmtuner's search (zero starting velocities, no random factors in
the velocity update, c1 towards the swarm's best, c2 towards the particle's own best, the move
before the velocity limit, inertia after each sweep), with the same evaluation count,
n_particles x (n_iters + 1). Given the same starting positions and a deterministic objective it
calls the objective with the same points in the same order, which is what lets the benchmarks
replay a module run in Python.
"""

from __future__ import annotations

import random
from typing import Any, Callable, Iterable, Sequence


def _greater(a: Any, b: Any) -> bool:
    """True when a ranks after b: a is not equal to b and not below it (NaN ranks last)."""
    return not (a == b or a < b)


class PlainPSO:
    """Settings of one swarm search, with a minimising and a maximising entry like the module."""

    def __init__(
        self,
        n_iters: int = 1000,
        n_particles: int = 30,
        c1: float = 2.0,
        c2: float = 2.0,
        inertia: float = 0.5,
        max_v: float = 0.2,
        rng: random.Random | None = None,
    ) -> None:
        self.n_iters = n_iters
        self.n_particles = n_particles
        self.c1 = c1
        self.c2 = c2
        self.inertia = inertia
        self.max_v = max_v
        self.rng = rng if rng is not None else random.Random()

    def min(
        self,
        f: Callable[..., Any],
        f64_min: Sequence[float] = (),
        f64_max: Sequence[float] = (),
        initial_positions: Iterable[Sequence[float]] | None = None,
    ) -> tuple[Any, dict[str, list[float]]]:
        return self._search(f, f64_min, f64_max, initial_positions, negate=False)

    def max(
        self,
        f: Callable[..., Any],
        f64_min: Sequence[float] = (),
        f64_max: Sequence[float] = (),
        initial_positions: Iterable[Sequence[float]] | None = None,
    ) -> tuple[Any, dict[str, list[float]]]:
        return self._search(f, f64_min, f64_max, initial_positions, negate=True)

    def _search(self, f, f64_min, f64_max, initial_positions, negate):
        dims = min(len(f64_min), len(f64_max))
        lower = [float(v) for v in f64_min[:dims]]
        upper = [float(v) for v in f64_max[:dims]]
        for lo, hi in zip(lower, upper):
            if not lo < hi:
                raise ValueError("Uniform::new called with `low >= high`")
        v_max = [(hi - lo) * self.max_v for lo, hi in zip(lower, upper)]
        v_min = [-v for v in v_max]
        c1, c2 = self.c1, self.c2
        # One keyword call per evaluation, with a fresh list, as the module makes it.
        if dims:
            def evaluate(point):
                y = f(f64=list(point))
                return -y if negate else y
        else:
            def evaluate(point):
                y = f()
                return -y if negate else y

        starts = iter(initial_positions) if initial_positions is not None else None
        uniform = self.rng.random
        positions, velocities, best_positions, best_values = [], [], [], []
        for _ in range(self.n_particles):
            if starts is not None:
                x = [float(v) for v in next(starts)]
            else:
                x = [lo + (hi - lo) * uniform() for lo, hi in zip(lower, upper)]
            positions.append(x)
            velocities.append([0.0] * dims)
            best_positions.append(list(x))
            best_values.append(evaluate(x))
        if not positions:
            raise ValueError("n_particles is 0!")

        # The starting best is the first particle with the smallest value.
        g = 0
        for k in range(1, len(best_values)):
            if _greater(best_values[g], best_values[k]):
                g = k
        global_value = best_values[g]
        global_position = list(best_positions[g])

        inertia = self.inertia
        bounds = list(zip(lower, upper, v_min, v_max))
        for _ in range(self.n_iters):
            for p in range(len(positions)):
                x, v, b = positions[p], velocities[p], best_positions[p]
                new_x, new_v = [], []
                for xj, vj, bj, gj, (lo, hi, vlo, vhi) in zip(x, v, b, global_position, bounds):
                    vj = vj + ((gj - xj) * c1 + (bj - xj) * c2)
                    xj = xj + vj
                    # A component outside its bounds is put on the bound and stops; otherwise
                    # only the velocity carried into the next sweep is limited.
                    if xj < lo:
                        xj, vj = lo, 0.0
                    elif xj > hi:
                        xj, vj = hi, 0.0
                    elif vj < vlo:
                        vj = vlo
                    elif vj > vhi:
                        vj = vhi
                    new_x.append(xj)
                    new_v.append(vj)
                positions[p], velocities[p] = new_x, new_v
                y = evaluate(new_x)
                if y < best_values[p]:
                    best_values[p] = y
                    best_positions[p] = list(new_x)
                    if y < global_value:
                        global_value = y
                        global_position = list(new_x)
            for p, v in enumerate(velocities):
                velocities[p] = [vj * inertia for vj in v]

        value = -global_value if negate else global_value
        return value, ({"f64": global_position} if dims else {})
