// DownloadRun called in C++ with the engine's component against pyftpdlib, for what needs a real
// server and no plug-in around it: a short copy the server calls complete, and a folder link's
// probe (with and without PWD). The other scenarios of a run are stated once, over the scripted
// component (download_run_test.cc, download_entry_test.cc).
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

}  // namespace
}  // namespace pullwire::testing
