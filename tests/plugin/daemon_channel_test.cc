// The daemon message channel in-process against real local servers: the timestamp of a fixed
// clock, texts too long for a frame, and what a run's messages cost and where they arrive when the
// daemon is there, restarted, missing or silent.
#include "module/daemon_channel.h"

#include <gtest/gtest.h>

#include <ctime>
#include <tuple>

#include "com/activation.h"
#include "com/error_info.h"
#include "module/host_locale.h"
#include "module/message_text.h"
#include "private_environment.h"
#include "tests/support/test_files.h"
#include "recording_daemon.h"

namespace pullwire {
namespace {

using namespace std::chrono_literals;
using testing::RecordingDaemon;

// The local time `y-mo-d h:mi:s` as the system clock reads it.
std::chrono::system_clock::time_point LocalTime(int y, int mo, int d, int h, int mi, int s) {
  std::tm local{};
  std::tie(local.tm_year, local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec) =
      std::tuple(y - 1900, mo - 1, d, h, mi, s);
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

TEST(message_timestamp, is_dd_mmm_yyyy_hh_nn_ss_in_local_time_in_the_host_s_lc_time) {
  if (!testing::LocaleInstalled(testing::kGermanLocale)) GTEST_SKIP() << testing::kGermanLocaleMissing;
  const char* const de = testing::kGermanLocale;
  const struct {
    const char* locale;
    int month, day;
    const char* expected;
  } cases[] = {
      {"C", 1, 1, "01-Jan-2025 07:08.09"}, {"C", 12, 31, "31-Dec-2025 07:08.09"}, {de, 3, 4, "04-Mär-2025 07:08.09"},
      {de, 10, 9, "09-Okt-2025 07:08.09"}, {"no_SUCH.UTF-8", 3, 4, "04-Mar-2025 07:08.09"},  // read as C
  };
  for (const auto& c : cases) {
    testing::ScopedEnv locale("LC_ALL", c.locale);
    EXPECT_EQ(FormatMessageTimestamp(LocalTime(2025, c.month, c.day, 7, 8, 9)), c.expected) << c.locale;
  }
  // Fractions of a second are cut, not rounded up into the next second.
  EXPECT_EQ(FormatMessageTimestamp(LocalTime(1999, 12, 31, 23, 59, 59) + 999ms), "31-Dec-1999 23:59.59");
}

// Between hours and minutes in the locale's time format, when that is punctuation.
TEST(message_timestamp, time_separator_comes_from_the_time_format) {
  const struct {
    const char32_t* time_format;
    const char32_t* ampm_format;
    const char* separator;
  } cases[] = {
      {U"%H:%M:%S", U"", ":"},       {U"%T", U"", ":"},           {U"%R", U"", ":"},
      {U"%H.%M.%S", U"", "."},       {U"kl. %H.%M %z", U"", "."}, {U"%r", U"%I.%M.%S %p", "."},
      {U"%Z %I:%M:%S %p", U"", ":"}, {U"%OH:%OM:%OS", U"", ":"},  {U"%-k.%M", U"", "."},
      {U"%H時%M分%S秒", U"", ":"},   {U"%p %I시 %M분", U"", ":"}, {U"%H%M", U"", ":"},
      {U"%M.%H", U"", ":"},          {U"%H.%S", U"", ":"},        {U"%r", U"%r", ":"},
      {U"", U"", ":"},               {U"%H h %M", U"", ":"},      {U"%H%%%M", U"", ":"},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    EXPECT_EQ(TimeSeparatorOf(cases[row].time_format, cases[row].ampm_format), cases[row].separator) << "row " << row;
  }
}

// A 1.2 MB text (a remote name, a LocalDir) would not fit the daemon's frame, least of all as
// control bytes that JSON writes as six: it keeps its start and its end, cut between UTF-8
// characters; a text that fits stays as it is.
TEST(message_text, long_texts_are_cut_in_the_middle) {
  const std::string control = FittedMessageText("Downloading [" + std::string(1'200'000, '\x01') + "] ...");
  EXPECT_EQ(control.size(), kMaxMessageBytes);
  EXPECT_EQ(control.substr(0, 14), "Downloading [\x01");
  EXPECT_EQ(control.substr(control.size() - 6), "\x01] ...");
  EXPECT_NE(control.find("\x01 [... 1134516 bytes left out ...] \x01"), std::string::npos);
  std::string euros;
  for (int i = 0; i < 400'000; ++i) euros += "\xE2\x82\xAC";  // the euro sign, 3 bytes
  const std::string cut = FittedMessageText(euros);
  EXPECT_LE(cut.size(), kMaxMessageBytes);
  const std::size_t mark = cut.find(" [... ");
  ASSERT_NE(mark, std::string::npos);
  EXPECT_EQ(mark % 3, 0u) << "whole characters before the mark";
  EXPECT_EQ((cut.size() - cut.find(" ...] ") - 6) % 3, 0u) << "and after it";
  EXPECT_EQ(FittedMessageText(std::string(kMaxMessageBytes, 'a')), std::string(kMaxMessageBytes, 'a'));
}

class FixedClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() override { return LocalTime(2026, 3, 4, 9, 5, 7); }
};

class DaemonChannelTest : public ::testing::Test {
 protected:
  ~DaemonChannelTest() override { com::SetLocalServerTimeout(com::kDefaultLocalServerTimeout); }

  testing::PrivateEnvironment env_;
  ModuleState state_;
  FixedClock clock_;
  DaemonChannel channel_{state_, clock_};
};

std::vector<com::Variant> Call(std::int16_t mtype, std::string text) {
  return {mtype, std::move(text), "04-Mar-2026 09:05.07"};
}

// Every message of a run on one connection, none waited for: a daemon that has not taken them
// all when EndRun returns, or takes them out of order or cut, fails here; a message too long for
// one frame arrives cut in the middle, as a warning stays a warning. The instance "" (a host that
// never sets dInstance) is nrvd.IPCdaemon.
TEST_F(DaemonChannelTest, a_run_s_messages_have_all_reached_the_daemon_in_order_when_the_run_ends) {
  std::vector<std::vector<com::Variant>> sent;
  for (int i = 0; i < 500; ++i) sent.push_back(Call(static_cast<std::int16_t>(i % 3), "message " + std::to_string(i)));
  sent[7] = Call(0, "Downloaded [caf\xe9.txt] 12.5 kBps");  // a server's Latin-1 name
  // As long as a text may be, and six bytes a character on the wire: longer than a socket buffer.
  sent[300] = Call(1, std::string(kMaxMessageBytes - 2, '\x01') + "\n" + "y");
  const std::string too_long(2 * 1024 * 1024, 'z');
  {
    RecordingDaemon daemon("nrvd.IPCdaemon");
    ASSERT_EQ(daemon.Start(), com::S_OK);
    for (const auto& call : sent) {
      channel_.SendHostMessage(*call[1].Get<std::string>(), *call[0].Get<std::int16_t>());
      if (&call == &sent[400]) channel_.SendHostMessage(too_long, kWarningMessage);
    }
    channel_.EndRun();
    sent.insert(sent.begin() + 401, Call(kWarningMessage, FittedMessageText(too_long)));
    const auto calls = daemon.log().Calls();
    ASSERT_EQ(calls.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(calls[i].args, sent[i]) << "message " << i;
    EXPECT_EQ(daemon.log().connections, 1);
  }
  // A missing daemon is looked for once a run; one restarted meanwhile gets the next run's messages.
  channel_.SendHostMessage("lost", kErrorMessage);
  RecordingDaemon restarted("nrvd.IPCdaemon");
  ASSERT_EQ(restarted.Start(), com::S_OK);
  channel_.SendHostMessage("lost too: the run has found no daemon", kErrorMessage);
  channel_.EndRun();
  channel_.SendHostMessage("Connected!", kInformationMessage);
  channel_.EndRun();
  ASSERT_EQ(restarted.log().Calls().size(), 1u);
  EXPECT_EQ(restarted.log().Calls()[0].args, Call(0, "Connected!"));
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

// Enough messages to fill the connection many times over: waiting out the bound for each of
// them would take 2,000 x 300 ms.
TEST_F(DaemonChannelTest, a_daemon_that_never_answers_costs_a_run_one_bound) {
  com::SetLocalServerTimeout(300ms);
  testing::RawSocket silent("nrvdmute.IPCdaemon", /*listening=*/true);
  state_.DaemonInstance = "mute";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 2000; ++i) channel_.SendHostMessage(std::string(1024, 'm'), kInformationMessage);
  channel_.EndRun();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

}  // namespace
}  // namespace pullwire
