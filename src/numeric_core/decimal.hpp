// The 96-bit decimal of kind d: sign, scale 0..28, 96-bit coefficient, checked arithmetic.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

#include "numeric_core/element_kind.hpp"
#include "numeric_core/failure.hpp"

namespace swarmtuner {

namespace decimal_detail {
// floor(log2(10^g)) for g = 0..28: 2^t[g] <= 10^g < 2^(t[g] + 1).
inline constexpr std::array<int, 29> pow10_floor_log2 = [] {
  std::array<int, 29> table{};
  UInt128 p = 1;
  for (auto& entry : table) {
    for (UInt128 rest = p >> 1; rest != 0; rest >>= 1) ++entry;
    p *= 10;
  }
  return table;
}();
}  // namespace decimal_detail

// Value = (-1)^sign * coefficient * 10^-scale. Different (coefficient, scale) pairs may denote
// the same number (1.0 and 1.00); a zero may carry the sign bit and still equals zero.
// Trivially copyable, 16 bytes, never allocates.
class Decimal {
 public:
  static constexpr std::uint32_t max_scale = 28;
  static constexpr UInt128 max_coefficient = (UInt128{1} << 96) - 1;

  // Zero with scale 0 and no sign.
  constexpr Decimal() noexcept = default;

  // nullopt when coefficient > max_coefficient or scale > max_scale.
  [[nodiscard]] static std::optional<Decimal> from_parts(UInt128 coefficient, std::uint32_t scale,
                                                         bool negative) noexcept;
  // Signed coefficient (|c| <= max_coefficient) at the given scale; nullopt when out of range.
  [[nodiscard]] static std::optional<Decimal> from_signed_coefficient(Int128 coefficient,
                                                                      std::uint32_t scale) noexcept;
  static Decimal from_i64(std::int64_t value) noexcept;

  // Binary64 to decimal. Status::decimal_factor for NaN, infinities and values whose integer
  // part does not fit 96 bits (every magnitude of 2^96 or more). 0.2 gives 0.2; -0.0 gives a zero
  // with the sign bit. At most 28 fractional digits and a mantissa below 2^52 whenever there is a
  // fraction; a value too small for 28 fractional digits gives zero at scale 0, keeping the float's
  // sign bit.
  static Checked<Decimal> from_f64(double value) noexcept;

  // The text parser used for Python values: optional sign, digits, at most one point,
  // underscores after the first digit. A text it refuses gives the status of the first fault
  // found (one of the decimal text statuses). Once the fraction has 28 digits, or no further
  // digit fits 96 bits, the next character decides the rounding (a digit of 5 or more raises
  // the coefficient by one, an underscore leaves it) and later digits and underscores are
  // checked but ignored; a point there is a second point. A sign bit is kept on a zero ("-0").
  static Checked<Decimal> parse(std::string_view text) noexcept;

  UInt128 coefficient() const noexcept { return (UInt128{hi_} << 64) | lo_; }
  std::uint32_t scale() const noexcept { return (flags_ >> scale_shift) & 0xFFu; }
  bool is_negative() const noexcept { return (flags_ & sign_bit) != 0; }  // also for a zero
  bool is_zero() const noexcept { return lo_ == 0 && hi_ == 0; }
  // The coefficient with the sign applied (a negative zero gives 0).
  Int128 signed_coefficient() const noexcept {
    const auto magnitude = static_cast<Int128>(coefficient());
    return is_negative() ? -magnitude : magnitude;
  }

  // Plain positional text with all digits of the scale: coefficient 250, scale 2 reads "2.50";
  // a leading '-' when the sign bit is set; never an exponent.
  std::string to_string() const;
  // The same text written into `out`, without allocating; returns its length. A sign, 29
  // digits and a point are the most it takes.
  static constexpr std::size_t max_text_length = 31;
  std::size_t write_text(std::span<char, max_text_length> out) const noexcept;

  // Exact result, then fractional digits dropped with round-half-even until it fits. The
  // operation's overflow status (decimal_addition, _subtraction, _multiplication) when it cannot
  // fit even with no fractional digits. The common cases (operands at one scale, small
  // coefficients) are handled here inline; the rest out of line.
  static Checked<Decimal> checked_add(Decimal a, Decimal b) noexcept {
    if (a.is_zero()) return b;
    if (b.is_zero()) return a;
    return or_status(signed_sum(a, a.is_negative(), b, b.is_negative()), Status::decimal_addition);
  }
  static Checked<Decimal> checked_sub(Decimal a, Decimal b) noexcept {
    if (a.is_zero()) return b.is_zero() ? b : -b;
    if (b.is_zero()) return a;
    return or_status(signed_sum(a, a.is_negative(), b, !b.is_negative()),
                     Status::decimal_subtraction);
  }
  static Checked<Decimal> checked_mul(Decimal a, Decimal b) noexcept {
    if (a.is_zero() || b.is_zero()) return Decimal{};
    const bool negative = a.is_negative() != b.is_negative();
    const std::uint32_t scale = a.scale() + b.scale();
    // One coefficient below 2^64 (a search's weights, a short value): two word products give
    // the exact product, which often fits 96 bits and then needs no rounding.
    const bool b_is_word = b.hi_ == 0;
    const Decimal& wide = b_is_word ? a : b;
    const Decimal& word = b_is_word ? b : a;
    if (word.hi_ == 0 && scale <= max_scale) {
      const UInt128 low = UInt128{wide.lo_} * word.lo_;
      const UInt128 high = UInt128{wide.hi_} * word.lo_ + (low >> 64);
      if ((high >> 32) == 0) {
        return make((high << 64) | static_cast<std::uint64_t>(low), scale, negative);
      }
    }
    return or_status(rounded_product(a, b, scale, negative), Status::decimal_multiplication);
  }

  // Sign flip: a zero becomes negative zero and back.
  Decimal operator-() const noexcept {
    Decimal flipped = *this;
    flipped.flags_ ^= sign_bit;
    return flipped;
  }

  // Numeric comparison: scale and the sign of a zero do not matter.
  friend std::weak_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept {
    const bool a_zero = a.is_zero();
    const bool b_zero = b.is_zero();
    if (a_zero && b_zero) return std::weak_ordering::equivalent;
    // The sign of a zero does not count; a non-zero value's sign decides against a zero or
    // against a value of the other sign.
    const bool a_negative = !a_zero && a.is_negative();
    const bool b_negative = !b_zero && b.is_negative();
    if (a_negative != b_negative) {
      return a_negative ? std::weak_ordering::less : std::weak_ordering::greater;
    }
    if (a.scale() == b.scale()) {
      const UInt128 ca = a.coefficient();
      const UInt128 cb = b.coefficient();
      return a_negative ? cb <=> ca : ca <=> cb;
    }
    const std::weak_ordering magnitudes =
        a_zero || b_zero ? (a_zero ? std::weak_ordering::less : std::weak_ordering::greater)
                         : magnitudes_apart(a, b);
    return a_negative ? 0 <=> magnitudes : magnitudes;
  }
  friend bool operator==(const Decimal& a, const Decimal& b) noexcept { return (a <=> b) == 0; }

  // The 128 bits of the representation, for hashing: the low coefficient word, then the high
  // coefficient bits with the scale and the sign above them. Identical decimals agree in both.
  std::uint64_t raw_low() const noexcept { return lo_; }
  std::uint64_t raw_high() const noexcept { return (std::uint64_t{flags_} << 32) | hi_; }

  // Same coefficient, scale and sign bit (1.0 and 1.00 are equal but not identical).
  bool identical(const Decimal& other) const noexcept {
    return lo_ == other.lo_ && hi_ == other.hi_ && flags_ == other.flags_;
  }

  // Multiplies the coefficient by 10 per step towards `target_scale` (> scale(); capped at
  // max_scale) and stops at the last step whose coefficient still fits 96 bits, so a large
  // value may stop short. The value and the sign bit are kept.
  Decimal rescaled_up(std::uint32_t target_scale) const noexcept;
  // Divides the coefficient by 10 per step down to `target_scale` (< scale(); otherwise the
  // value comes back unchanged), rounding half away from zero; the sign bit is kept.
  Decimal rescaled_down(std::uint32_t target_scale) const noexcept;

 private:
  static constexpr std::uint32_t scale_shift = 16;
  static constexpr std::uint32_t sign_bit = 1u << 31;

  // The helpers below answer nullopt for a result that does not fit; the public operations turn
  // that into their own status.
  static Checked<Decimal> or_status(std::optional<Decimal> result, Status overflow) noexcept {
    if (result) return *result;
    return overflow;
  }

  // Sum of two signed magnitudes, rounded into range.
  static std::optional<Decimal> signed_sum(Decimal a, bool a_negative, Decimal b,
                                           bool b_negative) noexcept {
    const std::uint32_t scale = a.scale();
    if (scale != b.scale()) return wide_sum(a, a_negative, b, b_negative);
    // Both below 2^96, so the sum fits 128 bits and needs no wide arithmetic.
    const UInt128 ca = a.coefficient();
    const UInt128 cb = b.coefficient();
    if (a_negative == b_negative) {
      if (ca + cb <= max_coefficient) return make(ca + cb, scale, a_negative);
      return wide_sum(a, a_negative, b, b_negative);
    }
    if (ca >= cb) return make(ca - cb, scale, a_negative && ca != cb);
    return make(cb - ca, scale, b_negative);
  }

  // The out-of-line cases of the arithmetic and the comparison. wide_sum brings both
  // magnitudes to the larger scale in 192 bits, adds or subtracts them there and rounds.
  // Both answer a plain Decimal, which comes back in two registers where an optional would go
  // through memory; a result that does not fit is marked by flags no decimal has.
  static std::optional<Decimal> wide_sum(Decimal a, bool a_negative, Decimal b,
                                         bool b_negative) noexcept {
    return unless_no_fit(wide_sum_or_no_fit(a, a_negative, b, b_negative));
  }
  static std::optional<Decimal> rounded_product(Decimal a, Decimal b, std::uint32_t scale,
                                                bool negative) noexcept {
    return unless_no_fit(rounded_product_or_no_fit(a, b, scale, negative));
  }
  static Decimal wide_sum_or_no_fit(Decimal a, bool a_negative, Decimal b,
                                    bool b_negative) noexcept;
  static Decimal rounded_product_or_no_fit(Decimal a, Decimal b, std::uint32_t scale,
                                           bool negative) noexcept;
  static constexpr std::uint32_t no_fit_flags = 1;  // the low flag bits are otherwise zero
  static Decimal no_fit() noexcept {
    Decimal d;
    d.flags_ = no_fit_flags;
    return d;
  }
  static std::optional<Decimal> unless_no_fit(Decimal result) noexcept {
    if (result.flags_ == no_fit_flags) [[unlikely]]
      return std::nullopt;
    return result;
  }
  // Coefficients compared at a common scale; the scales differ.
  static std::weak_ordering compare_magnitudes(const Decimal& a, const Decimal& b) noexcept;

  // The number of significant bits of the coefficient.
  int bit_width() const noexcept {
    return static_cast<int>(hi_ != 0 ? 64 + std::bit_width(hi_) : std::bit_width(lo_));
  }
  // The magnitudes of two non-zero decimals of different scales. The bit widths alone decide
  // when they are far enough apart: a coefficient of width w lies in [2^(w-1), 2^w), and a gap
  // of g digits scales by 10^g, which lies in [2^t, 2^(t+1)) for t = floor(log2(10^g)). Only
  // magnitudes within about a factor of four of each other need the exact comparison.
  static std::weak_ordering magnitudes_apart(const Decimal& a, const Decimal& b) noexcept {
    const int wa = a.bit_width();
    const int wb = b.bit_width();
    const std::uint32_t sa = a.scale();
    const std::uint32_t sb = b.scale();
    if (sa > sb) {
      // a * 10^sa against b * 10^sa = b * 10^(sa - sb), with the powers in [2^t, 2^(t+1)).
      const int t = decimal_detail::pow10_floor_log2[sa - sb];
      if (wa <= wb - 1 + t) return std::weak_ordering::less;
      if (wb + t + 1 <= wa - 1) return std::weak_ordering::greater;
    } else {
      const int t = decimal_detail::pow10_floor_log2[sb - sa];
      if (wa + t + 1 <= wb - 1) return std::weak_ordering::less;
      if (wb <= wa - 1 + t) return std::weak_ordering::greater;
    }
    return compare_magnitudes(a, b);
  }

  // Callers guarantee coefficient <= max_coefficient and scale <= max_scale.
  static Decimal make(UInt128 coefficient, std::uint32_t scale, bool negative) noexcept {
    Decimal d;
    d.lo_ = static_cast<std::uint64_t>(coefficient);
    d.hi_ = static_cast<std::uint32_t>(coefficient >> 64);
    d.flags_ = (scale << scale_shift) | (negative ? sign_bit : 0u);
    return d;
  }

  // Coefficient bits 0..63 in lo_, 64..95 in hi_; flags_ holds the scale in bits 16..23 and
  // the sign in bit 31, leaving the rest zero.
  std::uint64_t lo_ = 0;
  std::uint32_t hi_ = 0;
  std::uint32_t flags_ = 0;
};

// The general forms of the out-of-line arithmetic: digit groups dropped one at a time, every
// rescaling by a multiplication loop. The operations above take shortcuts in the common cases
// and must give bit-identical results (coefficient, scale, sign); these stay as their
// reference, which the tests compare them with, and as the path for the rare cases.
namespace decimal_general {
// The sum of two signed magnitudes (signs given apart from the operands' own), rounded into
// range; nullopt when it does not fit.
std::optional<Decimal> sum(Decimal a, bool a_negative, Decimal b, bool b_negative) noexcept;
// The product at scale a.scale() + b.scale(), rounded into range; nullopt when it does not fit.
std::optional<Decimal> product(Decimal a, Decimal b) noexcept;
// The coefficients compared at a common scale.
std::weak_ordering compare_magnitudes(const Decimal& a, const Decimal& b) noexcept;
}  // namespace decimal_general

static_assert(sizeof(Decimal) == 16);
static_assert(std::is_trivially_copyable_v<Decimal>);

}  // namespace swarmtuner
