// Runtime guards a host relies on: exceptions never cross the interface, and array lookups with
// extreme lower bounds never overflow.
#include <gtest/gtest.h>

#include <climits>
#include <new>
#include <stdexcept>

#include "com/ref_counted.h"
#include "com/safe_array.h"

namespace pullwire::com {
namespace {

TEST(GuardedCall, TurnsExceptionsIntoResultsAndRecords) {
  GetErrorInfo();
  EXPECT_EQ(GuardedCall("Src", [] { return S_FALSE; }), S_FALSE);
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw ComError(VbErrorResult(6), {6, "Overflow", "Box"}); }),
            VbErrorResult(6));
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{6, "Overflow", "Box"}));
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::runtime_error("disk on fire"); }), E_FAIL);
  EXPECT_EQ(GetErrorInfo(), (ErrorRecord{E_FAIL, "disk on fire", "Src"}));
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw std::bad_alloc(); }), E_OUTOFMEMORY);
  EXPECT_EQ(GuardedCall("Src", []() -> HRESULT { throw 7; }), E_UNEXPECTED);
}

TEST(SafeArray, FindNeverOverflowsTheOffset) {
  const SafeArray<int> high({7}, INT_MAX);
  const SafeArray<int> low({7}, INT_MIN);
  EXPECT_EQ(*high.Find(INT_MAX), 7);
  EXPECT_EQ(high.Find(INT_MIN), nullptr);
  EXPECT_EQ(low.Find(INT_MAX), nullptr);
  EXPECT_EQ(*low.Find(INT_MIN), 7);
}

}  // namespace
}  // namespace pullwire::com
