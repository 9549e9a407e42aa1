"""The Python objective: how f is called, and how its failures end the search."""
import re

import pytest

import swarmtuner
from conftest import panic_message

PYERR = re.compile(r"PyErr \{ type: (.*?), value: (.*), traceback: (None|Some\(.*\)) \}$", re.S)


def test_no_bounds_calls_f_without_arguments():
    calls = []

    def f(*args, **kwargs):
        calls.append((args, kwargs))
        return 1

    assert swarmtuner.PSO(n_iters=2, n_particles=3).min(f) == (1, {})
    assert calls == [((), {})] * 9


def test_each_call_gets_fresh_lists_that_f_may_change():
    seen = []

    def f(f64):
        seen.append(f64)
        f64.append("junk")
        f64[0] = "junk"
        return 0.0

    value, position = swarmtuner.PSO(n_iters=2, n_particles=2).min(f, f64_min=[0.0], f64_max=[1.0])
    assert len({id(x) for x in seen}) == len(seen)
    assert isinstance(position["f64"][0], float) and len(position["f64"]) == 1


@pytest.mark.parametrize(
    "f, type_repr, value_start",
    [
        (5, "<class 'TypeError'>", "TypeError(\"'int' object is not callable\")"),
        (lambda: 0, "<class 'TypeError'>", "TypeError("),
        (lambda **kw: 1 / 0, "<class 'ZeroDivisionError'>", "ZeroDivisionError('division by zero')"),
    ],
)
def test_f_failures_end_the_search_with_the_error_description(f, type_repr, value_start):
    pso = swarmtuner.PSO(n_iters=2, n_particles=2)
    with pytest.raises(BaseException) as excinfo:
        pso.min(f, f64_min=[0.0], f64_max=[1.0])
    message = panic_message(excinfo)
    assert message.startswith("failed to call f: PyErr { type: ")
    match = PYERR.search(message)
    assert match and match.group(1) == type_repr and match.group(2).startswith(value_start)
    assert pso.n_iters == 2  # the settings object still works
    pso.n_iters = 3


def test_panic_is_not_caught_by_except_exception():
    with pytest.raises(BaseException) as excinfo:
        try:
            swarmtuner.PSO().min(lambda **kw: 0, f64_min=[1.0], f64_max=[0.0])
        except Exception:  # pragma: no cover - must not happen
            pytest.fail("PanicException was caught as an Exception")
    assert not isinstance(excinfo.value, Exception)
    assert panic_message(excinfo) == "Uniform::new called with `low >= high`"


def test_traceback_is_described_when_present():
    def f(**kw):
        raise ValueError("bad input")

    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(n_particles=1).min(f)
    match = PYERR.search(str(excinfo.value))
    assert match.group(2) == "ValueError('bad input')"
    assert match.group(3).startswith("Some(<traceback object at ")
