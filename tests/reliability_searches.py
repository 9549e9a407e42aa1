"""Objectives and bounds shared by the reliability checks (the soak test and the memcheck run)."""

from decimal import Decimal

import swarmtuner

# Every kind, with ranges that exercise each one's arithmetic (decimals of several scales,
# big integers past 64 bits).
ALL_KINDS = {
    "i8_min": [-5], "i8_max": [5], "i16_min": [-300], "i16_max": [300],
    "i32_min": [0, -7], "i32_max": [10**6, 7], "i64_min": [-(2**62)], "i64_max": [2**62],
    "i128_min": [-(2**100)], "i128_max": [2**100], "i_min": [-(10**40)], "i_max": [10**30],
    "f32_min": [0.5], "f32_max": [2.5], "f64_min": [-1e3, 0.0], "f64_max": [1e3, 1e-3],
    "c64_min": [0j], "c64_max": [1 + 1j], "c128_min": [-1 - 1j], "c128_max": [1 + 2j],
    "d_min": ["-1.25", Decimal("0.001")], "d_max": ["3.5", 1],
}


def sphere(**point):
    total = 0.0
    for values in point.values():
        for x in values:
            total += abs(x) ** 2 if isinstance(x, complex) else float(x) ** 2
    return total


def nested(**point):
    """A maximising decimal search inside f."""
    inner = swarmtuner.PSO(n_iters=2, n_particles=2)
    return inner.max(sphere, d_min=["0.5"], d_max=["0.75"])[0] + sphere(**point)
