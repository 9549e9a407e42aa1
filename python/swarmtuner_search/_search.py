"""minimize and maximize: one swarmtuner search over a named space, with an exact evaluation
budget, a time limit, a callback, a record of the best value, and f's own exceptions."""

from __future__ import annotations

import math
import operator
import reprlib
import time
from collections.abc import Callable, Mapping
from dataclasses import dataclass, field
from decimal import Decimal
from typing import Any, Generic, Literal, NoReturn, Protocol, TypeVar

from swarmtuner import PSO

from ._space import SETTING_LIMIT, Plan, Space

# The settings that minimize and maximize use unless told otherwise (see README, "Coming from
# optuna, nevergrad or pyswarms", for how they were chosen).
C1 = 0.7
C2 = 1.0
INERTIA = 0.5
MAX_V = 0.2
MAX_EVALS = 1000


class _Comparable(Protocol):
    def __lt__(self, other: Any, /) -> object: ...


V = TypeVar("V", bound=_Comparable)

Stopped = Literal["max_evals", "timeout", "callback"]


@dataclass(frozen=True)
class Result(Generic[V]):
    """What a search found.

    value: the best value f returned (the smallest for minimize, the largest for maximize; the
    first of equal ones), the very object. params: the parameters f was given for it, by name.
    evals: how many times f was called. history: the best value after each evaluation
    (history[k] after k + 1 of them). stopped: None when the search ran its course, otherwise
    "max_evals", "timeout" or "callback".
    """

    value: V
    params: dict[str, Any]
    evals: int
    history: list[V] = field(repr=False)
    stopped: Stopped | None


class _Stop(SystemExit):
    """Raised inside the search to end it, and caught around it: it never leaves this module.

    The search passes a SystemExit raised by its objective back to its caller unchanged and
    quietly, where any other exception would become a failure report and a PanicException."""


def minimize(
    f: Callable[..., V],
    space: Space,
    *,
    max_evals: int | None = None,
    timeout: float | None = None,
    callback: Callable[[int, V, dict[str, Any]], object] | None = None,
    n_particles: int | None = None,
    n_iters: int | None = None,
    c1: float = C1,
    c2: float = C2,
    inertia: float = INERTIA,
    max_v: float = MAX_V,
) -> Result[V]:
    """Searches space for the parameters at which f(**params) is smallest.

    f returns anything that orders with <: a float, an int, a Decimal, a tuple compared item
    by item... A NaN ranks worst. max_evals is the most calls of f (default 1000), and the
    search uses at least 90% of it unless it is stopped earlier: by timeout (seconds, checked
    between evaluations) or by callback(evals, best_value, best_params) returning a false value
    other than None. An exception raised by f or the callback ends the search and is raised
    again here, the same object with its traceback. The swarm's size and its sweeps follow
    from max_evals unless n_particles or n_iters are given; c1, c2, inertia and max_v are
    swarmtuner.PSO's settings.
    """
    return _run(False, f, space, max_evals, timeout, callback, n_particles, n_iters,
                (c1, c2, inertia, max_v))


def maximize(
    f: Callable[..., V],
    space: Space,
    *,
    max_evals: int | None = None,
    timeout: float | None = None,
    callback: Callable[[int, V, dict[str, Any]], object] | None = None,
    n_particles: int | None = None,
    n_iters: int | None = None,
    c1: float = C1,
    c2: float = C2,
    inertia: float = INERTIA,
    max_v: float = MAX_V,
) -> Result[V]:
    """minimize for the largest value: the same search with the order of f's values reversed,
    so that the result is the largest value f returned, compared as f's values compare (no
    value is negated). A NaN still ranks worst."""
    return _run(True, f, space, max_evals, timeout, callback, n_particles, n_iters,
                (c1, c2, inertia, max_v))


def _run(
    largest: bool,
    f: Callable[..., V],
    space: Space,
    max_evals: int | None,
    timeout: float | None,
    callback: Callable[[int, V, dict[str, Any]], object] | None,
    n_particles: int | None,
    n_iters: int | None,
    coefficients: tuple[float, float, float, float],
) -> Result[V]:
    if not callable(f):
        raise TypeError(f"f must be callable, not {type(f).__name__}")
    if callback is not None and not callable(callback):
        raise TypeError(f"callback must be callable or None, not {type(callback).__name__}")
    plan = Plan(space)
    settings = dict(zip(("c1", "c2", "inertia", "max_v"), coefficients))
    for name, value in settings.items():
        settings[name] = _finite(name, value)
        if "i_min" in plan.bounds and abs(settings[name]) > SETTING_LIMIT:
            raise ValueError(
                f"{name} must be within ±{SETTING_LIMIT} for a space with integers beyond 64 "
                f"bits or ranges wider than 2**62, not {value!r}"
            )
    particles, iters, budget = _shape(max_evals, n_particles, n_iters)
    deadline = None
    if timeout is not None:
        seconds = _finite("timeout", timeout)
        if seconds < 0:
            raise ValueError(f"timeout must not be negative, not {timeout!r}")
        deadline = time.monotonic() + seconds
    pso = PSO(n_iters=iters, n_particles=particles, **settings)
    search = _Search(f, plan, _MaxKey if largest else _MinKey, budget, deadline, callback)
    try:
        pso.min(search.objective, **plan.bounds)
    except _Stop:
        if not search.stopping:  # only this search's own stop ends here
            raise
    return search.result()


class _Search(Generic[V]):
    """The objective that the search calls in place of f: it reads the parameters, calls f,
    keeps the record, and ends the search when the budget, the time or the callback says so,
    or when f or a comparison of its values raised."""

    def __init__(
        self,
        f: Callable[..., V],
        plan: Plan,
        key: type[_MinKey] | type[_MaxKey],
        budget: int,
        deadline: float | None,
        callback: Callable[[int, V, dict[str, Any]], object] | None,
    ) -> None:
        self.f = f
        self.plan = plan
        self.key = key
        self.budget = budget
        self.deadline = deadline
        self.callback = callback
        self.evals = 0
        self.best: _MinKey | _MaxKey | None = None
        self.best_kinds: Mapping[str, list[Any]] = {}
        self.best_params: dict[str, Any] | None = None
        self.history: list[V] = []
        self.stopped: Stopped | None = None
        self.error: BaseException | None = None
        self.stopping = False

    def objective(self, **kinds: list[Any]) -> _MinKey | _MaxKey:
        if self.error is not None:  # a comparison failed since the last call
            self.stop(None)
        if self.evals >= self.budget:
            self.stop("max_evals")
        # The first evaluation always runs, so that a result has a best point.
        if self.deadline is not None and self.evals and time.monotonic() >= self.deadline:
            self.stop("timeout")
        params = self.plan.read(kinds)
        try:
            value = self.f(**params)
        except BaseException as error:
            self.fail(error)
            self.stop(None)
        self.evals += 1
        key = self.key(value, self)
        if self.best is None or key < self.best:
            self.best, self.best_kinds, self.best_params = key, kinds, None
        if self.error is not None:
            self.stop(None)
        self.history.append(self.best.value)
        if self.callback is not None:
            try:
                go_on = self.callback(self.evals, self.best.value, self.params())
            except BaseException as error:
                self.fail(error)
                self.stop(None)
            if go_on is not None and not go_on:
                self.stop("callback")
        return key

    def params(self) -> dict[str, Any]:
        """A fresh dict of the best point's parameters (read again from its kind lists, which
        only this object holds, so whatever f or a callback did to theirs does not show)."""
        if self.best_params is None:
            self.best_params = self.plan.read(self.best_kinds)
        return dict(self.best_params)

    def stop(self, why: Stopped | None) -> NoReturn:
        self.stopped = why
        self.stopping = True
        raise _Stop

    def fail(self, error: BaseException) -> None:
        """Keeps the first failure, to be raised once the search has stopped."""
        if self.error is None:
            self.error = error

    def fail_to_order(self, error: BaseException, a: object, b: object) -> None:
        if isinstance(error, Exception):
            failure = TypeError(
                f"f returned values that cannot be ordered: {reprlib.repr(a)} and "
                f"{reprlib.repr(b)}"
            )
            failure.__cause__ = error
            error = failure
        self.fail(error)

    def result(self) -> Result[V]:
        if self.error is not None:
            error, self.error = self.error, None  # no cycle through this object
            raise error
        assert self.best is not None  # every way to a result passes an evaluation
        return Result(self.best.value, self.params(), self.evals, self.history, self.stopped)


class _MinKey:
    """A value of f as the search compares it: by f's own <, with NaN after everything else.
    A comparison that raises ends the search (through the next call of the objective) instead
    of being lost, as the module would lose it."""

    __slots__ = ("value", "nan", "search")

    def __init__(self, value: Any, search: _Search[Any]) -> None:
        self.value = value
        self.nan = value != value if type(value) is float else _is_nan(value)
        self.search = search

    # The module asks == first and keeps the earlier of equal values, as it does for f's own.
    def __eq__(self, other: object) -> bool:
        if not isinstance(other, _MinKey):
            return NotImplemented
        if self.nan or other.nan:
            return self.nan and other.nan
        try:
            return bool(self.value == other.value)
        except Exception:
            return False  # < decides, and reports what cannot be ordered
        except BaseException as error:
            self.search.fail(error)
            return False

    def __lt__(self, other: _MinKey) -> bool:
        if self.nan:
            return False
        if other.nan:
            return True
        try:
            return bool(self.value < other.value)
        except BaseException as error:
            self.search.fail_to_order(error, self.value, other.value)
            return False


class _MaxKey(_MinKey):
    """A value of maximize's f: the larger value first (by f's own <: no value is negated)."""

    __slots__ = ()

    def __lt__(self, other: _MinKey) -> bool:
        if self.nan:
            return False
        if other.nan:
            return True
        try:
            return bool(other.value < self.value)
        except BaseException as error:
            self.search.fail_to_order(error, other.value, self.value)
            return False


def _is_nan(value: object) -> bool:
    if isinstance(value, Decimal):
        return value.is_nan()
    try:  # numpy's and other floats: NaN is the value unequal to itself
        return bool(value != value)
    except Exception:  # an array, say: < will tell that it cannot be ordered
        return False


def _finite(name: str, value: Any) -> float:
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name} must be a number, not {type(value).__name__}") from None
    if not math.isfinite(number):
        raise ValueError(f"{name} must be finite, not {value!r}")
    return number


def _count(name: str, value: Any, least: int) -> int:
    if isinstance(value, (bool, float)):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    try:
        number: int = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an int, not {type(value).__name__}") from None
    if number < least:
        raise ValueError(f"{name} must be at least {least}, not {number}")
    return number


def particles_for(budget: int) -> int:
    """The swarm size that minimize and maximize prefer for a budget of evaluations: twice its
    square root, within 20 to 100, which came out best from 100 to 10,000 evaluations."""
    return max(20, min(100, round(2 * math.sqrt(budget))))


def _shape(
    max_evals: int | None, n_particles: int | None, n_iters: int | None
) -> tuple[int, int, int]:
    """(n_particles, n_iters, budget). A budget that the settings given do not fill exactly is
    still met exactly: the search stops at it."""
    particles = None if n_particles is None else _count("n_particles", n_particles, 1)
    iters = None if n_iters is None else _count("n_iters", n_iters, 0)
    if max_evals is None:
        if iters is not None:
            particles = particles or particles_for(MAX_EVALS)
            return particles, iters, particles * (iters + 1)
        budget = MAX_EVALS
    else:
        budget = _count("max_evals", max_evals, 1)
    if particles is None and iters is None:
        # The size nearest the preferred one whose whole sweeps fill at least 90% of the budget
        # (one particle per evaluation, a pure random sample, always does).
        preferred = particles_for(budget)
        for distance in range(budget + preferred):
            for size in (preferred - distance, preferred + distance):
                if 1 <= size <= budget and size * (budget // size) * 10 >= budget * 9:
                    return size, budget // size - 1, budget
    if particles is None:
        assert iters is not None
        particles = -(-budget // (iters + 1))
    elif iters is None:
        iters = -(-budget // particles) - 1
    return particles, iters, budget
