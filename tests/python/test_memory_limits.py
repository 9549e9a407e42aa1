"""Running out of memory with big integers raises MemoryError and leaves the process usable.

Each case runs in a fresh interpreter whose address space is limited (RLIMIT_AS) to a little
above what it already uses, so that the big integers of the search cannot all be held.
"""

import os
import sys

import pytest

from conftest import run_python

pytestmark = [
    pytest.mark.skipif(
        bool(os.environ.get("SWARMTUNER_UNDER_ASAN")),
        reason="AddressSanitizer reserves address space beyond any useful limit",
    ),
    pytest.mark.skipif(not sys.platform.startswith("linux"), reason="reads /proc/self/status"),
]

# 40 MB big integers: every allocation of one is served by its own mapping, which is returned
# to the system when freed, so the address space shows what is still held.
PRELUDE = """
import resource
import swarmtuner

MB = 1_000_000
SIZE = 40 * MB
huge = 1 << (8 * SIZE)

def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

calls = []
def f(**kw):
    calls.append(kw)
    return 0

soft, hard = resource.getrlimit(resource.RLIMIT_AS)
pso = swarmtuner.PSO(n_iters=3, n_particles=4)
pso.min(f, i_min=[0], i_max=[10])  # everything a search needs is loaded before the limit
calls.clear()

def limited(headroom, search):
    # Runs search() three times with the address space limited to the current size plus
    # headroom; returns the exceptions and how much more address space is held afterwards.
    start = address_space()
    resource.setrlimit(resource.RLIMIT_AS, (start + headroom, hard))
    failures = []
    try:
        for _ in range(3):
            try:
                search()
                failures.append(None)
            except BaseException as error:
                failures.append(type(error).__name__)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    return failures, address_space() - start

def still_usable():
    value, point = pso.min(f, i_min=[-5, 0], i_max=[5, huge >> (8 * SIZE - 64)])
    assert value == 0 and len(point["i"]) == 2, (value, point)
    assert pso.n_particles == 4
    assert 1 << 100000 > 0  # and the interpreter can still allocate
"""


def run_limited(body):
    result = run_python(PRELUDE + body)
    assert result.returncode == 0, result.stderr
    return result.stdout


# Reading a bound takes a buffer of its bytes and then its limbs; the smaller headroom fails
# on the first, the larger one on the second.
@pytest.mark.parametrize("headroom_mb", [20, 60])
@pytest.mark.parametrize("method", ["min", "max"])
def test_huge_bound_raises_memory_error_before_the_search(headroom_mb, method):
    out = run_limited(f"""
failures, held = limited({headroom_mb} * MB,
                         lambda: pso.{method}(f, i_min=[0], i_max=[huge], f64_min=[0.0],
                                              f64_max=[1.0]))
print(failures, calls, held < SIZE // 2)
still_usable()
""")
    assert out.split("\n")[0] == "['MemoryError', 'MemoryError', 'MemoryError'] [] True"


# With room to read both bounds (three sizes at the peak: one held, one being read and its
# byte buffer) but not for the search's copies of them and their difference (five sizes), the
# memory runs out in the search's own copies and arithmetic.
def test_search_arithmetic_outgrowing_memory_raises_memory_error():
    out = run_limited("""
failures, held = limited(4 * SIZE + SIZE // 2,
                         lambda: pso.min(f, i_min=[-huge], i_max=[huge]))
print(failures, calls, held < SIZE // 2)
still_usable()
""")
    assert out.split("\n")[0] == "['MemoryError', 'MemoryError', 'MemoryError'] [] True"



# The first C++ exception of a thread makes the runtime's storage for the exception in flight.
# Where the runtime is a shared library opened after the thread started (the module built from
# source), that storage comes from the heap, so the first exception must not be the one that
# reports exhausted memory. Each case is the first call of the module on its thread, in a fresh
# interpreter: the memory runs out while the search sets up its swarm.
FIRST_FAILURE_SCRIPT = """
import resource, threading
import swarmtuner

def address_space():
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024

def limited_search():
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (address_space() + {headroom_mb} * 1_000_000, hard))
    try:
        swarmtuner.PSO(2, 60).min(lambda i: 0, i_min=[2**200] * 400_000, i_max=[2**201] * 400_000)
        return "finished"
    except BaseException as error:
        return type(error).__name__
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))

outcome = []
if {on_thread}:
    thread = threading.Thread(target=lambda: outcome.append(limited_search()))
    thread.start()
    thread.join()
else:
    outcome.append(limited_search())
print(outcome)
print(swarmtuner.PSO(2, 4).min(lambda i: 0, i_min=[0], i_max=[2**300])[0])
"""


# Headrooms at which the process was ended by the loader ("cannot allocate memory for
# thread-local data") when the exception state was left to the first throw.
@pytest.mark.parametrize(
    "on_thread, headroom_mb",
    [(False, 50), (False, 100), (False, 150), (False, 350), (True, 50), (True, 75), (True, 100)],
)
def test_first_exception_of_a_thread_may_be_out_of_memory(on_thread, headroom_mb):
    result = run_python(FIRST_FAILURE_SCRIPT.format(on_thread=on_thread, headroom_mb=headroom_mb))
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == ["['MemoryError']", "0"]
