// Fuzz harness: BigInt arithmetic, order, conversions and storage form against GMP's mpz.
#include <fuzzer/FuzzedDataProvider.h>
#include <gmp.h>

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "numeric_core/big_int.hpp"

using namespace swarmtuner;

namespace {

// An mpz that frees itself; the reference side of every comparison.
struct Z {
  mpz_t z;
  Z() { mpz_init(z); }
  Z(const Z&) = delete;
  Z& operator=(const Z&) = delete;
  ~Z() { mpz_clear(z); }
};

std::string text_of(const mpz_t value) {
  std::string text(mpz_sizeinbase(value, 10) + 2, '\0');
  mpz_get_str(text.data(), 10, value);
  text.resize(std::char_traits<char>::length(text.c_str()));
  return text;
}

[[noreturn]] void mismatch(const std::string& what) {
  std::fprintf(stderr, "MISMATCH: %s\n", what.c_str());
  std::abort();
}

// The value must equal the reference and be held in its one form: inline exactly when it fits
// a 64-bit word.
void expect(const BigInt& got, const mpz_t want, const std::string& what) {
  const std::string want_text = text_of(want);
  if (got.to_string() != want_text) {
    mismatch(what + ": got " + got.to_string() + ", want " + want_text);
  }
  const bool word = mpz_fits_slong_p(want) != 0;
  if (got.to_i64().has_value() != word || (got.capacity() == 0) != word) {
    mismatch(what + ": " + want_text + " held in the wrong form");
  }
  if (word && *got.to_i64() != mpz_get_si(want)) mismatch(what + ": word of " + want_text);
}

// A value drawn from the input: mostly 2^e plus or minus a small offset for e at the word edges,
// sometimes raw two's complement bytes, with either sign.
void draw(FuzzedDataProvider& input, mpz_t out) {
  static constexpr unsigned edges[] = {0, 1, 62, 63, 64, 65, 126, 127, 128, 129, 191, 192, 256};
  if (input.ConsumeBool()) {
    const std::vector<std::uint8_t> bytes =
        input.ConsumeBytes<std::uint8_t>(input.ConsumeIntegralInRange<std::size_t>(0, 48));
    mpz_import(out, bytes.size(), -1, 1, 0, 0, bytes.data());
  } else {
    const unsigned exponent = input.ConsumeBool()
                                  ? edges[input.ConsumeIntegralInRange<std::size_t>(0, 12)]
                                  : input.ConsumeIntegralInRange<unsigned>(0, 320);
    mpz_set_ui(out, 1);
    mpz_mul_2exp(out, out, exponent);
    // The offset is narrowed to a chosen width, so that offsets of a few units are common.
    const unsigned width = input.ConsumeIntegralInRange<unsigned>(0, 64);
    std::uint64_t offset = input.ConsumeIntegral<std::uint64_t>();
    if (width < 64) offset &= (std::uint64_t{1} << width) - 1;
    Z z_offset;
    mpz_set_ui(z_offset.z, offset);
    if (input.ConsumeBool()) {
      mpz_sub(out, out, z_offset.z);
    } else {
      mpz_add(out, out, z_offset.z);
    }
  }
  if (input.ConsumeBool()) mpz_neg(out, out);
}

// The binary64 rule: below 2^64 round to nearest; above, truncate to the 64 leading bits, round
// those and scale back; infinite past the range; the sign last.
double reference_to_f64(const mpz_t value) {
  Z magnitude;
  mpz_abs(magnitude.z, value);
  const std::size_t bits = mpz_sgn(value) == 0 ? 0 : mpz_sizeinbase(magnitude.z, 2);
  const std::size_t dropped = bits > 64 ? bits - 64 : 0;
  mpz_tdiv_q_2exp(magnitude.z, magnitude.z, dropped);
  const auto leading = static_cast<double>(static_cast<std::uint64_t>(mpz_get_ui(magnitude.z)));
  const double scaled = dropped > 2000 ? INFINITY : std::ldexp(leading, static_cast<int>(dropped));
  return mpz_sgn(value) < 0 ? -scaled : scaled;
}

// The shortest little-endian two's complement bytes of a value.
std::vector<std::uint8_t> reference_bytes(const mpz_t value) {
  // n bytes hold [-2^(8n-1), 2^(8n-1)); the smallest n that holds the value.
  Z shifted;
  if (mpz_sgn(value) < 0) {
    mpz_com(shifted.z, value);  // -v - 1 >= 0 has the same byte count
  } else {
    mpz_set(shifted.z, value);
  }
  const std::size_t bits = mpz_sgn(shifted.z) == 0 ? 0 : mpz_sizeinbase(shifted.z, 2);
  const std::size_t n = bits / 8 + 1;
  // v modulo 2^(8n), exported as n bytes.
  Z modulus;
  mpz_set_ui(modulus.z, 1);
  mpz_mul_2exp(modulus.z, modulus.z, 8 * n);
  Z wrapped;
  mpz_mod(wrapped.z, value, modulus.z);
  std::vector<std::uint8_t> bytes(n, 0);
  mpz_export(bytes.data(), nullptr, -1, 1, 0, 0, wrapped.z);
  return bytes;
}

void check_pair(const mpz_t x, const mpz_t y, const BigInt& a, const BigInt& b) {
  const std::string pair = text_of(x) + ", " + text_of(y);
  Z want;
  mpz_add(want.z, x, y);
  expect(a + b, want.z, "sum " + pair);
  BigInt in_place = a;
  in_place += b;
  expect(in_place, want.z, "in-place sum " + pair);
  mpz_sub(want.z, x, y);
  expect(a - b, want.z, "difference " + pair);
  in_place = a;
  in_place -= b;
  expect(in_place, want.z, "in-place difference " + pair);
  // The right operand in place: b += a, reusing the storage that b already holds.
  BigInt right = b;
  right += a;
  mpz_add(want.z, x, y);
  expect(right, want.z, "sum into the right operand " + pair);

  const int order = mpz_cmp(x, y);
  const auto got = a <=> b;
  if ((got < 0) != (order < 0) || (got > 0) != (order > 0) || (a == b) != (order == 0)) {
    mismatch("order " + pair);
  }
}

void check_value(const mpz_t x, const BigInt& a) {
  const std::string text = text_of(x);
  expect(a, x, "value");
  Z want;
  mpz_neg(want.z, x);
  expect(-a, want.z, "negation of " + text);
  BigInt negated = a;
  negated = -std::move(negated);
  expect(negated, want.z, "in-place negation of " + text);
  mpz_add(want.z, x, x);
  BigInt doubled = a;
  doubled += doubled;
  expect(doubled, want.z, "self sum of " + text);

  const int sign = mpz_sgn(x);
  const BigInt::Sign want_sign = sign < 0    ? BigInt::Sign::Minus
                                 : sign == 0 ? BigInt::Sign::NoSign
                                             : BigInt::Sign::Plus;
  if (a.sign() != want_sign) mismatch("sign of " + text);
  Z magnitude;
  mpz_abs(magnitude.z, x);
  const std::size_t bits = sign == 0 ? 0 : mpz_sizeinbase(magnitude.z, 2);
  if (a.bit_length() != bits) mismatch("bit length of " + text);

  const double f = a.to_f64();
  const double want_f = reference_to_f64(x);
  if (f != want_f || std::signbit(f) != std::signbit(want_f)) mismatch("to_f64 of " + text);

  const std::vector<std::uint8_t> bytes = reference_bytes(x);
  if (a.to_le_signed_bytes() != bytes) mismatch("bytes of " + text);
  expect(BigInt::from_le_signed_bytes(bytes), x, "from bytes of " + text);
  expect(BigInt::from_string(text), x, "from text");
}

// Doubles: exact truncation toward zero, also when stored over a value of either form.
void check_f64(double value, const BigInt& target) {
  const Checked<BigInt> got = BigInt::from_f64(value);
  if (!std::isfinite(value)) {
    BigInt kept = target;
    if (got || kept.assign_f64(value) == Status::ok || kept != target) {
      mismatch("non-finite accepted");
    }
    return;
  }
  if (!got) mismatch("finite double refused");
  Z want;
  mpz_set_d(want.z, value);
  expect(*got, want.z, "from_f64");
  BigInt reused = target;
  if (reused.assign_f64(value) != Status::ok) mismatch("finite double refused in place");
  expect(reused, want.z, "assign_f64");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  Z x;
  Z y;
  draw(input, x.z);
  draw(input, y.z);
  // One operand from its text, the other from its bytes: two independent ways in.
  const BigInt a = BigInt::from_string(text_of(x.z));
  const BigInt b = BigInt::from_le_signed_bytes(reference_bytes(y.z));
  check_value(x.z, a);
  check_value(y.z, b);
  check_pair(x.z, y.z, a, b);
  check_pair(y.z, x.z, b, a);

  // Unsigned 32-bit words, least significant first.
  std::vector<std::uint32_t> words(input.ConsumeIntegralInRange<std::size_t>(0, 10));
  for (auto& word : words) word = input.ConsumeIntegral<std::uint32_t>();
  Z from_words;
  if (!words.empty()) {
    mpz_import(from_words.z, words.size(), -1, sizeof(std::uint32_t), 0, 0, words.data());
  }
  expect(BigInt::from_le_words(words), from_words.z, "from_le_words");

  check_f64(std::bit_cast<double>(input.ConsumeIntegral<std::uint64_t>()), a);
  check_f64(std::ldexp(static_cast<double>(input.ConsumeIntegral<std::int64_t>()),
                       input.ConsumeIntegralInRange<int>(-70, 1100)),
            b);
  return 0;
}
