"""Plain-Python models of what a PSO call must do, used as references by the property tests.

The conversions of settings and bound elements are modelled with the interpreter's own C API
(through ctypes), so the expected exceptions carry the interpreter's exact texts. The flow of
objective values through a search (calls, comparisons, negations) is replayed from the values
an objective returns, which decide that flow on their own.
"""

import ctypes
import math
import re
from decimal import Decimal

import swarmtuner
from conftest import BOUND_PARAMETERS, KINDS
from replay import f32

MAX_COEFFICIENT = 2**96 - 1


def _panic_class():
    try:
        swarmtuner.PSO(n_particles=0).min(lambda: 0)
    except BaseException as error:  # noqa: BLE001 - the class is only reachable this way
        return type(error)
    raise AssertionError("an empty swarm did not fail")


PanicException = _panic_class()

# ---- The interpreter's conversions -------------------------------------------------------------

_api = ctypes.pythonapi


def _bind(name, restype, *argtypes):
    function = getattr(_api, name)
    function.restype = restype
    function.argtypes = list(argtypes)
    return function


class _PyComplex(ctypes.Structure):
    _fields_ = [("real", ctypes.c_double), ("imag", ctypes.c_double)]


# Each raises the interpreter's pending exception, as the C API would report it.
_index = _bind("PyNumber_Index", ctypes.py_object, ctypes.py_object)
_as_long = _bind("PyLong_AsLong", ctypes.c_long, ctypes.py_object)
_as_long_long = _bind("PyLong_AsLongLong", ctypes.c_longlong, ctypes.py_object)
_as_u64 = _bind("PyLong_AsUnsignedLongLong", ctypes.c_ulonglong, ctypes.py_object)
_as_double = _bind("PyFloat_AsDouble", ctypes.c_double, ctypes.py_object)
_as_complex = _bind("PyComplex_AsCComplex", _PyComplex, ctypes.py_object)
_sequence_check = _bind("PySequence_Check", ctypes.c_int, ctypes.py_object)


def to_u64(obj):
    """The count conversion of the settings."""
    return _as_u64(_index(obj))


def to_f64(obj):
    """The float conversion of the settings and of the float kinds."""
    if type(obj) is float:
        return obj
    return _as_double(obj)


def _to_c_long_32(obj):
    value = _as_long(_index(obj))
    if not -(2**31) <= value < 2**31:
        raise OverflowError("Python int too large to convert to C long")
    return value


_NARROW = {"i8": 8, "i16": 16, "i32": 32}

_E = "Invalid decimal: "
E_EMPTY = _E + "empty"
E_NO_DIGITS = _E + "no digits found"
E_TWO_POINTS = _E + "two decimal points"
E_LEAD = _E + "must start lead with a number"
E_UNKNOWN = _E + "unknown character"
E_DIGITS = _E + "overflow from too many digits"
E_ROUNDING = _E + "overflow from mantissa after rounding"


def parse_decimal(text):
    """The decimal text parser's verdict: a Decimal (exact for texts of at most 28 fraction
    digits that fit) or ValueError with its message. The grammar is [+-]? then digits, at
    most one point and underscores after the first digit; an integer part beyond 96 bits, or
    a rounding carry out of 96 bits at scale 0, is refused."""
    if not text:
        raise ValueError(E_EMPTY)
    data = text.encode("utf-8")  # the parser reads bytes; UnicodeEncodeError passes on
    start = 1 if data[:1] in (b"+", b"-") else 0
    point = None
    digit_seen = False
    syntax = None
    end = len(data)
    for i in range(start, len(data)):
        c = data[i : i + 1]
        if c.isdigit():
            digit_seen = True
        elif c == b".":
            if point is not None:
                syntax, end = E_TWO_POINTS, i
                break
            point = i
        elif c == b"_":
            if not digit_seen:
                syntax, end = E_LEAD, i
                break
        else:
            syntax, end = E_UNKNOWN, i
            break
    integer_text = data[start : end if point is None else point].replace(b"_", b"")
    integer = int(integer_text or b"0")
    if integer > MAX_COEFFICIENT:
        raise ValueError(E_DIGITS)
    rounding_overflow = (
        integer == MAX_COEFFICIENT
        and point is not None
        and point + 1 < end
        and data[point + 1 : point + 2] in b"56789"
    )
    if rounding_overflow:
        raise ValueError(E_ROUNDING)
    if syntax is not None:
        raise ValueError(syntax)
    if not digit_seen:
        raise ValueError(E_NO_DIGITS)
    return Decimal(data.decode().replace("_", ""))


def _to_decimal(obj):
    try:
        return Decimal(_as_long_long(_index(obj)))
    except PanicException:
        raise
    except BaseException:  # noqa: BLE001 - any failure of the integer rule is discarded
        pass
    return parse_decimal(str(obj))


def element(kind, obj):
    """The element conversion of a bound item: the value, or the exception it must raise."""
    if kind in _NARROW:
        value = _to_c_long_32(obj)
        bits = _NARROW[kind]
        if not -(2 ** (bits - 1)) <= value < 2 ** (bits - 1):
            raise OverflowError("out of range integral type conversion attempted")
        return value
    if kind == "i64":
        return _as_long_long(_index(obj))
    if kind == "i128":
        value = _index(obj)
        if not -(2**127) <= value < 2**127:
            raise OverflowError("int too big to convert")
        return value
    if kind == "i":
        return _index(obj)
    if kind == "f32":
        return f32(to_f64(obj))
    if kind == "f64":
        return to_f64(obj)
    if kind in ("c64", "c128"):
        value = _as_complex(obj)
        if kind == "c64":
            return complex(f32(value.real), f32(value.imag))
        return complex(value.real, value.imag)
    assert kind == "d"
    return _to_decimal(obj)


def component_list(kind, obj):
    """The list conversion of a bound argument."""
    if isinstance(obj, str):
        raise TypeError("Can't extract `str` to `Vec`")
    if not _sequence_check(obj):
        raise TypeError(f"'{type(obj).__qualname__}' object cannot be converted to 'Sequence'")
    try:
        # Only a size hint: an ordinary error is dropped, any other passes on. (A size that
        # cannot be held is MemoryError, as in list(); the sizes drawn here are all small.)
        len(obj)
    except Exception:  # noqa: BLE001
        pass
    return [element(kind, item) for item in iter(obj)]


def expected_error(error, parameter):
    """The exception a PSO call must raise when converting `parameter` raised `error`:
    a TypeError gains the parameter's name, everything else passes unchanged."""
    if type(error) is TypeError:
        return TypeError, f"argument '{parameter}': {error}"
    return type(error), str(error)


def convert_bounds(bounds):
    """Converts bound arguments in table order: the converted lists per kind and side, or
    raises (type, text) as ConversionFailure for the first argument that fails."""
    lists = {}
    for parameter in BOUND_PARAMETERS:
        if parameter not in bounds:
            continue
        kind = parameter.rsplit("_", 1)[0]
        try:
            lists[parameter] = component_list(kind, bounds[parameter])
        except PanicException:
            raise
        except BaseException as error:  # noqa: BLE001 - the model reports what it met
            raise ConversionFailure(*expected_error(error, parameter)) from None
    return lists


class ConversionFailure(Exception):
    def __init__(self, type_, text):
        super().__init__(type_, text)
        self.type = type_
        self.text = text


# ---- The sampler's verdict on bound pairs -------------------------------------------------------

LOW_GE_HIGH = "Uniform::new called with `low >= high`"
RANGE_OVERFLOW = "Uniform::new: range overflow"
BIG_LOW_GE_HIGH = "assertion failed: low < high"
DECIMAL_LOW_GT_HIGH = "Uniform::new_inclusive called with `low > high`"


def _float_pair(low, high, narrow):
    if not low < high:
        return LOW_GE_HIGH
    width = narrow(high - low)
    if math.isinf(width) or math.isnan(width):
        return RANGE_OVERFLOW
    return None


def _decimal_pair(low, high):
    """A pair in order always has a value to draw (the lower bound itself): only a pair that
    is equal or reversed by value is refused, whatever the scales."""
    return None if low < high else DECIMAL_LOW_GT_HIGH


def sampler_failure(lists):
    """The message of the first bad bound pair, in kind and index order, or None."""
    f32_narrow = f32
    for kind in KINDS:
        lows = lists.get(f"{kind}_min", [])
        highs = lists.get(f"{kind}_max", [])
        for low, high in zip(lows, highs):
            if kind in ("i8", "i16", "i32", "i64", "i128"):
                message = LOW_GE_HIGH if low >= high else None
            elif kind == "i":
                message = BIG_LOW_GE_HIGH if low >= high else None
            elif kind in ("f32", "f64"):
                message = _float_pair(low, high, f32_narrow if kind == "f32" else float)
            elif kind in ("c64", "c128"):
                narrow = f32_narrow if kind == "c64" else float
                message = _float_pair(low.real, high.real, narrow) or _float_pair(
                    low.imag, high.imag, narrow
                )
            else:
                message = _decimal_pair(low, high)
            if message:
                return message
    return None


# ---- The flow of objective values --------------------------------------------------------------

LESS, EQUAL, GREATER = -1, 0, 1


class Failed(Exception):
    """The search ends with PanicException; `pattern` is a regular expression for its text."""

    def __init__(self, pattern):
        super().__init__(pattern)
        self.pattern = pattern


def describe_pattern(error, traceback_known=True):
    """The description of a Python error in failure messages; the traceback's address is
    not predictable, and where the error arose in C it may have none."""
    traceback = r"Some\(<traceback object at 0x[0-9a-f]+>\)"
    if not traceback_known:
        traceback = rf"(?:None|{traceback})"
    head = re.escape(f"PyErr {{ type: {type(error)!r}, value: {error!r}, traceback: ")
    return head + traceback + r" \}"


def _truth(compare):
    try:
        return bool(compare())
    except PanicException:
        raise
    except BaseException:  # noqa: BLE001 - comparisons swallow every other exception
        return None


def compare(a, b):
    """Equality first, then <, then >, each followed by a truth test; None for no ordering."""
    if _truth(lambda: a == b):
        return EQUAL
    less = _truth(lambda: a < b)
    if less is not None:
        return LESS if less else GREATER
    greater = _truth(lambda: a > b)
    if greater is not None:
        return GREATER if greater else LESS
    return None


def negate(value):
    try:
        return getattr(value, "__neg__")()
    except PanicException:
        raise
    except BaseException as error:  # noqa: BLE001
        raise Failed(
            re.escape("There is no __neg__ method: ") + describe_pattern(error, False)
        ) from None


class Script:
    """What the objective does at each call, in call order: a Returns, Raises or Panics."""

    def __init__(self, actions):
        self.actions = list(actions)
        self.calls = 0

    def next(self):
        action = self.actions[self.calls % len(self.actions)]
        self.calls += 1
        return action


class Returns:
    def __init__(self, value):
        self.value = value


class Raises:
    def __init__(self, error):
        self.error = error


class Panics:
    """The objective starts a search that fails and lets its PanicException through."""

    def __init__(self, message):
        self.message = message


def replay_values(actions, n_particles, n_iters, maximise):
    """Replays a search whose objective follows `actions`. Returns (outcome, calls) where
    outcome is ("ok", value) or ("panic", pattern)."""
    script = Script(actions)

    def evaluate():
        action = script.next()
        if isinstance(action, Raises):
            raise Failed(re.escape("failed to call f: ") + describe_pattern(action.error))
        if isinstance(action, Panics):
            raise Failed(re.escape(action.message))
        return negate(action.value) if maximise else action.value

    try:
        try:
            best = [evaluate() for _ in range(n_particles)]
            if not best:
                raise Failed(re.escape("n_particles is 0!"))
            chosen = 0
            for k in range(1, len(best)):
                order = compare(best[chosen], best[k])
                if order is None:
                    raise Failed(re.escape("failed to compare"))
                if order == GREATER:
                    chosen = k
            swarm_best = best[chosen]
            for _ in range(n_iters):
                for k in range(n_particles):
                    y = evaluate()
                    if compare(y, best[k]) != LESS:
                        continue
                    improves = compare(y, swarm_best) == LESS
                    best[k] = y
                    if improves:
                        swarm_best = y
            return ("ok", negate(swarm_best) if maximise else swarm_best), script.calls
        except PanicException as error:  # from a comparison or a negation
            raise Failed(re.escape(str(error))) from None
    except Failed as failure:
        return ("panic", failure.pattern), script.calls
