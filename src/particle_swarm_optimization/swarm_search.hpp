// The particle swarm search over any objective: the initial swarm and the choice of its best,
// the sweeps and the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "numeric_core/failure.hpp"
#include "numeric_core/rng.hpp"
#include "numeric_core/sampler.hpp"
#include "numeric_core/x_vec.hpp"
#include "particle_swarm_optimization/objective.hpp"
#include "particle_swarm_optimization/settings.hpp"
#include "particle_swarm_optimization/step.hpp"

namespace swarmtuner {

template <class Value>
struct Particle {
  XVec position;
  XVec velocity;
  XVec best_position;  // own copy of the position where best_value was obtained
  Value best_value;
};

template <class Value>
struct SwarmResult {
  Value value;
  XVec position;
};

// The swarm's starting best: the index of the first particle, in index order, with the
// smallest best_value. The current best is always the left operand, so among equal values the
// earliest wins; a pair without an ordering ends the search.
template <class Member, class Compare>
std::size_t first_min_index(std::span<const Member> swarm, Compare&& compare) {
  if (swarm.empty()) fail(failure_text::empty_swarm);
  std::size_t best = 0;
  for (std::size_t k = 1; k < swarm.size(); ++k) {
    const std::optional<Ordering> order = compare(swarm[best].best_value, swarm[k].best_value);
    if (!order) fail(failure_text::failed_to_compare);
    if (*order == Ordering::Greater) best = k;
  }
  return best;
}

namespace detail {

// Reserves room for the whole swarm at once; a count whose storage size cannot even be
// represented is refused before asking for memory.
template <class Value>
void reserve_swarm(std::vector<Particle<Value>>& swarm, std::uint64_t n_particles) {
  if (n_particles > swarm.max_size()) fail(failure_text::capacity_overflow);
  swarm.reserve(static_cast<std::size_t>(n_particles));
}

// Stored values are objective values in a minimising search and their negations in a
// maximising one, so that the search itself always minimises.
template <bool Maximise, Objective O>
typename O::Value evaluate_stored(O& objective, const XVec& position) {
  if constexpr (Maximise) {
    return objective.negate(objective.evaluate(position));
  } else {
    return objective.evaluate(position);
  }
}

template <bool Maximise, Objective O>
SwarmResult<typename O::Value> swarm_search(const PsoSettings& settings, O& objective, XVec lower,
                                            XVec upper, ChaChaRng& rng) {
  using Value = typename O::Value;

  const XVecSampler sampler(lower.clone(), upper.clone());

  XVec velocity_max = XVec::sub(upper.clone(), lower);
  velocity_max.mul_assign(settings.max_v);
  const XVec velocity_min = XVec::neg(velocity_max.clone());

  // Drawing and evaluating alternate: particle k is drawn after particle k-1 was evaluated.
  std::vector<Particle<Value>> swarm;
  for (std::uint64_t k = 0; k < settings.n_particles; ++k) {
    XVec position = sampler.sample(rng);
    XVec velocity = position.zeros_like();
    XVec best_position = position.clone();
    Value value = evaluate_stored<Maximise>(objective, position);
    if (k == 0) reserve_swarm(swarm, settings.n_particles);
    swarm.push_back(Particle<Value>{std::move(position), std::move(velocity),
                                    std::move(best_position), std::move(value)});
  }

  const auto compare = [&objective](const Value& a, const Value& b) {
    return objective.compare(a, b);
  };
  const std::size_t first_best = first_min_index(std::span<const Particle<Value>>(swarm), compare);
  XVec global_best_position = swarm[first_best].best_position.clone();
  Value global_best_value = swarm[first_best].best_value;

  const ScaleFactor c1(settings.c1);
  const ScaleFactor c2(settings.c2);
  const ScaleFactor inertia(settings.inertia);
  const ParticleLimits limits{lower, upper, velocity_min, velocity_max};
  StepScratch scratch;
  // Every particle's lists have the lengths of the bounds, so one plan serves every step.
  StepPlan plan = plan_step(swarm.front().position, swarm.front().velocity,
                            swarm.front().best_position, global_best_position, limits);
  carry_exact_inertia(plan, inertia, limits);
  // The big integers in the wide form too, where the plan and the limits allow it.
  WideBigInts wide(plan, limits, swarm.size());
  for (std::size_t k = 0; k < swarm.size(); ++k) {
    wide.load_particle(k, swarm[k].position, swarm[k].velocity, swarm[k].best_position);
  }
  wide.load_global_best(global_best_position);
  // Decided before the first step, for the whole search.
  if (wide.active()) scratch.wide = &wide;
  const bool unfused_velocity = plan.unfused_velocity_kinds() != 0;
  for (std::uint64_t iteration = 0; iteration < settings.n_iters; ++iteration) {
    // The previous sweep's inertia for the kinds whose step scales it (none before the first).
    const ScaleFactor* const carried_inertia = iteration == 0 ? nullptr : &inertia;
    for (std::size_t k = 0; Particle<Value> & p : swarm) {
      scratch.particle = k++;
      // c1 pulls towards the swarm's best, c2 towards the particle's own best; the move uses
      // the unlimited velocity and only the carried velocity is limited.
      step_particle(p.position, p.velocity, p.best_position, global_best_position, c1, c2, limits,
                    plan, scratch, carried_inertia);

      Value value = evaluate_stored<Maximise>(objective, p.position);
      // Only a strict improvement counts; the swarm's best is only tested when the
      // particle's own best improves, and is replaced at once.
      if (objective.compare(value, p.best_value) != Ordering::Less) continue;
      const bool improves_swarm = objective.compare(value, global_best_value) == Ordering::Less;
      // The particle's best is replaced before the swarm's; old values are released in that order.
      p.best_value = value;
      p.best_position.assign(p.position);
      if (scratch.wide != nullptr) wide.best_is_position(scratch.particle);
      if (improves_swarm) {
        global_best_value = std::move(value);
        global_best_position.assign(p.position);
        if (scratch.wide != nullptr) wide.global_best_is_position(scratch.particle);
      }
    }
    // Every velocity is scaled by the inertia after the sweep: here for the big integers and
    // decimals whose scaling could fail, and any kind not fused; at the start of the next step
    // for the others (after the last sweep, no velocity is read again).
    if (unfused_velocity) {
      for (Particle<Value>& p : swarm) scale_unfused_velocity(p.velocity, inertia, plan);
    }
  }

  if constexpr (Maximise) {
    return {objective.negate(std::move(global_best_value)), std::move(global_best_position)};
  } else {
    return {std::move(global_best_value), std::move(global_best_position)};
  }
}

}  // namespace detail

// Minimises the objective over the box [lower, upper); returns the first best value found and
// where it was found. The starting positions are drawn from `rng`, the only randomness of a
// search: from a generator with a known key the whole search is reproducible.
template <Objective O>
SwarmResult<typename O::Value> swarm_min(const PsoSettings& settings, O& objective, XVec lower,
                                         XVec upper, ChaChaRng& rng) {
  return detail::swarm_search<false>(settings, objective, std::move(lower), std::move(upper), rng);
}

// Maximises by minimising negated values (through the objective's negate), negating the best
// once more for the result.
template <Objective O>
SwarmResult<typename O::Value> swarm_max(const PsoSettings& settings, O& objective, XVec lower,
                                         XVec upper, ChaChaRng& rng) {
  return detail::swarm_search<true>(settings, objective, std::move(lower), std::move(upper), rng);
}

}  // namespace swarmtuner
