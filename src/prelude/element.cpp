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
  mpz_set_d(a.raw(), product);  // truncates toward zero; exact for every finite double
}

Decimal add_element(Decimal a, Decimal b) {
  const std::optional<Decimal> sum = Decimal::checked_add(a, b);
  if (!sum) {
    fail("Addition overflowed");
  }
  return *sum;
}

Decimal sub_element(Decimal a, Decimal b) {
  const std::optional<Decimal> difference = Decimal::checked_sub(a, b);
  if (!difference) {
    fail("Subtraction overflowed");
  }
  return *difference;
}

void add_assign_element(Decimal& a, Decimal b) {
  a = add_element(a, b);
}

void sub_assign_element(Decimal& a, Decimal b) {
  a = sub_element(a, b);
}

Decimal decimal_factor(double x) {
  const std::optional<Decimal> factor = Decimal::from_f64(x);
  if (!factor) {
    fail("Failed to convert to Decimal");
  }
  return *factor;
}

Decimal scale_element(Decimal a, Decimal factor) {
  const std::optional<Decimal> product = Decimal::checked_mul(a, factor);
  if (!product) {
    fail("Multiplication overflowed");
  }
  return *product;
}

}  // namespace swarmtuner
