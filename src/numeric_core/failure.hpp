// Internal failures: the errors that end a search, carrying their message and where they arose,
// the one table of the core's failure texts, and the status its arithmetic and parsing report.
#pragma once

#include <cstdint>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
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

// Cannot happen: the elements a fused particle step found failing passed when replayed.
inline constexpr FailureText replay_without_failure{
    "the failed elements of a particle step passed when replayed", false};
// Cannot happen: a status that reports no failure was thrown as one.
inline constexpr FailureText no_failure{"a status without a failure was thrown", false};

}  // namespace failure_text

// Throws the InternalFailure of `failure`, located at the caller.
[[noreturn]] inline void fail(const FailureText& failure,
                              std::source_location where = std::source_location::current()) {
  throw InternalFailure(std::string(failure.text), where);
}

// ---- The status of the core's arithmetic and parsing ----
//
// An element operation or a parse that can fail returns its status (or a Checked value) rather
// than throwing; the operations over whole lists and vectors look at it and throw the failure of
// the first element that failed. A loop over many elements thus keeps its failure as data: it
// can note which elements failed and go on, and the throw is made in one place.

// The ways the core's arithmetic and decimal parsing fail, each naming its failure_text entry.
enum class Status : std::uint8_t {
  ok,
  big_int_scaling,
  decimal_addition,
  decimal_subtraction,
  decimal_multiplication,
  decimal_factor,
  decimal_empty,
  decimal_no_digits,
  decimal_two_points,
  decimal_lead,
  decimal_unknown,
  decimal_too_many_digits,
  decimal_rounding_overflow,
};

// The failure_text entry of a status.
constexpr const FailureText& failure_text_of(Status status) noexcept {
  switch (status) {
    case Status::ok:
      break;
    case Status::big_int_scaling:
      return failure_text::big_int_scaling;
    case Status::decimal_addition:
      return failure_text::decimal_addition;
    case Status::decimal_subtraction:
      return failure_text::decimal_subtraction;
    case Status::decimal_multiplication:
      return failure_text::decimal_multiplication;
    case Status::decimal_factor:
      return failure_text::decimal_factor;
    case Status::decimal_empty:
      return failure_text::decimal_empty;
    case Status::decimal_no_digits:
      return failure_text::decimal_no_digits;
    case Status::decimal_two_points:
      return failure_text::decimal_two_points;
    case Status::decimal_lead:
      return failure_text::decimal_lead;
    case Status::decimal_unknown:
      return failure_text::decimal_unknown;
    case Status::decimal_too_many_digits:
      return failure_text::decimal_too_many_digits;
    case Status::decimal_rounding_overflow:
      return failure_text::decimal_rounding_overflow;
  }
  return failure_text::no_failure;
}

// Throws the InternalFailure of a failed status, located at the caller. Out of line and cold,
// so that the loops that call it keep only the test of the status.
[[noreturn, gnu::cold]] void fail(Status status,
                                  std::source_location where = std::source_location::current());

// A value, or the status of the operation that could not produce it. Reads like an optional
// (tested as a bool, dereferenced), so code that only needs "did it work" stays short.
template <class T>
class [[nodiscard]] Checked {
 public:
  // Both implicit, so that a function returns its value or its status alike.
  Checked(T value) noexcept(std::is_nothrow_move_constructible_v<T>) : value_(std::move(value)) {}
  // `failure` is not Status::ok.
  Checked(Status failure) noexcept(std::is_nothrow_default_constructible_v<T>) : status_(failure) {}

  bool ok() const noexcept { return status_ == Status::ok; }
  explicit operator bool() const noexcept { return ok(); }
  Status status() const noexcept { return status_; }

  // The value; only where ok().
  const T& operator*() const& noexcept { return value_; }
  T& operator*() & noexcept { return value_; }
  T&& operator*() && noexcept { return std::move(value_); }
  const T* operator->() const noexcept { return &value_; }

  // The value, or the throw of the failure.
  T value_or_throw(std::source_location where = std::source_location::current()) && {
    if (!ok()) [[unlikely]]
      fail(status_, where);
    return std::move(value_);
  }

 private:
  T value_{};
  Status status_ = Status::ok;
};

}  // namespace swarmtuner
