// The particle step's kernels for big integers and decimals, the kinds whose operations fail.
#include "numeric_core/particle_step_kernels.hpp"

#include <cassert>
#include <cmath>
#include <cstdint>
#include <optional>

#include "numeric_core/fixed_int.hpp"

namespace swarmtuner {
namespace {

// (value - x) scaled as scale_assign_element scales, into `value`; Status::big_int_scaling
// where the product is not finite.
inline Status scaled_difference(BigInt& value, const BigInt& minuend, const BigInt& x,
                                double factor) {
  value.assign_difference(minuend, x);  // reuses the limbs value holds from earlier elements
  // The assignment refuses exactly the products that are not finite.
  return value.assign_f64(value.to_f64() * factor);
}

// One decimal element's move, into x and v, or the status of its first operation that fails
// (x and v then unspecified). f1 and f2 are the factors' decimal forms or their status.
[[gnu::always_inline]] inline Status move_decimal(Decimal& x, Decimal& v, Decimal b, Decimal g,
                                                  const Checked<Decimal>& f1,
                                                  const Checked<Decimal>& f2) noexcept {
  const Checked<Decimal> social_difference = Decimal::checked_sub(g, x);
  if (!social_difference) [[unlikely]]
    return social_difference.status();
  if (!f1) [[unlikely]]
    return f1.status();
  const Checked<Decimal> social = Decimal::checked_mul(*social_difference, *f1);
  if (!social) [[unlikely]]
    return social.status();
  const Checked<Decimal> cognitive_difference = Decimal::checked_sub(b, x);
  if (!cognitive_difference) [[unlikely]]
    return cognitive_difference.status();
  if (!f2) [[unlikely]]
    return f2.status();
  const Checked<Decimal> cognitive = Decimal::checked_mul(*cognitive_difference, *f2);
  if (!cognitive) [[unlikely]]
    return cognitive.status();
  const Checked<Decimal> pull = Decimal::checked_add(*social, *cognitive);
  if (!pull) [[unlikely]]
    return pull.status();
  const Checked<Decimal> new_v = Decimal::checked_add(v, *pull);
  if (!new_v) [[unlikely]]
    return new_v.status();
  const Checked<Decimal> new_x = Decimal::checked_add(x, *new_v);
  if (!new_x) [[unlikely]]
    return new_x.status();
  x = *new_x;
  v = *new_v;
  return Status::ok;
}

// The element's step in machine words, when its four values are words and so is every
// intermediate: the usual case of a search within bounds of up to about 2^62. Each operation
// is then the general path's own on words (a difference that fits a word converts to binary64
// as the big integer does, and a product inside the word range truncates as assign_f64 does),
// so the results are the same. With CarryInertia the velocity is first scaled as assign_scaled
// scales a word. The new position and velocity, or nullopt where a value or an intermediate is
// no word (or a product is not finite); the other paths then take the element.
struct WordStep {
  std::int64_t x;
  std::int64_t v;
};
template <bool CarryInertia>
[[gnu::always_inline]] inline std::optional<WordStep> step_words(std::int64_t x, std::int64_t v,
                                                                 std::int64_t b, std::int64_t g,
                                                                 double c1, double c2,
                                                                 double inertia) noexcept {
  // The range tests below leave out -2^63 itself, which fits a word: such a product goes to
  // the general path, which gives the same result, and each test is one comparison. They are
  // false for NaN; inside them the truncation fits a word.
  if constexpr (CarryInertia) {
    const double scaled = static_cast<double>(v) * inertia;
    if (!(std::fabs(scaled) < 0x1p63)) return std::nullopt;
    v = static_cast<std::int64_t>(scaled);
  }
  std::int64_t social_difference;
  std::int64_t cognitive_difference;
  if (__builtin_sub_overflow(g, x, &social_difference) ||
      __builtin_sub_overflow(b, x, &cognitive_difference)) {
    return std::nullopt;
  }
  const double social = static_cast<double>(social_difference) * c1;
  const double cognitive = static_cast<double>(cognitive_difference) * c2;
  if (!(std::fabs(social) < 0x1p63 && std::fabs(cognitive) < 0x1p63)) return std::nullopt;
  std::int64_t pull;
  std::int64_t new_v;
  std::int64_t new_x;
  if (__builtin_add_overflow(static_cast<std::int64_t>(social),
                             static_cast<std::int64_t>(cognitive), &pull) ||
      __builtin_add_overflow(v, pull, &new_v) || __builtin_add_overflow(x, new_v, &new_x)) {
    return std::nullopt;
  }
  return WordStep{new_x, new_v};
}

// clamp_exact_element on words.
[[gnu::always_inline]] inline void clamp_words(WordStep& s, std::int64_t lower, std::int64_t upper,
                                               std::int64_t velocity_min,
                                               std::int64_t velocity_max) noexcept {
  if (s.x < lower) {
    s = {lower, 0};
  } else if (s.x > upper) {
    s = {upper, 0};
  } else if (s.v < velocity_min) {
    s.v = velocity_min;
  } else if (s.v > velocity_max) {
    s.v = velocity_max;
  }
}

// The element's step in two's complement of W limbs, into x and v; false, with nothing
// written, where the scaled velocity or a pull does not fit the form (or is not finite). The
// values of a search within bounds of up to about 2^(64 W - 6) fit it. The loads leave three
// bits of headroom and the pulls one bit less, so with every magnitude below 2^m
// (m = load_bits) and the pulls below 2^(m+1), the new velocity stays below 5 * 2^m and the new
// position below 6 * 2^m, inside the signed range of 2^(m+3). With CarryInertia the velocity
// is first scaled as assign_scaled scales it (to_f64 and the truncation are BigInt's), into at
// most one bit more than a load, like a pull: the sums then stay below 7 * 2^m.
template <std::size_t W, bool CarryInertia>
[[gnu::always_inline]] inline bool step_fixed_width(FixedInt<W>& x, FixedInt<W>& v,
                                                    const FixedInt<W>& b, const FixedInt<W>& g,
                                                    double c1, double c2, double inertia) noexcept {
  FixedInt<W> new_v = v;
  if constexpr (CarryInertia) {
    if (!new_v.assign_truncated(new_v.to_f64() * inertia)) return false;
  }
  FixedInt<W> social;
  FixedInt<W> cognitive;
  // The products are those of scaled_difference, of the same exact differences.
  if (!social.assign_truncated((g - x).to_f64() * c1) ||
      !cognitive.assign_truncated((b - x).to_f64() * c2)) {
    return false;
  }
  new_v = new_v + (social + cognitive);
  x = x + new_v;
  v = new_v;
  return true;
}

// step_fixed_width for BigInts whose four values fit W limbs, loaded and stored back; false,
// with nothing stored, where a value or a pull does not fit: a wider form or the general path
// then takes the element.
template <std::size_t W, bool CarryInertia>
[[gnu::always_inline]] inline bool try_step_fixed_width(BigInt& x, BigInt& v, const BigInt& b,
                                                        const BigInt& g, double c1, double c2,
                                                        double inertia) {
  FixedInt<W> fx;
  FixedInt<W> fv;
  FixedInt<W> fb;
  FixedInt<W> fg;
  if (!fx.assign(x) || !fv.assign(v) || !fb.assign(b) || !fg.assign(g) ||
      !step_fixed_width<W, CarryInertia>(fx, fv, fb, fg, c1, c2, inertia)) {
    return false;
  }
  fx.store(x);
  fv.store(v);
  return true;
}

// Element j's move where its values are not all words, or where they are (`words`) but an
// intermediate of the word step is not: in two or four limbs where the values fit them (and
// are not all words: such an intermediate fits no form but BigInt's, which is also cheaper
// than the fixed-width ones for them), otherwise in BigInts. False where an operation fails,
// with x and v still the element's own (v scaled by the inertia where that is carried). Out of
// line, so that the word step's loop keeps its few values in registers.
template <bool CarryInertia>
[[gnu::noinline]] bool move_big_int_in_limbs(const MoveLists<BigInt>& lists, std::size_t j,
                                             bool words, double c1, double c2, double inertia,
                                             BigInt& social, BigInt& cognitive) {
  BigInt& x = lists.x[j];
  BigInt& v = lists.v[j];
  const BigInt& b = lists.best[j];
  const BigInt& g = lists.global_best[j];
  const auto clamp = [&] {
    if (j < lists.clamped()) {
      clamp_exact_element(x, v, lists.lower[j], lists.upper[j], lists.velocity_min[j],
                          lists.velocity_max[j]);
    }
  };
  if (!words && (try_step_fixed_width<2, CarryInertia>(x, v, b, g, c1, c2, inertia) ||
                 try_step_fixed_width<4, CarryInertia>(x, v, b, g, c1, c2, inertia))) {
    clamp();
    return true;
  }
  // The scalings that fail write nothing but the pull: x and v are still the element's own
  // (v scaled by the inertia where that is carried).
  if constexpr (CarryInertia) {
    if (scale_assign_element(v, inertia) != Status::ok) [[unlikely]] {
      return false;
    }
  }
  if (scaled_difference(social, g, x, c1) != Status::ok ||
      scaled_difference(cognitive, b, x, c2) != Status::ok) [[unlikely]] {
    return false;
  }
  social += cognitive;
  v += social;
  x += v;
  clamp();
  return true;
}

template <bool CarryInertia, bool LimitsAreWords>
void move_big_ints(const MoveLists<BigInt>& lists, double c1, double c2, double inertia,
                   const WordLimits* word_limits, BigInt& social, BigInt& cognitive,
                   std::vector<std::size_t>& failed) {
  // The moving lists' storage, read once: the stores into elements below could, as far as the
  // compiler knows, change a vector's own pointers, which it would otherwise load again for
  // every access. The BigInt limits are read through `lists` instead, off the word step's
  // path: held in locals, each would be one more pointer the loop advances.
  BigInt* const xs = lists.x.data();
  BigInt* const vs = lists.v.data();
  const BigInt* const bs = lists.best.data();
  const BigInt* const gs = lists.global_best.data();
  const std::size_t n = lists.x.size();
  const std::size_t clamped = lists.clamped();
  for (std::size_t j = 0; j < n; ++j) {
    BigInt& x = xs[j];
    BigInt& v = vs[j];
    // Values that all fit a word take the word arithmetic, and the clamp in words where the
    // limits are words too.
    const bool words = x.is_word() && v.is_word() && bs[j].is_word() && gs[j].is_word();
    if (words) {
      if (std::optional<WordStep> s = step_words<CarryInertia>(x.word(), v.word(), bs[j].word(),
                                                               gs[j].word(), c1, c2, inertia)) {
        bool clamped_in_words = false;
        if constexpr (LimitsAreWords) {
          if (j < clamped) {
            const WordLimits& limit = word_limits[j];
            clamp_words(*s, limit.lower, limit.upper, limit.velocity_min, limit.velocity_max);
            clamped_in_words = true;
          }
        } else if (j < clamped && lists.lower[j].is_word() && lists.upper[j].is_word() &&
                   lists.velocity_min[j].is_word() && lists.velocity_max[j].is_word()) {
          clamp_words(*s, lists.lower[j].word(), lists.upper[j].word(),
                      lists.velocity_min[j].word(), lists.velocity_max[j].word());
          clamped_in_words = true;
        }
        // x and v are words, which hold no storage.
        x.replace_word(s->x);
        v.replace_word(s->v);
        if (j < clamped && !clamped_in_words) {
          clamp_exact_element(x, v, lists.lower[j], lists.upper[j], lists.velocity_min[j],
                              lists.velocity_max[j]);
        }
        continue;
      }
    }
    if (!move_big_int_in_limbs<CarryInertia>(lists, j, words, c1, c2, inertia, social, cognitive))
        [[unlikely]] {
      failed.push_back(j);
    }
  }
}

// clamp_exact_element in the wide form.
[[gnu::always_inline]] inline void clamp_wide(WideInt& x, WideInt& v,
                                              const WideLimits& limits) noexcept {
  if (x < limits.lower) {
    x = limits.lower;
    v = WideInt{};
  } else if (x > limits.upper) {
    x = limits.upper;
    v = WideInt{};
  } else if (v < limits.velocity_min) {
    v = limits.velocity_min;
  } else if (v > limits.velocity_max) {
    v = limits.velocity_max;
  }
}

template <bool CarryInertia>
void move_big_ints_wide(const MoveLists<BigInt>& lists, const WideMoveLists& wide, double c1,
                        double c2, double inertia, BigInt& social, BigInt& cognitive,
                        std::vector<std::size_t>& failed) {
  BigInt* const big_xs = lists.x.data();
  WideInt* const xs = wide.x;
  WideInt* const vs = wide.v;
  const WideInt* const bs = wide.best;
  const WideInt* const gs = wide.global_best;
  const WideLimits* const limits = wide.limits;
  const std::size_t n = lists.x.size();
  for (std::size_t j = 0; j < n; ++j) {
    WideInt x = xs[j];
    WideInt v = vs[j];
    if (step_fixed_width<4, CarryInertia>(x, v, bs[j], gs[j], c1, c2, inertia)) [[likely]] {
      clamp_wide(x, v, limits[j]);
      xs[j] = x;
      vs[j] = v;
      x.store(big_xs[j]);
      continue;
    }
    // The element leaves the wide form for this step: the BigInt kernel moves it alone, from
    // its own velocity, and where that succeeds the new position and velocity, clamped
    // between limits that fit the wide form, fit it too.
    vs[j].store(lists.v[j]);
    const auto one = [j](auto list) { return list.subspan(j, 1); };
    const MoveLists<BigInt> element{
        one(lists.x),     one(lists.v),     one(lists.best),         one(lists.global_best),
        one(lists.lower), one(lists.upper), one(lists.velocity_min), one(lists.velocity_max)};
    const std::size_t failures = failed.size();
    move_big_ints<CarryInertia, false>(element, c1, c2, inertia, nullptr, social, cognitive,
                                       failed);
    if (failed.size() != failures) [[unlikely]] {
      failed.back() = j;
      continue;
    }
    const bool fit = xs[j].assign(big_xs[j]) && vs[j].assign(lists.v[j]);
    assert(fit);
    static_cast<void>(fit);
  }
}

template <bool CarryInertia>
void move_decimals(const MoveLists<Decimal>& lists, const ScaleFactor& c1, const ScaleFactor& c2,
                   const Checked<Decimal>& inertia, std::vector<std::size_t>& failed) {
  // The lists' storage, read once, as for the big integers.
  Decimal* const xs = lists.x.data();
  Decimal* const vs = lists.v.data();
  const Decimal* const bs = lists.best.data();
  const Decimal* const gs = lists.global_best.data();
  const Decimal* const lower = lists.lower.data();
  const Decimal* const upper = lists.upper.data();
  const Decimal* const velocity_min = lists.velocity_min.data();
  const Decimal* const velocity_max = lists.velocity_max.data();
  const std::size_t n = lists.x.size();
  const std::size_t clamped = lists.clamped();
  // A factor without a decimal form fails each element's scaling, as its product would.
  const Checked<Decimal> f1 = c1.decimal();
  const Checked<Decimal> f2 = c2.decimal();
  for (std::size_t j = 0; j < n; ++j) {
    if constexpr (CarryInertia) {
      const Checked<Decimal> scaled =
          inertia ? scale_element(vs[j], *inertia) : Checked<Decimal>(inertia.status());
      if (!scaled) [[unlikely]] {
        failed.push_back(j);
        continue;
      }
      vs[j] = *scaled;
    }
    Decimal new_x = xs[j];
    Decimal new_v = vs[j];
    if (move_decimal(new_x, new_v, bs[j], gs[j], f1, f2) != Status::ok) [[unlikely]] {
      failed.push_back(j);
      continue;
    }
    if (j < clamped) {
      clamp_exact_element(new_x, new_v, lower[j], upper[j], velocity_min[j], velocity_max[j]);
    }
    xs[j] = new_x;
    vs[j] = new_v;
  }
}

}  // namespace

void move_big_ints_fused(const MoveLists<BigInt>& lists, double c1, double c2,
                         const ScaleFactor* inertia, const WordLimits* word_limits, BigInt& social,
                         BigInt& cognitive, std::vector<std::size_t>& failed) {
  if (inertia != nullptr) {
    if (word_limits != nullptr) {
      move_big_ints<true, true>(lists, c1, c2, inertia->value(), word_limits, social, cognitive,
                                failed);
    } else {
      move_big_ints<true, false>(lists, c1, c2, inertia->value(), nullptr, social, cognitive,
                                 failed);
    }
  } else {
    move_big_ints<false, false>(lists, c1, c2, 0.0, nullptr, social, cognitive, failed);
  }
}

void move_big_ints_wide(const MoveLists<BigInt>& lists, const WideMoveLists& wide, double c1,
                        double c2, const ScaleFactor* inertia, BigInt& social, BigInt& cognitive,
                        std::vector<std::size_t>& failed) {
  if (inertia != nullptr) {
    move_big_ints_wide<true>(lists, wide, c1, c2, inertia->value(), social, cognitive, failed);
  } else {
    move_big_ints_wide<false>(lists, wide, c1, c2, 0.0, social, cognitive, failed);
  }
}

// Decimals are 16 plain bytes: every intermediate of an element stays in registers, and the
// element is written only once all its operations have succeeded (its velocity, scaled by a
// carried inertia, before them).
void move_decimals_fused(const MoveLists<Decimal>& lists, const ScaleFactor& c1,
                         const ScaleFactor& c2, const ScaleFactor* inertia,
                         std::vector<std::size_t>& failed) {
  if (inertia != nullptr) {
    move_decimals<true>(lists, c1, c2, inertia->decimal(), failed);
  } else {
    move_decimals<false>(lists, c1, c2, Checked<Decimal>(Decimal{}), failed);
  }
}

}  // namespace swarmtuner
