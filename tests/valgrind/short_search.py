"""A short search over every element kind, with nesting and each kind of failure, for memcheck."""

from decimal import Decimal

import swarmtuner

BOUNDS = {
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
    inner = swarmtuner.PSO(n_iters=2, n_particles=2)
    return inner.max(sphere, d_min=["0.5"], d_max=["0.75"])[0] + sphere(**point)


CALLS = []


def unordered(**point):
    CALLS.append(1)
    return None if len(CALLS) % 2 else 1


def expect_failure(call, name):
    try:
        call()
    except BaseException as error:  # noqa: BLE001
        assert type(error).__name__ == name, error
    else:
        raise AssertionError(f"no {name}")


pso = swarmtuner.PSO(n_iters=20, n_particles=10)
for method in (pso.min, pso.max):
    value, point = method(sphere, **BOUNDS)
    assert sorted(point) == sorted({k[:-4] for k in BOUNDS})
    method(nested, f64_min=[0.0], f64_max=[1.0], i_min=[0], i_max=[2**70])
    expect_failure(lambda: method(lambda **kw: 1 / 0, **BOUNDS), "PanicException")
    expect_failure(lambda: method(unordered, i8_min=[0], i8_max=[1]), "PanicException")
expect_failure(lambda: pso.min(sphere, f64_min=[1.0], f64_max=[0.0]), "PanicException")
expect_failure(lambda: pso.min(sphere, d_min=["1e-07"], d_max=["1"]), "ValueError")
expect_failure(lambda: pso.min(sphere, i8_min=[0], i8_max=[300]), "OverflowError")
expect_failure(lambda: swarmtuner.PSO(n_particles=0).min(sphere), "PanicException")
expect_failure(lambda: swarmtuner.PSO(c1=float("nan"), n_iters=1, n_particles=2).min(
    sphere, d_min=["0"], d_max=["1"]), "PanicException")
pso.c1 = 1.0
print("short search done")
