"""A keyboard interrupt during a long search ends it cleanly, in a fresh interpreter each time."""

import pytest

from conftest import run_python

PREFIX = "failed to call f: PyErr { type: <class 'KeyboardInterrupt'>"

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
    kind, message, after = done.stdout.splitlines()
    assert kind == "pyo3_runtime PanicException"
    # An interrupt inside the nested search ends it, and its PanicException then ends the
    # outer one with the same text.
    assert message.startswith(PREFIX)
    assert after == "2 7.5"
    # The failure was reported on standard error; the nested one is resumed once more.
    assert done.stderr.count("failed to call f: PyErr { type: <class 'KeyboardInterrupt'>") >= 1
    if nested:
        assert "PyO3 is resuming a panic after fetching a PanicException from Python" in done.stderr


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
    kind, message = done.stdout.splitlines()
    assert (kind, message[: len(PREFIX)]) == ("pyo3_runtime PanicException", PREFIX)
