// Tests of the swarm search with plain C++ objectives: the choice of the starting best, then the
// search loop.
#include "particle_swarm_optimization/swarm_search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "failure_message.hpp"

namespace swarmtuner {
namespace {

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
  return min_vec(std::span<const Item>(items), python_like);
}

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

struct Case {
  std::vector<double> values;
  std::size_t expected;
};

class MinVecChoice : public ::testing::TestWithParam<Case> {};

TEST_P(MinVecChoice, PicksFirstSmallest) {
  std::vector<Item> items;
  for (double v : GetParam().values) items.push_back({v});
  EXPECT_EQ(choose(items), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, MinVecChoice,
    ::testing::Values(Case{{3, 1, 1, 2}, 1}, Case{{5}, 0}, Case{{1, 1}, 0}, Case{{2, 3, 0}, 2},
                      // NaN compares Greater from either side, so it both wins and loses.
                      Case{{1.0, 0.5, nan}, 2}, Case{{1.0, nan, 0.5}, 2}, Case{{nan, 1.0}, 1}));

TEST(MinVec, EmptySwarmFails) {
  try {
    choose({});
    FAIL() << "expected a failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), "n_particles is 0!");
  }
}

TEST(MinVec, UnorderedPairFailsAtOnce) {
  int comparisons = 0;
  const std::vector<Item> items{{1.0}, {std::nullopt}, {0.0}};
  const auto counting = [&](const auto& a, const auto& b) {
    ++comparisons;
    return python_like(a, b);
  };
  try {
    min_vec(std::span<const Item>(items), counting);
    FAIL() << "expected a failure";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), "failed to compare");
  }
  EXPECT_EQ(comparisons, 1);
}

TEST(MinVec, SingleParticleNeedsNoComparison) {
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
    for (double x : position.f64) sum += x * x;
    for (std::int32_t x : position.i32) sum += static_cast<double>(x) * x;
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
  v.f64 = std::move(f64);
  v.i32 = std::move(i32);
  return v;
}

PsoSettings small_settings(std::uint64_t n_particles, std::uint64_t n_iters) {
  PsoSettings s;
  s.n_particles = n_particles;
  s.n_iters = n_iters;
  return s;
}

TEST(SwarmSearch, CallsObjectiveOncePerParticlePerSweepPlusStart) {
  RecordingSphere sphere;
  swarm_min(small_settings(7, 5), sphere, bounds({-5, -5}, {-3}), bounds({5, 5}, {4}));
  EXPECT_EQ(sphere.points.size(), 7u * 6u);
  EXPECT_EQ(sphere.negations, 0);
}

TEST(SwarmSearch, ResultIsFirstSmallestValueSeenAndWhereItWasSeen) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_min(small_settings(10, 20), sphere, bounds({-3, -1}, {-9}), bounds({4, 2}, {9}));
  std::size_t first_best = 0;
  for (std::size_t k = 1; k < sphere.values.size(); ++k) {
    if (sphere.values[k] < sphere.values[first_best]) first_best = k;
  }
  EXPECT_EQ(result.value, sphere.values[first_best]);
  EXPECT_EQ(result.position.f64, sphere.points[first_best].f64);
  EXPECT_EQ(result.position.i32, sphere.points[first_best].i32);
}

TEST(SwarmSearch, EvaluatedPointsStayWithinBounds) {
  RecordingSphere sphere;
  swarm_min(small_settings(8, 15), sphere, bounds({1, -2}, {10}), bounds({3, 2}, {12}));
  for (const XVec& point : sphere.points) {
    ASSERT_EQ(point.f64.size(), 2u);
    ASSERT_EQ(point.i32.size(), 1u);
    EXPECT_GE(point.f64[0], 1.0);
    EXPECT_LE(point.f64[0], 3.0);
    EXPECT_GE(point.f64[1], -2.0);
    EXPECT_LE(point.f64[1], 2.0);
    EXPECT_GE(point.i32[0], 10);
    EXPECT_LE(point.i32[0], 12);
  }
}

TEST(SwarmSearch, MaximiseNegatesEveryValueAndTheResult) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_max(small_settings(4, 3), sphere, bounds({-1}, {}), bounds({1}, {}));
  EXPECT_EQ(sphere.negations, 4 * 4 + 1);
  double largest = sphere.values.front();
  for (double v : sphere.values) largest = std::max(largest, v);
  EXPECT_EQ(result.value, largest);
}

TEST(SwarmSearch, EmptySpaceEvaluatesEmptyPoints) {
  RecordingSphere sphere;
  const SwarmResult<double> result = swarm_min(small_settings(3, 2), sphere, XVec(), XVec());
  EXPECT_EQ(sphere.points.size(), 9u);
  for (const XVec& point : sphere.points) EXPECT_TRUE(point.empty());
  EXPECT_TRUE(result.position.empty());
}

TEST(SwarmSearch, EmptySwarmFailsAfterBoundsAreChecked) {
  RecordingSphere sphere;
  EXPECT_EQ(failure_of(
                [&] { swarm_min(small_settings(0, 5), sphere, bounds({0}, {}), bounds({1}, {})); }),
            "n_particles is 0!");
  EXPECT_EQ(failure_of(
                [&] { swarm_min(small_settings(0, 5), sphere, bounds({1}, {}), bounds({0}, {})); }),
            "Uniform::new called with `low >= high`");
  EXPECT_TRUE(sphere.points.empty());
}

TEST(SwarmSearch, BadBoundsFailBeforeTheObjectiveIsCalled) {
  RecordingSphere sphere;
  EXPECT_EQ(failure_of([&] {
              swarm_min(small_settings(2, 5), sphere, bounds({0}, {5}), bounds({1}, {5}));
            }),
            "Uniform::new called with `low >= high`");
  EXPECT_TRUE(sphere.points.empty());
}

TEST(SwarmSearch, ZeroSweepsEvaluateOnlyTheStartingSwarm) {
  RecordingSphere sphere;
  const SwarmResult<double> result =
      swarm_min(small_settings(5, 0), sphere, bounds({-1}, {}), bounds({1}, {}));
  EXPECT_EQ(sphere.points.size(), 5u);
  EXPECT_EQ(result.value, *std::min_element(sphere.values.begin(), sphere.values.end()));
}

}  // namespace
}  // namespace swarmtuner
