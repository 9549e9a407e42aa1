// Decimal bounds read from text, rounded towards the inside of the range they bound.
#include "numeric_core/decimal_bound.hpp"

#include <array>
#include <optional>
#include <string>

namespace swarmtuner {
namespace {

// A decimal number as its digits: integer part without leading zeros, fraction without
// trailing zeros, so that equal numbers have equal digits.
struct Digits {
  bool negative = false;
  std::string integer;
  std::string fraction;

  bool is_zero() const noexcept { return integer.empty() && fraction.empty(); }
};

Digits digits_of(std::string_view text) {
  Digits digits;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    digits.negative = text.front() == '-';
    text.remove_prefix(1);
  }
  bool in_fraction = false;
  for (const char c : text) {
    if (c == '.') {
      in_fraction = true;
    } else if (c >= '0' && c <= '9') {
      (in_fraction ? digits.fraction : digits.integer).push_back(c);
    }  // underscores separate digits and mean nothing
  }
  const std::size_t first = digits.integer.find_first_not_of('0');
  digits.integer.erase(0, first == std::string::npos ? digits.integer.size() : first);
  const std::size_t last = digits.fraction.find_last_not_of('0');
  digits.fraction.erase(last == std::string::npos ? 0 : last + 1);
  return digits;
}

// -1, 0 or 1 as the magnitude of a is below, equal to or above that of b.
int compare_magnitudes(const Digits& a, const Digits& b) noexcept {
  if (a.integer.size() != b.integer.size()) return a.integer.size() < b.integer.size() ? -1 : 1;
  if (const int order = a.integer.compare(b.integer); order != 0) return order < 0 ? -1 : 1;
  if (const int order = a.fraction.compare(b.fraction); order != 0) return order < 0 ? -1 : 1;
  return 0;
}

// The decimal one step of `value`'s scale away from it (up or down), or, where its coefficient
// has no room left, the next value of the scale below in that direction; nullopt beyond the
// largest decimal.
std::optional<Decimal> step_from(const Decimal& value, bool up) {
  const Int128 coefficient = value.signed_coefficient() + (up ? 1 : -1);
  if (const auto stepped = Decimal::from_signed_coefficient(coefficient, value.scale())) {
    return stepped;
  }
  if (value.scale() == 0) return std::nullopt;
  // |coefficient| is 2^96 here: a tenth of it, rounded away from the value, fits.
  const Int128 tenth =
      coefficient / 10 + (up ? (coefficient > 0 ? 1 : 0) : (coefficient < 0 ? -1 : 0));
  return Decimal::from_signed_coefficient(tenth, value.scale() - 1);
}

}  // namespace

int compare_text_with(std::string_view text, const Decimal& value) {
  std::array<char, Decimal::max_text_length> buffer{};
  const std::size_t length = value.write_text(buffer);
  const Digits a = digits_of(text);
  const Digits b = digits_of(std::string_view(buffer.data(), length));
  const bool a_negative = a.negative && !a.is_zero();
  const bool b_negative = b.negative && !b.is_zero();
  if (a_negative != b_negative) return a_negative ? -1 : 1;
  const int magnitude = compare_magnitudes(a, b);
  return a_negative ? -magnitude : magnitude;
}

Decimal round_bound_inwards(std::string_view text, Decimal parsed, BoundSide side) {
  const int order = compare_text_with(text, parsed);
  const bool moved_outwards = side == BoundSide::Lower ? order > 0 : order < 0;
  if (!moved_outwards) return parsed;
  return step_from(parsed, side == BoundSide::Lower).value_or(parsed);
}

}  // namespace swarmtuner
