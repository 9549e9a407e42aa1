// The move of one particle within a sweep: its new velocity and position, then the clamp.
#pragma once

#include <cstddef>
#include <vector>

#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

// The box a particle moves in, and the limits of its velocity.
struct ParticleLimits {
  const XVec& lower;
  const XVec& upper;
  const XVec& velocity_min;
  const XVec& velocity_max;
};

// The two pulls of a step are built here; the lists live across steps so that a step
// allocates nothing once the first one has sized them. The fused big-integer and decimal
// kernels note the elements that failed in the two index lists, which each step empties first.
struct StepScratch {
  XVec social;
  XVec cognitive;
  std::vector<std::size_t> failed_big_ints;
  std::vector<std::size_t> failed_decimals;
};

// One particle step, defined by this sequence of whole-vector operations:
//
//   social    = (global_best - position) * c1
//   cognitive = (best_position - position) * c2
//   velocity  = velocity + (social + cognitive), where a float component (or part) that is not
//               finite becomes zero (finite_velocity)
//   position  = position + velocity          (add_assign: position keeps its lengths)
//   clamp_particle(position, velocity, limits)
//
// Kinds whose elements live in registers cannot fail, so where the four vectors agree in
// length they are computed in one pass per element; big integers and decimals (and any kind
// whose lengths differ) follow the sequence operation by operation, so the first failure is
// the one the sequence reports.
void step_particle(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, StepScratch& scratch);

}  // namespace swarmtuner
