"""Uses of swarmtuner that the type stub must accept, and some it must refuse.

Checked by mypy --strict (not run): every `type: ignore` below must be needed, since strict mode
reports unused ones, so each marks a call that the stub has to reject.
"""

from __future__ import annotations

from decimal import Decimal
from fractions import Fraction

from typing_extensions import assert_type

import swarmtuner
from swarmtuner import PSO

assert_type(swarmtuner.__all__, list[str])

pso = PSO(10, n_particles=True, c1=1, c2=Fraction(1, 2), inertia=0.5, max_v=0.2)
assert_type(pso.n_iters, int)
assert_type(pso.max_v, float)
pso.n_particles = 50
pso.c1 = 1  # an int is a fine coefficient
pso.c1 = "0.5"  # type: ignore[assignment]
pso.n_iters = 2.5  # type: ignore[assignment]


def by_kind(
    i8: list[int], i: list[int], f32: list[float], c64: list[complex], d: list[Decimal]
) -> float:
    return float(i8[0] + i[0]) + f32[0] + abs(c64[0]) + float(d[0])


value, point = pso.min(
    by_kind,
    i8_min=b"\x00",  # bytes is a sequence of ints
    i8_max=range(1, 2),
    i_min=[-(2**100)],
    i_max=[True],
    f32_min=[0, 0.5, Fraction(1, 3)],
    f32_max=(1.0,),
    c64_min=[0j, 1, 2.5],
    c64_max=[1 + 1j],
    d_min=["0.25", 1, Decimal("1.5"), 2.5],
    d_max=[10],
)
assert_type(value, float)
assert_type(point["d"], list[Decimal])
assert_type(point["c64"], list[complex])
assert_type(point.get("i8"), list[int] | None)



def first_decimal(d: list[Decimal]) -> Decimal:
    return d[0]


def third(i: list[int]) -> Fraction:
    return Fraction(i[0], 3)


def ranked(i8: list[int]) -> tuple[int, str]:
    return (i8[0], "tie")


# max negates twice, so the value keeps the type of what f returns when __neg__ keeps it.
assert_type(pso.max(first_decimal, d_min=[0], d_max=[1])[0], Decimal)
assert_type(pso.max(third, i_min=[0], i_max=[9])[0], Fraction)
# min takes any value, tuples included; max needs values with __neg__.
assert_type(pso.min(ranked, i8_min=[0], i8_max=[9])[0], tuple[int, str])
pso.max(ranked, i8_min=[0], i8_max=[9])  # type: ignore[arg-type]

pso.min(by_kind, i8_min="01", i8_max="99")  # type: ignore[arg-type]
pso.min(by_kind, i32_min=[1.5], i32_max=[3])  # type: ignore[list-item]
pso.min(by_kind, f64_min=["0.5"], f64_max=[1.0])  # type: ignore[list-item]
pso.min(by_kind, d_min=[None], d_max=[1])  # type: ignore[list-item]
pso.min(by_kind, x_min=[0])  # type: ignore[call-arg]
pso.min()  # type: ignore[call-arg]
