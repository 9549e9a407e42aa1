"""PSO.min and PSO.max as entry points: borrowing, re-entrancy, results and references."""
import gc
import os
import sys
from decimal import Decimal

import pytest

import swarmtuner
from conftest import panic_message


def test_result_is_a_value_position_tuple(small_pso):
    result = small_pso.min(lambda f64: f64[0] ** 2, f64_min=[-1.0], f64_max=[1.0])
    assert type(result) is tuple and len(result) == 2
    value, position = result
    assert isinstance(value, float) and list(position) == ["f64"]
    assert value == position["f64"][0] ** 2


def test_bounds_by_position(small_pso):
    seen = []
    small_pso.min(lambda **kw: seen.append(kw) or 0, [0], [10])
    assert all(list(kw) == ["i8"] and 0 <= kw["i8"][0] <= 10 for kw in seen)


def test_setters_refused_during_search_and_work_after():
    pso = swarmtuner.PSO(n_iters=1, n_particles=2)
    outcomes = []

    def f(**kw):
        outcomes.append(pso.c1)
        with pytest.raises(RuntimeError, match="^Already borrowed$"):
            pso.c1 = 1.0
        with pytest.raises(TypeError):
            pso.c1 = "a"  # the value is converted before the borrow is tried
        return 0

    pso.min(f)
    assert outcomes == [2.0] * 4
    pso.c1 = 1.0
    assert pso.c1 == 1.0


def test_nested_search_on_the_same_object():
    pso = swarmtuner.PSO(n_iters=1, n_particles=2)
    inner_results = []

    def inner(f64):
        return f64[0]

    def outer(**kw):
        inner_results.append(pso.min(inner, f64_min=[0.0], f64_max=[1.0]))
        return len(inner_results)

    value, _ = pso.max(outer)
    assert value == 4 and len(inner_results) == 4


def test_failure_inside_nested_search_propagates_its_text(capfd):
    pso = swarmtuner.PSO(n_iters=1, n_particles=2)

    def outer(**kw):
        pso.min(lambda **kw: 0, f64_min=[1.0], f64_max=[0.0])

    with pytest.raises(BaseException) as excinfo:
        pso.min(outer)
    assert panic_message(excinfo) == "Uniform::new called with `low >= high`"
    err = capfd.readouterr().err
    assert "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---" in err
    assert "Python stack trace below:" in err
    pso.n_iters = 2  # borrow released


def test_panic_inside_comparison_ends_the_search():
    pso = swarmtuner.PSO(n_iters=0, n_particles=2)

    class Explosive:
        def __eq__(self, other):
            pso.min(lambda **kw: 0, i_min=[1], i_max=[1])

    with pytest.raises(BaseException) as excinfo:
        pso.min(lambda **kw: Explosive())
    assert panic_message(excinfo) == "assertion failed: low < high"


@pytest.mark.parametrize(
    "settings, bounds, message",
    [
        (dict(n_particles=0), dict(f64_min=[0.0], f64_max=[1.0]), "n_particles is 0!"),
        (dict(n_particles=0), dict(f64_min=[1.0], f64_max=[1.0]), "Uniform::new called with `low >= high`"),
        (dict(), dict(i8_min=[3], i8_max=[3]), "Uniform::new called with `low >= high`"),
        (dict(), dict(i_min=[3], i_max=[3]), "assertion failed: low < high"),
        (dict(), dict(d_min=[1], d_max=["1.0"]), "Uniform::new_inclusive called with `low > high`"),
        (dict(), dict(f64_min=[-1e308], f64_max=[1e308]), "Uniform::new: range overflow"),
        (dict(), dict(f64_min=[float("nan")], f64_max=[1.0]), "Uniform::new called with `low >= high`"),
        (dict(), dict(c128_min=[1j], c128_max=[2 + 1j]), "Uniform::new called with `low >= high`"),
        (dict(max_v=float("inf")), dict(i_min=[0], i_max=[5]), "f64 can not to BigInt"),
        (dict(max_v=float("nan")), dict(i8_min=[0], i8_max=[5], d_min=[0], d_max=[1]),
         "Failed to convert to Decimal"),
        (dict(max_v=4.0), dict(d_min=["-79228162514264337593543950335"], d_max=["0"]),
         "Multiplication overflowed"),
    ],
)
def test_search_failures(settings, bounds, message):
    calls = []
    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(**settings).min(lambda **kw: calls.append(1) or 0, **bounds)
    assert panic_message(excinfo) == message
    assert calls == []


@pytest.mark.skipif(
    bool(os.environ.get("SWARMTUNER_UNDER_ASAN")),
    reason="AddressSanitizer aborts on an impossible allocation instead of failing it",
)
def test_huge_swarm_is_refused_without_crashing():
    with pytest.raises(MemoryError):
        swarmtuner.PSO(n_particles=2**40, n_iters=0).min(lambda **kw: 0, f64_min=[0.0], f64_max=[1.0])
    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(n_particles=2**64 - 1, n_iters=0).min(lambda **kw: 0)
    assert panic_message(excinfo) == "capacity overflow"


def test_reference_counts_are_stable():
    def f(**kw):
        return result

    result = 12345.678
    lower, upper = [0.0, -1.0], [1.0, 1.0]
    pso = swarmtuner.PSO(n_iters=3, n_particles=3)
    before = [sys.getrefcount(x) for x in (f, result, lower, upper, pso)]
    for _ in range(200):
        value, position = pso.min(f, f64_min=lower, f64_max=upper)
        assert value is result
    del value, position
    gc.collect()
    after = [sys.getrefcount(x) for x in (f, result, lower, upper, pso)]
    assert before == after


def test_reference_counts_stable_on_failure():
    def f(**kw):
        raise ValueError("x")

    pso = swarmtuner.PSO(n_iters=3, n_particles=3)
    before = sys.getrefcount(f)
    for _ in range(100):
        with pytest.raises(BaseException):
            pso.min(f, f64_min=[0.0], f64_max=[1.0])
    assert sys.getrefcount(f) == before


NESTED_SEARCH = """
import sys, threading, swarmtuner
pso = swarmtuner.PSO(n_iters=1, n_particles=1)
depth = [0]
def f(**kw):
    depth[0] += 1
    return pso.min(f, f64_min=[0.0], f64_max=[1.0])[0]
def run():
    try:
        pso.min(f, f64_min=[0.0], f64_max=[1.0])
    except BaseException as e:
        print(type(e).__name__, "RecursionError" in str(e), depth[0] > 3)
{setup}
"""


@pytest.mark.parametrize(
    "setup",
    [
        "sys.setrecursionlimit(10**6); run()",
        "sys.setrecursionlimit(10**6); threading.stack_size(256 * 1024); "
        "t = threading.Thread(target=run); t.start(); t.join()",
    ],
    ids=["main-thread", "small-thread-stack"],
)
def test_unbounded_nesting_ends_with_recursion_error_not_a_crash(setup):
    from conftest import run_python

    done = run_python(NESTED_SEARCH.replace("{setup}", setup))
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.split() == ["PanicException", "True", "True"]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork()")
def test_forked_children_draw_their_own_starts():
    def starts():
        seen = []
        swarmtuner.PSO(n_iters=0, n_particles=3).min(
            lambda **kw: seen.append(kw["f64"][0]) or 0, f64_min=[0.0], f64_max=[1.0]
        )
        return seen

    starts()  # the parent's generator exists before the fork
    children = []
    for _ in range(2):
        read_end, write_end = os.pipe()
        pid = os.fork()
        if pid == 0:  # pragma: no cover - runs in the child
            os.close(read_end)
            os.write(write_end, repr(starts()).encode())
            os._exit(0)
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            children.append(pipe.read())
        os.waitpid(pid, 0)
    parent = repr(starts())
    assert len({parent, *children}) == 3


@pytest.mark.parametrize("method", ["min", "max"])
class TestEntry:
    def test_result_is_the_value_f_gave_and_the_point(self, pso, method):
        token = float("12345.5")
        pso.n_iters, pso.n_particles = 2, 3
        result = getattr(pso, method)(lambda **point: token, f64_min=[0.0], f64_max=[1.0])
        assert type(result) is tuple and len(result) == 2
        value, point = result
        assert value == token and (method == "max" or value is token)
        assert list(point) == ["f64"] and 0.0 <= point["f64"][0] <= 1.0

    def test_settings_are_readable_but_locked_during_a_search(self, pso, method):
        seen = []

        def f(**point):
            seen.append(pso.c1)
            with pytest.raises(RuntimeError) as locked:
                pso.c1 = 1.0
            seen.append(str(locked.value))
            with pytest.raises(TypeError):
                pso.c1 = "a"  # the value is judged before the lock
            seen.append(getattr(pso, method)(lambda **inner: 1.0)[0])  # nested search
            return 0.0

        pso.n_iters, pso.n_particles = 1, 1
        getattr(pso, method)(f, f64_min=[0.0], f64_max=[1.0])
        assert seen[:3] == [2.0, "Already borrowed", 1.0]
        pso.c1 = 1.5
        assert pso.c1 == 1.5

    def test_reference_counts_of_arguments_are_stable(self, pso, method):
        def f(**point):
            return 0.0

        low, high = [0.0], [1.0]
        before = [sys.getrefcount(f), sys.getrefcount(low), sys.getrefcount(high)]
        pso.n_iters, pso.n_particles = 2, 2
        for _ in range(50):
            getattr(pso, method)(f, f64_min=low, f64_max=high)
            with pytest.raises(TypeError):
                getattr(pso, method)(f, f64_min=low, f64_max=high, d_min=None)
        assert [sys.getrefcount(f), sys.getrefcount(low), sys.getrefcount(high)] == before


# Decimal bounds whose digits no decimal keeps, or whose scales cannot meet without one of them
# losing digits. Every point handed to f lies in [lower, upper), compared exactly.
EDGE_DECIMAL_BOUNDS = [
    ("7.9228162514264337593543950334", "7.922816251426433759354395034"),
    ("7.9228162514264337593543950335", "7.922816251426433759354395034"),
    ("0.00000000000000000000000000014", "0.0000000000000000000000000004"),
    ("-0.0000000000000000000000000004", "-0.00000000000000000000000000014"),
    ("7922816251426433759354395032.4", "7922816251426433759354395034"),
    ("-7922816251426433759354395036", "-7922816251426433759354395033.6"),
    ("7.92281625142643375935439503346", "7.922816251426433759354395034"),
]


@pytest.mark.parametrize("method", ["min", "max"])
@pytest.mark.parametrize("lower, upper", EDGE_DECIMAL_BOUNDS)
def test_decimal_bounds_at_the_edge_keep_every_point_inside(lower, upper, method):
    seen = []

    def f(d):
        seen.append(d[0])
        return d[0]

    pso = swarmtuner.PSO(n_iters=5, n_particles=20)
    value, best = getattr(pso, method)(f, d_min=[lower], d_max=[upper])
    assert seen and all(Decimal(lower) <= x <= Decimal(upper) for x in seen)
    # The starting points are drawn from [lower, upper).
    assert all(x < Decimal(upper) for x in seen[:20])
    assert Decimal(lower) <= best["d"][0] <= Decimal(upper)
