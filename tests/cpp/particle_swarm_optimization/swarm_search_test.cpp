// Tests of the swarm search with plain C++ objectives: the choice of the starting best, then the
// search loop.
#include "particle_swarm_optimization/swarm_search.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace swarmtuner {
namespace {

using enum ElementKind;

// ---- The starting best ---------------------------------------------------------------------

struct Item {
  std::optional<double> best_value;  // nullopt stands for a value that orders with nothing
};

// Orders like Python's float comparison chain: ==, then <; NaN never equal nor less.
std::optional<Ordering> python_like(const std::optional<double>& a,
                                    const std::optional<double>& b) {
  if (!a || !b) return std::nullopt;
  if (*a == *b) return Ordering::Equal;
  return *a < *b ? Ordering::Less : Ordering::Greater;
}

std::size_t choose(const std::vector<Item>& items) {
  return first_min_index(std::span<const Item>(items), python_like);
}

struct Case {
  std::vector<double> values;
  std::size_t expected;
};

class FirstMinIndexChoice : public ::testing::TestWithParam<Case> {};

TEST_P(FirstMinIndexChoice, PicksFirstSmallest) {
  std::vector<Item> items;
  for (double v : GetParam().values) items.push_back({v});
  EXPECT_EQ(choose(items), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FirstMinIndexChoice,
    ::testing::Values(Case{{3, 1, 1, 2}, 1}, Case{{5}, 0}, Case{{1, 1}, 0}, Case{{2, 3, 0}, 2},
                      // NaN compares Greater from either side, so it both wins and loses.
                      Case{{1.0, 0.5, nan}, 2}, Case{{1.0, nan, 0.5}, 2}, Case{{nan, 1.0}, 1}));

TEST(FirstMinIndex, EmptySwarmFails) {
  try {
    choose({});
    FAIL() << "expected a failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), failure_text::empty_swarm.text);
  }
}

TEST(FirstMinIndex, UnorderedPairFailsAtOnce) {
  int comparisons = 0;
  const std::vector<Item> items{{1.0}, {std::nullopt}, {0.0}};
  const auto counting = [&](const auto& a, const auto& b) {
    ++comparisons;
    return python_like(a, b);
  };
  try {
    first_min_index(std::span<const Item>(items), counting);
    FAIL() << "expected a failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), failure_text::failed_to_compare.text);
  }
  EXPECT_EQ(comparisons, 1);
}

TEST(FirstMinIndex, SingleParticleNeedsNoComparison) {
  const std::vector<Item> items{{std::nullopt}};
  EXPECT_EQ(choose(items), 0u);
}

// ---- The search loop -----------------------------------------------------------------------

// Sum of squares of the f64 and i32 components; records every point it is shown.
struct RecordingSphere {
  using Value = double;
  std::vector<XVec> points;
  std::vector<double> values;
  int negations = 0;

  double evaluate(const XVec& position) {
    double sum = 0;
    for (double x : position.list<F64>()) sum += x * x;
    for (std::int32_t x : position.list<I32>()) sum += static_cast<double>(x) * x;
    points.push_back(position.clone());
    values.push_back(sum);
    return sum;
  }
  std::optional<Ordering> compare(double a, double b) const {
    if (a == b) return Ordering::Equal;
    return a < b ? Ordering::Less : Ordering::Greater;
  }
  double negate(double value) {
    ++negations;
    return -value;
  }
};

XVec bounds(std::vector<double> f64, std::vector<std::int32_t> i32) {
  XVec v;
  v.list<F64>() = std::move(f64);
  v.list<I32>() = std::move(i32);
  return v;
}

// A generator with a fixed key: a search from it is the same on every run.
ChaChaRng fixed_rng() {
  ChaChaRng::Key key{};
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(7 * i + 1);
  return ChaChaRng(key);
}

PsoSettings small_settings(std::uint64_t n_particles, std::uint64_t n_iters) {
  PsoSettings s;
  s.n_particles = n_particles;
  s.n_iters = n_iters;
  return s;
}

class SwarmSearch : public ::testing::Test {
 protected:
  ChaChaRng rng = fixed_rng();
};

TEST_F(SwarmSearch, CallsObjectiveOncePerParticlePerSweepPlusStart) {
  RecordingSphere sphere;
  swarm_min(small_settings(7, 5), sphere, bounds({-5, -5}, {-3}), bounds({5, 5}, {4}), rng);
  EXPECT_EQ(sphere.points.size(), 7u * 6u);
  EXPECT_EQ(sphere.negations, 0);
}

TEST_F(SwarmSearch, ResultIsFirstSmallestValueSeenAndWhereItWasSeen) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_min(small_settings(10, 20), sphere, bounds({-3, -1}, {-9}), bounds({4, 2}, {9}), rng);
  std::size_t first_best = 0;
  for (std::size_t k = 1; k < sphere.values.size(); ++k) {
    if (sphere.values[k] < sphere.values[first_best]) first_best = k;
  }
  EXPECT_EQ(result.value, sphere.values[first_best]);
  EXPECT_EQ(as_vector(result.position.list<F64>()),
            as_vector(sphere.points[first_best].list<F64>()));
  EXPECT_EQ(as_vector(result.position.list<I32>()),
            as_vector(sphere.points[first_best].list<I32>()));
}

TEST_F(SwarmSearch, EvaluatedPointsStayWithinBounds) {
  RecordingSphere sphere;
  swarm_min(small_settings(8, 15), sphere, bounds({1, -2}, {10}), bounds({3, 2}, {12}), rng);
  for (const XVec& point : sphere.points) {
    ASSERT_EQ(point.list<F64>().size(), 2u);
    ASSERT_EQ(point.list<I32>().size(), 1u);
    EXPECT_GE(point.list<F64>()[0], 1.0);
    EXPECT_LE(point.list<F64>()[0], 3.0);
    EXPECT_GE(point.list<F64>()[1], -2.0);
    EXPECT_LE(point.list<F64>()[1], 2.0);
    EXPECT_GE(point.list<I32>()[0], 10);
    EXPECT_LE(point.list<I32>()[0], 12);
  }
}

TEST_F(SwarmSearch, MaximiseNegatesEveryValueAndTheResult) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_max(small_settings(4, 3), sphere, bounds({-1}, {}), bounds({1}, {}), rng);
  EXPECT_EQ(sphere.negations, 4 * 4 + 1);
  double largest = sphere.values.front();
  for (double v : sphere.values) largest = std::max(largest, v);
  EXPECT_EQ(result.value, largest);
}

TEST_F(SwarmSearch, EmptySpaceEvaluatesEmptyPoints) {
  RecordingSphere sphere;
  const SwarmResult<double> result = swarm_min(small_settings(3, 2), sphere, XVec(), XVec(), rng);
  EXPECT_EQ(sphere.points.size(), 9u);
  for (const XVec& point : sphere.points) EXPECT_TRUE(point.empty());
  EXPECT_TRUE(result.position.empty());
}

TEST_F(SwarmSearch, EmptySwarmFailsAfterBoundsAreChecked) {
  RecordingSphere sphere;
  EXPECT_EQ(failure_of([&] {
              swarm_min(small_settings(0, 5), sphere, bounds({0}, {}), bounds({1}, {}), rng);
            }),
            failure_text::empty_swarm.text);
  EXPECT_EQ(failure_of([&] {
              swarm_min(small_settings(0, 5), sphere, bounds({1}, {}), bounds({0}, {}), rng);
            }),
            failure_text::low_not_below_high.text);
  EXPECT_TRUE(sphere.points.empty());
}

TEST_F(SwarmSearch, BadBoundsFailBeforeTheObjectiveIsCalled) {
  RecordingSphere sphere;
  EXPECT_EQ(failure_of([&] {
              swarm_min(small_settings(2, 5), sphere, bounds({0}, {5}), bounds({1}, {5}), rng);
            }),
            failure_text::low_not_below_high.text);
  EXPECT_TRUE(sphere.points.empty());
}

TEST_F(SwarmSearch, ZeroSweepsEvaluateOnlyTheStartingSwarm) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_min(small_settings(5, 0), sphere, bounds({-1}, {}), bounds({1}, {}), rng);
  EXPECT_EQ(sphere.points.size(), 5u);
  EXPECT_EQ(result.value, *std::min_element(sphere.values.begin(), sphere.values.end()));
}

// ---- A whole search against a replay of its rule ----------------------------------------

// The search written out for two f64 dimensions, from the same generator: each start is drawn
// as the f64 rule draws (low + width * the top 52 bits of a 64-bit word as a fraction, which
// is exact for these power-of-two ranges), then every sweep applies
//   v += c1 * (swarm's best - x) + c2 * (own best - x);  x += v;  clamp;  and v *= inertia
// after the sweep. Returns every point evaluated, in order.
std::vector<std::array<double, 2>> replayed_search(ChaChaRng& rng, const PsoSettings& s,
                                                   std::array<double, 2> lo,
                                                   std::array<double, 2> hi,
                                                   double (*f)(double, double)) {
  struct Model {
    std::array<double, 2> x, v, best;
    double best_value;
  };
  std::vector<std::array<double, 2>> seen;
  std::vector<Model> swarm;
  for (std::uint64_t k = 0; k < s.n_particles; ++k) {
    Model m{};
    for (std::size_t j = 0; j < 2; ++j) {
      const double unit = static_cast<double>(rng.next_u64() >> 12) * 0x1p-52;
      m.x[j] = lo[j] + (hi[j] - lo[j]) * unit;
    }
    m.best = m.x;
    m.best_value = f(m.x[0], m.x[1]);
    seen.push_back(m.x);
    swarm.push_back(m);
  }
  std::size_t first = 0;
  for (std::size_t k = 1; k < swarm.size(); ++k) {
    if (swarm[k].best_value < swarm[first].best_value) first = k;
  }
  std::array<double, 2> g = swarm[first].best;
  double g_value = swarm[first].best_value;
  for (std::uint64_t sweep = 0; sweep < s.n_iters; ++sweep) {
    for (Model& m : swarm) {
      for (std::size_t j = 0; j < 2; ++j) {
        const double v_max = (hi[j] - lo[j]) * s.max_v;
        m.v[j] = m.v[j] + ((g[j] - m.x[j]) * s.c1 + (m.best[j] - m.x[j]) * s.c2);
        m.x[j] = m.x[j] + m.v[j];
        if (m.x[j] < lo[j] || m.x[j] > hi[j]) {
          m.x[j] = m.x[j] < lo[j] ? lo[j] : hi[j];
          m.v[j] = 0;
        } else if (m.v[j] < -v_max) {
          m.v[j] = -v_max;
        } else if (m.v[j] > v_max) {
          m.v[j] = v_max;
        }
      }
      const double value = f(m.x[0], m.x[1]);
      seen.push_back(m.x);
      if (value < m.best_value) {
        m.best_value = value;
        m.best = m.x;
        if (value < g_value) {
          g_value = value;
          g = m.x;
        }
      }
    }
    for (Model& m : swarm) {
      for (double& v : m.v) v *= s.inertia;
    }
  }
  return seen;
}

double off_centre(double a, double b) {
  return (a - 1.0) * (a - 1.0) + (b + 0.5) * (b + 0.5);
}

// Reads its two dimensions from two f64 components, or from the real and imaginary parts of
// one c128 component.
struct OffCentre {
  using Value = double;
  bool complex = false;
  std::vector<std::array<double, 2>> seen;

  double evaluate(const XVec& position) {
    const std::array<double, 2> x =
        complex ? std::array<double, 2>{as_vector(position.list<C128>()).at(0).re,
                                        as_vector(position.list<C128>()).at(0).im}
                : std::array<double, 2>{as_vector(position.list<F64>()).at(0),
                                        as_vector(position.list<F64>()).at(1)};
    seen.push_back(x);
    return off_centre(x[0], x[1]);
  }
  std::optional<Ordering> compare(double a, double b) const {
    if (a == b) return Ordering::Equal;
    return a < b ? Ordering::Less : Ordering::Greater;
  }
  double negate(double value) { return -value; }
};

// c1 and c2 differ and the inertia is not 1, so that the trajectory pins the role of each:
// exchanging the two pulls, or not damping the velocity after a sweep, moves the points.
TEST(SwarmSearchTrajectory, FollowsTheUpdateRuleFromAFixedKey) {
  PsoSettings settings;
  settings.n_particles = 4;
  settings.n_iters = 6;
  settings.c1 = 0.25;
  settings.c2 = 0.75;
  settings.inertia = 0.5;
  settings.max_v = 0.375;
  ChaChaRng search_rng = fixed_rng();
  ChaChaRng model_rng = fixed_rng();
  OffCentre objective;
  const SwarmResult<double> result =
      swarm_min(settings, objective, bounds({-4, -2}, {}), bounds({4, 2}, {}), search_rng);
  const std::vector<std::array<double, 2>> expected =
      replayed_search(model_rng, settings, {-4, -2}, {4, 2}, off_centre);
  ASSERT_EQ(objective.seen.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(objective.seen[k], expected[k]) << "evaluation " << k;
  }
  double best = off_centre(expected[0][0], expected[0][1]);
  for (const auto& point : expected) best = std::min(best, off_centre(point[0], point[1]));
  EXPECT_EQ(result.value, best);
  // The search drew exactly the starting components, no more.
  EXPECT_EQ(search_rng.next_u64(), model_rng.next_u64());
}

// A c128 component is drawn part by part as two f64 components are, and each part moves and is
// clamped as an f64 component: the search follows the same two-dimensional replay. The default
// coefficients overshoot, so that parts land on both bounds and velocities are cut.
TEST(SwarmSearchTrajectory, ComplexPartsFollowTheFloatRuleFromAFixedKey) {
  PsoSettings settings;
  settings.n_particles = 5;
  settings.n_iters = 12;
  ChaChaRng search_rng = fixed_rng();
  ChaChaRng model_rng = fixed_rng();
  OffCentre objective;
  objective.complex = true;
  XVec lower;
  lower.list<C128>() = {{-4.0, -2.0}};
  XVec upper;
  upper.list<C128>() = {{4.0, 2.0}};
  const SwarmResult<double> result =
      swarm_min(settings, objective, std::move(lower), std::move(upper), search_rng);
  const std::vector<std::array<double, 2>> expected =
      replayed_search(model_rng, settings, {-4, -2}, {4, 2}, off_centre);
  ASSERT_EQ(objective.seen.size(), expected.size());
  std::size_t on_a_bound = 0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(objective.seen[k], expected[k]) << "evaluation " << k;
    if (std::abs(expected[k][0]) == 4.0 || std::abs(expected[k][1]) == 2.0) ++on_a_bound;
  }
  EXPECT_GT(on_a_bound, 0u);
  double best = off_centre(expected[0][0], expected[0][1]);
  for (const auto& point : expected) best = std::min(best, off_centre(point[0], point[1]));
  EXPECT_EQ(result.value, best);
  EXPECT_EQ(search_rng.next_u64(), model_rng.next_u64());
}

}  // namespace
}  // namespace swarmtuner
