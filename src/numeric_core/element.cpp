// The element primitives of the two heap or library backed kinds, big integer and decimal.
#include "numeric_core/element.hpp"

#include "numeric_core/failure.hpp"

namespace swarmtuner {

BigInt scale_element(const BigInt& a, double x) {
  BigInt scaled = a;
  scale_assign_element(scaled, x);
  return scaled;
}

namespace element_detail {

void fail_big_int_scaling() {
  fail("f64 can not to BigInt");
}

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
