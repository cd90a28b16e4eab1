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
using ::testing::StartsWith;

// The record's Port is 16-bit: the servers listen below 32768 (low_port).
class PyFtpdRun : public ServerRunFixture {
 protected:
  static PyFtpdOptions Options() { PyFtpdOptions options; options.low_port = true; return options; }
  static std::filesystem::path Pub(PyFtpd& server) { return server.root() / "pub"; }
};

TEST_F(PyFtpdRun, ShortBinaryCopyFailsTheRunAndKeepsTheRemoteFile) {
  PyFtpdOptions options = Options();
  options.retr_fault = RetrFault::kSilent226;
  PyFtpd server(options);
  WriteFile(Pub(server) / "data.bin", PatternBytes(100'000));
  Run(server, {{"AutoDelete", "1"}});
  EXPECT_THAT(channel.sent.back().text, StartsWith("ERROR_PULL-WIRE ["));
  EXPECT_THAT(FolderNames(local), IsEmpty());
  EXPECT_TRUE(std::filesystem::exists(Pub(server) / "data.bin"));
  EXPECT_TRUE(state.ErrorFlag);
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
