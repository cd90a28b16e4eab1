// DownloadRun called in C++ with the engine's component against vsftpd: the selection modes and
// the variable slots over a second real server's replies and listings.
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
