// Differential tests of the decimal's shortcuts (sums at one scale, one-division rounding,
// word-sized products, direct rescaling) against the general digit-by-digit arithmetic, and
// of the grouped digit writing of its text form.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "numeric_core/decimal.hpp"
#include "numeric_core/decimal_text.hpp"

namespace swarmtuner {
namespace {

using test_text::show;

constexpr UInt128 max = Decimal::max_coefficient;

UInt128 pow10(std::uint32_t k) {
  UInt128 p = 1;
  while (k-- > 0) p *= 10;
  return p;
}

// Coefficients at the edges the shortcuts care about: word and 96-bit carries, powers of ten
// and their neighbours (where the digit count changes), halves (rounding ties), and values one
// multiplication by ten away from the top.
std::vector<UInt128> edge_coefficients() {
  std::vector<UInt128> c = {1,
                            5,
                            7,
                            15,
                            25,
                            999'999'999,
                            1'000'000'000,
                            (UInt128{1} << 64) - 1,
                            UInt128{1} << 64,
                            (UInt128{1} << 64) + 1,
                            (UInt128{1} << 64) * 5,
                            max / 10,
                            max / 10 + 1,
                            max / 7,
                            max / 2,
                            max / 2 + 1,
                            max - 1,
                            max};
  for (const std::uint32_t k : {1u, 9u, 18u, 19u, 20u, 27u, 28u}) {
    c.push_back(pow10(k) - 1);
    c.push_back(pow10(k));
    c.push_back(5 * pow10(k - 1));
    c.push_back(pow10(k) + 5);
  }
  return c;
}

// The shortcuts are taken only for non-zero operands; zeros are answered before either path.
std::vector<Decimal> operands(std::uint32_t scale) {
  std::vector<Decimal> out;
  for (const UInt128 c : edge_coefficients()) {
    out.push_back(*Decimal::from_parts(c, scale, false));
    out.push_back(*Decimal::from_parts(c, scale, true));
  }
  return out;
}

bool identical(const Checked<Decimal>& got, const std::optional<Decimal>& want) {
  return got.ok() == want.has_value() && (!got || got->identical(*want));
}

// Each operation against its general form: identical result (coefficient, scale, sign bit) or
// both refusing; for the comparison, the same order. The texts are built only for a failure.
void expect_agreement(const Decimal& a, const Decimal& b) {
  const auto context = [&] { return show(a) + " and " + show(b); };
  const Checked<Decimal> sum = Decimal::checked_add(a, b);
  const std::optional<Decimal> general_sum =
      decimal_general::sum(a, a.is_negative(), b, b.is_negative());
  ASSERT_TRUE(identical(sum, general_sum))
      << "sum of " << context() << ": " << show(sum) << ", general " << show(general_sum);
  const Checked<Decimal> difference = Decimal::checked_sub(a, b);
  const std::optional<Decimal> general_difference =
      decimal_general::sum(a, a.is_negative(), b, !b.is_negative());
  ASSERT_TRUE(identical(difference, general_difference))
      << "difference of " << context() << ": " << show(difference) << ", general "
      << show(general_difference);
  const Checked<Decimal> product = Decimal::checked_mul(a, b);
  const std::optional<Decimal> general_product = decimal_general::product(a, b);
  ASSERT_TRUE(identical(product, general_product))
      << "product of " << context() << ": " << show(product) << ", general "
      << show(general_product);
  if (a.is_negative() == b.is_negative()) {
    // Same sign, so the order is the magnitudes' order (reversed when negative).
    const std::weak_ordering magnitudes = decimal_general::compare_magnitudes(a, b);
    ASSERT_TRUE((a <=> b) == (a.is_negative() ? 0 <=> magnitudes : magnitudes))
        << "order of " << context();
  }
}

// Every pair of edge operands at a pair of scales: the scale differences that fit one word's
// power of ten and those that do not, products that must give up digits to the scale limit,
// and sums whose alignment crosses 2^96.
class DecimalShortcutsAtEdges
    : public testing::TestWithParam<std::tuple<std::uint32_t, std::uint32_t>> {};

TEST_P(DecimalShortcutsAtEdges, MatchTheGeneralArithmetic) {
  const auto [sa, sb] = GetParam();
  const std::vector<Decimal> as = operands(sa);
  const std::vector<Decimal> bs = operands(sb);
  for (const Decimal& a : as) {
    for (const Decimal& b : bs) expect_agreement(a, b);
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, DecimalShortcutsAtEdges,
                         testing::Combine(testing::Values(0u, 1u, 6u, 9u, 19u, 20u, 27u, 28u),
                                          testing::Values(0u, 1u, 6u, 9u, 19u, 20u, 27u, 28u)));

// Equal values at different scales, and a value against itself: the differences are zeros
// (which must not keep a sign bit) and the sums double exactly or round.
class DecimalShortcutsOnEqualValues : public testing::TestWithParam<std::uint32_t> {};

TEST_P(DecimalShortcutsOnEqualValues, MatchTheGeneralArithmetic) {
  const std::uint32_t by = GetParam();
  for (const Decimal& a : operands(0)) {
    const Decimal wider = a.rescaled_up(by);
    expect_agreement(a, wider);
    expect_agreement(wider, a);
    expect_agreement(wider, -wider);
    expect_agreement(wider, wider);
  }
}

INSTANTIATE_TEST_SUITE_P(Rescalings, DecimalShortcutsOnEqualValues,
                         testing::Values(0u, 1u, 9u, 19u, 20u, 28u));

// Random operands of random widths and scales, seeded so that a failure can be replayed.
class DecimalShortcutsOnRandomOperands : public testing::TestWithParam<std::uint64_t> {};

TEST_P(DecimalShortcutsOnRandomOperands, MatchTheGeneralArithmetic) {
  std::mt19937_64 rng(GetParam());
  const auto draw = [&rng] {
    const auto width = static_cast<unsigned>(rng() % 96) + 1;
    UInt128 c = (UInt128{rng()} << 64 | rng()) & ((UInt128{1} << width) - 1);
    if (c == 0) c = 1;
    // A third of the operands hold the short values a search within a few thousand takes.
    if (rng() % 3 == 0) c = c % 10'000'000'000 + 1;
    const auto scale = static_cast<std::uint32_t>(rng() % (Decimal::max_scale + 1));
    return *Decimal::from_parts(c, scale, (rng() & 1) != 0);
  };
  for (int i = 0; i < 20'000; ++i) {
    const Decimal a = draw();
    const Decimal b = draw();
    expect_agreement(a, b);
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, DecimalShortcutsOnRandomOperands, testing::Values(1u, 2u, 3u, 4u));

// The text form writes the coefficient's digit places in fixed groups (2, 8, 3, 8, 8 from
// the left) and counts the significant digits from two words; every digit count, each group
// boundary and both words' limits, at every scale, against text built from the digits alone.
class DecimalTextAtDigitBoundaries : public testing::TestWithParam<std::uint32_t> {};

TEST_P(DecimalTextAtDigitBoundaries, PlacesThePointAndTheLeadingZeros) {
  const std::uint32_t scale = GetParam();
  std::vector<UInt128> coefficients = {0, (UInt128{1} << 64) - 1, UInt128{1} << 64, max};
  for (std::uint32_t k = 1; k <= 28; ++k) {
    coefficients.push_back(pow10(k) - 1);
    coefficients.push_back(pow10(k));
    coefficients.push_back(pow10(k) + 1);
  }
  for (const UInt128 c : coefficients) {
    for (const bool negative : {false, true}) {
      std::string digits = test_text::digits(c);
      if (digits.size() <= scale) digits.insert(0, scale + 1 - digits.size(), '0');
      std::string expected = (negative ? "-" : "") + digits.substr(0, digits.size() - scale);
      if (scale != 0) expected += "." + digits.substr(digits.size() - scale);
      const Decimal d = *Decimal::from_parts(c, scale, negative);
      ASSERT_EQ(d.to_string(), expected) << show(d);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, DecimalTextAtDigitBoundaries,
                         testing::Range<std::uint32_t>(0, Decimal::max_scale + 1));

}  // namespace
}  // namespace swarmtuner
