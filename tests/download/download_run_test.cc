// The run driver over a scripted component: message sequences, component calls, selection
// modes, listing outcomes and the error ending.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/download/run_fixture.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

using RunDriver = RunFixture;

TEST_F(RunDriver, TypicalRoadSendsEveryStepAndCallsTheComponentInOrder) {
  ftp.AddFile("a.txt", "hello");
  Run({{"ProcessAll", "0"}});

  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 1"), Info(Downloading("a.txt", 5)),
      Info("Downloaded [a.txt] <unknown> kBps"), Info("Number of files downloaded : 1"),
      Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_THAT(ftp.calls, ElementsAre("OperationTimeout(30000)", "PassiveMode(true)", "ProxyKind(0)",
                                     "ProxyLoginName()", "ProxyLoginPassword()", "ProxyServer()",
                                     "Login(ftp.example.net,reader,s3cret,,21)", "WorkingDirectory(/pub)",
                                     "TransferType(0)", "ListDirectory", "TransferType(1)", "GetFile(a.txt)",
                                     "Logout"));
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "hello");
  EXPECT_THAT(FolderNames(local), ElementsAre("a.txt"));
  EXPECT_FALSE(state.ErrorFlag);
  EXPECT_EQ(state.DownloadedCount, 1);
}

TEST_F(RunDriver, ProxySettingsGoInOrderAndThePortOnlyWhenPositive) {
  Run({{"ProxyType", "2"}, {"ProxyHost", "socks.lan"}, {"ProxyPort", "1080"}, {"ProxyUsername", "pu"},
       {"ProxyPassword", "pp"}, {"Passive", "0"}});
  EXPECT_THAT(std::vector<std::string>(ftp.calls.begin(), ftp.calls.begin() + 7),
              ElementsAre("OperationTimeout(30000)", "PassiveMode(false)", "ProxyKind(2)", "ProxyLoginName(pu)",
                          "ProxyLoginPassword(pp)", "ProxyServer(socks.lan)", "ProxyServerPort(1080)"));

  for (const char* port : {"0", "-5"}) {
    ftp.calls.clear();
    Run({{"ProxyPort", port}});
    EXPECT_EQ(ftp.calls[5], "ProxyServer()") << port;
    EXPECT_EQ(ftp.calls[6], "Login(ftp.example.net,reader,s3cret,,21)") << port;
  }
}

TEST_F(RunDriver, TimeoutOutsideOneTo999BecomesSixtyInTheSettings) {
  const std::vector<std::pair<std::string, std::int32_t>> cases = {
      {"0", 60}, {"1000", 60}, {"-3", 60}, {"1", 1}, {"30", 30}, {"999", 999}};
  for (const auto& [text, seconds] : cases) {
    ftp.calls.clear();
    Run({{"Timeout", text}});
    EXPECT_EQ(ftp.calls.front(), "OperationTimeout(" + std::to_string(seconds * 1000) + ")") << text;
    EXPECT_EQ(state.Settings.Timeout, seconds) << text;
  }
}

TEST_F(RunDriver, AutoLogOffSendsNothingOnSuccessButStillDownloads) {
  state.AutoLog = false;
  ftp.AddFile("a.txt", "hello");
  ftp.AddFile("b.txt", "world");
  Run();
  EXPECT_THAT(channel.sent, IsEmpty());
  EXPECT_EQ(ReadFile(LocalPath("b.txt")), "world");
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(RunDriver, FirstModeHandlesOnlyTheFirstFileEvenWhenItIsSkipped) {
  ftp.AddFolder("sub");
  ftp.AddFile("a.txt", "new a");
  ftp.AddFile("b.txt", "new b");
  WriteFile(LocalPath("a.txt"), "old a");
  Run({{"ProcessAll", "0"}, {"Overwrite", "0"}});

  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 3"),
      Info("Skipped file [a.txt] - file exists and OVERWRITE=Off"), Info("Number of files downloaded : 0"),
      Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "old a");
  EXPECT_FALSE(std::filesystem::exists(LocalPath("b.txt")));
  EXPECT_EQ(state.CurrentIndex, 2);  // the folder sits at 1
}

TEST_F(RunDriver, AllModeWalksEveryFileAndStoresNoName) {
  ftp.AddFile("a.txt", "1");
  ftp.AddFolder("sub");
  ftp.AddFile("b.txt", "22");
  Run({{"SaveFilename", "1"}});
  EXPECT_THAT(ftp.calls, ::testing::Contains("GetFile(a.txt)"));
  EXPECT_THAT(ftp.calls, ::testing::Contains("GetFile(b.txt)"));
  EXPECT_EQ(channel.sent[channel.sent.size() - 2], Info("Number of files downloaded : 2"));
  EXPECT_FALSE(state.LocalVars[0].Use);
  EXPECT_THAT(FolderNames(local), ElementsAre("a.txt", "b.txt"));
}

TEST_F(RunDriver, SpecificModeMatchesTheExactNameAndWinsOverAll) {
  ftp.AddFile("report.csv", "lower");
  ftp.AddFile("Report.csv", "upper");
  Run({{"CopySpecific", "1"}, {"SpecificFilename", "Report.csv"}, {"SaveFilename", "1"}, {"VarNumber", "2"}});
  EXPECT_THAT(FolderNames(local), ElementsAre("Report.csv"));
  EXPECT_EQ(ReadFile(LocalPath("Report.csv")), "upper");
  EXPECT_EQ(state.LocalVars[1], (VariableSlot{true, "Report.csv"}));

  channel.sent.clear();
  Run({{"CopySpecific", "1"}, {"SpecificFilename", "REPORT.CSV"}});
  EXPECT_EQ(channel.sent[channel.sent.size() - 2], Info("Number of files downloaded : 0"));
}

TEST_F(RunDriver, FolderOnlyListingClosesWithoutACountMessage) {
  ftp.AddFolder("x");
  ftp.AddFolder("y");
  ftp.AddFolder("z");
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("Number of files & directories found: 3"), Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_EQ(ftp.calls.back(), "Logout");
}

TEST_F(RunDriver, EmptyListingSaysNoFilesAndCountsZero) {
  ftp.listing.entries = {{".", "D", 0, 0, ""}, {"..", "D", 0, 0, ""}};
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Info("No files found."), Info("Number of files downloaded : 0"),
      Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(RunDriver, UnsupportedListingWarnsThenFindsNothing) {
  ftp.AddFile("a.txt", "x");
  ftp.listing.style = kListingStyleMixed;
  ftp.listing.unparsed = "garbage line one\ngarbage two";
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Warning("Some non-UNIX or non-DOS listing were encountered."),
      Warning("This plugin only supports UNIX and DOS listings."),
      Warning("Here are some of the lines that failed:"), Warning("garbage line one\ngarbage two"),
      Info("No files found."), Info("Number of files downloaded : 0"),
      Info("Disconnecting from [ftp.example.net] ...")})));
  EXPECT_THAT(FolderNames(local), IsEmpty());
}

TEST_F(RunDriver, NotConnectedBeforeTheListingEndsWithAnEmptyDescription) {
  ftp.AddFile("a.txt", "x");
  ftp.before = [&](const std::string& member) {
    if (member == "WorkingDirectory") ftp.forced_state = 0;  // the server dropped us meanwhile
  };
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Failure("ERROR_PULL-WIRE: Cannot get listing: NOT CONNECTED!"), Failure("ERROR_PULL-WIRE []")})));
  EXPECT_THAT(ftp.calls, ::testing::Not(::testing::Contains("ListDirectory")));
  EXPECT_THAT(ftp.calls, ::testing::Not(::testing::Contains("Logout")));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(RunDriver, ListingThatCannotBeReadReportsTwice) {
  ftp.AddFile("a.txt", "x");
  ftp.listing.fail_entries_call = 1;
  Run();
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening(), {
      Failure("ERROR_PULL-WIRE: Error getting remote listing [listing entry unreadable]"),
      Failure("ERROR_PULL-WIRE []")})));
  EXPECT_EQ(ftp.calls.back(), "Logout");
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(RunDriver, FailedLoginReportsTheComponentTextAndDoesNotLogOut) {
  ftp.before = [](const std::string& member) {
    if (member == "Login") throw FtpError(ErrorCode{530}, "530 Login incorrect.");
  };
  state.AutoLog = false;
  Run();
  EXPECT_THAT(channel.sent, ElementsAre(Failure("ERROR_PULL-WIRE [530 Login incorrect.]")));
  EXPECT_THAT(ftp.calls, ::testing::Not(::testing::Contains("Logout")));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(RunDriver, FailuresOfEarlyStepsEndTheRunWithTheirDescription) {
  struct Case {
    std::map<std::string, std::string> slots;
    std::string failing_member;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{{"Port", "twenty-one"}}, "", "ERROR_PULL-WIRE [slot 4 (Port): \"twenty-one\" is not a number]"},
      {{{"Port", "70000"}}, "", "ERROR_PULL-WIRE [slot 4 (Port): \"70000\" is outside -32768..32767]"},
      {{}, "WorkingDirectory", "ERROR_PULL-WIRE [550 /pub: No such file or directory.]"},
      {{}, "ListDirectory", "ERROR_PULL-WIRE [425 Can't open data connection.]"},
  };
  for (const Case& c : cases) {
    ftp.unenterable.clear();
    ftp.before = [&](const std::string& member) {
      if (member == c.failing_member && member == "ListDirectory") {
        throw FtpError(ErrorCode{425}, "425 Can't open data connection.");
      }
    };
    if (c.failing_member == "WorkingDirectory") ftp.unenterable.insert("/pub");
    channel.sent.clear();
    ftp.calls.clear();
    state.AutoLog = false;
    Run(c.slots);
    EXPECT_THAT(channel.sent, ElementsAre(Failure(c.expected))) << c.expected;
    const bool logged_in = !c.failing_member.empty();
    EXPECT_EQ(ftp.calls.empty() ? "" : ftp.calls.back(), logged_in ? "Logout" : "") << c.expected;
  }
}

TEST_F(RunDriver, RecordWithoutSlot24FailsWithSubscriptOutOfRange) {
  std::vector<std::string> items = MakeRecord({}).Items();
  items.pop_back();
  state.AutoLog = true;
  DownloadRun(run, com::StringArray(items, 1));
  EXPECT_THAT(channel.sent, ElementsAre(Failure("ERROR_PULL-WIRE [Subscript out of range]")));
  EXPECT_THAT(ftp.calls, IsEmpty());
}

TEST_F(RunDriver, FailedLogoutIsReportedAndRetriedWhileConnected) {
  ftp.AddFile("a.txt", "x");
  int logouts = 0;
  ftp.before = [&](const std::string& member) {
    if (member == "Logout" && ++logouts == 1) throw FtpError(ErrorCode{421}, "421 Timeout.");
  };
  state.AutoLog = false;
  Run();
  EXPECT_THAT(channel.sent, ElementsAre(Failure("ERROR_PULL-WIRE [421 Timeout.]")));
  EXPECT_EQ(logouts, 2);
  EXPECT_EQ(ReadFile(LocalPath("a.txt")), "x");
}

TEST_F(RunDriver, ErrorFlagStaysTrueAfterALaterGoodRun) {
  ftp.before = [](const std::string& member) {
    if (member == "Login") throw FtpError(ErrorCode{530}, "530 Login incorrect.");
  };
  Run();
  ASSERT_TRUE(state.ErrorFlag);
  ftp.before = nullptr;
  ftp.AddFile("a.txt", "x");
  channel.sent.clear();
  Run();
  EXPECT_EQ(channel.sent.back(), Info("Disconnecting from [ftp.example.net] ..."));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(RunDriver, ClosingWithoutConnectionReturnsSilently) {
  ftp.AddFile("a.txt", "x");
  ftp.before = [&](const std::string& member) {
    if (member == "GetFile") ftp.forced_state = 0;
  };
  Run();
  EXPECT_EQ(channel.sent.back(), Info("Number of files downloaded : 1"));
  EXPECT_THAT(ftp.calls, ::testing::Not(::testing::Contains("Logout")));
  EXPECT_FALSE(state.ErrorFlag);
}

}  // namespace
}  // namespace pullwire::testing
