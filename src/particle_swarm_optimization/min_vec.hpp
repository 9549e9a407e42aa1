// Choice of the swarm's starting best: the first particle, in index order, with the smallest value.
#pragma once

#include <cstddef>
#include <span>

#include "particle_swarm_optimization/objective.hpp"
#include "numeric_core/failure.hpp"

namespace swarmtuner {

// Returns the index of the chosen particle. The current best is always the left operand, so
// among equal values the earliest wins; a pair without an ordering ends the search.
template <class Particle, class Compare>
std::size_t min_vec(std::span<const Particle> swarm, Compare&& compare) {
  if (swarm.empty()) fail("n_particles is 0!");
  std::size_t best = 0;
  for (std::size_t k = 1; k < swarm.size(); ++k) {
    const std::optional<Ordering> order = compare(swarm[best].best_value, swarm[k].best_value);
    if (!order) fail("failed to compare");
    if (*order == Ordering::Greater) best = k;
  }
  return best;
}

}  // namespace swarmtuner
