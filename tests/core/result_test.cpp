// A Result carries either its value or the failure, and ZGL_TRY hands a failure on unchanged
// while letting a success go on.
#include "core/result.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zemlo {
namespace {

constexpr Reason kShort{"the file ends early"};
enum class Problem { kNone, kGone, kFull };

Result<int> Half(int n) {
  if (n % 2 != 0) return Fail(kShort);
  return n / 2;
}

Result<void, Problem> Step(bool fails, int& steps) {
  ++steps;
  if (fails) return Fail(Problem::kFull);
  return {};
}

Result<void, Problem> TwoSteps(bool first_fails, bool second_fails, int& steps) {
  ZGL_TRY(Step(first_fails, steps));
  ZGL_TRY(Step(second_fails, steps));
  return {};
}

TEST(Result, HoldsTheValueOrTheReason) {
  const Result<int> even = Half(8);
  ASSERT_TRUE(even.ok());
  EXPECT_EQ(*even, 4);
  const Result<int> odd = Half(7);
  ASSERT_FALSE(odd);
  EXPECT_EQ(odd.error(), kShort);
  EXPECT_EQ(odd.error().text, "the file ends early");
}

// value_or serves callers that only need a pointer or a count: the fallback only on failure,
// converted to the value's type (nullptr for a pointer).
TEST(Result, ValueOrGivesTheFallbackOnlyOnFailure) {
  EXPECT_EQ(Half(8).value_or(-1), 4);
  EXPECT_EQ(Half(7).value_or(-1), -1);
  int held = 3;
  const Result<int*, Problem> found = &held;
  const Result<int*, Problem> missing = Fail(Problem::kGone);
  EXPECT_EQ(found.value_or(nullptr), &held);
  EXPECT_EQ(missing.value_or(nullptr), nullptr);
}

TEST(Result, MovesAValueThatCannotBeCopied) {
  Result<std::unique_ptr<std::string>> made = std::make_unique<std::string>("entry");
  ASSERT_TRUE(made.ok());
  const std::unique_ptr<std::string> taken = std::move(made).value();
  EXPECT_EQ(*taken, "entry");
}

TEST(Result, TryStopsAtTheFirstFailureAndPassesItOn) {
  int steps = 0;
  EXPECT_TRUE(TwoSteps(false, false, steps).ok());
  EXPECT_EQ(steps, 2);

  steps = 0;
  const Result<void, Problem> first = TwoSteps(true, false, steps);
  ASSERT_FALSE(first.ok());
  EXPECT_EQ(first.error(), Problem::kFull);
  EXPECT_EQ(steps, 1);  // the second step never ran

  steps = 0;
  EXPECT_FALSE(TwoSteps(false, true, steps).ok());
  EXPECT_EQ(steps, 2);
}

}  // namespace
}  // namespace zemlo
