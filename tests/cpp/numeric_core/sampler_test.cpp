// Tests of XVecSampler: a replay of the draw rules, ranges and coverage, failures and their order.
#include "numeric_core/sampler.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "numeric_core/failure.hpp"
#include "test_support.hpp"

namespace swarmtuner {
namespace {

using enum ElementKind;

#include "numeric_core/sampler_reference.inc"

std::string int128_to_string(Int128 value) {
  const bool negative = value < 0;
  UInt128 magnitude =
      negative ? UInt128{0} - static_cast<UInt128>(value) : static_cast<UInt128>(value);
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(magnitude % 10)));
    magnitude /= 10;
  } while (magnitude != 0);
  return negative ? "-" + digits : digits;
}

Int128 int128_from_string(const std::string& text) {
  const bool negative = text[0] == '-';
  UInt128 magnitude = 0;
  for (std::size_t i = negative ? 1 : 0; i < text.size(); ++i) {
    magnitude = magnitude * 10 + static_cast<unsigned>(text[i] - '0');
  }
  return static_cast<Int128>(negative ? UInt128{0} - magnitude : magnitude);
}

Decimal decimal_of(const ReplayDecimal& d) {
  return *Decimal::from_signed_coefficient(int128_from_string(d.coefficient), d.scale);
}

ChaChaRng::Key fixed_key() {
  ChaChaRng::Key key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(7 * i + 3);
  return key;
}

template <ElementKind K>
XVec vec_of(std::vector<Element<K>> values) {
  XVec v;
  v.list<K>() = std::move(values);
  return v;
}

std::string construction_failure(XVec lower, XVec upper) {
  try {
    XVecSampler sampler(std::move(lower), std::move(upper));
  } catch (const InternalFailure& failure) {
    return failure.message();
  }
  return "(no failure)";
}

TEST(XVecSamplerTest, DrawsMatchThePythonReplayForEveryFixedWidthKind) {
  XVec lower, upper;
  lower.list<I8>() = k_i8_lows, upper.list<I8>() = k_i8_highs;
  lower.list<I16>() = k_i16_lows, upper.list<I16>() = k_i16_highs;
  lower.list<I32>() = k_i32_lows, upper.list<I32>() = k_i32_highs;
  lower.list<I64>() = k_i64_lows, upper.list<I64>() = k_i64_highs;
  for (const char* v : k_i128_lows) lower.list<I128>().push_back(int128_from_string(v));
  for (const char* v : k_i128_highs) upper.list<I128>().push_back(int128_from_string(v));
  for (const char* v : k_i_lows) lower.list<I>().push_back(BigInt::from_string(v));
  for (const char* v : k_i_highs) upper.list<I>().push_back(BigInt::from_string(v));
  lower.list<F32>() = k_f32_lows, upper.list<F32>() = k_f32_highs;
  lower.list<F64>() = k_f64_lows, upper.list<F64>() = k_f64_highs;
  lower.list<C64>() = k_c64_lows, upper.list<C64>() = k_c64_highs;
  lower.list<C128>() = k_c128_lows, upper.list<C128>() = k_c128_highs;
  const XVecSampler sampler(std::move(lower), std::move(upper));

  ChaChaRng::Key key{};
  std::copy(std::begin(kReplayKey), std::end(kReplayKey), key.begin());
  ChaChaRng rng(key);
  for (int n = 0; n < kReplaySamples; ++n) {
    SCOPED_TRACE("sample " + std::to_string(n));
    const ReplaySample& want = kReplayMixed[n];
    const XVec got = sampler.sample(rng);
    EXPECT_EQ(std::vector<long long>(got.list<I8>().begin(), got.list<I8>().end()), want.i8);
    EXPECT_EQ(std::vector<long long>(got.list<I16>().begin(), got.list<I16>().end()), want.i16);
    EXPECT_EQ(std::vector<long long>(got.list<I32>().begin(), got.list<I32>().end()), want.i32);
    ASSERT_EQ(got.list<I64>().size(), want.i64.size());
    for (std::size_t j = 0; j < got.list<I64>().size(); ++j)
      EXPECT_EQ(got.list<I64>()[j], std::stoll(want.i64[j]));
    ASSERT_EQ(got.list<I128>().size(), want.i128.size());
    for (std::size_t j = 0; j < got.list<I128>().size(); ++j) {
      EXPECT_EQ(int128_to_string(got.list<I128>()[j]), want.i128[j]);
    }
    ASSERT_EQ(got.list<I>().size(), want.i.size());
    for (std::size_t j = 0; j < got.list<I>().size(); ++j)
      EXPECT_EQ(got.list<I>()[j].to_string(), want.i[j]);
    EXPECT_EQ(as_vector(got.list<F32>()), want.f32);
    EXPECT_EQ(as_vector(got.list<F64>()), want.f64);
    EXPECT_EQ(as_vector(got.list<C64>()), want.c64);
    EXPECT_EQ(as_vector(got.list<C128>()), want.c128);
    EXPECT_TRUE(got.list<D>().empty());
  }
}

TEST(XVecSamplerTest, DecimalDrawsMatchThePythonReplay) {
  XVec lower, upper;
  for (const auto& d : k_d_lows) lower.list<D>().push_back(decimal_of(d));
  for (const auto& d : k_d_highs) upper.list<D>().push_back(decimal_of(d));
  const XVecSampler sampler(std::move(lower), std::move(upper));
  ChaChaRng::Key key{};
  std::copy(std::begin(kReplayKey), std::end(kReplayKey), key.begin());
  ChaChaRng rng(key);
  for (int n = 0; n < kReplaySamples; ++n) {
    const XVec got = sampler.sample(rng);
    ASSERT_EQ(got.list<D>().size(), std::size(kReplayDecimal[n]));
    for (std::size_t j = 0; j < got.list<D>().size(); ++j) {
      SCOPED_TRACE("sample " + std::to_string(n) + " index " + std::to_string(j));
      EXPECT_EQ(int128_to_string(got.list<D>()[j].signed_coefficient()),
                kReplayDecimal[n][j].coefficient);
      EXPECT_EQ(got.list<D>()[j].scale(), kReplayDecimal[n][j].scale);
      EXPECT_FALSE(got.list<D>()[j].is_zero() && got.list<D>()[j].is_negative());
    }
  }
}

// Draws `count` components of the single dimension of kind K and returns the distinct values.
template <ElementKind K, class Key = Element<K>>
std::set<Key> distinct_draws(Element<K> low, Element<K> high, int count) {
  const XVecSampler sampler(vec_of<K>({low}), vec_of<K>({high}));
  ChaChaRng rng(fixed_key());
  std::set<Key> seen;
  for (int n = 0; n < count; ++n) seen.insert(sampler.sample(rng).template list<K>().at(0));
  return seen;
}

template <class Tag>
class FixedWidthRangeTest : public ::testing::Test {};
using FixedWidthKinds =
    ::testing::Types<KindTag<ElementKind::I8>, KindTag<ElementKind::I16>, KindTag<ElementKind::I32>,
                     KindTag<ElementKind::I64>, KindTag<ElementKind::I128>>;
struct KindNames {
  template <class Tag>
  static std::string GetName(int) {
    return std::string(kind_name(Tag::value));
  }
};
TYPED_TEST_SUITE(FixedWidthRangeTest, FixedWidthKinds, KindNames);

TYPED_TEST(FixedWidthRangeTest, SmallRangesAtBothEndsAreCoveredWithoutHigh) {
  constexpr ElementKind K = TypeParam::value;
  using T = Element<K>;
  const T max = K == ElementKind::I128 ? static_cast<T>((UInt128{1} << 127) - 1)
                                       : static_cast<T>(std::numeric_limits<T>::max());
  const T min = static_cast<T>(-max - 1);
  EXPECT_EQ(
      distinct_draws<K>(static_cast<T>(max - 3), max, 300),
      (std::set<T>{static_cast<T>(max - 3), static_cast<T>(max - 2), static_cast<T>(max - 1)}));
  EXPECT_EQ(distinct_draws<K>(min, static_cast<T>(min + 3), 300),
            (std::set<T>{min, static_cast<T>(min + 1), static_cast<T>(min + 2)}));
  EXPECT_EQ(distinct_draws<K>(T{5}, T{6}, 50), std::set<T>{T{5}});
}

TEST(XVecSamplerTest, I8FullRangeNeverDrawsTheUpperBound) {
  const auto seen = distinct_draws<ElementKind::I8>(-128, 127, 20000);
  EXPECT_EQ(seen.size(), 255U);  // every value from -128 to 126
  EXPECT_EQ(*seen.begin(), -128);
  EXPECT_EQ(*seen.rbegin(), 126);
}

TEST(XVecSamplerTest, BigIntRangesAreCoveredWithoutHigh) {
  const auto small = distinct_draws<ElementKind::I>(BigInt(-3), BigInt(2), 300);
  std::set<BigInt> want;
  for (int v = -3; v < 2; ++v) want.insert(BigInt(v));
  EXPECT_EQ(small, want);
}

// Ranges a few units in the last place wide, where the scale must shrink below high - low.
template <class F>
struct FewUlpCase {
  F low;
  int ulps;
};

template <class F>
F step_up(F x, int n) {
  for (int i = 0; i < n; ++i) x = std::nextafter(x, std::numeric_limits<F>::infinity());
  return x;
}

template <class F>
void check_few_ulp_range(F low, int ulps) {
  const F high = step_up(low, ulps);
  SCOPED_TRACE(std::to_string(static_cast<double>(low)) + " + " + std::to_string(ulps) + " ulp");
  // The scale is the largest value whose top draw stays below high.
  const F m = F{1} - std::numeric_limits<F>::epsilon();
  const F scale = uniform_float_scale(low, high);
  EXPECT_GE(scale, F{0});
  EXPECT_LT(scale * m + low, high);
  if (scale < high - low) {
    const F next = std::nextafter(scale, std::numeric_limits<F>::infinity());
    EXPECT_GE(next * m + low, high);
  }

  constexpr ElementKind K = std::is_same_v<F, float> ? ElementKind::F32 : ElementKind::F64;
  const auto seen = distinct_draws<K>(low, high, 400);
  std::set<F> below_high;
  for (int i = 0; i < ulps; ++i) below_high.insert(step_up(low, i));
  // Every representable value in [low, high) is drawn; high never is.
  EXPECT_EQ(seen, below_high);
}

TEST(FloatScaleTest, OneAndFewUlpRangesNeverReachHigh) {
  const double dmin = std::numeric_limits<double>::denorm_min();
  const float fmin = std::numeric_limits<float>::denorm_min();
  for (const auto& c : std::vector<FewUlpCase<double>>{
           {1.0, 1},
           {1.0, 2},
           {1.0, 4},
           {-1.0, 1},
           {-1.0, 3},
           {1e300, 2},
           {-dmin, 2},
           {0.0, 1},
           {std::nextafter(std::numeric_limits<double>::max(), 0.0), 1}}) {
    check_few_ulp_range(c.low, c.ulps);
  }
  for (const auto& c : std::vector<FewUlpCase<float>>{
           {1.0F, 1}, {1.0F, 3}, {-1.0F, 2}, {1e30F, 4}, {-fmin, 2}, {0.0F, 1}}) {
    check_few_ulp_range(c.low, c.ulps);
  }
}

TEST(FloatScaleTest, OneUlpAboveOneHalvesTheScale) {
  // Worked by hand: 2^-53 (1 + 2^-52) times m = 1 - 2^-52 rounds to 2^-53, and 1 + 2^-53 rounds
  // to even, giving 1; the next larger scale rounds up to 1 + 2^-52.
  EXPECT_EQ(uniform_float_scale(1.0, std::nextafter(1.0, 2.0)), 0x1.0000000000001p-53);
}

TEST(FloatScaleTest, MatchesStepByStepShrinkingWhereThatIsShort) {
  const auto stepped = [](auto low, auto high) {
    using F = decltype(low);
    const F m = F{1} - std::numeric_limits<F>::epsilon();
    F scale = high - low;
    while (scale * m + low >= high) scale = std::nextafter(scale, F{0});
    return scale;
  };
  for (const auto& [low, high] : std::vector<std::pair<double, double>>{
           {0.0, 1.0}, {-1.5, 2.25}, {0.1, 0.3}, {-1e300, 1e300}, {3.0, 1e16}}) {
    EXPECT_EQ(uniform_float_scale(low, high), stepped(low, high)) << low << " " << high;
  }
  for (const auto& [low, high] : std::vector<std::pair<float, float>>{
           {0.0F, 1.0F}, {-1.5F, 2.25F}, {0.1F, 0.3F}, {-1e38F, 1e38F}, {3.0F, 1e8F}}) {
    EXPECT_EQ(uniform_float_scale(low, high), stepped(low, high)) << low << " " << high;
  }
}

TEST(XVecSamplerTest, DecimalGridFollowsTheCommonScale) {
  const auto d = [](const char* coefficient, std::uint32_t scale) {
    return decimal_of({coefficient, scale});
  };
  // 0 and 10 at scale 0: the integers 0 to 9.
  {
    const XVecSampler sampler(vec_of<ElementKind::D>({d("0", 0)}),
                              vec_of<ElementKind::D>({d("10", 0)}));
    ChaChaRng rng(fixed_key());
    std::set<std::string> seen;
    for (int n = 0; n < 300; ++n) {
      const Decimal x = sampler.sample(rng).list<D>().at(0);
      EXPECT_EQ(x.scale(), 0U);
      seen.insert(int128_to_string(x.signed_coefficient()));
    }
    EXPECT_EQ(seen.size(), 10U);
    EXPECT_EQ(seen.count("10"), 0U);
  }
  // 0 and 1.00: 0.00, 0.01, ... 0.99, all at scale 2.
  {
    const XVecSampler sampler(vec_of<ElementKind::D>({d("0", 0)}),
                              vec_of<ElementKind::D>({d("100", 2)}));
    ChaChaRng rng(fixed_key());
    std::set<Int128> seen;
    for (int n = 0; n < 3000; ++n) {
      const Decimal x = sampler.sample(rng).list<D>().at(0);
      EXPECT_EQ(x.scale(), 2U);
      seen.insert(x.signed_coefficient());
    }
    EXPECT_EQ(seen.size(), 100U);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 99);
  }
  // 1 and 1.0 are equal on the common grid.
  EXPECT_EQ(construction_failure(vec_of<ElementKind::D>({d("1", 0)}),
                                 vec_of<ElementKind::D>({d("10", 1)})),
            failure_text::decimal_low_above_high.text);
}

// Bounds whose scales cannot meet without one of them losing digits, at the edge of 96 bits.
// Every draw lies in [low, high): a bound that loses digits is rounded inwards, and a pair
// narrower than one step of the common grid is drawn on the finer one.
struct EdgeGridCase {
  ReplayDecimal low, high;
  std::vector<ReplayDecimal> draws;  // every value drawn, in order
};

TEST(XVecSamplerTest, DecimalBoundsThatLoseDigitsAreRoundedInwards) {
  const std::vector<EdgeGridCase> cases = {
      // 7.9228162514264337593543950334 to 7.922816251426433759354395034: only 28-digit points
      // lie between, and of those only two fit 96 bits.
      {{"79228162514264337593543950334", 28},
       {"7922816251426433759354395034", 27},
       {{"79228162514264337593543950334", 28}, {"79228162514264337593543950335", 28}}},
      // The largest 28-digit value up to the same bound: that value alone.
      {{"79228162514264337593543950335", 28},
       {"7922816251426433759354395034", 27},
       {{"79228162514264337593543950335", 28}}},
      // ...032.4 up to ...034, which cannot take a digit: the integers from ...033.
      {{"79228162514264337593543950324", 1},
       {"7922816251426433759354395034", 0},
       {{"7922816251426433759354395033", 0}}},
      // -...036 up to -...032.6: every integer below the upper bound, -...033 included.
      {{"-7922816251426433759354395036", 0},
       {"-79228162514264337593543950326", 1},
       {{"-7922816251426433759354395036", 0},
        {"-7922816251426433759354395035", 0},
        {"-7922816251426433759354395034", 0},
        {"-7922816251426433759354395033", 0}}},
  };
  for (const EdgeGridCase& edge : cases) {
    const XVecSampler sampler(vec_of<ElementKind::D>({decimal_of(edge.low)}),
                              vec_of<ElementKind::D>({decimal_of(edge.high)}));
    ChaChaRng rng(fixed_key());
    std::set<std::pair<Int128, std::uint32_t>> seen;
    for (int n = 0; n < 200; ++n) {
      const Decimal x = sampler.sample(rng).list<D>().at(0);
      seen.insert({x.signed_coefficient(), x.scale()});
    }
    std::set<std::pair<Int128, std::uint32_t>> expected;
    for (const ReplayDecimal& draw : edge.draws) {
      expected.insert({int128_from_string(draw.coefficient), draw.scale});
    }
    EXPECT_EQ(seen, expected) << edge.low.coefficient << " " << edge.high.coefficient;
  }
  // A reversed pair is still refused, though the finer bound would round onto the other.
  EXPECT_EQ(construction_failure(
                vec_of<ElementKind::D>({decimal_of({"7922816251426433759354395034", 27})}),
                vec_of<ElementKind::D>({decimal_of({"79228162514264337593543950335", 28})})),
            failure_text::decimal_low_above_high.text);
}

TEST(XVecSamplerTest, EachKindReportsItsOwnConstructionFailure) {
  EXPECT_EQ(construction_failure(vec_of<ElementKind::I32>({3}), vec_of<ElementKind::I32>({3})),
            failure_text::low_not_below_high.text);
  EXPECT_EQ(construction_failure(vec_of<ElementKind::I128>({1}), vec_of<ElementKind::I128>({0})),
            failure_text::low_not_below_high.text);
  EXPECT_EQ(construction_failure(vec_of<ElementKind::I>({BigInt(3)}),
                                 vec_of<ElementKind::I>({BigInt(3)})),
            failure_text::big_low_not_below_high.text);
  EXPECT_EQ(construction_failure(vec_of<ElementKind::D>({Decimal::from_i64(3)}),
                                 vec_of<ElementKind::D>({Decimal::from_i64(3)})),
            failure_text::decimal_low_above_high.text);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(construction_failure(vec_of<ElementKind::F64>({nan}), vec_of<ElementKind::F64>({1.0})),
            failure_text::low_not_below_high.text);
  EXPECT_EQ(
      construction_failure(vec_of<ElementKind::F32>({0.0F}),
                           vec_of<ElementKind::F32>({std::numeric_limits<float>::quiet_NaN()})),
      failure_text::low_not_below_high.text);
  EXPECT_EQ(
      construction_failure(vec_of<ElementKind::F64>({-1e308}), vec_of<ElementKind::F64>({1e308})),
      failure_text::range_overflow.text);
  EXPECT_EQ(construction_failure(vec_of<ElementKind::F64>({0.0}), vec_of<ElementKind::F64>({inf})),
            failure_text::range_overflow.text);
  // An f32 bound of 1e40 is read as infinity.
  EXPECT_EQ(construction_failure(vec_of<ElementKind::F32>({0.0F}),
                                 vec_of<ElementKind::F32>({static_cast<float>(inf)})),
            failure_text::range_overflow.text);
  // c128: real parts fine, imaginary parts equal.
  EXPECT_EQ(construction_failure(vec_of<ElementKind::C128>({{0.0, 2.0}}),
                                 vec_of<ElementKind::C128>({{1.0, 2.0}})),
            failure_text::low_not_below_high.text);
  // The real parts are checked first, overflow included.
  EXPECT_EQ(construction_failure(vec_of<ElementKind::C64>({{-3e38F, 2.0F}}),
                                 vec_of<ElementKind::C64>({{3e38F, 2.0F}})),
            failure_text::range_overflow.text);
}

TEST(XVecSamplerTest, FirstBadPairInKindThenIndexOrderWins) {
  // Within a kind the lower index wins, whichever message it carries.
  EXPECT_EQ(construction_failure(vec_of<ElementKind::F64>({5.0, -1e308}),
                                 vec_of<ElementKind::F64>({1.0, 1e308})),
            failure_text::low_not_below_high.text);
  EXPECT_EQ(construction_failure(vec_of<ElementKind::F64>({-1e308, 5.0}),
                                 vec_of<ElementKind::F64>({1e308, 1.0})),
            failure_text::range_overflow.text);
  // Across kinds the earlier kind wins: i before f64 before d.
  XVec lower, upper;
  lower.list<I>() = {BigInt(0), BigInt(7)};
  upper.list<I>() = {BigInt(1), BigInt(7)};
  lower.list<F64>() = {-1e308};
  upper.list<F64>() = {1e308};
  lower.list<D>() = {Decimal::from_i64(2)};
  upper.list<D>() = {Decimal::from_i64(1)};
  EXPECT_EQ(construction_failure(lower.clone(), upper.clone()),
            failure_text::big_low_not_below_high.text);
  upper.list<I>()[1] = BigInt(8);
  EXPECT_EQ(construction_failure(lower.clone(), upper.clone()), failure_text::range_overflow.text);
  upper.list<F64>()[0] = 1.0;
  EXPECT_EQ(construction_failure(std::move(lower), std::move(upper)),
            failure_text::decimal_low_above_high.text);
}

TEST(XVecSamplerTest, SurplusBoundsAreIgnoredAndEmptyKindsStayEmpty) {
  XVec lower, upper;
  lower.list<I8>() = {1, 2, 3};
  upper.list<I8>() = {5, 6};
  lower.list<F64>() = {0.0};
  upper.list<F64>() = {1.0, 2.0, 3.0};
  lower.list<I>() = {BigInt(0)};  // no upper bound at all for "i"
  const XVecSampler sampler(std::move(lower), std::move(upper));
  ChaChaRng rng(fixed_key());
  const XVec x = sampler.sample(rng);
  EXPECT_EQ(x.list<I8>().size(), 2U);
  EXPECT_EQ(x.list<F64>().size(), 1U);
  EXPECT_TRUE(x.list<I>().empty());
  EXPECT_TRUE(x.list<D>().empty() && x.list<C64>().empty() && x.list<I128>().empty());

  const XVecSampler nothing{XVec(), XVec()};
  ChaChaRng quiet(fixed_key());
  ChaChaRng reference(fixed_key());
  const XVec none = nothing.sample(quiet);
  EXPECT_TRUE(none.list<I8>().empty() && none.list<I>().empty() && none.list<F64>().empty() &&
              none.list<D>().empty());
  EXPECT_EQ(quiet.next_u32(), reference.next_u32());  // nothing was drawn
}

}  // namespace
}  // namespace swarmtuner
