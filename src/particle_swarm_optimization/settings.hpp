// The six settings of the optimiser, as the search reads them.
#pragma once

#include <cstdint>

namespace swarmtuner {

struct PsoSettings {
  std::uint64_t n_iters = 1000;   // number of sweeps
  std::uint64_t n_particles = 30; // size of the swarm
  double c1 = 2.0;                // pull towards the swarm's best position
  double c2 = 2.0;                // pull towards the particle's own best position
  double inertia = 0.5;           // applied to every velocity after each sweep
  double max_v = 0.2;             // velocity limit as a fraction of each dimension's range
};

}  // namespace swarmtuner
