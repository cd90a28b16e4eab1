// Self-tests of the process and file helpers under the fixtures: readiness, stopping, bounds.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>

#include <fmt/core.h>

#include "tests/support/server_process.h"
#include "tests/support/test_files.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::HasSubstr;

TEST(ServerProcess, ReadsPortAndInfoLinesUntilReady) {
  TempDir work;
  ServerProcess process(ProcessSpec{
      {"/bin/sh", "-c", "echo 'PID 42'; echo 'PORT 2121'; echo READY; exec sleep 30"},
      work / "stderr"});

  EXPECT_EQ(process.port(), 2121);
  EXPECT_EQ(process.Info("PID"), "42");
  EXPECT_TRUE(process.Running());
}

TEST(ServerProcess, StopEndsTheWholeGroupEvenWhenSigtermIsIgnored) {
  pid_t group;
  {
    ServerProcess process(ProcessSpec{
        {"/bin/sh", "-c", "trap '' TERM; sleep 30 & echo 7; wait"}, {}});
    group = process.pid();
    process.Stop(std::chrono::milliseconds(200));
    EXPECT_FALSE(process.Running());
  }
  EXPECT_FALSE(ProcessGroupAlive(group));
}

TEST(ServerProcess, FailureToStartQuotesTheServersErrorOutput) {
  TempDir work;
  try {
    PyFtpdOptions options;
    options.root = work / "missing" / "folder";
    options.passive_low = 70000;  // out of range: pyftpd.py refuses it
    options.passive_high = 70001;
    PyFtpd server(options);
    FAIL() << "a server with a bad option started";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("pyftpd.py: exited before it was ready (exit code 2)"));
    EXPECT_THAT(error.what(), HasSubstr("bad port range '70000-70001'"));
  }
}

TEST(ServerProcess, NotReadyWithinTheBoundIsStopped) {
  TempDir work;
  try {
    ServerProcess process(
        ProcessSpec{{"/bin/sleep", "30"}, work / "stderr", std::chrono::milliseconds(200)});
    FAIL() << "a server that never said it was ready started";
  } catch (const std::runtime_error& error) {
    EXPECT_THAT(error.what(), HasSubstr("sleep: not ready within 200 ms"));
  }
}

TEST(ServerProcess, ServePyLaunchesPyftpdForScripts) {
  TempDir root;
  WriteFile(root / "demo.txt", "from serve.py");
  ServerProcess serve(ProcessSpec{{"/usr/bin/python3", (ServersDir() / "serve.py").string(),
                                   "--lifetime", "60", "pyftpd", "--root", root.path().string(),
                                   "--user", "demo", "--password", "demo-pw"},
                                  root / "stderr"});

  CommandResult result = RunCommand({"curl", "-sS", "--max-time", "10", "-u", "demo:demo-pw",
                                     fmt::format("ftp://127.0.0.1:{}/demo.txt", serve.port())});

  EXPECT_EQ(result.out, "from serve.py") << result.err;
  EXPECT_GT(std::stoi(serve.Info("PID")), 0);
  EXPECT_TRUE(std::filesystem::is_directory(serve.Info("WORKDIR")));
}

TEST(RunCommand, CapturesOutputsExitCodeAndKillsOnTimeout) {
  CommandResult done = RunCommand({"/bin/sh", "-c", "echo out; echo err >&2; exit 3"});
  CommandResult slow = RunCommand({"sleep", "30"}, std::chrono::milliseconds(200));

  EXPECT_EQ(done.out, "out\n");
  EXPECT_EQ(done.err, "err\n");
  EXPECT_EQ(done.exit_code, 3);
  EXPECT_FALSE(done.timed_out);
  EXPECT_TRUE(slow.timed_out);
  EXPECT_EQ(slow.exit_code, 128 + SIGKILL);
}

TEST(TestFiles, TempDirIsPrivateAndRemovedWithItsTree) {
  std::filesystem::path kept;
  {
    TempDir dir("selftest");
    kept = dir.path();
    WriteFile(dir / "a/b/c.txt", "deep");
    EXPECT_EQ(ReadFile(dir / "a/b/c.txt"), "deep");
    EXPECT_EQ(std::filesystem::status(kept).permissions(), std::filesystem::perms::owner_all);
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
  EXPECT_THROW(ReadFile(kept / "a/b/c.txt"), std::runtime_error);
}

TEST(TestFiles, PatternBytesDifferBySeedAndSize) {
  std::string a = PatternBytes(4096, 1);
  EXPECT_EQ(a, PatternBytes(4096, 1));
  EXPECT_NE(a, PatternBytes(4096, 2));
  EXPECT_NE(a.substr(0, 4095), PatternBytes(4095, 1));
  EXPECT_NE(a.substr(0, 2048), a.substr(2048));
}

}  // namespace
}  // namespace pullwire::testing
