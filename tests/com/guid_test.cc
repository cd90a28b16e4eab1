// Guid text form: round trip, accepted spellings, and rejected input.
#include "com/guid.h"

#include <gtest/gtest.h>

namespace pullwire::com {
namespace {

constexpr Guid kSample{0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};

TEST(Guid, TextRoundTrip) {
  EXPECT_EQ(ToString(kSample), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
  EXPECT_EQ(ParseGuid(ToString(kSample)), kSample);
  EXPECT_EQ(ParseGuid("01234567-89ab-cdef-0123-456789abcdef"), kSample);  // bare, lower case
  EXPECT_EQ(ToString(Guid{}), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, RejectsMalformedText) {
  for (const char* text : {"", "{}", "{01234567-89AB-CDEF-0123-456789ABCDE}", "{01234567-89AB-CDEF-0123-456789ABCDEF0}",
                           "{01234567-89AB-CDEF-0123-456789ABCDEF", "01234567-89AB-CDEF-0123-456789ABCDEF}",
                           "{0123456789AB-CDEF-0123-456789ABCDEF-}", "{01234567-89AB-CDEF-0123-456789ABCDEG}",
                           "(01234567-89AB-CDEF-0123-456789ABCDEF)", " 01234567-89AB-CDEF-0123-456789ABCDEF",
                           "01234567-89AB-CDEF-0123+456789ABCDEF"}) {
    EXPECT_EQ(ParseGuid(text), std::nullopt) << text;
  }
}

}  // namespace
}  // namespace pullwire::com
