"""Argument matching of PSO(), PSO.min and PSO.max, and the naming of conversion errors."""

import math
import operator

import pytest

from conftest import BOUND_PARAMETERS
from swarmtuner import PSO


def objective(**point):
    return 0


def interpreter_error(function, *args):
    """The text the interpreter itself gives for a failing conversion."""
    with pytest.raises(Exception) as caught:
        function(*args)
    return str(caught.value)


class TestConstructorMatching:
    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            (
                (1, 2, 3, 4, 5, 6, 7),
                {},
                "PSO.__new__() takes from 0 to 6 positional arguments but 7 were given",
            ),
            ((1,), {"n_iters": 2}, "PSO.__new__() got multiple values for argument 'n_iters'"),
            ((), {"foo": 1}, "PSO.__new__() got an unexpected keyword argument 'foo'"),
            ((), {"N_ITERS": 1}, "PSO.__new__() got an unexpected keyword argument 'N_ITERS'"),
            # Keywords are checked in call order.
            ((), {"zz": 1, "aa": 2}, "PSO.__new__() got an unexpected keyword argument 'zz'"),
            (
                (1,),
                {"foo": 1, "n_iters": 2},
                "PSO.__new__() got an unexpected keyword argument 'foo'",
            ),
            (
                (1,),
                {"n_iters": 2, "foo": 1},
                "PSO.__new__() got multiple values for argument 'n_iters'",
            ),
            # Matching fails before any conversion is tried.
            (
                ("x",) * 7,
                {},
                "PSO.__new__() takes from 0 to 6 positional arguments but 7 were given",
            ),
            (("x",), {"bad": 1}, "PSO.__new__() got an unexpected keyword argument 'bad'"),
        ],
    )
    def test_errors(self, args, kwargs, message):
        with pytest.raises(TypeError) as caught:
            PSO(*args, **kwargs)
        assert str(caught.value) == message

    def test_names_built_at_run_time_match_by_value(self):
        name = "".join(["n_", "iters"])
        assert PSO(**{name: 5}).n_iters == 5

    def test_name_not_encodable_as_utf8_is_unknown(self):
        with pytest.raises(
            TypeError, match="^PSO.__new__\\(\\) got an unexpected keyword argument"
        ):
            PSO(**{"n_iters\ud800": 1})


@pytest.mark.parametrize("method", ["min", "max"])
class TestSolveMatching:
    @pytest.mark.parametrize(
        "args, kwargs, message",
        [
            ((), {}, "missing 1 required positional argument: 'f'"),
            ((None,) * 24, {}, "takes from 1 to 23 positional arguments but 24 were given"),
            (
                (objective,),
                {"f64_min": [0.0], "f64_max": [1.0], "f64": [1]},
                "got an unexpected keyword argument 'f64'",
            ),
            ((objective, [0]), {"i8_min": [1]}, "got multiple values for argument 'i8_min'"),
            ((objective,), {"f": objective}, "got multiple values for argument 'f'"),
            ((), {"i8_min": [0]}, "missing 1 required positional argument: 'f'"),
        ],
    )
    def test_errors(self, pso, method, args, kwargs, message):
        with pytest.raises(TypeError) as caught:
            getattr(pso, method)(*args, **kwargs)
        assert str(caught.value) == f"PSO.{method}() {message}"

    @pytest.mark.parametrize("value", [None, 5, {1, 2}, iter([1])])
    def test_non_sequence_bound_is_named(self, pso, method, value):
        with pytest.raises(TypeError) as caught:
            getattr(pso, method)(objective, i8_min=value, i8_max=[1])
        text = str(caught.value)
        assert text.startswith("argument 'i8_min': ")
        assert f"'{type(value).__name__}'" in text and "'Sequence'" in text

    def test_str_bound_is_refused(self, pso, method):
        with pytest.raises(TypeError) as caught:
            getattr(pso, method)(objective, i8_min="01", i8_max="99")
        assert str(caught.value) == "argument 'i8_min': Can't extract `str` to `Vec`"

    def test_bounds_are_converted_in_table_order(self, pso, method):
        with pytest.raises(TypeError, match="^argument 'i8_min': "):
            getattr(pso, method)(objective, d_max=None, i8_min=None)

    def test_bad_element_type_is_prefixed_and_overflow_is_not(self, pso, method):
        with pytest.raises(TypeError, match="^argument 'i8_max': "):
            getattr(pso, method)(objective, i8_min=[0], i8_max=["a"])
        with pytest.raises(OverflowError) as caught:
            getattr(pso, method)(objective, i8_min=[0], i8_max=[300])
        assert not str(caught.value).startswith("argument")

    def test_bad_bound_never_calls_f(self, pso, method):
        calls = []
        with pytest.raises(TypeError):
            getattr(pso, method)(lambda **point: calls.append(point), f64_min=[0.0], d_max=None)
        assert calls == []

    @pytest.mark.parametrize("name", BOUND_PARAMETERS)
    def test_every_bound_parameter_is_known_by_name(self, pso, method, name):
        with pytest.raises(TypeError) as caught:
            getattr(pso, method)(objective, **{name: None})
        assert str(caught.value).startswith(f"argument '{name}': ")


class TestConversionErrorPrefix:
    def test_type_error_keeps_its_cause_and_gains_the_name(self):
        class Index:
            def __index__(self):
                try:
                    raise KeyError("inner")
                except KeyError as error:
                    raise TypeError("no index") from error

        with pytest.raises(TypeError) as caught:
            PSO(n_particles=Index())
        assert str(caught.value) == "argument 'n_particles': no index"
        assert isinstance(caught.value.__cause__, KeyError)
        assert caught.value.__suppress_context__

    def test_interpreter_texts_are_prefixed(self):
        with pytest.raises(TypeError) as caught:
            PSO(n_iters=1.5)
        assert str(caught.value) == "argument 'n_iters': " + interpreter_error(operator.index, 1.5)
        with pytest.raises(TypeError) as caught:
            PSO(inertia="x")
        assert str(caught.value) == "argument 'inertia': " + interpreter_error(math.sqrt, "x")

    @pytest.mark.parametrize("error", [ValueError("v"), OverflowError("o"), KeyError("k")])
    def test_other_exceptions_pass_unchanged(self, error):
        class Float:
            def __float__(self):
                raise error

        with pytest.raises(type(error)) as caught:
            PSO(c2=Float())
        assert caught.value is error

    def test_type_error_subclass_passes_unchanged(self):
        class NotIndexable(TypeError):
            pass

        error = NotIndexable("custom")

        class Index:
            def __index__(self):
                raise error

        with pytest.raises(NotIndexable) as caught:
            PSO(n_iters=Index())
        assert caught.value is error


def test_unexpected_keyword_name_is_shown_as_given():
    # A lone surrogate cannot be written as UTF-8; the message still holds the name itself.
    name = "\ud800x"
    with pytest.raises(TypeError) as excinfo:
        PSO().min(lambda **kw: 0.0, **{name: 1})
    assert str(excinfo.value) == f"PSO.min() got an unexpected keyword argument '{name}'"
