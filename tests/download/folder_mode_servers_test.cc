// The folder mode end to end: DownloadRun with the engine's component against pyftpdlib and
// vsftpd. Trees copied byte for byte, copies continued with REST, the delete pass restricted to
// what was copied, and failures that end only their own entry.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include <fmt/format.h>

#include "tests/download/server_run_fixture.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::Not;

class FolderRun : public ServerRunFixture {
 protected:
  template <typename Server>
  void RunFolders(const Server& server, std::map<std::string, std::string> slots = {}) {
    slots.emplace("IncludeSubdir", "1");
    Run(server, std::move(slots));
  }
  std::string Folder(const std::string& name) const {
    return "Downloading folder [/pub/" + name + "] to [" + LocalPath(name) + "]...";
  }
  std::string File(const std::string& name, std::size_t size) const {
    return "Downloading file [/pub/" + name + "] to [" + LocalPath(name) + "] (" + std::to_string(size) +
           " Bytes) ...";
  }
  static PyFtpdOptions PyOptions() { PyFtpdOptions options; options.low_port = true; return options; }
  static std::vector<SentMessage> Closing() { return {Info("Disconnecting from [127.0.0.1] ...")}; }
};

// Every file below `root`, relative, with its content.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) files[fs::relative(item.path(), root).string()] = ReadFile(item.path());
  }
  return files;
}

TEST_F(FolderRun, NestedTreeArrivesByteForByteAndTheDeletePassRemovesWhatWasCopied) {
  PyFtpd server(PyOptions());
  const fs::path pub = server.root() / "pub";
  WriteFile(pub / "My Files" / "a.bin", PatternBytes(70'000, 1));
  WriteFile(pub / "My Files" / "sub dir" / "b.txt", "B\r\n");
  WriteFile(pub / "My Files" / "sub dir" / "deeper" / "c.bin", PatternBytes(5'000, 2));
  fs::create_directories(pub / "My Files" / "empty");
  WriteFile(pub / "docs" / "d.txt", "D");
  WriteFile(pub / "docs" / "inner" / "e.txt", "E");
  fs::create_directory_symlink("..", pub / "docs" / "inner" / "up");  // a loop back to docs
  WriteFile(pub / "top.bin", PatternBytes(3'000, 3));
  std::map<std::string, std::string> expected = Tree(pub);
  RunFolders(server, {{"AutoDelete", "1"}});

  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Then(Opening(), {
      Info(Folder("My Files")), Info(Folder("docs")), Info(File("top.bin", 3'000)),
      Info("Delete 127.0.0.1:/pub/My Files/"), Warning("Delete denied: /pub/docs/"),
      Info("Delete 127.0.0.1:/pub/top.bin")}), Closing())));
  EXPECT_EQ(Tree(local), expected);
  EXPECT_TRUE(fs::is_directory(local / "My Files" / "empty"));
  EXPECT_FALSE(fs::exists(fs::symlink_status(local / "docs" / "inner" / "up")));
  // The link was not copied, so it stays, and with it the folders that hold it.
  EXPECT_THAT(FolderNames(pub), ElementsAre("docs"));
  EXPECT_THAT(FolderNames(pub / "docs"), ElementsAre("inner"));
  EXPECT_THAT(FolderNames(pub / "docs" / "inner"), ElementsAre("up"));
  EXPECT_FALSE(state.ErrorFlag);
}

TEST_F(FolderRun, PartialCopiesContinueWithRestAndComeWholeWhereRestIsRefused) {
  const std::string part = PatternBytes(200'000, 4);
  const std::string top = PatternBytes(50'000, 5);
  const auto lay_out = [&](const fs::path& pub) {
    WriteFile(pub / "tree" / "part.bin", part);
    WriteFile(pub / "tree" / "done.bin", "complete");
    WriteFile(pub / "top.bin", top);
    WriteFile(LocalPath("tree/part.bin"), part.substr(0, 123'456));
    WriteFile(LocalPath("tree/done.bin"), "complete");
    WriteFile(LocalPath("top.bin"), top.substr(0, 20'000));
  };
  PyFtpd server(PyOptions());
  lay_out(server.root() / "pub");
  WriteFile(server.root() / "pub" / "tree" / "longer.bin", "short");
  WriteFile(LocalPath("tree/longer.bin"), "a longer local file");
  RunFolders(server, {{"Overwrite", "0"}});

  EXPECT_EQ(ReadFile(LocalPath("tree/part.bin")), part);
  EXPECT_EQ(ReadFile(LocalPath("top.bin")), top);
  EXPECT_EQ(ReadFile(LocalPath("tree/longer.bin")), "a longer local file");
  const std::vector<std::string> log = server.CommandLog();
  EXPECT_THAT(log, Contains("REST 123456"));
  EXPECT_THAT(log, Contains("REST 20000"));
  EXPECT_THAT(log, Not(Contains("RETR done.bin")));
  EXPECT_THAT(log, Not(Contains("RETR longer.bin")));
  EXPECT_THAT(channel.sent, Contains(Failure("ERROR_GetFolder: the local copy " + LocalPath("tree/longer.bin") +
                                             " has 19 bytes, more than the 5 bytes of the remote file: left as it is")));
  EXPECT_TRUE(state.ErrorFlag);

  PyFtpdOptions refusing = PyOptions();
  refusing.refusals = {{"REST", "", "502 REST not implemented."}};
  PyFtpd no_rest(refusing);
  lay_out(no_rest.root() / "pub");
  RunFolders(no_rest, {{"Overwrite", "0"}});
  EXPECT_EQ(ReadFile(LocalPath("tree/part.bin")), part);
  EXPECT_EQ(ReadFile(LocalPath("top.bin")), top);
  EXPECT_THAT(no_rest.CommandLog(), Contains("RETR part.bin"));
}

TEST_F(FolderRun, AFailingFileALocalFileAndAPlantedLinkEndOnlyTheirEntry) {
  PyFtpdOptions options = PyOptions();
  options.retr_fault = RetrFault::kAbort426;
  options.fault_name = "zz.bin";
  PyFtpd server(options);
  const fs::path pub = server.root() / "pub";
  WriteFile(pub / "bad" / "ok1.bin", PatternBytes(9'000, 6));
  WriteFile(pub / "bad" / "zz.bin", PatternBytes(9'000, 7));
  WriteFile(pub / "blocked" / "x.txt", "x");
  WriteFile(pub / "planted" / "inner" / "y.txt", "y");
  WriteFile(pub / "planted" / "p.txt", "p");
  WriteFile(pub / "z.txt", "z");
  WriteFile(LocalPath("blocked"), "a file where the folder should be");
  const TempDir outside{"outside"};
  fs::create_directories(local / "planted");
  fs::create_directory_symlink(outside.path(), local / "planted" / "inner");
  RunFolders(server, {{"AutoDelete", "1"}});

  ASSERT_EQ(channel.sent.size(), 15u);
  EXPECT_EQ(channel.sent[5].mtype, 2);
  EXPECT_THAT(channel.sent[5].text, ::testing::StartsWith("ERROR_GetFolder: RETR zz.bin failed: 426"));
  channel.sent[5] = Failure("ERROR_GetFolder: zz.bin");
  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Then(Opening(), {
      Info(Folder("bad")), Failure("ERROR_GetFolder: zz.bin"),
      Info(Folder("blocked")),
      Failure("ERROR_GetFolder: the local folder " + LocalPath("blocked") + " does not exist or is not a folder"),
      Info(Folder("planted")),
      Failure("ERROR_GetFolder: the local folder " + LocalPath("planted/inner") +
              " is a symbolic link, which is not written through"),
      Info(File("z.txt", 1)), Warning("Delete denied: /pub/bad"), Warning("Delete denied: /pub/planted/"),
      Info("Delete 127.0.0.1:/pub/z.txt")}), Closing())));
  EXPECT_EQ(ReadFile(LocalPath("bad/ok1.bin")), PatternBytes(9'000, 6));
  EXPECT_EQ(ReadFile(LocalPath("planted/p.txt")), "p");
  EXPECT_THAT(FolderNames(outside.path()), IsEmpty());
  EXPECT_THAT(FolderNames(pub), ElementsAre("bad", "blocked", "planted"));
  EXPECT_THAT(FolderNames(pub / "bad"), ElementsAre("zz.bin"));
  EXPECT_THAT(FolderNames(pub / "planted" / "inner"), ElementsAre("y.txt"));
  EXPECT_TRUE(state.ErrorFlag);
}

// The run's folder is fetched over up to four sessions ($PULLWIRE_SESSIONS unset): the server
// here takes two, greets the others with 421, and nothing of that shows.
TEST_F(FolderRun, ExtraSessionsTheServerRefusesAreLeftOutSilently) {
  PyFtpdOptions options = PyOptions();
  options.max_sessions = 2;
  PyFtpd server(options);
  const fs::path pub = server.root() / "pub";
  for (int i = 0; i < 30; ++i) {
    WriteFile(pub / "many" / fmt::format("f{:02}.dat", i), PatternBytes(4'096 + i, static_cast<std::uint32_t>(i)));
  }
  RunFolders(server);

  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Then(Opening(), {Info(Folder("many"))}), Closing())));
  EXPECT_EQ(Tree(local), Tree(pub));
  const std::vector<std::string> log = server.CommandLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), "USER pullwire"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "CWD /pub/many"), 2);  // the walk's, the extra's
  EXPECT_FALSE(state.ErrorFlag);
}

// Which session meets the stalled RETR differs from run to run: the main one ends the run's
// session with it, an extra one only its own. Either way that file alone is missing.
TEST_F(FolderRun, AStalledSessionCostsOnlyTheFileItWasFetching) {
  PyFtpdOptions options = PyOptions();
  options.stalls = {{"RETR", 8.0, 5}};
  PyFtpd server(options);
  const fs::path pub = server.root() / "pub";
  for (int i = 0; i < 12; ++i) WriteFile(pub / "many" / fmt::format("f{:02}.dat", i), PatternBytes(5'000, i));
  RunFolders(server, {{"Timeout", "2"}});

  ASSERT_GE(channel.sent.size(), 6u);
  EXPECT_EQ(channel.sent[4], Info(Folder("many")));
  EXPECT_THAT(channel.sent[5].text,
              ::testing::MatchesRegex("ERROR_GetFolder: no reply or data from the server during RETR "
                                      "f[0-9]+\\.dat within 2 s"));
  EXPECT_EQ(Tree(local).size(), 11u);
  for (const auto& [name, content] : Tree(local)) EXPECT_EQ(content, ReadFile(pub / name)) << name;
  EXPECT_TRUE(state.ErrorFlag);
}

// A trickle is a stall on the extra sessions too: pyftpdlib throttled to 200 bytes a second
// sends bursts of 256 bytes 2 s apart, less than 1 KiB in any 3 s.
TEST_F(FolderRun, ATrickleOnAnySessionIsAStall) {
  PyFtpdOptions options = PyOptions();
  options.throttle = 200;
  PyFtpd server(options);
  for (int i = 0; i < 2; ++i)
    WriteFile(server.root() / "pub" / "slow" / fmt::format("f{}.dat", i), PatternBytes(4'000, i));
  RunFolders(server, {{"Timeout", "3"}});

  ASSERT_GE(channel.sent.size(), 6u);
  EXPECT_EQ(channel.sent[4], Info(Folder("slow")));
  EXPECT_THAT(channel.sent[5].text,
              ::testing::MatchesRegex(
                  "ERROR_GetFolder: the transfer stalled: only [0-9]+ bytes \\(less than "
                  "1 KiB\\) from the server during RETR f[01]\\.dat within 3 s"));
  EXPECT_TRUE(state.ErrorFlag);
}

TEST_F(FolderRun, VsftpdWithAFilterDeletesOnlyWhatPassedIt) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  VsftpdOptions options;
  options.low_port = true;
  Vsftpd server(options);
  const fs::path pub = server.root() / "pub";
  WriteFile(pub / "data" / "a.data", PatternBytes(66'000, 8));
  WriteFile(pub / "data" / "notes.txt", "left by the filter inside the walk");
  WriteFile(pub / "more data" / "x data.bin", PatternBytes(4'096, 9));
  WriteFile(pub / "more data" / "deep" / "y.data", "nested");
  WriteFile(pub / "data.bin", PatternBytes(1'000, 10));
  WriteFile(pub / "other.txt", "not wanted");
  server.GrantTree();
  RunFolders(server, {{"AutoDelete", "1"}, {"Filter", "data"}});

  EXPECT_THAT(channel.sent, ElementsAreArray(Then(Then(Opening(), {
      Info(Folder("data")), Info(Folder("more data")), Info(File("data.bin", 1'000)),
      Warning("Delete denied: /pub/data"), Warning("Delete denied: /pub/more data"),  // "deep" fails the filter: not seen
      Info("Delete 127.0.0.1:/pub/data.bin")}), Closing())));
  EXPECT_EQ(ReadFile(LocalPath("data/a.data")), PatternBytes(66'000, 8));
  EXPECT_EQ(ReadFile(LocalPath("data/notes.txt")), "left by the filter inside the walk");
  EXPECT_EQ(ReadFile(LocalPath("more data/deep/y.data")), "nested");
  EXPECT_FALSE(fs::exists(LocalPath("other.txt")));
  EXPECT_THAT(FolderNames(pub), ElementsAre("data", "more data", "other.txt"));
  EXPECT_THAT(FolderNames(pub / "data"), ElementsAre("notes.txt"));
  EXPECT_THAT(FolderNames(pub / "more data"), ElementsAre("deep"));
  EXPECT_FALSE(state.ErrorFlag);
}

}  // namespace
}  // namespace pullwire::testing
