// The engine against vsftpd on loopback: transfers with the size its 150 reply announces, resume
// from an offset, and a folder the account may not enter.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using namespace test;
using ::testing::Contains;
using ::testing::HasSubstr;

class EngineVsftpd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  }
};

TEST_F(EngineVsftpd, TransfersInEveryModeWithTheAnnouncedSizeChecked) {
  Vsftpd server;
  const std::string big = PatternBytes(5 * 1024 * 1024 + 3, 11);
  WriteFile(server.root() / "big.bin", big);
  WriteFile(server.root() / "text.txt", "a\nb\n");
  WriteFile(server.root() / "small.bin", "x");
  server.GrantTree();
  TempDir local;
  TracedSession traced;
  traced.session.Login(LoginFor(server));
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    traced.session.set_passive(passive);
    traced.session.set_transfer_type(TransferType::kImage);
    GetFile(traced.session, "big.bin", local.path().string());
    GetFile(traced.session, "/small.bin", (local / "small.bin").string());
    traced.session.set_transfer_type(TransferType::kAscii);
    GetFile(traced.session, "text.txt", local.path().string());
    EXPECT_TRUE(ReadFile(local / "big.bin") == big);
    EXPECT_EQ(ReadFile(local / "small.bin"), "x");
    EXPECT_EQ(ReadFile(local / "text.txt"), "a\nb\n");
  }
  // vsftpd announces the size in its 150 reply: no SIZE command is needed to check it.
  EXPECT_THAT(traced.Commands(), ::testing::Not(Contains(::testing::StartsWith("SIZE"))));
  EXPECT_THAT(traced.trace, Contains(HasSubstr("(5242883 bytes)")));
}

TEST_F(EngineVsftpd, ContinuesFromAnOffset) {
  Vsftpd server;
  const std::string content = PatternBytes(300000, 4);
  WriteFile(server.root() / "data.bin", content);
  server.GrantTree();
  TempDir local;
  WriteFile(local / "data.bin", content.substr(0, 123456));
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginFor(server));
  const FetchResult result = GetFile(session, "data.bin", (local / "data.bin").string(), 123456);
  EXPECT_EQ(result.bytes, 300000 - 123456);
  EXPECT_TRUE(ReadFile(local / "data.bin") == content);
  // Continuing a complete copy transfers nothing and keeps it whole.
  EXPECT_EQ(GetFile(session, "data.bin", (local / "data.bin").string(), 300000).bytes, 0);
  EXPECT_TRUE(ReadFile(local / "data.bin") == content);
}

TEST_F(EngineVsftpd, AFolderTheAccountMayNotEnterFailsClearly) {
  Vsftpd server;
  WriteFile(server.root() / "closed" / "x.txt", "x");
  server.GrantTree();
  ASSERT_EQ(::chmod((server.root() / "closed").c_str(), 0), 0);
  Session session;
  session.Login(LoginFor(server));
  const FtpError error = CatchFtpError([&] { session.ChangeDirectory("closed"); });
  EXPECT_EQ(error.code(), ErrorCode::kNoSuchFile);
  EXPECT_STREQ(error.what(), "cannot enter the folder closed: 550 Failed to change directory.");
  TempDir local;
  const FtpError walk = CatchFtpError([&] { GetMatching(session, "/*", local.path().string()); });
  EXPECT_THAT(walk.what(), HasSubstr("cannot enter the folder closed"));
  EXPECT_TRUE(session.logged_in());
  ::chmod((server.root() / "closed").c_str(), 0755);
}

}  // namespace
}  // namespace pullwire::ftp
