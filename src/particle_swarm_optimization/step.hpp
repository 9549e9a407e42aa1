// The move of one particle within a sweep: its new velocity and position, then the clamp.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "numeric_core/particle_step_kernels.hpp"
#include "numeric_core/x_vec.hpp"

namespace swarmtuner {

// The box a particle moves in, and the limits of its velocity.
struct ParticleLimits {
  const XVec& lower;
  const XVec& upper;
  const XVec& velocity_min;
  const XVec& velocity_max;
};

struct StepPlan;

// A search's big integers held in the wide form (WideInt) as well as in its particles' XVecs,
// across its sweeps: each particle's position, velocity and best, the swarm's best and the
// limits. The steps then read and write that form, and write each new position back to its
// BigInt, which the objective reads; the BigInt velocities are left as they were (the wide
// step writes one only when an element leaves the form, and nothing else in a search reads
// them).
class WideBigInts {
 public:
  // Active where the plan moves big integers by their fused kernel in placed lists, clamps
  // every component and carries their inertia (so that no inertia pass reads the BigInt
  // velocities), and every limit fits the wide form without all being words (the word step
  // is cheaper still).
  WideBigInts(const StepPlan& plan, const ParticleLimits& limits, std::size_t particles);

  bool active() const noexcept { return !limits_.empty(); }
  // Loads particle k's values, or the swarm's best. A value that does not fit the wide form
  // deactivates it for the rest of the search.
  void load_particle(std::size_t k, const XVec& position, const XVec& velocity,
                     const XVec& best_position);
  void load_global_best(const XVec& global_best);
  // After the search set particle k's best, or the swarm's, to the particle's position.
  void best_is_position(std::size_t k) noexcept;
  void global_best_is_position(std::size_t k) noexcept;
  // Particle k's lists for its step.
  WideMoveLists lists(std::size_t k) noexcept;

 private:
  WideInt* particle(std::size_t k) noexcept { return values_.data() + 3 * k * length_; }
  bool load(std::span<const BigInt> from, WideInt* to) noexcept;

  std::size_t length_ = 0;          // big-integer components
  std::vector<WideLimits> limits_;  // one per component; empty while inactive
  std::vector<WideInt> values_;     // per particle: position, velocity, best; then the swarm's best
};

// The two pulls of a step are built here; the lists live across steps so that a step
// allocates nothing once the first one has sized them. The fused big-integer and decimal
// kernels note the elements that failed in the two index lists, which each step empties first.
struct StepScratch {
  XVec social;
  XVec cognitive;
  std::vector<std::size_t> failed_big_ints;
  std::vector<std::size_t> failed_decimals;
  // Where the search holds its big integers in the wide form too (an active WideBigInts), the
  // steps move them in that form, as its particle `particle` (which the search sets before
  // each step).
  WideBigInts* wide = nullptr;
  std::size_t particle = 0;
};

// How the steps of a search take each kind: which kinds the fused kernels move, which follow
// the sequence operation by operation, and which have nothing to move. It depends only on the
// lengths of the step's lists and on whether its vectors are separate objects; in a search
// every particle's lists have the lengths of the bounds and every vector is its own, so the
// plan of its first step is the plan of every step.
struct StepPlan {
  std::uint32_t fused_kinds = 0;         // register kinds moved by their fused kernel (bit k)
  std::uint32_t by_operation_kinds = 0;  // register kinds whose lists differ in length
  bool big_ints = false;                 // big integers to move
  bool decimals = false;                 // decimals to move
  bool exact_kinds_fused = false;        // big integers and decimals by their fused kernels
  // Big integers and decimals whose velocity the step scales by a carried inertia, as it does
  // for the fused register kinds (carry_exact_inertia).
  bool big_int_inertia_carried = false;
  bool decimal_inertia_carried = false;
  // Every clamped big-integer component's bounds and velocity limits, as words, where all of
  // them are 64-bit integers (learnt with the placement, so empty where the plan is not placed,
  // and where no component is clamped).
  std::vector<WordLimits> big_int_word_limits;
  // Where each register kind's lists lie in the blocks (XVec::offset_of), learnt when the four
  // moving vectors have the same lengths in every kind, as in a search: the fused kernels then
  // reach their lists without reading eight vectors' layouts at every step.
  bool placed = false;
  std::array<std::uint32_t, kind_count> offset{};  // in position, velocity and both bests
  std::array<std::uint32_t, kind_count> length{};
  // Where each kind's lower, upper, velocity_min and velocity_max lists begin: the limits of a
  // search keep their blocks throughout, so the steps read these instead of four layouts.
  std::array<std::array<const void*, 4>, kind_count> limit_lists{};
  std::array<std::uint32_t, kind_count> clamped{};  // elements clamped as well as moved

  static bool has(std::uint32_t kinds, ElementKind kind) noexcept {
    return (kinds >> kind_index(kind) & 1) != 0;
  }
  // The kinds whose velocity the fused kernels do not scale (bit k): the register kinds that go
  // operation by operation, and the big integers and decimals, whose scaling can fail, unless
  // their inertia is carried.
  std::uint32_t unfused_velocity_kinds() const noexcept {
    const bool big_int_pass = big_ints && !big_int_inertia_carried;
    const bool decimal_pass = decimals && !decimal_inertia_carried;
    return by_operation_kinds |
           (big_int_pass ? std::uint32_t{1} << kind_index(ElementKind::I) : 0) |
           (decimal_pass ? std::uint32_t{1} << kind_index(ElementKind::D) : 0);
  }
};

StepPlan plan_step(const XVec& position, const XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ParticleLimits& limits);

// Lets the steps of a search carry `inertia` into the big integers and decimals as well, kind by
// kind, where scaling a velocity by it can never fail; the failure of a scaling must otherwise
// come in the inertia pass, after the sweep's evaluations. It cannot fail where every velocity
// the pass meets lies between the velocity limits or is zero (true of the velocities a step
// leaves, when it clamps every component: the kernels take the kind, and the clamp zeroes a
// velocity or keeps it between the limits, in either order) and both limits of each component
// scale without failure: a smaller magnitude scales to one no larger (a big integer through its
// nearest binary64, a decimal by its rounding of the exact product, both monotone), so it
// neither overflows nor, with a finite factor, becomes NaN.
void carry_exact_inertia(StepPlan& plan, const ScaleFactor& inertia, const ParticleLimits& limits);

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

// The same step with the plan of its vectors (plan_step). With `carried_inertia`, the
// velocity of every kind in plan.fused_kinds, and of the big integers and decimals where the
// plan carries their inertia, is first scaled by it, as scale_list scales it: the end of the
// previous sweep's inertia pass for those kinds, moved into this step, since nothing reads a
// velocity between the two and their scaling cannot fail. The caller scales the other kinds
// itself (scale_unfused_velocity), where and when the search defines.
void step_particle(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, const StepPlan& plan, StepScratch& scratch,
                   const ScaleFactor* carried_inertia);

// velocity *= inertia for every kind of plan.unfused_velocity_kinds(), in kind order; nothing
// when the plan fuses every kind that has components.
void scale_unfused_velocity(XVec& velocity, const ScaleFactor& inertia, const StepPlan& plan);

}  // namespace swarmtuner
