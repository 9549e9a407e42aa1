// The 96-bit decimal of kind "d": sign, scale 0..28 and a 96-bit coefficient, with checked arithmetic.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "prelude/element_kind.hpp"

namespace swarmtuner {

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
  static std::optional<Decimal> from_parts(UInt128 coefficient, std::uint32_t scale,
                                           bool negative) noexcept;
  // Signed coefficient (|c| <= max_coefficient) at the given scale; nullopt when out of range.
  static std::optional<Decimal> from_signed_coefficient(Int128 coefficient,
                                                        std::uint32_t scale) noexcept;
  static Decimal from_i64(std::int64_t value) noexcept;

  // Binary64 to decimal. nullopt for NaN, infinities and values whose integer part does not
  // fit 96 bits. 0.2 gives 0.2; -0.0 gives a zero with the sign bit.
  static std::optional<Decimal> from_f64(double value) noexcept;

  // The text parser used for Python values: optional sign, digits, at most one point,
  // underscores after the first digit (see DecimalParseResult).
  static struct DecimalParseResult parse(std::string_view text) noexcept;

  UInt128 coefficient() const noexcept;
  std::uint32_t scale() const noexcept;
  bool is_negative() const noexcept;  // the sign bit, also for a zero
  bool is_zero() const noexcept;
  // The coefficient with the sign applied (a negative zero gives 0).
  Int128 signed_coefficient() const noexcept;

  // Plain positional text with all digits of the scale: coefficient 250, scale 2 reads "2.50";
  // a leading '-' when the sign bit is set; never an exponent.
  std::string to_string() const;

  // Exact result, then fractional digits dropped with round-half-even until it fits.
  // nullopt when it cannot fit even with no fractional digits.
  static std::optional<Decimal> checked_add(Decimal a, Decimal b) noexcept;
  static std::optional<Decimal> checked_sub(Decimal a, Decimal b) noexcept;
  static std::optional<Decimal> checked_mul(Decimal a, Decimal b) noexcept;

  // Sign flip: a zero becomes negative zero and back.
  Decimal operator-() const noexcept;

  // Numeric comparison: scale and the sign of a zero do not matter.
  friend std::weak_ordering operator<=>(const Decimal& a, const Decimal& b) noexcept;
  friend bool operator==(const Decimal& a, const Decimal& b) noexcept;

  // Same coefficient, scale and sign bit (1.0 and 1.00 are equal but not identical).
  bool identical(const Decimal& other) const noexcept;

  // Multiplies the coefficient by 10 per step towards `target_scale` (> scale()) and stops at
  // the last step whose coefficient still fits 96 bits, so a large value may stop short.
  Decimal rescaled_up(std::uint32_t target_scale) const noexcept;
  // Divides the coefficient by 10 per step down to `target_scale` (< scale()),
  // rounding half away from zero.
  Decimal rescaled_down(std::uint32_t target_scale) const noexcept;

 private:
  // Coefficient bits 0..63 in lo_, 64..95 in hi_; flags_ holds the scale in bits 16..23 and
  // the sign in bit 31, leaving the rest zero.
  std::uint64_t lo_ = 0;
  std::uint32_t hi_ = 0;
  std::uint32_t flags_ = 0;
};

// On failure `error` holds the message ("Invalid decimal: ...") and `value` is empty.
struct DecimalParseResult {
  std::optional<Decimal> value;
  std::string_view error;
};

}  // namespace swarmtuner
