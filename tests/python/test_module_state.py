"""The module's process-wide state: made once at import, never filled or refilled by a call.

Each test runs in a fresh interpreter, since the state belongs to the process.
"""

import sys

import pytest

from conftest import run_python

testcapi = pytest.importorskip("_testcapi")

# A small search in either direction over kinds whose conversions allocate (lists, ints,
# decimals). The objectives are plain functions: from 3.12 on, the interpreter itself may crash
# when an allocation fails while it calls a closure.
SEARCHES = """
import swarmtuner

BOUNDS = dict(i8_min=[0], i8_max=[9], d_min=["0.0"], d_max=["1.0"], i_min=[2**70], i_max=[2**71])

def zero(i8, d, i):
    return 0

def five(i8, d, i):
    return 5

def seven(i8, d, i):
    return 7

def search(method, objective):
    pso = swarmtuner.PSO(n_iters=1, n_particles=2)
    return getattr(pso, method)(objective, **BOUNDS)[0]
"""


# for_each_allocation(attempt) calls attempt(start) for start = 0, 1, 2, ..., each time in a
# child process forked from this one, so that every attempt starts from the same state (the
# interpreter's free lists included): with _testcapi.set_nomemory(start, start + 1), the
# attempt's start-th allocation fails. It stops once 30 attempts in a row have met no failure,
# and returns the set of the attempts' results (strings); a child that crashed is reported as
# "status N". with_failing_allocation(start, call) runs one call with its start-th allocation
# failing.
FOR_EACH_ALLOCATION = """
import itertools, os

def for_each_allocation(attempt):
    outcomes = set()
    successes_in_a_row = 0
    for start in itertools.count():
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:
            try:
                os.close(read_end)
                os.write(write_end, attempt(start).encode())
            finally:
                os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            outcome = pipe.read()
        _, status = os.waitpid(pid, 0)
        outcomes.add(outcome if status == 0 else f"status {status}")
        successes_in_a_row = successes_in_a_row + 1 if outcome.startswith("ok ") else 0
        if successes_in_a_row == 30:
            return outcomes

# What call() ends with when its start-th allocation fails: "ok", or the exception's class name.
def with_failing_allocation(start, call):
    import _testcapi
    _testcapi.set_nomemory(start, start + 1)
    try:
        call()
    except BaseException as error:
        return type(error).__name__
    finally:
        _testcapi.remove_mem_hooks()
    return "ok"
"""


def run(code):
    done = run_python(code)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout.split("\n")


def test_a_call_that_runs_out_of_memory_leaves_later_calls_working():
    # Every allocation of a max call over int values (which it negates by name, through
    # "__neg__") and of a min call fails once in turn, each time in a child process started
    # after a first search. The call may fail, with MemoryError or PanicException, but the
    # module keeps nothing from it: the next call works. (A name interned on first use and lost
    # to a failed allocation made every later max fail with SystemError.)
    lines = run(
        SEARCHES
        + FOR_EACH_ALLOCATION
        + """
search("min", five)  # whatever a first search makes is made

def attempt(method, start):
    first = with_failing_allocation(start, lambda: search(method, five))
    try:
        second = "works" if search(method, seven) == 7 else "wrong"
    except BaseException as error:
        second = repr(error)
    return first + " " + second

for method in ("max", "min"):
    for outcome in sorted(for_each_allocation(lambda start: attempt(method, start))):
        print(method, outcome)
"""
    )
    outcomes = set(filter(None, lines))
    for method in ("max", "min"):
        assert f"{method} ok works" in outcomes
        assert f"{method} MemoryError works" in outcomes
    allowed = {
        f"{method} {first} works"
        for method in ("max", "min")
        for first in ("ok", "MemoryError", "PanicException")
    }
    assert outcomes <= allowed


def test_decimal_is_imported_at_initialisation_and_referenced_once():
    # Searches handing decimals to f, started together from several threads, take no
    # reference to decimal.Decimal of their own: the module took its one reference when it
    # was imported. (Two threads importing decimal on first use could both keep one.)
    lines = run(
        """
import gc, sys, threading
imported_first = "decimal" in sys.modules
"""
        + SEARCHES
        + """
print(imported_first, "decimal" in sys.modules)
import decimal

references = sys.getrefcount(decimal.Decimal)
sys.setswitchinterval(1e-6)
start = threading.Barrier(4)

def run():
    start.wait()
    for _ in range(5):
        search("min", zero)

threads = [threading.Thread(target=run) for _ in range(4)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
gc.collect()
print(sys.getrefcount(decimal.Decimal) - references)
"""
    )
    assert lines[:2] == ["False True", "0"]


def test_the_panic_exception_class_exists_before_any_failure():
    # Made with the module, so threads whose first failures come together (while the
    # collector, run by nearly every allocation, hands the interpreter lock around) all raise
    # the one class, and a failure that travels through f is recognised as one. (Made by the
    # first failure instead, two threads could each make a class of their own.)
    lines = run(
        """
import gc, sys, threading, time
import swarmtuner

made = [c for c in BaseException.__subclasses__() if c.__module__ == "pyo3_runtime"]
print([c.__qualname__ for c in made])

def bad_search(pso):
    return pso.min(lambda **point: 0.0, f64_min=[1.0], f64_max=[0.0])

caught = []
start = threading.Barrier(4)

def run():
    start.wait()
    try:
        bad_search(swarmtuner.PSO(n_iters=1, n_particles=1))
    except BaseException as error:
        caught.append(type(error))

gc.callbacks.append(lambda phase, info: time.sleep(0.001))
gc.set_threshold(1)
sys.setswitchinterval(1e-6)
threads = [threading.Thread(target=run) for _ in range(4)]
for thread in threads:
    thread.start()
for thread in threads:
    thread.join()
gc.callbacks.clear()
gc.set_threshold(700)

outer = swarmtuner.PSO(n_iters=1, n_particles=1)
try:
    outer.min(lambda **point: bad_search(outer), f64_min=[0.0], f64_max=[1.0])
except BaseException as error:
    print(len(caught), set(caught) == set(made), type(error) in made, error)
"""
    )
    assert lines[:2] == ["['PanicException']", "4 True True Uniform::new called with `low >= high`"]


@pytest.mark.skipif(
    sys.version_info >= (3, 13),
    reason="the interpreter's own import machinery crashes when some of its allocations fail",
)
def test_an_import_that_runs_out_of_memory_fails_cleanly():
    # Every allocation of the import fails once in turn, each time in a child process: the
    # import raises (or, past its last allocation, succeeds) and nothing crashes. Only a
    # successful initialisation counts: one that failed, before the module state was made or
    # after, leaves a later import working. (An import that CPython's own bookkeeping fails
    # after the module's initialisation succeeded is the one refused as a second one; the state
    # exists then.)
    lines = run(
        FOR_EACH_ALLOCATION
        + """
import gc
import importlib
import decimal  # its own allocations are not the module's

def attempt(start):
    first = with_failing_allocation(start, lambda: importlib.import_module("swarmtuner"))
    gc.collect()  # a state that failed halfway leaves classes in cycles
    made = any(c.__module__ == "pyo3_runtime" for c in BaseException.__subclasses__())
    try:
        import swarmtuner
        pso = swarmtuner.PSO(n_iters=1, n_particles=1)
        pso.min(lambda **point: 1.0, f64_min=[0.0], f64_max=[1.0], d_min=[0], d_max=[1])
        second = "works"
    except ImportError as error:
        second = "refused" if "only be initialized once" in str(error) else repr(error)
    except BaseException as error:
        second = repr(error)
    return first + " " + second + (" (state made)" if made and second == "refused" else "")

for outcome in sorted(for_each_allocation(attempt)):
    print(outcome)
"""
    )
    outcomes = set(filter(None, lines))
    assert {"ok works", "MemoryError works"} <= outcomes
    # Before the initialisation, the import machinery's own lock may be what could not be
    # allocated (RuntimeError); inside it, the class (RuntimeError "An error occurred while
    # initializing class PSO") or the append to __all__ (PanicException).
    assert outcomes <= {
        "ok works",
        "MemoryError works",
        "RuntimeError works",
        "PanicException works",
        "MemoryError refused (state made)",
    }


def test_without_decimal_only_decimal_searches_fail():
    lines = run(
        """
import sys
sys.modules["decimal"] = None  # makes importing decimal fail
try:
    import decimal
except ModuleNotFoundError as error:
    print(repr(error))
"""
        + SEARCHES
        + """
print(swarmtuner.PSO(n_iters=1, n_particles=1).min(lambda **point: 1.5, f64_min=[0.0], f64_max=[1.0])[0])
try:
    search("min", zero)
except BaseException as error:
    print(type(error).__name__)
    print(error)
"""
    )
    # The error's repr is the interpreter's own (3.15 adds name='decimal' to it).
    assert lines[0].startswith(
        "ModuleNotFoundError('import of decimal halted; None in sys.modules'"
    )
    assert lines[1:3] == ["1.5", "PanicException"]
    assert lines[3].startswith(
        "failed to load decimal.Decimal: PyErr { type: <class 'ModuleNotFoundError'>, "
        f"value: {lines[0]}"
    )
