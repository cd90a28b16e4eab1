// The engine against real servers on loopback: pyftpdlib (transfers, trees, deletes, refusals,
// stalls, a full disk, IPv6), vsftpd requiring TLS, dante (SOCKS4/5) and ftp-proxy (user@host).
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "ftp/extra_sessions.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/server_name.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

namespace fs = std::filesystem;
using namespace pullwire::testing;
using namespace test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// Every entry under `folder` on one line: "sub/", or "name=content" (the size past 99 bytes).
std::string Tree(const fs::path& folder) {
  std::string tree;
  for (const auto& [name, content] : Contents(folder)) {
    tree += (tree.empty() ? "" : " ") + name;
    const bool small = content.size() < 100;
    tree += content == "/" ? "/" : "=" + (small ? content : std::to_string(content.size()));
  }
  return tree;
}

// Refusals before a session; then one session (EPSV refused, a private PASV address): files,
// the read/write fallback, a full disk, refused TYPE E, CWD and RETR, deletes.
TEST(EnginePyFtpd, OneSessionTransfersDeletesAndSaysWhyNot) {
  PyFtpdOptions options;
  options.refusals = {{"CWD", "locked", "550 Permission denied."},
                      {"RETR", "secret*", "550 Permission denied."},
                      {"EPSV", "", "500 EPSV not understood."},
                      {"REST", "", "502 REST not implemented."}};
  options.masquerade = "10.99.98.97";  // the client must not go there
  PyFtpd server(options);
  const std::string big = PatternBytes(3 * 1024 * 1024 + 17, 7);
  WriteFiles(server.root(), {{"big.bin", big}, {"tiny.bin", "0123456789"}, {"empty.bin", ""},
                             {"secret.txt", "s"}, {"full/keep", "k"}});
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
  GetFile(session, "big.bin", (local / "big.bin").string());
  GetFile(session, "/tiny.bin", local.path().string());  // its 150 and 226 come in one packet
  GetFile(session, "empty.bin", (local / "empty.bin").string());
  EXPECT_TRUE(ReadFile(local / "big.bin") == big);
  EXPECT_EQ(Tree(local.path()), "big.bin=3145745 empty.bin= tiny.bin=0123456789");
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
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "TYPE I"), 1);  // once per session
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "EPSV"), 1);  // refused once, then PASV
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "PASV"), 5);
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
  ExpectFtpError([&] { GetFile(session, "secret.txt", (local / "s").string()); },
                 ErrorCode::kCommandFailed, "RETR secret.txt refused: 550 Permission denied.");
  // No empty or partial file for a refused RETR.
  EXPECT_EQ(Tree(local.path()),
            "big.bin=3145745 copy.bin=3145745 empty.bin= tiny.bin=0123456789");
  // Continuing: a short copy comes whole again (REST refused), an equal one stays, a longer
  // one is an error and stays.
  WriteFiles(local / "cont", {{"big.bin", big.substr(0, 1000)}, {"tiny.bin", "abcdefghij"},
                              {"empty.bin", "xx"}});
  MatchingOptions resume;
  resume.continue_partial = true;
  ExpectFtpError([&] { GetMatching(session, "*.bin", (local / "cont").string(), resume); },
                 ErrorCode::kInvalidValue, "the local copy " + (local / "cont/empty.bin").string() +
                 " has 2 bytes, more than the 0 bytes of the remote file: left as it is");
  EXPECT_EQ(Tree(local / "cont"), "big.bin=3145745 empty.bin=xx tiny.bin=abcdefghij");
  EXPECT_TRUE(ReadFile(local / "cont/big.bin") == big);
  EXPECT_THAT(traced.Commands(), Contains("REST 1000"));

  session.Delete("tiny.bin");
  session.RemoveDirectory("/empty");
  EXPECT_FALSE(fs::exists(server.root() / "empty"));
  ExpectFtpError([&] { session.RemoveDirectory("full"); }, ErrorCode::kCommandFailed,
                 "cannot remove the folder full: 550 Directory not empty.");
  ExpectFtpError([&] { session.Delete("tiny.bin"); }, ErrorCode::kNoSuchFile,
                 "cannot delete tiny.bin: 550 No such file or directory.");
  EXPECT_EQ(CatchFtpError([&] { session.Delete(""); }).code(), ErrorCode::kInvalidValue);
  EXPECT_TRUE(session.logged_in());
}

// Quoted specs, a pattern, a depth bound, links followed once, hostile names left out; IPv6.
TEST(EnginePyFtpd, GetMatchingFetchesTreesAndNeverLeavesTheLocalFolderOverIpv6) {
  PyFtpdOptions options;
  options.list_inject = {"-rw-r--r-- 1 u g 5 Jan 01 00:00 ../escape.txt",
                         "-rw-r--r-- 1 u g 5 Jan 01 00:00 a/b",
                         "drwxr-xr-x 2 u g 4096 Jan 01 00:00 ..", "garbage that parses as nothing"};
  options.ipv6 = true;
  PyFtpd server(options);
  WriteFiles(server.root(), {{"pub/My Files/a.txt", "A"}, {"pub/other.txt", "not wanted"},
                             {"pub/My Files/b.bin", PatternBytes(70000, 2)},
                             {"pub/My Files/sub dir/c.txt", "C"}, {"top/f.txt", "F"},
                             {"pub/My Files/sub dir/deeper/d.txt", "D"}, {"top/inner/g.txt", "G"}});
  fs::create_directories(server.root() / "pub" / "My Files" / "empty");
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
  ExpectFtpError([&] { GetMatching(session, "gone/*", (local / "txt").string()); },
                 ErrorCode::kNoSuchFile,
                 "cannot enter the folder gone: 550 No such file or directory.");
  EXPECT_EQ(session.CurrentDirectory(), "/pub");
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
  // By address and by name over IPv6, both modes; "localhost" is looked up on this thread: the
  // plug-in starts no thread (Asio's resolver did).
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
      GetFile(traced.session, "/top/f.txt", (local / "six.txt").string());
      EXPECT_EQ(ReadFile(local / "six.txt"), "F");
      if (!passive && host != "localhost") {
        EXPECT_THAT(traced.Commands(), Contains(StartsWith("EPRT |2|::1|")));
      }
    }
  }
  EXPECT_EQ(threads(), before);
}

// A held-back RETR reply and greeting, then data closed without a reply: the copy stays.
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

ProxySettings Proxy(ProxyKind kind, int port, std::string user = {}, std::string password = {}) {
  return {kind, "127.0.0.1", static_cast<std::uint16_t>(port), std::move(user),
          std::move(password)};
}

VsftpdOptions Tls(VsftpdTls tls, std::string names = "IP:127.0.0.1,DNS:localhost") {
  VsftpdOptions options;
  options.tls = tls;
  options.certificate_names = std::move(names);
  return options;
}

LoginParams LoginAs(const Vsftpd& server, const std::string& host) {
  LoginParams login = LoginFor(server);
  login.host = host;
  return login;
}

// vsftpd's protocol log lines of the commands it received ("USER ftptest").
std::vector<std::string> Received(const Vsftpd& server) {
  std::vector<std::string> commands;
  std::istringstream log(server.Log());
  for (std::string line; std::getline(log, line);) {
    const std::size_t mark = line.find("FTP command: Client \"127.0.0.1\", \"");
    if (mark == std::string::npos) continue;
    const std::string rest = line.substr(mark + 34);
    commands.push_back(rest.substr(0, rest.rfind('"')));
  }
  return commands;
}

std::string TreeFile(int i) {
  return PatternBytes(static_cast<std::size_t>(i) * 100'000 + 1, static_cast<std::uint32_t>(i));
}

// Failing certificates end the login before USER; a pin or the opt-out stands in for trust.
// Then explicit and implicit TLS: listings, both modes, a continued file, three sessions.
TEST(EngineTls, CertificatesThenListingsFilesAndFoldersExplicitAndImplicit) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  Vsftpd explicit_tls(Tls(VsftpdTls::kExplicit));
  Vsftpd implicit_tls(Tls(VsftpdTls::kImplicit));
  Vsftpd misnamed(Tls(VsftpdTls::kExplicit, "DNS:ftp.example.test"));
  const std::string at = "ftpes://127.0.0.1";
  std::string pinned = "00";
  while (pinned.size() < 95) pinned += ":00";
  const struct {
    const Vsftpd& server;
    std::optional<std::string> trusted_ca;
    std::string host;
    std::string reason;
  } refusals[] = {
      {explicit_tls, std::nullopt, at,
       "certificate verify failed: unable to get local issuer certificate (SHA-256 fingerprint " +
           explicit_tls.CertificateFingerprint() + ")"},
      {misnamed, misnamed.CaFile(), at, "certificate is for ftp.example.test, not 127.0.0.1"},
      {explicit_tls, std::nullopt, at + "#sha256=" + std::string(64, '0'),
       "its SHA-256 fingerprint is " + explicit_tls.CertificateFingerprint() +
           ", not the pinned " + pinned},
  };
  for (const auto& row : refusals) {
    SCOPED_TRACE(row.reason);
    ScopedEnv trust("SSL_CERT_FILE", row.trusted_ca.value_or("/nonexistent/ca.pem"));
    Session session;
    ExpectFtpError([&] { session.Login(LoginAs(row.server, row.host)); },
                   ErrorCode::kCertificateRejected,
                   fmt::format("the certificate of {} port {} was not accepted: {}", row.host,
                               row.server.port(), row.reason));
    EXPECT_FALSE(session.logged_in());
  }
  EXPECT_THAT(Received(explicit_tls), ElementsAre("AUTH TLS", "AUTH TLS"));
  EXPECT_THAT(Received(misnamed), ElementsAre("AUTH TLS"));
  for (const bool pin : {true, false}) {
    SCOPED_TRACE(pin ? "pinned" : "opted out");
    ScopedEnv untrusted("SSL_CERT_FILE", "/nonexistent/ca.pem");
    ScopedEnv opt_out(kTlsInsecureVariable, pin ? std::nullopt : std::optional<std::string>("1"));
    Session session;
    session.Login(LoginAs(misnamed, pin ? at + "#sha256=" + misnamed.CertificateFingerprint()
                                        : at));
    EXPECT_EQ(session.certificate_check(),
              pin ? Session::CertificateCheck::kPinned : Session::CertificateCheck::kUnverified);
    EXPECT_EQ(session.ListTable().size(), 0u);
  }

  const std::string big = PatternBytes(3 * 1024 * 1024 + 5, 3);
  WriteFile(explicit_tls.root() / "big.bin", big);
  WriteFile(implicit_tls.root() / "big.bin", big);
  for (int i = 0; i < 12; ++i) {
    WriteFile(explicit_tls.root() / "tree" / ("d" + std::to_string(i % 2)) /
                  ("f" + std::to_string(i)), TreeFile(i));
  }
  WriteFile(explicit_tls.root() / "tree" / "closed" / "x.txt", "x");
  explicit_tls.GrantTree();
  implicit_tls.GrantTree();
  ASSERT_EQ(::chmod((explicit_tls.root() / "tree" / "closed").c_str(), 0), 0);
  TempDir local;
  const struct {
    const Vsftpd& server;
    const char* scheme;
    std::size_t entries;
    std::vector<std::string> first_commands;
  } rows[] = {
      {explicit_tls, "ftpes://", 2, {"AUTH TLS", "USER ftptest", "PASS ****", "PBSZ 0", "PROT P"}},
      {implicit_tls, "ftps://", 1, {"USER ftptest", "PASS ****", "PBSZ 0", "PROT P"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.scheme);
    ScopedEnv trust("SSL_CERT_FILE", row.server.CaFile());
    TracedSession traced;
    traced.session.Login(LoginAs(row.server, std::string(row.scheme) + "127.0.0.1"));
    EXPECT_EQ(traced.session.ListTable().size(), row.entries);
    for (const bool passive : {true, false}) {
      SCOPED_TRACE(passive ? "passive" : "active");
      traced.session.set_passive(passive);
      traced.session.set_transfer_type(TransferType::kImage);
      GetFile(traced.session, "big.bin", (local / "big.bin").string());
      EXPECT_TRUE(ReadFile(local / "big.bin") == big);
    }
    traced.session.Logout();
    const std::vector<std::string> commands = traced.Commands();
    ASSERT_GE(commands.size(), row.first_commands.size());
    EXPECT_EQ(
        std::vector<std::string>(commands.begin(), commands.begin() + row.first_commands.size()),
        row.first_commands);
    // vsftpd refuses data connections that do not resume the control connection's session.
    EXPECT_THAT(traced.trace, Contains(::testing::AllOf(HasSubstr("data connection TLS: TLSv1"),
                                                        HasSubstr("session resumed"))));
  }

  ScopedEnv trust("SSL_CERT_FILE", explicit_tls.CaFile());
  Session session;
  session.set_timeout(10s);
  session.set_transfer_type(TransferType::kImage);
  session.Login(LoginAs(explicit_tls, "ftpes://localhost"));
  WriteFile(local / "big.bin", big.substr(0, 123456));
  EXPECT_EQ(GetFile(session, "big.bin", (local / "big.bin").string(), 123456).bytes,
            3 * 1024 * 1024 + 5 - 123456);
  EXPECT_TRUE(ReadFile(local / "big.bin") == big);
  // Continuing a complete copy transfers nothing and keeps it whole.
  const auto whole = static_cast<std::int64_t>(big.size());
  EXPECT_EQ(GetFile(session, "big.bin", (local / "big.bin").string(), whole).bytes, 0);
  EXPECT_TRUE(ReadFile(local / "big.bin") == big);
  ExpectFtpError([&] { session.ChangeDirectory("/tree/closed"); }, ErrorCode::kNoSuchFile,
                 "cannot enter the folder /tree/closed: 550 Failed to change directory.");
  // The folder over three sessions: everything but the closed folder arrives, which is named.
  ExtraSessions extras(3);
  MatchingOptions options;
  options.extra_sessions = &extras;
  ExpectFtpError([&] { GetMatching(session, "/tree/*", local.path().string(), options); },
                 ErrorCode::kNoSuchFile,
                 "cannot enter the folder closed: 550 Failed to change directory.");
  for (int i = 0; i < 12; ++i) {
    EXPECT_TRUE(ReadFile(local / ("d" + std::to_string(i % 2)) / ("f" + std::to_string(i))) ==
                TreeFile(i)) << i;
  }
  extras.Close();
  session.Logout();
  const std::vector<std::string> received = Received(explicit_tls);
  EXPECT_EQ(std::count(received.begin(), received.end(), "USER ftptest"), 1 + 3);
  ::chmod((explicit_tls.root() / "tree" / "closed").c_str(), 0755);
}

// Refusals first, while the server has seen one AUTH TLS only; then each proxy carries a file
// and a folder; active mode cannot pass SOCKS.
TEST(EngineProxy, SocksAndGatewayProxiesCarrySessionsOrSayWhyNot) {
  std::string why;
  if (!Dante::Available(SocksAuth::kUsername, &why) || !FtpProxy::Available(&why)) {
    GTEST_SKIP() << why;
  }
  PyFtpd server;
  const std::string via = PatternBytes(100000, 5);
  WriteFiles(server.root(),
             {{"via.bin", via}, {"dir/x1", "x1"}, {"dir/x2", "x2"}, {"dir/x3", "x3"}});
  Dante dante;
  Dante checking(SocksAuth::kUsername);
  FtpProxy gateway(server.port());
  FtpProxy nowhere(UnusedPort());
  const int closed = UnusedPort();
  const std::string pin = "127.0.0.1#sha256=" + std::string(64, 'a');
  using K = ProxyKind;
  const struct {
    std::string host;
    int port;
    ProxySettings proxy;
    ErrorCode code;
    ::testing::Matcher<std::string> text;
  } refusals[] = {
      {"ftpes://127.0.0.1", server.port(), {}, ErrorCode::kTlsFailed,
       fmt::format("ftpes://127.0.0.1 port {} refused TLS: AUTH TLS was answered 500 Command "
                   "\"AUTH\" not understood.; neither user name nor password was sent",
                   server.port())},
      // Implicit TLS meets the plain greeting where the server's handshake should be.
      {"ftps://127.0.0.1", server.port(), {}, ErrorCode::kTlsFailed,
       ::testing::AllOf(
           ::testing::StartsWith(fmt::format(
               "the TLS handshake with ftps://127.0.0.1 port {} failed: ", server.port())),
           ::testing::EndsWith(" (ftps:// is TLS from the first byte, usually on port 990; for "
                               "AUTH TLS on the FTP port write ftpes://)"))},
      {"sftp://127.0.0.1", server.port(), {}, ErrorCode::kInvalidValue,
       "the host \"sftp://127.0.0.1\" names a protocol other than FTP: write the server's name "
       "alone, or with ftpes:// or ftps:// for TLS"},
      {pin, server.port(), {}, ErrorCode::kInvalidValue,
       "the host \"" + pin + "\" pins a certificate but asks for no TLS: write ftpes:// or "
       "ftps:// before the name"},
      {"ftps://127.0.0.1#sha256=0a:1", server.port(), {}, ErrorCode::kInvalidValue,
       "the certificate fingerprint \"0a:1\" is not a SHA-256 fingerprint (64 hexadecimal "
       "digits, colons allowed)"},
      {"ftpes://", server.port(), {}, ErrorCode::kInvalidValue,
       "the host \"ftpes://\" has no server name"},
      {"ftpes://127.0.0.1", server.port(), Proxy(K::kUserWithoutLogon, gateway.port()),
       ErrorCode::kInvalidValue,
       "TLS (ftpes://127.0.0.1) cannot pass an FTP gateway (proxy type 5), which must read the "
       "commands: use a SOCKS proxy, a transparent relay or none"},
      {"127.0.0.1", server.port(), Proxy(K::kSocks5, checking.port(), checking.user(), "not-pw"),
       ErrorCode::kProxyFailed,
       ::testing::AllOf(HasSubstr("user name or password refused for ftptest"),
                        Not(HasSubstr("not-pw")))},
      {"127.0.0.1", server.port(), Proxy(K::kSocks5, checking.port()), ErrorCode::kProxyFailed,
       fmt::format("SOCKS5 proxy cannot connect to 127.0.0.1 port {}: the proxy requires a user "
                   "name and password", server.port())},
      {"127.0.0.1", closed, Proxy(K::kSocks5, dante.port()), ErrorCode::kProxyFailed,
       fmt::format("SOCKS5 proxy cannot connect to 127.0.0.1 port {}: connection refused (code "
                   "5)", closed)},
      {"127.0.0.1", nowhere.target_port(), Proxy(K::kUserWithoutLogon, nowhere.port()),
       ErrorCode::kProxyFailed,
       fmt::format("the FTP proxy closed the connection after USER {}@127.0.0.1:{}: it could not "
                   "reach the server", server.user(), nowhere.target_port())},
  };
  Session session;
  session.set_timeout(5s);
  for (const auto& row : refusals) {
    SCOPED_TRACE(row.host);
    session.set_proxy(row.proxy);
    ExpectFtpError([&] { session.Login(LoginAt(row.host, row.port, server.user(), "pw")); },
                   row.code, row.text);
  }
  EXPECT_THAT(server.CommandLog(), ElementsAre("AUTH TLS"));

  TempDir local;
  const struct {
    const char* name;
    ProxySettings proxy;
    bool passive;
  } rows[] = {
      {"SOCKS4 with a user id", Proxy(K::kSocks4, dante.port(), "label"), true},
      {"SOCKS5", Proxy(K::kSocks5, dante.port()), true},
      {"SOCKS5 with a password",
       Proxy(K::kSocks5, checking.port(), checking.user(), checking.password()), true},
      {"gateway, passive", Proxy(K::kUserWithoutLogon, gateway.port()), true},
      {"gateway, active", Proxy(K::kUserWithoutLogon, gateway.port()), false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    TracedSession traced;
    traced.session.set_proxy(row.proxy);
    traced.session.set_passive(row.passive);
    traced.session.set_transfer_type(TransferType::kImage);
    traced.session.Login(LoginFor(server));
    GetFile(traced.session, "via.bin", (local / row.name).string());
    EXPECT_TRUE(ReadFile(local / row.name) == via);
    // ftp-proxy answers PASV itself, maybe before it relays the 226: none is sent ahead.
    GetMatching(traced.session, "/dir/*", local.path().string());
    for (const char* name : {"x1", "x2", "x3"}) EXPECT_EQ(ReadFile(local / name), name);
    const std::vector<std::string> commands = traced.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER " + (row.proxy.kind == K::kUserWithoutLogon
                                          ? gateway.GatewayUser(server.user()) : server.user()));
    EXPECT_EQ(commands[1], "PASS ****");
    if (!row.passive) {
      EXPECT_THAT(commands, Contains(StartsWith("PORT 127,0,0,1,")));
    }
  }
  session.set_proxy(Proxy(K::kSocks5, dante.port()));
  session.set_passive(false);
  session.Login(LoginFor(server));
  ExpectFtpError([&] { GetFile(session, "via.bin", local.path().string()); },
                 ErrorCode::kActiveThroughSocks,
                 "active mode does not work through a SOCKS proxy: the server would have to "
                 "connect to this machine directly; use passive mode");
  EXPECT_TRUE(session.logged_in());
}

}  // namespace
}  // namespace pullwire::ftp
