"""The Python objective: how f is called, and how its failures end the search."""
import gc
import re
import weakref
from decimal import Decimal

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


class Released:
    """An object f leaves in a list; counts its releases."""

    count = 0

    def __del__(self):
        Released.count += 1


def leave_marker(items):
    items[0] = Released()


@pytest.mark.parametrize(
    "change", [lambda items: None, leave_marker, list.clear, lambda items: items.append(1), list.reverse]
)
def test_lists_f_lets_go_of_come_back_full(change):
    # Lists f does not keep may serve the next call: each call must still see only its own
    # point, and what f left in them is released at once.
    calls = []
    Released.count = 0

    def f(i8, f64):
        calls.append((list(i8), list(f64), Released.count))
        value = f64[0]
        change(i8)
        change(f64)
        return value

    value, point = swarmtuner.PSO(n_iters=4, n_particles=3).min(
        f, i8_min=[-5, 0], i8_max=[5, 3], f64_min=[0.0, 1.0, 2.0], f64_max=[1.0, 2.0, 3.0]
    )
    assert len(calls) == 15 and value == min(f64[0] for _, f64, _ in calls)
    for k, (i8, f64, released) in enumerate(calls):
        assert [type(x) for x in i8 + f64] == [int] * 2 + [float] * 3
        assert -5 <= i8[0] <= 5 and 0 <= i8[1] <= 3
        assert all(low <= x <= low + 1 for low, x in zip([0.0, 1.0, 2.0], f64))
        assert released == (2 * k if change is leave_marker else 0)
    assert point["f64"][0] == value and len(point["i8"]) == 2


class Node:
    pass


@pytest.mark.parametrize("raises", [False, True])
def test_lists_f_keeps_are_tracked_and_their_cycles_collected(raises):
    # A list that served an earlier call reaches f untracked; one that f ties into a reference
    # cycle, or keeps, must be tracked again, or the cycle would never be collected.
    cycles, kept = [], []

    def f(i8, f64):
        node = Node()
        node.items = f64
        f64.append(node)
        cycles.append(weakref.ref(node))
        if len(cycles) % 2 == 0:
            kept.append(i8)
        if raises and len(cycles) == 7:
            raise ValueError("stop")
        return 0.0

    search = lambda: swarmtuner.PSO(n_iters=3, n_particles=2).min(
        f, i8_min=[0], i8_max=[9], f64_min=[0.0], f64_max=[1.0])
    if raises:
        with pytest.raises(BaseException) as excinfo:
            search()
        assert "failed to call f" in panic_message(excinfo)
        del excinfo
    else:
        search()
    gc.collect()
    assert len(cycles) == (7 if raises else 8)
    assert [ref() for ref in cycles] == [None] * len(cycles)
    assert kept and all(gc.is_tracked(items) for items in kept)


@pytest.mark.parametrize("replace", [False, True])
def test_numbers_are_written_over_only_where_nothing_else_holds_them(replace):
    # The floats and complex numbers of lists f lets go of may carry the next call's values.
    # f sees each point's own values, and a number f keeps never changes. With `replace`, f
    # also leaves numbers of its own in the lists, some in lists of other kinds.
    seen, kept = [], []

    def f(i8, i64, i, f64, c128, d):
        seen.append(([x.hex() for x in f64], [repr(z) for z in c128], list(i8), list(d),
                     [str(n) for n in i64 + i]))
        if len(seen) % 3 == 0:
            kept.append((f64[0], f64[0].hex(), c128[0], repr(c128[0]), i64[0], str(i64[0])))
            kept.append((f64[0], f64[0].hex(), c128[0], repr(c128[0]), i[1], str(i[1])))
        if replace:
            n = len(seen)
            f64[1], i8[0], d[0], i64[1] = 1000 + n, float(n), complex(n, 1), float(n)
        return f64[0] + f64[1] if not replace else float.fromhex(seen[-1][0][0])

    value, point = swarmtuner.PSO(n_iters=8, n_particles=4, c1=0.7, c2=1.0).min(
        f, i8_min=[-5], i8_max=[5], i64_min=[-10**6, 300], i64_max=[10**6, 10**9],
        i_min=[2**100, -2**101], i_max=[2**101, -2**100],
        f64_min=[0.0, 1.0], f64_max=[1.0, 2.0], c128_min=[0j], c128_max=[1 + 1j],
        d_min=["0.5"], d_max=["1.5"])
    assert len(seen) == 36 and len(kept) == 24
    assert all(x.hex() == x_hex and repr(z) == z_repr and str(i) == i_str
               for x, x_hex, z, z_repr, i, i_str in kept)
    ints = [[int(n) for n in i64] for *_, i64 in seen]
    assert all(-10**6 <= a <= 10**6 and 300 <= b <= 10**9 for a, b, _, _ in ints)
    assert all(2**100 <= c <= 2**101 and -2**101 <= d <= -2**100 for _, _, c, d in ints)
    best_ints = [str(n) for n in point["i64"] + point["i"]]
    assert best_ints in (i64 for *_, i64 in seen)
    floats = [[float.fromhex(x) for x in f64] for f64, *_ in seen]
    complexes = [[complex(z) for z in c128] for _, c128, *_ in seen]
    assert all(0.0 <= a <= 1.0 and 1.0 <= b <= 2.0 for a, b in floats)
    assert all(0 <= z.real <= 1 and 0 <= z.imag <= 1 for z, in complexes)
    assert all(type(i) is int and -5 <= i <= 5 for _, _, (i,), *_ in seen)
    assert all(type(x) is Decimal and 0.5 <= x <= 1.5 for _, _, _, (x,), _ in seen)
    # The particles move, and f saw the values of the point the search reports as the best.
    assert len({tuple(f64) for f64, *_ in seen}) > 4
    sums = [a + b for a, b in floats] if not replace else [a for a, _ in floats]
    best = point["f64"][0] + (point["f64"][1] if not replace else 0.0)
    assert value == min(sums) == best


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
