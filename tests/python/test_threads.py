"""Searches from several Python threads at once, nested searches among them."""

import os
import random
import sys
import threading

import pytest

from conftest import run_python
from oracle import PanicException
from swarmtuner import PSO

THREADS = 4
SEARCHES = 300


@pytest.fixture
def fast_switching():
    """Threads take turns every few bytecodes, so the objectives of different searches
    interleave as much as they can."""
    previous = sys.getswitchinterval()
    sys.setswitchinterval(1e-6)
    yield
    sys.setswitchinterval(previous)


SPACES = [
    {"f64_min": [-1.0, 0.0], "f64_max": [1.0, 5.0]},
    {"i8_min": [-10], "i8_max": [10], "d_min": ["0.00"], "d_max": ["1.00"]},
    {"i_min": [-(10**40)], "i_max": [10**40], "c128_min": [0j], "c128_max": [1 + 1j]},
    {"i32_min": [0, 0], "i32_max": [100, 3], "f32_min": [0.5], "f32_max": [0.75]},
]


ACTIVE = {"now": 0, "most": 0}


def worker(index, shared, problems, handshake=None):
    rng = random.Random(index)
    own = PSO(n_iters=3, n_particles=3)
    for search in range(SEARCHES):
        pso = shared if search % 3 == 0 else own
        seen = []
        maximise = rng.random() < 0.3
        nest = rng.random() < 0.2
        # Each search calls f 3 * (3 + 1) = 12 times.
        fail_at = rng.randrange(12) if rng.random() < 0.1 else None

        def f(**point):
            if handshake is not None and pso is shared and not handshake[1].is_set():
                # Hold the shared object in a running search until the setter has tried it.
                handshake[0].set()
                handshake[1].wait(timeout=60)
            if fail_at is not None and len(seen) == fail_at:
                raise ValueError(f"thread {index}")
            if nest:
                inner_seen = []

                def inner(**inner_point):
                    inner_seen.append(rng.random())
                    return inner_seen[-1]

                value, _ = PSO(2, 2).min(inner, f64_min=[0.0], f64_max=[1.0])
                if value != min(inner_seen) or len(inner_seen) != 6:
                    problems.append("nested result")
            seen.append(rng.randrange(-1000, 1000) * 0.5)
            return seen[-1]

        space = SPACES[rng.randrange(len(SPACES))]
        ACTIVE["now"] += 1
        ACTIVE["most"] = max(ACTIVE["most"], ACTIVE["now"])
        try:
            value, point = (pso.max if maximise else pso.min)(f, **space)
        except PanicException as error:
            if fail_at is None or not str(error).startswith("failed to call f: "):
                problems.append(f"unexpected failure {error}")
            elif f"thread {index}" not in str(error):
                problems.append(f"failure of another thread: {error}")
            continue
        finally:
            ACTIVE["now"] -= 1
        if fail_at is not None:
            problems.append("objective failure went unnoticed")
        expected = max(seen) if maximise else min(seen)
        if value != expected or (not maximise and all(value is not v for v in seen)):
            problems.append(f"result {value} for values {seen}")
        if not all(key + "_min" in space for key in point):
            problems.append(f"point {point}")


def setter_worker(shared, handshake, stop, problems, outcomes):
    """Changes a setting of the object the other threads search with: refused exactly while
    one of their searches holds it, as it does during the handshake."""
    running, attempted = handshake
    running.wait(timeout=60)
    try:
        shared.c1 = 2.0
        problems.append("setter accepted during a search")
    except RuntimeError as error:
        outcomes["refused"] += 1
        if str(error) != "Already borrowed":
            problems.append(f"setter: {error}")
    attempted.set()
    while not stop.is_set():
        try:
            shared.c1 = 2.0
            outcomes["set"] += 1
        except RuntimeError as error:
            if str(error) != "Already borrowed":
                problems.append(f"setter: {error}")
            outcomes["refused"] += 1


def test_four_threads_search_at_once(fast_switching):
    shared = PSO(n_iters=3, n_particles=3)
    problems = []
    outcomes = {"set": 0, "refused": 0}
    stop = threading.Event()
    handshake = (threading.Event(), threading.Event())
    workers = [
        threading.Thread(target=worker, args=(i, shared, problems, handshake if i == 0 else None))
        for i in range(THREADS)
    ]
    setter = threading.Thread(
        target=setter_worker, args=(shared, handshake, stop, problems, outcomes)
    )
    for thread in workers + [setter]:
        thread.start()
    for thread in workers:
        thread.join()
    stop.set()
    setter.join()
    assert problems == []
    assert outcomes["refused"] > 0
    assert ACTIVE["most"] > 1, "the searches never overlapped"
    shared.c1 = 1.5  # the object is free again
    assert shared.c1 == 1.5


# The end of every shutdown script: the main thread exits, and the collection at shutdown finds
# an object that sleeps when it is released, which hands the interpreter lock over to the
# daemon thread for that long.
def sleeps_when_collected(seconds):
    return f"""
class SleepsWhenCollected:
    def __init__(self):
        self.sleep = time.sleep
        self.cycle = self
    def __del__(self):
        self.sleep({seconds})

SleepsWhenCollected()
"""


# A daemon thread is still searching when the interpreter shuts down. The shutdown's garbage
# collection finds an object that sleeps when it is released, which hands the interpreter lock
# back; f's own sleep ends meanwhile, and CPython ends the thread as it takes the lock again (by
# pthread_exit: a forced unwind through the search). The process must exit quietly.
DAEMON_SCRIPT = """
import threading, time
from swarmtuner import PSO

entered = threading.Event()

def f(**point):
    entered.set()
    time.sleep(0.02)
    if {nested}:
        return PSO(n_iters=50, n_particles=2).min(lambda **p: (time.sleep(0.02), 0.0)[1],
                                                  **BOUNDS)[0]
    return 0.0

BOUNDS = dict(f64_min=[0.0], f64_max=[1.0], d_min=["0"], d_max=["1"])
search = lambda: getattr(PSO(n_iters=100, n_particles=10), {method!r})(f, **BOUNDS)
threading.Thread(target=search, daemon=True).start()
entered.wait()

"""



@pytest.mark.parametrize("method", ["min", "max"])
@pytest.mark.parametrize("nested", [False, True])
def test_daemon_thread_searching_at_shutdown_exits_cleanly(method, nested):
    # A thread ended at shutdown never frees what it holds (the interpreter's own thread state
    # included), so under the sanitizers the leak check is off here; every other check stays on.
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
    for _ in range(3):
        script = DAEMON_SCRIPT.format(method=method, nested=nested) + sleeps_when_collected(0.1)
        done = run_python(script, env=env)
        assert (done.returncode, done.stderr) == (0, "")


# The same shutdown, with the thread handing the lock back somewhere other than inside f: while
# the report of a failed nested search is printed, while a value that f returned is released
# (its __del__ sleeps), and while the text of f's exception is made (its __repr__ sleeps). Each
# waits long enough for the interpreter to begin its shutdown, whose collection then hands the
# lock over, so the thread is ended right there. `entered` tells the main thread to exit.
EXIT_PATH_SCRIPT = """
import sys, threading, time
from swarmtuner import PSO

entered = threading.Event()
BOUNDS = dict(f64_min=[0.0], f64_max=[1.0])
on_daemon = lambda: threading.current_thread() is not threading.main_thread()

class SlowStderr:
    def __init__(self, stream):
        self.stream = stream
    def write(self, text):
        if on_daemon():
            entered.set()
            time.sleep(0.3)
        return self.stream.write(text)
    def flush(self):
        self.stream.flush()

class SleepsWhenReleased:
    def __init__(self, value):
        self.value = value
    def __eq__(self, other):
        return self.value == other.value
    def __lt__(self, other):
        return self.value < other.value
    def __gt__(self, other):
        return self.value > other.value
    def __del__(self):
        if on_daemon():
            entered.set()
            time.sleep(0.3)

class SlowRepr(Exception):
    def __repr__(self):
        entered.set()
        time.sleep(0.3)
        return "SlowRepr()"

def nested_failure(**point):
    def inner(**p):
        raise ValueError("inner")
    return PSO(1, 1).min(inner, **BOUNDS)[0]

calls = []
def returns_sleepers(**point):
    calls.append(1)
    return SleepsWhenReleased(-len(calls))

def raises_slow_repr(**point):
    raise SlowRepr()

path = {path!r}
if path == "printing":
    sys.stderr = SlowStderr(sys.stderr)
f = dict(printing=nested_failure, releasing=returns_sleepers, describing=raises_slow_repr)[path]

def search():
    try:
        PSO(n_iters=5, n_particles=3).min(f, **BOUNDS)
    except BaseException:
        pass

threading.Thread(target=search, daemon=True).start()
entered.wait()

"""



@pytest.mark.parametrize("path", ["printing", "releasing", "describing"])
def test_thread_ended_at_shutdown_outside_f_exits_cleanly(path):
    env = dict(os.environ)
    if "ASAN_OPTIONS" in env:
        env["ASAN_OPTIONS"] = env["ASAN_OPTIONS"].replace("detect_leaks=1", "detect_leaks=0")
    for _ in range(2):
        done = run_python(EXIT_PATH_SCRIPT.format(path=path) + sleeps_when_collected(0.6), env=env)
        assert done.returncode == 0, done.stderr
        # Only the nested search's own failure report may be there, never a fatal error.
        assert "Fatal" not in done.stderr and "terminate" not in done.stderr
