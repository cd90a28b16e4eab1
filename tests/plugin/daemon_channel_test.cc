// The daemon message channel in-process against the host's daemon: the timestamp, texts too
// long for a frame, and where a run's messages go when the daemon is there, back, missing or stuck.
#include "module/daemon_channel.h"

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <tuple>

#include "com/activation.h"
#include "com/error_info.h"
#include "host/message_daemon.h"
#include "module/host_locale.h"
#include "module/message_text.h"
#include "private_environment.h"
#include "tests/support/test_files.h"

namespace pullwire {
namespace {

using namespace std::chrono_literals;
using host::HostMessage;

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
  const std::tuple<const char*, int, int, const char*> cases[] = {
      {"C", 1, 1, "01-Jan-2025 07:08.09"}, {"C", 12, 31, "31-Dec-2025 07:08.09"},
      {de, 3, 4, "04-Mär-2025 07:08.09"}, {de, 10, 9, "09-Okt-2025 07:08.09"},
      {"no_SUCH.UTF-8", 3, 4, "04-Mar-2025 07:08.09"}};  // read as C
  for (const auto& [locale, month, day, expected] : cases) {
    testing::ScopedEnv scoped("LC_ALL", locale);
    EXPECT_EQ(FormatMessageTimestamp(LocalTime(2025, month, day, 7, 8, 9)), expected) << locale;
  }
  // Fractions of a second are cut, not rounded up into the next second.
  EXPECT_EQ(FormatMessageTimestamp(LocalTime(1999, 12, 31, 23, 59, 59) + 999ms), "31-Dec-1999 23:59.59");
}

// Between hours and minutes in the locale's time format, when that is punctuation.
TEST(message_timestamp, time_separator_comes_from_the_time_format) {
  const std::tuple<const char32_t*, const char32_t*, const char*> cases[] = {
      {U"%H:%M:%S", U"", ":"},       {U"%T", U"", ":"},           {U"%H.%M.%S", U"", "."},
      {U"kl. %H.%M %z", U"", "."},   {U"%r", U"%I.%M.%S %p", "."}, {U"%Z %I:%M:%S %p", U"", ":"},
      {U"%OH:%OM:%OS", U"", ":"},    {U"%-k.%M", U"", "."},       {U"%H時%M分%S秒", U"", ":"},
      {U"%H%M", U"", ":"},           {U"%M.%H", U"", ":"},        {U"%H.%S", U"", ":"},
      {U"%r", U"%r", ":"},           {U"", U"", ":"},             {U"%H%%%M", U"", ":"}};
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    const auto& [time_format, ampm_format, separator] = cases[row];
    EXPECT_EQ(TimeSeparatorOf(time_format, ampm_format), separator) << "row " << row;
  }
}

// A text too long for the daemon's frame (control bytes go on the wire as six) keeps its start
// and end, cut between UTF-8 characters; a text that fits stays as it is.
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

HostMessage Sent(std::int16_t mtype, std::string text) {
  return {"04-Mar-2026 09:05.07", mtype, std::move(text)};
}

// The host's daemon for `instance`, keeping what it receives.
struct Daemon {
  explicit Daemon(const std::string& instance) : daemon(instance, [this](const HostMessage& m) {
    std::lock_guard lock(mutex);
    received.push_back(m);
  }) {}
  std::vector<HostMessage> Received() {
    std::lock_guard lock(mutex);
    return received;
  }
  std::mutex mutex;
  std::vector<HostMessage> received;
  host::MessageDaemon daemon;
};

// All of a run's messages, in order and whole, have reached the daemon when EndRun returns; one
// too long for a frame arrives cut in the middle. The instance "" is nrvd.IPCdaemon.
TEST_F(DaemonChannelTest, a_run_s_messages_have_all_reached_the_daemon_in_order_when_the_run_ends) {
  std::vector<HostMessage> sent;
  for (int i = 0; i < 500; ++i) sent.push_back(Sent(i % 3, "message " + std::to_string(i)));
  sent[7] = Sent(0, "Downloaded [caf\xe9.txt] 12.5 kBps");  // a server's Latin-1 name
  // As long as a text may be, and six bytes a character on the wire: longer than a socket buffer.
  sent[300] = Sent(1, std::string(kMaxMessageBytes - 2, '\x01') + "\n" + "y");
  const std::string too_long(2 * 1024 * 1024, 'z');
  {
    Daemon daemon("");
    ASSERT_EQ(daemon.daemon.Start(), com::S_OK);
    for (const auto& message : sent) {
      channel_.SendHostMessage(message.text, message.mtype);
      if (&message == &sent[400]) channel_.SendHostMessage(too_long, kWarningMessage);
    }
    channel_.EndRun();
    sent.insert(sent.begin() + 401, Sent(kWarningMessage, FittedMessageText(too_long)));
    const auto received = daemon.Received();
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) ASSERT_EQ(received[i], sent[i]) << "#" << i;
  }
  // A missing daemon is looked for once a run; one restarted meanwhile gets the next run's messages.
  channel_.SendHostMessage("lost", kErrorMessage);
  Daemon restarted("");
  ASSERT_EQ(restarted.daemon.Start(), com::S_OK);
  channel_.SendHostMessage("lost too: the run has found no daemon", kErrorMessage);
  channel_.EndRun();
  channel_.SendHostMessage("Connected!", kInformationMessage);
  channel_.EndRun();
  EXPECT_EQ(restarted.Received(), std::vector{Sent(0, "Connected!")});
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

// A daemon stuck in its first message, with enough after it to fill the connection many times
// over: waiting out the bound for each of them would take 2,000 x 300 ms.
TEST_F(DaemonChannelTest, a_daemon_that_never_answers_costs_a_run_one_bound) {
  com::SetLocalServerTimeout(300ms);
  std::promise<void> release;
  host::MessageDaemon stuck("mute", [done = release.get_future().share()](const HostMessage&) {
    done.wait_for(20s);
  });
  ASSERT_EQ(stuck.Start(), com::S_OK);
  state_.DaemonInstance = "mute";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 2000; ++i) channel_.SendHostMessage(std::string(1024, 'm'), kInformationMessage);
  channel_.EndRun();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 6s);
  EXPECT_FALSE(com::GetErrorInfo().has_value());
  release.set_value();
}

}  // namespace
}  // namespace pullwire
