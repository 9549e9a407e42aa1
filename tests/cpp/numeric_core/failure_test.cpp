// Internal failures carry their message and the position of the check that raised them.
#include "numeric_core/failure.hpp"

#include <gtest/gtest.h>

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

// Every failed status throws its own frozen entry of the table, located where it is thrown,
// both through fail() and through a Checked value that holds it; no two share a text.
TEST(StatusTextTest, EveryFailedStatusThrowsItsOwnFrozenText) {
  constexpr auto last = static_cast<int>(Status::decimal_rounding_overflow);
  for (int k = 1; k <= last; ++k) {
    const auto status = static_cast<Status>(k);
    const FailureText& text = failure_text_of(status);
    EXPECT_TRUE(text.frozen) << text.text;
    for (int other = 1; other < k; ++other) {
      EXPECT_NE(failure_text_of(static_cast<Status>(other)).text, text.text) << k;
    }
    const std::source_location here = std::source_location::current();
    try {
      fail(status);
      FAIL() << "fail() returned";
    } catch (const InternalFailure& failure) {
      EXPECT_EQ(failure.message(), text.text);
      EXPECT_EQ(failure.where().line(), here.line() + 2);
    }
    try {
      (void)Checked<int>(status).value_or_throw();
      FAIL() << "value_or_throw() returned";
    } catch (const InternalFailure& failure) {
      EXPECT_EQ(failure.message(), text.text);
    }
  }
  EXPECT_EQ(Checked<int>(7).value_or_throw(), 7);
  // The status without a failure has no text of its own.
  EXPECT_EQ(&failure_text_of(Status::ok), &failure_text::no_failure);
}

}  // namespace
}  // namespace swarmtuner
