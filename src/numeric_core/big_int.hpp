// Arbitrary-precision signed integers of kind i: a machine word inline while the value fits
// one, GMP's low-level layer on limbs of our own beyond that.
#pragma once

#include <cassert>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

// The number of leading zero bits of a 64-bit limb that is not zero. std::countl_zero must
// also answer for zero, which costs a test and a branch where the baseline x86-64 instruction
// set has no lzcnt; the top limb of a magnitude is never zero.
inline unsigned leading_zeros_of_nonzero(std::uint64_t limb) noexcept {
  assert(limb != 0);
  return static_cast<unsigned>(__builtin_clzll(limb));
}

// The high limb of the 128-bit number high:low shifted left by `shift` (below 64): the bits of
// `high` followed by the leading bits of `low`, with no case for a shift of zero. On x86-64 one
// shld; the compilers' 128-bit shift also handles shifts of 64 and more, with a test and two
// conditional moves.
inline std::uint64_t shift_left_into(std::uint64_t high, std::uint64_t low,
                                     unsigned shift) noexcept {
  assert(shift < 64);
#if defined(__x86_64__)
  __asm__("shldq %%cl, %[low], %[high]" : [high] "+r"(high) : [low] "r"(low), "c"(shift) : "cc");
  return high;
#else
  __extension__ typedef unsigned __int128 Pair;
  return static_cast<std::uint64_t>(((Pair{high} << 64 | low) << shift) >> 64);
#endif
}

// Every operation either completes or, when it needs memory that cannot be had, throws
// std::bad_alloc and leaves its operands as they were. Nothing here allocates through GMP
// (which would abort the process instead of failing).
class BigInt {
 public:
  // Zero always has NoSign; a non-zero value never has it. Ordered Minus < NoSign < Plus.
  enum class Sign { Minus, NoSign, Plus };
  // GMP's limb type mp_limb_t, named without gmp.h: unsigned long where long has 64 bits (Linux,
  // macOS), unsigned long long where it has 32 (64-bit Windows), whichever of the two uint64_t
  // is. big_int.cpp checks that it is GMP's.
  using Limb = std::conditional_t<sizeof(unsigned long) == 8, unsigned long, unsigned long long>;

  BigInt() noexcept : small_(0) {}  // zero; does not allocate
  explicit BigInt(std::int64_t value) noexcept : small_(value) {}
  BigInt(const BigInt& other) {
    if (other.size_ == 0) {
      small_ = other.small_;
    } else {
      copy_large(other);
    }
  }
  BigInt(BigInt&& other) noexcept { take(other); }
  BigInt& operator=(const BigInt& other) {
    if (size_ == 0 && other.size_ == 0) {
      small_ = other.small_;
    } else if (this != &other) {
      assign_slow(other);
    }
    return *this;
  }
  BigInt& operator=(BigInt&& other) noexcept {
    if (this != &other) {
      if (capacity_ != 0) free_limbs();
      take(other);
    }
    return *this;
  }
  ~BigInt() {
    if (capacity_ != 0) free_limbs();
  }

  // Little-endian two's complement bytes, as Python exchanges integers. Empty means zero.
  static BigInt from_le_signed_bytes(std::span<const std::uint8_t> bytes);
  // The shortest little-endian two's complement form; zero is one zero byte.
  std::vector<std::uint8_t> to_le_signed_bytes() const;
  // The same two's complement form in 64-bit words, least significant first, one word more
  // than the magnitude has 64-bit limbs (so there is always room for the sign). Returns that
  // count, and writes the words only when `out` has room for them.
  std::size_t to_le_signed_words(std::span<std::uint64_t> out) const noexcept;
  // The magnitude's limbs, least significant first, with a non-zero top limb (none for zero).
  // A value held in a word lends `scratch` to hold its magnitude.
  std::span<const Limb> magnitude_limbs(Limb& scratch) const noexcept {
    if (size_ == 0) {
      scratch = small_ < 0 ? Limb{0} - static_cast<Limb>(small_) : static_cast<Limb>(small_);
      return {&scratch, scratch == 0 ? std::size_t{0} : std::size_t{1}};
    }
    return {limbs_, static_cast<std::size_t>(size_ < 0 ? -std::int64_t{size_} : size_)};
  }
  // Stores the value with this sign and magnitude (limbs least significant first; zero limbs
  // at the top are allowed), reusing this value's storage where it is large enough.
  void assign_signed_magnitude(std::span<const Limb> magnitude, bool negative) {
    // Two limbs or more with a non-zero top one are never a word: where the storage suffices,
    // the limbs are simply written (the usual case of a value that changes by a step).
    const std::size_t count = magnitude.size();
    if (count >= 2 && count <= capacity_ && magnitude[count - 1] != 0) {
      for (std::size_t k = 0; k < count; ++k) limbs_[k] = magnitude[k];
      const auto size = static_cast<std::int32_t>(count);
      size_ = negative ? -size : size;
      return;
    }
    assign_magnitude(magnitude.data(), count, negative);
  }
  // Unsigned little-endian 32-bit words, least significant first.
  static BigInt from_le_words(std::span<const std::uint32_t> words);
  // The value as a 64-bit integer, when it is one.
  std::optional<std::int64_t> to_i64() const noexcept {
    if (size_ == 0) return small_;
    return std::nullopt;
  }
  // Whether the value is a 64-bit integer, and that integer (only for such a value): to_i64
  // in two parts, for loops that test several values before they read any.
  bool is_word() const noexcept { return size_ == 0; }
  std::int64_t word() const noexcept {
    assert(size_ == 0);
    return small_;
  }
  // Stores `value` into a value that is a 64-bit integer now (is_word()), which holds no
  // storage: only the word is written.
  void replace_word(std::int64_t value) noexcept {
    assert(size_ == 0 && capacity_ == 0);
    small_ = value;
  }

  // Decimal text, for tests and diagnostics: an optional "-" and at least one digit.
  static BigInt from_string(std::string_view decimal);
  std::string to_string() const;

  Sign sign() const noexcept {
    if (size_ != 0) return size_ < 0 ? Sign::Minus : Sign::Plus;
    return small_ < 0 ? Sign::Minus : small_ == 0 ? Sign::NoSign : Sign::Plus;
  }
  std::size_t bit_length() const noexcept;  // of the magnitude; 0 for zero
  // Limbs of heap storage held; 0 while the value fits a machine word.
  std::size_t capacity() const noexcept { return capacity_; }

  // Magnitudes below 2^64 round to nearest. Larger ones keep their 64 leading bits (the rest
  // truncated), round those to nearest and scale by 2^dropped; +infinity past the range.
  // The sign is applied last.
  double to_f64() const noexcept {
    // Rounding to nearest is symmetric, so rounding the signed word is rounding the magnitude
    // and applying the sign afterwards.
    if (size_ == 0) return static_cast<double>(small_);
    return large_to_f64();
  }
  // Truncation toward zero; Status::big_int_scaling for NaN and infinities.
  static Checked<BigInt> from_f64(double value);
  // The same truncation stored into this value, reusing its storage; Status::big_int_scaling,
  // and the value left as it was, for NaN and infinities.
  [[nodiscard]] Status assign_f64(double value) {
    // The range test is false for NaN. Inside it the truncation fits a word, so the cast is
    // defined.
    if (value >= -0x1p63 && value < 0x1p63) {
      if (capacity_ != 0) free_limbs();
      small_ = static_cast<std::int64_t>(value);
      return Status::ok;
    }
    return assign_large_f64(value) ? Status::ok : Status::big_int_scaling;
  }
  // assign_f64(to_f64() * factor): a value in limbs is read and written back in one call.
  [[nodiscard]] Status assign_scaled(double factor) {
    if (size_ == 0) return assign_f64(static_cast<double>(small_) * factor);
    return assign_scaled_large(factor) ? Status::ok : Status::big_int_scaling;
  }

  friend BigInt operator+(const BigInt& a, const BigInt& b) {
    std::int64_t sum;
    if (a.size_ == 0 && b.size_ == 0 && !__builtin_add_overflow(a.small_, b.small_, &sum)) {
      return BigInt(sum);
    }
    return sum_slow(a, b, false);
  }
  friend BigInt operator-(const BigInt& a, const BigInt& b) {
    std::int64_t difference;
    if (a.size_ == 0 && b.size_ == 0 && !__builtin_sub_overflow(a.small_, b.small_, &difference)) {
      return BigInt(difference);
    }
    return sum_slow(a, b, true);
  }
  BigInt operator-() const& {
    BigInt result = *this;
    result.negate();
    return result;
  }
  BigInt operator-() && {
    negate();
    return std::move(*this);
  }
  BigInt& operator+=(const BigInt& b) {
    std::int64_t sum;
    if (size_ == 0 && b.size_ == 0 && !__builtin_add_overflow(small_, b.small_, &sum)) {
      small_ = sum;
    } else {
      add_assign_slow(b, false);
    }
    return *this;
  }
  BigInt& operator-=(const BigInt& b) {
    std::int64_t difference;
    if (size_ == 0 && b.size_ == 0 && !__builtin_sub_overflow(small_, b.small_, &difference)) {
      small_ = difference;
    } else {
      add_assign_slow(b, true);
    }
    return *this;
  }
  // *this = a - b, into the storage this value already holds where it is large enough: the
  // same value as a - b without a temporary.
  void assign_difference(const BigInt& a, const BigInt& b) {
    std::int64_t difference;
    if (a.size_ == 0 && b.size_ == 0 && !__builtin_sub_overflow(a.small_, b.small_, &difference)) {
      if (capacity_ != 0) free_limbs();
      small_ = difference;
    } else {
      assign_difference_slow(a, b);
    }
  }
  friend std::strong_ordering operator<=>(const BigInt& a, const BigInt& b) noexcept {
    // Signed limb counts order values of different counts: a word (count 0) lies between the
    // negative and the positive values in limbs, and more limbs mean a larger magnitude.
    if (a.size_ != b.size_) return a.size_ <=> b.size_;
    if (a.size_ == 0) return a.small_ <=> b.small_;
    return compare_slow(a, b);
  }
  friend bool operator==(const BigInt& a, const BigInt& b) noexcept {
    if (a.size_ == 0 && b.size_ == 0) return a.small_ == b.small_;
    return compare_slow(a, b) == 0;
  }

 private:
  struct Operand;

  // Out of line: everything that touches limbs.
  void copy_large(const BigInt& other);
  void assign_slow(const BigInt& other);
  void free_limbs() noexcept;
  void reserve_limbs(std::size_t count);
  // Takes over other's value and storage, leaving other zero; this holds no storage before.
  void take(BigInt& other) noexcept {
    size_ = other.size_;
    capacity_ = other.capacity_;
    if (size_ == 0) {
      small_ = other.small_;
    } else {
      limbs_ = other.limbs_;
    }
    other.size_ = 0;
    other.capacity_ = 0;
    other.small_ = 0;
  }
  void negate();
  double large_to_f64() const noexcept;
  // The parts of assign_f64 and assign_scaled out of line; false for NaN and infinities.
  bool assign_large_f64(double value);
  [[gnu::flatten]] bool assign_scaled_large(double factor);
  [[gnu::noinline]] bool grow_and_assign_f64(double value, std::size_t count);
  static BigInt sum_slow(const BigInt& a, const BigInt& b, bool subtract);
  void add_assign_slow(const BigInt& b, bool subtract);
  void assign_difference_slow(const BigInt& a, const BigInt& b);
  void assign_sum(const Operand& a, const Operand& b);
  void assign_magnitude(const Limb* limbs, std::size_t count, bool negative);
  void adopt(Limb* limbs, std::size_t capacity, std::size_t count, bool negative) noexcept;
  Operand operand(Limb& scratch, bool negated) const noexcept;
  static std::strong_ordering compare_slow(const BigInt& a, const BigInt& b) noexcept;

  // A value inside [-2^63, 2^63) is held in small_ with size_ == 0 and no storage. Any other
  // value is held as |size_| limbs at limbs_, least significant first with a non-zero top
  // limb, and is negative when size_ is; capacity_ limbs are allocated there. Every value
  // has exactly one form, so values of different forms are never equal.
  std::int32_t size_ = 0;
  std::uint32_t capacity_ = 0;
  union {
    std::int64_t small_;
    Limb* limbs_;
  };
};

}  // namespace swarmtuner
