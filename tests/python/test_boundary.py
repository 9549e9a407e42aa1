"""How failures reach Python: PanicException, failure reports and errors coming back from f.

Internal failures come from the search, so these tests reach the boundary through PSO.min
with bounds the search refuses (f64 lower 1.0, upper 0.0) or an objective that raises.
"""

import re
import sys

import pytest

import swarmtuner
from conftest import run_python
from swarmtuner import PSO

BAD_BOUNDS_MESSAGE = "Uniform::new called with `low >= high`"


def small_pso():
    return PSO(n_iters=1, n_particles=1)


def failing_search(pso=None):
    """Runs a search that fails inside and returns the exception it raised."""
    pso = pso or small_pso()
    try:
        pso.min(lambda **point: 0.0, f64_min=[1.0], f64_max=[0.0])
    except Exception:  # noqa: BLE001 - the point is that this clause must not catch it
        pytest.fail("an internal failure was caught by `except Exception`")
    except BaseException as error:  # noqa: BLE001
        return error
    pytest.fail("the search did not fail")


@pytest.fixture
def panic_exception():
    return type(failing_search())


class TestPanicException:
    def test_class(self, panic_exception):
        assert panic_exception.__name__ == "PanicException"
        assert panic_exception.__module__ == "pyo3_runtime"
        assert panic_exception.__bases__ == (BaseException,)
        assert not issubclass(panic_exception, Exception)
        assert not hasattr(swarmtuner, "PanicException")
        assert type(failing_search()) is panic_exception  # created once

    def test_docstring(self, panic_exception):
        first, *rest = panic_exception.__doc__.split("\n")
        assert "C++" in first
        assert rest == [
            "",
            "Like SystemExit, this exception is derived from BaseException so that",
            "it will typically propagate all the way through the stack and cause the",
            "Python interpreter to exit.",
        ]

    def test_message_is_the_single_argument(self):
        error = failing_search()
        assert error.args == (BAD_BOUNDS_MESSAGE,)
        assert str(error) == BAD_BOUNDS_MESSAGE

    def test_object_works_again_after_a_failure(self):
        pso = small_pso()
        failing_search(pso)
        pso.c1 = 0.5  # the search's borrow was given back
        assert pso.c1 == 0.5
        assert pso.min(lambda **point: 1.0, f64_min=[0.0], f64_max=[1.0])[0] == 1.0


class TestObjectiveErrors:
    def test_exception_in_f_is_described(self):
        def f(**point):
            raise ValueError("boom")

        with pytest.raises(BaseException) as caught:
            small_pso().min(f, f64_min=[0.0], f64_max=[1.0])
        assert type(caught.value).__name__ == "PanicException"
        assert re.fullmatch(
            r"failed to call f: PyErr \{ type: <class 'ValueError'>, value: ValueError\('boom'\), "
            r"traceback: Some\(<traceback object at 0x[0-9a-f]+>\) \}",
            str(caught.value),
        )

    def test_unprintable_exception_is_described_by_its_type(self, monkeypatch):
        class Unprintable(Exception):
            def __repr__(self):
                raise RuntimeError("no repr")

        def f(**point):
            raise Unprintable()

        unraisable = []
        monkeypatch.setattr(sys, "unraisablehook", unraisable.append)
        with pytest.raises(BaseException) as caught:
            small_pso().min(f, f64_min=[0.0], f64_max=[1.0])
        assert "value: <unprintable Unprintable object>" in str(caught.value)
        assert [type(u.exc_value) for u in unraisable] == [RuntimeError]

    def test_panic_raised_by_f_is_resumed_with_its_text(self, panic_exception):
        def f(**point):
            raise panic_exception("from Python")

        with pytest.raises(panic_exception) as caught:
            small_pso().min(f, f64_min=[0.0], f64_max=[1.0])
        assert caught.value.args == ("from Python",)

    def test_panic_without_printable_text(self, panic_exception):
        class Unprintable:
            def __str__(self):
                raise RuntimeError("no str")

        def f(**point):
            raise panic_exception(Unprintable())

        with pytest.raises(panic_exception) as caught:
            small_pso().min(f, f64_min=[0.0], f64_max=[1.0])
        assert caught.value.args == ("Unwrapped panic from Python code",)


class TestReports:
    def test_each_failure_is_reported_once(self):
        result = run_python("""
            import swarmtuner
            pso = swarmtuner.PSO(n_iters=1, n_particles=1)
            for _ in range(2):
                try:
                    pso.min(lambda **point: 0.0, f64_min=[1.0], f64_max=[0.0])
                except Exception:
                    print("caught as Exception")
                except BaseException as error:
                    print(type(error).__name__, error)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [f"PanicException {BAD_BOUNDS_MESSAGE}"] * 2
        assert result.stderr.count(BAD_BOUNDS_MESSAGE) == 2
        assert result.stderr.count("<unnamed>") == 2
        assert len(re.findall(r"\.cpp:\d+:\d+", result.stderr)) == 2

    def test_inner_failure_is_reported_once_and_resumed_outside(self):
        result = run_python("""
            import swarmtuner
            pso = swarmtuner.PSO(n_iters=1, n_particles=1)

            def f(**point):
                return pso.min(lambda **inner: 0.0, f64_min=[1.0], f64_max=[0.0])

            try:
                pso.min(f, f64_min=[0.0], f64_max=[1.0])
            except BaseException as error:
                print(type(error).__name__, error)
            """)
        assert result.returncode == 0, result.stderr
        assert result.stdout.splitlines() == [f"PanicException {BAD_BOUNDS_MESSAGE}"]
        lines = result.stderr.splitlines()
        assert (
            lines.count(
                "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---"
            )
            == 1
        )
        assert lines.count("Python stack trace below:") == 1
        assert result.stderr.count("<unnamed>") == 1
        assert f"pyo3_runtime.PanicException: {BAD_BOUNDS_MESSAGE}" in lines
