// The element kernels of a particle step: per kind, one pass over the elements that computes
// each one's new velocity and position and clamps them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "numeric_core/element.hpp"
#include "numeric_core/fixed_int.hpp"
#include "numeric_core/list_ops.hpp"

namespace swarmtuner {

// One kind's lists that a particle's move reads and writes: its position x and velocity v, the
// best points that pull it, and the bounds and velocity limits that clamp it. The kernels need
// x, v, best and global_best to agree in length and to be different vectors from the others;
// a bound or limit list may be shorter, and the elements beyond it move without a clamp.
template <class T>
struct MoveLists {
  std::span<T> x;
  std::span<T> v;
  std::span<const T> best;
  std::span<const T> global_best;
  std::span<const T> lower;
  std::span<const T> upper;
  std::span<const T> velocity_min;
  std::span<const T> velocity_max;

  // The number of elements that are clamped as well as moved. Inlined: a step asks it once per
  // kind, and a call costs more than the five comparisons.
  [[gnu::always_inline]] std::size_t clamped() const noexcept {
    const std::size_t bounds = std::min(lower.size(), upper.size());
    const std::size_t limits = std::min(velocity_min.size(), velocity_max.size());
    return std::min(x.size(), std::min(bounds, limits));
  }
};

// Every kernel computes, per element, what this sequence computes over the whole lists:
//
//   social    = (global_best - x) * c1
//   cognitive = (best - x) * c2
//   v         = finite_velocity(v + (social + cognitive))
//   x         = x + v, then the clamp
//
// with the operands in that order (the order matters for float rounding and NaN propagation).

namespace step_kernel_detail {

// Element j of the move for a register kind, with the factors in the kind's scaling float
// type F (ScaleFloatOf). Nothing here can fail.
template <FixedSizeNumber T, class F = ScaleFloatOf<T>>
[[gnu::always_inline]] inline void move_element(T& x, T& v, T b, T g, F c1, F c2) noexcept {
  const T social = scale_element_by(sub_element(g, x), c1);
  const T cognitive = scale_element_by(sub_element(b, x), c2);
  v = finite_velocity(add_element(v, add_element(social, cognitive)));
  x = add_element(x, v);
}

// The moves of components [0, n) followed by their clamp. Every list is a different vector,
// so the pointers are restrict-qualified; that lets the compiler vectorise the loop without
// checking a dozen pairs of ranges for overlap first. With CarryInertia each velocity is first
// scaled by `inertia`, as scale_list scales it.
template <bool CarryInertia, FixedSizeNumber T, class F = ScaleFloatOf<T>>
void move_and_clamp(T* __restrict x, T* __restrict v, const T* __restrict b, const T* __restrict g,
                    F c1, F c2, F inertia, const T* __restrict lo, const T* __restrict hi,
                    const T* __restrict v_lo, const T* __restrict v_hi, std::size_t n) noexcept {
  for (std::size_t j = 0; j < n; ++j) {
    T new_x = x[j];
    T new_v = CarryInertia ? scale_element_by(v[j], inertia) : v[j];
    move_element(new_x, new_v, b[j], g[j], c1, c2);
    clamp_element(new_x, new_v, lo[j], hi[j], v_lo[j], v_hi[j]);
    x[j] = new_x;
    v[j] = new_v;
  }
}

// The moves of components [begin, end), not clamped.
template <bool CarryInertia, FixedSizeNumber T, class F = ScaleFloatOf<T>>
void move_only(T* __restrict x, T* __restrict v, const T* __restrict b, const T* __restrict g, F c1,
               F c2, F inertia, std::size_t begin, std::size_t end) noexcept {
  for (std::size_t j = begin; j < end; ++j) {
    if constexpr (CarryInertia) v[j] = scale_element_by(v[j], inertia);
    move_element(x[j], v[j], b[j], g[j], c1, c2);
  }
}

}  // namespace step_kernel_detail

// The move of a register kind, whose operations cannot fail. Inlined into its caller, so that
// the lists' pointers and lengths are read there and no MoveLists is ever stored. The factors
// come in the kind's scaling float type (ScaleFactor::in), rounded once for the search. With
// CarryInertia the velocity is first scaled by `inertia` (the previous sweep's inertia pass).
template <bool CarryInertia, FixedSizeNumber T, class F = ScaleFloatOf<T>>
[[gnu::always_inline]] inline void move_fused(const MoveLists<T>& lists, F c1, F c2,
                                              F inertia) noexcept {
  T* const x = lists.x.data();
  T* const v = lists.v.data();
  const T* const b = lists.best.data();
  const T* const g = lists.global_best.data();
  const std::size_t clamped = lists.clamped();
  step_kernel_detail::move_and_clamp<CarryInertia>(x, v, b, g, c1, c2, inertia, lists.lower.data(),
                                                   lists.upper.data(), lists.velocity_min.data(),
                                                   lists.velocity_max.data(), clamped);
  // Components beyond a shorter bound or limit list move but are not clamped (in a search,
  // every list has the bounds' length and there are none).
  if (clamped < lists.x.size()) [[unlikely]] {
    step_kernel_detail::move_only<CarryInertia>(x, v, b, g, c1, c2, inertia, clamped,
                                                lists.x.size());
  }
}

// The moves of big integers and of decimals, whose operations can fail. An element whose
// operations fail is left exactly as it was and its index is appended to `failed` (in
// increasing order); the others move. Nothing is thrown: which failure the sequence reports
// first depends on the other kind's failures too, so the caller decides.
//
// With `inertia`, each velocity is first scaled by it, as scale_list scales it, and stored
// scaled whatever the move does after: the previous sweep's inertia pass, carried into the
// step. The caller carries it only where that scaling cannot fail; should it fail all the
// same, the element is noted as failed, its velocity unscaled.
//
// The big integers' two pulls are built in `social` and `cognitive`, whose limbs are reused
// from element to element and, when the caller keeps them, from step to step.
//
// `word_limits`, where every bound and velocity limit in the lists is a 64-bit integer (a
// caller that steps many times over the same limits learns it once), holds them as words, one
// WordLimits per clamped component: the word step then clamps without testing or reading the
// BigInts, and its loop keeps one pointer for the limits where it would keep four.
struct WordLimits {
  std::int64_t lower;
  std::int64_t upper;
  std::int64_t velocity_min;
  std::int64_t velocity_max;
};
void move_big_ints_fused(const MoveLists<BigInt>& lists, double c1, double c2,
                         const ScaleFactor* inertia, const WordLimits* word_limits, BigInt& social,
                         BigInt& cognitive, std::vector<std::size_t>& failed);

// The form a search may keep its big integers in across sweeps: two's complement of four limbs,
// which the step reads and writes directly, without the loads from and stores to BigInt's sign
// and magnitude that cost more than its arithmetic. It holds values of up to
// WideInt::load_bits bits, so a search qualifies when every bound and velocity limit does:
// its clamped positions and velocities then do too.
using WideInt = FixedInt<4>;

// One component's bounds and velocity limits in the wide form.
struct WideLimits {
  WideInt lower;
  WideInt upper;
  WideInt velocity_min;
  WideInt velocity_max;
};

// A particle's big integers in the wide form, one element per component of its BigInt lists.
// x, best and global_best hold the values of the BigInt position and bests; v is the velocity
// itself, and the BigInt velocity is written only when an element leaves the wide step (its
// caller never reads it otherwise).
struct WideMoveLists {
  WideInt* x;
  WideInt* v;
  const WideInt* best;
  const WideInt* global_best;
  const WideLimits* limits;  // one per component: every component is clamped
};

// move_big_ints_fused for a particle whose big integers are also held in the wide form: the
// same results, stored in both forms (the velocity in the wide form only). An element whose
// pulls do not fit the wide form takes the BigInt path and is loaded back; one that fails is
// left as it was in both forms, its BigInt velocity written, and noted in `failed`.
void move_big_ints_wide(const MoveLists<BigInt>& lists, const WideMoveLists& wide, double c1,
                        double c2, const ScaleFactor* inertia, BigInt& social, BigInt& cognitive,
                        std::vector<std::size_t>& failed);

void move_decimals_fused(const MoveLists<Decimal>& lists, const ScaleFactor& c1,
                         const ScaleFactor& c2, const ScaleFactor* inertia,
                         std::vector<std::size_t>& failed);

}  // namespace swarmtuner
