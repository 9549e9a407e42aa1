"""Type information for swarmtuner, a particle swarm optimiser over mixed search spaces."""

from collections.abc import Callable, Sequence
from decimal import Decimal
from typing import (
    Any,
    Literal,
    Protocol,
    SupportsComplex,
    SupportsFloat,
    SupportsIndex,
    TypeAlias,
    TypeVar,
    final,
    overload,
)

__all__ = ["PSO"]

_R = TypeVar("_R")
_R_co = TypeVar("_R_co", covariant=True)
_T_co = TypeVar("_T_co", covariant=True)

class _SupportsNeg(Protocol[_R_co]):
    def __neg__(self) -> _R_co: ...

# What each kind's bounds accept. Integer kinds go through __index__ (bool included, float
# refused). Float kinds go through __float__ or __index__. Complex kinds go through __complex__
# or a real number; complex itself is named because it has no __complex__ before Python 3.11.
# A decimal bound is an int that fits 64 bits or any object whose str() is a plain decimal
# literal (digits, at most one point, an optional sign, underscores after the first digit);
# among the standard types that is int, str, Decimal and float, the last two only while their
# str() has no exponent (1e-07 and Decimal("1E+3") are refused when the call runs).
_Real: TypeAlias = SupportsFloat | SupportsIndex
_Complex: TypeAlias = complex | SupportsComplex | SupportsFloat | SupportsIndex
_DecimalItem: TypeAlias = SupportsIndex | str | Decimal | float

# A bound list is read with len(), indexing and iteration, so any sequence will do: a list, a
# tuple, a range, bytes (whose items are ints), an array.array, a numpy array. Sequences are
# typed as Sequence; numpy arrays are not Sequences, and their indexing gives Any, so they are
# recognised by their item() method instead, whose return type carries the element type
# without this stub importing numpy: int for numpy's integer arrays, float for its float
# arrays, complex for its complex ones. So an integer kind takes an integer array and refuses a
# float array, as the call does; an array whose element type the checker cannot see (one made
# from a list without a dtype) is accepted.
class _Array(Protocol[_T_co]):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> Any: ...
    def item(self, index: int, /) -> _T_co: ...

# A str is a sequence of str, and a str is a fine decimal bound, but a str is refused as a
# bound list. What sets it apart is `in`, which takes only a str; so the decimal bounds ask for
# an `in` that takes any object. (That leaves out bytes too, whose ints would be accepted.) Any
# numpy array passes here: decimals are read from the text of any real number.
class _SequenceNotStr(Protocol[_T_co]):
    def __len__(self) -> int: ...
    def __getitem__(self, index: int, /) -> _T_co: ...
    def __contains__(self, value: object, /) -> bool: ...

_IntBounds: TypeAlias = Sequence[SupportsIndex] | _Array[SupportsIndex]
_FloatBounds: TypeAlias = Sequence[_Real] | _Array[_Real]
_ComplexBounds: TypeAlias = Sequence[_Complex] | _Array[_Complex]
_DecimalBounds: TypeAlias = _SequenceNotStr[_DecimalItem]

# The point that min and max return: a dict from kind name to list, holding only the kinds
# whose bounds gave dimensions. Looking a kind up by its literal name gives that kind's list
# type (best["f64"][0] is a float); any other str gives list[Any]. The checker cannot know which
# kinds a search used, so it lets every kind be looked up: a kind that the search did not use
# is absent at run time, and best["i8"] raises KeyError there as with any dict (best.get("i8")
# gives None). The class exists only in this stub, for these lookups: at run time the point is
# exactly a dict.
class _Point(dict[str, list[Any]]):
    @overload
    def __getitem__(
        self, key: Literal["i8", "i16", "i32", "i64", "i128", "i"], /
    ) -> list[int]: ...
    @overload
    def __getitem__(self, key: Literal["f32", "f64"], /) -> list[float]: ...
    @overload
    def __getitem__(self, key: Literal["c64", "c128"], /) -> list[complex]: ...
    @overload
    def __getitem__(self, key: Literal["d"], /) -> list[Decimal]: ...
    @overload
    def __getitem__(self, key: str, /) -> list[Any]: ...

@final
class PSO:
    """The six settings of a particle swarm, and the searches that use them. The velocity
    update has no random factors; c1 = 0.7, c2 = 1.0, inertia = 0.5 is a good start."""

    # Counts read back as int, coefficients as float; the setters convert like the
    # constructor and refuse assignment while a search on this object runs.
    @property
    def n_iters(self) -> int:
        """Number of sweeps over the swarm."""
    @n_iters.setter
    def n_iters(self, value: SupportsIndex, /) -> None: ...
    @property
    def n_particles(self) -> int:
        """Number of particles; f is called n_particles * (n_iters + 1) times."""
    @n_particles.setter
    def n_particles(self, value: SupportsIndex, /) -> None: ...
    @property
    def c1(self) -> float:
        """Weight of the pull towards the swarm's best position."""
    @c1.setter
    def c1(self, value: SupportsFloat | SupportsIndex, /) -> None: ...
    @property
    def c2(self) -> float:
        """Weight of the pull towards the particle's own best position."""
    @c2.setter
    def c2(self, value: SupportsFloat | SupportsIndex, /) -> None: ...
    @property
    def inertia(self) -> float:
        """Factor applied to every velocity after each sweep."""
    @inertia.setter
    def inertia(self, value: SupportsFloat | SupportsIndex, /) -> None: ...
    @property
    def max_v(self) -> float:
        """Velocity limit, as a fraction of each dimension's range."""
    @max_v.setter
    def max_v(self, value: SupportsFloat | SupportsIndex, /) -> None: ...
    def __new__(
        cls,
        n_iters: SupportsIndex = 1000,
        n_particles: SupportsIndex = 30,
        c1: SupportsFloat | SupportsIndex = 2.0,
        c2: SupportsFloat | SupportsIndex = 2.0,
        inertia: SupportsFloat | SupportsIndex = 0.5,
        max_v: SupportsFloat | SupportsIndex = 0.2,
    ) -> PSO: ...
    def min(
        self,
        f: Callable[..., _R],
        i8_min: _IntBounds = ...,
        i8_max: _IntBounds = ...,
        i16_min: _IntBounds = ...,
        i16_max: _IntBounds = ...,
        i32_min: _IntBounds = ...,
        i32_max: _IntBounds = ...,
        i64_min: _IntBounds = ...,
        i64_max: _IntBounds = ...,
        i128_min: _IntBounds = ...,
        i128_max: _IntBounds = ...,
        i_min: _IntBounds = ...,
        i_max: _IntBounds = ...,
        f32_min: _FloatBounds = ...,
        f32_max: _FloatBounds = ...,
        f64_min: _FloatBounds = ...,
        f64_max: _FloatBounds = ...,
        c64_min: _ComplexBounds = ...,
        c64_max: _ComplexBounds = ...,
        c128_min: _ComplexBounds = ...,
        c128_max: _ComplexBounds = ...,
        d_min: _DecimalBounds = ...,
        d_max: _DecimalBounds = ...,
    ) -> tuple[_R, _Point]:
        """Returns the smallest value f gave (the very object) and the point where it was
        first reached."""

    # The value returned is -(-y) for the best y that f gave, so its type is what two
    # applications of __neg__ produce: the type of y itself for int, float, Decimal and
    # Fraction.
    def max(
        self,
        f: Callable[..., _SupportsNeg[_SupportsNeg[_R]]],
        i8_min: _IntBounds = ...,
        i8_max: _IntBounds = ...,
        i16_min: _IntBounds = ...,
        i16_max: _IntBounds = ...,
        i32_min: _IntBounds = ...,
        i32_max: _IntBounds = ...,
        i64_min: _IntBounds = ...,
        i64_max: _IntBounds = ...,
        i128_min: _IntBounds = ...,
        i128_max: _IntBounds = ...,
        i_min: _IntBounds = ...,
        i_max: _IntBounds = ...,
        f32_min: _FloatBounds = ...,
        f32_max: _FloatBounds = ...,
        f64_min: _FloatBounds = ...,
        f64_max: _FloatBounds = ...,
        c64_min: _ComplexBounds = ...,
        c64_max: _ComplexBounds = ...,
        c128_min: _ComplexBounds = ...,
        c128_max: _ComplexBounds = ...,
        d_min: _DecimalBounds = ...,
        d_max: _DecimalBounds = ...,
    ) -> tuple[_R, _Point]:
        """Returns the largest value f gave, negated twice with __neg__, and the point where it
        was first reached."""
