// Self-tests of the pyftpdlib fixture: it serves real files and each fault really happens.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <fmt/core.h>

#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::string Url(const PyFtpd& server, std::string_view path) {
  return fmt::format("ftp://{}:{}/{}", server.host(), server.port(), path);
}

std::vector<std::string> Curl(const PyFtpd& server, std::vector<std::string> extra) {
  std::vector<std::string> argv = {"curl", "-sS", "--max-time", "10", "-u",
                                   server.user() + ":" + server.password()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

TEST(PyFtpdFixture, ServesAFileAndLogsEveryCommand) {
  PyFtpd server;
  std::string content = PatternBytes(300000);
  WriteFile(server.root() / "data.bin", content);

  CommandResult result = RunCommand(Curl(server, {Url(server, "data.bin")}));

  ASSERT_EQ(result.exit_code, 0) << result.err;
  EXPECT_TRUE(result.out == content);
  EXPECT_THAT(server.CommandLog(),
              ElementsAre("USER pullwire", "PASS ****", "PWD", "EPSV", "TYPE I", "SIZE data.bin",
                          "RETR data.bin", "QUIT"));
}

TEST(PyFtpdFixture, StopLeavesNoProcess) {
  pid_t pid;
  {
    PyFtpd server;
    pid = server.process().pid();
    ASSERT_EQ(::kill(pid, 0), 0);
  }
  EXPECT_EQ(::kill(-pid, 0), -1);
}

}  // namespace
}  // namespace pullwire::testing
