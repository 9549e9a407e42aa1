"""Type information for swarmtuner, a particle swarm optimiser over mixed search spaces."""

from collections.abc import Callable, Sequence
from decimal import Decimal
from typing import (
    Protocol,
    SupportsComplex,
    SupportsFloat,
    SupportsIndex,
    TypeAlias,
    TypedDict,
    TypeVar,
    final,
)

__all__ = ["PSO"]

_R = TypeVar("_R")
_R_co = TypeVar("_R_co", covariant=True)

class _SupportsNeg(Protocol[_R_co]):
    def __neg__(self) -> _R_co: ...

# What each kind's bounds accept. Integer kinds go through __index__ (bool included, float
# refused). Float kinds go through __float__ or __index__. Complex kinds go through __complex__
# or a real number; complex itself is named because it has no __complex__ before Python 3.11.
# A decimal bound is an int that fits 64 bits or any object whose str() is a plain decimal
# literal (digits, at most one point, an optional sign, underscores after the first digit);
# among the standard types that is int, str, Decimal and float, the last two only while their
# str() has no exponent (1e-07 and Decimal("1E+3") are refused when the call runs).
_IntBounds: TypeAlias = Sequence[SupportsIndex]
_FloatBounds: TypeAlias = Sequence[SupportsFloat | SupportsIndex]
_ComplexBounds: TypeAlias = Sequence[complex | SupportsComplex | SupportsFloat | SupportsIndex]
_DecimalBounds: TypeAlias = Sequence[SupportsIndex | str | Decimal | float]

class _Point(TypedDict, total=False):
    """A point of the search space: one list per kind that the bounds use, in kind order. The
    objective receives the same lists as keyword arguments."""

    i8: list[int]
    i16: list[int]
    i32: list[int]
    i64: list[int]
    i128: list[int]
    i: list[int]
    f32: list[float]
    f64: list[float]
    c64: list[complex]
    c128: list[complex]
    d: list[Decimal]

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
