// Micro-benchmark of the vector work of one particle step of the search, per element kind.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <utility>
#include <vector>

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
  } else if constexpr (ComplexElement<Element<K>>) {
    // The imaginary part from other bits of the same draw.
    using F = decltype(Element<K>{}.re);
    return {static_cast<F>(v), static_cast<F>((state >> 13) % 1000)};
  } else {
    return static_cast<Element<K>>(v);
  }
}

template <ElementKind K>
XVec filled(std::size_t n, std::uint64_t seed) {
  std::vector<Element<K>> values;
  values.reserve(n);
  for (std::size_t j = 0; j < n; ++j) {
    values.push_back(value_at<K>(seed));
  }
  XVec v;
  v.list<K>() = std::move(values);
  return v;
}

template <ElementKind K>
XVec constant(std::size_t n, std::int64_t value) {
  XVec v;
  if constexpr (K == ElementKind::D) {
    v.list<K>().assign(n, Decimal::from_i64(value));
  } else if constexpr (ComplexElement<Element<K>>) {
    using F = decltype(Element<K>{}.re);
    v.list<K>().assign(n, {static_cast<F>(value), static_cast<F>(value)});
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

// Values the way a converging search over [-1000, 1000] (decimals) or [-2^199, 2^199] (big
// integers) holds them: decimals with every digit of the coefficient in use, big integers of
// four limbs. The pulls scale by 0.7 and 1.0, so decimal products keep their full width and
// must be rounded, and sums meet operands of other scales.
template <ElementKind K>
Element<K> wide_value_at(std::uint64_t& state) {
  const auto next = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return state;
  };
  if constexpr (K == ElementKind::D) {
    // Below 10^3 * 10^25, at scale 25: within [-1000, 1000] with 28 significant digits.
    const UInt128 limit = UInt128{1000} * 10'000'000'000'000'000ULL * 100'000'000ULL;
    const UInt128 coefficient = ((UInt128{next()} << 64) | next()) % limit;
    const auto magnitude = static_cast<Int128>(coefficient);
    return *Decimal::from_signed_coefficient((next() >> 63) != 0 ? -magnitude : magnitude, 25);
  } else {
    static_assert(K == ElementKind::I);
    // 199 bits: six full 32-bit words and seven bits above them.
    std::uint32_t words[7];
    for (std::uint32_t& word : words) word = static_cast<std::uint32_t>(next() >> 32);
    words[6] &= 0x7F;
    const BigInt magnitude = BigInt::from_le_words(words);
    return (next() >> 63) != 0 ? -magnitude : magnitude;
  }
}

template <ElementKind K>
XVec wide_filled(std::size_t n, std::uint64_t seed) {
  std::vector<Element<K>> values;
  for (std::size_t j = 0; j < n; ++j) values.push_back(wide_value_at<K>(seed));
  XVec v;
  v.list<K>() = std::move(values);
  return v;
}

// The bound of the converging case: 1000 for decimals, 2^199 for big integers.
template <ElementKind K>
XVec wide_bound(std::size_t n, bool negative) {
  XVec v;
  if constexpr (K == ElementKind::D) {
    v.list<K>().assign(n, Decimal::from_i64(negative ? -1000 : 1000));
  } else {
    std::uint32_t words[7] = {0, 0, 0, 0, 0, 0, 0x80};
    const BigInt bound = BigInt::from_le_words(words);
    v.list<K>().assign(n, negative ? -bound : bound);
  }
  return v;
}

// One particle step and the inertia scaling, c1 = 0.7, c2 = 1.0, inertia 0.5, max_v 0.2.
template <ElementKind K>
void BM_ConvergingStep(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  const XVec lower = wide_bound<K>(n, true);
  const XVec upper = wide_bound<K>(n, false);
  XVec velocity_max = XVec::sub(upper.clone(), lower);
  velocity_max.mul_assign(0.2);
  const XVec velocity_min = XVec::neg(velocity_max.clone());

  const XVec global_best = wide_filled<K>(n, 1);
  const XVec best = wide_filled<K>(n, 2);
  const XVec start = wide_filled<K>(n, 3);
  XVec position = start.clone();
  XVec velocity = wide_filled<K>(n, 4);
  velocity.mul_assign(0.1);

  const ScaleFactor c1(0.7);
  const ScaleFactor c2(1.0);
  const ScaleFactor inertia(0.5);
  const ParticleLimits limits{lower, upper, velocity_min, velocity_max};
  StepScratch scratch;
  std::int64_t steps = 0;
  for (auto _ : state) {
    // The particle settles where its pulls balance; starting over every 64 steps keeps the
    // work that of a search still moving.
    if (++steps % 64 == 0) {
      state.PauseTiming();
      position.assign(start);
      velocity = wide_filled<K>(n, 4);
      velocity.mul_assign(0.1);
      state.ResumeTiming();
    }
    step_particle(position, velocity, best, global_best, c1, c2, limits, scratch);
    velocity.mul_assign(inertia);
    benchmark::DoNotOptimize(position.list<K>().data());
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK_TEMPLATE(BM_ConvergingStep, ElementKind::D)->Arg(10);
BENCHMARK_TEMPLATE(BM_ConvergingStep, ElementKind::I)->Arg(10);

BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::F32)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::F64)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::C64)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::C128)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::I64)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::I)->Arg(10)->Arg(100)->Arg(1000);
BENCHMARK_TEMPLATE(BM_ParticleStep, ElementKind::D)->Arg(10)->Arg(100)->Arg(1000);

}  // namespace
}  // namespace swarmtuner
