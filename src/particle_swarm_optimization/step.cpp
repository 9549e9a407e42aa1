// One particle step: register kinds in a single fused pass, the others operation by operation.
#include "particle_swarm_optimization/step.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "numeric_core/list_ops.hpp"

namespace swarmtuner {
namespace {

// The fused pass needs the four vectors of the step to agree in length; then every operation of
// the sequence covers the same n elements and the velocity keeps its length.
template <class T>
bool same_lengths(const std::vector<T>& x, const std::vector<T>& v, const std::vector<T>& b,
                  const std::vector<T>& g) noexcept {
  return x.size() == v.size() && x.size() == b.size() && x.size() == g.size();
}

// Element j of the step for a register kind, with the operands in the sequence's order (the
// order matters for float rounding and NaN propagation). Nothing here can fail.
template <FixedSizeNumber T>
[[gnu::always_inline]] inline void move_element(T& x, T& v, T b, T g, double c1,
                                                double c2) noexcept {
  const T social = scale_element(sub_element(g, x), c1);
  const T cognitive = scale_element(sub_element(b, x), c2);
  v = finite_velocity(add_element(v, add_element(social, cognitive)));
  x = add_element(x, v);
}

// The moves of components [0, n) followed by their clamp. Every list is a different vector,
// so the pointers are restrict-qualified; that lets the compiler vectorise the loop without
// checking a dozen pairs of ranges for overlap first.
template <FixedSizeNumber T>
void move_and_clamp(T* __restrict x, T* __restrict v, const T* __restrict b, const T* __restrict g,
                    double c1, double c2, const T* __restrict lo, const T* __restrict hi,
                    const T* __restrict v_lo, const T* __restrict v_hi, std::size_t n) noexcept {
  for (std::size_t j = 0; j < n; ++j) {
    T new_x = x[j];
    T new_v = v[j];
    move_element(new_x, new_v, b[j], g[j], c1, c2);
    clamp_element(new_x, new_v, lo[j], hi[j], v_lo[j], v_hi[j]);
    x[j] = new_x;
    v[j] = new_v;
  }
}

// The moves of components [begin, end), not clamped.
template <FixedSizeNumber T>
void move_only(T* __restrict x, T* __restrict v, const T* __restrict b, const T* __restrict g,
               double c1, double c2, std::size_t begin, std::size_t end) noexcept {
  for (std::size_t j = begin; j < end; ++j) {
    move_element(x[j], v[j], b[j], g[j], c1, c2);
  }
}

template <ElementKind K>
void step_fused(XVec& position, XVec& velocity, const XVec& best_position, const XVec& global_best,
                const ScaleFactor& c1, const ScaleFactor& c2, const ParticleLimits& limits) {
  using T = Element<K>;
  T* const x = position.list<K>().data();
  T* const v = velocity.list<K>().data();
  const T* const b = best_position.list<K>().data();
  const T* const g = global_best.list<K>().data();
  const std::size_t n = position.list<K>().size();
  std::size_t clamped = 0;
  if constexpr (!is_complex_kind(K)) {
    const auto& lo = limits.lower.list<K>();
    const auto& hi = limits.upper.list<K>();
    const auto& v_lo = limits.velocity_min.list<K>();
    const auto& v_hi = limits.velocity_max.list<K>();
    clamped = std::min({n, lo.size(), hi.size(), v_lo.size(), v_hi.size()});
    move_and_clamp(x, v, b, g, c1.value(), c2.value(), lo.data(), hi.data(), v_lo.data(),
                   v_hi.data(), clamped);
  }
  // Components beyond a shorter bound or limit list move but are not clamped.
  move_only(x, v, b, g, c1.value(), c2.value(), clamped, n);
}

// The sequence itself, one operation at a time over every kind in Ks (in kind order) before
// the next operation starts. Any of the vectors may be the same one.
template <ElementKind... Ks>
void step_by_operation(XVec& position, XVec& velocity, const XVec& best_position,
                       const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                       const ParticleLimits& limits, StepScratch& scratch) {
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
  const auto clamp = [&]<ElementKind K>(KindTag<K>) {
    if constexpr (!is_complex_kind(K)) {
      clamp_lists(position.list<K>(), velocity.list<K>(), limits.lower.list<K>(),
                  limits.upper.list<K>(), limits.velocity_min.list<K>(),
                  limits.velocity_max.list<K>());
    }
  };
  (clamp(KindTag<Ks>{}), ...);
}

}  // namespace

void step_particle(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, StepScratch& scratch) {
  // The fused pass writes position and velocity while it reads the other six, so it needs
  // them to be separate vectors, as they are in a search.
  const XVec* const read[] = {&best_position, &global_best,         &limits.lower,
                              &limits.upper,  &limits.velocity_min, &limits.velocity_max};
  bool separate = &position != &velocity;
  for (const XVec* operand : read) {
    separate = separate && operand != &position && operand != &velocity;
  }
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if constexpr (FixedSizeNumber<Element<K>>) {
      auto& x = position.list<K>();
      const auto& v = velocity.list<K>();
      const auto& b = best_position.list<K>();
      const auto& g = global_best.list<K>();
      if (x.empty() && v.empty() && b.empty() && g.empty()) return;
      if (separate && same_lengths(x, v, b, g)) {
        step_fused<K>(position, velocity, best_position, global_best, c1, c2, limits);
      } else {
        step_by_operation<K>(position, velocity, best_position, global_best, c1, c2, limits,
                             scratch);
      }
    }
  });
  // Big integers and decimals can fail (a scaling or an overflow): operation by operation,
  // big integers before decimals within each operation, as the sequence defines.
  const bool any_big = !(position.i.empty() && velocity.i.empty() && best_position.i.empty() &&
                         global_best.i.empty());
  const bool any_decimal = !(position.d.empty() && velocity.d.empty() && best_position.d.empty() &&
                             global_best.d.empty());
  if (any_big && any_decimal) {
    step_by_operation<ElementKind::I, ElementKind::D>(position, velocity, best_position,
                                                      global_best, c1, c2, limits, scratch);
  } else if (any_big) {
    step_by_operation<ElementKind::I>(position, velocity, best_position, global_best, c1, c2,
                                      limits, scratch);
  } else if (any_decimal) {
    step_by_operation<ElementKind::D>(position, velocity, best_position, global_best, c1, c2,
                                      limits, scratch);
  }
}

}  // namespace swarmtuner
