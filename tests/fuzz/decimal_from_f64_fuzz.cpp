// Fuzz harness: binary64 to decimal against the exact binary value as a GMP rational.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reference.hpp"

using namespace swarmtuner;
using namespace swarmtuner::fuzz;

namespace {

// The input in exact hexadecimal, for messages.
std::string hex(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", value);
  return text;
}

void check(double value) {
  const Checked<Decimal> got = Decimal::from_f64(value);
  const auto input = [value] { return hex(value); };

  // Refused exactly when there is no finite value or its integer part needs more than 96 bits.
  const bool refuse = !std::isfinite(value) || std::fabs(value) >= 0x1p96;
  if (refuse) {
    if (got) mismatch(input() + ": got " + show(got) + ", want refusal");
    return;
  }
  if (!got) mismatch(input() + ": refused");
  const Decimal& d = *got;

  if (d.is_negative() != std::signbit(value)) mismatch(input() + ": sign bit of " + show(d));
  // With a fraction, about 16 significant digits and no trailing zero.
  if (d.scale() > 0 && (d.coefficient() >= (UInt128{1} << 52) || d.coefficient() % 10 == 0)) {
    mismatch(input() + ": untrimmed " + show(d));
  }

  // Within one unit of its last digit of the exact binary value; in fact within 5/9 of it,
  // since each digit dropped one at a time rounds half up (0.5 + 0.05 + 0.005 + ... units),
  // and the binary digits given up to fit 96 bits cost less than 2^-20 of a unit.
  Rational exact;
  mpq_set_d(exact.q, value);
  Rational result;
  set_decimal(result.q, d);
  Rational error;
  mpq_sub(error.q, result.q, exact.q);
  mpq_abs(error.q, error.q);
  Rational unit;
  Integer p;
  mpz_ui_pow_ui(p.z, 10, d.scale());
  mpq_set_z(unit.q, p.z);
  mpq_inv(unit.q, unit.q);
  Rational bound;
  mpq_set_ui(bound.q, 5 * (1u << 20) + 9, 9 * (1u << 20));  // 5/9 + 2^-20
  mpq_mul(bound.q, bound.q, unit.q);
  if (mpq_cmp(error.q, bound.q) > 0) mismatch(input() + ": inexact " + show(d));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Every 8 bytes are one binary64 (a shorter tail is padded with zeros).
  for (std::size_t offset = 0; offset < size || offset == 0; offset += 8) {
    std::uint64_t raw = 0;
    const std::size_t n = size - offset < 8 ? size - offset : 8;
    if (n > 0) std::memcpy(&raw, data + offset, n);
    double value;
    std::memcpy(&value, &raw, sizeof value);
    check(value);
    if (size == 0) break;
  }
  return 0;
}
