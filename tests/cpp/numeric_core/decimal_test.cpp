// Tests of the 96-bit decimal against results computed by gen_decimal_cases.py.
#include "numeric_core/decimal.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>
#include <string>

#include "numeric_core/decimal_text.hpp"

namespace swarmtuner {
namespace {

// A decimal as written by the generator: sign, coefficient digits, scale.
struct Dec {
  bool negative;
  const char* coefficient;
  std::uint32_t scale;
};
struct OptDec {
  bool ok;
  Dec value;
};
enum class Op { Add, Sub, Mul };
struct ArithCase {
  Op op;
  Dec a;
  Dec b;
  OptDec expected;
};
struct CompareCase {
  Dec a;
  Dec b;
  int expected;
};
struct TextCase {
  Dec value;
  const char* text;
};
struct RescaleCase {
  bool up;
  Dec value;
  std::uint32_t target;
  Dec expected;
};
struct FromF64Case {
  double input;
  OptDec expected;
};
struct ParseCase {
  const char* text;
  OptDec expected;
  const char* error;
};

#include "numeric_core/decimal_cases.inc"

// Sign, digits and scale, independent of the text form under test.
using test_text::show;
std::string show(const Dec& d) {
  return (d.negative ? "-" : "+") + std::string(d.coefficient) + "e-" + std::to_string(d.scale);
}
std::string show(const OptDec& d) {
  return d.ok ? show(d.value) : "nullopt";
}

Decimal make(const Dec& d) {
  UInt128 c = 0;
  for (const char* p = d.coefficient; *p != '\0'; ++p) c = c * 10 + static_cast<unsigned>(*p - '0');
  const auto value = Decimal::from_parts(c, d.scale, d.negative);
  EXPECT_TRUE(value.has_value()) << show(d);
  return value.value_or(Decimal{});
}

void PrintTo(const ArithCase& c, std::ostream* os) {
  *os << show(c.a) << (c.op == Op::Add ? " + " : c.op == Op::Sub ? " - " : " * ") << show(c.b);
}
void PrintTo(const CompareCase& c, std::ostream* os) {
  *os << show(c.a) << " <=> " << show(c.b);
}
void PrintTo(const TextCase& c, std::ostream* os) {
  *os << show(c.value);
}
void PrintTo(const RescaleCase& c, std::ostream* os) {
  *os << show(c.value) << (c.up ? " up to " : " down to ") << c.target;
}
void PrintTo(const FromF64Case& c, std::ostream* os) {
  *os << std::hexfloat << c.input;
}
void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class DecimalArithmetic : public testing::TestWithParam<ArithCase> {};

TEST_P(DecimalArithmetic, MatchesExactResultRoundedHalfEven) {
  const ArithCase& c = GetParam();
  const Decimal a = make(c.a);
  const Decimal b = make(c.b);
  const Checked<Decimal> got = c.op == Op::Add   ? Decimal::checked_add(a, b)
                               : c.op == Op::Sub ? Decimal::checked_sub(a, b)
                                                 : Decimal::checked_mul(a, b);
  // Identical, not just equal: the scale and the sign bit of the result are part of it.
  ASSERT_EQ(show(got), show(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalArithmetic, testing::ValuesIn(kArithCases));

class DecimalCompare : public testing::TestWithParam<CompareCase> {};

TEST_P(DecimalCompare, OrdersNumerically) {
  const CompareCase& c = GetParam();
  const Decimal a = make(c.a);
  const Decimal b = make(c.b);
  const auto sign = [](std::weak_ordering o) { return o < 0 ? -1 : o > 0 ? 1 : 0; };
  EXPECT_EQ(sign(a <=> b), c.expected);
  EXPECT_EQ(sign(b <=> a), -c.expected);
  EXPECT_EQ(a == b, c.expected == 0);
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalCompare, testing::ValuesIn(kCompareCases));

class DecimalText : public testing::TestWithParam<TextCase> {};

TEST_P(DecimalText, WritesAllDigitsOfTheScale) {
  EXPECT_EQ(make(GetParam().value).to_string(), GetParam().text);
}

TEST_P(DecimalText, ParserReadsTheTextBackIdentically) {
  const Decimal d = make(GetParam().value);
  const Checked<Decimal> back = Decimal::parse(d.to_string());
  ASSERT_TRUE(back) << failure_text_of(back.status()).text;
  EXPECT_TRUE(back->identical(d)) << show(*back);
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalText, testing::ValuesIn(kTextCases));

class DecimalRescale : public testing::TestWithParam<RescaleCase> {};

TEST_P(DecimalRescale, MovesToTheTargetScale) {
  const RescaleCase& c = GetParam();
  const Decimal d = make(c.value);
  EXPECT_EQ(show(c.up ? d.rescaled_up(c.target) : d.rescaled_down(c.target)), show(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalRescale, testing::ValuesIn(kRescaleCases));

class DecimalFromF64 : public testing::TestWithParam<FromF64Case> {};

TEST_P(DecimalFromF64, MatchesReplay) {
  EXPECT_EQ(show(Decimal::from_f64(GetParam().input)), show(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalFromF64, testing::ValuesIn(kFromF64Cases));

TEST(DecimalFromF64Special, NanAndInfinitiesFail) {
  EXPECT_FALSE(Decimal::from_f64(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(Decimal::from_f64(-std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(Decimal::from_f64(std::numeric_limits<double>::infinity()));
  EXPECT_FALSE(Decimal::from_f64(-std::numeric_limits<double>::infinity()));
}

// Found by the from_f64 fuzz harness: 2^96 used to be accepted as 2^96 - 6.
TEST(DecimalFromF64Special, IntegerPartWiderThan96BitsFails) {
  EXPECT_EQ(show(Decimal::from_f64(0x1p96)), "nullopt");
  EXPECT_EQ(show(Decimal::from_f64(-0x1p96)), "nullopt");
  EXPECT_EQ(show(Decimal::from_f64(0x1p96 + 0x1p44)), "nullopt");
  // The largest binary64 below 2^96 is an integer that fits, and converts exactly.
  const UInt128 below = (UInt128{1} << 96) - (UInt128{1} << 43);
  EXPECT_EQ(show(Decimal::from_f64(0x1p96 - 0x1p43)), "+" + test_text::digits(below) + "e-0");
}

class DecimalParse : public testing::TestWithParam<ParseCase> {};

TEST_P(DecimalParse, ReadsValueOrRefusesWithMessage) {
  const ParseCase& c = GetParam();
  const Checked<Decimal> r = Decimal::parse(c.text);
  EXPECT_EQ(show(r), show(c.expected));
  EXPECT_EQ(r ? std::string_view() : failure_text_of(r.status()).text, c.error);
}

INSTANTIATE_TEST_SUITE_P(Generated, DecimalParse, testing::ValuesIn(kParseCases));

TEST(DecimalSign, NegationFlipsTheSignBitAlsoOfZero) {
  const Decimal zero{};
  const Decimal negative_zero = -zero;
  EXPECT_TRUE(negative_zero.is_negative());
  EXPECT_EQ(negative_zero, zero);
  EXPECT_EQ(negative_zero.signed_coefficient(), 0);
  EXPECT_EQ(negative_zero.to_string(), "-0");
  EXPECT_TRUE((-negative_zero).identical(zero));

  const Decimal x = make({false, "250", 2});
  EXPECT_TRUE((-x).identical(make({true, "250", 2})));
  EXPECT_EQ((-x).signed_coefficient(), -250);
}

TEST(DecimalConstruction, RangeOfPartsAndSignedCoefficients) {
  const UInt128 max = Decimal::max_coefficient;
  EXPECT_TRUE(Decimal::from_parts(max, 28, true));
  EXPECT_FALSE(Decimal::from_parts(max + 1, 0, false));
  EXPECT_FALSE(Decimal::from_parts(1, 29, false));

  const auto smax = static_cast<Int128>(max);
  EXPECT_EQ(show(Decimal::from_signed_coefficient(-smax, 3)), "-" + test_text::digits(max) + "e-3");
  EXPECT_FALSE(Decimal::from_signed_coefficient(smax + 1, 0));
  EXPECT_FALSE(Decimal::from_signed_coefficient(-smax - 1, 0));
  EXPECT_FALSE(Decimal::from_signed_coefficient(int128_min, 0));
  EXPECT_EQ(show(Decimal::from_signed_coefficient(0, 5)), "+0e-5");

  EXPECT_EQ(show(Decimal::from_i64(std::numeric_limits<std::int64_t>::min())),
            "-9223372036854775808e-0");
  EXPECT_EQ(show(Decimal::from_i64(0)), "+0e-0");
}

// The wide division behind rounding and the text form traps on a quotient wider than 64 bits;
// debug builds check that precondition, so these extremes (every pair of scales, the largest
// coefficient) show that no operand reaches it, and pin what comes out.
class DecimalExtremes : public testing::TestWithParam<std::uint32_t> {};

TEST_P(DecimalExtremes, LargestCoefficientAtEveryScale) {
  const std::uint32_t a = GetParam();
  const UInt128 max = Decimal::max_coefficient;
  const std::string digits = test_text::digits(max);  // 29 digits
  const Decimal largest = *Decimal::from_parts(max, a, true);
  const std::string whole = digits.substr(0, digits.size() - a);
  EXPECT_EQ(largest.to_string(), "-" + whole + (a == 0 ? "" : "." + digits.substr(whole.size())));
  EXPECT_EQ(Decimal::from_parts(1, a, false)->to_string(),
            a == 0 ? "1" : "0." + std::string(a - 1, '0') + "1");

  // (2^96 - 1)^2 has 58 digits, 6277101735386680763835789423|049...; its 29 leading digits,
  // rounded on the 30th (a 4), fit 96 bits, so the product fits once it has 29 digits of
  // scale to give up.
  for (std::uint32_t b = 0; b <= Decimal::max_scale; ++b) {
    const Decimal other = *Decimal::from_parts(max, b, false);
    const Checked<Decimal> product = Decimal::checked_mul(largest, other);
    if (a + b < 29) {
      EXPECT_FALSE(product) << a << " " << b;
    } else {
      ASSERT_TRUE(product) << a << " " << b;
      EXPECT_EQ(show(*product), "-62771017353866807638357894230e-" + std::to_string(a + b - 29));
    }
    // Two largest coefficients add up beyond 2^96 at scale 0 unless both have a fraction to
    // give up; the sum never lies above either operand.
    const Checked<Decimal> sum = Decimal::checked_sub(largest, other);
    ASSERT_EQ(sum.ok(), a != 0 && b != 0) << a << " " << b;
    if (sum) {
      EXPECT_LE(*sum, largest) << a << " " << b;
      EXPECT_LE(*sum, -other) << a << " " << b;
    }
    // The smallest step of a scale against the largest value: rounded away, kept, or (both at
    // scale 0) an overflow.
    const Checked<Decimal> nudged =
        Decimal::checked_add(-largest, *Decimal::from_parts(1, b, false));
    ASSERT_EQ(nudged.ok(), a != 0 || b != 0) << a << " " << b;
    if (nudged) {
      EXPECT_GE(*nudged, -largest) << a << " " << b;
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Scales, DecimalExtremes, testing::Range<std::uint32_t>(0, 29));

}  // namespace
}  // namespace swarmtuner
