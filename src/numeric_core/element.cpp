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
  fail(failure_text::big_int_scaling);
}

void fail_decimal_addition() {
  fail(failure_text::decimal_addition);
}

void fail_decimal_subtraction() {
  fail(failure_text::decimal_subtraction);
}

void fail_decimal_multiplication() {
  fail(failure_text::decimal_multiplication);
}

}  // namespace element_detail

Decimal decimal_factor(double x) {
  const std::optional<Decimal> factor = Decimal::from_f64(x);
  if (!factor) {
    fail(failure_text::decimal_factor);
  }
  return *factor;
}

}  // namespace swarmtuner
