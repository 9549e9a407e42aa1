// The whole-vector operations of XVec: each applies its element primitive kind by kind.
#include "prelude/x_vec.hpp"

#include <algorithm>
#include <cstddef>
#include <utility>

namespace swarmtuner {
namespace {

// Every loop below visits positions from 0 upwards, and kinds are visited in kind order by
// for_each_kind, so the first element that fails is the one whose message is reported.

template <class T>
void add_list(std::vector<T>& a, const std::vector<T>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  T* out = a.data();
  const T* in = b.data();
  for (std::size_t j = 0; j < n; ++j) {
    add_assign_element(out[j], in[j]);
  }
}

template <class T>
void sub_list(std::vector<T>& a, const std::vector<T>& b) {
  const std::size_t n = std::min(a.size(), b.size());
  T* out = a.data();
  const T* in = b.data();
  for (std::size_t j = 0; j < n; ++j) {
    sub_assign_element(out[j], in[j]);
  }
}

template <class T>
void neg_list(std::vector<T>& a) {
  T* out = a.data();
  const std::size_t n = a.size();
  for (std::size_t j = 0; j < n; ++j) {
    out[j] = neg_element(std::move(out[j]));
  }
}

// Drops the elements past the shorter operand's length; never reallocates.
template <class T>
void shorten_to(std::vector<T>& a, std::size_t n) {
  if (a.size() > n) {
    a.erase(a.begin() + static_cast<std::ptrdiff_t>(n), a.end());
  }
}

template <class T>
void scale_list(std::vector<T>& a, const ScaleFactor& factor) {
  T* out = a.data();
  const std::size_t n = a.size();
  if (n == 0) return;
  if constexpr (std::same_as<T, Decimal>) {
    // The factor converts the same way for every element, so it is converted once, and only
    // when there is an element to scale: an empty list never fails.
    const Decimal decimal = factor.decimal();
    for (std::size_t j = 0; j < n; ++j) {
      out[j] = scale_element(out[j], decimal);
    }
  } else if constexpr (std::same_as<T, BigInt>) {
    const double x = factor.value();
    for (std::size_t j = 0; j < n; ++j) {
      scale_assign_element(out[j], x);
    }
  } else {
    const double x = factor.value();
    for (std::size_t j = 0; j < n; ++j) {
      out[j] = scale_element(out[j], x);
    }
  }
}

// Position and velocity limits for the register kinds, written as selects so that the loop
// has no branches to stop vectorisation. Rules in order: below lower, above upper (both put
// the position on the bound and zero the velocity), then the velocity limits.
template <FixedSizeNumber T>
void clamp_list(T* position, T* velocity, const T* lower, const T* upper, const T* velocity_min,
                const T* velocity_max, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    // Every operand is loaded up front and the conditions combined without short circuits:
    // conditional loads would keep the compiler from turning the rules into selects.
    const T x = position[j];
    const T v = velocity[j];
    const T lo = lower[j];
    const T hi = upper[j];
    const T v_lo = velocity_min[j];
    const T v_hi = velocity_max[j];
    const bool below = less_element(x, lo);
    const bool above = greater_element(x, hi);
    // Later selects take precedence, so the rules are applied last to first.
    T new_v = greater_element(v, v_hi) ? v_hi : v;
    new_v = less_element(v, v_lo) ? v_lo : new_v;
    new_v = (below | above) ? T{} : new_v;
    T new_x = above ? hi : x;
    new_x = below ? lo : new_x;
    position[j] = new_x;
    velocity[j] = new_v;
  }
}

// The same rules for big integers and decimals, where a copy is not free.
template <class T>
void clamp_list(T* position, T* velocity, const T* lower, const T* upper, const T* velocity_min,
                const T* velocity_max, std::size_t n) {
  for (std::size_t j = 0; j < n; ++j) {
    if (less_element(position[j], lower[j])) {
      position[j] = lower[j];
      velocity[j] = zero_element<T>();
    } else if (greater_element(position[j], upper[j])) {
      position[j] = upper[j];
      velocity[j] = zero_element<T>();
    } else if (less_element(velocity[j], velocity_min[j])) {
      velocity[j] = velocity_min[j];
    } else if (greater_element(velocity[j], velocity_max[j])) {
      velocity[j] = velocity_max[j];
    }
  }
}

}  // namespace

XVec XVec::zeros_like() const {
  XVec zeros;
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    // Value-initialised elements are the kind's zero.
    zeros.list<K>().resize(list<K>().size());
  });
  return zeros;
}

bool XVec::empty() const noexcept {
  bool all_empty = true;
  for_each_kind([&]<ElementKind K>(KindTag<K>) { all_empty = all_empty && list<K>().empty(); });
  return all_empty;
}

void XVec::add_in_place(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    auto& out = list<K>();
    if (out.empty()) return;
    const auto& in = b.list<K>();
    add_list(out, in);
    shorten_to(out, in.size());
  });
}

void XVec::sub_in_place(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    auto& out = list<K>();
    if (out.empty()) return;
    const auto& in = b.list<K>();
    sub_list(out, in);
    shorten_to(out, in.size());
  });
}

XVec XVec::add(XVec a, const XVec& b) {
  a.add_in_place(b);
  return a;
}

XVec XVec::sub(XVec a, const XVec& b) {
  a.sub_in_place(b);
  return a;
}

XVec XVec::neg(XVec a) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { neg_list(a.list<K>()); });
  return a;
}

void XVec::add_assign(const XVec& b) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { add_list(list<K>(), b.list<K>()); });
}

void XVec::mul_assign(const ScaleFactor& factor) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) { scale_list(list<K>(), factor); });
}

void clamp_particle(XVec& position, XVec& velocity, const XVec& lower, const XVec& upper,
                    const XVec& velocity_min, const XVec& velocity_max) {
  for_each_kind([&]<ElementKind K>(KindTag<K>) {
    if constexpr (!is_complex_kind(K)) {
      auto& x = position.list<K>();
      if (x.empty()) return;
      auto& v = velocity.list<K>();
      const auto& lo = lower.list<K>();
      const auto& hi = upper.list<K>();
      const auto& v_lo = velocity_min.list<K>();
      const auto& v_hi = velocity_max.list<K>();
      const std::size_t n =
          std::min({x.size(), v.size(), lo.size(), hi.size(), v_lo.size(), v_hi.size()});
      clamp_list(x.data(), v.data(), lo.data(), hi.data(), v_lo.data(), v_hi.data(), n);
    }
  });
}

}  // namespace swarmtuner
