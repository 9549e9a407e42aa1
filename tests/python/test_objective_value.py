"""Objective values: how the values f returns are ordered and negated."""
import math
from decimal import Decimal

import pytest

import swarmtuner
from conftest import panic_message


def starting_values(values):
    """Runs a search whose starting particles return `values` in order; returns the result
    and the points the particles started at."""
    it = iter(values)
    points = []

    def f(**kw):
        points.append(kw)
        return next(it)

    pso = swarmtuner.PSO(n_particles=len(values), n_iters=0)
    value, position = pso.min(f, f64_min=[0.0], f64_max=[1.0])
    return value, position, points


class Reversed(float):
    def __lt__(self, other):
        return float(self) > float(other)

    def __gt__(self, other):
        return float(self) < float(other)


class ReversedInt(int):
    def __lt__(self, other):
        return int(self) > int(other)

    def __gt__(self, other):
        return int(self) < int(other)


@pytest.mark.parametrize(
    "values, chosen",
    [
        ([3, 1, 1, 2], 1),
        ([2, 2.0], 0),
        ([None, None], 0),
        ([1.0, 0.5, math.nan], 2),
        ([1.0, math.nan, 0.5], 2),
        (["b", "a", "a"], 1),
        ([(1, 2), (1, 1), (0, 5)], 2),
        ([Decimal("1.0"), Decimal("1.00"), Decimal("0.5")], 2),
        ([0.0, -0.0, 1.0], 0),
        ([math.nan, 1.0, 0.5], 2),  # NaN is "greater" than what follows it
        # A float subclass keeps its own operators: here larger is "less".
        ([Reversed(1.0), Reversed(3.0), Reversed(2.0)], 1),
        # Ints at the edges of 64 bits and beyond them, and against other numbers.
        ([2**63 - 1, 2**63, -(2**63), -(2**63) - 1], 3),
        ([2**70, -(2**64), 2**64, -(2**63)], 1),
        ([5, 5, 2**100, 4], 3),
        ([1, True, 0.5, False], 3),
        ([ReversedInt(1), ReversedInt(3), ReversedInt(2)], 1),
    ],
)
def test_starting_best_is_first_smallest(values, chosen):
    value, position, points = starting_values(values)
    assert position == points[chosen]  # random starts tell the particles apart
    assert value is values[chosen]


def test_unorderable_starting_values_fail_to_compare():
    with pytest.raises(BaseException) as excinfo:
        starting_values([1, None])
    assert panic_message(excinfo) == "failed to compare"


class Partial:
    """A value whose comparison operators can be switched off one by one."""

    def __init__(self, v, eq=True, lt=True, gt=True):
        self.v, self.eq, self.lt, self.gt = v, eq, lt, gt

    def __eq__(self, other):
        if not self.eq:
            raise RuntimeError("no ==")
        return self.v == other.v

    def __lt__(self, other):
        if not self.lt:
            raise RuntimeError("no <")
        return self.v < other.v

    def __gt__(self, other):
        if not self.gt:
            raise RuntimeError("no >")
        return self.v > other.v

    __hash__ = None


@pytest.mark.parametrize(
    "flags", [dict(eq=False), dict(lt=False), dict(eq=False, lt=False)], ids=str
)
def test_comparison_falls_back_operator_by_operator(flags):
    values = [Partial(3, **flags), Partial(1, **flags), Partial(2, **flags)]
    value, _, _ = starting_values(values)
    assert value is values[1]


def test_comparison_with_no_operator_fails_and_clears_errors():
    values = [Partial(3, eq=False, lt=False, gt=False), Partial(1)]
    with pytest.raises(BaseException) as excinfo:
        starting_values(values)
    assert panic_message(excinfo) == "failed to compare"
    assert excinfo.value.__context__ is None


def test_unordered_values_in_sweeps_never_replace_a_best():
    # After the first evaluation everything returns None, which orders with nothing.
    values = iter([1.0] + [None] * 100)
    value, _ = swarmtuner.PSO(n_particles=1, n_iters=5).min(
        lambda **kw: next(values), f64_min=[0.0], f64_max=[1.0]
    )
    assert value == 1.0


class Counted:
    negations = 0

    def __init__(self, v):
        self.v = v

    def __neg__(self):
        Counted.negations += 1
        return Counted(-self.v)

    def __lt__(self, other):
        return self.v < other.v

    def __eq__(self, other):
        return self.v == other.v

    __hash__ = None


def test_max_negates_every_value_and_the_result():
    Counted.negations = 0
    returned = []

    def f(**kw):
        returned.append(Counted(len(returned) % 7))
        return returned[-1]

    value, _ = swarmtuner.PSO(n_particles=3, n_iters=4).max(f, f64_min=[0.0], f64_max=[1.0])
    assert Counted.negations == 3 * 5 + 1
    assert value.v == 6
    assert all(value is not r for r in returned)  # a new object made by __neg__


def test_min_returns_the_very_object_f_returned():
    returned = []

    def f(**kw):
        returned.append(float(len(returned)) * -1.0)
        return returned[-1]

    value, _ = swarmtuner.PSO(n_particles=2, n_iters=3).min(f, f64_min=[0.0], f64_max=[1.0])
    assert any(value is r for r in returned)


@pytest.mark.parametrize(
    "result, type_repr",
    [("text", "<class 'AttributeError'>"), ((1, 2), "<class 'AttributeError'>")],
)
def test_max_of_values_without_neg_fails(result, type_repr):
    calls = []
    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(n_particles=3).max(lambda **kw: calls.append(1) or result)
    message = panic_message(excinfo)
    assert message.startswith("There is no __neg__ method: PyErr { type: " + type_repr)
    assert len(calls) == 1


def test_neg_that_raises_is_reported():
    class Bad:
        def __neg__(self):
            raise ArithmeticError("nope")

    with pytest.raises(BaseException) as excinfo:
        swarmtuner.PSO(n_particles=1).max(lambda **kw: Bad())
    assert "ArithmeticError('nope')" in panic_message(excinfo)


def test_max_of_decimals_and_ints():
    assert swarmtuner.PSO(n_particles=1, n_iters=0).max(lambda **kw: Decimal("1.50"))[0] == Decimal("1.50")
    assert swarmtuner.PSO(n_particles=1, n_iters=0).max(lambda **kw: -3)[0] == -3


class NegatesToTen(float):
    def __neg__(self):
        return 10.0


@pytest.mark.parametrize(
    "returned, expected",
    [
        ([0.0], 0.0),  # -(-0.0): the sign comes back
        ([-0.0], -0.0),
        ([1.0, 3.0, 2.0], 3.0),
        ([1.0, math.inf], math.inf),
        # A subclass negates through its own __neg__; the plain 10.0 it gives back is then
        # negated as a float for the result.
        ([NegatesToTen(5.0)], -10.0),
    ],
)
def test_max_of_floats_negates_like_python(returned, expected):
    values = iter(returned * 10)
    value, _ = swarmtuner.PSO(n_particles=len(returned), n_iters=0).max(
        lambda **kw: next(values), f64_min=[0.0], f64_max=[1.0]
    )
    assert type(value) is float
    assert value == expected and math.copysign(1.0, value) == math.copysign(1.0, expected)


class Signalling:
    """Compares by value until the armed operator runs for the `after`-th time, which then
    raises `exception`, as a Ctrl-C landing inside a Python comparison would."""

    calls = 0

    def __init__(self, v, op, exception, after):
        self.v, self.op, self.exception, self.after = v, op, exception, after

    def _check(self, op):
        if op == self.op:
            Signalling.calls += 1
            if Signalling.calls == self.after:
                raise self.exception("in " + op)

    def __eq__(self, other):
        self._check("==")
        return self.v == other.v

    def __lt__(self, other):
        self._check("<")
        return self.v < other.v

    def __gt__(self, other):
        self._check(">")
        return self.v > other.v

    __hash__ = None


@pytest.mark.parametrize("exception", [KeyboardInterrupt, SystemExit, GeneratorExit])
@pytest.mark.parametrize("op", ["==", "<"])
@pytest.mark.parametrize("after", [1, 20], ids=["choosing-the-start", "in-a-sweep"])
def test_signal_in_a_comparison_ends_the_search(op, exception, after):
    Signalling.calls = 0
    values = iter(range(1000, 0, -1))
    pso = swarmtuner.PSO(n_particles=3, n_iters=50)
    with pytest.raises(BaseException) as excinfo:
        pso.min(
            lambda **kw: Signalling(next(values), op, exception, after),
            f64_min=[0.0],
            f64_max=[1.0],
        )
    if exception is GeneratorExit:
        assert panic_message(excinfo).startswith(
            f"failed to compare: PyErr {{ type: <class '{exception.__name__}'>, value: "
            f"{exception.__name__}('in {op}')"
        )
    else:
        # Ctrl-C and sys.exit() reach the caller as themselves.
        assert type(excinfo.value) is exception and str(excinfo.value) == f"in {op}"
    assert Signalling.calls == after  # the search stopped at the signal
    assert pso.min(lambda **kw: 1.5, f64_min=[0.0], f64_max=[1.0])[0] == 1.5
