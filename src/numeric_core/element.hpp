// Element types per kind and the per-element primitives that the vector operations apply.
#pragma once

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "numeric_core/big_int.hpp"
#include "numeric_core/complex.hpp"
#include "numeric_core/decimal.hpp"
#include "numeric_core/element_kind.hpp"
#include "numeric_core/failure.hpp"

namespace swarmtuner {

// The element type of each kind, from the table of kinds.
template <ElementKind K>
struct ElementTraits;
#define SWARMTUNER_ELEMENT_TRAITS(kind, name, element_type) \
  template <>                                               \
  struct ElementTraits<ElementKind::kind> {                 \
    using type = element_type;                              \
  };
SWARMTUNER_ELEMENT_KINDS(SWARMTUNER_ELEMENT_TRAITS)
#undef SWARMTUNER_ELEMENT_TRAITS

template <ElementKind K>
using Element = typename ElementTraits<K>::type;

// The five fixed-width two's complement kinds.
template <class T>
concept FixedWidthInt = std::same_as<T, std::int8_t> || std::same_as<T, std::int16_t> ||
    std::same_as<T, std::int32_t> || std::same_as<T, std::int64_t> || std::same_as<T, Int128>;

template <class T>
concept ComplexElement = std::same_as<T, Complex32> || std::same_as<T, Complex64>;

// Kinds whose sum, difference and negation are plain IEEE 754 operations (per part for complex).
template <class T>
concept IeeeElement = std::floating_point<T> || ComplexElement<T>;

// Every kind except the complex ones.
template <class T>
concept OrderedElement = FixedWidthInt<T> || std::floating_point<T> || std::same_as<T, BigInt> ||
    std::same_as<T, Decimal>;

// Kinds whose values live in registers; their vector loops are plain loops over storage.
template <class T>
concept FixedSizeNumber = FixedWidthInt<T> || IeeeElement<T>;

// A double rounded to the nearest float; magnitudes that round past the largest float become
// infinite, as IEEE 754 narrowing does. A plain conversion of such a value is undefined
// behaviour in C++ (it lies outside the range of float), so every narrowing of a user's value
// (a bound, a coefficient) goes through here. Written as selects so that loops stay vectorisable.
constexpr float narrow_to_f32(double value) noexcept {
  // Halfway between the largest float and 2^128: ties go to the even neighbour, 2^128 = inf.
  // (numeric_limits rather than FLT_MAX: with libc++ on macOS, <cmath> can take <float.h>'s
  // include guard before that header defines it, so that <cfloat> later defines nothing.)
  constexpr double overflow_threshold =
      static_cast<double>(std::numeric_limits<float>::max()) + 0x1p103;
  constexpr double infinity = std::numeric_limits<double>::infinity();
  double in_range = value >= overflow_threshold ? infinity : value;
  in_range = value <= -overflow_threshold ? -infinity : in_range;
  return static_cast<float>(in_range);
}

namespace element_detail {

// A scaling factor in the float type a kind is scaled in.
template <std::floating_point F>
constexpr F scale_factor_in(double x) noexcept {
  if constexpr (std::same_as<F, float>) {
    return narrow_to_f32(x);
  } else {
    return x;
  }
}

// numeric_limits is not guaranteed for __int128, so the bounds come from the bit pattern.
template <FixedWidthInt T>
inline constexpr T int_max = static_cast<T>(static_cast<UnsignedOf<T>>(~UnsignedOf<T>{0}) >> 1);
template <FixedWidthInt T>
inline constexpr T int_min = static_cast<T>(-int_max<T> - 1);

// Picks the wrapped result, or on overflow the end of the range on a's side. `witness` has its
// top bit set exactly when the operation overflowed.
template <FixedWidthInt T, class U = UnsignedOf<T>>
constexpr T saturate_if_overflow(U ua, U wrapped, U witness) noexcept {
  constexpr int top_bit = static_cast<int>(sizeof(U) * 8 - 1);
  const U mask = static_cast<U>(U{0} - static_cast<U>(witness >> top_bit));
  // int_max + 1 wraps to int_min, so a's sign bit selects the end.
  const U saturated = static_cast<U>(static_cast<U>(ua >> top_bit) + static_cast<U>(int_max<T>));
  return static_cast<T>(static_cast<U>((wrapped & static_cast<U>(~mask)) | (saturated & mask)));
}

// The float type a kind is scaled in: binary32 for the narrow kinds, binary64 from i32 on.
template <FixedWidthInt T>
using ScaleFloat = std::conditional_t<(sizeof(T) <= 2), float, double>;

// The conversions between the 128-bit integers and binary64 are library calls; a value within
// 64 bits converts as a 64-bit one, to the same result, in one instruction.
template <std::floating_point F, FixedWidthInt T>
constexpr F to_float(T a) noexcept {
  if constexpr (std::same_as<T, Int128>) {
    if (const auto word = static_cast<std::int64_t>(a); word == a) return static_cast<F>(word);
  }
  return static_cast<F>(a);
}

// p truncated toward zero, for a p within T's range.
template <FixedWidthInt T, std::floating_point F>
constexpr T truncate_to(F p) noexcept {
  if constexpr (std::same_as<T, Int128>) {
    constexpr F word_limit = static_cast<F>(std::uint64_t{1} << 63);
    if (p >= -word_limit && p < word_limit) return static_cast<std::int64_t>(p);
  }
  return static_cast<T>(p);
}

// Truncates toward zero and saturates at the kind's range; NaN gives 0. The out-of-range and
// NaN cases never reach the cast (converting them would be undefined), and the choice is made
// by selects rather than early returns so that loops over a list stay vectorisable.
template <FixedWidthInt T, std::floating_point F>
constexpr T saturating_truncate(F p) noexcept {
  // 2^(width-1) is exact in both float types (2^127 < FLT_MAX).
  constexpr F limit =
      static_cast<F>(static_cast<UnsignedOf<T>>(UnsignedOf<T>{1} << (sizeof(T) * 8 - 1)));
  const F in_range = (p >= -limit && p < limit) ? p : F{0};
  T result = truncate_to<T>(in_range);
  result = p >= limit ? int_max<T> : result;
  result = p < -limit ? int_min<T> : result;
  return result;
}

}  // namespace element_detail

// ---- Fixed-width integers: saturating sum, difference and negation; saturating scaling. ----

// The sums of the narrow kinds are formed modulo 2^width in the unsigned type and corrected
// with bit masks, not with branches or overflow builtins, so that loops over a list vectorise.
// The 64- and 128-bit kinds do not vectorise without wider vector instructions than the
// baseline's, and take the processor's overflow flag instead, which costs fewer instructions.
template <FixedWidthInt T>
constexpr T add_element(T a, T b) noexcept {
  if constexpr (sizeof(T) >= 8) {
    T sum;
    if (__builtin_add_overflow(a, b, &sum)) [[unlikely]] {
      return a < 0 ? element_detail::int_min<T> : element_detail::int_max<T>;
    }
    return sum;
  }
  using U = UnsignedOf<T>;
  const U ua = static_cast<U>(a);
  const U ub = static_cast<U>(b);
  const U sum = static_cast<U>(ua + ub);
  // Overflow: both operands have one sign and the wrapped sum the other.
  return element_detail::saturate_if_overflow<T>(ua, sum, static_cast<U>((ua ^ sum) & (ub ^ sum)));
}

template <FixedWidthInt T>
constexpr T sub_element(T a, T b) noexcept {
  if constexpr (sizeof(T) >= 8) {
    T difference;
    if (__builtin_sub_overflow(a, b, &difference)) [[unlikely]] {
      return a < 0 ? element_detail::int_min<T> : element_detail::int_max<T>;
    }
    return difference;
  }
  using U = UnsignedOf<T>;
  const U ua = static_cast<U>(a);
  const U ub = static_cast<U>(b);
  const U difference = static_cast<U>(ua - ub);
  // Overflow: the operands differ in sign and the wrapped difference has b's sign.
  return element_detail::saturate_if_overflow<T>(ua, difference,
                                                 static_cast<U>((ua ^ ub) & (ua ^ difference)));
}

// Only the minimum overflows (to the maximum), exactly as 0 - a does.
template <FixedWidthInt T>
constexpr T neg_element(T a) noexcept {
  return sub_element(T{0}, a);
}

template <FixedWidthInt T>
constexpr void add_assign_element(T& a, T b) noexcept {
  a = add_element(a, b);
}

template <FixedWidthInt T>
constexpr void sub_assign_element(T& a, T b) noexcept {
  a = sub_element(a, b);
}

// i8 and i16 multiply in binary32 (the factor rounded to binary32, overflowing to infinity);
// i32 exactly in binary64; i64 and i128 after rounding a to the nearest binary64.
// scale_element_by takes the factor already in that float type (scale_factor_in), which a
// loop or a search can then round once for all its elements.
template <FixedWidthInt T>
constexpr T scale_element_by(T a, element_detail::ScaleFloat<T> factor) noexcept {
  using F = element_detail::ScaleFloat<T>;
  return element_detail::saturating_truncate<T>(element_detail::to_float<F>(a) * factor);
}

template <FixedWidthInt T>
constexpr T scale_element(T a, double x) noexcept {
  return scale_element_by(a, element_detail::scale_factor_in<element_detail::ScaleFloat<T>>(x));
}

// ---- Binary floats and complex pairs: IEEE 754 throughout. ----

template <IeeeElement T>
constexpr T add_element(T a, T b) noexcept {
  return a + b;
}

template <IeeeElement T>
constexpr T sub_element(T a, T b) noexcept {
  return a - b;
}

// Unary minus flips the sign bit, so zeros and NaN change sign too.
template <IeeeElement T>
constexpr T neg_element(T a) noexcept {
  return -a;
}

template <IeeeElement T>
constexpr void add_assign_element(T& a, T b) noexcept {
  a += b;
}

template <IeeeElement T>
constexpr void sub_assign_element(T& a, T b) noexcept {
  a = a - b;
}

// Conversions between the float types follow IEEE 754: to nearest, overflowing to infinity.
static_assert(std::numeric_limits<float>::is_iec559 && std::numeric_limits<double>::is_iec559);

// f32 scales by the factor rounded to binary32 (beyond its range: infinity), f64 by the factor.
template <std::floating_point T>
constexpr T scale_element_by(T a, T factor) noexcept {
  return a * factor;
}

template <std::floating_point T>
constexpr T scale_element(T a, double x) noexcept {
  return scale_element_by(a, element_detail::scale_factor_in<T>(x));
}

template <class F>
constexpr BasicComplex<F> scale_element_by(BasicComplex<F> a, F factor) noexcept {
  return {a.re * factor, a.im * factor};
}

template <class F>
constexpr BasicComplex<F> scale_element(BasicComplex<F> a, double x) noexcept {
  return scale_element_by(a, element_detail::scale_factor_in<F>(x));
}

// The float type a register kind is scaled in, in which scale_element_by takes its factor.
template <FixedSizeNumber T>
struct ScaleFloatOfKind {
  using type = T;
};
template <FixedWidthInt T>
struct ScaleFloatOfKind<T> {
  using type = element_detail::ScaleFloat<T>;
};
template <class F>
struct ScaleFloatOfKind<BasicComplex<F>> {
  using type = F;
};
template <FixedSizeNumber T>
using ScaleFloatOf = typename ScaleFloatOfKind<T>::type;

// ---- The velocity a particle moves by. ----

// A float velocity component (each part of a complex one) that is not a finite number becomes
// zero before the particle moves by it. An infinite or NaN coefficient (infinity times a zero
// pull is NaN), or pulls that overflow, would otherwise move the position to NaN, which lies
// neither below nor above a bound and so would pass every clamp; with a zero velocity the
// particle simply keeps that coordinate for the step. Integer velocities are always numbers.
template <FixedWidthInt T>
constexpr T finite_velocity(T v) noexcept {
  return v;
}

template <std::floating_point T>
constexpr T finite_velocity(T v) noexcept {
  // NaN fails the comparison too; written as a select so that loops over a list vectorise.
  return (v >= -std::numeric_limits<T>::max() && v <= std::numeric_limits<T>::max()) ? v : T{0};
}

template <class F>
constexpr BasicComplex<F> finite_velocity(BasicComplex<F> v) noexcept {
  return {finite_velocity(v.re), finite_velocity(v.im)};
}

// ---- Big integers: exact arithmetic; scaling through binary64. ----

inline BigInt add_element(const BigInt& a, const BigInt& b) {
  return a + b;
}
inline BigInt sub_element(const BigInt& a, const BigInt& b) {
  return a - b;
}
inline BigInt neg_element(const BigInt& a) {
  return -a;
}
inline BigInt neg_element(BigInt&& a) {
  return -std::move(a);
}
inline void add_assign_element(BigInt& a, const BigInt& b) {
  a += b;
}
inline void sub_assign_element(BigInt& a, const BigInt& b) {
  a -= b;
}

// a's nearest binary64 (infinite from 2^1024 on) times x, truncated toward zero, stored into a
// (reusing its digits). Status::big_int_scaling, with a left as it was, when that product is
// NaN or infinite.
[[nodiscard]] inline Status scale_assign_element(BigInt& a, double x) {
  // The assignment truncates toward zero, exactly for every finite double. It refuses just the
  // NaN and infinite products, leaving a as it was, and that refusal is the scaling's failure.
  // A value of 2^1024 or more is infinite as a float, so it fails for every factor (even 0,
  // since infinity times zero is NaN).
  return a.assign_scaled(x);
}
// The same, as a new value.
Checked<BigInt> scale_element(const BigInt& a, double x);

// ---- Decimals: checked arithmetic that reports the operation's overflow status. ----

// Status::decimal_addition on overflow.
inline Checked<Decimal> add_element(Decimal a, Decimal b) noexcept {
  return Decimal::checked_add(a, b);
}
// Status::decimal_subtraction on overflow.
inline Checked<Decimal> sub_element(Decimal a, Decimal b) noexcept {
  return Decimal::checked_sub(a, b);
}
inline Decimal neg_element(Decimal a) noexcept {
  return -a;
}
// Status::decimal_addition on overflow, with a left as it was.
[[nodiscard]] inline Status add_assign_element(Decimal& a, Decimal b) noexcept {
  const Checked<Decimal> sum = Decimal::checked_add(a, b);
  if (sum) a = *sum;
  return sum.status();
}
// Status::decimal_subtraction on overflow, with a left as it was.
[[nodiscard]] inline Status sub_assign_element(Decimal& a, Decimal b) noexcept {
  const Checked<Decimal> difference = Decimal::checked_sub(a, b);
  if (difference) a = *difference;
  return difference.status();
}

// a × factor, where factor is a scaling factor's decimal form (Decimal::from_f64, which
// reports Status::decimal_factor for NaN, infinities and factors whose integer part exceeds
// 96 bits). Status::decimal_multiplication on overflow.
inline Checked<Decimal> scale_element(Decimal a, Decimal factor) noexcept {
  return Decimal::checked_mul(a, factor);
}
// a × the decimal form of x: the factor's status first, then the product's.
inline Checked<Decimal> scale_element(Decimal a, double x) noexcept {
  const Checked<Decimal> factor = Decimal::from_f64(x);
  if (!factor) return factor.status();
  return scale_element(a, *factor);
}

// ---- Ordering and zero. ----

// Numeric for integers and decimals (scale and the sign of a zero do not matter), IEEE for
// floats, so both are false when either side is NaN.
template <OrderedElement T>
constexpr bool less_element(const T& a, const T& b) noexcept {
  return a < b;
}

template <OrderedElement T>
constexpr bool greater_element(const T& a, const T& b) noexcept {
  return a > b;
}

// 0, +0.0, (+0.0, +0.0), the BigInt zero (no sign) and the decimal zero (scale 0, no sign):
// every element type value-initialises to its kind's zero.
template <class T>
T zero_element() noexcept(std::is_nothrow_default_constructible_v<T>) {
  return T{};
}

}  // namespace swarmtuner
