"""Points handed to Python: the lists of f's keyword arguments and the result's dict.

Python code never meets one of them with an empty slot. With the pure-Python decimal module,
making a Decimal runs bytecode, so the collector, and the callbacks it runs, can start between
the decimals of a list; a callback that copies every list, tuple and dict it can see crashes
the process on an empty slot. Each test runs in a fresh interpreter, with the collector run at
nearly every allocation.
"""

import pytest

from conftest import run_python

WATCHED = """
import sys
sys.modules["_decimal"] = None  # decimal is then the pure-Python module
import gc
import decimal
import swarmtuner

copies = 0

def copy_every_container(phase, info):
    global copies
    for o in gc.get_objects():
        if type(o) in (list, tuple):
            [*o]
        elif type(o) is dict:
            [*o.items()]
    copies += 1

BOUNDS = dict(
    d_min=["0.00", 1, "-2.5", 0, "0.1"], d_max=["1.00", 2, "2.5", 7, "0.9"],
    i_min=[-2**80, 0], i_max=[2**80, 5], f64_min=[0.0], f64_max=[1.0],
    c128_min=[0j], c128_max=[1+1j],
)

def f(d, i, f64, c128):
    return float(sum(d)) + f64[0] + i[1]

def watched(search):
    gc.callbacks.append(copy_every_container)
    gc.set_threshold(1, 1, 1)
    try:
        return search()
    finally:
        gc.set_threshold(700, 10, 10)
        gc.callbacks.remove(copy_every_container)
"""


def run(code):
    done = run_python(WATCHED + code)
    assert done.returncode == 0, done.stderr[-3000:]
    return done.stdout.splitlines()


@pytest.mark.parametrize("method", ["min", "max"])
def test_no_list_or_dict_is_seen_half_built(method):
    lines = run(f"""
print("_pydecimal" in sys.modules)
value, point = watched(lambda: swarmtuner.PSO(n_iters=3, n_particles=4).{method}(f, **BOUNDS))
print(copies > 0, sorted(point), len(point["d"]), type(point["d"][0]).__name__)
print(value == f(**point))
""")
    assert lines == ["True", "True ['c128', 'd', 'f64', 'i'] 5 Decimal", "True"]


def test_a_decimal_that_cannot_be_made_leaves_no_list_half_built():
    # The third Decimal fails: the failure is reported (which runs Python code) while the
    # list that was to hold it would still have empty slots.
    lines = run("""
made = 0
make = decimal.Decimal.__new__

def new(cls, value="0", context=None):
    global made
    made += 1
    if made == 3:
        raise ValueError("no third decimal")
    return make(cls, value, context)

decimal.Decimal.__new__ = new
try:
    watched(lambda: swarmtuner.PSO(n_iters=3, n_particles=4).min(f, **BOUNDS))
except BaseException as error:
    print(type(error).__name__, str(error).split(": PyErr")[0], copies > 0)
""")
    assert lines == ["PanicException failed to call decimal.Decimal(value) True"]


def test_texts_decimal_keeps_are_never_written_over():
    # The module writes each new decimal's text over a str it made before, when nothing else
    # holds that str. A Decimal that keeps its text must keep it as it was.
    lines = run("""
kept = []
make = decimal.Decimal.__new__

def new(cls, value="0", context=None):
    if type(value) is str:
        kept.append((value, "".join(list(value))))
    return make(cls, value, context)

decimal.Decimal.__new__ = new
seen = []
def g(d):
    seen.extend(d)
    return float(sum(d))
swarmtuner.PSO(n_iters=5, n_particles=6, c1=0.7, c2=1.0).min(
    g, d_min=["-1000.000000"] * 3, d_max=["1000.000000"] * 3)
print(len(kept) > 20, all(text == copy for text, copy in kept))
print(all(decimal.Decimal(str(v)) == v for v in seen), len({str(v) for v in seen}) > 20)
""")
    assert lines == ["True True", "True True"]
