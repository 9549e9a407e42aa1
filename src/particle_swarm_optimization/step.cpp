// One particle step: register kinds in a single fused pass, the others operation by operation.
#include "particle_swarm_optimization/step.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <vector>

#include "numeric_core/failure.hpp"
#include "numeric_core/fixed_int.hpp"
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
  const auto& lo = limits.lower.list<K>();
  const auto& hi = limits.upper.list<K>();
  const auto& v_lo = limits.velocity_min.list<K>();
  const auto& v_hi = limits.velocity_max.list<K>();
  const std::size_t clamped = std::min({n, lo.size(), hi.size(), v_lo.size(), v_hi.size()});
  move_and_clamp(x, v, b, g, c1.value(), c2.value(), lo.data(), hi.data(), v_lo.data(), v_hi.data(),
                 clamped);
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
  (clamp_lists(position.list<Ks>(), velocity.list<Ks>(), limits.lower.list<Ks>(),
               limits.upper.list<Ks>(), limits.velocity_min.list<Ks>(),
               limits.velocity_max.list<Ks>()),
   ...);
}

// ---- Big integers and decimals in one pass per element ----
//
// Their operations can fail, and the sequence reports the failure of the earliest operation
// (big integers before decimals within one). Each element's operations depend on that element
// alone, so a pass per element can compute everything and note the earliest operation that
// failed anywhere; the message depends only on that operation and the kind. Since a failure
// ends the search, the values left behind by a failed step are never read.

// The operations of the sequence that can fail, in its order.
enum class StepOp : int {
  SocialSub = 2,
  SocialScale = 3,
  CognitiveSub = 5,
  CognitiveScale = 6,
  PullSum = 7,
  VelocityAdd = 8,
  PositionAdd = 9,
};

// The earliest failure seen: ordered by operation, then big integers before decimals.
class EarliestFailure {
 public:
  void note(StepOp op, ElementKind kind) noexcept {
    const int key = 2 * static_cast<int>(op) + (kind == ElementKind::D ? 1 : 0);
    if (key < key_) key_ = key;
  }
  bool any() const noexcept { return key_ != none; }
  StepOp op() const noexcept { return static_cast<StepOp>(key_ / 2); }
  ElementKind kind() const noexcept { return key_ % 2 == 0 ? ElementKind::I : ElementKind::D; }

 private:
  static constexpr int none = 1 << 30;
  int key_ = none;
};

// Throws the failure the sequence reports for that operation.
[[noreturn]] void throw_failure(const EarliestFailure& failure, const ScaleFactor& c1,
                                const ScaleFactor& c2) {
  const StepOp op = failure.op();
  if (failure.kind() == ElementKind::I) element_detail::fail_big_int_scaling();
  switch (op) {
    case StepOp::SocialSub:
    case StepOp::CognitiveSub:
      element_detail::fail_decimal_subtraction();
    case StepOp::SocialScale:
    case StepOp::CognitiveScale: {
      // The factor's conversion comes first; when it succeeds a product overflowed.
      const ScaleFactor& factor = op == StepOp::SocialScale ? c1 : c2;
      factor.decimal();
      element_detail::fail_decimal_multiplication();
    }
    default:
      element_detail::fail_decimal_addition();
  }
}

// The decimal form of a factor, or nullopt where converting it fails.
std::optional<Decimal> decimal_or_none(const ScaleFactor& factor) {
  try {
    return factor.decimal();
  } catch (const InternalFailure&) {
    return std::nullopt;
  }
}

// Decimals are 16 plain bytes: every intermediate of an element stays in registers.
void step_decimals(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, EarliestFailure& failure) {
  std::vector<Decimal>& xs = position.list<ElementKind::D>();
  std::vector<Decimal>& vs = velocity.list<ElementKind::D>();
  const std::vector<Decimal>& bs = best_position.list<ElementKind::D>();
  const std::vector<Decimal>& gs = global_best.list<ElementKind::D>();
  const std::size_t n = xs.size();
  const std::size_t clamped = std::min({n, limits.lower.list<ElementKind::D>().size(),
                                        limits.upper.list<ElementKind::D>().size(),
                                        limits.velocity_min.list<ElementKind::D>().size(),
                                        limits.velocity_max.list<ElementKind::D>().size()});
  const std::optional<Decimal> f1 = decimal_or_none(c1);
  const std::optional<Decimal> f2 = decimal_or_none(c2);
  constexpr ElementKind kind = ElementKind::D;
  for (std::size_t j = 0; j < n; ++j) {
    const Decimal x = xs[j];
    const std::optional<Decimal> social_difference = Decimal::checked_sub(gs[j], x);
    if (!social_difference) [[unlikely]] {
      failure.note(StepOp::SocialSub, kind);
      continue;
    }
    const std::optional<Decimal> social =
        f1 ? Decimal::checked_mul(*social_difference, *f1) : std::nullopt;
    if (!social) [[unlikely]] {
      failure.note(StepOp::SocialScale, kind);
      continue;
    }
    const std::optional<Decimal> cognitive_difference = Decimal::checked_sub(bs[j], x);
    if (!cognitive_difference) [[unlikely]] {
      failure.note(StepOp::CognitiveSub, kind);
      continue;
    }
    const std::optional<Decimal> cognitive =
        f2 ? Decimal::checked_mul(*cognitive_difference, *f2) : std::nullopt;
    if (!cognitive) [[unlikely]] {
      failure.note(StepOp::CognitiveScale, kind);
      continue;
    }
    const std::optional<Decimal> pull = Decimal::checked_add(*social, *cognitive);
    if (!pull) [[unlikely]] {
      failure.note(StepOp::PullSum, kind);
      continue;
    }
    const std::optional<Decimal> v = Decimal::checked_add(vs[j], *pull);
    if (!v) [[unlikely]] {
      failure.note(StepOp::VelocityAdd, kind);
      continue;
    }
    const std::optional<Decimal> moved = Decimal::checked_add(x, *v);
    if (!moved) [[unlikely]] {
      failure.note(StepOp::PositionAdd, kind);
      continue;
    }
    Decimal new_x = *moved;
    Decimal new_v = *v;
    if (j < clamped) {
      clamp_exact_element(new_x, new_v, limits.lower.list<ElementKind::D>()[j],
                          limits.upper.list<ElementKind::D>()[j],
                          limits.velocity_min.list<ElementKind::D>()[j],
                          limits.velocity_max.list<ElementKind::D>()[j]);
    }
    xs[j] = new_x;
    vs[j] = new_v;
  }
}

// (value - x) scaled as scale_assign_element scales, into `value`; false where the product is
// not finite.
inline bool scaled_difference(BigInt& value, const BigInt& minuend, const BigInt& x,
                              double factor) {
  value.assign_difference(minuend, x);  // reuses the limbs value holds from earlier elements
  // The assignment refuses exactly the products that are not finite.
  return value.assign_f64(value.to_f64() * factor);
}

// The element's step in four-limb two's complement, when its four values fit that form: the
// values of a search within bounds of up to about 2^250 do. The loads leave three bits of
// headroom and the pulls one bit less, so with every magnitude below 2^m (m = load_bits)
// and the pulls below 2^(m+1), the new velocity stays below 5 * 2^m and the new position below
// 6 * 2^m, inside the signed range of 2^(m+3). False, with nothing stored, where a value or a
// pull does not fit (or a pull is not finite); the general path then takes the element.
using StepInt = FixedInt<4>;

inline bool step_fixed_width(BigInt& x, BigInt& v, const BigInt& b, const BigInt& g, double c1,
                             double c2) {
  StepInt fx;
  StepInt fv;
  StepInt fb;
  StepInt fg;
  if (!fx.assign(x) || !fv.assign(v) || !fb.assign(b) || !fg.assign(g)) return false;
  StepInt social;
  StepInt cognitive;
  // The products are those of scaled_difference, of the same exact differences.
  if (!social.assign_truncated((fg - fx).to_f64() * c1) ||
      !cognitive.assign_truncated((fb - fx).to_f64() * c2)) {
    return false;
  }
  const StepInt new_v = fv + (social + cognitive);
  (fx + new_v).store(x);
  new_v.store(v);
  return true;
}

// Big integers in place: the two pulls are built in two values of the scratch whose limbs are
// reused from element to element and from step to step.
void step_big_ints(XVec& position, XVec& velocity, const XVec& best_position,
                   const XVec& global_best, const ScaleFactor& c1, const ScaleFactor& c2,
                   const ParticleLimits& limits, StepScratch& scratch, EarliestFailure& failure) {
  std::vector<BigInt>& xs = position.list<ElementKind::I>();
  std::vector<BigInt>& vs = velocity.list<ElementKind::I>();
  const std::vector<BigInt>& bs = best_position.list<ElementKind::I>();
  const std::vector<BigInt>& gs = global_best.list<ElementKind::I>();
  const std::size_t n = xs.size();
  const std::size_t clamped = std::min({n, limits.lower.list<ElementKind::I>().size(),
                                        limits.upper.list<ElementKind::I>().size(),
                                        limits.velocity_min.list<ElementKind::I>().size(),
                                        limits.velocity_max.list<ElementKind::I>().size()});
  if (scratch.social.list<ElementKind::I>().empty())
    scratch.social.list<ElementKind::I>().resize(1);
  if (scratch.cognitive.list<ElementKind::I>().empty())
    scratch.cognitive.list<ElementKind::I>().resize(1);
  BigInt& social = scratch.social.list<ElementKind::I>().front();
  BigInt& cognitive = scratch.cognitive.list<ElementKind::I>().front();
  constexpr ElementKind kind = ElementKind::I;
  for (std::size_t j = 0; j < n; ++j) {
    BigInt& x = xs[j];
    BigInt& v = vs[j];
    // Values that all fit a word take BigInt's own word arithmetic below, which is cheaper
    // still than the fixed-width form.
    const bool all_words = x.to_i64() && v.to_i64() && bs[j].to_i64() && gs[j].to_i64();
    if (!all_words && step_fixed_width(x, v, bs[j], gs[j], c1.value(), c2.value())) {
      if (j < clamped) {
        clamp_exact_element(x, v, limits.lower.list<ElementKind::I>()[j],
                            limits.upper.list<ElementKind::I>()[j],
                            limits.velocity_min.list<ElementKind::I>()[j],
                            limits.velocity_max.list<ElementKind::I>()[j]);
      }
      continue;
    }
    if (!scaled_difference(social, gs[j], x, c1.value())) [[unlikely]] {
      failure.note(StepOp::SocialScale, kind);
      continue;
    }
    if (!scaled_difference(cognitive, bs[j], x, c2.value())) [[unlikely]] {
      failure.note(StepOp::CognitiveScale, kind);
      continue;
    }
    social += cognitive;
    v += social;
    x += v;
    if (j < clamped) {
      clamp_exact_element(x, v, limits.lower.list<ElementKind::I>()[j],
                          limits.upper.list<ElementKind::I>()[j],
                          limits.velocity_min.list<ElementKind::I>()[j],
                          limits.velocity_max.list<ElementKind::I>()[j]);
    }
  }
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
  // Big integers and decimals can fail (a scaling or an overflow). Where their vectors agree
  // in length they take one pass per element that reports the sequence's first failure;
  // otherwise they go operation by operation, big integers before decimals within each
  // operation, as the sequence defines.
  const auto& xi = position.list<ElementKind::I>();
  const auto& xd = position.list<ElementKind::D>();
  const bool any_big =
      !(xi.empty() && velocity.list<ElementKind::I>().empty() &&
        best_position.list<ElementKind::I>().empty() && global_best.list<ElementKind::I>().empty());
  const bool any_decimal =
      !(xd.empty() && velocity.list<ElementKind::D>().empty() &&
        best_position.list<ElementKind::D>().empty() && global_best.list<ElementKind::D>().empty());
  const bool fuse =
      separate &&
      same_lengths(position.list<ElementKind::I>(), velocity.list<ElementKind::I>(),
                   best_position.list<ElementKind::I>(), global_best.list<ElementKind::I>()) &&
      same_lengths(position.list<ElementKind::D>(), velocity.list<ElementKind::D>(),
                   best_position.list<ElementKind::D>(), global_best.list<ElementKind::D>());
  if (fuse && (any_big || any_decimal)) {
    EarliestFailure failure;
    if (any_big) {
      step_big_ints(position, velocity, best_position, global_best, c1, c2, limits, scratch,
                    failure);
    }
    if (any_decimal) {
      step_decimals(position, velocity, best_position, global_best, c1, c2, limits, failure);
    }
    if (failure.any()) [[unlikely]]
      throw_failure(failure, c1, c2);
  } else if (any_big && any_decimal) {
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
