// Arithmetic, rounding, conversions and text form of the 96-bit decimal, on fixed-width words.
#include "numeric_core/decimal.hpp"

#include <array>
#include <bit>
#include <cassert>
#include <cstddef>
#include <cstring>

#include "numeric_core/failure.hpp"

namespace swarmtuner {
namespace {

constexpr UInt128 max_coefficient = Decimal::max_coefficient;
constexpr std::uint32_t max_scale = Decimal::max_scale;

constexpr std::array<std::uint64_t, 20> pow10_u64 = [] {
  std::array<std::uint64_t, 20> table{};
  std::uint64_t p = 1;
  for (auto& entry : table) {
    entry = p;
    p *= 10;
  }
  return table;
}();
constexpr std::uint32_t max_pow10_step = 19;  // the largest power of ten in 64 bits

// "00" to "99", for writing digits two at a time.
constexpr std::array<char, 200> digit_pairs = [] {
  std::array<char, 200> table{};
  for (std::size_t k = 0; k < 100; ++k) {
    table[2 * k] = static_cast<char>('0' + k / 10);
    table[2 * k + 1] = static_cast<char>('0' + k % 10);
  }
  return table;
}();

// (high * 2^64 + low) / d and its remainder, for high < d, so that the quotient fits 64 bits.
// On x86-64 that is one divide instruction; elsewhere the compiler's 128-bit division. The
// instruction traps (SIGFPE) when the quotient does not fit, so the precondition is checked in
// debug builds; every caller keeps it by construction (a remainder below d, or a high word
// below 2^32 < 10^19).
inline std::uint64_t divide_wide(std::uint64_t high, std::uint64_t low, std::uint64_t d,
                                 std::uint64_t& remainder) noexcept {
  assert(d != 0 && high < d);
#if defined(__x86_64__)
  std::uint64_t quotient;
  __asm__("divq %[d]" : "=a"(quotient), "=d"(remainder) : [d] "r"(d), "a"(low), "d"(high));
  return quotient;
#else
  const UInt128 n = (UInt128{high} << 64) | low;
  remainder = static_cast<std::uint64_t>(n % d);
  return static_cast<std::uint64_t>(n / d);
#endif
}

// An unsigned 192-bit integer, least significant limb first. It holds every exact
// intermediate: a 96-bit coefficient times 10^28 stays below 2^190, and a product of two
// 96-bit coefficients below 2^192.
struct U192 {
  std::array<std::uint64_t, 3> limb{};

  static constexpr U192 from(UInt128 v) noexcept {
    return U192{{static_cast<std::uint64_t>(v), static_cast<std::uint64_t>(v >> 64), 0}};
  }

  // Exact product of two values below 2^96.
  static constexpr U192 product(UInt128 a, UInt128 b) noexcept {
    const std::uint64_t a0 = static_cast<std::uint64_t>(a);
    const std::uint64_t a1 = static_cast<std::uint64_t>(a >> 64);
    const std::uint64_t b0 = static_cast<std::uint64_t>(b);
    const std::uint64_t b1 = static_cast<std::uint64_t>(b >> 64);
    // a1 and b1 are below 2^32, so a1 * b1 < 2^64 and every column sum fits 128 bits.
    const UInt128 p00 = UInt128{a0} * b0;
    const UInt128 mid = UInt128{a0} * b1 + UInt128{a1} * b0 + (p00 >> 64);
    const UInt128 top = UInt128{a1} * b1 + (mid >> 64);
    return U192{{static_cast<std::uint64_t>(p00), static_cast<std::uint64_t>(mid),
                 static_cast<std::uint64_t>(top)}};
  }

  constexpr bool fits_coefficient() const noexcept {
    return limb[2] == 0 && to_u128() <= max_coefficient;
  }
  constexpr UInt128 to_u128() const noexcept { return (UInt128{limb[1]} << 64) | limb[0]; }

  constexpr int bit_width() const noexcept {
    for (std::size_t i = limb.size(); i-- > 0;) {
      if (limb[i] != 0) return static_cast<int>(64 * i + std::bit_width(limb[i]));
    }
    return 0;
  }

  // The callers' bounds keep the product below 2^192; the carry out is not kept.
  constexpr void mul_small(std::uint64_t m) noexcept {
    UInt128 carry = 0;
    for (auto& l : limb) {
      const UInt128 t = UInt128{l} * m + carry;
      l = static_cast<std::uint64_t>(t);
      carry = t >> 64;
    }
  }

  constexpr void mul_pow10(std::uint32_t exponent) noexcept {
    while (exponent > max_pow10_step) {
      mul_small(pow10_u64[max_pow10_step]);
      exponent -= max_pow10_step;
    }
    if (exponent > 0) mul_small(pow10_u64[exponent]);
  }

  // Divides in place by d > 0 and returns the remainder.
  std::uint64_t div_small(std::uint64_t d) noexcept {
    std::uint64_t rem = 0;
    for (std::size_t i = limb.size(); i-- > 0;) {
      // rem < d, so each step's quotient fits one limb.
      limb[i] = divide_wide(rem, limb[i], d, rem);
    }
    return rem;
  }

  constexpr void add(const U192& other) noexcept {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < limb.size(); ++i) {
      const UInt128 t = UInt128{limb[i]} + other.limb[i] + carry;
      limb[i] = static_cast<std::uint64_t>(t);
      carry = static_cast<std::uint64_t>(t >> 64);
    }
  }

  // Requires *this >= other.
  constexpr void sub(const U192& other) noexcept {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < limb.size(); ++i) {
      const std::uint64_t a = limb[i];
      const std::uint64_t b = other.limb[i];
      limb[i] = a - b - borrow;
      borrow = (a < b || (a == b && borrow != 0)) ? 1 : 0;
    }
  }

  friend constexpr std::strong_ordering operator<=>(const U192& a, const U192& b) noexcept {
    for (std::size_t i = a.limb.size(); i-- > 0;) {
      if (a.limb[i] != b.limb[i]) return a.limb[i] <=> b.limb[i];
    }
    return std::strong_ordering::equal;
  }
};

// Digits dropped from an exact magnitude: the most significant dropped digit, and whether
// any digit below it was non-zero. Together they decide a round-half-even exactly as the
// full remainder would.
struct DroppedDigits {
  std::uint64_t leading = 0;
  bool sticky = false;

  void drop(U192& m, std::uint32_t count) noexcept {
    while (count > 0) {
      const std::uint32_t step = count < max_pow10_step ? count : max_pow10_step;
      const std::uint64_t rem = m.div_small(pow10_u64[step]);
      const std::uint64_t below = pow10_u64[step - 1];
      const std::uint64_t top_digit = rem / below;
      sticky = sticky || leading != 0 || rem - top_digit * below != 0;
      leading = top_digit;
      count -= step;
    }
  }

  bool rounds_up(UInt128 truncated) const noexcept {
    return leading > 5 || (leading == 5 && (sticky || (truncated & 1) != 0));
  }
};

// Brings an exact magnitude at `scale` into range: at most 28 fractional digits and a 96-bit
// coefficient, dropping the fewest fractional digits for which the value rounded half to
// even from the exact magnitude fits. nullopt when it does not fit even at scale 0. A zero
// result never carries the sign. This is the general form, digit group by digit group;
// round_to_fit below takes the common cases in one division and must agree with it exactly.
[[gnu::noinline]] std::optional<Decimal> round_to_fit_general(U192 m, std::uint32_t scale,
                                                              bool negative) noexcept {
  DroppedDigits dropped;
  if (scale > max_scale) {
    dropped.drop(m, scale - max_scale);
    scale = max_scale;
  }
  if (!m.fits_coefficient()) {
    // m >= 2^(w-1) and 10^k <= 2^(w-97) for this k, so dropping k digits still leaves at
    // least 2^96: k never overshoots the number of digits that must go.
    const int width = m.bit_width();
    const auto k = static_cast<std::uint32_t>(((width - 97) * 1233) >> 12);  // log10(2)
    if (k > scale) return std::nullopt;
    dropped.drop(m, k);
    scale -= k;
  }
  for (;;) {
    while (!m.fits_coefficient()) {
      if (scale == 0) return std::nullopt;
      dropped.drop(m, 1);
      --scale;
    }
    UInt128 q = m.to_u128();
    if (dropped.rounds_up(q)) ++q;
    if (q <= max_coefficient) {
      return Decimal::from_parts(q, scale, negative && q != 0);
    }
    // The carry reached 2^96: one more digit goes, rounded again from the exact value
    // (the truncated magnitude and what was dropped below it).
    if (scale == 0) return std::nullopt;
    dropped.drop(m, 1);
    --scale;
  }
}

// m * 10^exponent for exponent <= 19, one wide product instead of a multiplication loop.
U192 times_pow10(UInt128 m, std::uint32_t exponent) noexcept {
  return U192::product(m, pow10_u64[exponent]);
}

// c * w for c below 2^96: two word products where U192::product takes four.
inline U192 times_word(UInt128 c, std::uint64_t w) noexcept {
  const UInt128 low = UInt128{static_cast<std::uint64_t>(c)} * w;
  const UInt128 high = UInt128{static_cast<std::uint64_t>(c >> 64)} * w + (low >> 64);
  return U192{{static_cast<std::uint64_t>(low), static_cast<std::uint64_t>(high),
               static_cast<std::uint64_t>(high >> 64)}};
}

// The number of decimal digits of x (0 for 0): the smallest k with x < 10^k, at most 20.
inline std::uint32_t decimal_digits(std::uint64_t x) noexcept {
  // bit_width * log10(2) is the digit count or one more than it; the table settles which.
  const auto t = static_cast<std::uint32_t>((std::bit_width(x) * 1233) >> 12);
  return t + (x >= pow10_u64[t] ? 1u : 0u);
}

// round_to_fit_general's result, computed directly where that is cheap. The fewest digits to
// drop is known in advance: the truncated quotient m / 10^k fits 96 bits exactly when
// m / 2^96 < 10^k, so k is the digit count of m / 2^96 (at least what the scale limit asks).
// One division by 10^k then gives the quotient and the whole dropped remainder, which decides
// the half-even rounding on its own. Where that count exceeds one 64-bit power of ten, the
// scale cannot give up that many digits, m / 2^96 needs more than 64 bits, or the rounding
// carries to 2^96, the general form answers.
inline std::optional<Decimal> round_to_fit(const U192& m, std::uint32_t scale,
                                           bool negative) noexcept {
  if ((m.limb[2] >> 32) == 0) [[likely]] {
    const std::uint64_t top = (m.limb[2] << 32) | (m.limb[1] >> 32);  // m / 2^96
    std::uint32_t k = decimal_digits(top);
    if (scale > max_scale && scale - max_scale > k) k = scale - max_scale;
    if (k == 0) {
      // Nothing to drop; an exact zero (the difference of equal values) has no sign.
      const UInt128 exact = m.to_u128();
      return Decimal::from_parts(exact, scale, negative && exact != 0);
    }
    if (k <= max_pow10_step && k <= scale) {
      const std::uint64_t d = pow10_u64[k];
      // m < 2^96 * 10^k, so m / 2^128 < d: each quotient word fits 64 bits.
      std::uint64_t rem;
      const std::uint64_t q1 = divide_wide(m.limb[2], m.limb[1], d, rem);
      const std::uint64_t q0 = divide_wide(rem, m.limb[0], d, rem);
      UInt128 q = (UInt128{q1} << 64) | q0;
      const std::uint64_t half = d / 2;
      if (rem > half || (rem == half && (q0 & 1) != 0)) ++q;
      if (q <= max_coefficient) return Decimal::from_parts(q, scale - k, negative && q != 0);
    }
  }
  return round_to_fit_general(m, scale, negative);
}

// A coefficient and scale that fit, as the roundings produce them.
struct Fitted {
  UInt128 coefficient;
  std::uint32_t scale;
};

// round_to_fit for a magnitude below 2^128 and a scale of at most 28 (a sum's), kept in
// registers. False where it does not answer (a rounding that carries to 2^96, or more digits
// to drop than the scale has); round_to_fit then does.
inline bool fit_sum(UInt128 m, std::uint32_t scale, Fitted& out) noexcept {
  // m / 2^96 < 2^32 has at most 10 digits, so one word's power of ten divides.
  const std::uint32_t k = decimal_digits(static_cast<std::uint64_t>(m >> 96));
  if (k == 0) {
    out = {m, scale};
    return true;
  }
  if (k > scale) return false;
  const std::uint64_t d = pow10_u64[k];
  std::uint64_t rem;
  const std::uint64_t q1 = divide_wide(0, static_cast<std::uint64_t>(m >> 64), d, rem);
  const std::uint64_t q0 = divide_wide(rem, static_cast<std::uint64_t>(m), d, rem);
  UInt128 q = (UInt128{q1} << 64) | q0;
  const std::uint64_t half = d / 2;
  if (rem > half || (rem == half && (q0 & 1) != 0)) ++q;
  if (q > max_coefficient) return false;
  out = {q, scale - k};
  return true;
}

// c * 10^by (by <= 28) into `out` when that fits 128 bits; false otherwise.
inline bool raise_u128(UInt128 c, std::uint32_t by, UInt128& out) noexcept {
  const auto times = [](UInt128 v, std::uint64_t p, UInt128& product) {
    const UInt128 low = UInt128{static_cast<std::uint64_t>(v)} * p;
    const UInt128 high = UInt128{static_cast<std::uint64_t>(v >> 64)} * p + (low >> 64);
    product = (high << 64) | static_cast<std::uint64_t>(low);
    return (high >> 64) == 0;
  };
  if (by <= max_pow10_step) [[likely]]
    return times(c, pow10_u64[by], out);
  // Two steps (a value pinned to a short bound against one at full scale); a value past
  // 2^128 after the first only grows in the second.
  UInt128 partial;
  return times(c, pow10_u64[max_pow10_step], partial) &&
         times(partial, pow10_u64[by - max_pow10_step], out);
}

// A coefficient brought up to a larger scale, exactly: the general path's rescaling.
U192 rescale_up(UInt128 coefficient, std::uint32_t by) noexcept {
  if (by <= max_pow10_step) return times_pow10(coefficient, by);
  U192 m = U192::from(coefficient);
  m.mul_pow10(by);
  return m;
}

// Powers of ten up to 10^28 (below 2^94), for rescaling by more than one word's power.
constexpr std::array<UInt128, max_scale + 1> pow10_u128 = [] {
  std::array<UInt128, max_scale + 1> table{};
  UInt128 p = 1;
  for (auto& entry : table) {
    entry = p;
    p *= 10;
  }
  return table;
}();

// A coefficient times 10^by for by <= max_scale, exactly (below 2^190).
inline U192 scaled_up(UInt128 coefficient, std::uint32_t by) noexcept {
  if (by <= max_pow10_step) [[likely]]
    return times_word(coefficient, pow10_u64[by]);
  return U192::product(coefficient, pow10_u128[by]);
}

// The magnitudes of a sum, a difference or a comparison brought to the larger of the two
// scales, exactly.
struct CommonScale {
  U192 a;
  U192 b;
  std::uint32_t scale;
};
inline CommonScale to_common_scale(UInt128 a, std::uint32_t sa, UInt128 b,
                                   std::uint32_t sb) noexcept {
  if (sa >= sb) return {U192::from(a), scaled_up(b, sa - sb), sa};
  return {scaled_up(a, sb - sa), U192::from(b), sb};
}

// The sum in 192 bits, for what the 128-bit path of Decimal::wide_sum leaves.
[[gnu::noinline]] std::optional<Decimal> aligned_sum(Decimal a, bool a_negative, Decimal b,
                                                     bool b_negative) noexcept {
  CommonScale m = to_common_scale(a.coefficient(), a.scale(), b.coefficient(), b.scale());
  if (a_negative == b_negative) {
    m.a.add(m.b);
    return round_to_fit(m.a, m.scale, a_negative);
  }
  if (m.a >= m.b) {
    m.a.sub(m.b);
    return round_to_fit(m.a, m.scale, a_negative);
  }
  m.b.sub(m.a);
  return round_to_fit(m.b, m.scale, b_negative);
}

}  // namespace

std::optional<Decimal> Decimal::from_parts(UInt128 coefficient, std::uint32_t scale,
                                           bool negative) noexcept {
  if (coefficient > max_coefficient || scale > max_scale) return std::nullopt;
  return make(coefficient, scale, negative);
}

std::optional<Decimal> Decimal::from_signed_coefficient(Int128 coefficient,
                                                        std::uint32_t scale) noexcept {
  const bool negative = coefficient < 0;
  // Test the range before negating: the most negative Int128 has no positive counterpart.
  if (negative ? coefficient < -static_cast<Int128>(max_coefficient)
               : coefficient > static_cast<Int128>(max_coefficient)) {
    return std::nullopt;
  }
  return from_parts(static_cast<UInt128>(negative ? -coefficient : coefficient), scale, negative);
}

Decimal Decimal::from_i64(std::int64_t value) noexcept {
  const bool negative = value < 0;
  // Negate in unsigned arithmetic so that INT64_MIN is safe.
  const std::uint64_t magnitude =
      negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
  return make(magnitude, 0, negative);
}

Checked<Decimal> Decimal::from_f64(double value) noexcept {
  const auto raw = std::bit_cast<std::uint64_t>(value);
  const bool negative = (raw >> 63) != 0;
  const auto biased = static_cast<int>((raw >> 52) & 0x7FF);
  const std::uint64_t fraction = raw & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0x7FF) return Status::decimal_factor;  // NaN and the infinities
  if (biased == 0 && fraction == 0) return make(0, 0, negative);
  // 2^96 and beyond have an integer part wider than the coefficient. The digit trading below
  // would otherwise squeeze 2^96 itself into 2^96 - 6 instead of refusing it.
  if (biased - 1023 >= 96) return Status::decimal_factor;

  // value = bits * 2^e2 = bits * 10^e10 * 5^e5 with e10 = e2 and e5 = -e2. The loops trade
  // powers of five for powers of ten while keeping bits within 96 bits; where a factor does
  // not fit, the lowest binary digit (or the remainder of a division by five) is given up.
  UInt128 bits = biased == 0 ? fraction : (fraction | (std::uint64_t{1} << 52));
  const int e2 = biased == 0 ? -1074 : biased - 1075;
  int e5 = -e2;
  int e10 = e2;
  constexpr UInt128 fives_limit = max_coefficient / 5;  // bits * 5 fits while bits <= this
  constexpr UInt128 half_range = UInt128{1} << 95;
  while (e5 > 0) {
    if ((bits & 1) == 0) {
      // Halving an even number is exact; take all trailing zero bits in one step.
      // A zero low word counts as 64 trailing zeros, which is still exact.
      const int zeros = std::countr_zero(static_cast<std::uint64_t>(bits));
      const int shift = zeros < e5 ? zeros : e5;
      bits >>= shift;
      e10 += shift;
      e5 -= shift;
      continue;
    }
    if (bits <= fives_limit) {
      bits *= 5;
    } else {
      bits >>= 1;
      ++e10;
    }
    --e5;
  }
  while (e5 < 0) {
    if (bits < half_range) {
      bits <<= 1;
      --e10;
    } else {
      bits /= 5;
    }
    ++e5;
  }
  while (e10 > 0) {
    if (bits > max_coefficient / 10)
      return Status::decimal_factor;  // the integer part needs > 96 bits
    bits *= 10;
    --e10;
  }
  // Each dropped digit rounds half up on that digit alone; a value that rounds to zero on the
  // way is zero with scale 0.
  while (e10 < -static_cast<int>(max_scale)) {
    const auto digit = static_cast<std::uint32_t>(bits % 10);
    bits /= 10;
    ++e10;
    if (digit >= 5) ++bits;
    if (bits == 0) {
      e10 = 0;
      break;
    }
  }
  // A binary64 holds about 16 significant digits: keep the mantissa below 2^52, so that
  // 0.2 reads 0.2 and not the exact expansion of its binary value.
  constexpr UInt128 mantissa_limit = UInt128{1} << 52;
  while (e10 < 0 && bits >= mantissa_limit) {
    const auto digit = static_cast<std::uint32_t>(bits % 10);
    bits /= 10;
    ++e10;
    if (digit >= 5) ++bits;
  }
  while (e10 < 0 && bits % 10 == 0) {
    bits /= 10;
    ++e10;
  }
  return make(bits, static_cast<std::uint32_t>(-e10), negative);
}

Checked<Decimal> Decimal::parse(std::string_view text) noexcept {
  constexpr Status empty = Status::decimal_empty;
  constexpr Status no_digits = Status::decimal_no_digits;
  constexpr Status two_points = Status::decimal_two_points;
  constexpr Status lead = Status::decimal_lead;
  constexpr Status unknown = Status::decimal_unknown;
  constexpr Status too_many_digits = Status::decimal_too_many_digits;
  constexpr Status rounding_overflow = Status::decimal_rounding_overflow;
  const auto refuse = [](Status failure) { return Checked<Decimal>(failure); };
  const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };

  if (text.empty()) return refuse(empty);
  std::size_t i = 0;
  bool negative = false;
  if (text[0] == '+' || text[0] == '-') {
    negative = text[0] == '-';
    i = 1;
  }
  UInt128 coefficient = 0;
  std::uint32_t scale = 0;
  bool point = false;
  bool any_digit = false;
  // In the fractional part the coefficient is full once it has 28 digits or no further
  // digit could fit; then the next character decides the rounding and nothing after it
  // changes the value.
  const auto full = [&] { return scale == max_scale || coefficient > max_coefficient / 10; };
  std::optional<char> deciding;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (point && full()) {
      deciding = c;
      break;
    }
    if (is_digit(c)) {
      const auto digit = static_cast<unsigned>(c - '0');
      const UInt128 next = coefficient * 10 + digit;
      if (next > max_coefficient) {
        if (!point) return refuse(too_many_digits);
        deciding = c;  // this digit no longer fits: it rounds what is there
        break;
      }
      coefficient = next;
      if (point) ++scale;
      any_digit = true;
    } else if (c == '.') {
      if (point) return refuse(two_points);
      point = true;
    } else if (c == '_') {
      if (!any_digit) return refuse(lead);
    } else {
      return refuse(unknown);
    }
  }
  if (!any_digit) return refuse(no_digits);

  if (deciding) {
    // Past the deciding character the text is still checked, so that a bad character is
    // never hidden by a long fraction; the digits themselves no longer count.
    const char c = *deciding;
    if (c == '.') return refuse(two_points);
    if (c != '_' && !is_digit(c)) return refuse(unknown);
    if (is_digit(c) && c >= '5') {
      ++coefficient;
      if (coefficient > max_coefficient) {
        if (scale == 0) return refuse(rounding_overflow);
        // Only 2^96 itself can get here: one digit fewer, rounded half up.
        coefficient = ((UInt128{1} << 96) + 5) / 10;
        --scale;
      }
    }
    for (++i; i < text.size(); ++i) {
      const char rest = text[i];
      if (rest == '.') return refuse(two_points);
      if (rest != '_' && !is_digit(rest)) return refuse(unknown);
    }
  }
  return make(coefficient, scale, negative);
}

namespace {

// Two, four and eight digits of a value below 10^2, 10^4, 10^8, zero-padded, at p. Each step
// splits in 32-bit arithmetic, which the compiler turns into a multiplication.
inline void write_2_digits(char* p, std::uint32_t v) noexcept {
  std::memcpy(p, &digit_pairs[2 * v], 2);
}
inline void write_4_digits(char* p, std::uint32_t v) noexcept {
  write_2_digits(p, v / 100);
  write_2_digits(p + 2, v % 100);
}
inline void write_8_digits(char* p, std::uint32_t v) noexcept {
  write_4_digits(p, v / 10'000);
  write_4_digits(p + 4, v % 10'000);
}

}  // namespace

std::size_t Decimal::write_text(std::span<char, max_text_length> out) const noexcept {
  // All 29 digit places of the coefficient (2^96 - 1 has 29 digits), zero-padded, written in
  // fixed groups without a loop: c = high * 10^19 + low, high < 2^32 has 10 digits and low 19.
  std::array<char, 29> digits;
  const UInt128 c = coefficient();
  constexpr std::uint64_t ten8 = pow10_u64[8];
  constexpr std::uint64_t ten16 = pow10_u64[16];
  constexpr std::uint64_t ten19 = pow10_u64[19];
  std::uint64_t low;
  // c < 2^96, so its high word is below 2^32 < 10^19 and the quotient fits one word.
  const std::uint64_t high =
      divide_wide(static_cast<std::uint64_t>(c >> 64), static_cast<std::uint64_t>(c), ten19, low);
  write_2_digits(&digits[0], static_cast<std::uint32_t>(high / ten8));
  write_8_digits(&digits[2], static_cast<std::uint32_t>(high % ten8));
  const auto top3 = static_cast<std::uint32_t>(low / ten16);
  const std::uint64_t rest = low % ten16;
  digits[10] = static_cast<char>('0' + top3 / 100);
  write_2_digits(&digits[11], top3 % 100);
  write_8_digits(&digits[13], static_cast<std::uint32_t>(rest / ten8));
  write_8_digits(&digits[21], static_cast<std::uint32_t>(rest % ten8));

  // The significant digits, and at least one digit before the point.
  const std::size_t significant = high != 0 ? 19 + decimal_digits(high) : decimal_digits(low);
  const std::uint32_t s = scale();
  const std::size_t n = significant > s ? significant : s + 1;
  const char* const first = digits.data() + digits.size() - n;

  std::size_t length = 0;
  if (is_negative()) out[length++] = '-';
  std::memcpy(&out[length], first, n - s);
  length += n - s;
  if (s != 0) {
    out[length++] = '.';
    std::memcpy(&out[length], first + (n - s), s);
    length += s;
  }
  return length;
}

std::string Decimal::to_string() const {
  std::array<char, max_text_length> text;
  return std::string(text.data(), write_text(text));
}

Decimal Decimal::wide_sum_or_no_fit(Decimal a, bool a_negative, Decimal b,
                                    bool b_negative) noexcept {
  // The operand with the larger scale keeps its coefficient; the other is raised to that scale.
  const bool a_kept = a.scale() >= b.scale();
  const Decimal& kept = a_kept ? a : b;
  const Decimal& raised = a_kept ? b : a;
  const std::uint32_t scale = kept.scale();
  UInt128 y;
  if (raise_u128(raised.coefficient(), scale - raised.scale(), y)) [[likely]] {
    // Both magnitudes fit 128 bits: add or subtract there (unless the sum carries out) and
    // round in registers. A difference takes the sign of the larger magnitude.
    const UInt128 x = kept.coefficient();
    const bool kept_negative = a_kept ? a_negative : b_negative;
    const bool raised_negative = a_kept ? b_negative : a_negative;
    UInt128 m = x + y;
    bool negative = kept_negative;
    bool carried = m < x;
    if (kept_negative != raised_negative) {
      carried = false;
      m = x >= y ? x - y : y - x;
      negative = x >= y ? kept_negative : raised_negative;
    }
    Fitted f;
    if (!carried && fit_sum(m, scale, f)) [[likely]] {
      return make(f.coefficient, f.scale, negative && f.coefficient != 0);
    }
  }
  return aligned_sum(a, a_negative, b, b_negative).value_or(no_fit());
}

Decimal Decimal::rounded_product_or_no_fit(Decimal a, Decimal b, std::uint32_t scale,
                                           bool negative) noexcept {
  // A factor below 2^64 (a small constant such as a search's weights) needs two word products.
  U192 m;
  if (b.hi_ == 0) {
    m = times_word(a.coefficient(), b.lo_);
  } else if (a.hi_ == 0) {
    m = times_word(b.coefficient(), a.lo_);
  } else {
    m = U192::product(a.coefficient(), b.coefficient());
  }
  return round_to_fit(m, scale, negative).value_or(no_fit());
}

std::weak_ordering Decimal::compare_magnitudes(const Decimal& a, const Decimal& b) noexcept {
  const CommonScale m = to_common_scale(a.coefficient(), a.scale(), b.coefficient(), b.scale());
  return m.a <=> m.b;
}

namespace decimal_general {

std::optional<Decimal> sum(Decimal a, bool a_negative, Decimal b, bool b_negative) noexcept {
  const std::uint32_t sa = a.scale();
  const std::uint32_t sb = b.scale();
  const std::uint32_t scale = sa > sb ? sa : sb;
  U192 ma = rescale_up(a.coefficient(), scale - sa);
  U192 mb = rescale_up(b.coefficient(), scale - sb);
  if (a_negative == b_negative) {
    ma.add(mb);
    return round_to_fit_general(ma, scale, a_negative);
  }
  if (ma >= mb) {
    ma.sub(mb);
    return round_to_fit_general(ma, scale, a_negative);
  }
  mb.sub(ma);
  return round_to_fit_general(mb, scale, b_negative);
}

std::optional<Decimal> product(Decimal a, Decimal b) noexcept {
  return round_to_fit_general(U192::product(a.coefficient(), b.coefficient()),
                              a.scale() + b.scale(), a.is_negative() != b.is_negative());
}

std::weak_ordering compare_magnitudes(const Decimal& a, const Decimal& b) noexcept {
  const std::uint32_t sa = a.scale();
  const std::uint32_t sb = b.scale();
  if (sa < sb) return rescale_up(a.coefficient(), sb - sa) <=> U192::from(b.coefficient());
  return U192::from(a.coefficient()) <=> rescale_up(b.coefficient(), sa - sb);
}

}  // namespace decimal_general

Decimal Decimal::rescaled_up(std::uint32_t target_scale) const noexcept {
  if (target_scale > max_scale) target_scale = max_scale;
  UInt128 c = coefficient();
  std::uint32_t s = scale();
  while (s < target_scale && c <= max_coefficient / 10) {
    c *= 10;
    ++s;
  }
  return make(c, s, is_negative());
}

Decimal Decimal::rescaled_down(std::uint32_t target_scale) const noexcept {
  std::uint32_t s = scale();
  if (target_scale >= s) return *this;
  U192 m = U192::from(coefficient());
  DroppedDigits dropped;
  dropped.drop(m, s - target_scale);
  // Half away from zero on the magnitude: only the leading dropped digit matters. The
  // result stays below 2^96 because the division took at least one digit away.
  const UInt128 c = m.to_u128() + (dropped.leading >= 5 ? 1 : 0);
  return make(c, target_scale, is_negative());
}

}  // namespace swarmtuner
