// Message texts longer than the daemon's frame can carry arrive cut in the middle.
#include "module/message_text.h"

#include <gtest/gtest.h>

#include "test_services.h"

namespace pullwire {
namespace {

// A 1.2 MB text (a remote name, a LocalDir) would not fit the daemon's frame, least of all as
// control bytes that JSON writes as six: it arrives with its start and its end, cut between
// UTF-8 characters; a text that fits passes as it is.
TEST(message_text, long_texts_arrive_cut_in_the_middle) {
  std::vector<testing::SentMessage> sent;
  FittingChannel channel(std::make_unique<testing::RecordingChannel>(&sent));
  std::string euros;
  for (int i = 0; i < 400'000; ++i) euros += "\xE2\x82\xAC";  // the euro sign, 3 bytes
  channel.SendHostMessage("Downloading [" + std::string(1'200'000, '\x01') + "] ...",
                          kInformationMessage);
  channel.SendHostMessage(euros, kErrorMessage);
  channel.SendHostMessage(std::string(kMaxMessageBytes, 'a'), kWarningMessage);

  ASSERT_EQ(sent.size(), 3u);
  const std::string& control = sent[0].text;
  EXPECT_EQ(control.size(), kMaxMessageBytes);
  EXPECT_EQ(control.substr(0, 13), "Downloading [");
  EXPECT_EQ(control.substr(control.size() - 5), "] ...");
  EXPECT_NE(control.find("\x01 [... 1134516 bytes left out ...] \x01"), std::string::npos);
  const std::string& cut = sent[1].text;
  EXPECT_LE(cut.size(), kMaxMessageBytes);
  const std::size_t mark = cut.find(" [... ");
  ASSERT_NE(mark, std::string::npos);
  EXPECT_EQ(mark % 3, 0u) << "whole characters before the mark";
  EXPECT_EQ((cut.size() - cut.find(" ...] ") - 6) % 3, 0u) << "and after it";
  EXPECT_EQ(sent[1].mtype, kErrorMessage);
  EXPECT_EQ(sent[2], (testing::SentMessage{std::string(kMaxMessageBytes, 'a'), kWarningMessage}));
}

}  // namespace
}  // namespace pullwire
