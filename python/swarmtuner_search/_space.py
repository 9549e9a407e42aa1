"""The named search space: the parameter kinds Int, Float, Dec and Choice, their checks, and how
each becomes dimensions of swarmtuner's kinds and comes back as the value that f is given."""

from __future__ import annotations

import math
import operator
from collections.abc import Callable, Iterable, Mapping, Sequence
from decimal import Decimal
from typing import Any, Generic, TypeVar

T = TypeVar("T")

# Integer ranges up to _I64_SPAN wide are searched as one i64 dimension (whose sums saturate and
# never fail), up to _WIDE as one big-integer dimension. The search scales a big-integer
# velocity through a double, so a dimension's width times the settings must stay below 2**1024:
# with the settings limited to SETTING_LIMIT where a space has such a dimension, it does.
# Wider ranges are written with several big-integer digits.
_I64_SPAN = 2**62
_WIDE = 2**960
_DIGIT = 2**950
SETTING_LIMIT = 2**16

# What a dimension's raw value becomes (for an Int wider than _WIDE, the list of its digits).
Decode = Callable[[Any], Any]


class Param:
    """A parameter of the search space: Int, Float, Dec or Choice."""

    __slots__ = ()

    def _plan(self, name: str) -> list[_Dimension]:
        raise NotImplementedError

    def _vector(self) -> bool:
        """Whether the value is a list (lists of bounds were given)."""
        return False


class Int(Param):
    """Integers from low to high, both included, of any size.

    Lists of equal length for low and high (or one list and one number) make a parameter whose
    value is a list of ints.
    """

    __slots__ = ("low", "high")

    def __init__(self, low: int | Sequence[int], high: int | Sequence[int]) -> None:
        self.low = low
        self.high = high

    def __repr__(self) -> str:
        return f"Int({self.low!r}, {self.high!r})"

    def _vector(self) -> bool:
        return _is_list(self.low) or _is_list(self.high)

    def _plan(self, name: str) -> list[_Dimension]:
        dims = []
        for low, high in _pairs(name, self.low, self.high):
            low, high = _integer(name, "low", low), _integer(name, "high", high)
            _ordered(name, low, high)
            dims.append(_int_dimension(low, high))
        return dims


class Float(Param):
    """Floats from low to high, both included; with log=True searched on a log scale, for
    ranges such as a learning rate's 1e-5 to 0.1 (low must then be above 0).

    Lists of equal length for low and high (or one list and one number) make a parameter whose
    value is a list of floats.
    """

    __slots__ = ("low", "high", "log")

    def __init__(
        self, low: float | Sequence[float], high: float | Sequence[float], *, log: bool = False
    ) -> None:
        self.low = low
        self.high = high
        self.log = log

    def __repr__(self) -> str:
        log = ", log=True" if self.log else ""
        return f"Float({self.low!r}, {self.high!r}{log})"

    def _vector(self) -> bool:
        return _is_list(self.low) or _is_list(self.high)

    def _plan(self, name: str) -> list[_Dimension]:
        if not isinstance(self.log, bool):
            raise TypeError(f"{name}: log must be True or False, not {self.log!r}")
        dims = []
        for low, high in _pairs(name, self.low, self.high):
            low, high = _float(name, "low", low), _float(name, "high", high)
            _ordered(name, low, high)
            if not self.log:
                if not math.isfinite(high - low):
                    raise ValueError(f"{name}: the range from {low!r} to {high!r} is too wide")
                dims.append(_Dimension("f64", low, high))
                continue
            if low <= 0:
                raise ValueError(f"{name}: a log scale needs low above 0, not {low!r}")
            log_low, log_high = math.log(low), math.log(high)
            if not log_low < log_high:
                raise ValueError(f"{name}: {low!r} to {high!r} is too narrow for a log scale")
            dims.append(_Dimension("f64", log_low, log_high, _exp_within(low, high)))
        return dims


class Dec(Param):
    """Decimals low, low + step, low + 2 * step, ... up to high, as decimal.Decimal, each exactly
    on that grid. The step must divide high - low; by default it is one unit of the last place
    of low or high, whichever is finer (0.01 for "0.99" and "9.99").

    Write the ends and the step as str, int or Decimal (not float, whose binary value is not the
    decimal it prints as). Lists of equal length make a parameter whose value is a list.
    """

    __slots__ = ("low", "high", "step")

    def __init__(
        self,
        low: Decimal | str | int | Sequence[Decimal | str | int],
        high: Decimal | str | int | Sequence[Decimal | str | int],
        step: Decimal | str | int | Sequence[Decimal | str | int] | None = None,
    ) -> None:
        self.low = low
        self.high = high
        self.step = step

    def __repr__(self) -> str:
        step = "" if self.step is None else f", step={self.step!r}"
        return f"Dec({self.low!r}, {self.high!r}{step})"

    def _vector(self) -> bool:
        return _is_list(self.low) or _is_list(self.high)

    def _plan(self, name: str) -> list[_Dimension]:
        dims = []
        pairs = _pairs(name, self.low, self.high)
        steps = _broadcast(name, "step", self.step, len(pairs))
        for (low, high), step in zip(pairs, steps):
            low, high = _decimal(name, "low", low), _decimal(name, "high", high)
            _ordered(name, low, high)
            if step is None:
                exponent = min(_exponent(low), _exponent(high), 0)
                step = Decimal((0, (1,), exponent))
            else:
                step = _decimal(name, "step", step)
                if step <= 0:
                    raise ValueError(f"{name}: step must be above 0, not {step}")
            dims.append(_decimal_dimension(name, low, high, step))
        return dims


class Choice(Param, Generic[T]):
    """One of the given options, handed to f as the very object (a str, a number, a class, a
    function...)."""

    __slots__ = ("options",)

    def __init__(self, options: Iterable[T]) -> None:
        if isinstance(options, (str, bytes)):
            raise TypeError(f"Choice takes a collection of options, not a {type(options).__name__}")
        self.options: tuple[T, ...] = tuple(options)

    def __repr__(self) -> str:
        return f"Choice({list(self.options)!r})"

    def _plan(self, name: str) -> list[_Dimension]:
        if not self.options:
            raise ValueError(f"{name}: Choice has no options")
        dimension = _int_dimension(0, len(self.options) - 1)
        last, options = len(self.options) - 1, self.options
        dimension.decode = lambda raw: options[raw if raw <= last else last]
        return [dimension]


class _Dimension:
    """One dimension of the search (or, for a huge Int, the digits that make one value): its
    kind, its bounds, and what its raw value becomes: decode(raw) where decode is set, otherwise
    raw itself, capped at cap where cap is set."""

    __slots__ = ("kind", "lows", "highs", "decode", "cap")

    def __init__(
        self,
        kind: str,
        low: Any,
        high: Any,
        decode: Decode | None = None,
        cap: int | None = None,
        count: int = 1,
    ) -> None:
        self.kind = kind
        self.lows = [low] * count if count == 1 else low
        self.highs = [high] * count if count == 1 else high
        self.decode = decode
        self.cap = cap


def _int_dimension(low: int, high: int) -> _Dimension:
    """low..high inclusive. The module draws starting points from [lower, upper) and clamps
    moves into [lower, upper], so the upper bound is high + 1, read back as high: every value
    is drawn with the same chance, and a particle pushed past high rests on it."""
    if high - low <= _I64_SPAN and -(2**63) <= low and high < 2**63 - 1:
        kind = "i64"
    elif high - low <= _WIDE:
        kind = "i"
    else:
        return _digits_dimension(low, high)
    return _Dimension(kind, low, high + 1, cap=high)


def _digits_dimension(low: int, high: int) -> _Dimension:
    """A range wider than _WIDE, as the offset from low written with a leading digit from 0
    to top and lower digits from -_DIGIT/2 to _DIGIT/2 (each inclusive, as in _int_dimension),
    capped into the range. Signed lower digits fill the gaps between leading digits from both
    sides, so each end is met where the leading digit rests on its bound and the rest points
    outwards, about every other time, and every integer of the range can be reached."""
    span = high - low
    lower = 1
    while span // _DIGIT**lower > _WIDE:
        lower += 1
    top = -(-span // _DIGIT**lower)
    half = _DIGIT // 2
    caps = [half] * lower + [top]

    def decode(raw: list[int]) -> int:
        offset = 0
        for digit, cap in zip(reversed(raw), reversed(caps)):
            offset = offset * _DIGIT + (digit if digit <= cap else cap)
        return low + min(max(offset, 0), span)

    lows = [-half] * lower + [0]
    return _Dimension("i", lows, [cap + 1 for cap in caps], decode, count=lower + 1)


def _decimal_dimension(name: str, low: Decimal, high: Decimal, step: Decimal) -> _Dimension:
    """The grid low + k * step as the integer k, so that every value lies exactly on it."""
    exponent = min(_exponent(low), _exponent(step), 0)
    grid = min(exponent, _exponent(high))
    low_units, high_units, step_units = (_units(x, grid) for x in (low, high, step))
    steps, rest = divmod(high_units - low_units, step_units)
    if rest:
        raise ValueError(f"{name}: step {step} does not divide the range from {low} to {high}")
    scale = 10 ** (exponent - grid)  # the values carry low's and step's places, not high's
    low_units //= scale
    step_units //= scale
    dimension = _int_dimension(0, steps)

    def decode(raw: int) -> Decimal:
        # From the text, which the constructor reads exactly, whatever the context's precision.
        units = low_units + (raw if raw <= steps else steps) * step_units
        return Decimal(f"{units}E{exponent}")

    dimension.decode = decode
    return dimension


def _exp_within(low: float, high: float) -> Decode:
    """exp of a log-scale position, kept within [low, high] despite rounding, with the ends
    themselves returned exactly."""
    log_low, log_high = math.log(low), math.log(high)

    def decode(raw: float) -> float:
        if raw <= log_low:
            return low
        if raw >= log_high:
            return high
        return min(max(math.exp(raw), low), high)

    return decode


def _exponent(value: Decimal) -> int:
    exponent = value.as_tuple().exponent
    assert isinstance(exponent, int)  # finite: checked by _decimal
    return exponent


def _units(value: Decimal, exponent: int) -> int:
    """value as a whole number of units of 10**exponent (value has no finer places)."""
    sign, digits, own = value.as_tuple()
    assert isinstance(own, int)
    scale: int = 10 ** (own - exponent)
    units = int("".join(map(str, digits))) * scale
    return -units if sign else units


def _is_list(value: object) -> bool:
    return isinstance(value, Sequence) and not isinstance(value, (str, bytes))


def _broadcast(name: str, what: str, value: Any, count: int) -> list[Any]:
    if not _is_list(value):
        return [value] * count
    if len(value) != count:
        raise ValueError(f"{name}: {what} has {len(value)} values for {count} dimensions")
    return list(value)


def _pairs(name: str, low: Any, high: Any) -> list[tuple[Any, Any]]:
    """The (low, high) pairs of a parameter: one pair for two numbers, one per position for
    lists of equal length, a number standing for every position of the other list."""
    low_list, high_list = _is_list(low), _is_list(high)
    if not low_list and not high_list:
        return [(low, high)]
    if low_list and high_list and len(low) != len(high):
        raise ValueError(
            f"{name}: lists of different lengths: low has {len(low)} values, high {len(high)}"
        )
    count = len(low) if low_list else len(high)
    if count == 0:
        raise ValueError(f"{name}: the lists of bounds are empty")
    return list(zip(_broadcast(name, "low", low, count), _broadcast(name, "high", high, count)))


def _integer(name: str, what: str, value: Any) -> int:
    if isinstance(value, float):
        raise TypeError(f"{name}: {what} must be an integer, not float {value!r}")
    try:
        number: int = operator.index(value)
    except TypeError:
        raise TypeError(
            f"{name}: {what} must be an integer, not {type(value).__name__}"
        ) from None
    return number


def _float(name: str, what: str, value: Any) -> float:
    if isinstance(value, (str, bytes)):
        raise TypeError(f"{name}: {what} must be a number, not {type(value).__name__}")
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise TypeError(f"{name}: {what} must be a number, not {type(value).__name__}") from None
    if not math.isfinite(number):
        raise ValueError(f"{name}: {what} must be finite, not {number!r}")
    return number


def _decimal(name: str, what: str, value: Any) -> Decimal:
    if isinstance(value, float):
        raise TypeError(
            f"{name}: {what} must be a Decimal, str or int, not float {value!r} (whose binary "
            f"value is not the decimal it prints as; write {str(value)!r})"
        )
    if not isinstance(value, (Decimal, str, int)):
        raise TypeError(f"{name}: {what} must be a Decimal, str or int, not {type(value).__name__}")
    try:
        number = Decimal(value)
    except ArithmeticError:
        raise ValueError(f"{name}: {what} {value!r} is not a decimal number") from None
    if not number.is_finite():
        raise ValueError(f"{name}: {what} must be finite, not {value!r}")
    return number


def _ordered(name: str, low: Any, high: Any) -> None:
    if not low < high:
        relation = "equal to" if low == high else "above"
        raise ValueError(f"{name}: low {low} is {relation} high {high}; low must be below high")


Reader = Callable[[Mapping[str, list[Any]]], Any]


class Plan:
    """A whole space: the module's bound lists, and the reading of one evaluation's kind lists
    back into the parameters by name."""

    def __init__(self, space: Mapping[str, Param]) -> None:
        if not isinstance(space, Mapping):
            raise TypeError(
                "the space must be a mapping of names to Int, Float, Dec or Choice, "
                f"not {type(space).__name__}"
            )
        self.bounds: dict[str, list[Any]] = {}
        self.readers: list[tuple[str, Reader]] = []
        for name, param in space.items():
            if not isinstance(name, str):
                raise TypeError(f"parameter names must be str, not {type(name).__name__} {name!r}")
            if not isinstance(param, Param):
                raise TypeError(
                    f"{name}: expected Int, Float, Dec or Choice, not {type(param).__name__}"
                )
            dims = param._plan(name)
            places = [self._place(dim) for dim in dims]
            if param._vector():
                self.readers.append((name, _list_reader(dims, places)))
            else:
                (dim,) = dims
                self.readers.append((name, _reader(dim, *places[0])))

    def _place(self, dim: _Dimension) -> tuple[int, int]:
        """Appends a dimension's bounds to its kind's lists; returns where they went."""
        lows = self.bounds.setdefault(f"{dim.kind}_min", [])
        highs = self.bounds.setdefault(f"{dim.kind}_max", [])
        start = len(lows)
        lows.extend(dim.lows)
        highs.extend(dim.highs)
        return start, len(lows)

    def read(self, kinds: Mapping[str, list[Any]]) -> dict[str, Any]:
        params = {}
        for name, reader in self.readers:
            params[name] = reader(kinds)
        return params


def _reader(dim: _Dimension, start: int, stop: int) -> Reader:
    kind, decode, cap = dim.kind, dim.decode, dim.cap
    if decode is not None:
        if stop == start + 1:
            return lambda kinds: decode(kinds[kind][start])
        return lambda kinds: decode(kinds[kind][start:stop])
    if cap is not None:
        return lambda kinds: min(kinds[kind][start], cap)
    return lambda kinds: kinds[kind][start]


def _list_reader(dims: list[_Dimension], places: list[tuple[int, int]]) -> Reader:
    """Reads a list parameter: in one slice where its dimensions are one kind's run, one
    value each, which they are unless some of its integer ranges are far wider than others."""
    kinds_used = {dim.kind for dim in dims}
    (first, _), (_, last) = places[0], places[-1]
    if len(kinds_used) == 1 and last - first == len(dims):
        (kind,) = kinds_used
        if all(dim.decode is None and dim.cap is None for dim in dims):
            return lambda kinds: kinds[kind][first:last]
        decodes = [dim.decode for dim in dims if dim.decode is not None]
        if not decodes:
            caps = [dim.cap for dim in dims]
            return lambda kinds: list(map(min, kinds[kind][first:last], caps))
        if len(decodes) == len(dims):
            return lambda kinds: [
                decode(raw) for decode, raw in zip(decodes, kinds[kind][first:last])
            ]
    readers = [_reader(dim, *place) for dim, place in zip(dims, places)]
    return lambda kinds: [reader(kinds) for reader in readers]


# A named space. Its values' common base is Param, so that a dict of mixed kinds built ahead of
# the call (whose value type a checker infers as their join) is accepted.
Space = Mapping[str, Param]
