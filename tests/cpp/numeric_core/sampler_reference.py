#!/usr/bin/env python3
"""Writes sampler_reference.inc: a plain-Python replay of the generator and the sampling rules.

The ChaCha block function below is checked against the RFC 8439 section 2.3.2 vector before
anything is written. Run from this directory:
    python3 sampler_reference.py > sampler_reference.inc
"""

import math
import struct
from fractions import Fraction

MASK32 = 0xFFFFFFFF
SIGMA = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574]


def rotl(v, n):
    return ((v << n) | (v >> (32 - n))) & MASK32


def quarter(x, a, b, c, d):
    x[a] = (x[a] + x[b]) & MASK32
    x[d] = rotl(x[d] ^ x[a], 16)
    x[c] = (x[c] + x[d]) & MASK32
    x[b] = rotl(x[b] ^ x[c], 12)
    x[a] = (x[a] + x[b]) & MASK32
    x[d] = rotl(x[d] ^ x[a], 8)
    x[c] = (x[c] + x[d]) & MASK32
    x[b] = rotl(x[b] ^ x[c], 7)


def block(state, rounds):
    x = list(state)
    for _ in range(rounds // 2):
        quarter(x, 0, 4, 8, 12)
        quarter(x, 1, 5, 9, 13)
        quarter(x, 2, 6, 10, 14)
        quarter(x, 3, 7, 11, 15)
        quarter(x, 0, 5, 10, 15)
        quarter(x, 1, 6, 11, 12)
        quarter(x, 2, 7, 8, 13)
        quarter(x, 3, 4, 9, 14)
    return [(a + b) & MASK32 for a, b in zip(x, state)]


RFC_INPUT = SIGMA + list(struct.unpack("<8I", bytes(range(32)))) + [1, 0x09000000, 0x4A000000, 0]
RFC_OUTPUT = [
    0xE4E7F110, 0x15593BD1, 0x1FDD0F50, 0xC47120A3, 0xC7F4D1C7, 0x0368C033, 0x9AAA2204, 0x4E6CD4C3,
    0x466482D2, 0x09AA9F07, 0x05D7C214, 0xA2028BD9, 0xD19C12B5, 0xB94E16DE, 0xE883D0CB, 0x4E3C50A2,
]
assert block(RFC_INPUT, 20) == RFC_OUTPUT


class Generator:
    """12 rounds, 64-word refills, 64-bit block counter, zero nonce (no reseed within a test)."""

    def __init__(self, key):
        self.key = list(struct.unpack("<8I", key))
        self.counter = 0
        self.buffer = []

    def u32(self):
        if not self.buffer:
            for _ in range(4):
                state = SIGMA + self.key + [self.counter & MASK32, self.counter >> 32, 0, 0]
                self.buffer += block(state, 12)
                self.counter += 1
        return self.buffer.pop(0)

    def u64(self):
        low = self.u32()
        return self.u32() << 32 | low

    def u128(self):
        low = self.u64()
        return self.u64() << 64 | low


KEY = bytes(range(100, 132))


def int_span(low, high, word_bits):
    assert low < high
    width = high - low
    return (low, width, (2**word_bits - width) % width, word_bits)


def int_draw(span, gen):
    low, width, reject, word_bits = span
    word = {32: gen.u32, 64: gen.u64, 128: gen.u128}[word_bits]
    while True:
        product = word() * width
        hi, lo = product >> word_bits, product & (2**word_bits - 1)
        if lo <= 2**word_bits - 1 - reject:
            return low + hi


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def next_below_f32(x):
    return struct.unpack("<f", struct.pack("<I", struct.unpack("<I", struct.pack("<f", x))[0] - 1))[0]


def float_span(low, high, single):
    assert low < high
    if single:
        m, scale = f32(1 - 2.0**-23), f32(high - low)
        while f32(f32(scale * m) + low) >= high:
            scale = next_below_f32(scale)
    else:
        m, scale = 1 - 2.0**-52, high - low
        assert math.isfinite(scale)
        while scale * m + low >= high:
            scale = math.nextafter(scale, 0.0)
    return (low, scale, single)


def float_draw(span, gen):
    low, scale, single = span
    if single:
        unit = (gen.u32() >> 9) * 2.0**-23
        return f32(f32(scale * unit) + low)
    unit = (gen.u64() >> 12) * 2.0**-52
    return low + scale * unit


def big_draw(low, high, gen):
    width = high - low
    bits = width.bit_length()
    count = (bits + 31) // 32
    while True:
        words = [gen.u32() for _ in range(count)]
        words[-1] >>= 32 * count - bits
        r = sum(w << (32 * i) for i, w in enumerate(words))
        if r < width:
            return low + r


MAX_COEFFICIENT = 2**96 - 1


def rescale_up(coefficient, scale, target):
    while scale < target and abs(coefficient) * 10 <= MAX_COEFFICIENT:
        coefficient, scale = coefficient * 10, scale + 1
    return coefficient, scale


def ceiling_coefficient(coefficient, scale, target):
    """The least coefficient at `target` whose value is not below coefficient * 10**-scale,
    held to the 96-bit range (one past its top for a value above all of it)."""
    if scale <= target:
        c = coefficient * 10 ** (target - scale)
    else:
        c = -(-coefficient // 10 ** (scale - target))
    return max(-MAX_COEFFICIENT, min(c, MAX_COEFFICIENT + 1))


def decimal_span(low, high):
    """The common grid, the finer bound rounded inwards onto it; a pair narrower than one step
    of it is drawn on the finer grid."""
    (lc, ls), (hc, hs) = low, high
    assert Fraction(lc, 10**ls) < Fraction(hc, 10**hs)
    finer = max(ls, hs)
    scale = min(rescale_up(lc, ls, finer)[1], rescale_up(hc, hs, finer)[1])
    first, last = ceiling_coefficient(lc, ls, scale), ceiling_coefficient(hc, hs, scale) - 1
    if last < first:
        scale = finer
        first, last = ceiling_coefficient(lc, ls, scale), ceiling_coefficient(hc, hs, scale) - 1
    assert first <= last
    return (int_span(first, last + 1, 128), scale)


# Bounds of the mixed sampler: (kind, lows, highs); the longer list's surplus is ignored.
F32_LOWS, F32_HIGHS = [f32(-1.5), 0.0], [f32(2.25), f32(1e-30)]
BOUNDS = [
    ("i8", [-128, 5, -3, 99], [127, 6, 3], 32),
    ("i16", [-32768, 100], [16384, 101], 32),
    ("i32", [-(2**31), -10], [2**30, 10], 32),
    ("i64", [-(2**63), 0], [2**63 - 1, 3], 64),
    ("i128", [-(2**127), -5], [2**126, 5], 128),
]
BIG_LOWS = [-(2**64), 10**30, 0]
BIG_HIGHS = [1, 10**30 + 7, 2**200 + 12345]
F64_LOWS, F64_HIGHS = [-1e300, 0.1], [1e300, 0.3]
C64_LOWS, C64_HIGHS = [(0.0, -1.0)], [(1.0, f32(0.1))]
C128_LOWS, C128_HIGHS = [(-2.5, 1e10)], [(2.5, 1e11)]
SAMPLES = 12


def mixed_samples():
    gen = Generator(KEY)
    int_spans = [[int_span(lo, hi, bits) for lo, hi in zip(lows, highs)]
                 for _, lows, highs, bits in BOUNDS]
    f32_spans = [float_span(lo, hi, True) for lo, hi in zip(F32_LOWS, F32_HIGHS)]
    f64_spans = [float_span(lo, hi, False) for lo, hi in zip(F64_LOWS, F64_HIGHS)]
    c64_spans = [(float_span(lo[0], hi[0], True), float_span(lo[1], hi[1], True))
                 for lo, hi in zip(C64_LOWS, C64_HIGHS)]
    c128_spans = [(float_span(lo[0], hi[0], False), float_span(lo[1], hi[1], False))
                  for lo, hi in zip(C128_LOWS, C128_HIGHS)]
    samples = []
    for _ in range(SAMPLES):
        s = {}
        for (kind, *_), spans in zip(BOUNDS, int_spans):
            s[kind] = [int_draw(span, gen) for span in spans]
        s["i"] = [big_draw(lo, hi, gen) for lo, hi in zip(BIG_LOWS, BIG_HIGHS)]
        s["f32"] = [float_draw(span, gen) for span in f32_spans]
        s["f64"] = [float_draw(span, gen) for span in f64_spans]
        s["c64"] = [(float_draw(re, gen), float_draw(im, gen)) for re, im in c64_spans]
        s["c128"] = [(float_draw(re, gen), float_draw(im, gen)) for re, im in c128_spans]
        samples.append(s)
    return samples


# Decimal bounds as (signed coefficient, scale).
D_LOWS = [(0, 0), (0, 0), (-15, 1), (12345, 3), (-MAX_COEFFICIENT, 0)]
D_HIGHS = [(10, 0), (100, 2), (2, 0), (1235, 2), (5, 1)]


def decimal_samples():
    gen = Generator(KEY)
    spans = [decimal_span(lo, hi) for lo, hi in zip(D_LOWS, D_HIGHS)]
    return [[(int_draw(span, gen), scale) for span, scale in spans] for _ in range(SAMPLES)]


def cf(x, single):
    return x.hex() + ("F" if single else "")


def int_list(values, quote):
    return "{" + ", ".join(f'"{v}"' if quote else str(v) for v in values) + "}"


def cpp_int(v):
    # Literals that C++ parses as the intended signed value (the minimum needs a subtraction).
    return f"({v + 1} - 1)" if v in (-(2**31), -(2**63)) else str(v)


out = ["// Generated by sampler_reference.py (a plain-Python replay); do not edit.", ""]
out.append("inline const std::uint8_t kReplayKey[32] = {" + ", ".join(str(b) for b in KEY) + "};")
out.append("inline const int kReplaySamples = %d;" % SAMPLES)
out.append("")
out.append("// Bounds of the mixed-kind replay.")
for kind, lows, highs, _ in BOUNDS[:4]:
    ctype = {"i8": "std::int8_t", "i16": "std::int16_t", "i32": "std::int32_t",
             "i64": "std::int64_t"}[kind]
    out.append(f"inline const std::vector<{ctype}> k_{kind}_lows = {{{', '.join(map(cpp_int, lows))}}};")
    out.append(f"inline const std::vector<{ctype}> k_{kind}_highs = {{{', '.join(map(cpp_int, highs))}}};")
_, lows, highs, _ = BOUNDS[4]
out.append(f"inline const std::vector<const char*> k_i128_lows = {int_list(lows, True)};")
out.append(f"inline const std::vector<const char*> k_i128_highs = {int_list(highs, True)};")
out.append(f"inline const std::vector<const char*> k_i_lows = {int_list(BIG_LOWS, True)};")
out.append(f"inline const std::vector<const char*> k_i_highs = {int_list(BIG_HIGHS, True)};")
out.append("inline const std::vector<float> k_f32_lows = {" + ", ".join(cf(x, True) for x in F32_LOWS) + "};")
out.append("inline const std::vector<float> k_f32_highs = {" + ", ".join(cf(x, True) for x in F32_HIGHS) + "};")
out.append("inline const std::vector<double> k_f64_lows = {" + ", ".join(cf(x, False) for x in F64_LOWS) + "};")
out.append("inline const std::vector<double> k_f64_highs = {" + ", ".join(cf(x, False) for x in F64_HIGHS) + "};")
for name, values, single in (("c64_lows", C64_LOWS, True), ("c64_highs", C64_HIGHS, True),
                             ("c128_lows", C128_LOWS, False), ("c128_highs", C128_HIGHS, False)):
    ctype = "Complex32" if single else "Complex64"
    items = ", ".join("{" + cf(re, single) + ", " + cf(im, single) + "}" for re, im in values)
    out.append(f"inline const std::vector<{ctype}> k_{name} = {{{items}}};")
out.append("")
out.append("struct ReplaySample {")
out.append("  std::vector<long long> i8, i16, i32;")
out.append("  std::vector<const char*> i64, i128, i;")
out.append("  std::vector<float> f32;")
out.append("  std::vector<double> f64;")
out.append("  std::vector<Complex32> c64;")
out.append("  std::vector<Complex64> c128;")
out.append("};")
out.append("inline const ReplaySample kReplayMixed[] = {")
for s in mixed_samples():
    fields = [
        int_list(s["i8"], False), int_list(s["i16"], False), int_list(s["i32"], False),
        int_list(s["i64"], True), int_list(s["i128"], True), int_list(s["i"], True),
        "{" + ", ".join(cf(x, True) for x in s["f32"]) + "}",
        "{" + ", ".join(cf(x, False) for x in s["f64"]) + "}",
        "{" + ", ".join("{" + cf(a, True) + ", " + cf(b, True) + "}" for a, b in s["c64"]) + "}",
        "{" + ", ".join("{" + cf(a, False) + ", " + cf(b, False) + "}" for a, b in s["c128"]) + "}",
    ]
    out.append("    {" + ", ".join(fields) + "},")
out.append("};")
out.append("")
out.append("// Decimal bounds and draws as (signed coefficient, scale).")
out.append("struct ReplayDecimal { const char* coefficient; std::uint32_t scale; };")
out.append("inline const std::vector<ReplayDecimal> k_d_lows = {" +
           ", ".join(f'{{"{c}", {s}}}' for c, s in D_LOWS) + "};")
out.append("inline const std::vector<ReplayDecimal> k_d_highs = {" +
           ", ".join(f'{{"{c}", {s}}}' for c, s in D_HIGHS) + "};")
out.append(f"inline const ReplayDecimal kReplayDecimal[][{len(D_LOWS)}] = {{")
for row in decimal_samples():
    out.append("    {" + ", ".join(f'{{"{c}", {s}}}' for c, s in row) + "},")
out.append("};")
print("\n".join(out))
