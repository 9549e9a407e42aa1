// Arbitrary-precision signed integers of kind "i", on GMP, with the conversions the search needs.
#pragma once

#include <gmp.h>

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace swarmtuner {

class BigInt {
 public:
  // Zero always has NoSign; a non-zero value never has it. Ordered Minus < NoSign < Plus.
  enum class Sign { Minus, NoSign, Plus };

  BigInt() noexcept;  // zero; does not allocate
  explicit BigInt(std::int64_t value);
  BigInt(const BigInt& other);
  BigInt(BigInt&& other) noexcept;
  BigInt& operator=(const BigInt& other);
  BigInt& operator=(BigInt&& other) noexcept;
  ~BigInt();

  // Little-endian two's complement bytes, as Python exchanges integers. Empty means zero.
  static BigInt from_le_signed_bytes(std::span<const std::uint8_t> bytes);
  // The shortest little-endian two's complement form; zero is one zero byte.
  std::vector<std::uint8_t> to_le_signed_bytes() const;
  // The same two's complement form in 64-bit words, least significant first, one word more
  // than the magnitude has limbs (so there is always room for the sign). Returns that count,
  // and writes the words only when `out` has room for them.
  std::size_t to_le_signed_words(std::span<std::uint64_t> out) const noexcept;
  // Unsigned little-endian 32-bit words, least significant first.
  static BigInt from_le_words(std::span<const std::uint32_t> words);

  // Decimal text, for tests and diagnostics.
  static BigInt from_string(std::string_view decimal);
  std::string to_string() const;

  Sign sign() const noexcept;
  std::size_t bit_length() const noexcept;  // of the magnitude; 0 for zero

  // Magnitudes below 2^64 round to nearest. Larger ones keep their 64 leading bits (the rest
  // truncated), round those to nearest and scale by 2^dropped; +infinity past the range.
  // The sign is applied last.
  double to_f64() const noexcept;
  // Truncation toward zero; nullopt for NaN and infinities.
  static std::optional<BigInt> from_f64(double value);

  friend BigInt operator+(const BigInt& a, const BigInt& b);
  friend BigInt operator-(const BigInt& a, const BigInt& b);
  BigInt operator-() const&;
  BigInt operator-() &&;
  BigInt& operator+=(const BigInt& b);
  BigInt& operator-=(const BigInt& b);
  friend std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) noexcept;
  friend bool operator==(const BigInt& a, const BigInt& b) noexcept;

  mpz_srcptr raw() const noexcept { return value_; }
  mpz_ptr raw() noexcept { return value_; }

 private:
  mpz_t value_;
};

}  // namespace swarmtuner
