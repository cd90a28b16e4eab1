// Self-tests of the vsftpd, dante, microsocks and ftp-proxy fixtures: a real client gets a real
// file through each, and each leaves no process behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <optional>

#include "tests/support/selftest_clients.h"
#include "tests/support/test_servers.h"

namespace pullwire::testing {
namespace {

using ::testing::HasSubstr;

// The whole process group of a fixture's server is gone once the fixture is.
template <typename Fixture, typename... Args>
void ExpectNoProcessLeft(Args&&... args) {
  pid_t group;
  {
    Fixture fixture(std::forward<Args>(args)...);
    group = fixture.process().pid();
    ASSERT_TRUE(ProcessGroupAlive(group));
  }
  EXPECT_FALSE(ProcessGroupAlive(group)) << "process group " << group << " survived its fixture";
}

std::vector<std::string> CurlPyFtpd(const PyFtpd& server, std::string_view path,
                                    std::vector<std::string> proxy) {
  proxy.push_back(FtpUrl(server.port(), path));
  return CurlArgs(server.user(), server.password(), proxy);
}

TEST(VsftpdFixture, ServesDeletesAndRemovesAsTheSystemUser) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  TempDir base;
  std::filesystem::permissions(base.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  std::string content = PatternBytes(150000, 11);
  WriteFile(base / "root/data.bin", content);
  WriteFile(base / "root/gone.txt", "x");
  std::filesystem::create_directories(base / "root/empty");
  Vsftpd server(VsftpdOptions{base / "root"});

  CommandResult passive = RunCommand(CurlArgs(server.user(), server.password(),
                                              {FtpUrl(server.port(), "data.bin")}));
  CommandResult active = RunCommand(CurlArgs(server.user(), server.password(),
                                             {"-P", "-", FtpUrl(server.port(), "data.bin")}));
  CommandResult removal = RunCommand(CurlArgs(
      server.user(), server.password(),
      {"-Q", "DELE gone.txt", "-Q", "RMD empty", "-Q", "PASV", FtpUrl(server.port(), "")}));

  EXPECT_TRUE(passive.out == content) << passive.err;
  EXPECT_TRUE(active.out == content) << active.err;
  EXPECT_EQ(removal.exit_code, 0) << removal.err;
  EXPECT_FALSE(std::filesystem::exists(base / "root/gone.txt"));
  EXPECT_FALSE(std::filesystem::exists(base / "root/empty"));
  EXPECT_THAT(server.Log(), HasSubstr("FTP command: Client \"127.0.0.1\", \"RETR data.bin\""));
  EXPECT_THAT(server.PassivePorts(), ::testing::MatchesRegex("[0-9]+-[0-9]+"));
}

TEST(VsftpdFixture, PassiveReplyUsesTheInstancesOwnBlock) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  Vsftpd server;
  WriteFile(server.root() / "late.txt", "added after start");
  server.GrantTree();

  CommandResult result = RunCommand(
      ProbeArgs(server.port(), server.user(), server.password(), {"quote:PASV"}));
  CommandResult removal = RunCommand(CurlArgs(server.user(), server.password(),
                                              {"-Q", "DELE late.txt", FtpUrl(server.port(), "")}));

  int low = std::stoi(server.PassivePorts());
  int high = std::stoi(server.PassivePorts().substr(server.PassivePorts().find('-') + 1));
  int p1 = 0, p2 = 0;
  ASSERT_EQ(std::sscanf(result.out.c_str(), "227 Entering Passive Mode (127,0,0,1,%d,%d)", &p1,
                        &p2), 2) << result.out;
  EXPECT_GE(p1 * 256 + p2, low);
  EXPECT_LE(p1 * 256 + p2, high);
  EXPECT_LT(high, 32768);
  EXPECT_EQ(removal.exit_code, 0) << removal.err;
}

// Live processes whose command line mentions `needle` (zombies do not count).
int ProcessesMentioning(const std::string& needle) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string command_line, stat;
    try {
      command_line = ReadFile(entry.path() / "cmdline");
      stat = ReadFile(entry.path() / "stat");
    } catch (const std::exception&) {
      continue;
    }
    bool zombie = stat.find(") Z ") != std::string::npos;
    if (!zombie && command_line.find(needle) != std::string::npos) ++count;
  }
  return count;
}

// A logged-in control connection, kept open: vsftpd forks session processes for it.
class RawSession {
 public:
  explicit RawSession(int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval bound{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawSession() { ::close(fd_); }
  // Sends `line` and returns what the server answers (one read).
  std::string Say(std::string_view line) {
    if (!line.empty() && ::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) < 0) return {};
    char buffer[4096];
    ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    return got > 0 ? std::string(buffer, static_cast<std::size_t>(got)) : std::string();
  }
  bool connected() const { return connected_; }

 private:
  int fd_;
  bool connected_ = false;
};

TEST(VsftpdFixture, LeavesNoProcessBehindEvenWithASessionOpen) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  std::optional<Vsftpd> server(std::in_place);
  std::string config = server->process().Info("WORKDIR") + "/vsftpd.conf";
  pid_t group = server->process().pid();
  RawSession session(server->port());
  ASSERT_TRUE(session.connected());
  ASSERT_THAT(session.Say(""), HasSubstr("220"));
  ASSERT_THAT(session.Say(fmt::format("USER {}\r\n", kSystemUser)), HasSubstr("331"));
  ASSERT_THAT(session.Say(fmt::format("PASS {}\r\n", kSystemPassword)), HasSubstr("230"));
  // The listener and the session's processes; the session ones run in a session of their own.
  ASSERT_GE(ProcessesMentioning(config), 2);

  server.reset();

  EXPECT_EQ(ProcessesMentioning(config), 0);
  EXPECT_FALSE(ProcessGroupAlive(group));
}

TEST(DanteFixture, RelaysSocks4AndSocks5WithoutAuthentication) {
  PyFtpd ftp;
  WriteFile(ftp.root() / "a.txt", "through dante");
  Dante socks;
  std::string proxy = fmt::format("127.0.0.1:{}", socks.port());

  CommandResult v5 = RunCommand(CurlPyFtpd(ftp, "a.txt", {"--socks5", proxy}));
  CommandResult v4 = RunCommand(CurlPyFtpd(ftp, "a.txt", {"--socks4", proxy}));

  EXPECT_EQ(v5.out, "through dante") << v5.err;
  EXPECT_EQ(v4.out, "through dante") << v4.err;
}

TEST(DanteFixture, UsernameMethodChecksTheSystemPassword) {
  std::string why;
  if (!Dante::Available(SocksAuth::kUsername, &why)) GTEST_SKIP() << why;
  PyFtpd ftp;
  WriteFile(ftp.root() / "a.txt", "with a password");
  Dante socks(SocksAuth::kUsername);
  auto proxy = [&](std::string_view password) {
    return fmt::format("{}:{}@127.0.0.1:{}", socks.user(), password, socks.port());
  };

  CommandResult good = RunCommand(CurlPyFtpd(ftp, "a.txt", {"--socks5", proxy(socks.password())}));
  CommandResult bad = RunCommand(CurlPyFtpd(ftp, "a.txt", {"--socks5", proxy("wrong")}));
  CommandResult v4 = RunCommand(CurlPyFtpd(
      ftp, "a.txt", {"--socks4", fmt::format("127.0.0.1:{}", socks.port())}));

  EXPECT_EQ(good.out, "with a password") << good.err;
  EXPECT_EQ(bad.exit_code, 97) << bad.err;  // CURLE_PROXY
  EXPECT_THAT(bad.err, HasSubstr("User was rejected by the SOCKS5 server"));
  EXPECT_EQ(v4.exit_code, 97) << v4.err;
}

TEST(DanteFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<Dante>(SocksAuth::kNone); }

TEST(MicrosocksFixture, RelaysSocks5WithItsOwnPassword) {
  PyFtpd ftp;
  WriteFile(ftp.root() / "a.txt", "through microsocks");
  Microsocks open_proxy;
  Microsocks locked("puser", "ppass");

  CommandResult plain = RunCommand(CurlPyFtpd(
      ftp, "a.txt", {"--socks5", fmt::format("127.0.0.1:{}", open_proxy.port())}));
  CommandResult good = RunCommand(CurlPyFtpd(
      ftp, "a.txt", {"--socks5", fmt::format("puser:ppass@127.0.0.1:{}", locked.port())}));
  CommandResult bad = RunCommand(CurlPyFtpd(
      ftp, "a.txt", {"--socks5", fmt::format("puser:nope@127.0.0.1:{}", locked.port())}));

  EXPECT_EQ(plain.out, "through microsocks") << plain.err;
  EXPECT_EQ(good.out, "through microsocks") << good.err;
  EXPECT_EQ(bad.exit_code, 97) << bad.err;
}

TEST(MicrosocksFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<Microsocks>(); }

TEST(FtpProxyFixture, GatewayLoginReachesTheTarget) {
  PyFtpd ftp;
  std::string content = PatternBytes(100000, 5);
  WriteFile(ftp.root() / "data.bin", content);
  FtpProxy gateway(ftp.port());

  CommandResult passive = RunCommand(ProbeArgs(gateway.port(), gateway.GatewayUser(ftp.user()),
                                               ftp.password(), {"retr:data.bin"},
                                               {"--out", "/dev/stdout"}));
  CommandResult unreachable = RunCommand(ProbeArgs(
      gateway.port(), fmt::format("{}@127.0.0.1:{}", ftp.user(), UnusedPort()), ftp.password(),
      {"quote:PWD"}));

  EXPECT_EQ(gateway.GatewayUser("u"), fmt::format("u@127.0.0.1:{}", ftp.port()));
  EXPECT_TRUE(passive.out.substr(0, content.size()) == content) << passive.out.substr(content.size());
  EXPECT_THAT(ftp.CommandLog(), ::testing::Contains("USER pullwire"));
  EXPECT_THAT(unreachable.out, HasSubstr("error: EOFError"));
}

TEST(FtpProxyFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<FtpProxy>(UnusedPort()); }

}  // namespace
}  // namespace pullwire::testing
