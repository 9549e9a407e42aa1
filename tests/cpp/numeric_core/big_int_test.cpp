// Tests of BigInt: float conversions at their edges, the byte exchange, exact arithmetic across
// the edge between a word and limbs, and allocations that fail.
#include "numeric_core/big_int.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "numeric_core/failure.hpp"
#include "test_support.hpp"

// Allocation failure on demand, for the whole test binary: while `allocations_before_failure`
// (test_support.hpp) is k >= 0, the allocation after the next k ones throws std::bad_alloc, as
// it would when memory runs out. At -1 (the default) every allocation is served.
thread_local long allocations_before_failure = -1;

void* operator new(std::size_t size) {
  if (allocations_before_failure >= 0 && allocations_before_failure-- == 0) {
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
// Not inlined: where an optimised build inlines them into the library's deallocations, GCC 12
// sees free() applied to memory from operator new and warns (-Wmismatched-new-delete), though
// these are that operator's own counterparts.
[[gnu::noinline]] void operator delete(void* memory) noexcept {
  std::free(memory);
}
[[gnu::noinline]] void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}

namespace swarmtuner {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
#include "numeric_core/big_int_reference.inc"

std::vector<std::uint8_t> from_hex(const std::string& hex) {
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// Every value has one form: a word inline exactly when it lies in [-2^63, 2^63).
void expect_canonical(const BigInt& value, const std::string& expected) {
  EXPECT_EQ(value.to_string(), expected);
  std::int64_t parsed = 0;
  const auto [end, error] =
      std::from_chars(expected.data(), expected.data() + expected.size(), parsed);
  const bool word = error == std::errc() && end == expected.data() + expected.size();
  EXPECT_EQ(value.to_i64().has_value(), word) << expected;
  EXPECT_EQ(value.capacity() == 0, word) << expected;
  if (word) {
    EXPECT_EQ(std::to_string(*value.to_i64()), expected);
  }
}

template <class Cases>
void check_to_f64(const Cases& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const double got = BigInt::from_string(c.value).to_f64();
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(std::signbit(got), std::signbit(c.expected));
  }
}

TEST(BigIntTest, ToF64KeepsLeadingBitsThenRounds) {
  check_to_f64(kToF64Cases);
  check_to_f64(kBoundaryToF64Cases);
}

// The fused scaling keeps the two-step rule it replaces on the hot path: the nearest float,
// multiplied, truncated; a product that is not finite is refused and leaves the value.
TEST(BigIntTest, AssignScaledTruncatesTheScaledNearestFloat) {
  // Words, limbs near 2^128 and 2^199, and 2^1024 + 1, whose nearest float is infinite.
  const char* const values[] = {"0",
                                "-5",
                                "9223372036854775807",
                                "-9223372036854775809",
                                "340282366920938463463374607431768211457",
                                "-803469022129495137770981046170581301261101496891396417663033",
                                "1797693134862315907729305190789024733617976978942306572734300811"
                                "5773267580550096313270847732240753602112011387987139335765878976"
                                "8814416622492847430639474124377767893424865485276302219601246094"
                                "1194530829520850057688381506823424628814739131105408272371633505"
                                "10684586298239947245938479716304835356329624224137217"};
  const double factors[] = {0.7, -1.5, 0.0, 1e-30, 0x1p-200, 1e300, kInf};
  for (const char* text : values) {
    for (const double factor : factors) {
      SCOPED_TRACE(std::string(text) + " * " + std::to_string(factor));
      BigInt value = BigInt::from_string(text);
      const double product = value.to_f64() * factor;
      const Checked<BigInt> expected = BigInt::from_f64(product);
      EXPECT_EQ(value.assign_scaled(factor), expected.status());
      EXPECT_EQ(value.to_string(), expected ? expected->to_string() : std::string(text));
    }
  }
}

template <class Cases>
void check_from_f64(const Cases& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    const auto got = BigInt::from_f64(c.value);
    ASSERT_TRUE(got.ok());
    expect_canonical(*got, c.expected);
    // Stored over values of either form, the result is the same.
    for (const char* before : {"0", "-5", "340282366920938463463374607431768211456"}) {
      BigInt reused = BigInt::from_string(before);
      ASSERT_EQ(reused.assign_f64(c.value), Status::ok);
      expect_canonical(reused, c.expected);
    }
  }
}

TEST(BigIntTest, FromF64TruncatesTowardZero) {
  check_from_f64(kFromF64Cases);
  check_from_f64(kBoundaryFromF64Cases);
  EXPECT_EQ(BigInt::from_f64(-0.0)->sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(BigInt::from_f64(-0.9)->sign(), BigInt::Sign::NoSign);
}

TEST(BigIntTest, FromF64RefusesNanAndInfinities) {
  EXPECT_EQ(BigInt::from_f64(std::numeric_limits<double>::quiet_NaN()).status(),
            Status::big_int_scaling);
  EXPECT_EQ(BigInt::from_f64(kInf).status(), Status::big_int_scaling);
  EXPECT_EQ(BigInt::from_f64(-kInf).status(), Status::big_int_scaling);
  // A refused assignment keeps the value.
  for (const char* text : {"-7", "-340282366920938463463374607431768211457"}) {
    BigInt value = BigInt::from_string(text);
    EXPECT_EQ(value.assign_f64(std::numeric_limits<double>::quiet_NaN()), Status::big_int_scaling);
    EXPECT_EQ(value.assign_f64(-kInf), Status::big_int_scaling);
    EXPECT_EQ(value.to_string(), text);
  }
}

template <class Cases>
void check_byte_exchange(const Cases& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const BigInt value = BigInt::from_string(c.value);
    const auto shortest = from_hex(c.shortest);
    EXPECT_EQ(value.to_le_signed_bytes(), shortest);
    EXPECT_EQ(BigInt::from_le_signed_bytes(from_hex(c.inbound)), value);
    EXPECT_EQ(BigInt::from_le_signed_bytes(shortest), value);
    // Sign extension by a further byte does not change the value.
    auto padded = shortest;
    padded.push_back((shortest.back() & 0x80U) != 0 ? 0xFF : 0x00);
    EXPECT_EQ(BigInt::from_le_signed_bytes(padded), value);
    // The word form is the shortest form sign-extended to whole words.
    std::vector<std::uint64_t> words(value.to_le_signed_words({}));
    ASSERT_EQ(value.to_le_signed_words(words), words.size());
    ASSERT_GE(words.size() * 8, shortest.size());
    for (std::size_t k = 0; k < words.size() * 8; ++k) {
      const auto byte = static_cast<std::uint8_t>(words[k / 8] >> (8 * (k % 8)));
      const std::uint8_t sign = (shortest.back() & 0x80U) != 0 ? 0xFF : 0x00;
      EXPECT_EQ(byte, k < shortest.size() ? shortest[k] : sign) << "byte " << k;
    }
    expect_canonical(BigInt::from_le_signed_bytes(padded), c.value);
  }
}

TEST(BigIntTest, ByteExchangeMatchesPython) {
  check_byte_exchange(kBytesCases);
  check_byte_exchange(kBoundaryBytesCases);
  EXPECT_EQ(BigInt::from_le_signed_bytes({}), BigInt());
}

template <class Cases>
void check_from_le_words(const Cases& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    expect_canonical(BigInt::from_le_words(c.words), c.expected);
  }
}

TEST(BigIntTest, FromLeWordsReadsLeastSignificantFirst) {
  check_from_le_words(kWordsCases);
  check_from_le_words(kBoundaryWordsCases);
}

template <class Cases>
void check_arithmetic(const Cases& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " , " + c.b);
    const BigInt a = BigInt::from_string(c.a);
    const BigInt b = BigInt::from_string(c.b);
    EXPECT_EQ((a + b).to_string(), c.sum);
    EXPECT_EQ((a - b).to_string(), c.difference);
    const auto order = a <=> b;
    EXPECT_EQ(order < 0, c.order < 0);
    EXPECT_EQ(order > 0, c.order > 0);
    EXPECT_EQ(a == b, c.order == 0);
    BigInt acc = a;
    acc += b;
    EXPECT_EQ(acc.to_string(), c.sum);
    acc -= b;
    acc -= b;
    EXPECT_EQ(acc.to_string(), c.difference);
    EXPECT_EQ((-a + a).sign(), BigInt::Sign::NoSign);
    EXPECT_EQ((-BigInt(a)).to_string(), (BigInt() - a).to_string());
    expect_canonical(a + b, c.sum);
    expect_canonical(a - b, c.difference);
    // b - a and b + a through the other operand order and the negation.
    expect_canonical(-(b - a), c.difference);
    expect_canonical(b + a, c.sum);
    BigInt moved = a;
    expect_canonical(-std::move(moved) + b, (b - a).to_string());
    // In place, with the sum or difference growing into, or shrinking out of, the limbs that
    // the left operand already holds.
    BigInt in_place = a;
    in_place += b;
    expect_canonical(in_place, c.sum);
    in_place = a;
    in_place -= b;
    expect_canonical(in_place, c.difference);
    BigInt right = b;
    right += a;
    expect_canonical(right, c.sum);
    // A difference stored into a value that holds a word, small limbs or a wide magnitude
    // (whose limbs it reuses), or into either operand itself.
    for (const std::string& before :
         {std::string("7"), std::string("-18446744073709551617"), "1" + std::string(60, '0')}) {
      BigInt target = BigInt::from_string(before);
      target.assign_difference(a, b);
      expect_canonical(target, c.difference);
    }
    BigInt left_alias = a;
    left_alias.assign_difference(left_alias, b);
    expect_canonical(left_alias, c.difference);
    BigInt right_alias = b;
    right_alias.assign_difference(a, right_alias);
    expect_canonical(right_alias, c.difference);
  }
}

TEST(BigIntTest, ArithmeticAndOrderMatchPython) {
  check_arithmetic(kArithCases);
  check_arithmetic(kBoundaryArithCases);
}

TEST(BigIntTest, SelfAliasedSumsAndDifferences) {
  for (const char* text :
       {"0", "4611686018427387904", "-4611686018427387904", "-9223372036854775808",
        "9223372036854775807", "170141183460469231731687303715884105728",
        "-340282366920938463463374607431768211455"}) {
    SCOPED_TRACE(text);
    const BigInt value = BigInt::from_string(text);
    BigInt doubled = value;
    doubled += doubled;
    expect_canonical(doubled, (value + value).to_string());
    EXPECT_EQ(doubled, value + value);
    EXPECT_EQ(doubled - value, value);
    BigInt zero = value;
    zero -= zero;
    expect_canonical(zero, "0");
  }
}

TEST(BigIntTest, NegationCrossesTheWordEdge) {
  const BigInt most_negative(std::numeric_limits<std::int64_t>::min());
  expect_canonical(-most_negative, "9223372036854775808");
  expect_canonical(-(-most_negative), "-9223372036854775808");
  BigInt in_place = most_negative;
  in_place = -std::move(in_place);
  expect_canonical(in_place, "9223372036854775808");
  in_place = -std::move(in_place);
  expect_canonical(in_place, "-9223372036854775808");
  expect_canonical(-BigInt::from_string("-9223372036854775809"), "9223372036854775809");
  expect_canonical(-BigInt(std::numeric_limits<std::int64_t>::max()), "-9223372036854775807");
}

TEST(BigIntTest, CopiesAreDeepAcrossForms) {
  const BigInt large = BigInt::from_string("-340282366920938463463374607431768211457");
  const BigInt small(42);
  BigInt target = small;
  target = large;  // word to limbs
  expect_canonical(target, large.to_string());
  target += BigInt(1);
  EXPECT_EQ(large.to_string(), "-340282366920938463463374607431768211457");
  target = small;  // limbs to word
  expect_canonical(target, "42");
  BigInt longer = BigInt::from_string("1" + std::string(60, '0'));
  longer = large;  // into storage that is already large enough
  expect_canonical(longer, large.to_string());
  const BigInt& alias = longer;
  longer = alias;
  expect_canonical(longer, large.to_string());
}

TEST(BigIntTest, TextRoundTripsAcrossChunks) {
  // Lengths around the 19-digit chunks that the text is read and written in.
  for (const std::size_t digits : {1U, 18U, 19U, 20U, 37U, 38U, 39U, 57U, 58U, 200U}) {
    for (const char lead : {'1', '9'}) {
      std::string text(digits, '0');
      text.front() = lead;
      text.back() = '7';
      SCOPED_TRACE(text);
      EXPECT_EQ(BigInt::from_string(text).to_string(), text);
      EXPECT_EQ(BigInt::from_string("-" + text).to_string(), "-" + text);
    }
  }
  EXPECT_EQ(BigInt::from_string("-0").to_string(), "0");
  EXPECT_EQ(BigInt::from_string("-0").sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(BigInt::from_string("000000000000000000000000000000042").to_string(), "42");
}

TEST(BigIntTest, SignAndBitLength) {
  EXPECT_EQ(BigInt().sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(BigInt(-5).sign(), BigInt::Sign::Minus);
  EXPECT_EQ(BigInt(5).sign(), BigInt::Sign::Plus);
  EXPECT_EQ(BigInt().bit_length(), 0U);
  EXPECT_EQ(BigInt(-1).bit_length(), 1U);
  EXPECT_EQ(BigInt::from_string("-170141183460469231731687303715884105728").bit_length(), 128U);
  EXPECT_EQ(BigInt(INT64_MIN).to_string(), "-9223372036854775808");
  EXPECT_EQ(BigInt(INT64_MIN).bit_length(), 64U);
  EXPECT_EQ(BigInt(INT64_MAX).bit_length(), 63U);
  EXPECT_EQ(BigInt::from_string("9223372036854775808").bit_length(), 64U);
  EXPECT_EQ(BigInt::from_string("-18446744073709551615").bit_length(), 64U);
  EXPECT_EQ(BigInt::from_string("-18446744073709551616").bit_length(), 65U);
  EXPECT_EQ(BigInt::from_string("-9223372036854775809").sign(), BigInt::Sign::Minus);
  EXPECT_EQ(BigInt::from_string("9223372036854775808").sign(), BigInt::Sign::Plus);
}

TEST(BigIntTest, DefaultAndMovedFromValuesHoldNoDigits) {
  const BigInt zero;
  EXPECT_EQ(zero.capacity(), 0U);
  BigInt big = BigInt::from_string("123456789012345678901234567890");
  BigInt moved(std::move(big));
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567890");
  EXPECT_EQ(big.capacity(), 0U);  // NOLINT(bugprone-use-after-move): checked on purpose
  BigInt copy = moved;
  copy += BigInt(1);
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567890");
  moved = std::move(copy);
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567891");
}

TEST(BigIntTest, FromStringRefusesNonDecimalText) {
  EXPECT_THROW(BigInt::from_string(""), InternalFailure);
  EXPECT_THROW(BigInt::from_string("12x"), InternalFailure);
  EXPECT_THROW(BigInt::from_string("-"), InternalFailure);
  EXPECT_THROW(BigInt::from_string("1-2"), InternalFailure);
}

const char* const kLarge = "-340282366920938463463374607431768211457";  // three limbs
const char* const kLarger = "6277101735386680763835789423207666416102355444464034512896";  // 2^192

TEST(BigIntMemoryTest, FailedAllocationLeavesTheOperandAsItWas) {
  const BigInt large = BigInt::from_string(kLarge);
  const BigInt larger = BigInt::from_string(kLarger);
  struct Case {
    const char* name;
    const char* start;
    std::function<void(BigInt&)> operation;
  };
  const std::vector<Case> cases = {
      {"word grows by a sum", "9223372036854775807", [](BigInt& v) { v += BigInt(1); }},
      {"word shrinks by a difference", "-9223372036854775808", [](BigInt& v) { v -= BigInt(1); }},
      {"limbs outgrow their storage", kLarge, [&](BigInt& v) { v -= larger; }},
      {"word takes a large sum", "5", [&](BigInt& v) { v += large; }},
      {"most negative word negated", "-9223372036854775808", [](BigInt& v) { v = -std::move(v); }},
      {"word takes a copy of limbs", "5", [&](BigInt& v) { v = larger; }},
      {"word takes a large float", "-3",
       [](BigInt& v) { EXPECT_EQ(v.assign_f64(0x1p200), Status::ok); }},
      {"limbs take a larger float", kLarge,
       [](BigInt& v) { EXPECT_EQ(v.assign_f64(-0x1p900), Status::ok); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BigInt value = BigInt::from_string(c.start);
    const int failures = fail_each_allocation([&] { c.operation(value); },
                                              [&] { EXPECT_EQ(value.to_string(), c.start); });
    EXPECT_GE(failures, 1);
  }
}

TEST(BigIntMemoryTest, FailedAllocationThrowsFromEveryProducer) {
  const BigInt large = BigInt::from_string(kLarge);
  const std::vector<std::uint8_t> bytes(40, 0x81);
  const std::vector<std::uint32_t> words(9, 0xFFFFFFFFu);
  const std::vector<std::function<void()>> producers = {
      [&] { (void)(large + large); },
      [&] { (void)(large - BigInt(1)); },
      [&] { (void)-large; },
      [&] { (void)BigInt(large); },
      [&] { (void)BigInt::from_le_signed_bytes(bytes); },
      [&] { (void)BigInt::from_le_words(words); },
      [&] { (void)BigInt::from_string(kLarger); },
      [&] { (void)BigInt::from_f64(-0x1p64); },
      [&] { (void)large.to_le_signed_bytes(); },
      [&] { (void)large.to_string(); },
  };
  for (std::size_t k = 0; k < producers.size(); ++k) {
    SCOPED_TRACE(k);
    EXPECT_GE(fail_each_allocation(producers[k], [] {}), 1);
  }
  EXPECT_EQ(large.to_string(), kLarge);
}

}  // namespace
}  // namespace swarmtuner
