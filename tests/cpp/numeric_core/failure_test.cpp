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

}  // namespace
}  // namespace swarmtuner
