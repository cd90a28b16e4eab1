// Message texts longer than the daemon's frame can carry arrive cut in the middle.
#include "module/message_text.h"

#include <gtest/gtest.h>

namespace pullwire {
namespace {

// A 1.2 MB text (a remote name, a LocalDir) would not fit the daemon's frame, least of all as
// control bytes that JSON writes as six: it keeps its start and its end, cut between UTF-8
// characters; a text that fits stays as it is.
TEST(message_text, long_texts_are_cut_in_the_middle) {
  std::string euros;
  for (int i = 0; i < 400'000; ++i) euros += "\xE2\x82\xAC";  // the euro sign, 3 bytes

  const std::string control =
      FittedMessageText("Downloading [" + std::string(1'200'000, '\x01') + "] ...");
  EXPECT_EQ(control.size(), kMaxMessageBytes);
  EXPECT_EQ(control.substr(0, 13), "Downloading [");
  EXPECT_EQ(control.substr(control.size() - 5), "] ...");
  EXPECT_NE(control.find("\x01 [... 1134516 bytes left out ...] \x01"), std::string::npos);
  const std::string cut = FittedMessageText(euros);
  EXPECT_LE(cut.size(), kMaxMessageBytes);
  const std::size_t mark = cut.find(" [... ");
  ASSERT_NE(mark, std::string::npos);
  EXPECT_EQ(mark % 3, 0u) << "whole characters before the mark";
  EXPECT_EQ((cut.size() - cut.find(" ...] ") - 6) % 3, 0u) << "and after it";
  EXPECT_EQ(FittedMessageText(std::string(kMaxMessageBytes, 'a')), std::string(kMaxMessageBytes, 'a'));
}

}  // namespace
}  // namespace pullwire
