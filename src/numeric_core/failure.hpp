// Internal failures: the errors that end a search, carrying their message and where they arose,
// and the one table of the core's failure texts.
#pragma once

#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>

namespace swarmtuner {

// Thrown when the search cannot go on (bad bounds, overflow, an objective that raised).
// It unwinds to the call boundary, which reports it and raises it in Python as PanicException.
class InternalFailure : public std::exception {
 public:
  explicit InternalFailure(std::string message,
                           std::source_location where = std::source_location::current())
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

// Throws an InternalFailure located at the caller.
[[noreturn]] inline void fail(std::string message,
                              std::source_location where = std::source_location::current()) {
  throw InternalFailure(std::move(message), where);
}

// One way the core fails, and its text. A frozen text reaches Python word for word (as the
// message of PanicException, or as the text of a ValueError for a decimal bound) and callers
// match it there, so its wording stays exactly as it is, odd spellings included.
struct FailureText {
  std::string_view text;
  bool frozen;
};

// Every text the core fails with, each once: the code, the tests and the fuzz harness name
// these entries instead of typing the words again.
namespace failure_text {

// The search.
inline constexpr FailureText empty_swarm{"n_particles is 0!", true};
inline constexpr FailureText failed_to_compare{"failed to compare", true};  // also a prefix
inline constexpr FailureText capacity_overflow{"capacity overflow", true};

// Sampling: a pair of bounds that gives no range to draw from.
inline constexpr FailureText low_not_below_high{"Uniform::new called with `low >= high`", true};
inline constexpr FailureText range_overflow{"Uniform::new: range overflow", true};
inline constexpr FailureText big_low_not_below_high{"assertion failed: low < high", true};
inline constexpr FailureText decimal_low_above_high{
    "Uniform::new_inclusive called with `low > high`", true};
// Cannot happen: every point of a decimal grid is a valid coefficient.
inline constexpr FailureText decimal_draw_outside{"decimal draw outside the coefficient range",
                                                  false};
// A prefix, followed by the random source's own error text.
inline constexpr FailureText thread_rng_key{"could not initialize thread_rng: ", true};

// Element arithmetic.
inline constexpr FailureText big_int_scaling{"f64 can not to BigInt", true};
inline constexpr FailureText decimal_addition{"Addition overflowed", true};
inline constexpr FailureText decimal_subtraction{"Subtraction overflowed", true};
inline constexpr FailureText decimal_multiplication{"Multiplication overflowed", true};
inline constexpr FailureText decimal_factor{"Failed to convert to Decimal", true};

// Decimal text, as read from a bound (raised as ValueError, not as an internal failure).
inline constexpr FailureText decimal_empty{"Invalid decimal: empty", true};
inline constexpr FailureText decimal_no_digits{"Invalid decimal: no digits found", true};
inline constexpr FailureText decimal_two_points{"Invalid decimal: two decimal points", true};
inline constexpr FailureText decimal_lead{"Invalid decimal: must start lead with a number", true};
inline constexpr FailureText decimal_unknown{"Invalid decimal: unknown character", true};
inline constexpr FailureText decimal_too_many_digits{
    "Invalid decimal: overflow from too many digits", true};
inline constexpr FailureText decimal_rounding_overflow{
    "Invalid decimal: overflow from mantissa after rounding", true};

// Big integer text, read only by tests and diagnostics; a prefix, followed by the text.
inline constexpr FailureText big_int_text{"invalid decimal integer text: ", false};

}  // namespace failure_text

// Throws the InternalFailure of `failure`, located at the caller.
[[noreturn]] inline void fail(const FailureText& failure,
                              std::source_location where = std::source_location::current()) {
  throw InternalFailure(std::string(failure.text), where);
}

}  // namespace swarmtuner
