// FixedInt against BigInt, whose arithmetic and conversions are checked against Python's int.
#include "numeric_core/fixed_int.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace swarmtuner {
namespace {

template <class T>
class FixedIntTest : public ::testing::Test {};
using Widths = ::testing::Types<FixedInt<2>, FixedInt<4>, FixedInt<5>>;
TYPED_TEST_SUITE(FixedIntTest, Widths);

// Random values with magnitudes of `bits` bits at most, often exactly that many, in both
// signs; runs of one bits now and then, where carries and borrows travel furthest, and zero
// low limbs now and then, the one case where negation carries out of the lowest limb.
class Draw {
 public:
  explicit Draw(std::uint64_t seed) : rng_(seed) {}

  std::uint64_t below(std::uint64_t n) { return rng_() % n; }

  BigInt value(std::size_t bits) {
    const std::size_t length = below(3) == 0 ? bits : below(bits + 1);
    std::vector<std::uint32_t> words((length + 31) / 32);
    const bool ones = below(4) == 0;
    for (auto& word : words) word = ones ? 0xFFFFFFFFu : static_cast<std::uint32_t>(rng_());
    if (below(4) == 0 && words.size() > 2) {
      const std::size_t zero_words = 2 * (1 + below((words.size() - 1) / 2));
      for (std::size_t k = 0; k < zero_words && k + 1 < words.size(); ++k) words[k] = 0;
    }
    // The top word keeps `length` bits in all, the highest of them set.
    const std::size_t top_bits = length % 32 == 0 ? 32 : length % 32;
    if (!words.empty()) {
      if (top_bits < 32) words.back() &= (1u << top_bits) - 1;
      words.back() |= 1u << (top_bits - 1);
    }
    const BigInt magnitude = BigInt::from_le_words(words);
    return below(2) == 0 ? magnitude : -magnitude;
  }

 private:
  std::mt19937_64 rng_;
};

template <class F>
BigInt stored(const F& value) {
  BigInt out;
  value.store(out);
  return out;
}

TYPED_TEST(FixedIntTest, LoadsExactlyTheValuesWithinItsBitsAndStoresThemBack) {
  using F = TypeParam;
  Draw draw(11);
  for (int trial = 0; trial < 3000; ++trial) {
    const BigInt value = draw.value(F::load_bits + 2);
    const std::optional<F> loaded = F::load(value);
    ASSERT_EQ(loaded.has_value(), value.bit_length() <= F::load_bits) << value.to_string();
    if (loaded) {
      ASSERT_EQ(stored(*loaded), value) << value.to_string();
      ASSERT_EQ(loaded->is_negative(), value.sign() == BigInt::Sign::Minus);
    }
  }
}

TYPED_TEST(FixedIntTest, SumsDifferencesAndOrderAreBigIntegers) {
  using F = TypeParam;
  Draw draw(12);
  for (int trial = 0; trial < 3000; ++trial) {
    const BigInt a = draw.value(F::load_bits);
    const BigInt b = draw.value(draw.below(2) == 0 ? F::load_bits : 70);
    const F fa = *F::load(a);
    const F fb = *F::load(b);
    ASSERT_EQ(stored(fa + fb), a + b) << a.to_string() << " + " << b.to_string();
    ASSERT_EQ(stored(fa - fb), a - b) << a.to_string() << " - " << b.to_string();
    ASSERT_EQ(stored(F{} - fb), -b) << b.to_string();
    ASSERT_EQ(fa <=> fb, a <=> b) << a.to_string() << " <=> " << b.to_string();
  }
}

TYPED_TEST(FixedIntTest, ToF64FollowsTheBigIntRule) {
  using F = TypeParam;
  Draw draw(13);
  for (int trial = 0; trial < 3000; ++trial) {
    // Differences reach one bit past the loads, as in the step.
    const BigInt x = draw.value(F::load_bits);
    const BigInt y = draw.value(F::load_bits);
    const double expected = (x - y).to_f64();
    const double actual = (*F::load(x) - *F::load(y)).to_f64();
    ASSERT_EQ(std::bit_cast<std::uint64_t>(actual), std::bit_cast<std::uint64_t>(expected))
        << x.to_string() << " - " << y.to_string();
  }
}

// 64 leading bits of 2^63 + 2^10 + 1: above the halfway point between two doubles only by their
// lowest bit, so they round up, to 2^63 + 2^11, at every position within the loads' bits.
TYPED_TEST(FixedIntTest, ToF64CountsTheLowestLeadingBitWhenRounding) {
  using F = TypeParam;
  for (std::size_t zero_words = 0; 32 * zero_words + 64 <= F::load_bits; ++zero_words) {
    std::vector<std::uint32_t> words(zero_words, 0);
    words.push_back((1u << 10) + 1);
    words.push_back(1u << 31);
    const BigInt magnitude = BigInt::from_le_words(words);
    const double expected = std::ldexp(0x1.0000000000001p63, static_cast<int>(32 * zero_words));
    for (const BigInt& value : {magnitude, -magnitude}) {
      const double sign = value.sign() == BigInt::Sign::Minus ? -1.0 : 1.0;
      ASSERT_EQ(F::load(value)->to_f64(), sign * expected) << value.to_string();
    }
  }
}

TYPED_TEST(FixedIntTest, AssignTruncatedMatchesFromF64WithinOneBitMoreThanLoads) {
  using F = TypeParam;
  std::mt19937_64 rng(14);
  const double limit = std::ldexp(1.0, static_cast<int>(F::load_bits + 1));
  std::vector<double> cases = {0.0,   -0.0,   0.5,          -0.999, 0x1p63, -0x1p63, 0x1p64,
                               limit, -limit, limit * 0.75, nan,    inf,    -inf};
  for (int trial = 0; trial < 3000; ++trial) {
    // Any magnitude up to a few bits past the limit, and any fraction.
    const int exponent = static_cast<int>(rng() % (F::load_bits + 4));
    const double magnitude = std::ldexp(1.0 + static_cast<double>(rng() >> 12) * 0x1p-52, exponent);
    cases.push_back(rng() % 2 == 0 ? magnitude : -magnitude);
  }
  for (const double value : cases) {
    F fixed = *F::load(BigInt(42));
    const bool fits = std::isfinite(value) && std::fabs(std::trunc(value)) < limit;
    ASSERT_EQ(fixed.assign_truncated(value), fits) << value;
    if (fits) {
      ASSERT_EQ(stored(fixed), *BigInt::from_f64(value)) << value;
    } else {
      ASSERT_EQ(stored(fixed), BigInt(42)) << value;  // left as it was
    }
  }
}

// Storing reuses the limbs a value already holds, and gives a word back its word form.
TEST(FixedIntStoreTest, ReusesStorageAndKeepsTheCanonicalForm) {
  BigInt target = BigInt::from_string("-" + std::string(70, '9'));
  const std::size_t capacity = target.capacity();
  const BigInt other = BigInt::from_string(std::string(60, '7'));
  FixedInt<5>::load(other)->store(target);
  EXPECT_EQ(target, other);
  EXPECT_EQ(target.capacity(), capacity);
  FixedInt<5>::load(BigInt(-5))->store(target);
  EXPECT_EQ(target, BigInt(-5));
  EXPECT_EQ(target.to_i64(), std::optional<std::int64_t>(-5));
}

}  // namespace
}  // namespace swarmtuner
