"""Bounds from Python values, and points handed back to Python, for every element kind."""
import math
import os
import struct
import sys
from decimal import Decimal
from fractions import Fraction

import pytest

import swarmtuner

from conftest import KINDS, Complexy, Floaty, Index, panic_message


def first_point(lower, upper, kind, n_particles=1):
    """The first point f is shown for one-dimensional bounds of one kind."""
    seen = []

    def f(**kw):
        seen.append(kw)
        return 0

    swarmtuner.PSO(n_iters=0, n_particles=n_particles).min(
        f, **{f"{kind}_min": [lower], f"{kind}_max": [upper]}
    )
    return seen[0][kind][0]


@pytest.mark.parametrize(
    "kind, lower, upper, expected",
    [
        ("i8", 5, 6, 5),
        ("i8", True, 2, 1),
        ("i8", Index(-128), -127, -128),
        ("i16", -32768, -32767, -32768),
        ("i32", 2**31 - 2, 2**31 - 1, 2**31 - 2),
        ("i64", -(2**63), -(2**63) + 1, -(2**63)),
        ("i128", -(2**127), -(2**127) + 1, -(2**127)),
        ("i128", 2**127 - 2, 2**127 - 1, 2**127 - 2),
        # Either side of the 64-bit values, which are made as such.
        ("i128", 2**63 - 1, 2**63, 2**63 - 1),
        ("i128", 2**63, 2**63 + 1, 2**63),
        ("i128", -(2**63), -(2**63) + 1, -(2**63)),
        ("i128", -(2**63) - 1, -(2**63), -(2**63) - 1),
        ("i", 10**50, 10**50 + 1, 10**50),
        # Around the ends of machine words and of the on-stack conversion buffer.
        ("i", 2**63, 2**63 + 1, 2**63),
        ("i", -(2**64), -(2**64) + 1, -(2**64)),
        ("i", 2**959 + 7, 2**959 + 8, 2**959 + 7),
        ("i", -(2**960), -(2**960) + 1, -(2**960)),
        ("i", -(2**2000), -(2**2000) + 1, -(2**2000)),
        # Where the sign needs a byte (or a digit) of its own, and the digit edges of Python's
        # own int layout (30 bits) against the 64-bit limbs.
        ("i", 2**199 - 1, 2**199, 2**199 - 1),
        ("i", -(2**199) - 1, -(2**199), -(2**199) - 1),
        ("i", 2**127, 2**127 + 1, 2**127),
        ("i", -(2**128) + 1, -(2**128) + 2, -(2**128) + 1),
        ("i", 2**90 - 1, 2**90, 2**90 - 1),
        ("i", -(2**120), -(2**120) + 1, -(2**120)),
        ("i", 0, 1, 0),
        ("i", -1, 0, -1),
        ("f64", 3, 3.0000000000000004, 3.0),
        ("f32", 0.5, 0.500000059604644775390625, 0.5),
        ("d", 5, 6, Decimal(5)),
        ("d", 2**70, 2**70 + 1, Decimal(2**70)),
        ("d", "2.50", "2.51", Decimal("2.50")),
        ("d", 0.1, 0.2, Decimal("0.1")),
        ("d", "1_000.5", "1000.6", Decimal("1000.5")),
        ("d", "5.", "5.1", Decimal("5.0")),
        ("d", Decimal("-0.25"), Decimal("-0.24"), Decimal("-0.25")),
    ],
)
def test_bound_values_reach_f_exactly(kind, lower, upper, expected):
    value = first_point(lower, upper, kind)
    assert value == expected
    assert type(value) is type(expected)
    if kind == "d":
        assert value.as_tuple() == expected.as_tuple()  # the scale survives


def test_kwargs_types_and_key_order():
    seen = []

    def f(**kw):
        seen.append(kw)
        return 0

    bounds = {}
    lows = {"i8": 1, "i16": 1, "i32": 1, "i64": 1, "i128": 1, "i": 1, "f32": 1.0,
            "f64": 1.0, "c64": 1 + 1j, "c128": 1 + 1j, "d": 1}
    for kind in reversed(KINDS):  # keyword order of the call does not matter
        bounds[f"{kind}_min"] = [lows[kind]]
        bounds[f"{kind}_max"] = [lows[kind] * 2]
    swarmtuner.PSO(n_iters=0, n_particles=2).min(f, **bounds)
    expected_types = {"i8": int, "i16": int, "i32": int, "i64": int, "i128": int, "i": int,
                      "f32": float, "f64": float, "c64": complex, "c128": complex, "d": Decimal}
    for kw in seen:
        assert list(kw) == list(KINDS)
        for kind, values in kw.items():
            assert type(values) is list and len(values) == 1
            assert type(values[0]) is expected_types[kind]
    assert seen[0]["i8"] is not seen[1]["i8"]


def test_only_used_kinds_are_passed():
    seen = []
    swarmtuner.PSO(n_iters=0, n_particles=1).min(
        lambda **kw: seen.append(kw) or 0, f64_min=[0.0], f64_max=[1.0], i8_min=[1], i8_max=[]
    )
    assert list(seen[0]) == ["f64"]


FLT_MAX = (2 - 2**-23) * 2.0**127
BELOW_FLT_MAX = (2 - 2**-22) * 2.0**127  # the binary32 just below FLT_MAX
# Halfway between FLT_MAX and 2**128: ties go to the even neighbour 2**128, which is infinity.
F32_HALFWAY = (2 - 2**-24) * 2.0**127


@pytest.mark.parametrize(
    "magnitude, rounded",
    [
        (FLT_MAX, FLT_MAX),
        (math.nextafter(FLT_MAX, math.inf), FLT_MAX),
        (math.nextafter(F32_HALFWAY, 0), FLT_MAX),
        (F32_HALFWAY, math.inf),
        (1e40, math.inf),
    ],
)
def test_f32_bounds_round_to_nearest_and_overflow_only_from_halfway(magnitude, rounded):
    # [-magnitude, -BELOW_FLT_MAX) holds one binary32 at most, the lower bound as rounded; an
    # infinite bound leaves no finite width.
    if math.isinf(rounded):
        with pytest.raises(BaseException) as excinfo:
            first_point(-magnitude, -BELOW_FLT_MAX, "f32")
        assert panic_message(excinfo) == "Uniform::new: range overflow"
    else:
        assert first_point(-magnitude, -BELOW_FLT_MAX, "f32") == -rounded


@pytest.mark.parametrize(
    "kind, lower, upper, expected",
    [
        ("i8", -1, 0, -1),
        ("i32", Index(-1), 0, -1),
        ("i64", Index(-1), 0, -1),
        ("i", -1, 0, -1),
        ("f64", -1, math.nextafter(-1.0, 0), -1.0),
        ("f64", Floaty(-1.0), math.nextafter(-1.0, 0), -1.0),
        ("c128", -1, complex(math.nextafter(-1.0, 0), 1e-300), -1.0),
        # An __index__ of -1 reads as the integer; a failed read would fall back to the text.
        ("d", Index(-1), 0, Decimal(-1)),
    ],
)
def test_minus_one_is_a_value_not_an_error(kind, lower, upper, expected):
    value = first_point(lower, upper, kind)
    assert (value.real if kind == "c128" else value) == expected


def test_equal_decimals_of_different_scales_reach_f_as_given():
    # Many values at many scales, so that equal but differently written ones meet in the
    # reused Decimal objects; each dimension's range holds its lower bound alone.
    lower = [f"{k}.{'0' * scale}" if scale else str(k) for k in range(1, 61) for scale in range(21)]
    upper = [str(Decimal(text) + Decimal(1).scaleb(-len(text.partition(".")[2]))) for text in lower]
    seen = []
    swarmtuner.PSO(n_iters=0, n_particles=1).min(
        lambda d: seen.append([str(x) for x in d]) or 0, d_min=lower, d_max=upper
    )
    assert seen == [lower]


def as_binary32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def next_binary32_up(x):
    return struct.unpack("<f", struct.pack("<I", struct.unpack("<I", struct.pack("<f", x))[0] + 1))[0]


def test_f32_bounds_are_rounded_to_binary32():
    low = as_binary32(0.1)
    assert first_point(0.1, next_binary32_up(low), "f32") == low


def test_one_ulp_complex_rectangle():
    value = first_point(2, 2.0000000000000004 + 1e-300j, "c128")
    assert value.real == 2.0 and 0.0 <= value.imag < 1e-300


@pytest.mark.parametrize(
    "kind, bad, exc, text",
    [
        ("i8", 200, OverflowError, "out of range integral type conversion attempted"),
        ("i8", -129, OverflowError, "out of range integral type conversion attempted"),
        ("i16", 40000, OverflowError, "out of range integral type conversion attempted"),
        ("i8", 2**40, OverflowError, "Python int too large to convert to C long"),
        ("i32", 2**31, OverflowError, "Python int too large to convert to C long"),
        ("i32", -(2**31) - 1, OverflowError, "Python int too large to convert to C long"),
        ("i16", 2**70, OverflowError, "Python int too large to convert to C long"),
        ("i64", 2**63, OverflowError, None),
        ("i128", 2**127, OverflowError, "int too big to convert"),
        ("i128", -(2**127) - 1, OverflowError, "int too big to convert"),
        ("i128", 2**300, OverflowError, "int too big to convert"),
        ("d", "abc", ValueError, "Invalid decimal: unknown character"),
        ("d", 1e-07, ValueError, "Invalid decimal: unknown character"),
        ("d", "", ValueError, "Invalid decimal: empty"),
        ("d", "-.", ValueError, "Invalid decimal: no digits found"),
        ("d", "1.2.3", ValueError, "Invalid decimal: two decimal points"),
        ("d", "_1", ValueError, "Invalid decimal: must start lead with a number"),
        ("d", "1" * 40, ValueError, "Invalid decimal: overflow from too many digits"),
        ("d", "NaN", ValueError, "Invalid decimal: unknown character"),
        ("d", Decimal("1E+2"), ValueError, "Invalid decimal: unknown character"),
        ("d", "1.00000000000000000000000000001xyz", ValueError,
         "Invalid decimal: unknown character"),
    ],
)
def test_out_of_range_and_unparsable_values_raise_unprefixed(small_pso, kind, bad, exc, text):
    with pytest.raises(exc) as excinfo:
        small_pso.min(lambda **kw: 0, **{f"{kind}_min": [bad], f"{kind}_max": [bad]})
    if text is not None:
        assert str(excinfo.value) == text
    assert not str(excinfo.value).startswith("argument")


@pytest.mark.parametrize(
    "kind, bad, text",
    [
        ("i32", 1.0, "'float' object cannot be interpreted as an integer"),
        ("i", "7", "'str' object cannot be interpreted as an integer"),
        ("i64", None, "'NoneType' object cannot be interpreted as an integer"),
        ("f64", "x", "must be real number, not str"),
        ("f32", None, "must be real number, not NoneType"),
        ("c128", "1j", "must be real number, not str"),
    ],
)
def test_wrong_element_type_is_prefixed_type_error(small_pso, kind, bad, text):
    with pytest.raises(TypeError) as excinfo:
        small_pso.min(lambda **kw: 0, **{f"{kind}_max": [0, bad]})
    assert str(excinfo.value) == f"argument '{kind}_max': {text}"


@pytest.mark.parametrize(
    "argument, text",
    [
        ("01", "Can't extract `str` to `Vec`"),
        (5, "'int' object cannot be converted to 'Sequence'"),
        (None, "'NoneType' object cannot be converted to 'Sequence'"),
        ({1, 2}, "'set' object cannot be converted to 'Sequence'"),
        ({1: 2}, "'dict' object cannot be converted to 'Sequence'"),
        (iter([1]), "'list_iterator' object cannot be converted to 'Sequence'"),
    ],
)
def test_bound_argument_must_be_a_non_str_sequence(small_pso, argument, text):
    with pytest.raises(TypeError) as excinfo:
        small_pso.min(lambda **kw: 0, i8_min=argument, i8_max=[1])
    assert str(excinfo.value) == f"argument 'i8_min': {text}"


@pytest.mark.parametrize("sequence", [(5,), range(5, 6), b"\x05", bytearray(b"\x05")])
def test_sequences_other_than_lists_are_accepted(sequence):
    seen = []
    swarmtuner.PSO(n_iters=0, n_particles=1).min(
        lambda **kw: seen.append(kw) or 0, i8_min=sequence, i8_max=[6]
    )
    assert seen[0] == {"i8": [5]}


def test_third_bad_item_decides_and_first_bad_argument_wins(small_pso):
    with pytest.raises(TypeError, match="argument 'i16_min': 'str'"):
        small_pso.min(lambda **kw: 0, i16_min=[1, 2, "x", 2**40], d_max=["bad"])
    with pytest.raises(OverflowError):
        small_pso.min(lambda **kw: 0, i8_min=[1, 2, 300, "x"])
    with pytest.raises(TypeError, match="argument 'i8_min'"):
        small_pso.min(lambda **kw: 0, i8_min=None, d_max="bad")


def test_type_error_prefix_keeps_the_cause(small_pso):
    class BadIndex:
        def __index__(self):
            try:
                raise KeyError("inner")
            except KeyError as inner:
                raise TypeError("outer") from inner

    with pytest.raises(TypeError) as excinfo:
        small_pso.min(lambda **kw: 0, i64_min=[BadIndex()])
    assert str(excinfo.value) == "argument 'i64_min': outer"
    assert isinstance(excinfo.value.__cause__, KeyError)


def test_failing_iteration_and_len_are_handled(small_pso):
    class Broken:
        def __len__(self):
            raise RuntimeError("no len")

        def __getitem__(self, k):
            if k < 2:
                return k
            raise ZeroDivisionError("boom")

    with pytest.raises(ZeroDivisionError, match="boom"):
        small_pso.min(lambda **kw: 0, i8_min=Broken())


def test_objects_with_float_and_complex_protocols():
    # One-ulp ranges: the lower bound is the only value that can be drawn.
    assert first_point(Floaty(2.5), math.nextafter(2.5, 3), "f64") == 2.5
    assert first_point(Fraction(1, 2), math.nextafter(0.5, 1), "f64") == 0.5
    above = complex(math.nextafter(1.5, 2), math.nextafter(-2.0, 0))
    assert first_point(Complexy(1.5 - 2j), above, "c128") == 1.5 - 2j


SIGNALS = [KeyboardInterrupt, SystemExit, GeneratorExit]


class Raising:
    """A bound item or sequence whose protocol method raises the given exception."""

    def __init__(self, exception):
        self.exception = exception

    def __index__(self):
        raise self.exception("from __index__")

    __float__ = __complex__ = __index__


class RaisingLen:
    def __init__(self, exception):
        self.exception = exception

    def __len__(self):
        raise self.exception("from __len__")

    def __getitem__(self, k):
        if k < 1:
            return 1
        raise IndexError(k)


@pytest.mark.parametrize("exception", SIGNALS)
@pytest.mark.parametrize("kind", ["i8", "i64", "i128", "i", "f64", "c128", "d"])
def test_signals_in_item_protocols_pass_unchanged(small_pso, kind, exception):
    # Decimals fall back from __index__ to the text form on an ordinary error; a signal must
    # not be taken for one. The other kinds pass it on as they would any error, unprefixed.
    with pytest.raises(exception, match="^from __index__$"):
        small_pso.min(lambda **kw: 0, **{f"{kind}_min": [Raising(exception)]})
    upper = 2 + 1j if kind == "c128" else 2
    assert small_pso.min(lambda **kw: 0, **{f"{kind}_min": [1], f"{kind}_max": [upper]})[0] == 0


@pytest.mark.parametrize("exception", SIGNALS)
def test_signal_in_a_length_hint_passes_unchanged(small_pso, exception):
    with pytest.raises(exception, match="^from __len__$"):
        small_pso.min(lambda **kw: 0, i8_min=RaisingLen(exception), i8_max=[1])


def test_ordinary_error_in_a_length_hint_is_ignored(small_pso):
    _, point = small_pso.min(lambda **kw: 0, i8_min=RaisingLen(RuntimeError), i8_max=[3])
    assert len(point["i8"]) == 1


class ClaimsLength:
    """A sequence that claims `length` items and fails when one is read."""

    def __init__(self, length):
        self.length = length

    def __len__(self):
        return self.length

    def __getitem__(self, k):
        raise LookupError("an item was read")


class SizedOnly:
    """Not a sequence, however long it says it is."""

    def __len__(self):
        return 10**18


# 10**18 items of any kind are past every address space.
HUGE = 10**18

needs_failing_allocations = pytest.mark.skipif(
    bool(os.environ.get("SWARMTUNER_UNDER_ASAN")),
    reason="AddressSanitizer ends the process when operator new cannot allocate",
)


@needs_failing_allocations
@pytest.mark.parametrize("length", [HUGE, sys.maxsize])
@pytest.mark.parametrize("kind", KINDS)
def test_a_length_that_cannot_be_held_is_memory_error_before_any_item(small_pso, kind, length):
    with pytest.raises(MemoryError):
        small_pso.min(lambda **kw: 0, **{f"{kind}_min": ClaimsLength(length)})
    assert small_pso.min(lambda **kw: 1.5, f64_min=[0.0], f64_max=[1.0])[0] == 1.5


# Bound arguments are read in table order, each to its end, and a sequence is checked before
# its length is asked for.
@needs_failing_allocations
@pytest.mark.parametrize(
    "bounds, error, text",
    [
        ({"i8_min": [300], "i8_max": ClaimsLength(HUGE)}, OverflowError, "out of range"),
        ({"i8_min": ClaimsLength(HUGE), "i8_max": "x"}, MemoryError, "^$"),
        ({"i8_max": ClaimsLength(HUGE), "i16_min": [2**40]}, MemoryError, "^$"),
        ({"i8_min": SizedOnly(), "i8_max": ClaimsLength(HUGE)}, TypeError, "'SizedOnly' object"),
    ],
)
def test_a_length_that_cannot_be_held_keeps_the_order_of_failures(small_pso, bounds, error, text):
    with pytest.raises(error, match=text):
        small_pso.min(lambda **kw: 0, **bounds)
