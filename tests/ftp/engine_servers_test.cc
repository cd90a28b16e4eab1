// The engine against vsftpd requiring TLS (explicit, implicit, certificates, pins, parallel
// sessions), dante (SOCKS4 and SOCKS5, with and without a password) and ftp-proxy (user@host).
#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <sstream>

#include "ftp/extra_sessions.h"
#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "ftp/server_name.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

using namespace pullwire::testing;
using namespace test;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

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

// Certificates that fail end the login before USER; a pin of the right certificate, or the
// deliberate opt-out, stands in for trust and name. Then explicit and implicit TLS carry
// listings and files in both modes, a continued file, a folder over three sessions, and SOCKS.
TEST(EngineTls, CertificatesThenListingsFilesAndFoldersExplicitAndImplicit) {
  std::string why;
  if (!Vsftpd::Available(&why) || !Dante::Available(SocksAuth::kNone, &why)) GTEST_SKIP() << why;
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
  for (const Vsftpd* server : {&explicit_tls, &implicit_tls}) {
    WriteFile(server->root() / "big.bin", big);
    WriteFile(server->root() / "text.txt", "a\r\nb\r\n");
  }
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
      {explicit_tls, "ftpes://", 3, {"AUTH TLS", "USER ftptest", "PASS ****", "PBSZ 0", "PROT P"}},
      {implicit_tls, "ftps://", 2, {"USER ftptest", "PASS ****", "PBSZ 0", "PROT P"}},
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
    traced.session.set_transfer_type(TransferType::kAscii);
    GetFile(traced.session, "text.txt", local.path().string());
    EXPECT_EQ(ReadFile(local / "text.txt"), "a\nb\n");
    traced.session.Logout();
    const std::vector<std::string> commands = traced.Commands();
    ASSERT_GE(commands.size(), row.first_commands.size());
    EXPECT_EQ(
        std::vector<std::string>(commands.begin(), commands.begin() + row.first_commands.size()),
        row.first_commands);
    // vsftpd announces the size in its 150 reply: no SIZE command is needed to check it.
    EXPECT_THAT(commands, Not(Contains(::testing::StartsWith("SIZE"))));
    EXPECT_THAT(traced.trace, Contains(HasSubstr("(3145733 bytes)")));
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

  Dante dante;
  Session socks;
  socks.set_timeout(10s);
  socks.set_transfer_type(TransferType::kImage);
  socks.set_proxy(Proxy(ProxyKind::kSocks5, dante.port()));
  socks.Login(LoginAs(explicit_tls, "ftpes://127.0.0.1"));
  GetFile(socks, "/tree/d1/f11", (local / "via-socks").string());
  EXPECT_TRUE(ReadFile(local / "via-socks") == TreeFile(11));
}

// Refusals first, while the server has seen nothing but one AUTH TLS: TLS refused, host texts and
// proxies TLS cannot go with, proxies that refuse or cannot reach the server. Then one file and
// a folder through each proxy, and active mode, which cannot pass SOCKS.
TEST(EngineProxy, SocksAndGatewayProxiesCarrySessionsOrSayWhyNot) {
  std::string why;
  if (!Dante::Available(SocksAuth::kUsername, &why) || !FtpProxy::Available(&why)) {
    GTEST_SKIP() << why;
  }
  PyFtpd server;
  const std::string via = PatternBytes(100000, 5);
  WriteFile(server.root() / "via.bin", via);
  for (const char* name : {"x1", "x2", "x3"}) WriteFile(server.root() / "dir" / name, name);
  Dante dante;
  Dante checking(SocksAuth::kUsername);
  FtpProxy gateway(server.port());
  FtpProxy nowhere(UnusedPort());
  const int closed = UnusedPort();
  const std::string pin = "127.0.0.1#sha256=" + std::string(64, 'a');
  using K = ProxyKind;
  const auto at = [&](K kind, int port, std::string user = {}, std::string password = {}) {
    return Proxy(kind, port, std::move(user), std::move(password));
  };
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
      {"ftpes://127.0.0.1", server.port(), at(K::kUserWithoutLogon, gateway.port()),
       ErrorCode::kInvalidValue,
       "TLS (ftpes://127.0.0.1) cannot pass an FTP gateway (proxy type 5), which must read the "
       "commands: use a SOCKS proxy, a transparent relay or none"},
      {"127.0.0.1", server.port(), at(K::kSocks5, checking.port(), checking.user(), "not-the-pw"),
       ErrorCode::kProxyFailed,
       ::testing::AllOf(HasSubstr("user name or password refused for ftptest"),
                        Not(HasSubstr("not-the-pw")))},
      {"127.0.0.1", server.port(), at(K::kSocks5, checking.port()), ErrorCode::kProxyFailed,
       fmt::format("SOCKS5 proxy cannot connect to 127.0.0.1 port {}: the proxy requires a user "
                   "name and password", server.port())},
      {"127.0.0.1", closed, at(K::kSocks5, dante.port()), ErrorCode::kProxyFailed,
       fmt::format("SOCKS5 proxy cannot connect to 127.0.0.1 port {}: connection refused (code "
                   "5)", closed)},
      {"127.0.0.1", nowhere.target_port(), at(K::kUserWithoutLogon, nowhere.port()),
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
      {"SOCKS4 with a user id", at(K::kSocks4, dante.port(), "label"), true},
      {"SOCKS5", at(K::kSocks5, dante.port()), true},
      {"SOCKS5 with a password",
       at(K::kSocks5, checking.port(), checking.user(), checking.password()), true},
      {"gateway, passive", at(K::kUserWithoutLogon, gateway.port()), true},
      {"gateway, active", at(K::kUserWithoutLogon, gateway.port()), false},
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
    // Several files in a row. ftp-proxy answers PASV itself, possibly before it relays the
    // server's 226 for the file before: a passive request sent ahead would get its answers
    // crossed, so none is sent through a gateway.
    GetMatching(traced.session, "/dir/*", local.path().string());
    for (const char* name : {"x1", "x2", "x3"}) EXPECT_EQ(ReadFile(local / name), name);
    const bool gated = row.proxy.kind == K::kUserWithoutLogon;
    EXPECT_THAT(traced.Commands(),
                ::testing::IsSupersetOf({gated ? "USER " + gateway.GatewayUser(server.user())
                                               : "USER " + server.user(), std::string("PASS ****")}));
  }
  session.set_proxy(at(K::kSocks5, dante.port()));
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
