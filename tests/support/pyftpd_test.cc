// Self-tests of the pyftpdlib fixture for what the engine tests do not already show through it:
// the command log, raw listing bytes, and the fault options they leave unused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "tests/support/selftest_clients.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

CommandResult Curl(const PyFtpd& server, std::vector<std::string> rest) {
  return RunCommand(CurlArgs(server.user(), server.password(), std::move(rest)));
}

CommandResult Probe(const PyFtpd& server, std::vector<std::string> steps,
                    std::vector<std::string> options = {}) {
  return RunCommand(
      ProbeArgs(server.port(), server.user(), server.password(), std::move(steps), options));
}

TEST(PyFtpdFixture, ServesAFileAndLogsEveryCommand) {
  PyFtpd server;
  std::string content = PatternBytes(300000);
  WriteFile(server.root() / "data.bin", content);

  CommandResult result = Curl(server, {FtpUrl(server.port(), "data.bin")});

  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.out == content);
  EXPECT_THAT(server.CommandLog(),
              ElementsAre("USER pullwire", "PASS ****", "PWD", "EPSV", "TYPE I", "SIZE data.bin",
                          "RETR data.bin", "QUIT"));
}

TEST(PyFtpdFixture, DosListingAndInjectedLinesComeRaw) {
  PyFtpdOptions options;
  options.listing = ListingFormat::kDos;
  options.list_inject = {"garbage line", "-rw-r--r-- 1 u g 5 Jan 01 00:00 a/b",
                         std::string("bad\x01name\rx"), "01-01-24  10:00AM 9 a.txt"};
  PyFtpd server(options);
  WriteFile(server.root() / "a.txt", "12345");
  std::filesystem::create_directory(server.root() / "sub");

  CommandResult result = Probe(server, {"quote:SYST", "list:"});

  ASSERT_EQ(result.exit_code, 0) << result.out;
  EXPECT_THAT(result.out, StartsWith("215 Windows_NT\n"));
  std::string listing = result.out.substr(result.out.find('\n') + 1);
  EXPECT_THAT(listing, ::testing::MatchesRegex(
      "garbage line\r\n"
      "[0-9]{2}-[0-9]{2}-[0-9]{2}  [0-9]{2}:[0-9]{2}[AP]M {20}5 a\\.txt\r\n"
      "-rw-r--r-- 1 u g 5 Jan 01 00:00 a/b\r\n"
      "[0-9]{2}-[0-9]{2}-[0-9]{2}  [0-9]{2}:[0-9]{2}[AP]M       <DIR>          sub\r\n"
      "bad\x01name\rx\r\n"
      "01-01-24  10:00AM 9 a\\.txt\r\n"));
}

TEST(PyFtpdFixture, OnlyTheNthMatchingRetrFailsAndResumeWorks) {
  PyFtpdOptions options;
  options.retr_fault = RetrFault::kAbort426;
  options.fault_after = 1000;
  options.fault_nth = 2;
  options.fault_name = "*.bin";
  PyFtpd server(options);
  std::string content = PatternBytes(5000, 3);
  WriteFile(server.root() / "a.bin", content);
  WriteFile(server.root() / "b.txt", content);

  // b.txt does not match the glob; then the 1st and 2nd a.bin, then a resume from 1000.
  CommandResult first = Probe(server, {"retr:b.txt", "retr:a.bin"}, {"--out", "/dev/null"});
  CommandResult second = Probe(server, {"retr:a.bin"}, {"--out", "/dev/null"});
  CommandResult third = Probe(server, {"retr@1000:a.bin"}, {"--out", "/dev/null"});

  EXPECT_EQ(first.exit_code, 0) << first.out;
  EXPECT_THAT(second.out, HasSubstr("received 1000\nerror: error_temp: 426"));
  EXPECT_THAT(third.out, HasSubstr("received 4000\nreply: 226"));
  EXPECT_THAT(server.CommandLog(), ::testing::Contains("REST 1000"));
}

TEST(PyFtpdFixture, StallHoldsOneReplyWhileOtherSessionsGoOn) {
  PyFtpdOptions options;
  options.stalls = {{"PWD", 3.0, 1}};
  PyFtpd server(options);
  WriteFile(server.root() / "a.txt", "quick");

  CommandResult stalled = Probe(server, {"quote:PWD"}, {"--timeout", "1"});
  // Were the server asleep instead of scheduling the reply, this session would get no greeting
  // until the stall ended, 2 s after its time-out.
  CommandResult next = Probe(server, {"quote:PWD"}, {"--timeout", "1"});

  EXPECT_THAT(stalled.out, HasSubstr("error: TimeoutError"));
  EXPECT_THAT(next.out, HasSubstr("257 \"/\" is the current directory."));
}

// A glob matches the argument as sent or its last path component.
TEST(PyFtpdFixture, RefusalsMatchTheLastPathComponent) {
  PyFtpdOptions options;
  options.refusals = {{"CWD", "secret", "550 secret: Permission denied."}};
  PyFtpd server(options);
  std::filesystem::create_directories(server.root() / "secret");
  std::filesystem::create_directories(server.root() / "open");

  CommandResult refused = Probe(server, {"cwd:open", "cwd:/secret"});

  EXPECT_THAT(refused.out, HasSubstr("250 \"/open\" is the current directory.\n"
                                     "error: error_perm: 550 secret: Permission denied."));
}

TEST(PyFtpdFixture, PassiveRangeAndMasqueradeShowInThePasvReply) {
  PyFtpdOptions options;
  options.passive_low = 30500;
  options.passive_high = 30500;
  options.masquerade = "10.9.8.7";
  PyFtpd server(options);

  CommandResult result = Probe(server, {"quote:PASV"});

  // 30500 = 119 * 256 + 36
  EXPECT_THAT(result.out, HasSubstr("227 Entering passive mode (10,9,8,7,119,36)."));
}

TEST(PyFtpdFixture, ThrottleMakesAShortTimeoutClientFail) {
  PyFtpdOptions options;
  options.throttle = 16384;
  PyFtpd server(options);
  WriteFile(server.root() / "big.bin", PatternBytes(200000));

  CommandResult result = Curl(server, {"--max-time", "1", FtpUrl(server.port(), "big.bin")});

  EXPECT_EQ(result.exit_code, 28) << result.err;  // CURLE_OPERATION_TIMEDOUT
  EXPECT_LT(result.out.size(), 200000u);
}

TEST(PyFtpdFixture, EndsByItselfAfterItsLifetimeAndLeavesNoProcess) {
  PyFtpdOptions options;
  options.lifetime = std::chrono::seconds(1);
  PyFtpd server(options);
  pid_t pid = server.process().pid();

  EXPECT_EQ(server.process().WaitExit(std::chrono::seconds(5)), 0);
  EXPECT_FALSE(ProcessGroupAlive(pid));
}

}  // namespace
}  // namespace pullwire::testing
