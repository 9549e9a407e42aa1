"""The named space of swarmtuner_search: every value f is given lies in its parameter's space and
on its grid, each end can be reached, and a bad space is refused naming the parameter."""

import math
from collections import Counter
from decimal import Decimal, localcontext

import pytest
from hypothesis import given
from hypothesis import strategies as st

from swarmtuner_search import Choice, Dec, Float, Int, minimize

# Coefficients that throw particles onto the bounds, so that the ends are met in a short search.
WILD = {"c1": 3.0, "c2": 3.0, "inertia": 1.0, "max_v": 1.0}


def values_seen(space, max_evals=400, **settings):
    """Every params dict f is given by a search of space, in call order."""
    seen = []

    def f(**params):
        seen.append(params)
        return 0.0

    minimize(f, space, max_evals=max_evals, **settings)
    return seen


def on_grid(value, low, high, step):
    """value is low + k * step for an integer k, within [low, high]: checked exactly."""
    with localcontext() as context:
        context.prec = 400
        steps = (value - low) / step
    return type(value) is Decimal and low <= value <= high and steps == steps.to_integral_value()


@st.composite
def parameters(draw):
    """A parameter and the test that a value lies in its space."""
    kind = draw(st.sampled_from(["int", "wide int", "float", "log float", "dec", "choice"]))
    if kind in ("int", "wide int"):
        width = draw(st.integers(1, 20)) if kind == "int" else 2 ** draw(st.integers(60, 1200))
        low = draw(st.integers(-(2**70), 2**70)) if kind == "int" else -draw(st.integers(0, 10))
        high = low + width
        return Int(low, high), lambda v: type(v) is int and low <= v <= high
    if kind == "float":
        low = draw(st.floats(-1e6, 1e6))
        high = low + draw(st.floats(1e-3, 1e6))
        return Float(low, high), lambda v: type(v) is float and low <= v <= high
    if kind == "log float":
        low = 10 ** draw(st.floats(-12, 3))
        high = low * 10 ** draw(st.floats(0.01, 12))
        return Float(low, high, log=True), lambda v: type(v) is float and low <= v <= high
    if kind == "dec":
        step = Decimal(draw(st.integers(1, 99))).scaleb(-draw(st.integers(0, 6)))
        low = Decimal(draw(st.integers(-(10**9), 10**9))).scaleb(-draw(st.integers(0, 6)))
        high = low + step * draw(st.integers(1, 10**6))
        return Dec(low, high, step=step), lambda v: on_grid(v, low, high, step)
    options = [object() for _ in range(draw(st.integers(1, 5)))]
    return Choice(options), lambda v: any(v is option for option in options)


@given(
    st.lists(parameters(), min_size=1, max_size=4),
    st.sampled_from([{}, WILD, {"c1": 0.3, "c2": 0.1, "inertia": 0.9, "max_v": 0.05}]),
)
def test_every_value_lies_in_its_space_and_on_its_grid(params, settings):
    space = {f"p{k}": param for k, (param, _) in enumerate(params)}
    for point in values_seen(space, max_evals=60, **settings):
        assert list(point) == list(space)
        for k, (_, holds) in enumerate(params):
            assert holds(point[f"p{k}"]), (space[f"p{k}"], point[f"p{k}"])


@pytest.mark.parametrize(
    "param, ends",
    [
        (Int(0, 1), {0, 1}),
        (Int(-3, 3), {-3, 3}),
        (Int(10**40, 10**40 + 2), {10**40, 10**40 + 1, 10**40 + 2}),
        (Dec("0.99", "9.99", step="0.01"), {Decimal("0.99"), Decimal("9.99")}),
        (Float(1e-4, 0.1, log=True), {1e-4, 0.1}),
        (Float(-2.5, 7.0), {-2.5, 7.0}),
        (Int(0, 2**2000), {0, 2**2000}),
        (Int(-(10**300), 10**300), {-(10**300), 10**300}),
    ],
)
def test_both_ends_are_reached(param, ends):
    # An end of a range wider than a machine word needs every digit at its bound at once, which
    # one search of 400 calls meets in about 99 runs of 100; up to five searches make a miss
    # of a reachable end vanishingly rare, while an unreachable end still fails every time.
    seen = set()
    for _ in range(5):
        seen |= {point["x"] for point in values_seen({"x": param}, **WILD)}
        if ends <= seen:
            break
    assert ends <= seen


def test_integers_start_uniformly_over_both_ends():
    # A pure random sample (no sweeps): 3000 draws of 0, 1 or 2, about 1000 each (sd 26).
    counts = Counter(
        point["x"] for point in values_seen({"x": Int(0, 2)}, 3000, n_particles=3000, n_iters=0)
    )
    assert set(counts) == {0, 1, 2} and all(abs(n - 1000) < 150 for n in counts.values())


def test_huge_integer_ranges_are_sampled_across_their_width():
    low, high = -(2**1500), 2**1700
    xs = [p["x"] for p in values_seen({"x": Int(low, high)}, 1000, n_particles=1000, n_iters=0)]
    # Uniform over the range: about 250 in each quarter (sd 14), and random down to the low
    # bits, which a digit of their own carries.
    quarters = Counter(4 * (x - low) // (high - low + 1) for x in xs)
    assert set(quarters) == {0, 1, 2, 3} and all(180 < n < 320 for n in quarters.values())
    assert len({x % 2**64 for x in xs}) == len(xs)


def test_log_floats_are_spread_evenly_over_the_exponents():
    xs = [p["x"] for p in values_seen({"x": Float(1e-6, 1.0, log=True)}, 2000, n_particles=2000,
                                      n_iters=0)]
    decades = Counter(math.floor(math.log10(x)) for x in xs)
    # Six decades, about 333 draws each (sd 17).
    assert set(decades) == set(range(-6, 0)) and all(250 < n < 420 for n in decades.values())


def test_decimals_keep_the_places_of_low_and_step():
    seen = [p["p"] for p in values_seen({"p": Dec("1.50", "20", step="0.25")}, **WILD)]
    assert {p.as_tuple().exponent for p in seen} == {-2}
    assert "20.00" in map(str, seen)


def test_default_step_is_the_finer_last_place():
    seen = {p["p"] for p in values_seen({"p": Dec("1", "2.5")}, 600, n_particles=600, n_iters=0)}
    assert seen == {Decimal(k) / 10 for k in range(10, 26)}


def test_decimal_values_beyond_the_context_precision_stay_exact():
    low = Decimal("1" + "0" * 40)
    step = Decimal("0.000001")
    with localcontext() as context:
        context.prec = 60
        high = low + 1000 * step
    for point in values_seen({"p": Dec(low, high, step)}):
        assert on_grid(point["p"], low, high, step)


def test_choice_hands_over_the_very_option():
    options = [[], {}, None, "hinge", max]
    seen = values_seen({"o": Choice(options)}, 600, n_particles=600, n_iters=0)
    assert {id(p["o"]) for p in seen} == {id(o) for o in options}


def test_lists_make_list_parameters():
    seen = values_seen({
        "xs": Float([0.0, 10.0, 20.0], [1.0, 11.0, 21.0]),
        "ns": Int(0, [1, 2**70, 5]),  # one number stands for each position; mixed widths
        "ds": Dec(["0", "1"], ["1", "2"], step=["0.5", "0.25"]),
    })
    for point in seen:
        xs, ns, ds = point["xs"], point["ns"], point["ds"]
        assert type(xs) is list and len(xs) == 3
        assert all(j * 10 <= x <= j * 10 + 1 for j, x in enumerate(xs))
        assert 0 <= ns[0] <= 1 and 0 <= ns[1] <= 2**70 and 0 <= ns[2] <= 5
        assert on_grid(ds[0], Decimal(0), Decimal(1), Decimal("0.5"))
        assert on_grid(ds[1], Decimal(1), Decimal(2), Decimal("0.25"))


@pytest.mark.parametrize(
    "param, error, words",
    [
        (Int(5, 1), ValueError, "low 5 is above high 1"),
        (Int(3, 3), ValueError, "low 3 is equal to high 3"),
        (Float(1.0, 1.0), ValueError, "equal to high"),
        (Float(0.5, -0.5), ValueError, "above high"),
        (Dec("2.00", "1.00"), ValueError, "above high"),
        (Dec("1", "1.0"), ValueError, "equal to high"),
        (Dec("0", "1", step="0.3"), ValueError, "step 0.3 does not divide the range from 0 to 1"),
        (Dec("0", "1", step="0"), ValueError, "step must be above 0"),
        (Dec("0", "1", step="-0.5"), ValueError, "step must be above 0"),
        (Choice([]), ValueError, "Choice has no options"),
        (Int([0, 0], [1]), ValueError, "lists of different lengths: low has 2 values, high 1"),
        (Float([0.0], [1.0, 2.0]), ValueError, "lists of different lengths"),
        (Dec(["0", "0"], ["1", "1"], step=["0.5"]), ValueError, "step has 1 values for 2"),
        (Int([], []), ValueError, "empty"),
        (Float(0.0, 1.0, log=True), ValueError, "log scale needs low above 0"),
        (Float(1e300, 1e300 * (1 + 2**-52), log=True), ValueError, "too narrow for a log scale"),
        (Float(-1e308, 1e308), ValueError, "too wide"),
        (Float(0.0, math.inf), ValueError, "high must be finite"),
        (Float(math.nan, 1.0), ValueError, "low must be finite"),
        (Dec("NaN", "1"), ValueError, "low must be finite"),
        (Dec("0", "x"), ValueError, "high 'x' is not a decimal number"),
        (Int(0.0, 5), TypeError, "low must be an integer, not float"),
        (Int(0, "5"), TypeError, "high must be an integer, not str"),
        (Float("0", 1.0), TypeError, "low must be a number, not str"),
        (Dec(0.1, "1"), TypeError, "not float 0.1"),
        (Float(0.0, 1.0, log="yes"), TypeError, "log must be True or False"),
    ],
)
def test_a_bad_space_names_the_parameter_and_the_fault(param, error, words):
    with pytest.raises(error) as excinfo:
        minimize(lambda **params: 0.0, {"ok": Int(0, 9), "price": param}, max_evals=10)
    message = str(excinfo.value)
    assert message.startswith("price: ") and words in message, message


@pytest.mark.parametrize(
    "space, error, words",
    [
        ([("x", Int(0, 1))], TypeError, "mapping of names"),
        ({1: Int(0, 1)}, TypeError, "names must be str"),
        ({"x": range(3)}, TypeError, "x: expected Int, Float, Dec or Choice, not range"),
    ],
)
def test_a_space_that_is_not_named_parameters_is_refused(space, error, words):
    with pytest.raises(error, match=words):
        minimize(lambda **params: 0.0, space, max_evals=10)


def test_choice_refuses_a_string_of_options():
    with pytest.raises(TypeError, match="collection of options, not a str"):
        Choice("abc")
