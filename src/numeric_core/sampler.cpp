// Per-kind span records built once from the bounds, and the uniform draws made from them.
#include "numeric_core/sampler.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <type_traits>
#include <utility>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

namespace {

template <class W>
W draw_word(ChaChaRng& rng) noexcept;
template <>
std::uint32_t draw_word<std::uint32_t>(ChaChaRng& rng) noexcept {
  return rng.next_u32();
}
template <>
std::uint64_t draw_word<std::uint64_t>(ChaChaRng& rng) noexcept {
  return rng.next_u64();
}
template <>
UInt128 draw_word<UInt128>(ChaChaRng& rng) noexcept {
  const UInt128 low = rng.next_u64();
  const UInt128 high = rng.next_u64();
  return high << 64 | low;
}

// The double-width product a * b as (upper half, lower half).
template <class W>
std::pair<W, W> wide_multiply(W a, W b) noexcept {
  using Wide = std::conditional_t<sizeof(W) == 4, std::uint64_t, UInt128>;
  const Wide product = static_cast<Wide>(a) * static_cast<Wide>(b);
  return {static_cast<W>(product >> (8 * sizeof(W))), static_cast<W>(product)};
}
template <>
std::pair<UInt128, UInt128> wide_multiply<UInt128>(UInt128 a, UInt128 b) noexcept {
  // Schoolbook on 64-bit halves; `middle` collects the cross terms, below 3 * 2^64.
  const UInt128 a0 = static_cast<std::uint64_t>(a), a1 = a >> 64;
  const UInt128 b0 = static_cast<std::uint64_t>(b), b1 = b >> 64;
  const UInt128 p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const UInt128 middle =
      (p00 >> 64) + static_cast<std::uint64_t>(p01) + static_cast<std::uint64_t>(p10);
  const UInt128 low = middle << 64 | static_cast<std::uint64_t>(p00);
  const UInt128 high = p11 + (p01 >> 64) + (p10 >> 64) + (middle >> 64);
  return {high, low};
}

// Widening multiply with rejection over a width of 1 .. 2^bits - 1, drawing W-bit words.
// Lower halves above 2^W - 1 - reject would favour some results, so those words are redrawn.
template <class U, class W>
struct UnsignedSpan {
  U width;
  U reject;

  static UnsignedSpan over(U span_width) noexcept {
    const W w = span_width;
    return {span_width, static_cast<U>(static_cast<W>(W{0} - w) % w)};
  }

  U draw(ChaChaRng& rng) const noexcept {
    const W zone = static_cast<W>(~W{0} - reject);
    for (;;) {
      const auto [high, low] = wide_multiply<W>(draw_word<W>(rng), width);
      if (low <= zone) return static_cast<U>(high);  // high < width
    }
  }
};

template <class S, class W>
struct IntRule {
  using U = UnsignedOf<S>;
  struct Span {
    S low;
    UnsignedSpan<U, W> offset;
  };

  static Span make(S low, S high) {
    if (!(low < high)) fail(failure_text::low_not_below_high);
    const U width = static_cast<U>(static_cast<U>(high) - static_cast<U>(low));
    return {low, UnsignedSpan<U, W>::over(width)};
  }

  static S draw(const Span& span, ChaChaRng& rng) noexcept {
    return static_cast<S>(static_cast<U>(static_cast<U>(span.low) + span.offset.draw(rng)));
  }
};

template <class F>
struct FloatBits;
template <>
struct FloatBits<double> {
  using Bits = std::uint64_t;
  static constexpr int mantissa_bits = 52;
  static constexpr Bits one = 0x3FF0000000000000;
  static constexpr double largest_unit = 1.0 - 0x1p-52;
};
template <>
struct FloatBits<float> {
  using Bits = std::uint32_t;
  static constexpr int mantissa_bits = 23;
  static constexpr Bits one = 0x3F800000;
  static constexpr float largest_unit = 1.0F - 0x1p-23F;
};

template <class F>
F fitted_scale(F low, F high) noexcept {
  using Bits = typename FloatBits<F>::Bits;
  const auto reaches_high = [low, high](F scale) {
    const F top = scale * FloatBits<F>::largest_unit;
    return top + low >= high;
  };
  const F full = high - low;
  if (!reaches_high(full)) return full;
  // Stepping down one value at a time can take up to 2^52 steps when the range is a few ulps
  // wide. Reaching high is monotone in the scale and non-negative floats are ordered like their
  // bit patterns, so bisecting the patterns finds the same largest scale that stays below high.
  Bits below = 0;  // scale 0 gives low, which is below high
  Bits above = std::bit_cast<Bits>(full);
  while (above - below > 1) {
    const Bits middle = below + (above - below) / 2;
    if (reaches_high(std::bit_cast<F>(middle))) {
      above = middle;
    } else {
      below = middle;
    }
  }
  return std::bit_cast<F>(below);
}

template <class F>
struct FloatRule {
  struct Span {
    F low;
    F scale;
  };

  static Span make(F low, F high) {
    if (!(low < high)) fail(failure_text::low_not_below_high);
    if (!std::isfinite(high - low)) fail(failure_text::range_overflow);
    return {low, fitted_scale(low, high)};
  }

  static F draw(const Span& span, ChaChaRng& rng) noexcept {
    using Bits = typename FloatBits<F>::Bits;
    // The top mantissa_bits bits of a word placed in the mantissa of a value in [1, 2).
    const Bits word = draw_word<Bits>(rng);
    const Bits k = word >> (8 * sizeof(Bits) - FloatBits<F>::mantissa_bits);
    const F unit = std::bit_cast<F>(k | FloatBits<F>::one) - F{1};
    return span.low + span.scale * unit;
  }
};

template <class F>
struct ComplexRule {
  using Value = BasicComplex<F>;
  struct Span {
    typename FloatRule<F>::Span re;
    typename FloatRule<F>::Span im;
  };

  static Span make(Value low, Value high) {
    auto re = FloatRule<F>::make(low.re, high.re);
    auto im = FloatRule<F>::make(low.im, high.im);
    return {re, im};
  }

  static Value draw(const Span& span, ChaChaRng& rng) noexcept {
    const F re = FloatRule<F>::draw(span.re, rng);
    const F im = FloatRule<F>::draw(span.im, rng);
    return {re, im};
  }
};

struct BigIntRule {
  struct Span {
    BigInt width;
    BigInt base;
  };

  static Span make(BigInt low, BigInt high) {
    if (!(low < high)) fail(failure_text::big_low_not_below_high);
    BigInt width = high - low;
    return {std::move(width), std::move(low)};
  }

  static BigInt draw(const Span& span, ChaChaRng& rng) {
    const std::size_t bits = span.width.bit_length();
    const std::size_t count = (bits + 31) / 32;
    const auto unused = static_cast<unsigned>(32 * count - bits);
    std::vector<std::uint32_t> words(count);
    for (;;) {
      for (auto& word : words) word = rng.next_u32();
      words.back() >>= unused;
      BigInt r = BigInt::from_le_words(words);
      if (r < span.width) {
        r += span.base;
        return r;
      }
    }
  }
};

struct DecimalRule {
  struct Span {
    Int128 low;
    UnsignedSpan<UInt128, UInt128> offset;
    std::uint32_t scale;
  };

  static Span make(Decimal low, Decimal high) {
    // A pair in order always has a value to draw: the lower bound itself.
    if (!(low < high)) fail(failure_text::decimal_low_above_high);
    // The grid of the finer scale, unless a large coefficient cannot be raised that far; then
    // both meet at the finest scale the coarser bound reaches.
    const std::uint32_t finer = std::max(low.scale(), high.scale());
    std::uint32_t scale = std::min(low.rescaled_up(finer).scale(), high.rescaled_up(finer).scale());
    // A bound that loses digits on the grid is rounded inwards, so that every grid point drawn
    // lies in [low, high): the grid runs from the first point at or above low to the last one
    // below high.
    Int128 first = ceiling_coefficient(low, scale);
    Int128 last = ceiling_coefficient(high, scale) - 1;
    if (last < first) {
      // The pair is narrower than one step of that grid: draw on the finer one instead, as far
      // as its coefficients reach.
      scale = finer;
      first = ceiling_coefficient(low, scale);
      last = ceiling_coefficient(high, scale) - 1;
      if (last < first) fail(failure_text::decimal_low_above_high);
    }
    const auto width =
        static_cast<UInt128>(static_cast<UInt128>(last) - static_cast<UInt128>(first) + 1);
    return {first, UnsignedSpan<UInt128, UInt128>::over(width), scale};
  }

  // The signed coefficient, at `scale`, of the least multiple of 10^-scale that is not below
  // `value`. Where no coefficient of 96 bits reaches that far, the end of their range: the
  // lowest coefficient for a value below all of them, one past the highest for a value above.
  static Int128 ceiling_coefficient(Decimal value, std::uint32_t scale) {
    constexpr auto max = static_cast<Int128>(Decimal::max_coefficient);
    if (value.scale() <= scale) {
      const Decimal raised = value.rescaled_up(scale);
      if (raised.scale() == scale) return raised.signed_coefficient();
      return value.is_negative() ? -max : max + 1;
    }
    // Rounded to the nearest point, which is at most half a step away: one step up when that
    // went down.
    const Decimal nearest = value.rescaled_down(scale);
    return nearest.signed_coefficient() + (nearest < value ? 1 : 0);
  }

  static Decimal draw(const Span& span, ChaChaRng& rng) {
    const auto coefficient =
        static_cast<Int128>(static_cast<UInt128>(span.low) + span.offset.draw(rng));
    // Every grid point lies between two valid coefficients, so this cannot be empty.
    const auto value = Decimal::from_signed_coefficient(coefficient, span.scale);
    if (!value) fail(failure_text::decimal_draw_outside);
    return *value;
  }
};

// The word an integer kind draws: 32 bits up to i32, its own width beyond.
template <FixedWidthInt T>
using DrawWord = std::conditional_t<(sizeof(T) <= 4), std::uint32_t, UnsignedOf<T>>;

// The sampling rule of each element type.
template <class T>
struct RuleFor;
template <FixedWidthInt T>
struct RuleFor<T> : IntRule<T, DrawWord<T>> {};
template <>
struct RuleFor<BigInt> : BigIntRule {};
template <std::floating_point F>
struct RuleFor<F> : FloatRule<F> {};
template <class F>
struct RuleFor<BasicComplex<F>> : ComplexRule<F> {};
template <>
struct RuleFor<Decimal> : DecimalRule {};

template <ElementKind K>
using SpanRule = RuleFor<Element<K>>;

template <ElementKind K>
using SpanList = std::vector<typename SpanRule<K>::Span>;

}  // namespace

struct XVecSampler::Spans {
  KindTuple<SpanList> lists;

  template <ElementKind K>
  auto& list() noexcept {
    return std::get<kind_index(K)>(lists);
  }
  template <ElementKind K>
  const auto& list() const noexcept {
    return std::get<kind_index(K)>(lists);
  }
};

XVecSampler::XVecSampler(XVec lower, XVec upper) {
  auto spans = std::make_unique<Spans>();
  for_each_kind([&](auto tag) {
    constexpr ElementKind K = decltype(tag)::value;
    const auto lows = lower.list<K>();
    const auto highs = upper.list<K>();
    auto& records = spans->template list<K>();
    const std::size_t n = std::min(lows.size(), highs.size());
    records.reserve(n);
    for (std::size_t j = 0; j < n; ++j) {
      records.push_back(SpanRule<K>::make(std::move(lows[j]), std::move(highs[j])));
    }
  });
  spans_ = std::move(spans);
}

XVecSampler::XVecSampler(XVecSampler&&) noexcept = default;
XVecSampler& XVecSampler::operator=(XVecSampler&&) noexcept = default;
XVecSampler::~XVecSampler() = default;

XVec XVecSampler::sample(ChaChaRng& rng) const {
  // The point is sized once, its elements the kinds' zeros, and each draw then replaces one.
  XVec::Lengths lengths{};
  for_each_kind([&](auto tag) {
    constexpr ElementKind K = decltype(tag)::value;
    lengths[kind_index(K)] = spans_->template list<K>().size();
  });
  XVec point = XVec::with_lengths(lengths);
  for_each_kind([&](auto tag) {
    constexpr ElementKind K = decltype(tag)::value;
    const auto& records = spans_->template list<K>();
    Element<K>* const components = point.list<K>().data();
    for (std::size_t j = 0; j < records.size(); ++j) {
      components[j] = SpanRule<K>::draw(records[j], rng);
    }
  });
  return point;
}

double uniform_float_scale(double low, double high) noexcept {
  return fitted_scale(low, high);
}
float uniform_float_scale(float low, float high) noexcept {
  return fitted_scale(low, high);
}

}  // namespace swarmtuner
