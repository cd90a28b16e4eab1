// The engine through real proxies on loopback: dante (SOCKS4, SOCKS5, SOCKS5 with a password;
// active mode refused, an unreachable server) and ftp-proxy (USER user@host:port).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ftp/get_file.h"
#include "ftp/get_matching.h"
#include "tests/ftp/engine_test_util.h"
#include "tests/support/test_servers.h"

namespace pullwire::ftp {
namespace {

using namespace pullwire::testing;
using namespace test;
using ::testing::HasSubstr;

ProxySettings Proxy(ProxyKind kind, int port, std::string user = {}, std::string password = {}) {
  return {kind, "127.0.0.1", static_cast<std::uint16_t>(port), std::move(user),
          std::move(password)};
}

// Logs in through `proxy`, lists, and fetches a file in passive mode; content compared.
void FetchThrough(const PyFtpd& server, const ProxySettings& proxy) {
  TempDir local;
  Session session;
  session.set_timeout(5s);
  session.set_transfer_type(TransferType::kImage);
  session.set_proxy(proxy);
  session.Login(LoginFor(server));
  EXPECT_EQ(session.ListTable().size(), 1u);
  GetFile(session, "via.bin", local.path().string());
  EXPECT_TRUE(ReadFile(local / "via.bin") == PatternBytes(100000, 5));
  session.Logout();
}

TEST(EngineProxy, DanteCarriesSocks4AndSocks5AndChecksThePassword) {
  std::string why;
  if (!Dante::Available(SocksAuth::kUsername, &why)) GTEST_SKIP() << why;
  PyFtpd server;
  WriteFile(server.root() / "via.bin", PatternBytes(100000, 5));
  Dante dante;
  Dante checking(SocksAuth::kUsername);
  for (const auto& [name, proxy] : {
           std::pair{"SOCKS4 with a user id", Proxy(ProxyKind::kSocks4, dante.port(), "label")},
           std::pair{"SOCKS5", Proxy(ProxyKind::kSocks5, dante.port())},
           std::pair{"SOCKS5 with a password", Proxy(ProxyKind::kSocks5, checking.port(),
                                                     checking.user(), checking.password())}}) {
    SCOPED_TRACE(name);
    FetchThrough(server, proxy);
  }

  TempDir local;
  Session session;
  session.set_timeout(5s);
  session.set_proxy(Proxy(ProxyKind::kSocks5, checking.port(), checking.user(), "not-the-pw"));
  const FtpError wrong = CatchFtpError([&] { session.Login(LoginFor(server)); });
  EXPECT_EQ(wrong.code(), ErrorCode::kProxyFailed);
  EXPECT_THAT(wrong.what(), HasSubstr("user name or password refused for ftptest"));
  EXPECT_THAT(wrong.what(), ::testing::Not(HasSubstr("not-the-pw")));
  session.set_proxy(Proxy(ProxyKind::kSocks5, checking.port()));
  ExpectFtpError([&] { session.Login(LoginFor(server)); }, ErrorCode::kProxyFailed,
                 "the proxy requires a user name and password");

  session.set_proxy(Proxy(ProxyKind::kSocks5, dante.port()));
  session.set_passive(false);
  session.Login(LoginFor(server));
  ExpectFtpError([&] { GetFile(session, "via.bin", local.path().string()); },
                 ErrorCode::kActiveThroughSocks, "active mode does not work through a SOCKS proxy");
  EXPECT_TRUE(session.logged_in());
  ExpectFtpError([&] { session.Login(LoginAt("127.0.0.1", UnusedPort())); },
                 ErrorCode::kProxyFailed, "SOCKS5 proxy cannot connect to 127.0.0.1 port");
}

TEST(EngineProxy, FtpProxyGatewayWithUserAtHostInBothModes) {
  std::string why;
  if (!FtpProxy::Available(&why)) GTEST_SKIP() << why;
  PyFtpd server;
  WriteFile(server.root() / "via.bin", PatternBytes(100000, 5));
  for (const char* name : {"x1", "x2", "x3"}) WriteFile(server.root() / "dir" / name, name);
  FtpProxy gateway(server.port());
  for (const bool passive : {true, false}) {
    SCOPED_TRACE(passive ? "passive" : "active");
    TracedSession traced;
    TempDir local;
    traced.session.set_proxy(Proxy(ProxyKind::kUserWithoutLogon, gateway.port()));
    traced.session.set_passive(passive);
    traced.session.set_transfer_type(TransferType::kImage);
    traced.session.Login(LoginFor(server));
    GetFile(traced.session, "via.bin", local.path().string());
    EXPECT_TRUE(ReadFile(local / "via.bin") == PatternBytes(100000, 5));
    // Several files in a row. ftp-proxy answers PASV itself, possibly before it relays the
    // server's 226 for the file before: a passive request sent ahead would get its answers
    // crossed, so none is sent through a gateway.
    GetMatching(traced.session, "/dir/*", local.path().string());
    for (const char* name : {"x1", "x2", "x3"}) EXPECT_EQ(ReadFile(local / name), name);
    traced.session.Delete("via.bin");
    WriteFile(server.root() / "via.bin", PatternBytes(100000, 5));
    const std::vector<std::string> commands = traced.Commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(commands[0], "USER " + gateway.GatewayUser(server.user()));
    EXPECT_EQ(commands[1], "PASS ****");
  }

  FtpProxy nowhere(UnusedPort());
  Session session;
  session.set_timeout(5s);
  session.set_proxy(Proxy(ProxyKind::kUserWithoutLogon, nowhere.port()));
  ExpectFtpError([&] { session.Login(LoginAt("127.0.0.1", nowhere.target_port(), "anna")); },
                 ErrorCode::kProxyFailed, "the FTP proxy closed the connection after USER anna@127.0.0.1:");
}

}  // namespace
}  // namespace pullwire::ftp
