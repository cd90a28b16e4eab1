// The engine against pyftpdlib on loopback: transfers, folder trees, deletes, refusals and the
// faults pyftpdlib can inject (stalls, dropped data, refused EPSV, a full disk), IPv6.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <iterator>

#include "ftp/data_sink.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using namespace test;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;

std::size_t CountEntries(const fs::path& folder) {
  std::size_t count = 0;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator();
       ++it) {
    ++count;
  }
  return count;
}

TEST(EnginePyFtpd, PassiveAndActiveBinaryTransfersKeepTheContent) {
  PyFtpd server;
  const std::string big = PatternBytes(3 * 1024 * 1024 + 17, 7);
  WriteFile(server.root() / "big.bin", big);
  WriteFile(server.root() / "tiny.bin", "0123456789");  // 150 and 226 come in one packet
  WriteFile(server.root() / "empty.bin", "");
  TempDir local;
  TracedSession traced;
  traced.session.set_transfer_type(TransferType::kImage);
  traced.session.Login(LoginFor(server));

  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    traced.session.set_passive(passive);
    GetFile(traced.session, "big.bin", (local / "big.bin").string());
    GetFile(traced.session, "/tiny.bin", local.path().string());
    GetFile(traced.session, "empty.bin", (local / "empty.bin").string());
    EXPECT_TRUE(ReadFile(local / "big.bin") == big);
    EXPECT_EQ(ReadFile(local / "tiny.bin"), "0123456789");
    EXPECT_EQ(ReadFile(local / "empty.bin"), "");
    EXPECT_EQ(CountEntries(local.path()), 3u);  // no temporary file left behind
  }
  const std::vector<std::string> commands = traced.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "TYPE I"), 1);  // once per session
  EXPECT_THAT(commands, Contains(::testing::StartsWith("PORT 127,0,0,1,")));
  EXPECT_THAT(commands, Contains("EPSV"));
}

TEST(EnginePyFtpd, TypeEIsSentAsAskedAndARefusalQuoted) {
  PyFtpd server;
  WriteFile(server.root() / "a.txt", "a");
  TempDir local;
  Session session;
  session.Login(LoginFor(server));
  session.set_transfer_type(TransferType::kEbcdic);
  const FtpError error = CatchFtpError([&] { GetFile(session, "a.txt", local.path().string()); });
  EXPECT_EQ(error.code(), ErrorCode::kCommandFailed);
  EXPECT_STREQ(error.what(), "the server refused TYPE E: 504 Unsupported type \"E\".");
  EXPECT_FALSE(fs::exists(local / "a.txt"));
  EXPECT_TRUE(session.logged_in());
}

TEST(EnginePyFtpd, GetMatchingFetchesANestedTreeWithBlanksAndQuotedSpecs) {
  PyFtpd server;
  const fs::path tree = server.root() / "pub" / "My Files";
  WriteFile(tree / "a.txt", "A");
  WriteFile(tree / "b.bin", PatternBytes(70000, 2));
  WriteFile(tree / "sub dir" / "c.txt", "C");
  WriteFile(tree / "sub dir" / "deeper" / "d.txt", "D");
  fs::create_directories(tree / "empty");
  WriteFile(server.root() / "pub" / "other.txt", "not wanted");
  TempDir local;
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginFor(server));
  session.ChangeDirectory("/pub");

  const MatchingResult all =
      GetMatching(session, "\"/pub/My Files/*\"", local.path().string());

  EXPECT_EQ(all.files, 4);
  EXPECT_EQ(ReadFile(local / "a.txt"), "A");
  EXPECT_TRUE(ReadFile(local / "b.bin") == PatternBytes(70000, 2));
  EXPECT_EQ(ReadFile(local / "sub dir" / "c.txt"), "C");
  EXPECT_EQ(ReadFile(local / "sub dir" / "deeper" / "d.txt"), "D");
  EXPECT_TRUE(fs::is_directory(local / "empty"));
  EXPECT_FALSE(fs::exists(local / "other.txt"));
  EXPECT_EQ(session.CurrentDirectory(), "/pub");  // the working folder is restored

  TempDir only_txt;
  const MatchingResult txt = GetMatching(session, "My Files/*.txt", only_txt.path().string());
  EXPECT_EQ(txt.files, 1);
  EXPECT_EQ(CountEntries(only_txt.path()), 1u);
  EXPECT_EQ(ReadFile(only_txt / "a.txt"), "A");

  // Depth is bounded: what lies deeper is reported, everything else still arrives.
  TempDir shallow;
  MatchingOptions options;
  options.max_depth = 1;
  const FtpError deep = CatchFtpError(
      [&] { GetMatching(session, "/pub/My Files/*", shallow.path().string(), options); });
  EXPECT_EQ(deep.code(), ErrorCode::kTooDeep);
  EXPECT_EQ(std::string(deep.what()),
            "the folder /pub/My Files/sub dir/deeper lies more than 1 levels deep: not fetched");
  EXPECT_EQ(ReadFile(shallow / "sub dir" / "c.txt"), "C");
  EXPECT_FALSE(fs::exists(shallow / "sub dir" / "deeper"));
}

TEST(EnginePyFtpd, GetMatchingFollowsLinksOnceAndNeverLeavesTheLocalFolder) {
  PyFtpdOptions options;
  // Lines a hostile server could send: they must never become files outside the folder.
  options.list_inject = {"-rw-r--r-- 1 u g 5 Jan 01 00:00 ../escape.txt",
                         "-rw-r--r-- 1 u g 5 Jan 01 00:00 a/b",
                         "drwxr-xr-x 2 u g 4096 Jan 01 00:00 ..", "garbage that parses as nothing"};
  PyFtpd server(options);
  WriteFile(server.root() / "top" / "f.txt", "F");
  WriteFile(server.root() / "top" / "inner" / "g.txt", "G");
  fs::create_directory_symlink("..", server.root() / "top" / "inner" / "loop");
  fs::create_symlink("f.txt", server.root() / "top" / "f-link.txt");
  TempDir outer;
  const fs::path local = outer / "into";
  fs::create_directory(local);
  Session session;
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginFor(server));

  const MatchingResult result = GetMatching(session, "/top/*", local.string());

  EXPECT_EQ(ReadFile(local / "f.txt"), "F");
  EXPECT_EQ(ReadFile(local / "f-link.txt"), "F");
  EXPECT_EQ(ReadFile(local / "inner" / "g.txt"), "G");
  EXPECT_FALSE(fs::exists(outer / "escape.txt"));
  EXPECT_FALSE(fs::exists(local / "a"));
  // The loop link leads back to /top, which is being fetched: it is not entered again.
  EXPECT_EQ(result.folders, 1);
  EXPECT_EQ(result.files, 3);
  EXPECT_FALSE(fs::exists(local / "inner" / "loop"));
  EXPECT_EQ(CountEntries(outer.path()), CountEntries(local) + 1);
}

TEST(EnginePyFtpd, DeletesFilesAndRemovesFoldersAndSaysWhyNot) {
  PyFtpd server;
  WriteFile(server.root() / "gone.txt", "x");
  fs::create_directory(server.root() / "empty");
  WriteFile(server.root() / "full" / "keep.txt", "k");
  Session session;
  session.Login(LoginFor(server));

  session.Delete("gone.txt");
  session.RemoveDirectory("/empty");
  const FtpError not_empty = CatchFtpError([&] { session.RemoveDirectory("full"); });
  const FtpError missing = CatchFtpError([&] { session.Delete("gone.txt"); });
  const FtpError no_folder = CatchFtpError([&] { session.RemoveDirectory("nothing"); });

  EXPECT_FALSE(fs::exists(server.root() / "gone.txt"));
  EXPECT_FALSE(fs::exists(server.root() / "empty"));
  EXPECT_TRUE(fs::exists(server.root() / "full" / "keep.txt"));
  EXPECT_EQ(not_empty.code(), ErrorCode::kCommandFailed);
  EXPECT_THAT(not_empty.what(), HasSubstr("cannot remove the folder full: 550"));
  EXPECT_EQ(missing.code(), ErrorCode::kNoSuchFile);
  EXPECT_THAT(missing.what(), HasSubstr("cannot delete gone.txt: 550 No such file or directory"));
  EXPECT_EQ(no_folder.code(), ErrorCode::kNoSuchFile);
  EXPECT_EQ(CatchFtpError([&] { session.Delete(""); }).code(), ErrorCode::kInvalidValue);
  EXPECT_TRUE(session.logged_in());
}

TEST(EnginePyFtpd, FoldersThatCannotBeEnteredAndFilesThatAreMissing) {
  PyFtpdOptions options;
  options.refusals = {{"CWD", "locked", "550 Permission denied."},
                      {"RETR", "secret*", "550 Permission denied."}};
  PyFtpd server(options);
  fs::create_directory(server.root() / "locked");
  WriteFile(server.root() / "file.txt", "f");
  WriteFile(server.root() / "secret.txt", "s");
  TempDir local;
  Session session;
  session.Login(LoginFor(server));

  const FtpError locked = CatchFtpError([&] { session.ChangeDirectory("locked"); });
  const FtpError missing = CatchFtpError([&] { session.ChangeDirectory("/no/such"); });
  const FtpError a_file = CatchFtpError([&] { session.ChangeDirectory("file.txt"); });
  const FtpError denied =
      CatchFtpError([&] { GetFile(session, "secret.txt", (local / "s").string()); });
  const FtpError absent =
      CatchFtpError([&] { GetFile(session, "absent.txt", (local / "a").string()); });

  EXPECT_EQ(locked.code(), ErrorCode::kCommandFailed);
  EXPECT_STREQ(locked.what(), "cannot enter the folder locked: 550 Permission denied.");
  EXPECT_EQ(missing.code(), ErrorCode::kNoSuchFile);
  EXPECT_EQ(a_file.code(), ErrorCode::kNoSuchFile);
  EXPECT_EQ(denied.code(), ErrorCode::kCommandFailed);
  EXPECT_STREQ(denied.what(), "RETR secret.txt refused: 550 Permission denied.");
  EXPECT_EQ(absent.code(), ErrorCode::kNoSuchFile);
  EXPECT_THAT(absent.what(), HasSubstr("RETR absent.txt refused: 550"));
  EXPECT_EQ(CountEntries(local.path()), 0u);  // no empty or partial file for a refused RETR
  EXPECT_TRUE(session.logged_in());
}

TEST(EnginePyFtpd, AWrongPasswordIsRefusedAndNeverShown) {
  PyFtpd server;
  TracedSession traced;
  LoginParams login = LoginFor(server);
  login.password = "very-secret-word";

  const FtpError error = CatchFtpError([&] { traced.session.Login(login); });

  EXPECT_EQ(error.code(), ErrorCode::kLoginFailed);
  EXPECT_THAT(error.what(), HasSubstr("login as pullwire refused: 530"));
  EXPECT_THAT(error.what(), Not(HasSubstr("very-secret-word")));
  for (const std::string& line : traced.trace) EXPECT_THAT(line, Not(HasSubstr("very-secret")));
  EXPECT_THAT(traced.Commands(), Contains("PASS ****"));
  EXPECT_FALSE(traced.session.logged_in());
}

TEST(EnginePyFtpd, AStalledReplyEndsWithTheTimeOutAndClosesTheSession) {
  PyFtpdOptions options;
  options.stalls = {{"RETR", 20.0}};
  PyFtpd server(options);
  WriteFile(server.root() / "a.txt", "a");
  TempDir local;
  Session session;
  session.set_timeout(1s);
  session.Login(LoginFor(server));

  const auto start = std::chrono::steady_clock::now();
  const FtpError error = CatchFtpError([&] { GetFile(session, "a.txt", (local / "a").string()); });
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_EQ(error.code(), ErrorCode::kTimedOut);
  EXPECT_STREQ(error.what(), "no reply to RETR within 1 s");
  EXPECT_LT(elapsed, 5s);
  EXPECT_FALSE(session.logged_in());
  EXPECT_FALSE(fs::exists(local / "a"));
}

TEST(EnginePyFtpd, AStalledGreetingEndsWithTheTimeOut) {
  PyFtpdOptions options;
  options.stalls = {{"CONNECT", 20.0}};
  PyFtpd server(options);
  Session session;
  session.set_timeout(500ms);
  const FtpError error = CatchFtpError([&] { session.Login(LoginFor(server)); });
  EXPECT_EQ(error.code(), ErrorCode::kTimedOut);
  EXPECT_EQ(std::string(error.what()),
            "no greeting from 127.0.0.1 port " + std::to_string(server.port()) + " within 500 ms");
}

// What a failed RETR may say: the code and a piece of the text.
struct Outcome {
  ErrorCode code;
  const char* text;
};

struct DropCase {
  RetrFault fault;
  std::vector<Outcome> outcomes;  // any of them is right
  bool session_survives;
};

// Under load the drop can overtake the data or the 150 reply, and the 426 the broken data
// connection: each of those orders is a correct report of the same fault.
TEST(EnginePyFtpd, DataDroppedHalfwayIsAnErrorAndNothingHangs) {
  const std::vector<Outcome> dropped = {
      {ErrorCode::kTransferFailed, "RETR data.bin failed: "},
      {ErrorCode::kDataConnectionFailed, "data connection"}};
  const std::vector<DropCase> cases = {
      {RetrFault::kAbort426, dropped, true},
      {RetrFault::kReset, dropped, true},
      {RetrFault::kHang, {{ErrorCode::kTimedOut, "during RETR data.bin within 1 s"}}, true},
      {RetrFault::kNoReply, {{ErrorCode::kTimedOut, "no reply to RETR within 1 s"}}, false},
  };
  const std::string content = PatternBytes(200000, 9);
  for (const DropCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.fault));
    PyFtpdOptions options;
    options.retr_fault = c.fault;
    options.fault_after = 100000;
    options.fault_nth = 1;  // only the first RETR fails
    PyFtpd server(options);
    WriteFile(server.root() / "data.bin", content);
    TempDir local;
    WriteFile(local / "data.bin", "earlier copy");
    Session session;
    session.set_timeout(1s);
    session.set_transfer_type(TransferType::kImage);
    session.Login(LoginFor(server));

    const auto start = std::chrono::steady_clock::now();
    const FtpError error =
        CatchFtpError([&] { GetFile(session, "data.bin", (local / "data.bin").string()); });

    EXPECT_LT(std::chrono::steady_clock::now() - start, 8s);
    EXPECT_TRUE(std::any_of(c.outcomes.begin(), c.outcomes.end(), [&](const Outcome& o) {
      return error.code() == o.code && std::string(error.what()).find(o.text) != std::string::npos;
    })) << static_cast<int>(error.code()) << ": " << error.what();
    EXPECT_EQ(ReadFile(local / "data.bin"), "earlier copy");
    EXPECT_EQ(CountEntries(local.path()), 1u);
    EXPECT_EQ(session.logged_in(), c.session_survives);
    if (session.logged_in()) {  // the session is still in step: the second RETR succeeds
      GetFile(session, "data.bin", (local / "data.bin").string());
      EXPECT_TRUE(ReadFile(local / "data.bin") == content);
    }
  }
}

TEST(EnginePyFtpd, PasvAddressesAreIgnoredOnceEpsvIsRefused) {
  PyFtpdOptions options;
  options.refusals = {{"EPSV", "", "500 EPSV not understood."}};
  options.masquerade = "10.99.98.97";  // a private address the client must not go to
  PyFtpd server(options);
  WriteFile(server.root() / "a.txt", "via PASV");
  TempDir local;
  TracedSession traced;
  traced.session.Login(LoginFor(server));
  GetFile(traced.session, "a.txt", (local / "1").string());
  GetFile(traced.session, "a.txt", (local / "2").string());
  EXPECT_EQ(ReadFile(local / "2"), "via PASV");
  const std::vector<std::string> commands = traced.Commands();
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "EPSV"), 1);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 2);
  EXPECT_THAT(traced.trace, Contains(HasSubstr("(10,99,98,97,")));
}

TEST(EnginePyFtpd, FallsBackToReadWriteAndReportsAFullDisk) {
  PyFtpd server;
  const std::string content = PatternBytes(2 * 1024 * 1024 + 5, 21);
  WriteFile(server.root() / "data.bin", content);
  TempDir local;
  FaultySysIo sys;
  Session session(sys);
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginFor(server));

  sys.splice_into_file_error = EINVAL;
  sys.interrupted_reads = 3;
  GetFile(session, "data.bin", (local / "copy.bin").string());
  EXPECT_TRUE(ReadFile(local / "copy.bin") == content);

  sys.splice_into_file_error = 0;
  session.set_zero_copy(true);  // the fallback above switched splice off for the session
  sys.disk_room = 1000000;
  const FtpError full =
      CatchFtpError([&] { GetFile(session, "data.bin", (local / "copy.bin").string()); });
  EXPECT_EQ(full.code(), ErrorCode::kLocalFileError);
  EXPECT_THAT(full.what(), HasSubstr("copy.bin: No space left on device"));
  EXPECT_TRUE(ReadFile(local / "copy.bin") == content);  // the earlier copy is intact
  EXPECT_EQ(CountEntries(local.path()), 1u);
  EXPECT_TRUE(session.logged_in());  // ABOR brought the session back in step
  sys.disk_room = -1;
  GetFile(session, "data.bin", (local / "again.bin").string());
  EXPECT_TRUE(ReadFile(local / "again.bin") == content);
}

std::size_t ThreadCount() {
  const fs::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(std::distance(fs::begin(tasks), fs::end(tasks)));
}

TEST(EnginePyFtpd, ReachesTheServerOverIpv6AndByHostName) {
  PyFtpdOptions options;
  options.ipv6 = true;
  PyFtpd server(options);
  WriteFile(server.root() / "six.txt", "over IPv6");
  TempDir local;
  const std::size_t threads = ThreadCount();
  for (const char* host : {"::1", "[::1]", "localhost"}) {
    for (const bool passive : {true, false}) {
      SCOPED_TRACE(std::string(host) + (passive ? " passive" : " active"));
      TracedSession traced;
      LoginParams login = LoginFor(server);
      login.host = host;
      traced.session.set_passive(passive);
      traced.session.Login(login);
      GetFile(traced.session, "six.txt", (local / "six.txt").string());
      EXPECT_EQ(ReadFile(local / "six.txt"), "over IPv6");
      if (!passive && std::string(host) != "localhost") {
        EXPECT_THAT(traced.Commands(), Contains(::testing::StartsWith("EPRT |2|::1|")));
      }
    }
  }
  // "localhost" was looked up on this thread: the plug-in starts none (Asio's resolver did).
  EXPECT_EQ(ThreadCount(), threads);
}

TEST(EnginePyFtpd, RefusesCallsWithoutASessionOrWithEmptyArguments) {
  Session session;
  TempDir local;
  const FtpError not_connected = CatchFtpError([&] { session.ChangeDirectory("/"); });
  EXPECT_EQ(not_connected.code(), ErrorCode::kNotConnected);
  EXPECT_STREQ(not_connected.what(), "not connected to a server: log in first");
  EXPECT_EQ(CatchFtpError([&] { GetMatching(session, "", local.path().string()); }).code(),
            ErrorCode::kInvalidValue);
  LoginParams login;
  login.port = 21;
  EXPECT_STREQ(CatchFtpError([&] { session.Login(login); }).what(), "the host name is empty");
  login.host = "127.0.0.1";
  login.port = static_cast<std::uint16_t>(UnusedPort());
  const FtpError refused = CatchFtpError([&] { session.Login(login); });
  EXPECT_EQ(refused.code(), ErrorCode::kConnectFailed);
  EXPECT_THAT(refused.what(), AllOf(HasSubstr("cannot connect to 127.0.0.1 port"),
                                    HasSubstr("Connection refused")));
  login.host = "no-such-host.invalid";
  EXPECT_EQ(CatchFtpError([&] { session.Login(login); }).code(), ErrorCode::kHostNotFound);
}

}  // namespace
}  // namespace pullwire::ftp
