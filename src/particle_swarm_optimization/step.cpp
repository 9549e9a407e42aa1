// One particle step: the sequence that defines it, and the choice, kind by kind, between the
// core's fused kernels and that sequence operation by operation.
#include "particle_swarm_optimization/step.hpp"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "numeric_core/failure.hpp"
#include "numeric_core/list_ops.hpp"
#include "numeric_core/particle_step_kernels.hpp"

namespace swarmtuner {
namespace {

// The fused kernels need the four vectors of the step to agree in length; then every operation
// of the sequence covers the same n elements and the velocity keeps its length.
template <class L>
bool same_lengths(const L& x, const L& v, const L& b, const L& g) noexcept {
  return x.size() == v.size() && x.size() == b.size() && x.size() == g.size();
}

// Kind K's lists of the step, as the core's kernels take them.
template <ElementKind K>
MoveLists<Element<K>> move_lists(XVec& position, XVec& velocity, const XVec& best_position,
                                 const XVec& global_best, const ParticleLimits& limits) noexcept {
  return {position.list<K>(),
          velocity.list<K>(),
          best_position.list<K>(),
          global_best.list<K>(),
          limits.lower.list<K>(),
          limits.upper.list<K>(),
          limits.velocity_min.list<K>(),
          limits.velocity_max.list<K>()};
}

// The same lists reached through the plan's placement of kind K (StepPlan::placed).
template <ElementKind K>
MoveLists<Element<K>> move_lists(XVec& position, XVec& velocity, const XVec& best_position,
                                 const XVec& global_best, const ParticleLimits& limits,
                                 const StepPlan& plan) noexcept {
  if (!plan.placed) [[unlikely]] {
    return move_lists<K>(position, velocity, best_position, global_best, limits);
  }
  constexpr std::size_t k = kind_index(K);
  // The plan was learnt from the search's first particle; every vector of the search keeps its
  // lengths, so its lists lie where the plan says (checked in debug builds).
  assert(
      position.list<K>().size() == plan.length[k] && velocity.list<K>().size() == plan.length[k] &&
      best_position.list<K>().size() == plan.length[k] &&
      global_best.list<K>().size() == plan.length[k] && position.offset_of<K>() == plan.offset[k] &&
      best_position.offset_of<K>() == plan.offset[k] &&
      global_best.offset_of<K>() == plan.offset[k] && velocity.offset_of<K>() == plan.offset[k] &&
      limits.lower.list<K>().data() == plan.limit_lists[k][0] &&
      limits.upper.list<K>().data() == plan.limit_lists[k][1] &&
      limits.velocity_min.list<K>().data() == plan.limit_lists[k][2] &&
      limits.velocity_max.list<K>().data() == plan.limit_lists[k][3]);
  const std::uint32_t at = plan.offset[k];
  const std::size_t n = plan.length[k];
  const std::array<const void*, 4>& limit_lists = plan.limit_lists[k];
  const auto limit = [&](std::size_t which) {
    return std::span<const Element<K>>(static_cast<const Element<K>*>(limit_lists[which]),
                                       plan.clamped[k]);
  };
  return {{position.list_at<K>(at), n},
          {velocity.list_at<K>(at), n},
          {best_position.list_at<K>(at), n},
          {global_best.list_at<K>(at), n},
          limit(0),
          limit(1),
          limit(2),
          limit(3)};
}

// The sequence itself, one operation at a time over every kind in Ks (in kind order) before
// the next operation starts. Any of the vectors may be the same one. Out of line: a search
// takes it only where lists differ in length, and kept inline it would swell the walk over
// the kinds past what the compiler inlines.
template <ElementKind... Ks>
[[gnu::noinline]] void step_by_operation(XVec& position, XVec& velocity, const XVec& best_position,
                                         const XVec& global_best, const ScaleFactor& c1,
                                         const ScaleFactor& c2, const ParticleLimits& limits,
                                         StepScratch& scratch) {
  XVec& social = scratch.social;
  XVec& cognitive = scratch.cognitive;
  (assign_list(social.list<Ks>(), global_best.list<Ks>()), ...);
  (sub_list_in_place(social.list<Ks>(), position.list<Ks>()), ...);
  (scale_list(social.list<Ks>(), c1), ...);
  (assign_list(cognitive.list<Ks>(), best_position.list<Ks>()), ...);
  (sub_list_in_place(cognitive.list<Ks>(), position.list<Ks>()), ...);
  (scale_list(cognitive.list<Ks>(), c2), ...);
  (add_list_in_place(social.list<Ks>(), cognitive.list<Ks>()), ...);
  (add_list_in_place(velocity.list<Ks>(), social.list<Ks>()), ...);
  (finite_velocity_list(velocity.list<Ks>()), ...);
  (add_list(position.list<Ks>(), velocity.list<Ks>()), ...);
  (clamp_lists(position.list<Ks>(), velocity.list<Ks>(), limits.lower.list<Ks>(),
               limits.upper.list<Ks>(), limits.velocity_min.list<Ks>(),
               limits.velocity_max.list<Ks>()),
   ...);
}

// The elements at `indices` of kind K's four step lists, appended to the copies' lists.
template <ElementKind K>
void copy_elements(const std::vector<std::size_t>& indices, const XVec& position,
                   const XVec& velocity, const XVec& best_position, const XVec& global_best,
                   XVec& copies_x, XVec& copies_v, XVec& copies_b, XVec& copies_g) {
  for (const std::size_t j : indices) {
    copies_x.list<K>().push_back(position.list<K>()[j]);
    copies_v.list<K>().push_back(velocity.list<K>()[j]);
    copies_b.list<K>().push_back(best_position.list<K>()[j]);
    copies_g.list<K>().push_back(global_best.list<K>()[j]);
  }
}

// Throws the failure the sequence reports for a fused step in which the big integers at
// `failed_big_ints` and the decimals at `failed_decimals` failed. Those elements are still
// their original values (the kernels leave a failing element unwritten), and each element's
// operations depend on that element alone, so the sequence run over copies of just them fails
// at the operation, kind and element where it fails over the whole vectors: the elements that
// succeeded never fail. The copies' results are never used, as a failure ends the search.
[[noreturn, gnu::cold]] void throw_first_failure(const std::vector<std::size_t>& failed_big_ints,
                                                 const std::vector<std::size_t>& failed_decimals,
                                                 const XVec& position, const XVec& velocity,
                                                 const XVec& best_position, const XVec& global_best,
                                                 const ScaleFactor& c1, const ScaleFactor& c2) {
  XVec x;
  XVec v;
  XVec b;
  XVec g;
  copy_elements<ElementKind::I>(failed_big_ints, position, velocity, best_position, global_best, x,
                                v, b, g);
  copy_elements<ElementKind::D>(failed_decimals, position, velocity, best_position, global_best, x,
                                v, b, g);
  // Failures come before the clamp, so the copies need no limits.
  const XVec none;
  StepScratch scratch;
  step_by_operation<ElementKind::I, ElementKind::D>(
      x, v, b, g, c1, c2, ParticleLimits{none, none, none, none}, scratch);
  fail(failure_text::replay_without_failure);
}

}  // namespace

StepPlan plan_step(const XVec& position, const XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ParticleLimits& limits) {
  // The fused kernels write position and velocity while they read the other six, so they need
  // them to be separate vectors, as they are in a search.
  const XVec* const read[] = {&best_position, &global_best,         &limits.lower,
                              &limits.upper,  &limits.velocity_min, &limits.velocity_max};
  bool separate = &position != &velocity;
  for (const XVec* operand : read) {
    separate = separate && operand != &position && operand != &velocity;
  }
  StepPlan plan;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if constexpr (FixedSizeNumber<Element<K>>) {
      const auto x = position.list<K>();
      const auto v = velocity.list<K>();
      const auto b = best_position.list<K>();
      const auto g = global_best.list<K>();
      if (x.empty() && v.empty() && b.empty() && g.empty()) return;
      std::uint32_t& kinds =
          separate && same_lengths(x, v, b, g) ? plan.fused_kinds : plan.by_operation_kinds;
      kinds |= std::uint32_t{1} << kind_index(K);
    }
  });
  // Big integers and decimals can fail (a scaling or an overflow). Where their vectors agree
  // in length they take the fused kernels, which note the elements that failed; the failure
  // reported is then the sequence's first. Otherwise they go operation by operation, big
  // integers before decimals within each operation, as the sequence defines.
  constexpr ElementKind I = ElementKind::I;
  constexpr ElementKind D = ElementKind::D;
  plan.big_ints = !(position.list<I>().empty() && velocity.list<I>().empty() &&
                    best_position.list<I>().empty() && global_best.list<I>().empty());
  plan.decimals = !(position.list<D>().empty() && velocity.list<D>().empty() &&
                    best_position.list<D>().empty() && global_best.list<D>().empty());
  plan.exact_kinds_fused = separate &&
                           same_lengths(position.list<I>(), velocity.list<I>(),
                                        best_position.list<I>(), global_best.list<I>()) &&
                           same_lengths(position.list<D>(), velocity.list<D>(),
                                        best_position.list<D>(), global_best.list<D>());
  plan.placed = position.same_lengths(velocity) && position.same_lengths(best_position) &&
                position.same_lengths(global_best);
  if (plan.placed) {
    for_each_kind([&]<ElementKind K>(KindTag<K>) {
      constexpr std::size_t k = kind_index(K);
      const std::size_t n = position.list<K>().size();
      plan.offset[k] = position.offset_of<K>();
      plan.length[k] = static_cast<std::uint32_t>(n);
      plan.limit_lists[k] = {limits.lower.list<K>().data(), limits.upper.list<K>().data(),
                             limits.velocity_min.list<K>().data(),
                             limits.velocity_max.list<K>().data()};
      plan.clamped[k] = static_cast<std::uint32_t>(
          std::min({n, limits.lower.list<K>().size(), limits.upper.list<K>().size(),
                    limits.velocity_min.list<K>().size(), limits.velocity_max.list<K>().size()}));
    });
    const std::size_t clamped = plan.clamped[kind_index(I)];
    const auto all_words = [clamped](std::span<const BigInt> limit) {
      return std::all_of(limit.begin(), limit.begin() + static_cast<std::ptrdiff_t>(clamped),
                         [](const BigInt& value) { return value.is_word(); });
    };
    const auto lower = limits.lower.list<I>();
    const auto upper = limits.upper.list<I>();
    const auto velocity_min = limits.velocity_min.list<I>();
    const auto velocity_max = limits.velocity_max.list<I>();
    if (all_words(lower) && all_words(upper) && all_words(velocity_min) &&
        all_words(velocity_max)) {
      plan.big_int_word_limits.resize(clamped);
      for (std::size_t j = 0; j < clamped; ++j) {
        plan.big_int_word_limits[j] = {lower[j].word(), upper[j].word(), velocity_min[j].word(),
                                       velocity_max[j].word()};
      }
    }
  }
  return plan;
}

WideBigInts::WideBigInts(const StepPlan& plan, const ParticleLimits& limits,
                         std::size_t particles) {
  constexpr ElementKind I = ElementKind::I;
  constexpr std::size_t k = kind_index(I);
  if (!plan.big_ints || !plan.exact_kinds_fused || !plan.placed || !plan.big_int_inertia_carried ||
      plan.clamped[k] != plan.length[k] || !plan.big_int_word_limits.empty()) {
    return;
  }
  const std::size_t n = plan.length[k];
  std::vector<WideLimits> wide_limits(n);
  const auto lower = limits.lower.list<I>();
  const auto upper = limits.upper.list<I>();
  const auto velocity_min = limits.velocity_min.list<I>();
  const auto velocity_max = limits.velocity_max.list<I>();
  for (std::size_t j = 0; j < n; ++j) {
    WideLimits& limit = wide_limits[j];
    if (!limit.lower.assign(lower[j]) || !limit.upper.assign(upper[j]) ||
        !limit.velocity_min.assign(velocity_min[j]) ||
        !limit.velocity_max.assign(velocity_max[j])) {
      return;
    }
  }
  values_.resize((3 * particles + 1) * n);
  length_ = n;
  limits_ = std::move(wide_limits);
}

bool WideBigInts::load(std::span<const BigInt> from, WideInt* to) noexcept {
  for (std::size_t j = 0; j < length_; ++j) {
    if (!to[j].assign(from[j])) {
      limits_.clear();
      return false;
    }
  }
  return true;
}

void WideBigInts::load_particle(std::size_t k, const XVec& position, const XVec& velocity,
                                const XVec& best_position) {
  constexpr ElementKind I = ElementKind::I;
  if (!active()) return;
  WideInt* const values = particle(k);
  static_cast<void>(load(position.list<I>(), values) &&
                    load(velocity.list<I>(), values + length_) &&
                    load(best_position.list<I>(), values + 2 * length_));
}

void WideBigInts::load_global_best(const XVec& global_best) {
  if (!active()) return;
  static_cast<void>(
      load(global_best.list<ElementKind::I>(), values_.data() + values_.size() - length_));
}

void WideBigInts::best_is_position(std::size_t k) noexcept {
  WideInt* const values = particle(k);
  std::copy_n(values, length_, values + 2 * length_);
}

void WideBigInts::global_best_is_position(std::size_t k) noexcept {
  std::copy_n(particle(k), length_, values_.data() + values_.size() - length_);
}

WideMoveLists WideBigInts::lists(std::size_t k) noexcept {
  WideInt* const values = particle(k);
  return {values, values + length_, values + 2 * length_, values_.data() + values_.size() - length_,
          limits_.data()};
}

namespace {

// Whether every velocity of kind K between its limits scales by `inertia` without failing
// (carry_exact_inertia): both limits of every component do, and every component is clamped.
template <ElementKind K>
bool scaling_between_limits_cannot_fail(const StepPlan& plan, const ScaleFactor& inertia,
                                        const ParticleLimits& limits) {
  constexpr std::size_t k = kind_index(K);
  if (plan.clamped[k] != plan.length[k]) return false;
  const auto scales = [&](const Element<K>& limit) {
    if constexpr (std::same_as<Element<K>, Decimal>) {
      const Checked<Decimal> factor = inertia.decimal();
      return factor && static_cast<bool>(scale_element(limit, *factor));
    } else {
      return static_cast<bool>(scale_element(limit, inertia.value()));
    }
  };
  const auto velocity_min = limits.velocity_min.list<K>();
  const auto velocity_max = limits.velocity_max.list<K>();
  for (std::size_t j = 0; j < plan.length[k]; ++j) {
    if (!scales(velocity_min[j]) || !scales(velocity_max[j])) return false;
  }
  return true;
}

}  // namespace

void carry_exact_inertia(StepPlan& plan, const ScaleFactor& inertia, const ParticleLimits& limits) {
  // The fused kernels carry it, and only a plan that knows every list's length can tell that
  // every component is clamped.
  if (!plan.exact_kinds_fused || !plan.placed) return;
  plan.big_int_inertia_carried =
      plan.big_ints && scaling_between_limits_cannot_fail<ElementKind::I>(plan, inertia, limits);
  plan.decimal_inertia_carried =
      plan.decimals && scaling_between_limits_cannot_fail<ElementKind::D>(plan, inertia, limits);
}

void step_particle(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, StepScratch& scratch) {
  const StepPlan plan = plan_step(position, velocity, best_position, global_best, limits);
  step_particle(position, velocity, best_position, global_best, c1, c2, limits, plan, scratch,
                nullptr);
}

void step_particle(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, const StepPlan& plan, StepScratch& scratch,
                   const ScaleFactor* carried_inertia) {
  // Only the register kinds the plan names are visited (a bit set in one of its two masks).
  for_each_kind_in(
      plan.fused_kinds | plan.by_operation_kinds, [&]<ElementKind K>(
                                                      KindTag<K>) __attribute__((always_inline)) {
        if constexpr (FixedSizeNumber<Element<K>>) {
          if (StepPlan::has(plan.fused_kinds, K)) {
            const MoveLists<Element<K>> lists =
                move_lists<K>(position, velocity, best_position, global_best, limits, plan);
            using F = ScaleFloatOf<Element<K>>;
            if (carried_inertia != nullptr) {
              move_fused<true>(lists, c1.in<F>(), c2.in<F>(), carried_inertia->in<F>());
            } else {
              move_fused<false>(lists, c1.in<F>(), c2.in<F>(), F{0});
            }
          } else [[unlikely]] {
            step_by_operation<K>(position, velocity, best_position, global_best, c1, c2, limits,
                                 scratch);
          }
        }
      });
  if (!plan.big_ints && !plan.decimals) return;
  constexpr ElementKind I = ElementKind::I;
  constexpr ElementKind D = ElementKind::D;
  if (plan.exact_kinds_fused) {
    // Emptied here rather than after a failure, so that no exception can leave stale indices.
    scratch.failed_big_ints.clear();
    scratch.failed_decimals.clear();
    if (plan.big_ints) {
      // The two pulls are built in values of the scratch whose limbs live across steps.
      const auto social = scratch.social.list<I>();
      const auto cognitive = scratch.cognitive.list<I>();
      if (social.empty()) social.resize(1);
      if (cognitive.empty()) cognitive.resize(1);
      const MoveLists<BigInt> lists =
          move_lists<I>(position, velocity, best_position, global_best, limits, plan);
      const ScaleFactor* const inertia = plan.big_int_inertia_carried ? carried_inertia : nullptr;
      if (scratch.wide != nullptr) {
        move_big_ints_wide(lists, scratch.wide->lists(scratch.particle), c1.value(), c2.value(),
                           inertia, social.front(), cognitive.front(), scratch.failed_big_ints);
      } else {
        move_big_ints_fused(
            lists, c1.value(), c2.value(), inertia,
            plan.big_int_word_limits.empty() ? nullptr : plan.big_int_word_limits.data(),
            social.front(), cognitive.front(), scratch.failed_big_ints);
      }
    }
    if (plan.decimals) {
      move_decimals_fused(
          move_lists<D>(position, velocity, best_position, global_best, limits, plan), c1, c2,
          plan.decimal_inertia_carried ? carried_inertia : nullptr, scratch.failed_decimals);
    }
    if (!scratch.failed_big_ints.empty() || !scratch.failed_decimals.empty()) [[unlikely]] {
      throw_first_failure(scratch.failed_big_ints, scratch.failed_decimals, position, velocity,
                          best_position, global_best, c1, c2);
    }
  } else if (plan.big_ints && plan.decimals) {
    step_by_operation<I, D>(position, velocity, best_position, global_best, c1, c2, limits,
                            scratch);
  } else if (plan.big_ints) {
    step_by_operation<I>(position, velocity, best_position, global_best, c1, c2, limits, scratch);
  } else {
    step_by_operation<D>(position, velocity, best_position, global_best, c1, c2, limits, scratch);
  }
}

void scale_unfused_velocity(XVec& velocity, const ScaleFactor& inertia, const StepPlan& plan) {
  // In kind order, as the inertia pass over a whole vector; a kind without lists has nothing to
  // scale, and the fused register kinds are scaled by the next step.
  for_each_kind_in(plan.unfused_velocity_kinds(),
                   [&]<ElementKind K>(KindTag<K>) { scale_list(velocity.list<K>(), inertia); });
}

}  // namespace swarmtuner
