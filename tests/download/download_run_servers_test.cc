// DownloadRun called in C++ with the engine's component against real servers, for what the
// end-to-end tests through the loaded library leave out: with pyftpdlib remote deletes of many
// files, the engine's own short-copy check, ASCII line endings, a folder link's probe (with and
// without PWD) and a 426 drop; with vsftpd the selection modes and the variable slots over a
// second server's replies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/download/server_run_fixture.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

// The record's Port is 16-bit: the servers listen below 32768 (low_port).
class PyFtpdRun : public ServerRunFixture {
 protected:
  static PyFtpdOptions Options() { PyFtpdOptions options; options.low_port = true; return options; }
  static std::filesystem::path Pub(PyFtpd& server) { return server.root() / "pub"; }
};

TEST_F(PyFtpdRun, AllModeWithAutoDeleteLeavesOnlyTheFoldersOnTheServer) {
  PyFtpd server(Options());
  std::filesystem::create_directories(Pub(server) / "keep");
  const std::vector<std::string> names = {"one.bin", "two.bin", "three.bin"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    WriteFile(Pub(server) / names[i], PatternBytes(70'000 + i * 1000, static_cast<std::uint32_t>(i)));
  }
  Run(server, {{"AutoDelete", "1"}});

  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(ReadFile(LocalPath(names[i])), PatternBytes(70'000 + i * 1000, static_cast<std::uint32_t>(i)));
    EXPECT_THAT(channel.sent, Contains(Info("Deleting remote-file [" + names[i] + "] ...")));
  }
  EXPECT_THAT(FolderNames(Pub(server)), ElementsAre("keep"));
  EXPECT_THAT(FolderNames(local), ElementsAre("one.bin", "three.bin", "two.bin"));
  EXPECT_THAT(channel.sent, Contains(Info("Number of files & directories found: 4")));
  EXPECT_THAT(channel.sent, Contains(Info("Number of files downloaded : 3")));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(PyFtpdRun, DropOnTheSecondOfFiveEndsTheRunAndKeepsTheEarlierLocalFile) {
  PyFtpdOptions options = Options();
  options.retr_fault = RetrFault::kAbort426;
  options.fault_nth = 2;
  PyFtpd server(options);
  for (int i = 1; i <= 5; ++i) {
    WriteFile(Pub(server) / ("f" + std::to_string(i)), PatternBytes(200'000, static_cast<std::uint32_t>(i)));
  }
  WriteFile(LocalPath("f2"), "the earlier f2");
  Run(server, {{"AutoDelete", "1"}});

  ASSERT_EQ(channel.sent.size(), 10u);
  EXPECT_THAT(std::vector<SentMessage>(channel.sent.begin(), channel.sent.end() - 1),
              ElementsAreArray(Then(Opening(), {
                  Info("Number of files & directories found: 5"), Info(Downloading("f1", 200'000)),
                  Info("Downloaded [f1] <unknown> kBps"), Info("Deleting remote-file [f1] ..."),
                  Info(Downloading("f2", 200'000))})));
  EXPECT_EQ(channel.sent.back().mtype, 2);
  EXPECT_THAT(channel.sent.back().text, StartsWith("ERROR_PULL-WIRE ["));
  EXPECT_THAT(channel.sent.back().text, ::testing::HasSubstr("426"));
  EXPECT_EQ(ReadFile(LocalPath("f1")), PatternBytes(200'000, 1));
  EXPECT_EQ(ReadFile(LocalPath("f2")), "the earlier f2");
  EXPECT_THAT(FolderNames(local), ElementsAre("f1", "f2"));
  EXPECT_THAT(FolderNames(Pub(server)), ElementsAre("f2", "f3", "f4", "f5"));
  EXPECT_TRUE(state.ErrorFlag);
  EXPECT_THAT(server.CommandLog(), Contains("QUIT"));

  // Later RETRs succeed: a good run fetches the rest, and Error stays True.
  channel.sent.clear();
  Run(server);
  EXPECT_EQ(ReadFile(LocalPath("f2")), PatternBytes(200'000, 2));
  EXPECT_EQ(ReadFile(LocalPath("f5")), PatternBytes(200'000, 5));
  EXPECT_THAT(channel.sent, Contains(Info("Number of files downloaded : 4")));
  EXPECT_TRUE(state.ErrorFlag);
}

// Half the file and "226" anyway, no size in the 150 reply: no SIZE is asked, and the run's own
// check discards the copy with the earlier local file.
TEST_F(PyFtpdRun, ShortBinaryCopyLeavesNoFileUnderItsNameAndKeepsTheRemoteFile) {
  PyFtpdOptions options = Options();
  options.retr_fault = RetrFault::kSilent226;
  options.fault_after = 40'000;
  PyFtpd server(options);
  WriteFile(Pub(server) / "data.bin", PatternBytes(100'000));
  WriteFile(LocalPath("data.bin"), "the earlier data.bin");
  Run(server, {{"AutoDelete", "1"}});
  EXPECT_THAT(channel.sent, Contains(Warning("Download incomplete [data.bin]: 40000 of 100000 "
                                             "bytes received; the copy was discarded and the "
                                             "earlier local file removed")));
  EXPECT_THAT(channel.sent, Contains(Info("Number of files downloaded : 1")));
  EXPECT_THAT(FolderNames(local), IsEmpty());
  EXPECT_TRUE(std::filesystem::exists(Pub(server) / "data.bin"));
  EXPECT_THAT(server.CommandLog(), Not(Contains(StartsWith("SIZE"))));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(PyFtpdRun, AsciiTransferWritesLineFeedsAndCountsAsComplete) {
  PyFtpd server(Options());
  WriteFile(Pub(server) / "crlf.txt", "first\r\nsecond\r\n");
  Run(server, {{"TransferMode", "0"}, {"AutoDelete", "1"}});
  EXPECT_EQ(ReadFile(LocalPath("crlf.txt")), "first\nsecond\n");
  EXPECT_FALSE(std::filesystem::exists(Pub(server) / "crlf.txt"));
}

// Overwriting keeps the earlier file's permission bits (0600 stays 0600, 0751 stays 0751),
// whether the new copy is renamed over it (flat mode) or written in place (folder mode).
TEST_F(PyFtpdRun, OverwritingKeepsTheEarlierFilesPermissionBits) {
  namespace fs = std::filesystem;
  struct Row {
    const char* mode;
    std::map<std::string, std::string> slots;
    const char* path;  // below /pub and LocalDir
    fs::perms earlier;
  } rows[] = {
      {"flat", {{"ProcessAll", "1"}}, "a.bin", fs::perms::owner_read | fs::perms::owner_write},
      {"flat", {{"ProcessAll", "1"}}, "x.sh", fs::perms(0751)},
      {"folder",
       {{"IncludeSubdir", "1"}},
       "dir/b.bin",
       fs::perms::owner_read | fs::perms::owner_write},
  };
  PyFtpd server(Options());
  for (const Row& row : rows) WriteFile(Pub(server) / row.path, "new content");
  for (const Row& row : rows) {
    WriteFile(LocalPath(row.path), "earlier");
    fs::permissions(LocalPath(row.path), row.earlier);
  }
  for (const Row& row : rows) {
    Run(server, row.slots);
    EXPECT_EQ(ReadFile(LocalPath(row.path)), "new content") << row.mode << " " << row.path;
    EXPECT_EQ(fs::status(LocalPath(row.path)).permissions(), row.earlier)
        << row.mode << " " << row.path;
  }
  EXPECT_FALSE(state.ErrorFlag);
}

struct LinkProbeCase {
  const char* name;
  std::string folder;  // the listed folder, under the server's root
  std::string remote_dir;
  std::vector<Refusal> refusals;
  std::string probe;   // the CWD that enters the link
};

// After entering a folder link the session must come back, or the a.txt listed beside the link
// comes from the link's target. Back by PWD; when PWD is refused or its reply cannot be read
// (unquoted, a blank in the path), by the listed folder's own path. Regressions: going back to
// the relative RemoteDir "." from inside the target stayed there; a refused PWD failed the run.
TEST_F(PyFtpdRun, FolderLinkProbeReturnsToTheListedFolder) {
  const std::vector<LinkProbeCase> cases = {
      {"by PWD", "pub", "/pub", {}, "CWD /pub/zlink"},
      {"by PWD, relative RemoteDir", "", ".", {}, "CWD ./zlink"},
      {"PWD refused", "pub", "/pub", {{"PWD", "", "502 Command not implemented."}},
       "CWD /pub/zlink"},
      {"PWD unquoted with a blank", "my pub", "/my pub",
       {{"PWD", "", "257 /my pub is the current directory"}}, "CWD /my pub/zlink"},
  };
  for (const LinkProbeCase& c : cases) {
    SCOPED_TRACE(c.name);
    PyFtpdOptions options = Options();
    options.mlsd = false;  // pyftpdlib's MLSD shows the link as the folder it leads to
    options.refusals = c.refusals;
    PyFtpd server(options);
    WriteFile(server.root() / c.folder / "a.txt", "listed beside the link");
    WriteFile(server.root() / "other" / "a.txt", "the wrong a.txt");
    std::filesystem::create_directory_symlink(server.root() / "other",
                                              server.root() / c.folder / "zlink");
    std::filesystem::remove(LocalPath("a.txt"));
    state.ErrorFlag = false;
    Run(server, {{"RemoteDir", c.remote_dir}, {"CopySpecific", "1"},
                 {"SpecificFilename", "a.txt"}});
    EXPECT_EQ(ReadFile(LocalPath("a.txt")), "listed beside the link");
    EXPECT_THAT(server.CommandLog(), Contains(c.probe));
    EXPECT_FALSE(state.ErrorFlag);
  }
}

class VsftpdRun : public ServerRunFixture {
 protected:
  void SetUp() override {
    std::string why;
    if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  }
  static VsftpdOptions Options() { VsftpdOptions options; options.low_port = true; return options; }
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
