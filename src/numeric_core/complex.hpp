// Single- and double-precision complex values: plain (re, im) pairs without an order.
#pragma once

namespace swarmtuner {

template <class T>
struct BasicComplex {
  T re{};
  T im{};

  friend constexpr BasicComplex operator+(BasicComplex a, BasicComplex b) noexcept {
    return {a.re + b.re, a.im + b.im};
  }
  friend constexpr BasicComplex operator-(BasicComplex a, BasicComplex b) noexcept {
    return {a.re - b.re, a.im - b.im};
  }
  constexpr BasicComplex operator-() const noexcept { return {-re, -im}; }
  constexpr BasicComplex& operator+=(BasicComplex b) noexcept {
    re += b.re;
    im += b.im;
    return *this;
  }
  // IEEE equality of both parts; there is deliberately no ordering.
  friend constexpr bool operator==(BasicComplex a, BasicComplex b) noexcept {
    return a.re == b.re && a.im == b.im;
  }
};

using Complex32 = BasicComplex<float>;
using Complex64 = BasicComplex<double>;

}  // namespace swarmtuner
