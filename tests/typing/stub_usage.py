"""Uses of swarmtuner that the type stub must accept, and some it must refuse.

Checked, not run, by mypy --strict and by basedpyright in standard mode (.ci/typing.sh). A line
that must be refused carries one comment per checker naming the error it expects: mypy's
`type: ignore[code]` and pyright's `pyright: ignore[rule]`. Both checkers report a comment that
silences nothing, so each such line fails the check unless both refuse it for that reason.
"""

from __future__ import annotations

import array
from decimal import Decimal
from fractions import Fraction
from typing import Any

from typing_extensions import assert_type

import swarmtuner
from swarmtuner import PSO

assert_type(swarmtuner.__all__, list[str])

pso = PSO(10, n_particles=True, c1=1, c2=Fraction(1, 2), inertia=0.5, max_v=0.2)
assert_type(pso.n_iters, int)
assert_type(pso.max_v, float)
pso.n_particles = 50
pso.c1 = 1  # an int is a fine coefficient
pso.c1 = "0.5"  # type: ignore[assignment]  # pyright: ignore[reportAttributeAccessIssue]
pso.n_iters = 2.5  # type: ignore[assignment]  # pyright: ignore[reportAttributeAccessIssue]


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

# The point: each kind's name gives its list type, any other str a list of unknown items.
assert_type(point["d"], list[Decimal])
assert_type(point["c64"][0], complex)
assert_type(point["i"][0], int)
assert_type(point["f32"], list[float])


def lookup(kind: str) -> list[Any]:
    return point[kind]


assert_type(point.get("i8"), list[Any] | None)
assert_type(sorted(point), list[str])
# Evaluating f again at the best point, with the point as its keyword arguments.
assert_type(by_kind(**point), float)
label: str = point["f32"][0]  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]

# Decimals, and other number types, as bounds of the kinds that take them.
assert_type(
    pso.min(
        lambda d, f64: d[0] + Decimal(f64[0]),
        d_min=(Decimal("0.00"), Decimal("-1.5")),
        d_max=[Decimal("9.99"), Decimal(3)],
        f64_min=[Decimal("0.5")],
        f64_max=array.array("d", [1.5]),
    )[1]["d"][0],
    Decimal,
)

# Lambdas: their parameters are untyped, their values whatever they compute.
low, high = [-1.0, -1.0], [1.0, 1.0]
circle = pso.min(lambda f64: f64[0] ** 2 + f64[1] ** 2, f64_min=low, f64_max=high)
assert_type(circle[1]["f64"], list[float])
pso.min(lambda **kinds: sum(len(v) for v in kinds.values()), i_min=[0], i_max=[9])
pso.max(lambda i16: -abs(i16[0] - 3), i16_min=range(-9, -8), i16_max=range(9, 10))
pso.min(lambda: 0.0)


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
pso.max(
    ranked,  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    i8_min=[0],
    i8_max=[9],
)

# Bound lists the call refuses: a str (for every kind, decimals included, although a str is a
# fine decimal bound), a float for an integer kind, items of the wrong kind, a missing list.
pso.min(
    by_kind,
    i8_min="01",  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
    i8_max="99",  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
)
pso.min(by_kind, d_min="0.5", d_max=["1.5"])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, f64_min="0", f64_max=[1.0])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, i32_min=[1.5], i32_max=[3])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, i64_min=[0], i64_max=(2.5,))  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, f64_min=["0.5"], f64_max=[1.0])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, f64_min=[0j], f64_max=[1.0])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, d_min=[None], d_max=[1])  # type: ignore[list-item]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, i8_min={0}, i8_max={1})  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, i8_min=None, i8_max=[1])  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
pso.min(by_kind, x_min=[0])  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
pso.min()  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
