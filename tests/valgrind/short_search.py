"""A short search over every element kind, with nesting and each kind of failure, for memcheck."""

import os
import sys

import swarmtuner

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))
from reliability_searches import ALL_KINDS as BOUNDS, nested, sphere  # noqa: E402


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
