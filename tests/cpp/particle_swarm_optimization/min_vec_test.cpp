// Tests of the choice of the swarm's starting best.
#include "particle_swarm_optimization/min_vec.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace swarmtuner {
namespace {

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

}  // namespace
}  // namespace swarmtuner
