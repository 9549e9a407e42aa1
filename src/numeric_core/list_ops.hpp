// The operations on one kind's list that the whole-vector operations apply kind by kind.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

#include "numeric_core/element.hpp"
#include "numeric_core/failure.hpp"

namespace swarmtuner {

// A scaling factor whose decimal form is converted once, on first use, so that a search
// scaling by the same coefficient again and again converts it only once. A factor without a
// decimal form fails only where a decimal component is scaled, as a plain double would.
class ScaleFactor {
 public:
  explicit ScaleFactor(double value) noexcept
      : value_(value), binary32_(narrow_to_f32(value)), decimal_(Decimal{}) {}
  double value() const noexcept { return value_; }
  // The factor in the float type F that a kind is scaled in (scale_factor_in), rounded once.
  template <std::floating_point F>
  F in() const noexcept {
    if constexpr (std::same_as<F, float>) {
      return binary32_;
    } else {
      return value_;
    }
  }
  // The decimal form, or Status::decimal_factor.
  Checked<Decimal> decimal() const noexcept {
    if (!converted_) {
      decimal_ = Decimal::from_f64(value_);
      converted_ = true;
    }
    return decimal_;
  }

 private:
  double value_;
  float binary32_;
  mutable bool converted_ = false;
  mutable Checked<Decimal> decimal_;
};

// Every loop below visits positions from 0 upwards and stops at the first element whose
// operation reports a failure, throwing it: that element's message is the one reported.

namespace list_detail {

// Calls op(j) for j in [0, n). Where op reports a status (the kinds whose operations can fail),
// the first failure ends the loop and is thrown; otherwise the loop is a plain one.
template <class Op>
inline void for_each_index(std::size_t n, Op op) {
  if constexpr (std::same_as<decltype(op(std::size_t{0})), Status>) {
    for (std::size_t j = 0; j < n; ++j) {
      if (const Status status = op(j); status != Status::ok) [[unlikely]]
        fail(status);
    }
  } else {
    for (std::size_t j = 0; j < n; ++j) op(j);
  }
}

}  // namespace list_detail

// A list here is anything with size() and data(): a vector's list (XVec::ListRef), a span, a
// std::vector. The calls that change a length need resize() and assignment as well.
template <class L>
using ListElement = std::remove_cvref_t<decltype(*std::declval<L&>().data())>;

// a[j] += b[j] for j below the shorter length; a keeps its length.
template <class A, class B>
void add_list(A&& a, const B& b) {
  const std::size_t n = std::min(a.size(), b.size());
  auto* out = a.data();
  const auto* in = b.data();
  list_detail::for_each_index(n, [&](std::size_t j) { return add_assign_element(out[j], in[j]); });
}

// a[j] -= b[j] for j below the shorter length; a keeps its length.
template <class A, class B>
void sub_list(A&& a, const B& b) {
  const std::size_t n = std::min(a.size(), b.size());
  auto* out = a.data();
  const auto* in = b.data();
  list_detail::for_each_index(n, [&](std::size_t j) { return sub_assign_element(out[j], in[j]); });
}

template <class A>
void neg_list(A&& a) {
  auto* out = a.data();
  const std::size_t n = a.size();
  for (std::size_t j = 0; j < n; ++j) {
    out[j] = neg_element(std::move(out[j]));
  }
}

// Drops the elements past the shorter operand's length.
template <class A>
void shorten_to(A&& a, std::size_t n) {
  if (a.size() > n) a.resize(n);
}

// a = a + b and a = a - b over the shorter length: a ends with that length.
template <class A, class B>
void add_list_in_place(A&& a, const B& b) {
  if (a.empty()) return;
  add_list(a, b);
  shorten_to(a, b.size());
}

template <class A, class B>
void sub_list_in_place(A&& a, const B& b) {
  if (a.empty()) return;
  sub_list(a, b);
  shorten_to(a, b.size());
}

// A deep copy into a's storage, reusing what it holds.
template <class A, class B>
void assign_list(A&& a, const B& b) {
  if (!(a.empty() && b.empty())) a = b;
}

template <class A>
void scale_list(A&& a, const ScaleFactor& factor) {
  using T = ListElement<A>;
  T* out = a.data();
  const std::size_t n = a.size();
  if (n == 0) return;
  if constexpr (std::same_as<T, Decimal>) {
    // The factor converts the same way for every element, so it is converted once, and only
    // when there is an element to scale: an empty list never fails.
    const Decimal decimal = factor.decimal().value_or_throw();
    list_detail::for_each_index(n, [&](std::size_t j) {
      const Checked<Decimal> product = scale_element(out[j], decimal);
      if (product) out[j] = *product;
      return product.status();
    });
  } else if constexpr (std::same_as<T, BigInt>) {
    const double x = factor.value();
    list_detail::for_each_index(n, [&](std::size_t j) { return scale_assign_element(out[j], x); });
  } else {
    const double x = factor.value();
    for (std::size_t j = 0; j < n; ++j) {
      out[j] = scale_element(out[j], x);
    }
  }
}

// finite_velocity of every component; big integers and decimals are exact or fail, so they are
// left as they are.
template <class A>
void finite_velocity_list(A&& velocity) {
  using T = ListElement<A>;
  if constexpr (FixedSizeNumber<T>) {
    T* out = velocity.data();
    const std::size_t n = velocity.size();
    for (std::size_t j = 0; j < n; ++j) out[j] = finite_velocity(out[j]);
  }
}

// The position and velocity limits of one ordered register-kind component, written as selects
// so that a loop around it has no branches to stop vectorisation. Rules in order: below lower,
// above upper (both put the position on the bound and zero the velocity), then the velocity
// limits.
template <FixedSizeNumber T>
requires OrderedElement<T>
inline void clamp_element(T& position, T& velocity, T lower, T upper, T velocity_min,
                          T velocity_max) noexcept {
  // The conditions are combined without short circuits: conditional loads would keep the
  // compiler from turning the rules into selects.
  const T x = position;
  const T v = velocity;
  const bool below = less_element(x, lower);
  const bool above = greater_element(x, upper);
  // Later selects take precedence, so the rules are applied last to first.
  T new_v = greater_element(v, velocity_max) ? velocity_max : v;
  new_v = less_element(v, velocity_min) ? velocity_min : new_v;
  new_v = (below | above) ? T{} : new_v;
  T new_x = above ? upper : x;
  new_x = below ? lower : new_x;
  position = new_x;
  velocity = new_v;
}

// Complex numbers have no order, but each part is a float of the kind's precision and is held
// within its own range exactly as a float component would be: the real part by the real parts
// of the bounds and limits, the imaginary part by the imaginary parts. A part that leaves its
// range stops that part of the velocity only.
template <class F>
inline void clamp_element(BasicComplex<F>& position, BasicComplex<F>& velocity,
                          BasicComplex<F> lower, BasicComplex<F> upper,
                          BasicComplex<F> velocity_min, BasicComplex<F> velocity_max) noexcept {
  clamp_element(position.re, velocity.re, lower.re, upper.re, velocity_min.re, velocity_max.re);
  clamp_element(position.im, velocity.im, lower.im, upper.im, velocity_min.im, velocity_max.im);
}

template <FixedSizeNumber T>
void clamp_list(T* position, T* velocity, const T* lower, const T* upper, const T* velocity_min,
                const T* velocity_max, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    clamp_element(position[j], velocity[j], lower[j], upper[j], velocity_min[j], velocity_max[j]);
  }
}

// The same rules for one big integer or decimal component, where a copy is not free.
template <class T>
inline void clamp_exact_element(T& position, T& velocity, const T& lower, const T& upper,
                                const T& velocity_min, const T& velocity_max) {
  if (less_element(position, lower)) {
    position = lower;
    velocity = zero_element<T>();
  } else if (greater_element(position, upper)) {
    position = upper;
    velocity = zero_element<T>();
  } else if (less_element(velocity, velocity_min)) {
    velocity = velocity_min;
  } else if (greater_element(velocity, velocity_max)) {
    velocity = velocity_max;
  }
}

template <class T>
void clamp_list(T* position, T* velocity, const T* lower, const T* upper, const T* velocity_min,
                const T* velocity_max, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    clamp_exact_element(position[j], velocity[j], lower[j], upper[j], velocity_min[j],
                        velocity_max[j]);
  }
}

// Clamps one kind's lists over the shortest of the six.
template <class X, class V, class L>
void clamp_lists(X&& position, V&& velocity, const L& lower, const L& upper, const L& velocity_min,
                 const L& velocity_max) {
  if (position.empty()) return;
  const std::size_t n = std::min({position.size(), velocity.size(), lower.size(), upper.size(),
                                  velocity_min.size(), velocity_max.size()});
  clamp_list(position.data(), velocity.data(), lower.data(), upper.data(), velocity_min.data(),
             velocity_max.data(), n);
}

}  // namespace swarmtuner
