// Tests of the whole-vector operations: length rules, storage reuse, failure order and clamping.
#include "numeric_core/x_vec.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <random>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "numeric_core/failure.hpp"
#include "test_support.hpp"

namespace swarmtuner {
namespace {

using enum ElementKind;

// Lengths of all eleven lists, in kind order.
std::vector<std::size_t> shape(const XVec& v) {
  std::vector<std::size_t> sizes;
  for_each_kind([&]<ElementKind K>(KindTag<K>) { sizes.push_back(v.list<K>().size()); });
  return sizes;
}

// One component of every kind, values chosen so that no operation below can fail.
XVec one_of_each() {
  XVec v;
  v.list<I8>() = {1};
  v.list<I16>() = {2};
  v.list<I32>() = {3};
  v.list<I64>() = {4};
  v.list<I128>() = {5};
  v.list<I>() = {BigInt(6)};
  v.list<F32>() = {7.0f};
  v.list<F64>() = {8.0};
  v.list<C64>() = {{9.0f, -9.0f}};
  v.list<C128>() = {{10.0, -10.0}};
  v.list<D>() = {Decimal::from_i64(11)};
  return v;
}

// The table of kinds gives every kind its own index, name and list: all_kinds and for_each_kind
// agree on the order, and no two kinds share a name or a list's storage.
TEST(KindTableTest, EveryKindHasItsOwnIndexNameAndList) {
  std::set<std::string_view> names;
  std::size_t visited = 0;
  XVec v;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    static_assert(
        std::is_same_v<decltype(std::as_const(v).list<K>()), std::span<const Element<K>>>);
    EXPECT_EQ(all_kinds[visited], K);
    EXPECT_EQ(kind_index(K), visited);
    EXPECT_FALSE(kind_name(K).empty());
    EXPECT_TRUE(names.insert(kind_name(K)).second) << kind_name(K);
    v.list<K>().resize(visited + 1);
    ++visited;
  });
  EXPECT_EQ(visited, kind_count);
  std::vector<std::size_t> expected(kind_count);
  for (std::size_t k = 0; k < kind_count; ++k) expected[k] = k + 1;
  EXPECT_EQ(shape(v), expected);
}

TEST(XVecTest, AllEmptyVectorPassesThroughEveryOperation) {
  const std::vector<std::size_t> none(kind_count, 0);
  const XVec empty;
  EXPECT_TRUE(empty.empty());
  EXPECT_EQ(shape(XVec::add(empty.clone(), empty)), none);
  EXPECT_EQ(shape(XVec::sub(empty.clone(), empty)), none);
  EXPECT_EQ(shape(XVec::neg(empty.clone())), none);
  EXPECT_EQ(shape(empty.zeros_like()), none);
  XVec v;
  v.add_assign(empty);
  v.mul_assign(nan);
  XVec velocity;
  clamp_particle(v, velocity, empty, empty, empty, empty);
  EXPECT_TRUE(v.empty());
  EXPECT_TRUE(velocity.empty());
  EXPECT_FALSE(one_of_each().empty());
}

TEST(XVecTest, BinaryOperationsWorkOverTheShorterListInTheFirstOperand) {
  XVec a;
  a.list<I8>() = {1, 2, 3};
  a.list<F64>() = {0.5};
  a.list<I>() = {BigInt(1), BigInt(2), BigInt(3)};
  XVec b;
  b.list<I8>() = {10, 20};
  b.list<F64>() = {0.25, 9.0};
  b.list<I>() = {BigInt(-5)};
  // The big integers open the vector's block, so their address is the block's.
  const BigInt* storage = a.list<I>().data();

  XVec sum = XVec::add(a.clone(), b);
  EXPECT_EQ(sum.list<I8>(), (std::vector<std::int8_t>{11, 22}));
  EXPECT_EQ(sum.list<F64>(), (std::vector<double>{0.75}));
  EXPECT_EQ(sum.list<I>(), (std::vector<BigInt>{BigInt(-4)}));

  XVec difference = XVec::sub(std::move(a), b);
  EXPECT_EQ(difference.list<I>().data(), storage);
  EXPECT_EQ(difference.list<I8>(), (std::vector<std::int8_t>{-9, -18}));
  EXPECT_EQ(difference.list<F64>(), (std::vector<double>{0.25}));
  EXPECT_EQ(difference.list<I>(), (std::vector<BigInt>{BigInt(6)}));

  XVec c;
  c.list<I8>() = {1, 2, 3};
  c.add_assign(b);
  EXPECT_EQ(c.list<I8>(), (std::vector<std::int8_t>{11, 22, 3}));
  EXPECT_TRUE(c.list<F64>().empty());
}

TEST(XVecTest, IntegerListsSaturate) {
  XVec a;
  a.list<I8>() = {100};
  XVec b;
  b.list<I8>() = {100};
  EXPECT_EQ(XVec::add(a.clone(), b).list<I8>(), (std::vector<std::int8_t>{127}));
  b.list<I8>() = {-100};
  XVec difference = XVec::sub(a.clone(), b);
  EXPECT_EQ(difference.list<I8>(), (std::vector<std::int8_t>{127}));
  // 127 * 0.2 in binary32 is 25.4000004.
  difference.mul_assign(0.2);
  EXPECT_EQ(difference.list<I8>(), (std::vector<std::int8_t>{25}));
  a.list<I8>() = {-128, 0, 127};
  a.list<I64>() = {std::numeric_limits<std::int64_t>::min()};
  XVec negated = XVec::neg(std::move(a));
  EXPECT_EQ(negated.list<I8>(), (std::vector<std::int8_t>{127, 0, -127}));
  EXPECT_EQ(negated.list<I64>(),
            (std::vector<std::int64_t>{std::numeric_limits<std::int64_t>::max()}));
}

TEST(XVecTest, MulAssignScalesEachKindByItsOwnRule) {
  XVec v;
  v.list<I32>() = {10};
  v.list<F64>() = {1.0};
  v.list<C128>() = {{1.0, -1.0}};
  v.list<D>() = {Decimal::from_i64(10)};
  v.mul_assign(0.2);
  EXPECT_EQ(v.list<I32>(), (std::vector<std::int32_t>{2}));
  EXPECT_EQ(v.list<F64>(), (std::vector<double>{0.2}));
  EXPECT_EQ(v.list<C128>(), (std::vector<Complex64>{{0.2, -0.2}}));
  ASSERT_EQ(v.list<D>().size(), 1u);
  EXPECT_TRUE(v.list<D>()[0].identical(decimal(20, 1)));
}

TEST(XVecTest, MulAssignByNanFailsOnlyForBigIntAndDecimalComponents) {
  XVec fixed;
  fixed.list<I8>() = {5};
  fixed.list<I128>() = {7};
  fixed.list<F32>() = {1.0f};
  fixed.mul_assign(nan);
  EXPECT_EQ(fixed.list<I8>(), (std::vector<std::int8_t>{0}));
  EXPECT_EQ(fixed.list<I128>(), (std::vector<Int128>{0}));
  EXPECT_TRUE(std::isnan(fixed.list<F32>()[0]));

  XVec both = one_of_each();
  EXPECT_EQ(failure_of([&] { both.mul_assign(nan); }), failure_text::big_int_scaling.text);
  XVec decimal_only;
  decimal_only.list<D>() = {Decimal::from_i64(1)};
  EXPECT_EQ(failure_of([&] { decimal_only.mul_assign(nan); }), failure_text::decimal_factor.text);
  EXPECT_EQ(failure_of([&] { decimal_only.mul_assign(1e30); }), failure_text::decimal_factor.text);
}

TEST(XVecTest, DecimalOverflowReportsTheOperation) {
  XVec max;
  max.list<D>() = {Decimal::from_i64(1), *Decimal::from_parts(Decimal::max_coefficient, 0, false)};
  XVec one;
  one.list<D>() = {Decimal::from_i64(1), Decimal::from_i64(1)};
  EXPECT_EQ(failure_of([&] { XVec::add(max.clone(), one); }), failure_text::decimal_addition.text);
  EXPECT_EQ(failure_of([&] { max.clone().add_assign(one); }), failure_text::decimal_addition.text);
  EXPECT_EQ(failure_of([&] { XVec::sub(XVec::neg(max.clone()), one); }),
            failure_text::decimal_subtraction.text);
  const UInt128 e14 = 100'000'000'000'000ULL;
  XVec large;
  large.list<D>() = {*Decimal::from_parts(4 * e14 * e14, 0, false)};  // 4e28
  EXPECT_EQ(failure_of([&] { large.mul_assign(2.0); }), failure_text::decimal_multiplication.text);
}

TEST(XVecTest, CloneIsDeepAndZerosLikeKeepsTheShape) {
  XVec v = one_of_each();
  v.list<D>() = {decimal(150, 2), decimal(-2, 0)};
  v.list<I>().push_back(BigInt(-1));
  XVec copy = v.clone();
  copy.list<I>()[0] += BigInt(100);
  EXPECT_EQ(v.list<I>()[0], BigInt(6));

  const XVec zeros = v.zeros_like();
  EXPECT_EQ(shape(zeros), shape(v));
  for (const Decimal& d : zeros.list<D>()) {
    EXPECT_TRUE(d.identical(Decimal()));  // scale 0, sign bit clear
  }
  for (const BigInt& b : zeros.list<I>()) {
    EXPECT_EQ(b.sign(), BigInt::Sign::NoSign);
  }
  EXPECT_EQ(zeros.list<I8>()[0], 0);
  EXPECT_FALSE(std::signbit(zeros.list<F64>()[0]));
  EXPECT_EQ(zeros.list<C64>()[0], (Complex32{0.0f, 0.0f}));
}

// Per-kind clamping, checked the same way for every ordered kind, and part by part for the
// complex kinds.
template <ElementKind K>
struct Kind {
  static constexpr ElementKind kind = K;
};

template <class P>
class ClampTest : public ::testing::Test {};
using OrderedKinds =
    ::testing::Types<Kind<ElementKind::I8>, Kind<ElementKind::I16>, Kind<ElementKind::I32>,
                     Kind<ElementKind::I64>, Kind<ElementKind::I128>, Kind<ElementKind::I>,
                     Kind<ElementKind::F32>, Kind<ElementKind::F64>, Kind<ElementKind::D>>;
TYPED_TEST_SUITE(ClampTest, OrderedKinds);

TYPED_TEST(ClampTest, RulesApplyInOrder) {
  constexpr ElementKind K = TypeParam::kind;
  using T = Element<K>;
  struct Case {
    std::int64_t x, v, x_out, v_out;
  };
  const Case cases[] = {
      {15, 3, 10, 0},  // above the upper bound: on the bound, velocity zeroed
      {-1, -3, 0, 0},  // below the lower bound
      {5, 3, 5, 2},    // inside: velocity cut to its maximum
      {5, -3, 5, -2},  // and to its minimum
      {5, 1, 5, 1},    // nothing to do
      {10, 3, 10, 2},  // on a bound counts as inside
  };
  const auto numerically_equal = [](const T& a, const T& b) {
    return !less_element(a, b) && !greater_element(a, b);
  };
  for (const Case& c : cases) {
    XVec position, velocity, lower, upper, v_min, v_max;
    position.list<K>() = {from_int<T>(c.x)};
    velocity.list<K>() = {from_int<T>(c.v)};
    lower.list<K>() = {from_int<T>(0)};
    upper.list<K>() = {from_int<T>(10)};
    v_min.list<K>() = {from_int<T>(-2)};
    v_max.list<K>() = {from_int<T>(2)};
    clamp_particle(position, velocity, lower, upper, v_min, v_max);
    EXPECT_TRUE(numerically_equal(position.list<K>()[0], from_int<T>(c.x_out)))
        << "x=" << c.x << " v=" << c.v;
    EXPECT_TRUE(numerically_equal(velocity.list<K>()[0], from_int<T>(c.v_out)))
        << "x=" << c.x << " v=" << c.v;
  }
}

TEST(ClampParticleTest, ZeroVelocityEvenOutsideTheVelocityLimits) {
  XVec position, velocity, lower, upper, v_min, v_max;
  position.list<I32>() = {15, 5};
  velocity.list<I32>() = {7, 0};
  lower.list<I32>() = {0, 0};
  upper.list<I32>() = {10, 10};
  // Inverted limits, as integer limits derived from saturated bounds can be.
  v_min.list<I32>() = {1, 3};
  v_max.list<I32>() = {2, -3};
  clamp_particle(position, velocity, lower, upper, v_min, v_max);
  EXPECT_EQ(position.list<I32>(), (std::vector<std::int32_t>{10, 5}));
  // The first is clamped (zero though below v_min), the second meets rule 3 before rule 4.
  EXPECT_EQ(velocity.list<I32>(), (std::vector<std::int32_t>{0, 3}));
}

TEST(ClampParticleTest, NanPositionStaysButItsVelocityIsLimited) {
  XVec position, velocity, lower, upper, v_min, v_max;
  position.list<F64>() = {nan, 4.0};
  velocity.list<F64>() = {5.0, nan};
  lower.list<F64>() = {0.0, 0.0};
  upper.list<F64>() = {10.0, 10.0};
  v_min.list<F64>() = {-2.0, -2.0};
  v_max.list<F64>() = {2.0, 2.0};
  clamp_particle(position, velocity, lower, upper, v_min, v_max);
  EXPECT_TRUE(std::isnan(position.list<F64>()[0]));
  EXPECT_EQ(velocity.list<F64>()[0], 2.0);
  EXPECT_EQ(position.list<F64>()[1], 4.0);
  EXPECT_TRUE(std::isnan(velocity.list<F64>()[1]));
}

TEST(ClampParticleTest, WorksOverTheShortestOfTheSixLists) {
  XVec position, velocity, lower, upper, v_min, v_max;
  position.list<I16>() = {20, 20, 20};
  velocity.list<I16>() = {5, 5, 5};
  lower.list<I16>() = {0, 0, 0};
  upper.list<I16>() = {10, 10, 10};
  v_min.list<I16>() = {-1, -1, -1};
  v_max.list<I16>() = {1, 1};
  position.list<C128>() = {{100.0, -100.0}, {100.0, -100.0}};
  velocity.list<C128>() = {{50.0, 50.0}, {50.0, 50.0}};
  lower.list<C128>() = {{0.0, 0.0}, {0.0, 0.0}};
  upper.list<C128>() = {{1.0, 1.0}};
  v_min.list<C128>() = {{-1.0, -1.0}, {-1.0, -1.0}};
  v_max.list<C128>() = {{1.0, 1.0}, {1.0, 1.0}};
  clamp_particle(position, velocity, lower, upper, v_min, v_max);
  EXPECT_EQ(position.list<I16>(), (std::vector<std::int16_t>{10, 10, 20}));
  EXPECT_EQ(velocity.list<I16>(), (std::vector<std::int16_t>{0, 0, 5}));
  EXPECT_EQ(position.list<C128>(), (std::vector<Complex64>{{1.0, 0.0}, {100.0, -100.0}}));
  EXPECT_EQ(velocity.list<C128>(), (std::vector<Complex64>{{0.0, 0.0}, {50.0, 50.0}}));
}

// A complex component is clamped part by part, each part by the float rules above. The two
// parts have disjoint ranges, so a part checked against the other part's bounds would show;
// every rule of one part meets every rule of the other.
template <class P>
class ComplexClampTest : public ::testing::Test {};
using ComplexKinds = ::testing::Types<Kind<ElementKind::C64>, Kind<ElementKind::C128>>;
TYPED_TEST_SUITE(ComplexClampTest, ComplexKinds);

TYPED_TEST(ComplexClampTest, EachPartFollowsTheFloatRulesWithinItsOwnRange) {
  constexpr ElementKind K = TypeParam::kind;
  using T = Element<K>;
  struct Part {
    double x, v, x_out, v_out;
  };
  // Real part: bounds 0 and 10, velocity limits -2 and 2.
  const Part real_cases[] = {
      {15, 3, 10, 0}, {-1, -3, 0, 0}, {5, 3, 5, 2}, {5, -3, 5, -2}, {5, 1, 5, 1}, {10, 3, 10, 2},
  };
  // Imaginary part: bounds -30 and -20, velocity limits -4 and 4.
  const Part imag_cases[] = {
      {-15, 1, -20, 0},   {-31, -9, -30, 0}, {-25, 9, -25, 4},
      {-25, -9, -25, -4}, {-25, 3, -25, 3},  {-30, -5, -30, -4},
  };
  const auto part = [](double value) { return static_cast<decltype(T{}.re)>(value); };
  const auto make = [&](double re, double im) { return T{part(re), part(im)}; };
  for (const Part& re : real_cases) {
    for (const Part& im : imag_cases) {
      XVec position, velocity, lower, upper, v_min, v_max;
      position.list<K>() = {make(re.x, im.x)};
      velocity.list<K>() = {make(re.v, im.v)};
      lower.list<K>() = {make(0, -30)};
      upper.list<K>() = {make(10, -20)};
      v_min.list<K>() = {make(-2, -4)};
      v_max.list<K>() = {make(2, 4)};
      clamp_particle(position, velocity, lower, upper, v_min, v_max);
      EXPECT_EQ(position.list<K>()[0], make(re.x_out, im.x_out)) << re.x << " " << im.x;
      EXPECT_EQ(velocity.list<K>()[0], make(re.v_out, im.v_out)) << re.x << " " << im.x;
    }
  }
}

TYPED_TEST(ComplexClampTest, NanPartStaysButItsVelocityIsLimited) {
  constexpr ElementKind K = TypeParam::kind;
  using T = Element<K>;
  using F = decltype(T{}.re);
  const F not_a_number = std::numeric_limits<F>::quiet_NaN();
  XVec position, velocity, lower, upper, v_min, v_max;
  position.list<K>() = {T{not_a_number, F{4}}};
  velocity.list<K>() = {T{F{5}, not_a_number}};
  lower.list<K>() = {T{F{0}, F{0}}};
  upper.list<K>() = {T{F{10}, F{10}}};
  v_min.list<K>() = {T{F{-2}, F{-2}}};
  v_max.list<K>() = {T{F{2}, F{2}}};
  clamp_particle(position, velocity, lower, upper, v_min, v_max);
  const T x = position.list<K>()[0];
  const T v = velocity.list<K>()[0];
  EXPECT_TRUE(std::isnan(x.re));
  EXPECT_EQ(v.re, F{2});
  EXPECT_EQ(x.im, F{4});
  EXPECT_TRUE(std::isnan(v.im));
}

TEST(ClampParticleTest, BoundsAreCopiedExactly) {
  XVec position, velocity, lower, upper, v_min, v_max;
  position.list<D>() = {decimal(1, 0), decimal(5, 0), decimal(5, 0)};
  velocity.list<D>() = {decimal(3, 0), decimal(30, 1), decimal(-30, 1)};
  lower.list<D>() = {decimal(150, 2), decimal(0, 0), decimal(0, 0)};
  upper.list<D>() = {decimal(100, 1), decimal(10, 0), decimal(10, 0)};
  v_min.list<D>() = {decimal(-2, 0), decimal(-2000, 3), decimal(-2000, 3)};
  v_max.list<D>() = {decimal(2, 0), decimal(20, 1), decimal(20, 1)};
  const BigInt big = BigInt::from_string("-100000000000000000000000000000");
  position.list<I>() = {BigInt::from_string("-200000000000000000000000000000")};
  velocity.list<I>() = {BigInt(1)};
  lower.list<I>() = {big};
  upper.list<I>() = {BigInt(0)};
  v_min.list<I>() = {BigInt(-1)};
  v_max.list<I>() = {BigInt(1)};
  clamp_particle(position, velocity, lower, upper, v_min, v_max);
  EXPECT_TRUE(position.list<D>()[0].identical(decimal(150, 2)));
  EXPECT_TRUE(velocity.list<D>()[0].identical(Decimal()));
  EXPECT_TRUE(velocity.list<D>()[1].identical(decimal(20, 1)));
  EXPECT_TRUE(velocity.list<D>()[2].identical(decimal(-2000, 3)));
  EXPECT_EQ(position.list<I>()[0], big);
  EXPECT_EQ(velocity.list<I>()[0].sign(), BigInt::Sign::NoSign);
}

// The eleven lists of a vector kept as plain std::vectors: what an XVec must agree with.
template <ElementKind K>
using ModelList = std::vector<Element<K>>;
using Model = KindTuple<ModelList>;

void expect_matches(const XVec& v, const Model& model, const std::string& where) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    EXPECT_EQ(as_vector(v.list<K>()), std::get<kind_index(K)>(model)) << kind_name(K) << where;
  });
}

// Element number `seed` of kind K; big integers alternate between a word and heap limbs, so
// that moving the lists about moves values that own memory.
template <ElementKind K>
Element<K> element_of(std::uint64_t seed) {
  const auto small = static_cast<std::int64_t>(seed % 100) - 50;
  if constexpr (K == I) {
    return seed % 2 != 0 ? BigInt::from_string(std::to_string(small) + "000000000000000000000000")
                         : BigInt(small);
  } else if constexpr (ComplexElement<Element<K>>) {
    using F = decltype(Element<K>{}.re);
    return {static_cast<F>(small), static_cast<F>(-small)};
  } else {
    return from_int<Element<K>>(small);
  }
}

// Every list of the one heap block changes length in turn, by every call that changes one,
// and every list keeps its own elements: the block's layout holds through each rebuild and
// each shortening in place.
TEST(XVecBlockTest, EveryLengthChangeKeepsEveryOtherList) {
  std::mt19937_64 random(20261208);
  XVec v;
  Model model;
  for (int round = 0; round < 600; ++round) {
    const std::size_t kind = random() % kind_count;
    const std::size_t operation = random() % 5;
    const std::size_t n = random() % 7;
    for_each_kind([&]<ElementKind K>(KindTag<K>) {
      if (kind_index(K) != kind) return;
      ModelList<K>& expected = std::get<kind_index(K)>(model);
      switch (operation) {
        case 0:
          v.list<K>().resize(n);
          expected.resize(n);
          break;
        case 1: {
          const Element<K> value = element_of<K>(random());
          v.list<K>().push_back(value);
          expected.push_back(value);
          break;
        }
        case 2: {
          ModelList<K> values;
          for (std::size_t j = 0; j < n; ++j) values.push_back(element_of<K>(random()));
          v.list<K>() = values;
          expected = values;
          break;
        }
        case 3:
          for (auto& element : v.list<K>()) element = element_of<K>(round);
          for (auto& element : expected) element = element_of<K>(round);
          break;
        default:
          v.list<K>().clear();
          expected.clear();
      }
    });
    expect_matches(v, model, " after round " + std::to_string(round));
    if (round % 50 == 49) {
      XVec copy = v.clone();
      expect_matches(copy, model, " in a clone");
      XVec other = XVec::with_lengths({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
      other.assign(v);
      expect_matches(other, model, " assigned");
      XVec moved = std::move(copy);
      expect_matches(moved, model, " moved");
    }
  }
}

// An allocation that fails while a block is built (the block itself, or a big integer's limbs
// while the list is being filled) leaves the vector as it was; what was built is released
// (the sanitizer build checks for leaks).
TEST(XVecBlockTest, FailedAllocationLeavesTheVectorAsItWas) {
  XVec v;
  v.list<I>() = {element_of<I>(1), element_of<I>(3), BigInt(7)};
  v.list<F64>() = {1.5, 2.5};
  v.list<D>() = {decimal(125, 2)};
  Model model;
  std::get<kind_index(I)>(model) = as_vector(v.list<I>());
  std::get<kind_index(F64)>(model) = {1.5, 2.5};
  std::get<kind_index(D)>(model) = {decimal(125, 2)};
  const std::vector<BigInt> longer = {element_of<I>(5), element_of<I>(9), element_of<I>(11),
                                      element_of<I>(13)};
  const auto unchanged = [&] { expect_matches(v, model, " after a failed allocation"); };

  XVec different = XVec::with_lengths({0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0});
  different.list<I>() = {element_of<I>(21), element_of<I>(23)};
  Model different_model;
  std::get<kind_index(I)>(different_model) = as_vector(different.list<I>());

  // Each big integer with limbs copied is one allocation more that can fail mid-fill.
  EXPECT_GE(fail_each_allocation([&] { XVec copy = v.clone(); }, unchanged), 3);
  EXPECT_GE(fail_each_allocation([&] { v.list<I>() = longer; }, unchanged), 5);
  EXPECT_EQ(as_vector(v.list<I>()), longer);
  std::get<kind_index(I)>(model) = longer;
  EXPECT_EQ(fail_each_allocation([&] { v.list<F64>().push_back(3.5); }, unchanged), 1);
  std::get<kind_index(F64)>(model).push_back(3.5);
  EXPECT_GE(fail_each_allocation([&] { different.assign(v); },
                                 [&] { expect_matches(different, different_model, ""); }),
            5);
  expect_matches(different, model, " assigned");
  // Shortening happens in place and allocates nothing.
  EXPECT_EQ(fail_each_allocation([&] { v.list<I>().resize(1); }, unchanged), 0);
}

// A block's offsets have 32 bits: a vector larger than that is refused as memory that cannot
// be had, before any is asked for, and the vector is left as it was.
TEST(XVecBlockTest, LengthsBeyondTheBlockLimitAreRefused) {
  XVec v;
  v.list<I8>() = {1, 2};
  EXPECT_THROW(v.list<F64>().resize(std::size_t{1} << 30), std::bad_alloc);
  EXPECT_THROW(
      XVec::with_lengths({std::size_t{1} << 31, std::size_t{1} << 31, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
      std::bad_alloc);
  EXPECT_EQ(v.list<I8>(), (std::vector<std::int8_t>{1, 2}));
  EXPECT_TRUE(v.list<F64>().empty());
}

}  // namespace
}  // namespace swarmtuner
