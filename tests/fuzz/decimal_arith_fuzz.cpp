// Fuzz harness: decimal sum, difference, product, comparison and text form against GMP rationals.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>

#include "reference.hpp"

using namespace swarmtuner;
using namespace swarmtuner::fuzz;

namespace {

// A decimal drawn from the input: a coefficient of a chosen bit width (so that small, full
// and near-limit coefficients are all common), a scale 0..28 and a sign.
Decimal draw(FuzzedDataProvider& input) {
  const unsigned width = input.ConsumeIntegralInRange<unsigned>(0, 96);
  const auto low = input.ConsumeIntegral<std::uint64_t>();
  const auto high = input.ConsumeIntegral<std::uint32_t>();
  UInt128 coefficient = (UInt128{high} << 64) | low;
  if (width < 96) coefficient &= (UInt128{1} << width) - 1;
  if (input.ConsumeBool()) coefficient = Decimal::max_coefficient - (coefficient & 0xFFFF);
  const unsigned scale = input.ConsumeIntegralInRange<unsigned>(0, Decimal::max_scale);
  const bool negative = input.ConsumeBool();
  return *Decimal::from_parts(coefficient, scale, negative);
}

// The exact result of a sum, difference or product, rounded by the reference rule, including
// the treatment of zero operands.
std::optional<Decimal> reference(char op, const Decimal& a, const Decimal& b) {
  if (op == '*') {
    if (a.is_zero() || b.is_zero()) return Decimal();
  } else {
    const bool subtract = op == '-';
    if (a.is_zero()) return subtract && !b.is_zero() ? -b : b;
    if (b.is_zero()) return a;
  }
  Rational x;
  Rational y;
  set_decimal(x.q, a);
  set_decimal(y.q, b);
  Rational exact;
  unsigned start;
  if (op == '*') {
    mpq_mul(exact.q, x.q, y.q);
    start = a.scale() + b.scale();
  } else {
    if (op == '+') {
      mpq_add(exact.q, x.q, y.q);
    } else {
      mpq_sub(exact.q, x.q, y.q);
    }
    start = a.scale() > b.scale() ? a.scale() : b.scale();
  }
  const std::optional<Expected> fitted = fit_half_even(exact.q, start);
  if (!fitted) return std::nullopt;
  return Decimal::from_parts(fitted->coefficient, fitted->scale,
                             fitted->coefficient != 0 && mpq_sgn(exact.q) < 0);
}

void check_op(char op, const Decimal& a, const Decimal& b) {
  const Checked<Decimal> got = op == '+'   ? Decimal::checked_add(a, b)
                               : op == '-' ? Decimal::checked_sub(a, b)
                                           : Decimal::checked_mul(a, b);
  const std::optional<Decimal> want = reference(op, a, b);
  if (got.ok() != want.has_value() || (got && !got->identical(*want))) {
    mismatch(show(a) + " " + op + " " + show(b) + ": got " + show(got) + ", want " + show(want));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Decimal a = draw(input);
  const Decimal b = draw(input);
  check_op('+', a, b);
  check_op('-', a, b);
  check_op('*', a, b);

  // Numeric order ignores scale and the sign of zero.
  Rational x;
  Rational y;
  set_decimal(x.q, a);
  set_decimal(y.q, b);
  const int want = mpq_cmp(x.q, y.q);
  const auto got = a <=> b;
  if ((want < 0) != (got < 0) || (want == 0) != (got == 0) || (a == b) != (want == 0)) {
    mismatch("compare " + show(a) + " " + show(b));
  }

  // The text form reads back as the very same coefficient, scale and sign.
  const Checked<Decimal> back = Decimal::parse(a.to_string());
  if (!back || !back->identical(a)) {
    mismatch("text " + a.to_string() + " of " + show(a) + " reads back as " + show(back));
  }
  return 0;
}
