// Two's complement integers of a fixed number of limbs, the working form of the big-integer
// step for values of a few hundred bits.
#pragma once

#include <array>
#include <bit>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#if defined(__x86_64__)
#include <x86intrin.h>
#endif

#include "numeric_core/big_int.hpp"
#include "numeric_core/element_kind.hpp"

namespace swarmtuner {

// A BigInt's sums go through sign cases, GMP calls and storage checks that cost more than the
// arithmetic itself when a value has a few limbs. Here the limbs live on the stack and every
// operation is a fixed loop over W of them. Sums and differences wrap modulo 2^(64 W): a
// caller keeps its values far enough inside the range (load and assign_truncated refuse
// values near its ends) that nothing it computes wraps.
template <std::size_t W>
class FixedInt {
 public:
  using Limb = BigInt::Limb;
  static_assert(W >= 2);

  // load takes magnitudes of at most this many bits, which leaves three bits of headroom under
  // the sign bit; assign_truncated takes one bit more.
  static constexpr std::size_t load_bits = 64 * W - 4;

  FixedInt() noexcept : limbs_{} {}

  // The value, when its magnitude has at most load_bits bits.
  [[nodiscard]] static std::optional<FixedInt> load(const BigInt& value) noexcept {
    FixedInt result;
    if (!result.assign(value)) return std::nullopt;
    return result;
  }
  // load into this value, which callers keep on their stack: no copy of an optional's. False
  // where load refuses the value, and this value is then unspecified.
  [[nodiscard]] bool assign(const BigInt& value) noexcept {
    if (const std::optional<std::int64_t> word = value.to_i64()) {
      set_word(*word);
      return true;
    }
    Limb scratch;
    const std::span<const Limb> magnitude = value.magnitude_limbs(scratch);
    const std::size_t count = magnitude.size();
    if (count == W) {
      if (magnitude.back() >> 60 != 0) return false;
      // All W limbs are read, with no test of each against the count.
      for (std::size_t k = 0; k < W; ++k) limbs_[k] = magnitude[k];
    } else {
      if (count > W) return false;
      // A fixed number of steps, which the compiler unrolls.
      for (std::size_t k = 0; k < W; ++k) limbs_[k] = k < count ? magnitude[k] : 0;
    }
    if (value.sign() == BigInt::Sign::Minus) negate();
    return true;
  }

  // Stores the value into `value`, reusing its storage where it is large enough.
  [[gnu::always_inline]] void store(BigInt& value) const {
    FixedInt magnitude = *this;
    const bool negative = is_negative();
    if (negative) magnitude.negate();
    // A magnitude of all W limbs is stored with its count known here, so the copy unrolls.
    if (magnitude.limbs_[W - 1] != 0) {
      value.assign_signed_magnitude(std::span<const Limb>(magnitude.limbs_.data(), W), negative);
      return;
    }
    std::size_t count = W - 1;
    while (count > 0 && magnitude.limbs_[count - 1] == 0) --count;
    value.assign_signed_magnitude(std::span<const Limb>(magnitude.limbs_.data(), count), negative);
  }

  // BigInt::to_f64's rule: below 2^64 the magnitude rounds to nearest; above, its 64 leading
  // bits are kept (the rest truncated), rounded and scaled.
  double to_f64() const noexcept {
    FixedInt magnitude = *this;
    const bool negative = is_negative();
    if (negative) magnitude.negate();
    const Limb* const m = magnitude.limbs_.data();
    // The leading limb and the one below it, chosen with each index a constant (the loop
    // unrolls into conditional moves), so that the limbs stay in registers.
    Limb top = m[1];
    Limb below = m[0];
    std::size_t lower_bits = 0;
    for (std::size_t k = 2; k < W; ++k) {
      if (m[k] != 0) {
        top = m[k];
        below = m[k - 1];
        lower_bits = 64 * (k - 1);
      }
    }
    double result;
    if (top == 0) {
      result = static_cast<double>(m[0]);
    } else {
      // The leading limb's bits joined by those below them to make 64, with no case for a
      // leading limb that is already full (a shift of zero).
      const unsigned shift = leading_zeros_of_nonzero(top);
      const Limb leading = shift_left_into(top, below, shift);
      const std::size_t dropped = lower_bits + (64 - shift);
      // leading has its top bit set. Halved, with the bit shifted out kept in the lowest bit,
      // it rounds to the same 53 bits (that bit only ever counts as part of the sticky bits
      // under the rounding bit) and converts as a signed word, without the unsigned
      // conversion's test of the top bit.
      const auto halved = static_cast<std::int64_t>((leading >> 1) | (leading & 1));
      // An exact power of two: dropped stays far below the 1023 of binary64's range.
      result = static_cast<double>(halved) *
               std::bit_cast<double>(static_cast<std::uint64_t>(1023 + dropped + 1) << 52);
    }
    return negative ? -result : result;
  }

  // The value truncated toward zero, when it is finite and its magnitude has at most
  // load_bits + 1 bits; otherwise false, and the value is left as it was.
  [[nodiscard]] bool assign_truncated(double value) noexcept {
    // The test is false for NaN.
    if (!(value > -0x1p63 && value < 0x1p63)) return assign_large(value);
    set_word(static_cast<std::int64_t>(value));
    return true;
  }

  friend FixedInt operator+(const FixedInt& a, const FixedInt& b) noexcept {
    FixedInt sum;
    bool carry = false;
    for (std::size_t k = 0; k < W; ++k) {
      carry = add_with_carry(a.limbs_[k], b.limbs_[k], carry, sum.limbs_[k]);
    }
    return sum;
  }
  friend FixedInt operator-(const FixedInt& a, const FixedInt& b) noexcept {
    FixedInt difference;
    bool borrow = false;
    for (std::size_t k = 0; k < W; ++k) {
      borrow = subtract_with_borrow(a.limbs_[k], b.limbs_[k], borrow, difference.limbs_[k]);
    }
    return difference;
  }
  friend std::strong_ordering operator<=>(const FixedInt& a, const FixedInt& b) noexcept {
    // The top limbs compare as signed words, the others as unsigned.
    const auto a_top = static_cast<std::int64_t>(a.limbs_[W - 1]);
    const auto b_top = static_cast<std::int64_t>(b.limbs_[W - 1]);
    if (a_top != b_top) return a_top <=> b_top;
    for (std::size_t k = W - 1; k-- > 0;) {
      if (a.limbs_[k] != b.limbs_[k]) return a.limbs_[k] <=> b.limbs_[k];
    }
    return std::strong_ordering::equal;
  }
  friend bool operator==(const FixedInt& a, const FixedInt& b) noexcept = default;

  bool is_negative() const noexcept { return limbs_[W - 1] >> 63 != 0; }

 private:
  // One limb of a sum, a + b + carry, into `sum`; the carry out. On x86-64 the compilers make a
  // loop of these one add-with-carry chain only from the intrinsic (the portable form costs
  // about a hundred more instructions per element of a big-integer step).
  static bool add_with_carry(Limb a, Limb b, bool carry, Limb& sum) noexcept {
#if defined(__x86_64__)
    unsigned long long out;
    const bool carry_out = _addcarry_u64(carry ? 1 : 0, a, b, &out) != 0;
    sum = out;
    return carry_out;
#else
    const Limb partial = a + b;
    sum = partial + (carry ? 1 : 0);
    return partial < a || sum < partial;
#endif
  }
  // One limb of a difference, a - b - borrow, into `difference`; the borrow out.
  static bool subtract_with_borrow(Limb a, Limb b, bool borrow, Limb& difference) noexcept {
#if defined(__x86_64__)
    unsigned long long out;
    const bool borrow_out = _subborrow_u64(borrow ? 1 : 0, a, b, &out) != 0;
    difference = out;
    return borrow_out;
#else
    const Limb partial = a - b;
    difference = partial - (borrow ? 1 : 0);
    return a < b || partial < (borrow ? 1 : 0);
#endif
  }

  void set_word(std::int64_t word) noexcept {
    limbs_[0] = static_cast<Limb>(word);
    const Limb extension = word < 0 ? ~Limb{0} : Limb{0};
    for (std::size_t k = 1; k < W; ++k) limbs_[k] = extension;
  }

  // -x is ~x + 1. The + 1 carries past the lowest limb only when that limb is zero, so
  // usually the lowest limb is negated as a word and the others are only inverted.
  void negate() noexcept {
    if (limbs_[0] != 0) [[likely]] {
      limbs_[0] = Limb{0} - limbs_[0];
      for (std::size_t k = 1; k < W; ++k) limbs_[k] = ~limbs_[k];
      return;
    }
    bool carry = true;
    for (std::size_t k = 0; k < W; ++k) {
      limbs_[k] = ~limbs_[k] + (carry ? 1 : 0);
      carry = carry && limbs_[k] == 0;
    }
  }

  bool assign_large(double value) noexcept {
    // Past 2^63 a finite double is an integer: its 53-bit significand shifted left by at
    // least 11 places. The exponent test also refuses NaN and the infinities.
    const auto bits = std::bit_cast<std::uint64_t>(value);
    const std::uint64_t exponent = (bits >> 52) & 0x7FF;
    // The magnitude is below 2^(exponent - 1022); it may have load_bits + 1 bits.
    if (exponent - 1022 > load_bits + 1) return false;
    const Limb significand = (bits & ((Limb{1} << 52) - 1)) | (Limb{1} << 52);
    const auto shift = static_cast<std::size_t>(exponent - 1075);
    const std::size_t whole = shift / 64;
    const auto part = static_cast<unsigned>(shift % 64);
    // Each limb chosen with its index a constant, so that the limbs stay in registers. The
    // magnitude has fewer than 64 W - 2 bits, so a high part lands inside the limbs.
    const Limb low = significand << part;
    const Limb high = shift_left_into(0, significand, part);
    for (std::size_t k = 0; k < W; ++k) {
      limbs_[k] = k == whole ? low : k == whole + 1 ? high : 0;
    }
    if (value < 0) negate();
    return true;
  }

  std::array<Limb, W> limbs_;
};

}  // namespace swarmtuner
