// DownloadRun with the engine's component against vsftpd: a second real server's replies and
// listings, remote deletes, the selection modes and the variable slots.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/download/server_run_fixture.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

class VsftpdRun : public ServerRunFixture {
 protected:
  void SetUp() override {
    ServerRunFixture::SetUp();
    std::string why;
    if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  }
  // The record's Port is 16-bit: the server listens below 32768.
  static VsftpdOptions Options() {
    VsftpdOptions options;
    options.low_port = true;
    return options;
  }
  void Run(Vsftpd& server, std::map<std::string, std::string> slots = {}) {
    slots.emplace("RemoteDir", "/pub");
    ServerRunFixture::Run(server.host(), server.port(), server.user(), server.password(), std::move(slots));
  }
};

TEST_F(VsftpdRun, AllFilesWithAutoDeleteAndTheExactMessages) {
  Vsftpd server(Options());
  WriteFile(server.root() / "pub" / "a.bin", PatternBytes(300'000, 7));
  WriteFile(server.root() / "pub" / "b.txt", "bee");
  std::filesystem::create_directories(server.root() / "pub" / "folder");
  server.GrantTree();
  Run(server, {{"AutoDelete", "1"}});

  const std::vector<SentMessage> expected = {
      Info("Number of files & directories found: 3"), Info(Downloading("a.bin", 300'000)),
      Info("Downloaded [a.bin] <unknown> kBps"), Info("Deleting remote-file [a.bin] ..."),
      Info(Downloading("b.txt", 3)), Info("Downloaded [b.txt] <unknown> kBps"),
      Info("Deleting remote-file [b.txt] ..."), Info("Number of files downloaded : 2"),
      Info("Disconnecting from [127.0.0.1] ...")};
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Opening("127.0.0.1"), expected)));
  EXPECT_EQ(ReadFile(LocalPath("a.bin")), PatternBytes(300'000, 7));
  EXPECT_EQ(ReadFile(LocalPath("b.txt")), "bee");
  EXPECT_THAT(FolderNames(server.root() / "pub"), ElementsAre("folder"));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(VsftpdRun, FirstAndSpecificModesFillTheVariableSlots) {
  Vsftpd server(Options());
  WriteFile(server.root() / "pub" / "Alpha.txt", "A");
  WriteFile(server.root() / "pub" / "beta.txt", "b");
  server.GrantTree();
  Run(server, {{"ProcessAll", "0"}, {"SaveFilename", "1"}, {"VarScope", "LOCAL"}, {"VarNumber", "16"}});
  EXPECT_THAT(FolderNames(local), ElementsAre("Alpha.txt"));
  EXPECT_EQ(state.LocalVars[15], (VariableSlot{true, "Alpha.txt"}));

  channel.sent.clear();
  Run(server, {{"CopySpecific", "1"}, {"SpecificFilename", "Beta.txt"}});
  EXPECT_THAT(channel.sent, Contains(Info("Number of files downloaded : 0")));
  Run(server, {{"CopySpecific", "1"}, {"SpecificFilename", "beta.txt"}, {"SaveFilename", "1"},
               {"VarScope", "GLOBAL"}, {"VarNumber", "1"}});
  EXPECT_THAT(FolderNames(local), ElementsAre("Alpha.txt", "beta.txt"));
  EXPECT_EQ(state.GlobalVars[0], (VariableSlot{true, "beta.txt"}));
  EXPECT_FALSE(state.ErrorFlag);
}

}  // namespace
}  // namespace pullwire::testing
