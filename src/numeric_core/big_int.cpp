// BigInt beyond a machine word: limb storage, sums through GMP's mpn layer, the two's complement
// exchange, the binary64 conversions and the decimal text.
#include "numeric_core/big_int.hpp"

#include <gmp.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

#include "numeric_core/failure.hpp"

namespace swarmtuner {

// The limbs are handed to GMP as they are: BigInt::Limb is GMP's own mp_limb_t, a full 64-bit
// limb (not necessarily std::uint64_t: on macOS that is unsigned long long, mp_limb_t unsigned
// long). Words cross the public interface as std::uint64_t by value.
static_assert(std::is_same_v<mp_limb_t, BigInt::Limb>, "BigInt::Limb must be GMP's mp_limb_t");
static_assert(GMP_NUMB_BITS == 64 && GMP_NAIL_BITS == 0 && sizeof(mp_limb_t) == 8,
              "BigInt expects full 64-bit GMP limbs");

namespace {

using Limb = BigInt::Limb;
constexpr Limb top_limb_bit = Limb{1} << 63;

// The magnitude of a word, also for the most negative one.
constexpr Limb magnitude_of(std::int64_t value) noexcept {
  return value < 0 ? Limb{0} - static_cast<Limb>(value) : static_cast<Limb>(value);
}

// Heap limbs come from the C++ allocator, which throws std::bad_alloc instead of returning
// nothing. A count beyond what the representation can index cannot be held either.
Limb* allocate_limbs(std::size_t count) {
  if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw std::bad_alloc();
  }
  return std::allocator<Limb>().allocate(count);
}

void deallocate_limbs(Limb* limbs, std::size_t count) noexcept {
  std::allocator<Limb>().deallocate(limbs, count);
}

// Storage for a magnitude of `count` limbs is allocated with one limb to spare, so that a sum
// that carries into a new top limb usually still fits where its left operand was.
constexpr std::size_t room_for(std::size_t count) noexcept {
  return count + 1;
}

// Owns freshly allocated limbs until a BigInt adopts them.
class LimbBuffer {
 public:
  explicit LimbBuffer(std::size_t capacity)
      : limbs_(allocate_limbs(capacity)), capacity_(capacity) {}
  LimbBuffer(const LimbBuffer&) = delete;
  LimbBuffer& operator=(const LimbBuffer&) = delete;
  ~LimbBuffer() {
    if (limbs_ != nullptr) deallocate_limbs(limbs_, capacity_);
  }
  Limb* get() const noexcept { return limbs_; }
  std::size_t capacity() const noexcept { return capacity_; }
  Limb* release() noexcept { return std::exchange(limbs_, nullptr); }

 private:
  Limb* limbs_;
  std::size_t capacity_;
};

// GMP's copy, which beats a call of memmove for the few limbs that values usually have.
void copy_limbs(const Limb* from, std::size_t count, Limb* to) noexcept {
  if (count != 0) mpn_copyi(to, from, static_cast<mp_size_t>(count));
}

// The count without the zero limbs at the top.
std::size_t normalized(const Limb* limbs, std::size_t count) noexcept {
  while (count > 0 && limbs[count - 1] == 0) --count;
  return count;
}

// Whether a normalised magnitude with this sign lies inside [-2^63, 2^63), and so is a word.
bool fits_word(const Limb* limbs, std::size_t count, bool negative) noexcept {
  if (count == 0) return true;
  return count == 1 && (limbs[0] < top_limb_bit || (negative && limbs[0] == top_limb_bit));
}

std::int64_t word_of(const Limb* limbs, std::size_t count, bool negative) noexcept {
  const Limb magnitude = count == 0 ? 0 : limbs[0];
  return static_cast<std::int64_t>(negative ? Limb{0} - magnitude : magnitude);
}

std::size_t magnitude_bits(const Limb* limbs, std::size_t count) noexcept {
  return count == 0 ? 0 : 64 * count - leading_zeros_of_nonzero(limbs[count - 1]);
}

constexpr Limb kTenPow19 = 10'000'000'000'000'000'000U;
constexpr std::size_t chunk_digits = 19;

}  // namespace

// A signed magnitude to compute with: the value's own limbs, or for a word its magnitude in a
// scratch limb that the caller provides.
struct BigInt::Operand {
  const Limb* limbs;
  std::size_t count;  // 0 for zero
  bool negative;
};

BigInt::Operand BigInt::operand(Limb& scratch, bool negated) const noexcept {
  if (size_ == 0) {
    scratch = magnitude_of(small_);
    return {&scratch, scratch == 0 ? std::size_t{0} : std::size_t{1}, (small_ < 0) != negated};
  }
  const bool negative = size_ < 0;
  return {limbs_, static_cast<std::size_t>(negative ? -std::int64_t{size_} : size_),
          negative != negated};
}

void BigInt::free_limbs() noexcept {
  deallocate_limbs(limbs_, capacity_);
  size_ = 0;
  capacity_ = 0;
  small_ = 0;
}

// Takes over `limbs` (allocated with room for `capacity`, and possibly this value's own)
// holding a magnitude of `count` limbs with a non-zero top limb, or frees them when the value
// turns out to be a word. Any other storage held before is freed.
inline void BigInt::adopt(Limb* limbs, std::size_t capacity, std::size_t count,
                          bool negative) noexcept {
  if (capacity_ != 0 && limbs_ != limbs) free_limbs();
  if (fits_word(limbs, count, negative)) {
    const std::int64_t word = word_of(limbs, count, negative);
    if (capacity_ != 0) {
      free_limbs();  // the limbs were our own
    } else {
      deallocate_limbs(limbs, capacity);
    }
    small_ = word;
    return;
  }
  limbs_ = limbs;
  capacity_ = static_cast<std::uint32_t>(capacity);
  const auto size = static_cast<std::int32_t>(count);
  size_ = negative ? -size : size;
}

// Stores a signed magnitude that may lie in this value's own storage. New storage is
// allocated before the old is released, so a failure leaves the value as it was.
void BigInt::assign_magnitude(const Limb* limbs, std::size_t count, bool negative) {
  count = normalized(limbs, count);
  if (fits_word(limbs, count, negative)) {
    const std::int64_t word = word_of(limbs, count, negative);
    if (capacity_ != 0) free_limbs();
    small_ = word;
    return;
  }
  if (capacity_ >= count) {
    if (limbs_ != limbs) copy_limbs(limbs, count, limbs_);
    const auto size = static_cast<std::int32_t>(count);
    size_ = negative ? -size : size;
    return;
  }
  LimbBuffer fresh(room_for(count));
  copy_limbs(limbs, count, fresh.get());
  adopt(fresh.release(), fresh.capacity(), count, negative);
}

void BigInt::copy_large(const BigInt& other) {
  const std::size_t count =
      static_cast<std::size_t>(other.size_ < 0 ? -std::int64_t{other.size_} : other.size_);
  limbs_ = allocate_limbs(room_for(count));
  copy_limbs(other.limbs_, count, limbs_);
  capacity_ = static_cast<std::uint32_t>(room_for(count));
  size_ = other.size_;
}

// Room for `count` limbs, the current contents discarded. The new storage is allocated before
// the old is released, so a failure leaves the value as it was.
void BigInt::reserve_limbs(std::size_t count) {
  if (capacity_ >= count) return;
  const std::size_t capacity = room_for(count);
  Limb* const fresh = allocate_limbs(capacity);
  if (capacity_ != 0) free_limbs();
  limbs_ = fresh;
  capacity_ = static_cast<std::uint32_t>(capacity);
}

void BigInt::assign_slow(const BigInt& other) {
  if (other.size_ == 0) {
    if (capacity_ != 0) free_limbs();
    small_ = other.small_;
    return;
  }
  const std::size_t count =
      static_cast<std::size_t>(other.size_ < 0 ? -std::int64_t{other.size_} : other.size_);
  reserve_limbs(count);
  copy_limbs(other.limbs_, count, limbs_);
  size_ = other.size_;
}

void BigInt::negate() {
  if (size_ == 0) {
    if (small_ != std::numeric_limits<std::int64_t>::min()) {
      small_ = -small_;
      return;
    }
    // -(-2^63) = 2^63 is the one negation that leaves the word.
    LimbBuffer fresh(1);
    fresh.get()[0] = top_limb_bit;
    adopt(fresh.release(), 1, 1, false);
    return;
  }
  if (size_ == 1 && limbs_[0] == top_limb_bit) {
    free_limbs();  // 2^63 negates to the most negative word
    small_ = std::numeric_limits<std::int64_t>::min();
    return;
  }
  size_ = -size_;
}

// a + b for signed magnitudes, stored into this value, which may be either operand.
inline void BigInt::assign_sum(const Operand& a_in, const Operand& b_in) {
  // Taken apart into scalars: copying the small structs whole, right after their fields were
  // written one by one, costs more than the sum of a few limbs.
  const Limb* a = a_in.limbs;
  std::size_t a_count = a_in.count;
  bool negative = a_in.negative;
  const Limb* b = b_in.limbs;
  std::size_t b_count = b_in.count;
  const bool same_sign = negative == b_in.negative;
  // The larger magnitude goes first: mpn_add needs the longer operand first, mpn_sub the
  // larger one.
  if (a_count < b_count || (!same_sign && a_count == b_count && a_count != 0 &&
                            mpn_cmp(a, b, static_cast<mp_size_t>(a_count)) < 0)) {
    std::swap(a, b);
    std::swap(a_count, b_count);
    negative = b_in.negative;
  }
  if (b_count == 0) {
    assign_magnitude(a, a_count, negative);
    return;
  }
  const std::size_t needed = same_sign ? a_count + 1 : a_count;
  // The destination: the stack for words and one-limb values; this value's storage when it is
  // large enough and the operands overlap it exactly or not at all (mpn allows the destination
  // to be an operand, but not a part of one); otherwise new storage. Nothing between the
  // allocation and the adoption below can throw.
  Limb on_stack[2];
  Limb* out = on_stack;
  std::size_t fresh_capacity = 0;
  if (needed > 2) {
    if (capacity_ >= needed && (limbs_ != b || b_count == a_count)) {
      out = limbs_;
    } else {
      fresh_capacity = room_for(needed);
      out = allocate_limbs(fresh_capacity);
    }
  }
  const auto an = static_cast<mp_size_t>(a_count);
  const auto bn = static_cast<mp_size_t>(b_count);
  // A sum has one limb more exactly when it carries; a difference may lose any number.
  std::size_t count;
  if (same_sign) {
    const Limb carry = mpn_add(out, a, an, b, bn);
    out[a_count] = carry;
    count = a_count + (carry != 0 ? 1 : 0);
  } else {
    mpn_sub(out, a, an, b, bn);
    count = normalized(out, a_count);
  }
  if (out == on_stack) {
    assign_magnitude(on_stack, count, negative);
  } else {
    adopt(out, fresh_capacity != 0 ? fresh_capacity : capacity_, count, negative);
  }
}

void BigInt::assign_difference_slow(const BigInt& a, const BigInt& b) {
  Limb a_scratch;
  Limb b_scratch;
  // Both views are taken before anything is stored, so either operand may be this value.
  const Operand a_view = a.operand(a_scratch, false);
  const Operand b_view = b.operand(b_scratch, true);
  assign_sum(a_view, b_view);
}

BigInt BigInt::sum_slow(const BigInt& a, const BigInt& b, bool subtract) {
  Limb a_scratch;
  Limb b_scratch;
  BigInt result;
  result.assign_sum(a.operand(a_scratch, false), b.operand(b_scratch, subtract));
  return result;
}

void BigInt::add_assign_slow(const BigInt& b, bool subtract) {
  Limb a_scratch;
  Limb b_scratch;
  // Both views are taken before anything is stored, so b may be this value itself.
  const Operand a_view = operand(a_scratch, false);
  const Operand b_view = b.operand(b_scratch, subtract);
  assign_sum(a_view, b_view);
}

std::strong_ordering BigInt::compare_slow(const BigInt& a, const BigInt& b) noexcept {
  // A value held in limbs lies outside every word, on the side of its sign.
  if (a.size_ == 0) return b.size_ > 0 ? std::strong_ordering::less : std::strong_ordering::greater;
  if (b.size_ == 0) return a.size_ > 0 ? std::strong_ordering::greater : std::strong_ordering::less;
  // More limbs mean a larger magnitude, so signed counts order values of different lengths.
  if (a.size_ != b.size_) return a.size_ <=> b.size_;
  const mp_size_t count = a.size_ < 0 ? -mp_size_t{a.size_} : mp_size_t{a.size_};
  const int c = mpn_cmp(a.limbs_, b.limbs_, count);
  const int signed_c = a.size_ < 0 ? -c : c;
  return signed_c <=> 0;
}

std::size_t BigInt::bit_length() const noexcept {
  Limb scratch;
  const Operand value = operand(scratch, false);
  return magnitude_bits(value.limbs, value.count);
}

double BigInt::large_to_f64() const noexcept {
  const std::size_t count = static_cast<std::size_t>(size_ < 0 ? -std::int64_t{size_} : size_);
  // Keep the 64 leading bits (truncating the rest), round those once to binary64 and scale.
  // A value in limbs is at least 2^63, so a single limb is all 64 of them; otherwise the top
  // limb's bits are completed from the limb below.
  const Limb top = limbs_[count - 1];
  const unsigned shift = leading_zeros_of_nonzero(top);
  const Limb below = count > 1 ? limbs_[count - 2] : 0;
  const Limb leading = shift_left_into(top, below, shift);
  const std::size_t dropped = 64 * (count - 1) - shift;
  // Scaling by a power of two is exact, or overflows to infinity as it should. 2^dropped is a
  // normal double up to 2^1023; past that the value (at least 2^63 times it) is infinite anyway.
  double magnitude = std::numeric_limits<double>::infinity();
  if (dropped <= 1023) {
    magnitude = static_cast<double>(leading) * std::bit_cast<double>((1023 + dropped) << 52);
  }
  return size_ < 0 ? -magnitude : magnitude;
}

bool BigInt::assign_large_f64(double value) {
  if (!std::isfinite(value)) return false;
  // |value| >= 2^63 here, a normal double: its 53-bit significand times 2^(exponent - 1075),
  // where the shift is at least 63 - 52.
  const auto bits = std::bit_cast<std::uint64_t>(value);
  const std::uint64_t exponent = (bits >> 52) & 0x7FF;
  const Limb significand = (bits & ((Limb{1} << 52) - 1)) | (Limb{1} << 52);
  const auto shift = static_cast<std::size_t>(exponent - 1075);
  const std::size_t whole = shift / 64;
  const auto part = static_cast<unsigned>(shift % 64);
  const Limb low = significand << part;
  const Limb high = part == 0 ? 0 : significand >> (64 - part);
  // Such a value lies outside every word, so it is always held in limbs.
  const std::size_t count = whole + (high != 0 ? 2 : 1);
  // Growing is a call at the end, which keeps the usual path, where the storage suffices,
  // free of the allocation's register saves.
  if (capacity_ < count) [[unlikely]]
    return grow_and_assign_f64(value, count);
  // Usually a limb or two of zeros: written directly, which costs less than a call of memset.
  if (whole <= 2) {
    if (whole > 0) limbs_[0] = 0;
    if (whole > 1) limbs_[1] = 0;
  } else {
    std::fill_n(limbs_, whole, Limb{0});
  }
  limbs_[whole] = low;
  if (high != 0) limbs_[whole + 1] = high;
  const auto size = static_cast<std::int32_t>(count);
  size_ = value < 0 ? -size : size;
  return true;
}

bool BigInt::assign_scaled_large(double factor) {
  return assign_f64(large_to_f64() * factor) == Status::ok;
}

bool BigInt::grow_and_assign_f64(double value, std::size_t count) {
  reserve_limbs(count);
  return assign_large_f64(value);
}

Checked<BigInt> BigInt::from_f64(double value) {
  BigInt result;
  if (const Status status = result.assign_f64(value); status != Status::ok) return status;
  return result;
}

BigInt BigInt::from_le_signed_bytes(std::span<const std::uint8_t> bytes) {
  if (bytes.empty()) return BigInt();
  const bool negative = (bytes.back() & 0x80U) != 0;
  // Assembled by shifts, so any byte order reads the same value; the top limb is padded with
  // copies of the sign bit.
  const auto fill = [&](Limb* out, std::size_t count) {
    std::fill_n(out, count, Limb{0});
    for (std::size_t k = 0; k < bytes.size(); ++k) out[k / 8] |= Limb{bytes[k]} << (8 * (k % 8));
    if (negative && bytes.size() % 8 != 0) out[count - 1] |= ~Limb{0} << (8 * (bytes.size() % 8));
  };
  const std::size_t count = (bytes.size() + 7) / 8;
  if (count == 1) {
    Limb word;
    fill(&word, 1);
    return BigInt(static_cast<std::int64_t>(word));
  }
  LimbBuffer fresh(count);
  fill(fresh.get(), count);
  // A negative value reads as 2^(64 count) - m, so m is its negation modulo 2^(64 count).
  if (negative) mpn_neg(fresh.get(), fresh.get(), static_cast<mp_size_t>(count));
  BigInt result;
  const std::size_t used = normalized(fresh.get(), count);
  result.adopt(fresh.release(), count, used, negative);
  return result;
}

std::vector<std::uint8_t> BigInt::to_le_signed_bytes() const {
  std::vector<std::uint64_t> words(to_le_signed_words({}));
  to_le_signed_words(words);
  std::vector<std::uint8_t> bytes(words.size() * sizeof(std::uint64_t));
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    bytes[k] = static_cast<std::uint8_t>(words[k / 8] >> (8 * (k % 8)));
  }
  // Drop the top bytes that only repeat the sign of the byte below them.
  const auto redundant = [&bytes] {
    const std::uint8_t top = bytes[bytes.size() - 1];
    const bool below_negative = (bytes[bytes.size() - 2] & 0x80U) != 0;
    return top == (below_negative ? 0xFF : 0x00);
  };
  while (bytes.size() > 1 && redundant()) bytes.pop_back();
  return bytes;
}

std::size_t BigInt::to_le_signed_words(std::span<std::uint64_t> out) const noexcept {
  Limb scratch;
  const Operand value = operand(scratch, false);
  const std::size_t count = value.count + 1;
  if (out.size() < count) return count;
  std::copy_n(value.limbs, value.count, out.begin());
  out[value.count] = 0;
  if (value.negative) {
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
  const std::size_t count = (words.size() + 1) / 2;
  const auto fill = [&](Limb* out) {
    std::fill_n(out, count, Limb{0});
    for (std::size_t k = 0; k < words.size(); ++k) out[k / 2] |= Limb{words[k]} << (32 * (k % 2));
  };
  if (count == 0) return BigInt();
  BigInt result;
  if (count == 1) {
    Limb word;
    fill(&word);
    result.assign_magnitude(&word, 1, false);
    return result;
  }
  LimbBuffer fresh(count);
  fill(fresh.get());
  const std::size_t used = normalized(fresh.get(), count);
  result.adopt(fresh.release(), count, used, false);
  return result;
}

BigInt BigInt::from_string(std::string_view decimal) {
  const bool negative = !decimal.empty() && decimal.front() == '-';
  const std::string_view digits = negative ? decimal.substr(1) : decimal;
  const bool valid = !digits.empty() && std::all_of(digits.begin(), digits.end(),
                                                    [](char c) { return c >= '0' && c <= '9'; });
  if (!valid) fail(std::string(failure_text::big_int_text.text) + std::string(decimal));
  // Read 19 digits at a time (the most a limb holds), the first chunk taking the remainder.
  const auto chunk_value = [](std::string_view chunk) {
    Limb value = 0;
    for (const char c : chunk) value = value * 10 + static_cast<Limb>(c - '0');
    return value;
  };
  std::size_t first = digits.size() % chunk_digits;
  if (first == 0) first = chunk_digits;
  // log2(10) < 10/3, so this many limbs hold every number of that many digits.
  const std::size_t capacity = digits.size() * 10 / 3 / 64 + 2;
  LimbBuffer fresh(capacity);
  Limb* const limbs = fresh.get();
  limbs[0] = chunk_value(digits.substr(0, first));
  std::size_t count = 1;
  for (std::size_t at = first; at < digits.size(); at += chunk_digits) {
    const auto n = static_cast<mp_size_t>(count);
    Limb carry = mpn_mul_1(limbs, limbs, n, kTenPow19);
    carry += mpn_add_1(limbs, limbs, n, chunk_value(digits.substr(at, chunk_digits)));
    if (carry != 0) limbs[count++] = carry;
  }
  BigInt result;
  const std::size_t used = normalized(limbs, count);
  result.adopt(fresh.release(), capacity, used, negative);
  return result;
}

std::string BigInt::to_string() const {
  if (size_ == 0) {
    char text[24];
    const auto end = std::to_chars(std::begin(text), std::end(text), small_).ptr;
    return std::string(text, end);
  }
  // Divide a copy of the magnitude by 10^19 until nothing is left; each remainder gives 19
  // digits, least significant first.
  Limb scratch;
  const Operand value = operand(scratch, false);
  std::vector<Limb> quotient(value.limbs, value.limbs + value.count);
  std::size_t count = quotient.size();
  std::vector<Limb> chunks;
  while (count > 0) {
    chunks.push_back(mpn_divrem_1(quotient.data(), 0, quotient.data(),
                                  static_cast<mp_size_t>(count), kTenPow19));
    count = normalized(quotient.data(), count);
  }
  std::string text = value.negative ? "-" : "";
  text += std::to_string(chunks.back());
  for (std::size_t k = chunks.size() - 1; k-- > 0;) {
    const std::string digits = std::to_string(chunks[k]);
    text.append(chunk_digits - digits.size(), '0');
    text += digits;
  }
  return text;
}

}  // namespace swarmtuner
