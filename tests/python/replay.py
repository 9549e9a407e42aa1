"""A plain-Python replay of the swarm's sweeps, used as the reference for the search dynamics.

Given the starting positions that the objective saw, the rest of a search is deterministic; this
module recomputes it with Python's own int, float, complex and decimal arithmetic.
"""
import math
import struct
from decimal import ROUND_HALF_EVEN, Context, Decimal

_FLT_ROUND_UP_LIMIT = 3.4028235677973366e38  # halfway between the largest float32 and 2**128
_EXACT = Context(prec=400)


def f32(x):
    """Round a Python float to the nearest binary32 value (overflowing to an infinity)."""
    if math.isnan(x) or math.isinf(x):
        return x
    if abs(x) >= _FLT_ROUND_UP_LIMIT:
        return math.copysign(math.inf, x)
    return struct.unpack("<f", struct.pack("<f", x))[0]


def _saturating(bits):
    lo, hi = -(2 ** (bits - 1)), 2 ** (bits - 1) - 1
    return lambda v: max(lo, min(hi, v)), lo, hi


def _finite(v):
    return v if math.isfinite(v) else 0.0


class IntOps:
    ordered = True
    zero = 0

    @staticmethod
    def finite(v):
        return v

    def __init__(self, bits):
        self.bits = bits
        self.clamp, self.lo, self.hi = _saturating(bits)

    def add(self, a, b):
        return self.clamp(a + b)

    def sub(self, a, b):
        return self.clamp(a - b)

    def neg(self, a):
        return self.clamp(-a)

    def scale(self, a, x):
        if self.bits <= 16:
            p = f32(f32(float(a)) * f32(x))
        else:
            p = float(a) * x
        if math.isnan(p):
            return 0
        if p >= 2.0 ** (self.bits - 1):
            return self.hi
        if p < -(2.0 ** (self.bits - 1)):
            return self.lo
        return int(p)


class BigIntOps:
    ordered = True
    zero = 0

    @staticmethod
    def finite(v):
        return v

    def add(self, a, b):
        return a + b

    def sub(self, a, b):
        return a - b

    def neg(self, a):
        return -a

    def scale(self, a, x):
        p = big_int_to_float(a) * x
        assert math.isfinite(p)
        return int(p)


def big_int_to_float(a):
    """The module's conversion, which differs from float(a) past 2**64: the 64 leading bits of
    the magnitude are kept (the rest dropped, not rounded), then rounded to nearest."""
    magnitude = abs(a)
    dropped = max(0, magnitude.bit_length() - 64)
    try:
        result = math.ldexp(float(magnitude >> dropped), dropped)
    except OverflowError:
        result = math.inf
    return -result if a < 0 else result


class FloatOps:
    """A velocity component that is not finite is set to zero before the move."""
    ordered = True
    zero = 0.0
    finite = staticmethod(_finite)

    def __init__(self, narrow):
        self.r = f32 if narrow else (lambda v: v)

    def add(self, a, b):
        return self.r(a + b)

    def sub(self, a, b):
        return self.r(a - b)

    def neg(self, a):
        return -a

    def scale(self, a, x):
        return self.r(a * self.r(x))


class ComplexOps:
    ordered = False
    zero = 0j

    @staticmethod
    def finite(v):
        return complex(_finite(v.real), _finite(v.imag))

    def __init__(self, narrow):
        self.r = f32 if narrow else (lambda v: v)

    def add(self, a, b):
        return complex(self.r(a.real + b.real), self.r(a.imag + b.imag))

    def sub(self, a, b):
        return complex(self.r(a.real - b.real), self.r(a.imag - b.imag))

    def neg(self, a):
        return complex(-a.real, -a.imag)

    def scale(self, a, x):
        return complex(self.r(a.real * self.r(x)), self.r(a.imag * self.r(x)))


def decimal_from_float(x):
    """The decimal a float factor converts to. The binary value is written as an integer
    times a power of ten whose integer stays within 96 bits (low binary digits that do not
    fit are given up); beyond 28 fractional digits, and then while there is a fraction and
    the integer is 2^52 or more, digits are dropped one at a time, each rounding half up on
    the dropped digit alone; trailing fractional zeros go last. (NaN, infinities and values
    of 2^96 or more, which fail, are not replayed.)"""
    m, e = math.frexp(abs(x))
    bits, e2 = int(m * 2**53), e - 53
    if bits == 0:
        return Decimal((int(math.copysign(1, x) < 0), (0,), 0))
    e5, e10 = -e2, e2
    while e5 > 0:
        if bits % 2 == 0 or bits * 5 > 2**96 - 1:
            bits //= 2
            e10 += 1
        else:
            bits *= 5
        e5 -= 1
    while e5 < 0:
        if bits < 2**95:
            bits *= 2
            e10 -= 1
        else:
            bits //= 5
        e5 += 1
    bits *= 10 ** max(e10, 0)
    e10 = min(e10, 0)

    def drop_digit():
        nonlocal bits, e10
        digit = bits % 10
        bits = bits // 10 + (digit >= 5)
        e10 += 1

    while e10 < -28:
        drop_digit()
        if bits == 0:
            e10 = 0
            break
    while e10 < 0 and bits >= 2**52:
        drop_digit()
    while e10 < 0 and bits % 10 == 0:
        bits //= 10
        e10 += 1
    return Decimal((int(x < 0), tuple(int(c) for c in str(bits)), e10))


def _fit(d):
    """Rounds an exact result half to even at the largest scale (at most 28) at which its
    coefficient fits 96 bits, always from the exact value."""
    exponent = d.as_tuple().exponent
    target = max(exponent, -28)
    while True:
        fitted = d if target == exponent else d.quantize(
            Decimal(1).scaleb(target), rounding=ROUND_HALF_EVEN, context=_EXACT)
        if int("".join(map(str, fitted.as_tuple().digits))) < 2**96:
            break
        target += 1
    d = fitted
    if d.is_zero() and d.is_signed():
        d = d.copy_abs()
    return d


class DecimalOps:
    ordered = True
    zero = Decimal(0)

    @staticmethod
    def finite(v):
        return v

    def add(self, a, b):
        if a.is_zero():
            return b
        if b.is_zero():
            return a
        return _fit(_EXACT.add(a, b))

    def sub(self, a, b):
        if a.is_zero():
            return b if b.is_zero() else b.copy_negate()
        if b.is_zero():
            return a
        return _fit(_EXACT.subtract(a, b))

    def neg(self, a):
        return a.copy_negate()

    def scale(self, a, x):
        factor = decimal_from_float(x)
        if a.is_zero() or factor.is_zero():
            return Decimal(0)
        return _fit(_EXACT.multiply(a, factor))


OPS = {
    "i8": IntOps(8), "i16": IntOps(16), "i32": IntOps(32), "i64": IntOps(64),
    "i128": IntOps(128), "i": BigIntOps(), "f32": FloatOps(True), "f64": FloatOps(False),
    "c64": ComplexOps(True), "c128": ComplexOps(False), "d": DecimalOps(),
}


def _map2(op, a, b):
    return {k: [getattr(OPS[k], op)(x, y) for x, y in zip(a[k], b[k])] for k in a}


def _scale(a, x):
    return {k: [OPS[k].scale(v, x) for v in a[k]] for k in a}


def _neg(a):
    return {k: [OPS[k].neg(v) for v in a[k]] for k in a}


def _clamp_one(x, v, lower, upper, vmin, vmax, zero):
    """The first rule that applies: below or above the bounds (onto the bound, velocity zero),
    then the velocity limits."""
    if x < lower:
        return lower, zero
    if x > upper:
        return upper, zero
    if v < vmin:
        return x, vmin
    if v > vmax:
        return x, vmax
    return x, v


def _clamp(position, velocity, lower, upper, vmin, vmax):
    for k in position:
        limits = zip(position[k], velocity[k], lower[k], upper[k], vmin[k], vmax[k])
        for j, (x, v, lo, hi, v_lo, v_hi) in enumerate(limits):
            if OPS[k].ordered:
                position[k][j], velocity[k][j] = _clamp_one(x, v, lo, hi, v_lo, v_hi, OPS[k].zero)
            else:
                # Complex: the real part within the real parts of the bounds and limits, the
                # imaginary part within the imaginary parts, each as a float.
                re = _clamp_one(x.real, v.real, lo.real, hi.real, v_lo.real, v_hi.real, 0.0)
                im = _clamp_one(x.imag, v.imag, lo.imag, hi.imag, v_lo.imag, v_hi.imag, 0.0)
                position[k][j], velocity[k][j] = complex(re[0], im[0]), complex(re[1], im[1])


def replay(f, starts, lower, upper, n_iters, c1, c2, inertia, max_v):
    """Returns every point the search evaluates after the starting swarm, in order, and the
    (value, position) result of a minimising search."""
    vmax = _scale(_map2("sub", upper, lower), max_v)
    vmin = _neg(vmax)
    positions = [{k: list(v) for k, v in s.items()} for s in starts]
    velocities = [{k: [OPS[k].zero] * len(v) for k, v in s.items()} for s in positions]
    best_positions = [{k: list(v) for k, v in s.items()} for s in positions]
    best_values = [f(**s) for s in starts]
    g = min(range(len(starts)), key=lambda k: (best_values[k], k))
    global_value, global_position = best_values[g], {k: list(v) for k, v in best_positions[g].items()}
    evaluated = []
    for _ in range(n_iters):
        for p in range(len(positions)):
            social = _scale(_map2("sub", global_position, positions[p]), c1)
            cognitive = _scale(_map2("sub", best_positions[p], positions[p]), c2)
            velocities[p] = _map2("add", velocities[p], _map2("add", social, cognitive))
            velocities[p] = {k: [OPS[k].finite(v) for v in vs] for k, vs in velocities[p].items()}
            positions[p] = _map2("add", positions[p], velocities[p])
            _clamp(positions[p], velocities[p], lower, upper, vmin, vmax)
            point = {k: list(v) for k, v in positions[p].items()}
            evaluated.append(point)
            y = f(**point)
            if y < best_values[p]:
                best_values[p], best_positions[p] = y, point
                if y < global_value:
                    global_value, global_position = y, {k: list(v) for k, v in point.items()}
        velocities = [_scale(v, inertia) for v in velocities]
    return evaluated, (global_value, global_position)
