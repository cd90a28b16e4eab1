// The engine against pyftpdlib on loopback: transfers, folder trees, deletes, refusals and the
// faults pyftpdlib can inject (stalls, dropped data, refused EPSV, a full disk), IPv6.
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>

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
using ::testing::Not;
using ::testing::StartsWith;

// Every entry under `folder`, sorted: "sub/" for a folder, "name=content" for a file (its size
// when larger than 99 bytes).
std::string Tree(const fs::path& folder) {
  std::vector<std::string> items;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    if (entry.is_directory()) {
      items.push_back(name + "/");
    } else {
      const auto size = fs::file_size(entry.path());
      items.push_back(name + "=" + (size < 100 ? ReadFile(entry.path()) : std::to_string(size)));
    }
  }
  std::sort(items.begin(), items.end());
  std::string tree;
  for (const std::string& item : items) tree += (tree.empty() ? "" : " ") + item;
  return tree;
}

std::size_t Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// Calls refused before any session and a wrong password; then on one session, whose server
// refuses EPSV and announces a private address in PASV: files in both modes, the read/write
// fallback, a full disk, refused TYPE E, CWD and RETR, deletes and removals.
TEST(EnginePyFtpd, OneSessionTransfersDeletesAndSaysWhyNot) {
  PyFtpdOptions options;
  options.refusals = {{"CWD", "locked", "550 Permission denied."},
                      {"RETR", "secret*", "550 Permission denied."},
                      {"EPSV", "", "500 EPSV not understood."}};
  options.masquerade = "10.99.98.97";  // the client must not go there
  PyFtpd server(options);
  const std::string big = PatternBytes(3 * 1024 * 1024 + 17, 7);
  for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
           {"big.bin", big}, {"tiny.bin", "0123456789"}, {"empty.bin", ""}, {"secret.txt", "s"},
           {"full/keep", "k"}}) {
    WriteFile(server.root() / name, content);
  }
  for (const char* folder : {"empty", "locked"}) fs::create_directory(server.root() / folder);
  TempDir local;
  FaultySysIo sys;
  TracedSession traced(5s, sys);
  Session& session = traced.session;

  ExpectFtpError([&] { session.ChangeDirectory("/"); }, ErrorCode::kNotConnected,
                 "not connected to a server: log in first");
  LoginParams login;
  ExpectFtpError([&] { session.Login(login); }, ErrorCode::kInvalidValue,
                 "the host name is empty");
  login = LoginAt("127.0.0.1", UnusedPort());
  ExpectFtpError([&] { session.Login(login); }, ErrorCode::kConnectFailed,
                 fmt::format("cannot connect to 127.0.0.1 port {}: Connection refused",
                             login.port));
  login.host = "no-such-host.invalid";
  EXPECT_EQ(CatchFtpError([&] { session.Login(login); }).code(), ErrorCode::kHostNotFound);
  login = LoginFor(server);
  login.password = "very-secret-word";
  ExpectFtpError([&] { session.Login(login); }, ErrorCode::kLoginFailed,
                 "login as pullwire refused: 530 Authentication failed.");
  EXPECT_FALSE(session.logged_in());

  session.Login(LoginFor(server));
  session.set_transfer_type(TransferType::kImage);
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    session.set_passive(passive);
    GetFile(session, "big.bin", (local / "big.bin").string());
    GetFile(session, "/tiny.bin", local.path().string());
    GetFile(session, "empty.bin", (local / "empty.bin").string());
    EXPECT_TRUE(ReadFile(local / "big.bin") == big);
    EXPECT_EQ(ReadFile(local / "tiny.bin"), "0123456789");
    EXPECT_EQ(ReadFile(local / "empty.bin"), "");
    EXPECT_EQ(Tree(local.path()), "big.bin=3145745 empty.bin= tiny.bin=0123456789");
  }
  session.set_passive(true);
  sys.splice_into_file_error = EINVAL;  // a file system without splice: read and write instead
  sys.interrupted_reads = 3;
  GetFile(session, "big.bin", (local / "copy.bin").string());
  EXPECT_TRUE(ReadFile(local / "copy.bin") == big);
  sys.splice_into_file_error = 0;
  session.set_zero_copy(true);  // the fallback switched splice off for the session
  sys.disk_room = 1000000;
  ExpectFtpError([&] { GetFile(session, "big.bin", (local / "copy.bin").string()); },
                 ErrorCode::kLocalFileError,
                 "cannot write " + (local / "copy.bin").string() + ": No space left on device");
  EXPECT_TRUE(ReadFile(local / "copy.bin") == big);  // the earlier copy is intact
  sys.disk_room = -1;
  const std::vector<std::string> commands = traced.Commands();
  EXPECT_EQ(Count(commands, "TYPE I"), 1u);  // once per session
  EXPECT_EQ(Count(commands, "EPSV"), 1u);    // refused once, PASV from then on
  EXPECT_EQ(Count(commands, "PASV"), 5u);
  EXPECT_THAT(commands, Contains(StartsWith("PORT 127,0,0,1,")));
  EXPECT_THAT(commands, Contains("PASS ****"));
  EXPECT_THAT(traced.trace, Contains(HasSubstr("(10,99,98,97,")));
  for (const std::string& line : traced.trace) EXPECT_THAT(line, Not(HasSubstr("very-secret")));

  session.set_transfer_type(TransferType::kEbcdic);
  ExpectFtpError([&] { GetFile(session, "tiny.bin", (local / "e").string()); },
                 ErrorCode::kCommandFailed,
                 "the server refused TYPE E: 504 Unsupported type \"E\".");
  session.set_transfer_type(TransferType::kImage);
  ExpectFtpError([&] { session.ChangeDirectory("locked"); }, ErrorCode::kCommandFailed,
                 "cannot enter the folder locked: 550 Permission denied.");
  ExpectFtpError([&] { session.ChangeDirectory("/no/such"); }, ErrorCode::kNoSuchFile,
                 "cannot enter the folder /no/such: 550 No such file or directory.");
  ExpectFtpError([&] { GetFile(session, "secret.txt", (local / "s").string()); },
                 ErrorCode::kCommandFailed, "RETR secret.txt refused: 550 Permission denied.");
  ExpectFtpError([&] { GetFile(session, "absent.txt", (local / "a").string()); },
                 ErrorCode::kNoSuchFile, "RETR absent.txt refused: 550 No such file or directory.");
  // No empty or partial file for a refused RETR.
  EXPECT_EQ(Tree(local.path()),
            "big.bin=3145745 copy.bin=3145745 empty.bin= tiny.bin=0123456789");

  session.Delete("tiny.bin");
  session.RemoveDirectory("/empty");
  EXPECT_FALSE(fs::exists(server.root() / "tiny.bin"));
  EXPECT_FALSE(fs::exists(server.root() / "empty"));
  ExpectFtpError([&] { session.RemoveDirectory("full"); }, ErrorCode::kCommandFailed,
                 "cannot remove the folder full: 550 Directory not empty.");
  ExpectFtpError([&] { session.Delete("tiny.bin"); }, ErrorCode::kNoSuchFile,
                 "cannot delete tiny.bin: 550 No such file or directory.");
  EXPECT_EQ(CatchFtpError([&] { session.Delete(""); }).code(), ErrorCode::kInvalidValue);
  EXPECT_TRUE(session.logged_in());
}

// Quoted specs with blanks, a pattern, a depth bound, links followed once, and hostile lines
// that must never become files outside the folder.
TEST(EnginePyFtpd, GetMatchingFetchesTreesAndNeverLeavesTheLocalFolder) {
  PyFtpdOptions options;
  options.list_inject = {"-rw-r--r-- 1 u g 5 Jan 01 00:00 ../escape.txt",
                         "-rw-r--r-- 1 u g 5 Jan 01 00:00 a/b",
                         "drwxr-xr-x 2 u g 4096 Jan 01 00:00 ..", "garbage that parses as nothing"};
  PyFtpd server(options);
  const fs::path tree = server.root() / "pub" / "My Files";
  WriteFile(tree / "a.txt", "A");
  WriteFile(tree / "b.bin", PatternBytes(70000, 2));
  WriteFile(tree / "sub dir" / "c.txt", "C");
  WriteFile(tree / "sub dir" / "deeper" / "d.txt", "D");
  fs::create_directories(tree / "empty");
  WriteFile(server.root() / "pub" / "other.txt", "not wanted");
  WriteFile(server.root() / "top" / "f.txt", "F");
  WriteFile(server.root() / "top" / "inner" / "g.txt", "G");
  fs::create_directory_symlink("..", server.root() / "top" / "inner" / "loop");
  fs::create_symlink("f.txt", server.root() / "top" / "f-link.txt");
  TempDir local;
  for (const char* into : {"all", "txt", "shallow", "top"}) fs::create_directories(local / into);
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginFor(server));
  session.ChangeDirectory("/pub");
  EXPECT_EQ(GetMatching(session, "\"/pub/My Files/*\"", (local / "all").string()).files, 4);
  EXPECT_TRUE(ReadFile(local / "all" / "b.bin") == PatternBytes(70000, 2));
  EXPECT_EQ(session.CurrentDirectory(), "/pub");  // the working folder is restored
  EXPECT_EQ(GetMatching(session, "My Files/*.txt", (local / "txt").string()).files, 1);
  // Depth is bounded: what lies deeper is reported, everything else still arrives.
  MatchingOptions shallow;
  shallow.max_depth = 1;
  ExpectFtpError(
      [&] { GetMatching(session, "/pub/My Files/*", (local / "shallow").string(), shallow); },
      ErrorCode::kTooDeep,
      "the folder /pub/My Files/sub dir/deeper lies more than 1 levels deep: not fetched");
  // The loop link leads back to /top, which is being fetched: it is not entered again.
  const MatchingResult links = GetMatching(session, "/top/*", (local / "top").string());
  EXPECT_EQ(links.folders, 1);
  EXPECT_EQ(links.files, 3);
  EXPECT_EQ(Tree(local.path()),  // and nothing anywhere else
            "all/ all/a.txt=A all/b.bin=70000 all/empty/ all/sub dir/ all/sub dir/c.txt=C "
            "all/sub dir/deeper/ all/sub dir/deeper/d.txt=D shallow/ shallow/a.txt=A "
            "shallow/b.bin=70000 shallow/empty/ shallow/sub dir/ shallow/sub dir/c.txt=C top/ "
            "top/f-link.txt=F top/f.txt=F top/inner/ top/inner/g.txt=G txt/ txt/a.txt=A");
}

// The first RETR's reply and the second session's greeting are held back; then data closed
// halfway without a reply. The earlier copy stays.
TEST(EnginePyFtpd, StallsEndWithTheTimeOutAndKeepTheEarlierCopy) {
  PyFtpdOptions options;
  options.stalls = {{"RETR", 20.0, 1}, {"CONNECT", 20.0, 2}};
  PyFtpd server(options);
  WriteFile(server.root() / "a.txt", "a");
  PyFtpdOptions faulty;
  faulty.retr_fault = RetrFault::kNoReply;
  faulty.fault_after = 100000;
  PyFtpd dropping(faulty);
  WriteFile(dropping.root() / "data.bin", PatternBytes(200000, 9));
  TempDir local;
  WriteFile(local / "data.bin", "earlier copy");
  Session session;
  session.set_timeout(1s);
  session.Login(LoginFor(server));
  ExpectFtpError([&] { GetFile(session, "a.txt", (local / "a").string()); },
                 ErrorCode::kTimedOut, "no reply to RETR within 1 s");
  EXPECT_FALSE(session.logged_in());
  session.set_timeout(500ms);
  ExpectFtpError([&] { session.Login(LoginFor(server)); }, ErrorCode::kTimedOut,
                 fmt::format("no greeting from 127.0.0.1 port {} within 500 ms", server.port()));
  session.set_timeout(1s);
  session.Login(LoginFor(dropping));
  ExpectFtpError([&] { GetFile(session, "data.bin", (local / "data.bin").string()); },
                 ErrorCode::kTimedOut, "no reply to RETR within 1 s");
  EXPECT_FALSE(session.logged_in());  // a missing reply is the session's fault
  EXPECT_EQ(ReadFile(local / "data.bin"), "earlier copy");
  EXPECT_EQ(Tree(local.path()), "data.bin=earlier copy");
}

TEST(EnginePyFtpd, ReachesTheServerOverIpv6AndByHostName) {
  PyFtpdOptions options;
  options.ipv6 = true;
  PyFtpd server(options);
  WriteFile(server.root() / "six.txt", "over IPv6");
  TempDir local;
  const auto threads = [] { return std::distance(fs::directory_iterator("/proc/self/task"), {}); };
  const auto before = threads();
  for (const std::string host : {"::1", "[::1]", "localhost"}) {
    for (const bool passive : {true, false}) {
      SCOPED_TRACE(host + (passive ? " passive" : " active"));
      TracedSession traced;
      LoginParams login = LoginFor(server);
      login.host = host;
      traced.session.set_passive(passive);
      traced.session.Login(login);
      GetFile(traced.session, "six.txt", (local / "six.txt").string());
      EXPECT_EQ(ReadFile(local / "six.txt"), "over IPv6");
      if (!passive && host != "localhost") {
        EXPECT_THAT(traced.Commands(), Contains(StartsWith("EPRT |2|::1|")));
      }
    }
  }
  // "localhost" was looked up on this thread: the plug-in starts none (Asio's resolver did).
  EXPECT_EQ(threads(), before);
}

}  // namespace
}  // namespace pullwire::ftp
