"""Ctrl-C and sys.exit() during a search end it as themselves, in a fresh interpreter each time."""

import pytest

import swarmtuner
from conftest import run_python

# Runs a search that would take hours, interrupted after a moment while the objective runs
# Python code; then shows that the interpreter and the object still work.
SCRIPT = """
import os, signal, threading, time
import swarmtuner

pso = swarmtuner.PSO(n_iters=10**12, n_particles=5)
deliver = {deliver!r}
nested = {nested}
method = pso.{method}

def busy(**point):
    total = 0
    for i in range(200):
        total += i
    return float(total)

def f(**point):
    if nested:
        inner = swarmtuner.PSO(n_iters=10**12, n_particles=2)
        return inner.min(busy, f64_min=[0.0], f64_max=[1.0])[0]
    return busy()

if deliver == "kill":
    threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT)).start()
else:
    signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.3)
started = time.monotonic()
try:
    method(f, f64_min=[0.0], i8_min=[0], d_min=["0.0"], f64_max=[1.0], i8_max=[9], d_max=["1.0"])
    print("finished")
except BaseException as error:
    print(type(error).__module__, type(error).__name__)
    print(str(error))
assert time.monotonic() - started < 30
pso.n_iters = 2
print(pso.n_iters, pso.min(lambda **kw: 7.5, f64_min=[0.0], f64_max=[1.0])[0])
"""


@pytest.mark.parametrize("deliver", ["kill", "timer"])
@pytest.mark.parametrize("method", ["min", "max"])
@pytest.mark.parametrize("nested", [False, True])
def test_interrupt_ends_the_search(deliver, method, nested):
    done = run_python(SCRIPT.format(deliver=deliver, method=method, nested=nested))
    assert done.returncode == 0, done.stderr
    kind, _, after = done.stdout.splitlines()
    # The interrupt reaches the caller as KeyboardInterrupt, through a nested search too, with
    # no failure report: `except KeyboardInterrupt` around a search works.
    assert kind == "builtins KeyboardInterrupt"
    assert done.stderr == ""
    assert after == "2 7.5"


# An objective that runs no bytecode (a builtin) never lets the interpreter run a signal
# handler itself. The whole search would take seconds; Ctrl-C must end it at once, the same way
# as when f itself is interrupted. The search holds the interpreter lock throughout, so the
# signal comes from outside: a timer of the process, or another process.
BUILTIN_SCRIPT = """
import os, signal, subprocess, time
import swarmtuner

f, bounds, n_particles, n_iters = {objective}
if {deliver!r} == "kill":
    subprocess.Popen(["sh", "-c", "sleep 0.2; kill -INT " + str(os.getpid())])
else:
    signal.signal(signal.SIGALRM, signal.default_int_handler)
    signal.setitimer(signal.ITIMER_REAL, 0.2)
try:
    swarmtuner.PSO(n_iters=n_iters, n_particles=n_particles).{method}(f, **bounds)
    print("finished")
except BaseException as error:
    print(type(error).__module__, type(error).__name__)
    print(str(error))
"""

# (f, bounds, n_particles, n_iters). A dict is never less than another, so a single particle
# never compares two of them before the sweeps, where a pair without an order simply does not
# improve a best.
BUILTIN_OBJECTIVES = {
    "no bounds": "time.perf_counter, {}, 10, 10**6",
    "f64 and d": "dict, dict(f64_min=[0.0], f64_max=[1.0], d_min=['0'], d_max=['9']), 1, 3 * 10**6",
}


@pytest.mark.parametrize("deliver", ["kill", "timer"])
@pytest.mark.parametrize("method", ["min", "max"])
@pytest.mark.parametrize("objective", BUILTIN_OBJECTIVES, ids=list(BUILTIN_OBJECTIVES))
def test_interrupt_ends_a_search_whose_objective_is_a_builtin(objective, method, deliver):
    if method == "max" and objective != "no bounds":
        pytest.skip("a dict has no __neg__")
    script = BUILTIN_SCRIPT.format(
        objective=BUILTIN_OBJECTIVES[objective], method=method, deliver=deliver)
    done = run_python(script)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[0] == "builtins KeyboardInterrupt"
    assert done.stderr == ""


# A command-line tool saves its progress on Ctrl-C and exits with the shell's status for it.
CLI_SCRIPT = """
import os, signal, subprocess, sys
import swarmtuner

subprocess.Popen(["sh", "-c", "sleep 0.3; kill -INT " + str(os.getpid())])
try:
    swarmtuner.PSO(n_iters=10**12).min(lambda **p: sum(range(100)), f64_min=[0.0], f64_max=[1.0])
except KeyboardInterrupt:
    print("progress saved")
    sys.exit(130)
"""


def test_except_keyboard_interrupt_catches_ctrl_c():
    done = run_python(CLI_SCRIPT)
    assert (done.returncode, done.stdout, done.stderr) == (130, "progress saved\n", "")


@pytest.mark.parametrize("status", [0, 3])
@pytest.mark.parametrize("method", ["min", "max"])
def test_sys_exit_in_f_exits_with_its_status(method, status):
    done = run_python(
        f"""
        import sys, swarmtuner
        swarmtuner.PSO().{method}(lambda **p: sys.exit({status}), f64_min=[0.0], f64_max=[1.0])
        print("not reached")
        """
    )
    assert (done.returncode, done.stdout, done.stderr) == (status, "", "")


class Exits:
    """An objective value whose comparison or negation raises the given exception."""

    def __init__(self, error, where):
        self.error, self.where = error, where

    def _maybe_raise(self, where):
        if self.where == where:
            raise self.error
        return False

    def __eq__(self, other):
        return self._maybe_raise("compare")

    def __lt__(self, other):
        return self._maybe_raise("compare")

    __gt__ = __lt__
    __hash__ = None

    def __neg__(self):
        self._maybe_raise("negate")
        return self


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit])
@pytest.mark.parametrize("where", ["f", "compare", "negate"])
def test_exit_requests_reach_the_caller_as_the_same_object(where, exception):
    error = exception("stop")

    def f(**point):
        if where == "f":
            raise error
        return Exits(error, where)

    pso = swarmtuner.PSO(n_iters=3, n_particles=3)
    search = pso.max if where == "negate" else pso.min
    with pytest.raises(exception) as excinfo:
        search(f, f64_min=[0.0], f64_max=[1.0])
    assert excinfo.value is error
    # The traceback still leads into the Python code that raised it.
    assert excinfo.traceback[-1].name in ("f", "_maybe_raise")
    assert pso.min(lambda **kw: 1.5, f64_min=[0.0], f64_max=[1.0])[0] == 1.5
