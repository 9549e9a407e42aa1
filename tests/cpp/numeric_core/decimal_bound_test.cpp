// Tests of decimal bounds read from text: exact comparison with a decimal, inward rounding.
#include "numeric_core/decimal_bound.hpp"

#include <gtest/gtest.h>

#include <string>

namespace swarmtuner {
namespace {

Decimal parsed(const char* text) {
  const Checked<Decimal> result = Decimal::parse(text);
  EXPECT_TRUE(result) << text;
  return result ? *result : Decimal{};
}

struct CompareTextCase {
  const char* text;
  const char* value;  // parsed as it stands (at most 28 fractional digits, 96 bits)
  int expected;
};

TEST(DecimalBoundTest, ComparesTextWithADecimalExactly) {
  const CompareTextCase cases[] = {
      {"1.0", "1", 0},
      {"-0", "0", 0},
      {"0.00", "-0.0", 0},
      {"+1_000.5", "1000.50", 0},
      {"007.10", "7.1", 0},
      {"0.00000000000000000000000000014", "0.0000000000000000000000000001", 1},
      {"-0.00000000000000000000000000014", "-0.0000000000000000000000000001", -1},
      {"-0.00000000000000000000000000006", "-0.0000000000000000000000000001", 1},
      {"10", "9.99", 1},
      {"-10", "-9.99", -1},
      {"-1", "1", -1},
      {"99.5", "100", -1},
  };
  for (const CompareTextCase& c : cases) {
    EXPECT_EQ(compare_text_with(c.text, parsed(c.value)), c.expected) << c.text << " " << c.value;
  }
}

struct InwardCase {
  const char* text;
  BoundSide side;
  const char* expected;  // the text of the bound's value
};

TEST(DecimalBoundTest, DigitsThatDoNotFitRoundTowardsTheInside) {
  const InwardCase cases[] = {
      // 29 fractional digits: the 29th is dropped, and the bound moves inwards if it mattered.
      {"0.00000000000000000000000000014", BoundSide::Lower, "0.0000000000000000000000000002"},
      {"0.00000000000000000000000000014", BoundSide::Upper, "0.0000000000000000000000000001"},
      {"0.00000000000000000000000000016", BoundSide::Lower, "0.0000000000000000000000000002"},
      {"0.00000000000000000000000000016", BoundSide::Upper, "0.0000000000000000000000000001"},
      {"-0.00000000000000000000000000016", BoundSide::Lower, "-0.0000000000000000000000000001"},
      {"-0.00000000000000000000000000016", BoundSide::Upper, "-0.0000000000000000000000000002"},
      {"0.00000000000000000000000000004", BoundSide::Lower, "0.0000000000000000000000000001"},
      // Exact texts stay as they are, on either side.
      {"0.0000000000000000000000000004", BoundSide::Lower, "0.0000000000000000000000000004"},
      {"0.0000000000000000000000000004", BoundSide::Upper, "0.0000000000000000000000000004"},
      {"1.50000000000000000000000000000", BoundSide::Lower, "1.5000000000000000000000000000"},
      // Beyond 96 bits: past the largest coefficient of the scale, the next value up is coarser.
      {"7.92281625142643375935439503354", BoundSide::Lower, "7.922816251426433759354395034"},
      {"7.92281625142643375935439503354", BoundSide::Upper, "7.9228162514264337593543950335"},
      {"-7.92281625142643375935439503354", BoundSide::Upper, "-7.922816251426433759354395034"},
  };
  for (const InwardCase& c : cases) {
    const Decimal bound = round_bound_inwards(c.text, parsed(c.text), c.side);
    EXPECT_EQ(bound.to_string(), c.expected) << c.text;
  }
}

}  // namespace
}  // namespace swarmtuner
