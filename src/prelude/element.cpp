// The element primitives of the two heap or library backed kinds, big integer and decimal.
#include "prelude/element.hpp"

#include <cmath>

#include "prelude/failure.hpp"

namespace swarmtuner {

BigInt scale_element(const BigInt& a, double x) {
  BigInt scaled = a;
  scale_assign_element(scaled, x);
  return scaled;
}

void scale_assign_element(BigInt& a, double x) {
  const double product = a.to_f64() * x;
  // A value of 2^1024 or more is infinite as a float, so it fails for every factor (even 0,
  // since infinity times zero is NaN).
  if (!std::isfinite(product)) {
    fail("f64 can not to BigInt");
  }
  a.assign_f64(product);  // truncates toward zero; exact for every finite double
}

namespace element_detail {

void fail_decimal_addition() {
  fail("Addition overflowed");
}

void fail_decimal_subtraction() {
  fail("Subtraction overflowed");
}

void fail_decimal_multiplication() {
  fail("Multiplication overflowed");
}

}  // namespace element_detail

Decimal decimal_factor(double x) {
  const std::optional<Decimal> factor = Decimal::from_f64(x);
  if (!factor) {
    fail("Failed to convert to Decimal");
  }
  return *factor;
}

}  // namespace swarmtuner
