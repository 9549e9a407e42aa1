"""The search's dynamics, checked against a plain-Python replay from the recorded starts."""
import copy
import math
import pickle
from decimal import Decimal

import pytest

import swarmtuner
from conftest import panic_message
from replay import f32, replay


def magnitude(value):
    # Products rather than powers: a float power raises OverflowError where a product is inf.
    if isinstance(value, complex):
        return value.real * value.real + value.imag * value.imag
    return float(value) * float(value)


def sphere(**kw):
    return sum(magnitude(x) for values in kw.values() for x in values)


def record(f):
    calls = []

    def recorded(**kw):
        calls.append(copy.deepcopy(kw))
        return f(**kw)

    return recorded, calls


def same_point(a, b):
    """Exact equality, decimal scales and the signs of float zeros included."""
    assert list(a) == list(b)
    for kind in a:
        for x, y in zip(a[kind], b[kind], strict=True):
            assert type(x) is type(y), kind
            if isinstance(x, Decimal):
                assert x.as_tuple() == y.as_tuple(), kind
            elif isinstance(x, float):
                assert x == y and math.copysign(1, x) == math.copysign(1, y), kind
            else:
                assert x == y, kind


SPACES = {
    "f64": {"f64": ([-5.0, 0.0, -1e-3], [5.0, 10.0, 1e-3])},
    "f32_and_c64": {"f32": ([-2.0, 0.5], [3.0, 0.75]), "c64": ([-1 - 1j], [1 + 1j])},
    # Full-width integer ranges: the bound differences and moves saturate.
    "integers": {
        "i8": ([-128, 0], [127, 3]),
        "i16": ([-32768], [32767]),
        "i32": ([-(2**31), -100], [2**31 - 1, 100]),
        "i64": ([-(2**63)], [2**63 - 1]),
        "i128": ([-(2**127), 5], [2**127 - 1, 1000]),
        "i": ([-(10**6), 0], [10**6, 7]),
    },
    "decimals": {"d": (["0.00", "-1", "-0.5"], ["10.00", "1", "0.25"])},
    # Big integers of a few limbs, and past 252 bits, where the step leaves its four-limb path.
    "big_integers": {"i": ([-(2**199), -(2**300), 0, -5], [2**199, 2**300, 2**252, 2**70])},
    # Bounds that all fit the four-limb form the search then keeps its big integers in.
    "wide_big_integers": {"i": ([-(2**199), -(2**250), 0, -(2**64)], [2**199, 2**250, 2**70, 5])},
    "mixed": {
        "i32": ([-50] * 4, [50] * 4),
        "f64": ([-1.0] * 4, [2.0] * 4),
        "c128": ([-1 - 2j], [3 + 1j]),
        "d": (["-2.5", "0"], ["2.5", "100"]),
    },
}

SETTINGS = [
    dict(n_particles=5, n_iters=12),
    dict(n_particles=3, n_iters=40, c1=0.5, c2=2.0, inertia=0.9, max_v=0.5),
    dict(n_particles=4, n_iters=10, c1=0.0, c2=1.5, inertia=0.25, max_v=1.0),
    dict(n_particles=1, n_iters=8, c1=1.7, c2=0.3),
    # Factors whose decimal forms are cut to 15 digits or rounded up from the 29th place.
    dict(n_particles=3, n_iters=6, c1=2 / 3, c2=0.1 + 0.2, inertia=1 / 3, max_v=0.3),
    dict(n_particles=3, n_iters=4, c1=7e-29, c2=0.0, inertia=0.9),
]


def assert_within_bounds(point, lower, upper):
    """Every component within its bounds, bounds included; a complex one part by part."""
    for kind, values in point.items():
        for x, low, high in zip(values, lower[kind], upper[kind]):
            if isinstance(x, complex):
                assert low.real <= x.real <= high.real, (kind, x)
                assert low.imag <= x.imag <= high.imag, (kind, x)
            else:
                assert low <= x <= high, (kind, x)


def python_bounds(space):
    lower, upper = {}, {}
    for kind, (lo, hi) in space.items():
        convert = Decimal if kind == "d" else (lambda v: v)
        lower[kind] = [convert(v) for v in lo]
        upper[kind] = [convert(v) for v in hi]
    return lower, upper


def run(space, settings, maximise=False, f=sphere):
    recorded, calls = record(f)
    pso = swarmtuner.PSO(**settings)
    kwargs = {}
    for kind, (lo, hi) in space.items():
        kwargs[f"{kind}_min"], kwargs[f"{kind}_max"] = lo, hi
    result = (pso.max if maximise else pso.min)(recorded, **kwargs)
    return pso, calls, result


@pytest.mark.parametrize("settings", SETTINGS, ids=lambda s: f"n{s['n_particles']}t{s['n_iters']}")
@pytest.mark.parametrize("space", SPACES.values(), ids=SPACES.keys())
def test_every_point_after_the_starts_matches_the_replay(space, settings):
    pso, calls, (value, position) = run(space, settings)
    n = pso.n_particles
    assert len(calls) == n * (pso.n_iters + 1)
    lower, upper = python_bounds(space)
    expected, (best_value, best_position) = replay(
        sphere, calls[:n], lower, upper, pso.n_iters, pso.c1, pso.c2, pso.inertia, pso.max_v
    )
    assert len(expected) == len(calls) - n
    for got, want in zip(calls[n:], expected):
        same_point(got, want)
    assert value == best_value
    same_point(position, best_position)


@pytest.mark.parametrize("settings", SETTINGS[:3], ids=lambda s: f"n{s['n_particles']}t{s['n_iters']}")
@pytest.mark.parametrize("space", ["integers", "mixed"])
def test_numbers_f_lets_go_of_carry_each_call_its_own_point(space, settings):
    # Numbers only the search still holds serve the next calls again (written over, or handed
    # out once more where they hold the new value): recorded as copies, so that f keeps none
    # of them, every call must still be the replay's.
    calls = []

    def f(**kw):
        calls.append(pickle.loads(pickle.dumps(kw)))
        return sphere(**kw)

    pso = swarmtuner.PSO(**settings)
    bounds = {}
    for kind, (lo, hi) in SPACES[space].items():
        bounds[f"{kind}_min"], bounds[f"{kind}_max"] = lo, hi
    value, position = pso.min(f, **bounds)
    n = pso.n_particles
    lower, upper = python_bounds(SPACES[space])
    expected, (best_value, _) = replay(
        sphere, calls[:n], lower, upper, pso.n_iters, pso.c1, pso.c2, pso.inertia, pso.max_v
    )
    for got, want in zip(calls[n:], expected, strict=True):
        same_point(got, want)
    assert value == best_value


def test_maximising_replays_as_minimising_the_negation():
    space = SPACES["mixed"]
    pso, calls, (value, position) = run(space, SETTINGS[0], maximise=True)
    lower, upper = python_bounds(space)
    negated = lambda **kw: -sphere(**kw)
    expected, (best_value, best_position) = replay(
        negated, calls[: pso.n_particles], lower, upper, pso.n_iters, pso.c1, pso.c2,
        pso.inertia, pso.max_v,
    )
    for got, want in zip(calls[pso.n_particles:], expected):
        same_point(got, want)
    assert value == -best_value
    same_point(position, best_position)


def test_starting_points_lie_in_the_half_open_box():
    space = {"i8": ([-3], [2]), "f64": ([0.0], [1e-300]), "d": (["0.0"], ["0.5"])}
    _, calls, _ = run(space, dict(n_particles=200, n_iters=0))
    assert {c["i8"][0] for c in calls} == {-3, -2, -1, 0, 1}
    assert all(0.0 <= c["f64"][0] < 1e-300 for c in calls)
    ds = {c["d"][0] for c in calls}
    assert ds == {Decimal(f"0.{k}") for k in range(5)}
    assert all(d.as_tuple().exponent == -1 for d in ds)


def test_surplus_bounds_are_ignored():
    _, calls, (_, position) = run({"f64": ([0.0, 1.0], [5.0]), "i8": ([0], [])},
                                  dict(n_particles=2, n_iters=2))
    assert all(list(c) == ["f64"] and len(c["f64"]) == 1 for c in calls)
    assert list(position) == ["f64"]


INF, NAN = math.inf, math.nan

# Coefficients that are not finite numbers, or pulls that overflow: infinity times a zero pull is
# NaN, and so is the sum of two opposite infinite pulls.
NON_FINITE_COEFFICIENTS = [
    dict(c1=INF),
    dict(c2=-INF),
    dict(c1=INF, c2=-INF),
    dict(c1=NAN),
    dict(inertia=INF),
    dict(inertia=NAN, max_v=INF),
    dict(c1=1e308, c2=1e308),
]

NON_FINITE_SPACES = {
    "f64": SPACES["f64"],
    "f32_and_c64": SPACES["f32_and_c64"],
    "c128_and_f64": {"c128": ([-1 - 2j], [3 + 1j]), "f64": ([0.0], [1.0])},
    "integers": {"i8": ([-128], [127]), "i64": ([-(2**63)], [2**63 - 1]), "i32": ([0], [9])},
}


@pytest.mark.parametrize("coefficients", NON_FINITE_COEFFICIENTS, ids=str)
@pytest.mark.parametrize("space", NON_FINITE_SPACES.values(), ids=NON_FINITE_SPACES.keys())
def test_non_finite_coefficients_never_move_a_point_out_of_its_bounds(space, coefficients):
    pso, calls, (value, position) = run(space, dict(n_particles=4, n_iters=10, **coefficients))
    lower, upper = python_bounds(space)
    for call in calls:
        assert_within_bounds(call, lower, upper)
    n = pso.n_particles
    expected, (best_value, best_position) = replay(
        sphere, calls[:n], lower, upper, pso.n_iters, pso.c1, pso.c2, pso.inertia, pso.max_v
    )
    for got, want in zip(calls[n:], expected, strict=True):
        same_point(got, want)
    assert value == best_value
    same_point(position, best_position)


@pytest.mark.parametrize("kind, size", [
    ("c64", 1.0),
    ("c128", 1.0),
    # Half the widest range a part can have: the corners' magnitudes are finite, but a point
    # that leaves the rectangle soon is not (abs() overflows in f, c64 parts become infinite).
    ("c64", f32(1.6e38)),
    ("c128", 8e307),
])
def test_complex_points_stay_in_their_rectangle_with_the_default_settings(kind, size):
    # The default coefficients overshoot (c1 + c2 = 4 exceeds 2 + 2 * inertia), so the swarm
    # keeps hitting the edges: the first component is pulled to the centre, the second to the
    # corners.
    space = {kind: ([-size - size * 1j] * 2, [size + size * 1j] * 2)}

    def f(**kw):
        z = kw[kind]
        return abs(z[0]) - abs(z[1])

    _, calls, _ = run(space, {}, f=f)
    lower, upper = python_bounds(space)
    for call in calls:
        assert_within_bounds(call, lower, upper)
    on_edge = [z for call in calls for z in call[kind] if size in (abs(z.real), abs(z.imag))]
    assert len(on_edge) > len(calls) // 10


@pytest.mark.parametrize("kind, bounds, message", [
    ("i", ([-10], [10]), "f64 can not to BigInt"),
    ("d", (["0"], ["1"]), "Failed to convert to Decimal"),
])
def test_an_infinite_coefficient_fails_the_exact_kinds_cleanly(kind, bounds, message):
    with pytest.raises(BaseException) as excinfo:
        run({kind: bounds}, dict(n_particles=3, n_iters=2, c1=INF))
    assert panic_message(excinfo) == message


@pytest.mark.parametrize("n_iters", [1, 3])
@pytest.mark.parametrize("kind, bounds, inertia, message", [
    ("i", ([-10], [10]), INF, "f64 can not to BigInt"),
    ("d", (["0"], ["1"]), 1e30, "Failed to convert to Decimal"),
])
def test_an_inertia_the_exact_kinds_cannot_take_fails_after_the_first_sweep(
        kind, bounds, inertia, message, n_iters):
    # The velocities are scaled after each sweep's evaluations, the last sweep's included, so a
    # scaling that fails ends the search there, even when no sweep follows.
    calls = []
    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(n_particles=3, n_iters=n_iters, inertia=inertia).min(
            lambda **kw: calls.append(1) or 0, **{f"{kind}_min": bounds[0], f"{kind}_max": bounds[1]})
    assert panic_message(excinfo) == message
    assert len(calls) == 6
