// DownloadRun with the engine's component against pyftpdlib and vsftpd, for what the run adds on a
// real server.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include <fmt/format.h>

#include "component/engine_component.h"
#include "tests/download/run_fixture.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::Not;

// The record's Port is 16-bit: the servers listen below 32768 (low_port).
class ServerRun : public RunFixture<EngineComponent, SystemClock> {
 protected:
  static PyFtpdOptions Options() {
    PyFtpdOptions options;
    options.low_port = true;
    return options;
  }
  SentMessage Folder(const std::string& name) const {
    return Info("Downloading folder [/pub/" + name + "] to [" + LocalPath(name) + "]...");
  }
  SentMessage File(const std::string& name, std::size_t size) const {
    return Info("Downloading file [/pub/" + name + "] to [" + LocalPath(name) + "] (" +
                std::to_string(size) + " Bytes) ...");
  }
};

// Half of data.bin and "226" anyway: the run's own checks find the copy short in both modes.
// Overwriting keeps permission bits, renamed over (flat) or written in place (folder mode).
// Hostile listing lines are left out, each named (regression: one made the whole folder
// "unparsed"). The link probe goes back by the unquoted PWD path, not into the link's target.
TEST_F(ServerRun, ShortCopiesAreNotTakenAndOverwritingKeepsPermissionBits) {
  PyFtpdOptions options = Options();
  options.retr_fault = RetrFault::kSilent226;
  options.fault_after = 40'000;
  options.fault_name = "data.bin";
  options.list_inject = {"-rw-r--r--   1 u g        4 Jan 01 00:00 ../escape",
                         "-rw-r--r--   1 u g        4 Jan 01 00:00 tab\there\x1b[2J"};
  options.mlsd = false;  // pyftpdlib's MLSD shows a link as the folder it leads to
  options.refusals = {{"PWD", "", "257 /pub is the current directory"}};
  PyFtpd server(options);
  const fs::path pub = server.root() / "pub";
  WriteFile(pub / "data.bin", PatternBytes(100'000));
  const std::map<std::string, fs::perms> earlier = {{"x.sh", fs::perms(0751)},
                                                    {"dir/b.bin", fs::perms(0600)}};
  for (const auto& [path, perms] : earlier) {
    WriteFile(pub / path, "new content");
    WriteFile(LocalPath(path), "earlier");
    fs::permissions(LocalPath(path), perms);
  }
  Run(server, {{"AutoDelete", "1"}});
  EXPECT_THAT(channel.sent, Contains(Warning("Download incomplete [data.bin]: 40000 of 100000 "
                                             "bytes received; the copy was discarded")));
  EXPECT_THAT(channel.sent, Contains(Info("Number of files downloaded : 2")));
  EXPECT_FALSE(state.ErrorFlag);
  WriteFile(server.root() / "other" / "x.sh", "the wrong x.sh");
  fs::create_directory_symlink(server.root() / "other", pub / "zlink");
  channel.sent.clear();
  state.AutoLog = false;  // only warnings and failures are told
  Run(server, {{"IncludeSubdir", "1"}});
  EXPECT_THAT(channel.sent, ElementsAre(
      Warning("Remote entry \"../escape\" left out: the name holds \"/\""),
      Warning("Remote entry \"tab\\there\\x1b[2J\" left out: the name holds a control character"),
      Failure("ERROR_RetrieveItem: the copy " +
      LocalPath("data.bin") + " has 40000 of the 100000 bytes listed although the server reported "
      "success")));
  for (const auto& [path, perms] : earlier) {
    EXPECT_EQ(ReadFile(LocalPath(path)), "new content") << path;
    EXPECT_EQ(fs::status(LocalPath(path)).permissions(), perms) << path;
  }
  EXPECT_EQ(Contents(parent.path()).size(), Contents(local).size() + 1);
  EXPECT_EQ(ReadFile(LocalPath("zlink/x.sh")), "the wrong x.sh") << "a folder link is a folder";
  const std::vector<std::string> log = server.CommandLog(), probe = {"CWD /pub/zlink", "CWD /pub"};
  EXPECT_NE(std::search(log.begin(), log.end(), probe.begin(), probe.end()), log.end()) << "back";
  EXPECT_EQ(Contents(pub), (Files{{"data.bin", PatternBytes(100'000)}, {"dir", "/"},
      {"dir/b.bin", "new content"}, {"zlink", "-> " + (server.root() / "other").string()}}));
}

// One folder-mode run: a failing file, a local file where a folder should be, a planted link and
// a longer local copy end only their folder; the server greets two of the four sessions with
// 421, which nothing shows; the delete pass removes exactly what was copied.
TEST_F(ServerRun, FolderModeTreeContinuesCopiesAndDeletesOnlyWhatItCopied) {
  PyFtpdOptions options = Options();
  options.retr_fault = RetrFault::kAbort426;
  options.fault_name = "zz.bin";
  options.max_sessions = 2;
  PyFtpd server(options);
  const fs::path pub = server.root() / "pub";
  const std::string part = PatternBytes(200'000, 4), top = PatternBytes(50'000, 5);
  const Files remote = {{"My Files/a.bin", PatternBytes(70'000, 1)}, {"My Files/sub dir/b.txt", "B"},
                        {"bad/ok1.bin", "ok"}, {"bad/zz.bin", PatternBytes(9'000, 7)},
                        {"blocked/x.txt", "x"}, {"planted/inner/y.txt", "y"}, {"planted/p.txt", "p"},
                        {"tree/part.bin", part}, {"tree/done.bin", "complete"},
                        {"tree/longer.bin", "short"}, {"top.bin", top}, {"z.txt", "z"}};
  WriteFiles(pub, remote);
  fs::create_directories(pub / "My Files" / "empty");
  const Files earlier = {{"tree/part.bin", part.substr(0, 123'456)}, {"tree/done.bin", "complete"},
                         {"tree/longer.bin", "a longer local file"}, {"top.bin", top.substr(0, 20'000)},
                         {"blocked", "a file where the folder should be"}};
  WriteFiles(local, earlier);
  const TempDir outside{"outside"};
  fs::create_directories(local / "planted");
  fs::create_directory_symlink(outside.path(), local / "planted" / "inner");
  Run(server, {{"IncludeSubdir", "1"}, {"Overwrite", "0"}, {"AutoDelete", "1"}});

  ASSERT_GT(channel.sent.size(), 6u);
  EXPECT_THAT(channel.sent[6].text, ::testing::StartsWith("ERROR_GetFolder: RETR zz.bin failed: 426"));
  channel.sent[6].text = "zz.bin";
  const std::string folder_error = "ERROR_GetFolder: the local ";
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({
      Folder("My Files"), Folder("bad"), Failure("zz.bin"), Folder("blocked"),
      Failure(folder_error + "folder " + LocalPath("blocked") + " does not exist or is not a folder"),
      Folder("planted"), Failure(folder_error + "folder " + LocalPath("planted/inner") +
                                 " is a symbolic link, which is not written through"),
      Folder("tree"), Failure(folder_error + "copy " + LocalPath("tree/longer.bin") +
                              " has 19 bytes, more than the 5 bytes of the remote file: left as it is"),
      File("top.bin", 50'000), File("z.txt", 1), Info("Delete 127.0.0.1:/pub/My Files/"),
      Warning("Delete denied: /pub/bad"), Warning("Delete denied: /pub/planted/"),
      Warning("Delete denied: /pub/tree"), Info("Delete 127.0.0.1:/pub/top.bin"),
      Info("Delete 127.0.0.1:/pub/z.txt"), Closing(kLoopback)}, kLoopback)));
  Files expected = {{"My Files", "/"}, {"My Files/sub dir", "/"}, {"My Files/empty", "/"},
      {"bad", "/"}, {"planted", "/"}, {"tree", "/"}, {"blocked", earlier.at("blocked")},
      {"planted/inner", "-> " + outside.path().string()}, {"tree/longer.bin", "a longer local file"}};
  expected.merge(Files(remote));  // the paths above keep their values
  for (const char* gone : {"blocked/x.txt", "planted/inner/y.txt", "bad/zz.bin"}) expected.erase(gone);
  Files copied = Contents(local);
  copied.erase("bad/zz.bin");  // its part, if any arrived before the abort, stays to be continued
  EXPECT_EQ(copied, expected);
  EXPECT_EQ(Contents(pub), (Files{{"bad", "/"}, {"bad/zz.bin", remote.at("bad/zz.bin")},
      {"blocked", "/"}, {"blocked/x.txt", "x"}, {"planted", "/"}, {"planted/inner", "/"},
      {"planted/inner/y.txt", "y"}, {"tree", "/"}, {"tree/longer.bin", "short"}}));
  const std::vector<std::string> log = server.CommandLog();
  for (const char* command : {"REST 123456", "REST 20000"}) EXPECT_THAT(log, Contains(command));
  for (const char* command : {"RETR done.bin", "RETR longer.bin"}) {
    EXPECT_THAT(log, Not(Contains(command)));
  }
  EXPECT_EQ(std::count(log.begin(), log.end(), "USER pullwire"), 2);
  EXPECT_TRUE(state.ErrorFlag);
}

// Which session meets the stalled RETR differs from run to run: the main one ends the run's
// session with it, an extra one only its own. Either way that file alone is missing. A trickle
// is a stall too: throttled to 200 bytes a second pyftpdlib sends 256 bytes every 2 s, less than
// 1 KiB in any 3 s.
TEST_F(ServerRun, AStalledOrTricklingSessionCostsOnlyItsFile) {
  for (const bool trickle : {false, true}) {
    PyFtpdOptions options = Options();
    if (trickle) options.throttle = 200;
    if (!trickle) options.stalls = {{"RETR", 8.0, 5}};
    PyFtpd server(options);
    for (int i = 0; i < (trickle ? 2 : 12); ++i) {
      WriteFile(server.root() / "pub/many" / fmt::format("f{:02}.dat", i), PatternBytes(4'000, i));
    }
    fs::remove_all(local / "many");
    channel.sent.clear();
    Run(server, {{"IncludeSubdir", "1"}, {"Timeout", trickle ? "3" : "2"}});
    ASSERT_GE(channel.sent.size(), 6u);
    EXPECT_EQ(channel.sent[4], Folder("many"));
    EXPECT_THAT(channel.sent[5].text, ::testing::MatchesRegex(trickle
        ? "ERROR_GetFolder: the transfer stalled: only [0-9]+ bytes \\(less than 1 KiB\\) from the "
          "server during RETR f0[01]\\.dat within 3 s"
        : "ERROR_GetFolder: no reply or data from the server during RETR f[0-9]+\\.dat within 2 s"));
    if (trickle) continue;
    Files copied = Contents(local / "many"), remote = Contents(server.root() / "pub/many");
    EXPECT_EQ(copied.size(), 11u);
    for (const auto& [name, bytes] : copied) EXPECT_EQ(bytes, remote[name]) << name;
  }
  EXPECT_TRUE(state.ErrorFlag);
}

// vsftpd over explicit TLS: a verified certificate goes unmentioned; one accepted by its pinned
// fingerprint or by the deliberate opt-out is named in a warning after "Connecting with". A
// folder-mode run with a filter deletes only what passed it.
TEST_F(ServerRun, VsftpdOverTlsWithAFilterAndCertificateWarnings) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  VsftpdOptions options;
  options.low_port = true;
  options.tls = VsftpdTls::kExplicit;
  Vsftpd server(options);
  const fs::path pub = server.root() / "pub";
  const Files remote = {{"data/a.data", PatternBytes(66'000, 8)}, {"data/notes.txt", "walked"},
                        {"more data/deep/y.data", "nested"}, {"data.bin", PatternBytes(1'000, 10)},
                        {"other.txt", "not wanted"}, {"orders.txt", "a\r\nb\r\n"}};
  WriteFiles(pub, remote);
  server.GrantTree();
  const std::string plain = "ftpes://127.0.0.1";
  std::optional<ScopedEnv> trust(std::in_place, "SSL_CERT_FILE", server.CaFile());
  Run(server, {{"Host", plain}, {"IncludeSubdir", "1"}, {"AutoDelete", "1"}, {"Filter", "data"}});
  EXPECT_THAT(channel.sent, ElementsAreArray(Opening({
      Folder("data"), Folder("more data"), File("data.bin", 1'000),
      // "deep" fails the filter, so the delete pass never sees it.
      Warning("Delete denied: /pub/data"), Warning("Delete denied: /pub/more data"),
      Info("Delete " + plain + ":/pub/data.bin"), Closing(plain)}, plain)));
  Files expected = remote;
  for (const char* left : {"other.txt", "orders.txt"}) expected.erase(left);
  for (const char* folder : {"data", "more data", "more data/deep"}) expected[folder] = "/";
  EXPECT_EQ(Contents(local), expected);
  EXPECT_EQ(Contents(pub), (Files{{"data", "/"}, {"more data", "/"}, {"data/notes.txt", "walked"},
      {"more data/deep", "/"}, {"more data/deep/y.data", "nested"}, {"other.txt", "not wanted"},
      {"orders.txt", "a\r\nb\r\n"}}));
  EXPECT_FALSE(state.ErrorFlag);

  trust.reset();
  const std::string pinned = plain + "#sha256=" + server.CertificateFingerprint();
  // The host, the variable that trusts or opts out and its value, the warning.
  const std::vector<std::tuple<std::string, const char*, std::string, std::string>> rows = {
      {pinned, "SSL_CERT_FILE", "/nonexistent",
       "The certificate of [" + pinned + "] is not verified: it is accepted because its SHA-256 "
       "fingerprint is the pinned one"},
      {plain, "PULLWIRE_TLS_INSECURE", "1",
       "The certificate of [" + plain + "] is not verified (PULLWIRE_TLS_INSECURE=1): the "
       "connection is encrypted, but the server may not be the one it claims to be"}};
  for (const auto& [host, variable, value, warned] : rows) {
    SCOPED_TRACE(variable);
    const ScopedEnv environment(variable, value);
    channel.sent.clear();
    Run(server, {{"Host", host}, {"TransferMode", "0"}, {"Filter", "orders"}});
    std::vector<SentMessage> sent = Opening({Info("Number of files & directories found: 1"),
        Info("Downloading [orders.txt] to [" + LocalPath("orders.txt") + "] (6 Bytes) ..."),
        Info("Downloaded [orders.txt] <unknown> kBps"), Info("Number of files downloaded : 1"),
        Closing(host)}, host);
    sent.insert(sent.begin() + 2, Warning(warned));
    EXPECT_THAT(channel.sent, ElementsAreArray(sent));
    EXPECT_EQ(ReadFile(LocalPath("orders.txt")), "a\nb\n");
  }
  EXPECT_FALSE(state.ErrorFlag);
}

}  // namespace
}  // namespace pullwire::testing
