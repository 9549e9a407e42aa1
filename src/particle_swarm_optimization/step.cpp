// One particle step: register kinds in a single fused pass, the others operation by operation.
#include "particle_swarm_optimization/step.hpp"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "prelude/list_ops.hpp"

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
struct FusedStep {
  T* x;
  T* v;
  const T* b;
  const T* g;
  double c1;
  double c2;

  [[gnu::always_inline]] void move(std::size_t j, T& new_x, T& new_v) const noexcept {
    const T social = scale_element(sub_element(g[j], x[j]), c1);
    const T cognitive = scale_element(sub_element(b[j], x[j]), c2);
    new_v = add_element(v[j], add_element(social, cognitive));
    new_x = add_element(x[j], new_v);
  }
};

template <ElementKind K>
void step_fused(XVec& position, XVec& velocity, const XVec& best_position,
                const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                const ParticleLimits& limits) {
  using T = Element<K>;
  auto& x = position.list<K>();
  const FusedStep<T> step{x.data(), velocity.list<K>().data(), best_position.list<K>().data(),
                          global_best.list<K>().data(), c1.value(), c2.value()};
  const std::size_t n = x.size();
  std::size_t clamped = 0;
  if constexpr (!is_complex_kind(K)) {
    const auto& lo = limits.lower.list<K>();
    const auto& hi = limits.upper.list<K>();
    const auto& v_lo = limits.velocity_min.list<K>();
    const auto& v_hi = limits.velocity_max.list<K>();
    clamped = std::min({n, lo.size(), hi.size(), v_lo.size(), v_hi.size()});
    for (std::size_t j = 0; j < clamped; ++j) {
      T new_x;
      T new_v;
      step.move(j, new_x, new_v);
      clamp_element(new_x, new_v, lo[j], hi[j], v_lo[j], v_hi[j]);
      step.x[j] = new_x;
      step.v[j] = new_v;
    }
  }
  // Components beyond a shorter bound or limit list move but are not clamped.
  for (std::size_t j = clamped; j < n; ++j) {
    step.move(j, step.x[j], step.v[j]);
  }
}

// The sequence itself, one operation at a time over every kind in Ks (in kind order) before
// the next operation starts.
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
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if constexpr (FixedSizeNumber<Element<K>>) {
      auto& x = position.list<K>();
      const auto& v = velocity.list<K>();
      const auto& b = best_position.list<K>();
      const auto& g = global_best.list<K>();
      if (x.empty() && v.empty() && b.empty() && g.empty()) return;
      if (same_lengths(x, v, b, g)) {
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
  const bool any_decimal = !(position.d.empty() && velocity.d.empty() &&
                             best_position.d.empty() && global_best.d.empty());
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
