// BigInt on GMP: construction, the two's complement byte exchange and the binary64 conversions.
#include "numeric_core/big_int.hpp"

#include <climits>
#include <cmath>
#include <limits>
#include <utility>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

// The float conversion reads the magnitude limb by limb and assumes full 64-bit limbs.
static_assert(GMP_NUMB_BITS == 64 && GMP_NAIL_BITS == 0, "BigInt expects 64-bit GMP limbs");
static_assert(sizeof(long) == sizeof(std::int64_t), "BigInt(int64_t) goes through mpz_init_set_si");

namespace {

// Bits [offset, offset + 64) of the magnitude of `value`; limbs past the top read as zero.
std::uint64_t magnitude_bits_at(mpz_srcptr value, std::size_t offset) noexcept {
  const std::size_t limb = offset / 64;
  const unsigned shift = static_cast<unsigned>(offset % 64);
  const auto limb_at = [value](std::size_t index) -> std::uint64_t {
    return index < mpz_size(value) ? mpz_getlimbn(value, static_cast<mp_size_t>(index)) : 0;
  };
  std::uint64_t bits = limb_at(limb) >> shift;
  if (shift != 0) bits |= limb_at(limb + 1) << (64 - shift);
  return bits;
}

}  // namespace

// GMP 6.2's mpz_init points at a shared dummy limb instead of allocating, which is what lets
// the default constructor and the moves be noexcept.
BigInt::BigInt() noexcept {
  mpz_init(value_);
}

BigInt::BigInt(std::int64_t value) {
  mpz_init_set_si(value_, static_cast<long>(value));
}

BigInt::BigInt(const BigInt& other) {
  mpz_init_set(value_, other.value_);
}

BigInt::BigInt(BigInt&& other) noexcept {
  mpz_init(value_);
  mpz_swap(value_, other.value_);
}

BigInt& BigInt::operator=(const BigInt& other) {
  mpz_set(value_, other.value_);
  return *this;
}

// The moved-from operand takes over the old digits and frees them when it dies.
BigInt& BigInt::operator=(BigInt&& other) noexcept {
  mpz_swap(value_, other.value_);
  return *this;
}

BigInt::~BigInt() {
  mpz_clear(value_);
}

BigInt BigInt::from_le_signed_bytes(std::span<const std::uint8_t> bytes) {
  BigInt result;
  if (bytes.empty()) return result;
  mpz_import(result.value_, bytes.size(), -1, 1, 0, 0, bytes.data());
  if ((bytes.back() & 0x80U) != 0) {
    // The top bit carries weight -2^(8n-1): subtract 2^(8n) from the unsigned reading.
    BigInt modulus;
    mpz_setbit(modulus.value_, 8 * bytes.size());
    mpz_sub(result.value_, result.value_, modulus.value_);
  }
  return result;
}

std::vector<std::uint8_t> BigInt::to_le_signed_bytes() const {
  // A negative v is written as the byte-wise complement of ~v = -v - 1, which is non-negative.
  // In both cases the magnitude m needs bit_length(m) / 8 + 1 bytes to leave room for the sign
  // bit, which also gives a single zero byte for zero.
  const bool negative = mpz_sgn(value_) < 0;
  BigInt magnitude;
  if (negative) {
    mpz_com(magnitude.value_, value_);
  }
  mpz_srcptr source = negative ? magnitude.value_ : value_;
  const std::size_t bits = mpz_sgn(source) == 0 ? 0 : mpz_sizeinbase(source, 2);
  std::vector<std::uint8_t> bytes(bits / 8 + 1, 0);
  mpz_export(bytes.data(), nullptr, -1, 1, 0, 0, source);
  if (negative) {
    for (auto& byte : bytes) byte = static_cast<std::uint8_t>(~byte);
  }
  return bytes;
}

std::size_t BigInt::to_le_signed_words(std::span<std::uint64_t> out) const noexcept {
  static_assert(sizeof(mp_limb_t) == sizeof(std::uint64_t) && GMP_NAIL_BITS == 0,
                "limbs are copied as 64-bit words");
  const std::size_t limbs = mpz_size(value_);
  const std::size_t count = limbs + 1;
  if (out.size() < count) return count;
  const mp_limb_t* magnitude = mpz_limbs_read(value_);
  for (std::size_t k = 0; k < limbs; ++k) out[k] = magnitude[k];
  out[limbs] = 0;
  if (mpz_sgn(value_) < 0) {
    // -m is ~m + 1: complement every word and carry the one up through the zero words.
    bool carry = true;
    for (std::size_t k = 0; k < count; ++k) {
      out[k] = ~out[k] + (carry ? 1 : 0);
      carry = carry && out[k] == 0;
    }
  }
  return count;
}

BigInt BigInt::from_le_words(std::span<const std::uint32_t> words) {
  BigInt result;
  if (!words.empty())
    mpz_import(result.value_, words.size(), -1, sizeof(std::uint32_t), 0, 0, words.data());
  return result;
}

BigInt BigInt::from_string(std::string_view decimal) {
  BigInt result;
  const std::string text(decimal);
  if (text.empty() || mpz_set_str(result.value_, text.c_str(), 10) != 0) {
    fail("invalid decimal integer text: " + text);
  }
  return result;
}

std::string BigInt::to_string() const {
  std::string text(mpz_sizeinbase(value_, 10) + 2, '\0');
  mpz_get_str(text.data(), 10, value_);
  text.resize(std::char_traits<char>::length(text.c_str()));
  return text;
}

BigInt::Sign BigInt::sign() const noexcept {
  const int s = mpz_sgn(value_);
  return s < 0 ? Sign::Minus : s == 0 ? Sign::NoSign : Sign::Plus;
}

std::size_t BigInt::bit_length() const noexcept {
  return mpz_sgn(value_) == 0 ? 0 : mpz_sizeinbase(value_, 2);
}

double BigInt::to_f64() const noexcept {
  const std::size_t bits = bit_length();
  if (bits == 0) return 0.0;
  // Keep the 64 leading bits (truncating the rest), round those once to binary64 and scale.
  const std::size_t dropped = bits > 64 ? bits - 64 : 0;
  const double leading = static_cast<double>(magnitude_bits_at(value_, dropped));
  double magnitude = std::numeric_limits<double>::infinity();
  // With 64 significant bits the value is at least 2^63, so anything scaled by more than
  // 2^961 overflows; the bound also keeps the exponent inside an int.
  if (dropped <= 1024) magnitude = std::ldexp(leading, static_cast<int>(dropped));
  return mpz_sgn(value_) < 0 ? -magnitude : magnitude;
}

std::optional<BigInt> BigInt::from_f64(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  BigInt result;
  mpz_set_d(result.value_, value);  // truncates toward zero; exact for every finite double
  return result;
}

BigInt operator+(const BigInt& a, const BigInt& b) {
  BigInt result;
  mpz_add(result.raw(), a.raw(), b.raw());
  return result;
}

BigInt operator-(const BigInt& a, const BigInt& b) {
  BigInt result;
  mpz_sub(result.raw(), a.raw(), b.raw());
  return result;
}

BigInt BigInt::operator-() const& {
  BigInt result;
  mpz_neg(result.value_, value_);
  return result;
}

BigInt BigInt::operator-() && {
  mpz_neg(value_, value_);
  return std::move(*this);
}

BigInt& BigInt::operator+=(const BigInt& b) {
  mpz_add(value_, value_, b.value_);
  return *this;
}

BigInt& BigInt::operator-=(const BigInt& b) {
  mpz_sub(value_, value_, b.value_);
  return *this;
}

std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) noexcept {
  const int c = mpz_cmp(a.raw(), b.raw());
  return c < 0    ? std::strong_ordering::less
         : c == 0 ? std::strong_ordering::equal
                  : std::strong_ordering::greater;
}

bool operator==(const BigInt& a, const BigInt& b) noexcept {
  return mpz_cmp(a.raw(), b.raw()) == 0;
}

}  // namespace swarmtuner
