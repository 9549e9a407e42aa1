// Exact GMP rationals for the decimal fuzz harnesses: values, powers of ten and the rounding rule.
#pragma once

#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "numeric_core/decimal.hpp"
#include "numeric_core/decimal_text.hpp"

namespace swarmtuner::fuzz {

// Owning wrappers: every harness input allocates and frees its rationals.
struct Integer {
  mpz_t z;
  Integer() { mpz_init(z); }
  explicit Integer(unsigned long v) { mpz_init_set_ui(z, v); }
  Integer(const Integer&) = delete;
  Integer& operator=(const Integer&) = delete;
  ~Integer() { mpz_clear(z); }
};

struct Rational {
  mpq_t q;
  Rational() { mpq_init(q); }
  Rational(const Rational&) = delete;
  Rational& operator=(const Rational&) = delete;
  ~Rational() { mpq_clear(q); }
};

inline void set_u128(mpz_t out, UInt128 v) {
  mpz_set_ui(out, static_cast<unsigned long>(v >> 64));
  mpz_mul_2exp(out, out, 64);
  mpz_add_ui(out, out, static_cast<unsigned long>(static_cast<std::uint64_t>(v)));
}

inline UInt128 get_u128(const mpz_t v) {
  Integer high;
  mpz_fdiv_q_2exp(high.z, v, 64);
  Integer low;
  mpz_fdiv_r_2exp(low.z, v, 64);
  return (UInt128{mpz_get_ui(high.z)} << 64) | mpz_get_ui(low.z);
}

// 2^96 - 1, the largest coefficient.
inline void set_max_coefficient(mpz_t out) {
  mpz_set_ui(out, 1);
  mpz_mul_2exp(out, out, 96);
  mpz_sub_ui(out, out, 1);
}

// The exact value of a decimal (the sign of a zero is lost, as in any rational).
inline void set_decimal(mpq_t out, const Decimal& d) {
  Integer numerator;
  set_u128(numerator.z, d.coefficient());
  if (d.is_negative()) mpz_neg(numerator.z, numerator.z);
  Integer denominator;
  mpz_ui_pow_ui(denominator.z, 10, d.scale());
  mpq_set_num(out, numerator.z);
  mpq_set_den(out, denominator.z);
  mpq_canonicalize(out);
}

// |x| * 10^scale split into its integer part and the comparison of the fraction with 1/2.
struct Scaled {
  Integer floor;
  int half = 0;  // -1 below one half, 0 exactly one half, +1 above
};

inline void scale_magnitude(Scaled& out, const mpq_t x, unsigned scale) {
  Rational t;
  mpq_abs(t.q, x);
  Integer p;
  mpz_ui_pow_ui(p.z, 10, scale);
  mpz_mul(mpq_numref(t.q), mpq_numref(t.q), p.z);
  mpq_canonicalize(t.q);
  Integer remainder;
  mpz_fdiv_qr(out.floor.z, remainder.z, mpq_numref(t.q), mpq_denref(t.q));
  mpz_mul_2exp(remainder.z, remainder.z, 1);
  const int c = mpz_cmp(remainder.z, mpq_denref(t.q));
  out.half = c < 0 ? -1 : (c == 0 ? 0 : 1);
}

struct Expected {
  UInt128 coefficient;
  unsigned scale;
};

// The arithmetic rule: the largest scale <= min(start, 28) at which |x| rounded half to even
// fits 96 bits. nullopt when it does not fit even at scale 0.
inline std::optional<Expected> fit_half_even(const mpq_t x, unsigned start) {
  Integer max;
  set_max_coefficient(max.z);
  for (int s = static_cast<int>(start < 28 ? start : 28); s >= 0; --s) {
    Scaled t;
    scale_magnitude(t, x, static_cast<unsigned>(s));
    if (t.half > 0 || (t.half == 0 && mpz_odd_p(t.floor.z))) mpz_add_ui(t.floor.z, t.floor.z, 1);
    if (mpz_cmp(t.floor.z, max.z) <= 0) {
      return Expected{get_u128(t.floor.z), static_cast<unsigned>(s)};
    }
  }
  return std::nullopt;
}

// Sign, digits and scale of a decimal, for messages.
using test_text::digits;
using test_text::show;

// A disagreement with the reference: report and abort, so that libFuzzer saves the input.
[[noreturn]] inline void mismatch(const std::string& what) {
  std::fprintf(stderr, "MISMATCH: %s\n", what.c_str());
  std::abort();
}

}  // namespace swarmtuner::fuzz
