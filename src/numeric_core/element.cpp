// The element primitives of the two heap or library backed kinds, big integer and decimal.
#include "numeric_core/element.hpp"

namespace swarmtuner {

Checked<BigInt> scale_element(const BigInt& a, double x) {
  BigInt scaled = a;
  if (const Status status = scale_assign_element(scaled, x); status != Status::ok) return status;
  return scaled;
}

}  // namespace swarmtuner
