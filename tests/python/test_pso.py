"""PSO objects: construction, the six settings and their borrow rules."""

import math
import operator
import sys

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

from conftest import COUNT_SETTINGS, DEFAULTS, FLOAT_SETTINGS, SETTINGS, Floaty, Index
from swarmtuner import PSO

U64_LIMIT = 2**64


def settings_of(pso):
    return {name: getattr(pso, name) for name in SETTINGS}


class TestConstruction:
    def test_defaults(self):
        assert settings_of(PSO()) == DEFAULTS

    def test_positional_and_keyword(self):
        assert settings_of(PSO(10, 5, 0.1, 0.2, 0.3, 0.4)) == dict(
            zip(SETTINGS, [10, 5, 0.1, 0.2, 0.3, 0.4])
        )
        assert settings_of(PSO(10, max_v=0.9, n_particles=5)) == {
            **settings_of(PSO()),
            "n_iters": 10,
            "n_particles": 5,
            "max_v": 0.9,
        }

    @pytest.mark.parametrize(
        "name, given, stored",
        [
            ("n_iters", True, 1),
            ("n_particles", 0, 0),
            ("n_iters", U64_LIMIT - 1, U64_LIMIT - 1),
            ("n_particles", Index(12), 12),
            ("c1", 1, 1.0),
            ("c2", False, 0.0),
            ("inertia", Floaty(0.25), 0.25),
            ("max_v", Index(3), 3.0),
            ("c1", -math.inf, -math.inf),
            ("c2", 2**53 + 1, float(2**53 + 1)),
        ],
    )
    def test_conversions(self, name, given, stored):
        value = getattr(PSO(**{name: given}), name)
        assert value == stored and type(value) is type(stored)

    @pytest.mark.parametrize("name", FLOAT_SETTINGS)
    def test_nan_and_negative_zero_are_kept(self, name):
        assert math.isnan(getattr(PSO(**{name: math.nan}), name))
        assert math.copysign(1.0, getattr(PSO(**{name: -0.0}), name)) == -1.0

    @pytest.mark.parametrize("name", COUNT_SETTINGS)
    @pytest.mark.parametrize("value", [-1, U64_LIMIT, -(2**100)])
    def test_count_out_of_range_is_an_unprefixed_overflow(self, name, value):
        with pytest.raises(OverflowError) as caught:
            PSO(**{name: value})
        assert not str(caught.value).startswith("argument")

    @pytest.mark.parametrize("name", COUNT_SETTINGS)
    @pytest.mark.parametrize("value", [1.5, 2.0, "3", None, 1j])
    def test_count_without_index_names_the_argument(self, name, value):
        with pytest.raises(TypeError) as reference:
            operator.index(value)
        with pytest.raises(TypeError) as caught:
            PSO(**{name: value})
        assert str(caught.value) == f"argument '{name}': {reference.value}"

    @pytest.mark.parametrize("name", FLOAT_SETTINGS)
    @pytest.mark.parametrize("value", ["x", None, 1j, [1.0]])
    def test_non_number_coefficient_names_the_argument(self, name, value):
        with pytest.raises(TypeError) as reference:
            math.sqrt(value)  # the interpreter's own float conversion
        with pytest.raises(TypeError) as caught:
            PSO(**{name: value})
        assert str(caught.value) == f"argument '{name}': {reference.value}"

    def test_int_too_large_for_a_float_overflows_unprefixed(self):
        with pytest.raises(OverflowError) as reference:
            float(2**1024)
        with pytest.raises(OverflowError) as caught:
            PSO(c1=2**1024)
        assert str(caught.value) == str(reference.value)

    @given(st.integers(min_value=-(2**70), max_value=2**70))
    @example(0)
    @example(U64_LIMIT - 1)
    @example(U64_LIMIT)
    @example(-1)
    def test_count_accepts_exactly_the_u64_range(self, value):
        if 0 <= value < U64_LIMIT:
            assert PSO(n_iters=value).n_iters == value
        else:
            with pytest.raises(OverflowError):
                PSO(n_iters=value)

    @given(st.floats(allow_nan=False) | st.integers(min_value=-(2**1000), max_value=2**1000))
    def test_coefficient_matches_pythons_float(self, value):
        assert PSO(c1=value).c1 == float(value)

    def test_reference_counts_of_arguments_are_stable(self):
        count, ratio = 10**20 % (U64_LIMIT - 7), 1.0 / 3.0
        bad = Index("not an int")
        before = [sys.getrefcount(count), sys.getrefcount(ratio), sys.getrefcount(bad)]
        for _ in range(200):
            PSO(count, count, ratio, ratio, ratio, max_v=ratio)
            with pytest.raises(TypeError):
                PSO(count, bad)
        assert [sys.getrefcount(count), sys.getrefcount(ratio), sys.getrefcount(bad)] == before

    def test_deallocation_releases_the_class(self):
        before = sys.getrefcount(PSO)
        objects = [PSO() for _ in range(100)]
        assert sys.getrefcount(PSO) == before + 100
        del objects
        assert sys.getrefcount(PSO) == before


class TestAttributes:
    @pytest.mark.parametrize(
        "name, value",
        [("n_iters", 7), ("n_particles", True), ("c1", 3), ("inertia", -1.5), ("max_v", Floaty(0.25))],
    )
    def test_set_and_get(self, pso, name, value):
        setattr(pso, name, value)
        expected = int(value) if name in COUNT_SETTINGS else float(value)
        assert getattr(pso, name) == expected
        assert type(getattr(pso, name)) is type(expected)

    @pytest.mark.parametrize(
        "name, value, error",
        [
            ("n_iters", 2**64, OverflowError),
            ("n_particles", -1, OverflowError),
            ("n_iters", 1.0, TypeError),
            ("c2", "a", TypeError),
        ],
    )
    def test_bad_value_keeps_the_field_and_has_no_prefix(self, pso, name, value, error):
        old = getattr(pso, name)
        with pytest.raises(error) as caught:
            setattr(pso, name, value)
        assert not str(caught.value).startswith("argument")
        assert getattr(pso, name) == old

    @pytest.mark.parametrize("name", SETTINGS)
    def test_deletion_is_refused(self, pso, name):
        with pytest.raises(AttributeError) as caught:
            delattr(pso, name)
        assert str(caught.value) == "can't delete attribute"
        assert getattr(pso, name) == getattr(PSO(), name)
