// Tests of BigInt: float conversions at their edges, the byte exchange and exact arithmetic.
#include "numeric_core/big_int.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "numeric_core/failure.hpp"

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

TEST(BigIntTest, ToF64KeepsLeadingBitsThenRounds) {
  for (const auto& c : kToF64Cases) {
    SCOPED_TRACE(c.value);
    const double got = BigInt::from_string(c.value).to_f64();
    EXPECT_EQ(got, c.expected);
    EXPECT_EQ(std::signbit(got), std::signbit(c.expected));
  }
}

TEST(BigIntTest, FromF64TruncatesTowardZero) {
  for (const auto& c : kFromF64Cases) {
    SCOPED_TRACE(c.expected);
    const auto got = BigInt::from_f64(c.value);
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->to_string(), c.expected);
  }
  EXPECT_EQ(BigInt::from_f64(-0.0)->sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(BigInt::from_f64(-0.9)->sign(), BigInt::Sign::NoSign);
}

TEST(BigIntTest, FromF64RefusesNanAndInfinities) {
  EXPECT_FALSE(BigInt::from_f64(std::numeric_limits<double>::quiet_NaN()).has_value());
  EXPECT_FALSE(BigInt::from_f64(kInf).has_value());
  EXPECT_FALSE(BigInt::from_f64(-kInf).has_value());
}

TEST(BigIntTest, ByteExchangeMatchesPython) {
  for (const auto& c : kBytesCases) {
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
  }
  EXPECT_EQ(BigInt::from_le_signed_bytes({}), BigInt());
}

TEST(BigIntTest, FromLeWordsReadsLeastSignificantFirst) {
  for (const auto& c : kWordsCases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(BigInt::from_le_words(c.words).to_string(), c.expected);
  }
}

TEST(BigIntTest, ArithmeticAndOrderMatchPython) {
  for (const auto& c : kArithCases) {
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
  }
}

TEST(BigIntTest, SignAndBitLength) {
  EXPECT_EQ(BigInt().sign(), BigInt::Sign::NoSign);
  EXPECT_EQ(BigInt(-5).sign(), BigInt::Sign::Minus);
  EXPECT_EQ(BigInt(5).sign(), BigInt::Sign::Plus);
  EXPECT_EQ(BigInt().bit_length(), 0U);
  EXPECT_EQ(BigInt(-1).bit_length(), 1U);
  EXPECT_EQ(BigInt::from_string("-170141183460469231731687303715884105728").bit_length(), 128U);
  EXPECT_EQ(BigInt(INT64_MIN).to_string(), "-9223372036854775808");
}

TEST(BigIntTest, DefaultAndMovedFromValuesHoldNoDigits) {
  const BigInt zero;
  EXPECT_EQ(zero.raw()->_mp_alloc, 0);
  BigInt big = BigInt::from_string("123456789012345678901234567890");
  BigInt moved(std::move(big));
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567890");
  EXPECT_EQ(big.raw()->_mp_alloc, 0);  // NOLINT(bugprone-use-after-move): checked on purpose
  BigInt copy = moved;
  copy += BigInt(1);
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567890");
  moved = std::move(copy);
  EXPECT_EQ(moved.to_string(), "123456789012345678901234567891");
}

TEST(BigIntTest, FromStringRefusesNonDecimalText) {
  EXPECT_THROW(BigInt::from_string(""), InternalFailure);
  EXPECT_THROW(BigInt::from_string("12x"), InternalFailure);
}

}  // namespace
}  // namespace swarmtuner
