// Fuzz harness: the decimal text parser against a grammar check and the text's exact rational.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "numeric_core/failure.hpp"
#include "reference.hpp"

using namespace swarmtuner;
using namespace swarmtuner::fuzz;

namespace {

constexpr std::string_view e_empty = failure_text::decimal_empty.text;
constexpr std::string_view e_no_digits = failure_text::decimal_no_digits.text;
constexpr std::string_view e_two_points = failure_text::decimal_two_points.text;
constexpr std::string_view e_lead = failure_text::decimal_lead.text;
constexpr std::string_view e_unknown = failure_text::decimal_unknown.text;
constexpr std::string_view e_digits = failure_text::decimal_too_many_digits.text;
constexpr std::string_view e_rounding = failure_text::decimal_rounding_overflow.text;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The grammar alone: [+-]? then digits, at most one point and underscores, with at least one
// digit and no underscore before the first digit. Returns the message for the first
// offending character, or an empty view for a well-formed text. `prefix_end` is where the
// well-formed prefix (the part the parser reads before any complaint) ends.
std::string_view grammar(std::string_view text, std::size_t start, std::size_t& prefix_end) {
  bool point = false;
  bool digit = false;
  for (std::size_t i = start; i < text.size(); ++i) {
    const char c = text[i];
    prefix_end = i;
    if (is_digit(c)) {
      digit = true;
    } else if (c == '.') {
      if (point) return e_two_points;
      point = true;
    } else if (c == '_') {
      if (!digit) return e_lead;
    } else {
      return e_unknown;
    }
  }
  prefix_end = text.size();
  return digit ? std::string_view() : e_no_digits;
}

struct Reference {
  std::string_view error;   // empty when accepted
  bool check_error = true;  // false where only "refused" is predicted
  bool negative = false;
  UInt128 coefficient = 0;
  unsigned scale = 0;
};

Reference reference(std::string_view text) {
  Reference out;
  if (text.empty()) {
    out.error = e_empty;
    return out;
  }
  const std::size_t start = (text[0] == '+' || text[0] == '-') ? 1 : 0;
  out.negative = text[0] == '-';
  std::size_t prefix_end = text.size();
  const std::string_view syntax = grammar(text, start, prefix_end);

  // The digits of the well-formed prefix, their positions, and the point.
  Integer integer;
  Integer max;
  set_max_coefficient(max.z);
  bool integer_overflow = false;
  std::size_t point = std::string_view::npos;
  std::vector<std::size_t> fraction_positions;
  Integer all_digits;
  for (std::size_t i = start; i < prefix_end; ++i) {
    const char c = text[i];
    if (c == '.') {
      point = i;
    } else if (is_digit(c)) {
      mpz_mul_ui(all_digits.z, all_digits.z, 10);
      mpz_add_ui(all_digits.z, all_digits.z, static_cast<unsigned long>(c - '0'));
      if (point == std::string_view::npos) {
        mpz_mul_ui(integer.z, integer.z, 10);
        mpz_add_ui(integer.z, integer.z, static_cast<unsigned long>(c - '0'));
        if (mpz_cmp(integer.z, max.z) > 0) integer_overflow = true;
      } else {
        fraction_positions.push_back(i);
      }
    }
  }
  // The integer part is read first: an overflow there is reported before anything after it.
  if (integer_overflow) {
    out.error = e_digits;
    return out;
  }
  if (!syntax.empty()) {
    out.error = syntax;
    // An integer part of exactly 2^96 - 1 may instead fail by rounding at the character after
    // the point, which comes before a later offending character.
    out.check_error = mpz_cmp(integer.z, max.z) != 0;
    return out;
  }

  // The exact value of the text.
  Rational exact;
  const auto n = static_cast<unsigned>(fraction_positions.size());
  {
    Integer p;
    mpz_ui_pow_ui(p.z, 10, n);
    mpq_set_num(exact.q, all_digits.z);
    mpq_set_den(exact.q, p.z);
    mpq_canonicalize(exact.q);
  }

  // The kept scale: all fraction digits up to 28, fewer when the coefficient would not fit.
  unsigned s = n < Decimal::max_scale ? n : Decimal::max_scale;
  Scaled kept;
  for (;;) {
    scale_magnitude(kept, exact.q, s);
    if (mpz_cmp(kept.floor.z, max.z) <= 0) break;
    --s;  // s reaches 0 at worst: the integer part fits
  }

  // The character after the last kept digit decides the rounding: a digit of 5 or more raises
  // the coefficient. An underscore there decides (and leaves it) only when no further digit
  // could be appended at all; otherwise underscores are skipped and the next digit decides.
  bool raise = false;
  if (s < n) {
    const std::size_t after = (s == 0 ? point : fraction_positions[s - 1]) + 1;
    Integer times_ten;
    mpz_mul_ui(times_ten.z, kept.floor.z, 10);
    const bool full = s == Decimal::max_scale || mpz_cmp(times_ten.z, max.z) > 0;
    if (!(full && text[after] == '_')) raise = text[fraction_positions[s]] >= '5';
  }
  // With a deciding digit the result is the exact value rounded half up at the kept scale;
  // with an underscore it is truncated; with no digit left it is exact.
  if (!raise) {
    out.coefficient = get_u128(kept.floor.z);
    out.scale = s;
    return out;
  }
  if (kept.half < 0) mismatch("reference: raised below one half");
  mpz_add_ui(kept.floor.z, kept.floor.z, 1);
  if (mpz_cmp(kept.floor.z, max.z) <= 0) {
    out.coefficient = get_u128(kept.floor.z);
    out.scale = s;
    return out;
  }
  if (s == 0) {
    out.error = e_rounding;
    return out;
  }
  // The raise carried out of 96 bits: one digit fewer, rounded half up from the exact value.
  Scaled fewer;
  scale_magnitude(fewer, exact.q, s - 1);
  if (fewer.half >= 0) mpz_add_ui(fewer.floor.z, fewer.floor.z, 1);
  out.coefficient = get_u128(fewer.floor.z);
  out.scale = s - 1;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const Checked<Decimal> got = Decimal::parse(text);
  const std::string_view got_error = got ? std::string_view() : failure_text_of(got.status()).text;
  const Reference want = reference(text);
  const std::string shown = "\"" + std::string(text) + "\"";

  if (!want.error.empty()) {
    if (got) mismatch(shown + ": accepted as " + show(got) + ", want refusal");
    if (want.check_error && got_error != want.error) {
      mismatch(shown + ": message \"" + std::string(got_error) + "\", want \"" +
               std::string(want.error) + "\"");
    }
    return 0;
  }
  if (!got) mismatch(shown + ": refused with \"" + std::string(got_error) + "\"");
  const Decimal& d = *got;
  if (d.coefficient() != want.coefficient || d.scale() != want.scale ||
      d.is_negative() != want.negative) {
    const auto expected = Decimal::from_parts(want.coefficient, want.scale, want.negative);
    mismatch(shown + ": got " + show(d) + ", want " + show(expected));
  }
  return 0;
}
