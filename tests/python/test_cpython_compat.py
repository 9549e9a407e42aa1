"""The interpreter-version layer under the conversions: ints exchanged as bytes and as digits.

Each CPython version takes its own route (private calls and layouts before 3.14, the public
byte exchange and PyLongWriter from 3.14); these tests run on every version in CI and pin
that every route gives Python's own values."""

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import swarmtuner


def points_of(kind, values):
    """The values f is shown for one-wide bounds [v, v + 1): each value itself."""
    seen = []
    swarmtuner.PSO(n_iters=0, n_particles=1).min(
        lambda **kw: seen.append(kw[kind]) or 0,
        **{f"{kind}_min": values, f"{kind}_max": [value + 1 for value in values]},
    )
    return seen[0]


@pytest.mark.parametrize("sign", [1, -1])
@pytest.mark.parametrize(
    "pattern",
    [
        lambda n: 2 ** (n - 1),  # the top bit alone, at the start of a digit or inside one
        lambda n: 2**n - 1,  # every bit set, so each digit shows all of its bits
        lambda n: (2**n - 1) // 3 | 2 ** (n - 1),  # alternating bits: none shifted a place
    ],
    ids=["top_bit", "all_ones", "alternating"],
)
def test_big_ints_of_every_digit_count_reach_f_exactly(pattern, sign):
    # Every bit length up to past four limbs: each count of Python digits, each place of the
    # top bit within a limb, and the lengths beyond four limbs.
    values = [sign * pattern(n) for n in range(1, 300)]
    seen = points_of("i", values)
    assert seen == values
    assert all(type(value) is int for value in seen)


@given(st.lists(st.integers(min_value=-(2**1200), max_value=2**1200), min_size=1, max_size=40))
@example([2**64, -(2**64) - 1, 2**1023, -(2**1024)])
def test_big_ints_round_trip(values):
    assert points_of("i", values) == values


@given(st.lists(st.integers(min_value=-(2**127), max_value=2**127 - 2), min_size=1, max_size=20))
@example([-(2**127), 2**127 - 2, -1, 0])
def test_i128_round_trip(values):
    assert points_of("i128", values) == values


@pytest.mark.parametrize("value", [2**127, -(2**127) - 1, 2**300, -(2**3000)])
def test_i128_overflow_has_one_message_on_every_version(value):
    with pytest.raises(OverflowError, match="^int too big to convert$"):
        swarmtuner.PSO().min(lambda **kw: 0, i128_min=[value], i128_max=[value])
