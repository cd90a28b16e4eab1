// Self-tests of the vsftpd, dante, microsocks and ftp-proxy fixtures for what the engine tests,
// which transfer through each of them, do not show: vsftpd's given root, passive block and log,
// and that no fixture leaves a process behind.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
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

TEST(VsftpdFixture, ServesTheGivenRootWithItsOwnPassiveBlockAndLog) {
  std::string why;
  if (!Vsftpd::Available(&why)) GTEST_SKIP() << why;
  TempDir base;
  std::filesystem::permissions(base.path(), std::filesystem::perms::others_exec,
                               std::filesystem::perm_options::add);
  std::string content = PatternBytes(150000, 11);
  WriteFile(base / "root/data.bin", content);
  Vsftpd server(VsftpdOptions{base / "root"});

  CommandResult fetched = RunCommand(CurlArgs(server.user(), server.password(),
                                              {FtpUrl(server.port(), "data.bin")}));
  CommandResult pasv = RunCommand(
      ProbeArgs(server.port(), server.user(), server.password(), {"quote:PASV"}));

  EXPECT_TRUE(fetched.out == content) << fetched.err;
  EXPECT_THAT(server.Log(), HasSubstr("FTP command: Client \"127.0.0.1\", \"RETR data.bin\""));
  ASSERT_THAT(server.PassivePorts(), ::testing::MatchesRegex("[0-9]+-[0-9]+"));
  int low = std::stoi(server.PassivePorts());
  int high = std::stoi(server.PassivePorts().substr(server.PassivePorts().find('-') + 1));
  int p1 = 0, p2 = 0;
  ASSERT_EQ(std::sscanf(pasv.out.c_str(), "227 Entering Passive Mode (127,0,0,1,%d,%d)", &p1,
                        &p2), 2) << pasv.out;
  EXPECT_GE(p1 * 256 + p2, low);
  EXPECT_LE(p1 * 256 + p2, high);
  EXPECT_LT(high, 32768);
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

TEST(DanteFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<Dante>(SocksAuth::kNone); }

TEST(MicrosocksFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<Microsocks>(); }

TEST(FtpProxyFixture, LeavesNoProcessBehind) { ExpectNoProcessLeft<FtpProxy>(UnusedPort()); }

}  // namespace
}  // namespace pullwire::testing
