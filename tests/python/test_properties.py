"""Property tests: random settings, bound arguments and objectives against plain-Python models.

Every call must return a well-formed (value, point) or raise exactly the modelled exception;
afterwards the PSO object still works and no reference taken from the arguments is kept.
"""

import gc
import math
import os
import re
import struct
import sys
from decimal import Decimal
from fractions import Fraction

import pytest
from hypothesis import example, given
from hypothesis import strategies as st

import oracle
from conftest import DEFAULTS, Complexy, Floaty, Index
from oracle import PanicException
from swarmtuner import PSO

UNDER_ASAN = bool(os.environ.get("SWARMTUNER_UNDER_ASAN"))
ORDERED_KINDS = ("i8", "i16", "i32", "i64", "i128", "i", "f32", "f64", "d")
ARITHMETIC_MESSAGES = {
    "i": {"f64 can not to BigInt"},
    "d": {
        "Addition overflowed",
        "Subtraction overflowed",
        "Multiplication overflowed",
        "Failed to convert to Decimal",
    },
}


class Boom(Exception):
    pass


class Halt(BaseException):
    """Not an Exception: must pass through conversions unchanged all the same."""


def raised(call):
    """The exception a call raises, or None; the traceback is dropped so that it keeps no
    frame (and no argument) alive."""
    try:
        call()
    except BaseException as error:  # noqa: BLE001 - every exception is a result here
        error.__traceback__ = None
        return error
    return None


def fresh(x):
    """A new object equal to x (containers copied deeply), so that its reference count belongs
    to the test alone; hypothesis may hand out shared constants."""
    t = type(x)
    if t is float:
        return struct.unpack("<d", struct.pack("<d", x))[0]
    if t is complex:
        return complex(fresh(x.real), fresh(x.imag))
    if t is int:
        return int(str(x))
    if t is Decimal:
        return Decimal(str(x))
    if t is Fraction:
        return Fraction(x.numerator, x.denominator)
    if t is list:
        return [fresh(item) for item in x]
    if t is tuple:
        return tuple(fresh(item) for item in x)
    if t is dict:
        return {k: fresh(v) for k, v in x.items()}
    return x


def owned(o):
    """Objects whose reference counts nothing outside the test can change."""
    if o is None or type(o) in (bool, str, bytes, frozenset, range):
        return False
    return type(o) is not int or not -5 <= o <= 256


class RefCounts:
    """Reference counts of objects owned by the test, with the collector paused while a call
    runs so that only the call can change them."""

    def __init__(self, objects):
        self.objects = [o for o in objects if owned(o)]
        self.before = None

    def start(self):
        """Called once the argument list of the constructor is gone."""
        gc.disable()
        self.before = self.counts()

    def counts(self):
        return [sys.getrefcount(o) for o in self.objects]

    def check(self):
        # Only a cycle made during the call (an exception's frames, say) needs the collector;
        # a full collection on every example would cost more than the call.
        after = self.counts()
        if after != self.before:
            gc.collect()
            after = self.counts()
        gc.enable()
        counts = zip(self.objects, self.before, after)
        leaked = [(repr(o)[:60], b, a) for o, b, a in counts if a != b]
        assert not leaked


@pytest.fixture(autouse=True)
def collector_enabled():
    """A failed check may leave the collector paused; the next test gets it back."""
    yield
    gc.enable()


def borrow_released(pso):
    """A setter works, so no borrow of the object is left behind."""
    pso.c1 = pso.c1
    pso.n_iters = pso.n_iters


# ---- Settings ---------------------------------------------------------------------------------

ERRORS = st.sampled_from(
    [
        lambda: Boom("boom"),
        lambda: TypeError("hostile type"),
        lambda: ValueError("hostile value"),
        lambda: OverflowError("hostile overflow"),
        lambda: Halt("halt"),
    ]
)


@st.composite
def hostile(draw, payload=None):
    """An object of a fresh class whose conversion methods are absent, work, return the wrong
    type or raise."""
    namespace = {"__repr__": lambda self: "<Hostile>"}

    def method(name, good, wrong):
        mode = draw(st.sampled_from(["absent", "good", "wrong", "raise"]))
        if mode == "absent":
            return
        if mode == "raise":
            error = draw(ERRORS)

            def body(self, *args):
                raise error()

        else:
            result = draw(good) if mode == "good" else wrong

            def body(self, *args):
                return result

        namespace[name] = body

    method("__index__", st.integers(-(2**130), 2**130), 1.5)
    method("__float__", st.floats(), "2.5")
    method("__complex__", st.complex_numbers(), 7)
    method("__str__", decimal_texts, 12)
    method("__len__", st.integers(0, 5), -1)
    if payload is not None:
        items = draw(st.lists(payload, max_size=3))
        mode = draw(st.sampled_from(["absent", "getitem", "iter", "both", "raise"]))
        if mode in ("getitem", "both"):
            namespace["__getitem__"] = lambda self, i: items[i]
        if mode in ("iter", "both"):
            namespace["__iter__"] = lambda self: iter(items)
        if mode == "raise":
            error = draw(ERRORS)
            namespace["__getitem__"] = lambda self, i: items[i]

            def broken_iter(self):
                raise error()

            namespace["__iter__"] = broken_iter
    return type("Hostile", (), namespace)()


decimal_texts = st.one_of(
    st.from_regex(r"\A[+-]?[0-9_]{0,6}(\.[0-9_]{0,6})?\Z"),
    st.from_regex(r"\A[+-]?[0-9]{0,31}(\.[0-9]{0,31})?[0-9_.eE+x -]?\Z"),
    st.text(max_size=6),
    st.sampled_from(["79228162514264337593543950335.5", "79228162514264337593543950336", "1e-07"]),
)

scalars = st.one_of(
    st.integers(-300, 300),
    st.integers(-(2**140), 2**140),
    st.booleans(),
    st.floats(),
    st.complex_numbers(),
    st.decimals(),
    st.fractions(),
    decimal_texts,
    st.binary(max_size=3),
    st.none(),
    hostile(),
)


@given(
    st.lists(st.one_of(scalars, st.just(None)), max_size=7),
    st.dictionaries(
        st.sampled_from(["n_iters", "n_particles", "c1", "c2", "inertia", "max_v", "bogus"]),
        scalars,
        max_size=3,
    ),
)
def test_constructor_arguments(positional, keywords):
    positional, keywords = fresh(positional), fresh(keywords)
    names = tuple(DEFAULTS)
    expected = dict(DEFAULTS)
    error = None
    if len(positional) > 6:
        count = len(positional)
        text = f"PSO.__new__() takes from 0 to 6 positional arguments but {count} were given"
        error = (TypeError, text)
    else:
        given_args = dict(zip(names, positional))
        for name in keywords:
            if name == "bogus":
                error = (TypeError, "PSO.__new__() got an unexpected keyword argument 'bogus'")
                break
            if name in given_args:
                error = (TypeError, f"PSO.__new__() got multiple values for argument '{name}'")
                break
            given_args[name] = keywords[name]
        for name in names if error is None else ():
            if name not in given_args:
                continue
            convert = oracle.to_u64 if name in ("n_iters", "n_particles") else oracle.to_f64
            failure = raised(lambda: convert(given_args[name]))
            if failure is not None:
                error = oracle.expected_error(failure, name)
                break
            expected[name] = convert(given_args[name])

    counts = RefCounts(positional + list(keywords.values()))
    counts.start()
    created = []
    failure = raised(lambda: created.append(PSO(*positional, **keywords)))
    check_construction(created, failure, expected, error)
    created = failure = None  # drop every reference the call handed back
    counts.check()


def check_construction(created, failure, expected, error):
    if error is not None:
        assert (type(failure), str(failure)) == error
        return
    assert failure is None
    for name, value in expected.items():
        stored = getattr(created[0], name)
        assert type(stored) is type(value)
        assert stored == value or (math.isnan(value) and math.isnan(stored))


@given(st.sampled_from(["n_iters", "n_particles", "c1", "c2", "inertia", "max_v"]), scalars)
def test_setter_values(name, value):
    value = fresh(value)
    pso = PSO()
    convert = oracle.to_u64 if name in ("n_iters", "n_particles") else oracle.to_f64
    model_failure = raised(lambda: convert(value))
    before = getattr(pso, name)
    counts = RefCounts([value])
    counts.start()
    failure = raised(lambda: setattr(pso, name, value))
    check_setter(pso, name, value, convert, failure, model_failure, before)
    del failure, model_failure
    counts.check()
    borrow_released(pso)


def check_setter(pso, name, value, convert, failure, model_failure, before):
    if model_failure is None:
        assert failure is None
        stored = convert(value)
        assert getattr(pso, name) == stored or math.isnan(stored)
    else:
        # A setter passes the conversion's error on without naming the argument.
        assert (type(failure), str(failure)) == (type(model_failure), str(model_failure))
        assert getattr(pso, name) == before or math.isnan(before)


# ---- Bound arguments of every kind -------------------------------------------------------------

bound_arguments = st.one_of(
    st.lists(scalars, max_size=3),
    st.tuples(scalars),
    st.lists(st.lists(scalars, max_size=2), max_size=2),
    st.builds(range, st.integers(-5, 5), st.integers(-5, 300)),
    st.binary(max_size=3),
    st.text(max_size=3),
    st.dictionaries(st.integers(0, 3), scalars, max_size=2),
    st.frozensets(st.integers(0, 3), max_size=2),
    scalars,
    hostile(payload=scalars),
)


def well_formed(result, lists):
    """(value, point) with one list per kind that has dimensions, of the right length and
    element type."""
    assert type(result) is tuple and len(result) == 2
    value, point = result
    assert type(point) is dict
    dims = {}
    for kind in oracle.KINDS:
        n = min(len(lists.get(f"{kind}_min", [])), len(lists.get(f"{kind}_max", [])))
        if n:
            dims[kind] = n
    assert list(point) == list(dims)
    types = {"f32": float, "f64": float, "c64": complex, "c128": complex, "d": Decimal}
    for kind, values in point.items():
        assert type(values) is list and len(values) == dims[kind]
        assert all(type(x) is types.get(kind, int) for x in values)


class HaltingLength:
    """A sequence whose size hint fails with an exception that is not an Exception."""

    def __len__(self):
        raise Halt("halt")

    def __getitem__(self, i):
        return [1, 2][i]


@given(
    st.dictionaries(st.sampled_from(oracle.BOUND_PARAMETERS), bound_arguments, max_size=4),
    st.booleans(),
)
@example({"i8_min": HaltingLength()}, False)
@example({"d_max": HaltingLength()}, True)
def test_bound_arguments(bounds, maximise):
    bounds = fresh(bounds)
    try:
        lists = oracle.convert_bounds(bounds)
        conversion = None
    except oracle.ConversionFailure as failure:
        conversion = failure
    calls = []

    def f(**point):
        calls.append(1)
        return len(calls)

    pso = PSO(n_iters=2, n_particles=2)
    counts = RefCounts([f, pso, *bounds.values()])
    counts.start()
    result = None

    def run():
        nonlocal result
        result = (pso.max if maximise else pso.min)(f, **bounds)

    failure = raised(run)
    if conversion is not None:
        assert (type(failure), str(failure)) == (conversion.type, conversion.text)
        assert calls == []
    else:
        sampler = oracle.sampler_failure(lists)
        if sampler is not None:
            assert type(failure) is PanicException and str(failure) == sampler
            assert calls == []
        elif failure is not None:
            kinds = {p.rsplit("_", 1)[0] for p in lists}
            allowed = set().union(*(ARITHMETIC_MESSAGES.get(k, set()) for k in kinds))
            assert type(failure) is PanicException and str(failure) in allowed
        else:
            well_formed(result, lists)
    del result, failure
    counts.check()
    borrow_released(pso)


# ---- Bound pairs and the points the objective is shown ----------------------------------------

def small_values(kind):
    """Modest values of a kind, in the Python types its conversion accepts."""
    if kind in ("i8", "i16", "i32", "i64", "i128", "i"):
        limit = {"i8": 127, "i16": 2000}.get(kind, 10**6)
        ints = st.integers(-limit, limit)
        return st.one_of(ints, ints.map(Index), st.booleans())
    if kind in ("f32", "f64"):
        floats = st.floats(-1e6, 1e6)
        ints = st.integers(-1000, 1000)
        return st.one_of(floats, ints, floats.map(Floaty), st.fractions(-10, 10))
    if kind in ("c64", "c128"):
        parts = st.floats(-1e3, 1e3)
        return st.one_of(st.builds(complex, parts, parts), parts, st.builds(Complexy, st.builds(complex, parts, parts)))
    return st.one_of(
        st.integers(-(10**6), 10**6),
        st.from_regex(r"\A-?[0-9]{1,6}(\.[0-9]{1,6})?\Z"),
        st.decimals(-(10**6), 10**6, places=4),
    )


@st.composite
def spaces(draw):
    kinds = draw(st.lists(st.sampled_from(oracle.KINDS), min_size=1, max_size=4, unique=True))
    bounds = {}
    for kind in kinds:
        n = draw(st.integers(0, 2))
        values = small_values(kind)
        bounds[f"{kind}_min"] = draw(st.lists(values, min_size=n, max_size=n + 1))
        bounds[f"{kind}_max"] = draw(st.lists(values, min_size=n, max_size=n + 1))
    return bounds


def score(point):
    total = 0.0
    for values in point.values():
        for x in values:
            total += abs(x) if isinstance(x, complex) else float(x)
    return total


@given(
    spaces(),
    st.integers(0, 3),
    st.integers(0, 4),
    st.lists(st.floats(-3, 3), min_size=4, max_size=4),
    st.booleans(),
)
def test_search_outcome_and_points(bounds, n_iters, n_particles, coefficients, maximise):
    bounds = fresh(bounds)
    lists = oracle.convert_bounds(bounds)
    pso = PSO(n_iters, n_particles, *coefficients)
    seen = []

    def f(**point):
        seen.append((point, score(point)))
        return seen[-1][1]

    counts = RefCounts([f, pso, *bounds.values(), *(x for v in bounds.values() for x in v)])
    counts.start()
    result = None

    def run():
        nonlocal result
        result = (pso.max if maximise else pso.min)(f, **bounds)

    failure = raised(run)
    check_search(result, failure, lists, seen, n_iters, n_particles, maximise)
    result = failure = seen = None
    counts.check()
    borrow_released(pso)


def check_search(result, failure, lists, seen, n_iters, n_particles, maximise):
    sampler = oracle.sampler_failure(lists)
    if sampler is not None or n_particles == 0:
        assert type(failure) is PanicException
        assert str(failure) == (sampler or "n_particles is 0!")
        assert seen == []
        return
    assert failure is None
    well_formed(result, lists)
    assert len(seen) == n_particles * (n_iters + 1)
    values = [v for _, v in seen]
    best = max(values) if maximise else min(values)
    value, point = result
    assert value == best
    if not maximise:
        assert any(value is v for _, v in seen)  # the very object f returned
    # The first point that reached the best value is the one reported.
    first = next(p for p, v in seen if v == best)
    assert {k: [repr(x) for x in xs] for k, xs in point.items()} == {
        k: [repr(x) for x in xs] for k, xs in first.items()
    }
    # No component leaves its bounds; a complex one stays in its rectangle.
    for shown, _ in seen:
        for kind, xs in shown.items():
            for x, low, high in zip(xs, lists[f"{kind}_min"], lists[f"{kind}_max"]):
                if kind in ORDERED_KINDS:
                    assert low <= x <= high, (kind, x, low, high)
                else:
                    assert low.real <= x.real <= high.real, (kind, x, low, high)
                    assert low.imag <= x.imag <= high.imag, (kind, x, low, high)


# ---- Objectives --------------------------------------------------------------------------------

class Truth:
    """A comparison result whose truth test may raise."""

    def __init__(self, value, raises):
        self.value = value
        self.raises = raises

    def __bool__(self):
        if self.raises:
            raise Boom("no truth")
        return self.value


class Weird:
    """A value whose ==, <, > and __neg__ may raise, or whose comparison results may have no
    truth value; only comparable with its own kind."""

    def __init__(self, value, flags):
        self.value = value
        self.flags = flags

    def _compare(self, other, name, op):
        if name in self.flags:
            raise Boom(name)
        if not isinstance(other, Weird):
            return NotImplemented
        result = op(self.value, other.value)
        return Truth(result, True) if "bool" in self.flags else result

    def __eq__(self, other):
        return self._compare(other, "eq", lambda a, b: a == b)

    def __lt__(self, other):
        return self._compare(other, "lt", lambda a, b: a < b)

    def __gt__(self, other):
        return self._compare(other, "gt", lambda a, b: a > b)

    __hash__ = object.__hash__

    def __neg__(self):
        if "neg" in self.flags:
            raise Boom("neg")
        if "panic" in self.flags:
            PSO(n_particles=0).min(lambda: 0)
        return Weird(-self.value, self.flags)

    def __repr__(self):
        return f"Weird({self.value!r}, {sorted(self.flags)!r})"


weird = st.builds(
    Weird,
    st.integers(-5, 5),
    st.frozensets(st.sampled_from(["eq", "lt", "gt", "neg", "bool", "panic"]), max_size=2),
)
value_families = [
    st.one_of(st.integers(-5, 5), st.floats(-5, 5), st.just(math.nan)),
    st.one_of(st.integers(-(10**20), 10**20), st.decimals(-5, 5, places=2), st.fractions(-5, 5)),
    st.one_of(st.none(), st.integers(-3, 3)),
    st.tuples(st.integers(0, 2), st.integers(0, 2)),
    st.text(max_size=2),
    weird,
    st.one_of(weird, st.integers(-3, 3), st.none(), st.floats(allow_nan=True)),
]

INNER_FAILURES = {
    "n_particles is 0!": lambda: PSO(n_particles=0).min(lambda: 0),
    oracle.LOW_GE_HIGH: lambda: PSO(1, 1).min(lambda **kw: 0, i8_min=[3], i8_max=[3]),
}


@st.composite
def scripts(draw):
    values = draw(st.sampled_from(value_families))
    plain = st.builds(oracle.Returns, values.map(fresh))
    special = st.one_of(
        plain.map(nested),
        st.builds(oracle.Raises, st.sampled_from([Boom, ValueError, Halt]).map(lambda c: c("f"))),
        st.builds(oracle.Panics, st.sampled_from(sorted(INNER_FAILURES))),
    )
    return draw(st.lists(st.one_of(plain, plain, plain, special), min_size=1, max_size=20))


def nested(action):
    action.nested = True
    return action


SPACES = [
    {},
    {"f64_min": [0.0], "f64_max": [1.0]},
    {"i8_min": [0, -5], "i8_max": [10, 5], "d_min": ["0.0"], "d_max": ["1.0"]},
    {"i_min": [-(10**30)], "i_max": [10**30], "c64_min": [0j], "c64_max": [1 + 1j]},
]


@given(
    scripts(),
    st.integers(1, 4),
    st.integers(0, 3),
    st.booleans(),
    st.sampled_from(range(len(SPACES))),
)
def test_objective_values(actions, n_particles, n_iters, maximise, space):
    bounds = SPACES[space]
    outcome, expected_calls = oracle.replay_values(actions, n_particles, n_iters, maximise)
    pso = PSO(n_iters, n_particles)
    script = oracle.Script(actions)
    problems = []

    def f(**point):
        action = script.next()
        # Settings can be read but not changed while the search runs.
        refused = raised(lambda: setattr(pso, "c1", 1.0))
        if type(refused) is not RuntimeError or refused.args != ("Already borrowed",):
            problems.append("setter during the search")
        if pso.n_particles != n_particles:
            problems.append("getter during the search")
        if getattr(action, "nested", False):
            inner = PSO(1, 2).min(lambda **kw: 0.5, f32_min=[0.0], f32_max=[1.0])
            if inner[0] != 0.5:
                problems.append("nested search")
        if isinstance(action, oracle.Raises):
            raise action.error
        if isinstance(action, oracle.Panics):
            INNER_FAILURES[action.message]()
        return action.value

    objects = [a.value for a in actions if isinstance(a, oracle.Returns)]
    objects += [a.error for a in actions if isinstance(a, oracle.Raises)]
    counts = RefCounts([f, pso, *objects, *bounds.values()])
    counts.start()
    result = None

    def run():
        nonlocal result
        result = (pso.max if maximise else pso.min)(f, **bounds)

    failure = raised(run)
    for action in actions:
        if isinstance(action, oracle.Raises):
            action.error.__traceback__ = None  # the objective's frame, with its arguments
    assert problems == []
    assert script.calls == expected_calls
    check_objective_outcome(result, failure, outcome, maximise, oracle.convert_bounds(bounds))
    del result, failure
    counts.check()
    borrow_released(pso)


def check_objective_outcome(result, failure, outcome, maximise, lists):
    kind, expected = outcome
    if kind == "panic":
        assert type(failure) is PanicException
        assert re.fullmatch(expected, str(failure)), (expected, str(failure))
        return
    assert failure is None
    well_formed(result, lists)
    value = result[0]
    if maximise:
        assert type(value) is type(expected) and repr(value) == repr(expected)
    else:
        assert value is expected


# ---- Storage that cannot be had ---------------------------------------------------------------

@pytest.mark.skipif(UNDER_ASAN, reason="AddressSanitizer aborts on an impossible allocation")
@given(st.integers(2**42, 2**64 - 1), st.booleans())
def test_impossible_swarm_sizes(n_particles, maximise):
    pso = PSO(0, n_particles)
    calls = []
    method = pso.max if maximise else pso.min
    failure = raised(lambda: method(lambda **kw: calls.append(1) or 1, i_min=[0], i_max=[5]))
    # The first particle is evaluated before the storage for the swarm is asked for.
    assert calls == [1]
    assert type(failure) is MemoryError or (
        type(failure) is PanicException and str(failure) == "capacity overflow"
    )
    borrow_released(pso)
