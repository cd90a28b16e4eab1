// SafeArray shapes: lower bounds 0 and 1, several dimensions, and lookups outside the bounds.
#include "com/safe_array.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace pullwire::com {
namespace {

TEST(SafeArray, FindHonoursTheLowerBound) {
  const SafeArray<std::string> one_based({"a", "b", "c"}, 1);
  EXPECT_EQ(one_based.LowerBound(), 1);
  EXPECT_EQ(one_based.UpperBound(), 3);
  EXPECT_EQ(one_based.Find(0), nullptr);
  EXPECT_EQ(*one_based.Find(1), "a");
  EXPECT_EQ(*one_based.Find(3), "c");
  EXPECT_EQ(one_based.Find(4), nullptr);

  const SafeArray<std::string> zero_based({"a", "b"});
  EXPECT_EQ(*zero_based.Find(0), "a");
  EXPECT_EQ(zero_based.Find(2), nullptr);
  EXPECT_EQ(zero_based.Find(-1), nullptr);
}

TEST(SafeArray, FindNeverOverflowsTheOffset) {
  const SafeArray<int> high({7}, INT_MAX);
  EXPECT_EQ(*high.Find(INT_MAX), 7);
  EXPECT_EQ(high.Find(INT_MIN), nullptr);
  const SafeArray<int> low({7}, INT_MIN);
  EXPECT_EQ(low.Find(INT_MAX), nullptr);
  EXPECT_EQ(*low.Find(INT_MIN), 7);
}

TEST(SafeArray, TwoDimensionsHaveBoundsButNoOneDimensionalLookup) {
  auto grid = SafeArray<std::string>::WithBounds({{1, 2}, {0, 3}});
  EXPECT_EQ(grid.Dimensions(), 2u);
  EXPECT_EQ(grid.size(), 6u);
  EXPECT_EQ(grid.LowerBound(1), 0);
  EXPECT_EQ(grid.UpperBound(0), 2);
  EXPECT_EQ(grid.UpperBound(1), 2);
  EXPECT_EQ(grid.Find(1), nullptr);
  EXPECT_THROW(grid.LowerBound(2), std::out_of_range);
}

TEST(SafeArray, EmptyArrayHasUpperBelowLower) {
  const SafeArray<std::string> empty({}, 1);
  EXPECT_EQ(empty.UpperBound(), 0);
  EXPECT_EQ(empty.Find(1), nullptr);
  EXPECT_EQ(SafeArray<int>::WithBounds({}).size(), 0u);
  EXPECT_EQ(SafeArray<int>::WithBounds({{0, -3}}).size(), 0u);
}

}  // namespace
}  // namespace pullwire::com
