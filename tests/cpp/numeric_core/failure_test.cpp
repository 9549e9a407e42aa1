// Internal failures carry their message and the position of the check that raised them.
#include "numeric_core/failure.hpp"

#include <gtest/gtest.h>

#include <cstddef>
#include <iterator>
#include <ostream>
#include <source_location>
#include <string_view>

namespace swarmtuner {
namespace {

TEST(InternalFailureTest, FailRecordsTheCallersPositionAndMessage) {
  const std::source_location here = std::source_location::current();
  try {
    fail("failed to compare");
    FAIL() << "fail() returned";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), "failed to compare");
    EXPECT_STREQ(failure.what(), "failed to compare");
    EXPECT_STREQ(failure.where().file_name(), here.file_name());
    EXPECT_EQ(failure.where().line(), here.line() + 2);
    EXPECT_EQ(failure.where().function_name(), std::string_view(here.function_name()));
  }
}

TEST(InternalFailureTest, SourcePositionsAreRelativeToTheProjectRoot) {
  // Reports must not leak the build machine's directories.
  const std::string_view file = std::source_location::current().file_name();
  EXPECT_EQ(file, "tests/cpp/numeric_core/failure_test.cpp");
}

struct StatusCase {
  Status status;
  const FailureText* text;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
  *os << static_cast<int>(c.status);
}

class StatusTextTest : public testing::TestWithParam<StatusCase> {};

// Each failed status throws its own entry of the table, located where it is thrown.
TEST_P(StatusTextTest, FailThrowsTheStatusText) {
  const StatusCase& c = GetParam();
  EXPECT_EQ(&failure_text_of(c.status), c.text);
  const std::source_location here = std::source_location::current();
  try {
    fail(c.status);
    FAIL() << "fail() returned";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), c.text->text);
    EXPECT_EQ(failure.where().line(), here.line() + 2);
  }
}

// A Checked value throws its status only where it holds no value.
TEST_P(StatusTextTest, CheckedValueThrowsOnlyItsFailure) {
  const StatusCase& c = GetParam();
  try {
    (void)Checked<int>(c.status).value_or_throw();
    FAIL() << "value_or_throw() returned";
  } catch (const InternalFailure& failure) {
    EXPECT_EQ(failure.message(), c.text->text);
  }
  EXPECT_EQ(Checked<int>(7).value_or_throw(), 7);
}

const StatusCase status_cases[] = {
    {Status::big_int_scaling, &failure_text::big_int_scaling},
    {Status::decimal_addition, &failure_text::decimal_addition},
    {Status::decimal_subtraction, &failure_text::decimal_subtraction},
    {Status::decimal_multiplication, &failure_text::decimal_multiplication},
    {Status::decimal_factor, &failure_text::decimal_factor},
    {Status::decimal_empty, &failure_text::decimal_empty},
    {Status::decimal_no_digits, &failure_text::decimal_no_digits},
    {Status::decimal_two_points, &failure_text::decimal_two_points},
    {Status::decimal_lead, &failure_text::decimal_lead},
    {Status::decimal_unknown, &failure_text::decimal_unknown},
    {Status::decimal_too_many_digits, &failure_text::decimal_too_many_digits},
    {Status::decimal_rounding_overflow, &failure_text::decimal_rounding_overflow},
};

INSTANTIATE_TEST_SUITE_P(EveryFailure, StatusTextTest, testing::ValuesIn(status_cases));

TEST(StatusTextTest, EveryFailedStatusHasItsOwnFrozenText) {
  // The cases above name every failed status once, and no two share a text.
  EXPECT_EQ(std::size(status_cases), static_cast<std::size_t>(Status::decimal_rounding_overflow));
  for (const StatusCase& a : status_cases) {
    EXPECT_TRUE(a.text->frozen) << a.text->text;
    for (const StatusCase& b : status_cases) {
      if (a.status != b.status) {
        EXPECT_NE(a.text->text, b.text->text);
      }
    }
  }
  // The status without a failure has no text of its own.
  EXPECT_EQ(&failure_text_of(Status::ok), &failure_text::no_failure);
}

}  // namespace
}  // namespace swarmtuner
