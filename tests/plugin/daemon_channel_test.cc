// The daemon message channel in-process: its ProgID, the timestamp of a fixed clock, and the
// message format.
#include "plugin/daemon_channel.h"

#include <gtest/gtest.h>

#include "plugin/host_locale.h"
#include "private_environment.h"
#include "recording_daemon.h"
#include "test_services.h"

namespace pullwire {
namespace {

using testing::LocalTime;

TEST(message_timestamp, is_dd_mmm_yyyy_hh_nn_ss_in_local_time_in_the_host_s_lc_time) {
  if (!testing::ScopedLocale::Installed(testing::kGermanLocale)) GTEST_SKIP() << testing::kGermanLocaleMissing;
  const char* const german = testing::kGermanLocale;
  const struct {
    const char* locale;
    int y, mo, d, h, mi, s;
    const char* expected;
  } cases[] = {
      {"C", 2026, 3, 4, 9, 5, 7, "04-Mar-2026 09:05.07"},     {"C", 1999, 12, 31, 23, 59, 59, "31-Dec-1999 23:59.59"},
      {"C", 2024, 1, 1, 0, 0, 0, "01-Jan-2024 00:00.00"},     {"C", 2024, 2, 29, 12, 30, 5, "29-Feb-2024 12:30.05"},
      {"C", 2025, 5, 10, 13, 1, 2, "10-May-2025 13:01.02"},   {"C", 2025, 6, 9, 7, 8, 9, "09-Jun-2025 07:08.09"},
      {"C", 2025, 7, 9, 7, 8, 9, "09-Jul-2025 07:08.09"},     {"C", 2025, 8, 9, 7, 8, 9, "09-Aug-2025 07:08.09"},
      {"C", 2025, 9, 9, 7, 8, 9, "09-Sep-2025 07:08.09"},     {"C", 2025, 10, 9, 7, 8, 9, "09-Oct-2025 07:08.09"},
      {"C", 2025, 11, 9, 7, 8, 9, "09-Nov-2025 07:08.09"},    {"C", 2025, 4, 9, 7, 8, 9, "09-Apr-2025 07:08.09"},
      {german, 2026, 3, 4, 9, 5, 7, "04-Mär-2026 09:05.07"},  {german, 2025, 5, 10, 13, 1, 2, "10-Mai-2025 13:01.02"},
      {german, 2025, 10, 9, 7, 8, 9, "09-Okt-2025 07:08.09"}, {german, 1999, 12, 31, 23, 59, 59, "31-Dez-1999 23:59.59"},
      {"no_SUCH.UTF-8", 2026, 3, 4, 9, 5, 7, "04-Mar-2026 09:05.07"},  // a missing locale reads as C
  };
  for (const auto& c : cases) {
    testing::ScopedLocale locale(c.locale);
    EXPECT_EQ(FormatMessageTimestamp(LocalTime(c.y, c.mo, c.d, c.h, c.mi, c.s)), c.expected) << c.locale;
  }
  // Fractions of a second are cut, not rounded up into the next second.
  EXPECT_EQ(FormatMessageTimestamp(LocalTime(2026, 3, 4, 9, 5, 7) + std::chrono::milliseconds(999)),
            "04-Mar-2026 09:05.07");
}

// Between hours and minutes in the locale's time format, when that is punctuation.
TEST(message_timestamp, time_separator_comes_from_the_time_format) {
  const struct {
    const char32_t* time_format;
    const char32_t* ampm_format;
    const char* separator;
  } cases[] = {
      {U"%H:%M:%S", U"", ":"},        {U"%T", U"", ":"},          {U"%R", U"", ":"},
      {U"%H.%M.%S", U"", "."},        {U"kl. %H.%M %z", U"", "."}, {U"%r", U"%I.%M.%S %p", "."},
      {U"%Z %I:%M:%S %p", U"", ":"},  {U"%OH:%OM:%OS", U"", ":"}, {U"%-k.%M", U"", "."},
      {U"%H時%M分%S秒", U"", ":"},    {U"%p %I시 %M분", U"", ":"}, {U"%H%M", U"", ":"},
      {U"%M.%H", U"", ":"},           {U"%H.%S", U"", ":"},       {U"%r", U"%r", ":"},
      {U"", U"", ":"},                {U"%H h %M", U"", ":"},     {U"%H%%%M", U"", ":"},
  };
  for (std::size_t row = 0; row < std::size(cases); ++row) {
    EXPECT_EQ(TimeSeparatorOf(cases[row].time_format, cases[row].ampm_format), cases[row].separator)
        << "row " << row;
  }
}

TEST(daemon_prog_id, is_nrvd_instance_ipcdaemon) {
  EXPECT_EQ(DaemonProgId(""), "nrvd.IPCdaemon");
  EXPECT_EQ(DaemonProgId("2"), "nrvd2.IPCdaemon");
}

TEST(daemon_channel, sends_type_text_and_the_clock_s_timestamp) {
  testing::PrivateEnvironment env;
  testing::RecordingDaemon daemon("nrvd3.IPCdaemon");
  ASSERT_EQ(daemon.Start(), com::S_OK);
  ModuleState state;
  state.DaemonInstance = "3";
  testing::FixedClock clock(LocalTime(2026, 3, 4, 9, 5, 7));
  DaemonChannel channel(state, clock);
  channel.SendHostMessage("Connected!", kInformationMessage);
  channel.SendHostMessage("Delete denied: x", kWarningMessage);

  const auto calls = daemon.log().Calls();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].args, (std::vector<com::Variant>{std::int16_t{0}, "Connected!", "04-Mar-2026 09:05.07"}));
  EXPECT_EQ(calls[1].args, (std::vector<com::Variant>{std::int16_t{1}, "Delete denied: x", "04-Mar-2026 09:05.07"}));

  state.DaemonInstance = "4";  // nobody serves nrvd4: dropped, nothing left behind
  channel.SendHostMessage("lost", kErrorMessage);
  EXPECT_EQ(daemon.log().Calls().size(), 2u);
  EXPECT_FALSE(com::GetErrorInfo().has_value());
}

}  // namespace
}  // namespace pullwire
