// The particle step against its definition: the sequence of whole-vector operations.
#include "particle_swarm_optimization/step.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "numeric_core/list_ops.hpp"
#include "test_support.hpp"

namespace swarmtuner {
namespace {

using enum ElementKind;

// The step as the search defines it, on fresh vectors.
void reference_step(XVec& position, XVec& velocity, const XVec& best_position,
                    const XVec& global_best, double c1, double c2, const ParticleLimits& limits) {
  XVec social = XVec::sub(global_best.clone(), position);
  social.mul_assign(c1);
  XVec cognitive = XVec::sub(best_position.clone(), position);
  cognitive.mul_assign(c2);
  social.add_in_place(cognitive);
  velocity.add_in_place(social);
  for_each_kind([&]<ElementKind K>(KindTag<K>) { finite_velocity_list(velocity.list<K>()); });
  position.add_assign(velocity);
  clamp_particle(position, velocity, limits.lower, limits.upper, limits.velocity_min,
                 limits.velocity_max);
}

// Bit for bit: float zeros and NaN payloads, decimal scales.
template <class T>
bool same_element(const T& a, const T& b) {
  if constexpr (std::same_as<T, float>) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
  } else if constexpr (std::same_as<T, double>) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  } else if constexpr (ComplexElement<T>) {
    return same_element(a.re, b.re) && same_element(a.im, b.im);
  } else if constexpr (std::same_as<T, Decimal>) {
    return a.identical(b);
  } else {
    return a == b;
  }
}

// The first kind and position where two vectors differ, or "" when they are identical.
std::string difference(const XVec& a, const XVec& b) {
  std::string found;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const auto& x = a.list<K>();
    const auto& y = b.list<K>();
    if (!found.empty()) return;
    if (x.size() != y.size()) {
      found = std::string(kind_name(K)) + " lengths " + std::to_string(x.size()) + " and " +
              std::to_string(y.size());
      return;
    }
    for (std::size_t j = 0; j < x.size(); ++j) {
      if (!same_element(x[j], y[j])) {
        found = std::string(kind_name(K)) + "[" + std::to_string(j) + "]";
        return;
      }
    }
  });
  return found;
}

// Values that reach every rule: saturation, NaN, infinities, signed zeros, decimal scales and
// coefficients near 2^96, big integers of several limbs and beyond binary64.
class Values {
 public:
  explicit Values(std::uint64_t seed) : rng_(seed) {}

  std::uint64_t below(std::uint64_t n) { return rng_() % n; }

  template <ElementKind K>
  Element<K> draw() {
    using T = Element<K>;
    if constexpr (FixedWidthInt<T>) {
      const UInt128 bits = (UInt128{rng_()} << 64) | rng_();
      switch (below(4)) {
        case 0:
          return static_cast<T>(bits);  // anywhere in the range
        case 1:
          return static_cast<T>(static_cast<std::int64_t>(below(41)) - 20);
        case 2:
          return element_detail::int_max<T>;
        default:
          return element_detail::int_min<T>;
      }
    } else if constexpr (std::floating_point<T>) {
      return static_cast<T>(draw_double());
    } else if constexpr (ComplexElement<T>) {
      using F = decltype(T{}.re);
      return T{static_cast<F>(draw_double()), static_cast<F>(draw_double())};
    } else if constexpr (std::same_as<T, BigInt>) {
      // One to three 32-bit words; now and then a value beyond binary64, whose scaling fails.
      std::vector<std::uint32_t> words(1 + below(3));
      for (auto& word : words) word = static_cast<std::uint32_t>(rng_());
      if (below(20) == 0) words.assign(33, 0xFFFFFFFFu);
      const BigInt value = BigInt::from_le_words(words);
      return below(2) == 0 ? value : -value;
    } else {
      static_assert(std::same_as<T, Decimal>);
      const std::uint32_t scale = static_cast<std::uint32_t>(below(29));
      UInt128 coefficient = below(4) == 0
                                ? ((UInt128{rng_()} << 64) | rng_()) & Decimal::max_coefficient
                                : UInt128{below(100000)};
      return *Decimal::from_parts(coefficient, scale, below(2) == 0);
    }
  }

  template <ElementKind K>
  std::vector<Element<K>> list(std::size_t n) {
    std::vector<Element<K>> out;
    for (std::size_t j = 0; j < n; ++j) out.push_back(draw<K>());
    return out;
  }

  double coefficient() {
    static constexpr double choices[] = {0.7,    2.0,   -1.5,   0.0, -0.0,
                                         0.3333, 1e300, 1e-300, inf, nan};
    return choices[below(std::size(choices))];
  }

 private:
  double draw_double() {
    switch (below(8)) {
      case 0:
        return nan;
      case 1:
        return below(2) == 0 ? inf : -inf;
      case 2:
        return below(2) == 0 ? 0.0 : -0.0;
      case 3:
        return std::bit_cast<double>(rng_());  // any bit pattern
      default:
        return (static_cast<double>(below(2001)) - 1000.0) / 8.0;
    }
  }

  std::mt19937_64 rng_;
};

struct StepCase {
  XVec position, velocity, best_position, global_best, lower, upper, velocity_min, velocity_max;
  double c1 = 0.0;
  double c2 = 0.0;
};

// Usually one length per kind shared by the four step vectors (the search's case); sometimes
// one of them, or one limit list, differs, unless `search_shape` asks for a search's lengths
// throughout.
StepCase draw_case(Values& values, bool search_shape = false) {
  StepCase c;
  XVec* const step_vectors[] = {&c.position, &c.velocity, &c.best_position, &c.global_best};
  XVec* const limit_vectors[] = {&c.lower, &c.upper, &c.velocity_min, &c.velocity_max};
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    const std::size_t n = values.below(3) == 0 ? 0 : values.below(6);
    for (XVec* v : step_vectors) {
      const std::size_t length = !search_shape && values.below(8) == 0 ? values.below(6) : n;
      v->list<K>() = values.list<K>(length);
    }
    for (XVec* v : limit_vectors) {
      const std::size_t length = !search_shape && values.below(8) == 0 ? values.below(6) : n;
      v->list<K>() = values.list<K>(length);
    }
  });
  c.c1 = values.coefficient();
  c.c2 = values.coefficient();
  return c;
}

// Steps copies of the case by the sequence and by step_particle: "" when both give the same
// values or the same first failure, else what differs. `failed` tells whether they failed.
std::string step_against_sequence(const StepCase& c, StepScratch& scratch, bool& failed) {
  XVec expected_position = c.position.clone();
  XVec expected_velocity = c.velocity.clone();
  const ParticleLimits limits{c.lower, c.upper, c.velocity_min, c.velocity_max};
  const std::string expected_failure = failure_of([&] {
    reference_step(expected_position, expected_velocity, c.best_position, c.global_best, c.c1, c.c2,
                   limits);
  });
  XVec position = c.position.clone();
  XVec velocity = c.velocity.clone();
  const std::string failure = failure_of([&] {
    step_particle(position, velocity, c.best_position, c.global_best, ScaleFactor(c.c1),
                  ScaleFactor(c.c2), limits, scratch);
  });
  failed = !expected_failure.empty();
  if (failure != expected_failure)
    return "failure '" + failure + "', expected '" + expected_failure + "'";
  if (failed) return "";
  const std::string position_difference = difference(position, expected_position);
  if (!position_difference.empty()) return "position " + position_difference;
  const std::string velocity_difference = difference(velocity, expected_velocity);
  return velocity_difference.empty() ? "" : "velocity " + velocity_difference;
}

TEST(StepParticleTest, AgreesWithTheSequenceBitForBitIncludingItsFirstFailure) {
  Values values(20261207);
  StepScratch scratch;  // reused across cases of every shape, as in a search
  int failures = 0;
  for (int trial = 0; trial < 5000; ++trial) {
    bool failed = false;
    ASSERT_EQ(step_against_sequence(draw_case(values), scratch, failed), "") << "trial " << trial;
    failures += failed ? 1 : 0;
  }
  // Both outcomes must be well represented for the comparison to mean anything.
  EXPECT_GT(failures, 500);
  EXPECT_LT(failures, 4500);
}

// A search's step with the previous sweep's inertia carried into it, followed by the inertia
// pass of the kinds it does not carry, against that pass over the whole velocity followed by
// the step: the same values, and the same first failure (the carried kinds never fail). The
// velocity is first clamped, as the step before leaves it in a search, which is what lets the
// big integers and decimals carry it too where their limits scale.
TEST(StepParticleTest, CarriedInertiaEqualsTheInertiaPassBeforeTheStep) {
  Values values(20261209);
  StepScratch scratch;
  int compared = 0;
  int big_ints_carried = 0;
  int decimals_carried = 0;
  for (int trial = 0; trial < 6000; ++trial) {
    StepCase c = draw_case(values, trial % 2 == 0);
    clamp_particle(c.position, c.velocity, c.lower, c.upper, c.velocity_min, c.velocity_max);
    const ScaleFactor inertia(values.below(2) == 0 ? 0.7 : values.coefficient());
    const ParticleLimits limits{c.lower, c.upper, c.velocity_min, c.velocity_max};
    const ScaleFactor c1(c.c1);
    const ScaleFactor c2(c.c2);

    XVec expected_position = c.position.clone();
    XVec expected_velocity = c.velocity.clone();
    const std::string expected_failure = failure_of([&] {
      expected_velocity.mul_assign(inertia);
      step_particle(expected_position, expected_velocity, c.best_position, c.global_best, c1, c2,
                    limits, scratch);
    });

    XVec position = c.position.clone();
    XVec velocity = c.velocity.clone();
    StepPlan plan = plan_step(position, velocity, c.best_position, c.global_best, limits);
    carry_exact_inertia(plan, inertia, limits);
    const std::string failure = failure_of([&] {
      scale_unfused_velocity(velocity, inertia, plan);
      step_particle(position, velocity, c.best_position, c.global_best, c1, c2, limits, plan,
                    scratch, &inertia);
    });
    ASSERT_EQ(failure, expected_failure) << "trial " << trial;
    big_ints_carried += plan.big_int_inertia_carried && !position.list<ElementKind::I>().empty();
    decimals_carried += plan.decimal_inertia_carried && !position.list<ElementKind::D>().empty();
    if (!failure.empty()) continue;
    ++compared;
    ASSERT_EQ(difference(position, expected_position), "") << "position, trial " << trial;
    ASSERT_EQ(difference(velocity, expected_velocity), "") << "velocity, trial " << trial;
  }
  EXPECT_GT(compared, 500);
  EXPECT_GT(big_ints_carried, 300);
  EXPECT_GT(decimals_carried, 300);
}

// A search's big integers held in the wide form, stepped a few times with the inertia carried
// and the bests moved to the position between steps, against the same steps in BigInts: the same
// positions, velocities and first failure. Values of about 250 bits and large factors take
// pulls out of the wide form, so elements leave it and come back.
TEST(StepParticleTest, WideBigIntegersFollowTheBigIntStep) {
  std::mt19937_64 rng(20261210);
  const auto about_bits = [&rng](std::size_t around) {
    const std::size_t bits = around - 12 + rng() % 14;
    std::vector<std::uint32_t> words((bits + 31) / 32);
    for (auto& word : words) word = static_cast<std::uint32_t>(rng());
    if (bits % 32 != 0) words.back() &= (1u << (bits % 32)) - 1;
    const BigInt value = BigInt::from_le_words(words);
    return rng() % 2 == 0 ? value : -value;
  };
  static constexpr double factors[] = {0.7, 1.0, 2.0, -3.0, 1e-3, 0x1p-200, 1e30, 1e300, nan};
  static constexpr double inertias[] = {0.7, 0.9, 1.5, 1e30};
  constexpr std::size_t sizes[] = {70, 130, 200, 250};
  StepScratch scratch;
  int wide_cases = 0;
  int failures = 0;
  int steps = 0;
  for (int trial = 0; trial < 3000; ++trial) {
    const std::size_t n = 1 + rng() % 4;
    const std::size_t bits = sizes[rng() % std::size(sizes)];
    StepCase c;
    for (XVec* v : {&c.position, &c.velocity, &c.best_position, &c.global_best, &c.lower, &c.upper,
                    &c.velocity_min, &c.velocity_max}) {
      for (std::size_t j = 0; j < n; ++j) v->list<I>().push_back(about_bits(bits));
    }
    clamp_particle(c.position, c.velocity, c.lower, c.upper, c.velocity_min, c.velocity_max);
    const ParticleLimits limits{c.lower, c.upper, c.velocity_min, c.velocity_max};
    const ScaleFactor c1(factors[rng() % std::size(factors)]);
    const ScaleFactor c2(factors[rng() % std::size(factors)]);
    const ScaleFactor inertia(inertias[rng() % std::size(inertias)]);
    XVec expected_position = c.position.clone();
    XVec expected_velocity = c.velocity.clone();
    StepPlan plan =
        plan_step(expected_position, expected_velocity, c.best_position, c.global_best, limits);
    carry_exact_inertia(plan, inertia, limits);
    WideBigInts wide(plan, limits, 1);
    XVec position = c.position.clone();
    XVec velocity = c.velocity.clone();
    wide.load_particle(0, position, velocity, c.best_position);
    wide.load_global_best(c.global_best);
    if (!wide.active()) continue;
    ++wide_cases;
    for (int step = 0; step < 4; ++step) {
      const ScaleFactor* const carried = step == 0 ? nullptr : &inertia;
      const std::string expected_failure = failure_of([&] {
        step_particle(expected_position, expected_velocity, c.best_position, c.global_best, c1, c2,
                      limits, plan, scratch, carried);
      });
      scratch.wide = &wide;
      const std::string failure = failure_of([&] {
        step_particle(position, velocity, c.best_position, c.global_best, c1, c2, limits, plan,
                      scratch, carried);
      });
      scratch.wide = nullptr;
      const WideMoveLists lists = wide.lists(0);
      ASSERT_EQ(failure, expected_failure) << "trial " << trial << ", step " << step;
      if (!failure.empty()) {
        ++failures;
        break;
      }
      ++steps;
      ASSERT_EQ(difference(position, expected_position), "") << "trial " << trial;
      for (std::size_t j = 0; j < n; ++j) {
        BigInt wide_velocity;
        lists.v[j].store(wide_velocity);
        ASSERT_EQ(wide_velocity, expected_velocity.list<I>()[j]) << "trial " << trial;
        ASSERT_EQ(lists.x[j], *WideInt::load(position.list<I>()[j])) << "trial " << trial;
      }
      // The bests move to the position, as a search moves them on an improvement.
      if (step == 1) {
        c.best_position.assign(position);
        wide.best_is_position(0);
      } else if (step == 2) {
        c.global_best.assign(position);
        wide.global_best_is_position(0);
      }
    }
  }
  EXPECT_GT(wide_cases, 1500);
  EXPECT_GT(failures, 100);
  EXPECT_GT(steps, 3000);
}

// Big integers at the edges of the forms the step holds them in: near the ends of a machine word
// (where differences, products, velocity or position leave the word for limbs), of about 122
// bits and of about 250 bits (where values and pulls leave the two- and four-limb working forms
// for the next, and the new position lands outside them). Some factors make the scalings fail.
TEST(StepParticleTest, BigIntegersAtTheEdgesOfTheirFormsFollowTheSequence) {
  std::mt19937_64 rng(20261208);
  const auto near_a_word = [&rng] {
    const auto offset = static_cast<std::int64_t>(rng() % 3);
    switch (rng() % 4) {
      case 0:
        return BigInt(std::numeric_limits<std::int64_t>::max() - offset);
      case 1:
        return BigInt(std::numeric_limits<std::int64_t>::min() + offset);
      case 2:
        return BigInt(static_cast<std::int64_t>(rng() % 2001) - 1000);
      default: {
        const auto magnitude =
            static_cast<std::int64_t>((std::uint64_t{1} << (60 + rng() % 3)) + rng() % 1000);
        return BigInt(rng() % 2 == 0 ? magnitude : -magnitude);
      }
    }
  };
  const auto about_bits = [&rng](std::size_t around) {
    const std::size_t bits = around - 14 + rng() % 24;
    std::vector<std::uint32_t> words((bits + 31) / 32);
    for (auto& word : words)
      word = rng() % 4 == 0 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rng());
    if (bits % 32 != 0) words.back() &= (1u << (bits % 32)) - 1;
    const BigInt value = BigInt::from_le_words(words);
    return rng() % 2 == 0 ? value : -value;
  };
  static constexpr double factors[] = {0.7, 1.0, 2.0, 8.0, -3.0, 1e-3, 0x1p-200, 1e300, nan};
  StepScratch scratch;
  int failures = 0;
  for (int trial = 0; trial < 9000; ++trial) {
    const std::size_t n = 1 + rng() % 4;
    StepCase c;
    for (XVec* v : {&c.position, &c.velocity, &c.best_position, &c.global_best, &c.lower, &c.upper,
                    &c.velocity_min, &c.velocity_max}) {
      for (std::size_t j = 0; j < n; ++j) {
        v->list<I>().push_back(trial % 3 == 0   ? near_a_word()
                               : trial % 3 == 1 ? about_bits(122)
                                                : about_bits(250));
      }
    }
    c.c1 = factors[rng() % std::size(factors)];
    c.c2 = factors[rng() % std::size(factors)];
    bool failed = false;
    ASSERT_EQ(step_against_sequence(c, scratch, failed), "") << "trial " << trial;
    failures += failed ? 1 : 0;
  }
  EXPECT_GT(failures, 100);
  EXPECT_LT(failures, 8900);
}

// The same vector in several roles (never so in a search) still means the sequence.
TEST(StepParticleTest, SharedVectorsFollowTheSequence) {
  Values values(7);
  StepScratch scratch;
  for (int trial = 0; trial < 500; ++trial) {
    const StepCase c = draw_case(values);
    const ParticleLimits limits{c.lower, c.upper, c.velocity_min, c.velocity_max};
    XVec expected = c.position.clone();
    const std::string expected_failure = failure_of(
        [&] { reference_step(expected, expected, expected, expected, c.c1, c.c2, limits); });
    XVec shared = c.position.clone();
    const std::string failure = failure_of([&] {
      step_particle(shared, shared, shared, shared, ScaleFactor(c.c1), ScaleFactor(c.c2), limits,
                    scratch);
    });
    ASSERT_EQ(failure, expected_failure) << "trial " << trial;
    if (failure.empty()) {
      ASSERT_EQ(difference(shared, expected), "") << "trial " << trial;
    }
  }
}

// Where both the big integers and the decimals fail, the earlier operation decides, and in the
// same operation the big integers come first.
TEST(StepParticleTest, FailureOfTheEarlierOperationIsReported) {
  const BigInt huge = BigInt::from_le_words(std::vector<std::uint32_t>(33, 0xFFFFFFFFu));
  const Decimal max = *Decimal::from_parts(Decimal::max_coefficient, 0, false);

  XVec zeros;
  zeros.list<I>() = {BigInt(0)};
  zeros.list<D>() = {Decimal{}};
  const ParticleLimits limits{zeros, zeros, zeros, zeros};
  StepScratch scratch;
  const ScaleFactor one(1.0);

  // Decimal subtraction (first operation) against big integer scaling (second).
  XVec position = zeros.clone();
  position.list<D>() = {-max};
  XVec global_best = zeros.clone();
  global_best.list<I>() = {huge};
  global_best.list<D>() = {max};
  XVec velocity = zeros.clone();
  EXPECT_EQ(failure_of([&] {
              step_particle(position, velocity, zeros, global_best, one, one, limits, scratch);
            }),
            failure_text::decimal_subtraction.text);

  // Both fail in the scaling: the big integers are scaled first.
  position = zeros.clone();
  global_best.list<D>() = {max};
  const ScaleFactor big_factor(1e28);
  velocity = zeros.clone();
  global_best.list<I>() = {huge};
  EXPECT_EQ(failure_of([&] {
              step_particle(position, velocity, zeros, global_best, big_factor, one, limits,
                            scratch);
            }),
            failure_text::big_int_scaling.text);
}

// ---- Several failing elements: the fused kernels report the sequence's first failure ----

// What an element is made to do in the step, with both factors 1.5: succeed, or fail at one
// operation of the sequence (the big integers can only fail in a scaling).
enum class Fate {
  Moves,
  SocialSub,
  SocialScale,
  CognitiveSub,
  CognitiveScale,
  PullSum,
  VelocityAdd,
  PositionAdd,
};

struct Element4 {
  Decimal x, v, b, g;
};

Element4 decimal_element(Fate fate) {
  const Decimal max = *Decimal::from_parts(Decimal::max_coefficient, 0, false);
  const Decimal half = *Decimal::from_parts(Decimal::max_coefficient / 2, 0, false);
  // 0.6 max: each pull is 0.9 max, their sum beyond max.
  const Decimal large = *Decimal::from_parts(Decimal::max_coefficient / 5 * 3, 0, false);
  const Decimal zero;
  const Decimal one = Decimal::from_i64(1);
  switch (fate) {
    case Fate::Moves:
      return {one, one, zero, one};
    case Fate::SocialSub:
      return {-max, zero, zero, max};
    case Fate::SocialScale:
      return {zero, zero, zero, max};
    case Fate::CognitiveSub:
      return {-half, zero, max, -half};
    case Fate::CognitiveScale:
      return {zero, zero, max, zero};
    case Fate::PullSum:
      return {zero, zero, large, large};
    case Fate::VelocityAdd:
      return {zero, max, one, one};
    case Fate::PositionAdd:
      return {max, one, max, max};
  }
  return {};
}

// A big integer beyond binary64 (every scaling of it fails) where the fate asks for a failure.
struct BigElement4 {
  BigInt x, v, b, g;
};

BigElement4 big_int_element(Fate fate) {
  const BigInt huge = BigInt::from_le_words(std::vector<std::uint32_t>(33, 0xFFFFFFFFu));
  switch (fate) {
    case Fate::SocialScale:
      return {BigInt(0), BigInt(0), BigInt(0), huge};
    case Fate::CognitiveScale:
      return {BigInt(0), BigInt(0), huge, BigInt(0)};
    default:
      return {BigInt(3), BigInt(-1), BigInt(5), BigInt(7)};
  }
}

struct SeveralFailuresCase {
  const char* name;
  std::vector<Fate> decimals;
  std::vector<Fate> big_ints;
  std::string_view expected;  // the failure of the earliest operation, big integers first
  double c1 = 1.5;
  double c2 = 1.5;
};

void PrintTo(const SeveralFailuresCase& c, std::ostream* os) {
  *os << c.name;
}

class StepWithSeveralFailures : public testing::TestWithParam<SeveralFailuresCase> {};

TEST_P(StepWithSeveralFailures, ReportsTheFailureOfTheSequence) {
  const SeveralFailuresCase& c = GetParam();
  XVec position;
  XVec velocity;
  XVec best_position;
  XVec global_best;
  for (const Fate fate : c.decimals) {
    const Element4 e = decimal_element(fate);
    position.list<ElementKind::D>().push_back(e.x);
    velocity.list<ElementKind::D>().push_back(e.v);
    best_position.list<ElementKind::D>().push_back(e.b);
    global_best.list<ElementKind::D>().push_back(e.g);
  }
  for (const Fate fate : c.big_ints) {
    const BigElement4 e = big_int_element(fate);
    position.list<ElementKind::I>().push_back(e.x);
    velocity.list<ElementKind::I>().push_back(e.v);
    best_position.list<ElementKind::I>().push_back(e.b);
    global_best.list<ElementKind::I>().push_back(e.g);
  }
  // Wide bounds, so that only the arithmetic can fail.
  XVec lower = position.zeros_like();
  XVec upper = position.zeros_like();
  const ParticleLimits limits{lower, upper, lower, upper};

  XVec expected_position = position.clone();
  XVec expected_velocity = velocity.clone();
  const std::string expected = failure_of([&] {
    reference_step(expected_position, expected_velocity, best_position, global_best, c.c1, c.c2,
                   limits);
  });
  // The sequence itself reports the failure the case was built for.
  EXPECT_EQ(expected, c.expected);

  StepScratch scratch;
  const std::string fused = failure_of([&] {
    step_particle(position, velocity, best_position, global_best, ScaleFactor(c.c1),
                  ScaleFactor(c.c2), limits, scratch);
  });
  EXPECT_EQ(fused, expected);
}

using enum Fate;
const SeveralFailuresCase several_failures_cases[] = {
    {"each_decimal_operation_latest_first",
     {PositionAdd, VelocityAdd, PullSum, CognitiveScale, CognitiveSub, SocialScale, SocialSub},
     {},
     failure_text::decimal_subtraction.text},
    {"scale_before_later_decimal_failures",
     {Moves, PositionAdd, CognitiveSub, SocialScale, Moves, PullSum},
     {},
     failure_text::decimal_multiplication.text},
    {"cognitive_subtraction_before_later_failures",
     {VelocityAdd, Moves, PositionAdd, CognitiveSub, PullSum, CognitiveScale},
     {},
     failure_text::decimal_subtraction.text},
    {"pull_sum_before_the_velocity_and_position",
     {PositionAdd, VelocityAdd, PullSum},
     {},
     failure_text::decimal_addition.text},
    {"big_integers_before_decimals_in_the_same_scaling",
     {Moves, SocialScale},
     {Moves, SocialScale},
     failure_text::big_int_scaling.text},
    {"decimal_subtraction_before_a_big_integer_scaling",
     {Moves, PullSum, SocialSub},
     {CognitiveScale, SocialScale},
     failure_text::decimal_subtraction.text},
    {"decimal_social_scaling_before_a_big_integer_cognitive_one",
     {PositionAdd, SocialScale},
     {Moves, CognitiveScale, Moves},
     failure_text::decimal_multiplication.text},
    {"big_integer_cognitive_scaling_before_decimal_sums",
     {PullSum, VelocityAdd, CognitiveScale},
     {CognitiveScale},
     failure_text::big_int_scaling.text},
    // The factor's conversion comes before any product of the same scaling, and after the
    // big integers' scaling.
    {"unconvertible_factor_before_an_overflowing_product",
     {SocialScale, Moves},
     {},
     failure_text::decimal_factor.text,
     1e30},
    {"big_integer_scaling_before_an_unconvertible_factor",
     {Moves},
     {Moves, SocialScale},
     failure_text::big_int_scaling.text,
     1e30},
    {"unconvertible_second_factor_before_later_sums",
     {PullSum, Moves},
     {},
     failure_text::decimal_factor.text,
     1.5,
     1e30},
    {"social_subtraction_before_an_unconvertible_factor",
     {Moves, SocialSub},
     {},
     failure_text::decimal_subtraction.text,
     1e30},
};

INSTANTIATE_TEST_SUITE_P(Cases, StepWithSeveralFailures, testing::ValuesIn(several_failures_cases),
                         [](const testing::TestParamInfo<SeveralFailuresCase>& param_info) {
                           return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace swarmtuner
