"""minimize and maximize of swarmtuner_search: the budget, the stops, the record of the best
value, the order of f's values (NaN last, maximize without negation), f's own exceptions
reaching the caller, and the settings reaching the search unchanged."""

import math
import os
import re
import subprocess
import sys
import time
from decimal import Decimal
from fractions import Fraction
from pathlib import Path

import pytest
from replay import replay

from swarmtuner_search import Choice, Float, Int, Result, maximize, minimize
from swarmtuner_search._search import _shape

SPACE = {"x": Float(-4.0, 4.0), "n": Int(-5, 5)}


class Recorder:
    """f for a search of SPACE: records every params dict and value, in call order."""

    def __init__(self, value=lambda x, n: (x - 1.0) ** 2 + abs(n - 2)):
        self.value = value
        self.params = []
        self.values = []

    def __call__(self, **params):
        self.params.append(params)
        result = self.value(**params)
        self.values.append(result)
        return result


def first_best(values, better):
    """Index of the first value that no later value beats (better(a, b): a beats b)."""
    best = 0
    for k, value in enumerate(values):
        if better(value, values[best]):
            best = k
    return best


@pytest.mark.parametrize("budget", [1, 2, 7, 19, 60, 99, 100, 101, 999, 1000, 4321])
def test_max_evals_is_used_to_at_least_90_percent_and_never_exceeded(budget):
    f = Recorder()
    res = minimize(f, SPACE, max_evals=budget)
    assert 0.9 * budget <= len(f.values) <= budget
    assert res.evals == len(f.values) == len(res.history) and res.stopped is None


def test_every_budget_gets_whole_sweeps_filling_90_percent():
    for budget in range(1, 5000):
        particles, iters, limit = _shape(budget, None, None)
        assert limit == budget and particles >= 1 and iters >= 0
        assert 0.9 * budget <= particles * (iters + 1) <= budget, budget


@pytest.mark.parametrize(
    "settings, calls, stopped",
    [
        ({"n_particles": 7, "n_iters": 100}, 50, "max_evals"),  # cut off within a sweep
        ({"n_particles": 7}, 50, "max_evals"),  # 8 sweeps of 7, the last cut short
        ({"n_particles": 10}, 50, None),  # 5 whole sweeps
        ({"n_iters": 3}, 50, "max_evals"),  # 13 particles, 4 sweeps: 52, cut to 50
        ({"n_particles": 60, "n_iters": 0}, 50, "max_evals"),  # within the starting swarm
    ],
)
def test_given_settings_still_meet_the_budget_exactly(settings, calls, stopped):
    f = Recorder()
    res = minimize(f, SPACE, max_evals=50, **settings)
    assert (len(f.values), res.evals, res.stopped) == (calls, calls, stopped)


def test_settings_without_a_budget_run_whole():
    f = Recorder()
    assert minimize(f, SPACE, n_particles=6, n_iters=4).evals == len(f.values) == 30
    assert 900 <= minimize(Recorder(), SPACE).evals <= 1000  # the default budget


def test_history_is_the_best_so_far_and_the_result_is_its_last():
    f = Recorder()
    res = minimize(f, SPACE, max_evals=300)
    for k, best in enumerate(res.history):
        assert best is f.values[first_best(f.values[: k + 1], lambda a, b: a < b)]
    k = first_best(f.values, lambda a, b: a < b)
    assert res.value is f.values[k] is res.history[-1]
    assert res.params == f.params[k]


@pytest.mark.parametrize("largest", [False, True])
def test_the_search_follows_the_swarm_update_with_the_settings_given(largest):
    # The points after the starting swarm are those of the plain-Python replay of the update
    # rule, started from the same positions, on the dimensions the space maps to: x as f64
    # within [-4, 4], n as i64 within [-5, 6] (6 read as 5). For maximize the replay minimises
    # -f: with these float values that is the same order.
    f = Recorder()
    settings = {"c1": 0.6, "c2": 1.3, "inertia": 0.7, "max_v": 0.3}
    search = maximize if largest else minimize
    res = search(f, SPACE, n_particles=8, n_iters=12, **settings)
    sign = -1.0 if largest else 1.0

    def raw_f(f64, i64):
        return sign * f.value(x=f64[0], n=min(i64[0], 5))

    starts = [{"f64": [p["x"]], "i64": [p["n"]]} for p in f.params[:8]]
    evaluated, (value, _) = replay(
        raw_f, starts, {"f64": [-4.0], "i64": [-5]}, {"f64": [4.0], "i64": [6]}, n_iters=12,
        **settings,
    )
    assert [{"x": p["f64"][0], "n": min(p["i64"][0], 5)} for p in evaluated] == f.params[8:]
    assert res.value == sign * value


def numpy_or_skip():
    """numpy, where it is installed. Not under the sanitizers: numpy keeps allocations to the
    end of the process that the leak check would report as the module's."""
    if os.environ.get("SWARMTUNER_UNDER_ASAN"):
        pytest.skip("numpy's allocations held at exit would fail the leak check")
    return pytest.importorskip("numpy")


@pytest.mark.parametrize(
    "values",
    [
        # Negating these is not exact: unsigned integers wrap, and Decimals round to the
        # context's 28 digits, which makes the three largest equal.
        pytest.param("uint64", id="numpy-uint64"),
        [Decimal("1" + "0" * 40 + str(k)) for k in (3, 9, 1, 9, 4)],
        [Fraction(1, 3), Fraction(2, 3), Fraction(1, 7)],
        [(1, "b"), (2, "a"), (2, "b"), (0, "z")],  # tuples have no negation at all
        [3, 1.5, Decimal("3.0000000000000000000000000000001"), 2],
    ],
)
def test_maximize_returns_the_largest_value_and_its_point(values):
    if values == "uint64":
        numpy = numpy_or_skip()
        values = [numpy.uint64(v) for v in (5, 2**64 - 1, 0, 7)]
    f = Recorder(lambda x, n: values[(n + 5) % len(values)])
    res = maximize(f, SPACE, max_evals=200)
    k = first_best(f.values, lambda a, b: b < a)
    assert res.value is f.values[k] and res.params == f.params[k]
    assert all(not res.value < v for v in f.values) and res.value == max(f.values)


@pytest.mark.parametrize("search", [minimize, maximize])
@pytest.mark.parametrize(
    "nan", [math.nan, Decimal("NaN"), Decimal("sNaN")], ids=["float", "Decimal", "sNaN"]
)
def test_a_nan_ranks_after_every_number(search, nan):
    # NaN for most points, the first one included: it must never be the result.
    def is_nan(v):
        return v.is_nan() if isinstance(v, Decimal) else math.isnan(v)

    for _ in range(20):
        f = Recorder(lambda x, n: nan if x < 2.0 else Decimal(x))
        res = search(f, SPACE, max_evals=40)
        first = next((k for k, v in enumerate(f.values) if not is_nan(v)), None)
        if first is not None:
            assert not any(is_nan(v) for v in res.history[first:])
            assert any(res.value is v for v in f.values[first:])


def test_numpy_nan_ranks_after_every_number():
    numpy = numpy_or_skip()
    # A number at the fifth call only (not where n is 4, which a search may never draw).
    f = Recorder(lambda x, n: numpy.float32(x) if len(f.values) == 4 else numpy.float32("nan"))
    res = minimize(f, SPACE, max_evals=300)
    assert res.value == min(v for v in f.values if not numpy.isnan(v))


def test_only_nans_give_the_first_nan():
    f = Recorder(lambda x, n: math.nan)
    res = minimize(f, SPACE, max_evals=30)
    assert res.value is f.values[0] and res.evals == 30


class Failure(Exception):
    pass


def failing_at(call, error):
    """f for SPACE that raises error at its call-th call, from inside a nested function."""
    calls = []

    def f(x, n):
        calls.append(x)

        def deeper():
            if len(calls) == call:
                raise error
            return x * x

        return deeper()

    return f, calls


@pytest.mark.parametrize(
    "error",
    [Failure("model diverged"), KeyboardInterrupt(), SystemExit(3), ZeroDivisionError("no")],
    ids=lambda e: type(e).__name__,
)
@pytest.mark.parametrize("search", [minimize, maximize])
def test_an_exception_of_f_reaches_the_caller_as_itself(capfd, search, error):
    # The very object (so `except Exception` catches an ordinary one), nothing written on the
    # way: no failure report that looks like a crash.
    f, calls = failing_at(17, error)
    with pytest.raises(BaseException) as excinfo:
        search(f, SPACE, max_evals=100)
    assert excinfo.value is error and len(calls) == 17
    assert capfd.readouterr() == ("", "")
    # Its traceback still leads into f, where it was raised.
    assert [entry.name for entry in excinfo.traceback][-2:] == ["f", "deeper"]


def test_the_cause_and_context_of_fs_exception_are_kept():
    cause = KeyError("missing")

    def f(x, n):
        try:
            raise cause
        except KeyError as error:
            raise Failure("lookup failed") from error

    with pytest.raises(Failure) as excinfo:
        minimize(f, SPACE)
    assert excinfo.value.__cause__ is cause and excinfo.value.__context__ is cause


def test_an_exception_of_a_search_inside_f_passes_through_both():
    inner_error = Failure("inner")

    def inner(y):
        raise inner_error

    def outer(x, n):
        return minimize(inner, {"y": Float(0.0, 1.0)}).value

    with pytest.raises(Failure) as excinfo:
        minimize(outer, SPACE)
    assert excinfo.value is inner_error


def test_nested_searches_each_keep_their_own_result():
    def outer(x, n):
        return minimize(lambda y: (y - x) ** 2, {"y": Float(-4.0, 4.0)}, max_evals=50).value + n

    res = minimize(outer, SPACE, max_evals=50)
    assert 45 <= res.evals <= 50 and res.value >= -5


@pytest.mark.parametrize("search", [minimize, maximize])
def test_values_that_cannot_be_ordered_end_the_search_with_a_type_error(search):
    # None at the fifth call (not where n is 0, which a search may never draw).
    f = Recorder(lambda x, n: None if len(f.values) == 4 else x)
    with pytest.raises(TypeError, match="f returned values that cannot be ordered: ") as excinfo:
        search(f, SPACE, max_evals=500)
    assert isinstance(excinfo.value.__cause__, TypeError)  # Python's own '<' not supported
    assert None in f.values


class Value:
    """A value whose comparison raises a given exception at the n-th comparison."""

    compared = 0

    def __init__(self, number, error, at):
        self.number, self.error, self.at = number, error, at

    def __lt__(self, other):
        Value.compared += 1
        if Value.compared == self.at:
            raise self.error
        return self.number < other.number

    def __eq__(self, other):
        return self.number == other.number


@pytest.mark.parametrize("at", [1, 5, 40])
def test_an_interrupt_inside_a_comparison_reaches_the_caller_as_itself(at):
    error = KeyboardInterrupt()
    Value.compared = 0
    with pytest.raises(KeyboardInterrupt) as excinfo:
        minimize(lambda x, n: Value(x, error, at), SPACE, max_evals=60)
    assert excinfo.value is error


def test_timeout_stops_between_evaluations_with_the_best_so_far():
    def slow(x, n):
        time.sleep(0.002)
        return abs(x)

    started = time.monotonic()
    res = minimize(slow, SPACE, max_evals=100_000, timeout=0.2)
    assert res.stopped == "timeout" and 1 <= res.evals < 100_000
    assert time.monotonic() - started < 5
    assert res.value == res.history[-1] == min(res.history)


def test_a_zero_timeout_still_evaluates_once():
    res = minimize(Recorder(), SPACE, timeout=0)
    assert (res.evals, res.stopped) == (1, "timeout")


def test_callback_sees_each_evaluation_and_can_stop_the_search():
    calls = []

    def callback(evals, best_value, best_params):
        calls.append((evals, best_value, best_params))
        best_params["x"] = "changed by the callback"  # must not reach the result
        return evals < 25

    f = Recorder()
    res = minimize(f, SPACE, max_evals=200, callback=callback)
    assert (res.evals, res.stopped, len(f.values)) == (25, "callback", 25)
    assert [c[0] for c in calls] == list(range(1, 26))
    assert [c[1] for c in calls] == res.history
    assert res.params == f.params[f.values.index(res.value)]


@pytest.mark.parametrize("answer, evals", [(None, 100), (True, 100), (0, 1), (False, 1)])
def test_callback_stops_on_a_false_answer_other_than_none(answer, evals):
    res = minimize(Recorder(), SPACE, max_evals=100, callback=lambda *_: answer)
    assert res.evals == evals


def test_an_exception_of_the_callback_reaches_the_caller_as_itself():
    error = Failure("callback failed")

    def callback(evals, value, params):
        if evals == 3:
            raise error

    with pytest.raises(Failure) as excinfo:
        minimize(Recorder(), SPACE, callback=callback)
    assert excinfo.value is error


def test_the_result_keeps_the_params_f_was_given_whatever_f_does_to_them():
    def f(xs, pick):
        value = sum(xs) + len(pick)
        xs.append(99.0)
        return value

    options = [("a",), ("a", "b")]
    res = minimize(f, {"xs": Float([0.0, 0.0], [1.0, 1.0]), "pick": Choice(options)})
    assert len(res.params["xs"]) == 2
    assert res.params["pick"] is options[0] or res.params["pick"] is options[1]
    assert res.value == sum(res.params["xs"]) + len(res.params["pick"])


@pytest.mark.parametrize(
    "settings, error, words",
    [
        ({"max_evals": 0}, ValueError, "max_evals must be at least 1, not 0"),
        ({"max_evals": 10.0}, TypeError, "max_evals must be an int, not float"),
        ({"n_particles": 0}, ValueError, "n_particles must be at least 1"),
        ({"n_iters": -1}, ValueError, "n_iters must be at least 0"),
        ({"n_iters": True}, TypeError, "n_iters must be an int, not bool"),
        ({"c1": math.nan}, ValueError, "c1 must be finite"),
        ({"inertia": math.inf}, ValueError, "inertia must be finite"),
        ({"max_v": "0.2"}, TypeError, "max_v must be a number, not str"),
        ({"timeout": -1}, ValueError, "timeout must not be negative"),
        ({"timeout": math.nan}, ValueError, "timeout must be finite"),
        ({"callback": 3}, TypeError, "callback must be callable"),
    ],
)
def test_bad_settings_are_refused_before_f_is_called(settings, error, words):
    f = Recorder()
    with pytest.raises(error, match=words):
        minimize(f, SPACE, **settings)
    assert f.values == []


def test_settings_too_large_for_wide_integer_ranges_are_refused():
    with pytest.raises(ValueError, match="c2 must be within ±65536"):
        minimize(lambda k: 0, {"k": Int(0, 2**70)}, c2=1e6)
    assert minimize(lambda k: 0, {"k": Int(0, 2**60)}, c2=1e6, max_evals=10).evals == 10


def test_result_is_a_typed_record():
    res = minimize(Recorder(), SPACE, max_evals=10)
    assert isinstance(res, Result)
    assert "history" not in repr(res) and f"evals={res.evals}" in repr(res)
    with pytest.raises(AttributeError):
        res.value = 0  # type: ignore[misc]


# With the module passing an exception raised inside f back to its caller unchanged (and
# writing nothing), a stop writes nothing either: nothing that looks like a crash.
@pytest.mark.parametrize(
    "stop",
    [
        {"timeout": 0.0},
        {"callback": lambda *_: False},
        {"max_evals": 5, "n_particles": 4, "n_iters": 9},
    ],
    ids=["timeout", "callback", "max_evals"],
)
def test_a_stopped_search_writes_nothing(capfd, stop):
    res = minimize(Recorder(), SPACE, **stop)
    assert res.stopped is not None
    assert capfd.readouterr() == ("", "")



def test_the_typed_user_script_runs_as_written():
    # The script that the type checkers check (.ci/typing.sh) also works when run.
    script = Path(__file__).resolve().parents[1] / "typing" / "companion_usage.py"
    result = subprocess.run(
        [sys.executable, str(script)], capture_output=True, text=True, timeout=120
    )
    assert result.returncode == 0, result.stderr
    # It prints the first search's value, params, evals, len(history) and stopped.
    evals, recorded = re.fullmatch(r".* (\d+) (\d+) None\n", result.stdout).groups()
    assert 540 <= int(evals) == int(recorded) <= 600
