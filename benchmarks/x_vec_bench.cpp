// Micro-benchmark of the vector work of one particle step of the search, per element kind.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "numeric_core/x_vec.hpp"
#include "particle_swarm_optimization/step.hpp"

namespace swarmtuner {
namespace {

// A deterministic spread of values in [0, 1000) of the kind under test.
template <ElementKind K>
Element<K> value_at(std::uint64_t& state) {
  state = state * 6364136223846793005ULL + 1442695040888963407ULL;
  const auto v = static_cast<std::int64_t>((state >> 33) % 1000);
  if constexpr (K == ElementKind::D) {
    // Two fractional digits, as a caller's bounds typically carry.
    return *Decimal::from_signed_coefficient(v * 100 + static_cast<std::int64_t>(state % 100), 2);
  } else {
    return static_cast<Element<K>>(v);
  }
}

template <ElementKind K>
XVec filled(std::size_t n, std::uint64_t seed) {
  XVec v;
  auto& list = v.list<K>();
  list.reserve(n);
  for (std::size_t j = 0; j < n; ++j) {
    list.push_back(value_at<K>(seed));
  }
  return v;
}

template <ElementKind K>
XVec constant(std::size_t n, std::int64_t value) {
  XVec v;
  if constexpr (K == ElementKind::D) {
    v.list<K>().assign(n, Decimal::from_i64(value));
  } else {
    v.list<K>().assign(n, static_cast<Element<K>>(value));
  }
  return v;
}

// The per-particle steps of one sweep: both pulls, the velocity update, the move, the clamp,
// and the inertia scaling that follows the sweep. c1 = c2 = 2.0, inertia 0.5, max_v 0.2 over
// bounds [0, 1000].
template <ElementKind K>
void BM_ParticleStep(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const XVec lower = constant<K>(n, 0);
  const XVec upper = constant<K>(n, 1000);
  XVec velocity_max = XVec::sub(upper.clone(), lower);
  velocity_max.mul_assign(0.2);
  const XVec velocity_min = XVec::neg(velocity_max.clone());

  const XVec global_best = filled<K>(n, 1);
  const XVec best = filled<K>(n, 2);
  XVec position = filled<K>(n, 3);
  XVec velocity = position.zeros_like();

  const ScaleFactor c1(2.0);
  const ScaleFactor c2(2.0);
  const ScaleFactor inertia(0.5);
  const ParticleLimits limits{lower, upper, velocity_min, velocity_max};
  StepScratch scratch;
  for (auto _ : state) {
    step_particle(position, velocity, best, global_best, c1, c2, limits, scratch);
    velocity.mul_assign(inertia);
    benchmark::DoNotOptimize(position.list<K>().data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::F64)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::I64)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::I)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::D)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
}  // namespace swarmtuner
