// Tests of the element primitives: saturating integers, IEEE kinds, big integers and decimals.
#include "numeric_core/element.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "numeric_core/failure.hpp"
#include "numeric_core/list_ops.hpp"
#include "test_support.hpp"

namespace swarmtuner {
namespace {

template <class T>
constexpr T max_of() {
  using U = UnsignedOf<T>;
  return static_cast<T>(static_cast<U>(~U{0}) >> 1);
}
template <class T>
constexpr T min_of() {
  return static_cast<T>(-max_of<T>() - 1);
}

template <class T>
class FixedWidthIntTest : public ::testing::Test {};
using FixedWidthInts =
    ::testing::Types<std::int8_t, std::int16_t, std::int32_t, std::int64_t, Int128>;
TYPED_TEST_SUITE(FixedWidthIntTest, FixedWidthInts);

TYPED_TEST(FixedWidthIntTest, SumDifferenceAndNegationSaturateAtBothEnds) {
  using T = TypeParam;
  const T max = max_of<T>();
  const T min = min_of<T>();
  const T one = 1;
  EXPECT_EQ(add_element(max, one), max);
  EXPECT_EQ(add_element(max, max), max);
  EXPECT_EQ(add_element(min, static_cast<T>(-1)), min);
  EXPECT_EQ(add_element(min, min), min);
  EXPECT_EQ(add_element(max, min), static_cast<T>(-1));
  EXPECT_EQ(add_element(static_cast<T>(max - 1), one), max);

  EXPECT_EQ(sub_element(min, one), min);
  EXPECT_EQ(sub_element(max, static_cast<T>(-1)), max);
  EXPECT_EQ(sub_element(T{0}, min), max);
  EXPECT_EQ(sub_element(static_cast<T>(-1), min), max);
  EXPECT_EQ(sub_element(static_cast<T>(-2), max), min);
  EXPECT_EQ(sub_element(min, min), T{0});
  EXPECT_EQ(sub_element(static_cast<T>(-1), max), min);

  EXPECT_EQ(neg_element(min), max);
  EXPECT_EQ(neg_element(max), static_cast<T>(min + 1));
  EXPECT_EQ(neg_element(T{0}), T{0});

  T accumulator = max;
  add_assign_element(accumulator, max);
  EXPECT_EQ(accumulator, max);
}

// Reference: the exact result in a wider type, clamped to the kind's range.
template <class T>
T clamp_wide(Int128 exact) {
  return static_cast<T>(std::clamp<Int128>(exact, min_of<T>(), max_of<T>()));
}

TEST(FixedWidthIntTest, EveryI8PairMatchesTheClampedExactResult) {
  for (int a = -128; a <= 127; ++a) {
    const auto x = static_cast<std::int8_t>(a);
    EXPECT_EQ(neg_element(x), clamp_wide<std::int8_t>(-a)) << a;
    for (int b = -128; b <= 127; ++b) {
      const auto y = static_cast<std::int8_t>(b);
      ASSERT_EQ(add_element(x, y), clamp_wide<std::int8_t>(a + b)) << a << " + " << b;
      ASSERT_EQ(sub_element(x, y), clamp_wide<std::int8_t>(a - b)) << a << " - " << b;
    }
  }
}

// The 64-bit kind saturates through the overflow flag: against the exact result, for operands
// drawn near the ends, near zero and anywhere.
TEST(FixedWidthIntTest, I64PairsMatchTheClampedExactResult) {
  std::mt19937_64 rng(20261208);
  const std::int64_t max = max_of<std::int64_t>();
  const std::int64_t min = min_of<std::int64_t>();
  const auto draw = [&] {
    const auto offset = static_cast<std::int64_t>(rng() % 5);
    switch (rng() % 4) {
      case 0:
        return static_cast<std::int64_t>(max - offset);
      case 1:
        return static_cast<std::int64_t>(min + offset);
      case 2:
        return static_cast<std::int64_t>(offset - 2);
      default:
        return static_cast<std::int64_t>(rng());
    }
  };
  for (int trial = 0; trial < 20000; ++trial) {
    const std::int64_t a = draw();
    const std::int64_t b = draw();
    ASSERT_EQ(add_element(a, b), clamp_wide<std::int64_t>(Int128{a} + b)) << a << " + " << b;
    ASSERT_EQ(sub_element(a, b), clamp_wide<std::int64_t>(Int128{a} - b)) << a << " - " << b;
  }
}

TEST(FixedWidthIntTest, I8ExamplesSaturateInsteadOfWrapping) {
  const std::int8_t hundred = 100;
  EXPECT_EQ(add_element(hundred, hundred), 127);
  EXPECT_EQ(sub_element(hundred, std::int8_t{-100}), 127);
  EXPECT_EQ(neg_element(std::int8_t{-128}), 127);
}

struct ScaleCase {
  std::int64_t a;
  double x;
  std::int64_t expected;
};

template <class T>
void expect_scales(std::initializer_list<ScaleCase> cases) {
  for (const ScaleCase& c : cases) {
    EXPECT_EQ(scale_element(static_cast<T>(c.a), c.x), static_cast<T>(c.expected))
        << c.a << " * " << c.x;
  }
}

TEST(ScaleElementTest, NarrowIntegersScaleInBinary32) {
  // 100 * 0.29 is 28.999999999999996 in binary64 but exactly 29 in binary32.
  expect_scales<std::int8_t>({{100, 2.0, 127},
                              {-100, 2.0, -128},
                              {5, 0.5, 2},
                              {-5, 0.5, -2},
                              {100, 0.29, 29},
                              {127, 0.2, 25},
                              {7, nan, 0},
                              {1, inf, 127},
                              {-1, inf, -128},
                              {0, inf, 0},     // 0 * inf is NaN
                              {1, 1e39, 127},  // the factor overflows binary32
                              {-128, -1.0, 127}});
  expect_scales<std::int16_t>({{100, 0.29, 29},
                               {30000, 0.13, 3899},  // 3900 in binary64
                               {32767, 2.0, 32767},
                               {-32768, 1.5, -32768},
                               {-3, nan, 0}});
}

TEST(ScaleElementTest, WideIntegersScaleInBinary64) {
  expect_scales<std::int32_t>({{2147483647, 1.0, 2147483647},
                               {2147483647, 2.0, 2147483647},
                               {-2147483648, 2.0, -2147483648},
                               {100, 0.29, 28},
                               {30000, 0.13, 3900},
                               {7, -0.5, -3},
                               {10, 0.2, 2},
                               {5, nan, 0}});
  const std::int64_t two53 = std::int64_t{1} << 53;
  const std::int64_t max64 = std::numeric_limits<std::int64_t>::max();
  const std::int64_t min64 = std::numeric_limits<std::int64_t>::min();
  expect_scales<std::int64_t>({{two53 + 1, 1.0, two53},  // a rounds to binary64 first
                               {max64, 1.0, max64},      // 2^63 after rounding: saturates
                               {min64, 1.0, min64},      // -2^63 is in range
                               {std::int64_t{1} << 62, 2.0, max64},
                               {-(std::int64_t{1} << 62), 2.0, min64},
                               {-(std::int64_t{1} << 62), 2.5, min64},
                               {100, 0.29, 28},
                               {1, -inf, min64},
                               {9, nan, 0}});
}

TEST(ScaleElementTest, I128RoundsToNearestBinary64BeforeScaling) {
  const Int128 one = 1;
  // 2^117 + 2^64 + 1 lies just above the midpoint of two binary64 neighbours (ulp 2^65).
  EXPECT_EQ(scale_element((one << 117) + (one << 64) + 1, 1.0), (one << 117) + (one << 65));
  // Exactly on the midpoint: ties to even.
  EXPECT_EQ(scale_element((one << 117) + (one << 64), 1.0), one << 117);
  EXPECT_EQ(scale_element(one << 100, 0.5), one << 99);
  const Int128 max = max_of<Int128>();
  const Int128 min = min_of<Int128>();
  EXPECT_EQ(scale_element(max, 1.0), max);
  EXPECT_EQ(scale_element(min, 1.0), min);
  EXPECT_EQ(scale_element(min, -1.0), max);
  EXPECT_EQ(scale_element(Int128{-7}, 0.5), Int128{-3});
  EXPECT_EQ(scale_element(max, nan), Int128{0});
}

// Values within 64 bits take the word conversions; the result must be the library
// conversions' at the edges between the two paths, in both directions.
TEST(ScaleElementTest, I128WithinAWordScalesAsTheLibraryConversionsDo) {
  const Int128 one = 1;
  const Int128 values[] = {0,
                           1,
                           -1,
                           (one << 63) - 1,
                           -(one << 63),
                           one << 63,
                           -(one << 63) - 1,
                           (one << 64) + 3,
                           one << 100,
                           max_of<Int128>(),
                           min_of<Int128>(),
                           123456789012345};
  const double factors[] = {1.0, -1.0,   0.5,    2.0,     -2.0, 1.0 + 0x1p-52, 1.0 - 0x1p-53,
                            3.0, 1e-300, 0x1p64, -0x1p64, 0.0,  -0.0};
  for (const Int128 a : values) {
    for (const double x : factors) {
      const double p = static_cast<double>(a) * x;
      const double limit = 0x1p127;
      const Int128 expected = p >= limit   ? max_of<Int128>()
                              : p < -limit ? min_of<Int128>()
                              : p == p     ? static_cast<Int128>(p)
                                           : Int128{0};
      EXPECT_EQ(scale_element(a, x), expected) << static_cast<double>(a) << " * " << x;
    }
  }
}

TEST(ScaleElementTest, FloatsAndComplexFollowIeee) {
  EXPECT_EQ(scale_element(1.0f, 1e39), std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(scale_element(0.0f, 1e39)));
  EXPECT_EQ(scale_element(1.0f, 0.1), 0.1f);
  EXPECT_EQ(scale_element(1.0, 0.2), 0.2);
  EXPECT_EQ(scale_element(Complex32{1.0f, -2.0f}, 0.5), (Complex32{0.5f, -1.0f}));
  EXPECT_EQ(scale_element(Complex64{1.0, -1.0}, 0.2), (Complex64{0.2, -0.2}));
  const Complex32 c = scale_element(Complex32{1.0f, 0.0f}, 1e39);
  EXPECT_EQ(c.re, std::numeric_limits<float>::infinity());
  EXPECT_TRUE(std::isnan(c.im));
}

TEST(NarrowToF32Test, RoundsToNearestAndPastTheLargestFloatToInfinity) {
  constexpr float inf32 = std::numeric_limits<float>::infinity();
  constexpr double halfway = static_cast<double>(FLT_MAX) + 0x1p103;  // ties to 2^128, even
  EXPECT_EQ(narrow_to_f32(static_cast<double>(FLT_MAX)), FLT_MAX);
  EXPECT_EQ(narrow_to_f32(std::nextafter(halfway, 0.0)), FLT_MAX);
  EXPECT_EQ(narrow_to_f32(halfway), inf32);
  EXPECT_EQ(narrow_to_f32(-halfway), -inf32);
  EXPECT_EQ(narrow_to_f32(1e300), inf32);
  EXPECT_EQ(narrow_to_f32(0.1), 0.1f);
  EXPECT_TRUE(std::isnan(narrow_to_f32(std::numeric_limits<double>::quiet_NaN())));
  // Defined, so also a constant expression.
  static_assert(narrow_to_f32(1e39) == inf32);
  // The narrow integers scale in binary32: a factor past its range acts as infinity.
  EXPECT_EQ(scale_element(std::int8_t{1}, 1e39), std::int8_t{127});
  EXPECT_EQ(scale_element(std::int16_t{-1}, 1e39), std::int16_t{-32768});
}

TEST(FiniteVelocityTest, FloatPartsThatAreNotFiniteBecomeZero) {
  for (const double v : {inf, -inf, nan}) {
    EXPECT_EQ(finite_velocity(v), 0.0) << v;
    EXPECT_EQ(finite_velocity(static_cast<float>(v)), 0.0f) << v;
  }
  EXPECT_EQ(finite_velocity(std::numeric_limits<double>::max()),
            std::numeric_limits<double>::max());
  EXPECT_EQ(finite_velocity(-std::numeric_limits<float>::max()),
            -std::numeric_limits<float>::max());
  EXPECT_EQ(finite_velocity(-1.5), -1.5);
  EXPECT_EQ(finite_velocity(Complex64{inf, 2.0}), (Complex64{0.0, 2.0}));
  EXPECT_EQ(finite_velocity(Complex32{-1.0f, static_cast<float>(nan)}), (Complex32{-1.0f, 0.0f}));
  EXPECT_EQ(finite_velocity(std::int8_t{-128}), std::int8_t{-128});
}

TEST(IeeeElementTest, NegationFlipsTheSignBitOfZerosAndNan) {
  const Complex32 negated = neg_element(Complex32{0.0f, 0.0f});
  EXPECT_TRUE(std::signbit(negated.re));
  EXPECT_TRUE(std::signbit(negated.im));
  EXPECT_TRUE(std::signbit(neg_element(std::numeric_limits<double>::quiet_NaN())));
  EXPECT_FALSE(std::signbit(neg_element(-std::numeric_limits<float>::quiet_NaN())));
  EXPECT_EQ(add_element(0.1, 0.2), 0.30000000000000004);
  EXPECT_EQ(sub_element(Complex64{1.0, 2.0}, Complex64{0.5, 4.0}), (Complex64{0.5, -2.0}));
}

TEST(BigIntElementTest, ScalingTruncatesTowardZero) {
  EXPECT_EQ(*scale_element(BigInt(7), 0.5), BigInt(3));
  EXPECT_EQ(*scale_element(BigInt(-7), 0.5), BigInt(-3));
  const BigInt zero = *scale_element(BigInt(1), -0.5);
  EXPECT_EQ(zero, BigInt());
  EXPECT_EQ(zero.sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(scale_element(BigInt::from_string("1180591620717411303424"), 0.5)->to_string(),
            "590295810358705651712");  // 2^70 / 2
}

TEST(BigIntElementTest, NonFiniteProductsFail) {
  const BigInt two_1024 = BigInt::from_string(
      "179769313486231590772930519078902473361797697894230657273430081157732675805500963132708477"
      "322407536021120113879871393357658789768814416622492847430639474124377767893424865485276302"
      "219601246094119453082952085005768838150682342462881473913110540827237163350510684586298239"
      "947245938479716304835356329624224137216");
  for (const double factor : {0.0, 1.0, -1.0, 1e-300, nan}) {
    EXPECT_EQ(scale_element(two_1024, factor).status(), Status::big_int_scaling) << factor;
    // The value that failed to scale is left as it was.
    BigInt scaled = two_1024;
    EXPECT_EQ(scale_assign_element(scaled, factor), Status::big_int_scaling) << factor;
    EXPECT_EQ(scaled, two_1024) << factor;
  }
  for (const double factor : {nan, inf, -inf}) {
    EXPECT_EQ(scale_element(BigInt(1), factor).status(), Status::big_int_scaling);
  }
  // A finite value whose product overflows binary64.
  EXPECT_EQ(scale_element(BigInt(2), 1e308).status(), Status::big_int_scaling);
  // The whole-list scaling throws the failure's text.
  std::vector<BigInt> list = {BigInt(1), BigInt(2)};
  EXPECT_EQ(failure_of([&] { scale_list(list, ScaleFactor(1e308)); }),
            failure_text::big_int_scaling.text);
}

TEST(DecimalElementTest, ArithmeticKeepsTheExactScale) {
  EXPECT_TRUE(add_element(decimal(125, 2), decimal(2, 0))->identical(decimal(325, 2)));
  EXPECT_TRUE(sub_element(decimal(15, 1), decimal(2, 0))->identical(decimal(-5, 1)));
  EXPECT_TRUE(scale_element(decimal(10, 0), 0.2)->identical(decimal(20, 1)));
  EXPECT_TRUE(scale_element(decimal(330, 2), 0.1)->identical(decimal(330, 3)));
  EXPECT_TRUE(scale_element(decimal(15, 1), 0.5)->identical(decimal(75, 2)));
  // 1.5e-28 has one digit too many and rounds half to even.
  EXPECT_TRUE(scale_element(decimal(3, 28), 0.5)->identical(decimal(2, 28)));
  const Decimal negative_zero = neg_element(Decimal());
  EXPECT_TRUE(negative_zero.is_negative());
  EXPECT_FALSE(less_element(negative_zero, Decimal()));
  EXPECT_FALSE(greater_element(negative_zero, Decimal()));
  EXPECT_FALSE(less_element(decimal(10, 1), decimal(100, 2)));
  EXPECT_FALSE(greater_element(decimal(10, 1), decimal(100, 2)));
}

TEST(DecimalElementTest, OverflowAndUnconvertibleFactorsFail) {
  const Decimal max = *Decimal::from_parts(Decimal::max_coefficient, 0, false);
  const Decimal one = decimal(1, 0);
  EXPECT_EQ(add_element(max, one).status(), Status::decimal_addition);
  // A failed assignment leaves its operand as it was.
  Decimal accumulator = max;
  EXPECT_EQ(add_assign_element(accumulator, one), Status::decimal_addition);
  EXPECT_TRUE(accumulator.identical(max));
  accumulator = -max;
  EXPECT_EQ(sub_assign_element(accumulator, one), Status::decimal_subtraction);
  EXPECT_TRUE(accumulator.identical(-max));
  EXPECT_EQ(sub_element(-max, one).status(), Status::decimal_subtraction);
  const UInt128 e14 = 100'000'000'000'000ULL;
  const Decimal four_e28 = *Decimal::from_parts(4 * e14 * e14, 0, false);
  EXPECT_EQ(scale_element(four_e28, 2.0).status(), Status::decimal_multiplication);
  for (const double factor : {nan, inf, -inf, 1e30}) {
    EXPECT_EQ(scale_element(one, factor).status(), Status::decimal_factor) << factor;
    // The factor's failure comes before the product's, even where the product would overflow.
    EXPECT_EQ(scale_element(max, factor).status(), Status::decimal_factor) << factor;
  }
}

// Builds a value of any ordered kind from a small integer.
template <class T>
class OrderedElementTest : public ::testing::Test {};
using OrderedKinds = ::testing::Types<std::int8_t, std::int16_t, std::int32_t, std::int64_t, Int128,
                                      BigInt, float, double, Decimal>;
TYPED_TEST_SUITE(OrderedElementTest, OrderedKinds);

TYPED_TEST(OrderedElementTest, OrderIsNumericAndZeroIsValueInitialised) {
  using T = TypeParam;
  const T minus_two = from_int<T>(-2);
  const T three = from_int<T>(3);
  EXPECT_TRUE(less_element(minus_two, three));
  EXPECT_FALSE(less_element(three, minus_two));
  EXPECT_FALSE(less_element(three, three));
  EXPECT_TRUE(greater_element(three, minus_two));
  EXPECT_FALSE(greater_element(minus_two, three));
  EXPECT_FALSE(greater_element(three, three));
  EXPECT_FALSE(less_element(zero_element<T>(), from_int<T>(0)));
  EXPECT_FALSE(greater_element(zero_element<T>(), from_int<T>(0)));
  EXPECT_TRUE(less_element(zero_element<T>(), from_int<T>(1)));
}

TEST(OrderedElementTest, NanIsNeitherLessNorGreater) {
  for (const double other : {-inf, 0.0, inf, nan}) {
    EXPECT_FALSE(less_element(nan, other));
    EXPECT_FALSE(greater_element(nan, other));
    EXPECT_FALSE(less_element(other, nan));
    EXPECT_FALSE(greater_element(other, nan));
  }
  EXPECT_FALSE(less_element(-0.0f, 0.0f));
}

TEST(ZeroElementTest, ZerosArePositiveAndUnsigned) {
  EXPECT_FALSE(std::signbit(zero_element<float>()));
  EXPECT_FALSE(std::signbit(zero_element<double>()));
  EXPECT_FALSE(std::signbit(zero_element<Complex64>().re));
  EXPECT_FALSE(std::signbit(zero_element<Complex64>().im));
  EXPECT_EQ(zero_element<BigInt>().sign(), BigInt::Sign::NoSign);
  const Decimal d = zero_element<Decimal>();
  EXPECT_TRUE(d.is_zero());
  EXPECT_EQ(d.scale(), 0u);
  EXPECT_FALSE(d.is_negative());
}

}  // namespace
}  // namespace swarmtuner
