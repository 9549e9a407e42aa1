"""numpy arrays and numbers as bounds: what the type stub must accept, and what it must refuse.

Checked like stub_usage.py, whose docstring explains the paired ignore comments. The stub does not
import numpy; it knows an array by its item() method, whose type names the element type.
"""

from __future__ import annotations

from decimal import Decimal

import numpy as np
import numpy.typing as npt
from typing_extensions import assert_type

from swarmtuner import PSO

pso = PSO(n_iters=5, n_particles=4, c1=np.float64(0.7), c2=np.int64(1))


def cost(i32: list[int], f64: list[float], c128: list[complex], d: list[Decimal]) -> float:
    return i32[0] + f64[0] + abs(c128[0]) + float(d[0])


counts: npt.NDArray[np.int32] = np.array([1, 8], dtype=np.int32)
value, best = pso.min(
    cost,
    i32_min=np.zeros(2, dtype=np.int32),
    i32_max=counts,
    f64_min=np.linspace(-1.0, 0.0, 3),  # an array of floats
    f64_max=np.arange(1, 4),  # ints are fine floats
    c128_min=np.array([0j], dtype=np.complex128),
    c128_max=np.array([1 + 1j]),  # a dtype the checker cannot see: accepted
    d_min=np.array([0.5, 1.5]),
    d_max=np.array([10, 20], dtype=np.int64),
)
assert_type(best["i32"][0], int)
assert_type(best["f64"], list[float])
assert_type(best["c128"][0], complex)
assert_type(best["d"][0], Decimal)

# numpy's numbers inside plain lists.
pso.min(
    lambda i64, f32: i64[0] * f32[0],
    i64_min=[np.int64(0), np.int8(1)],
    i64_max=(np.uint16(5), np.int64(6)),
    f32_min=[np.float32(0.5)],
    f32_max=[np.float64(1.5)],
)
# Each row of a two-dimensional array is an array of its own.
grid = np.array([[-1.0, -2.0], [1.0, 2.0]], dtype=np.float64)
assert_type(pso.min(lambda f64: sum(f64), f64_min=grid[0], f64_max=grid[1])[1]["f64"], list[float])

# A float array for an integer kind is refused by the call, and so by the checker.
pso.min(
    cost,
    i32_min=np.zeros(2),  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    i32_max=np.full(2, 5, dtype=np.int32),
)
pso.min(
    cost,
    i8_min=np.linspace(0, 1, 2),  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    i8_max=[1, 2],
)
pso.min(cost, i16_min=[np.float64(0.5)], i16_max=[1])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]
