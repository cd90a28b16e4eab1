// Real FTP servers and proxies on loopback for tests, as RAII fixtures.
#include "tests/support/test_servers.h"

#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fmt/core.h>

#ifndef PULLWIRE_SOURCE_DIR
#error "PULLWIRE_SOURCE_DIR must name the source tree"
#endif

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadIfThere(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error) ? ReadFile(path) : std::string();
}

bool Executable(const char* path, std::string* reason) {
  if (::access(path, X_OK) == 0) return true;
  if (reason) *reason = fmt::format("{} is not installed", path);
  return false;
}

// Root, to switch to the logged-in user, and the account prepare-machine.sh makes.
bool RootAndSystemUser(std::string_view who, std::string* reason) {
  if (::geteuid() != 0) {
    if (reason) *reason = fmt::format("{} needs root to switch to the logged-in user", who);
    return false;
  }
  if (::getpwnam(kSystemUser) != nullptr) return true;
  if (reason) {
    *reason = fmt::format("the system user {} does not exist (tests/support/prepare-machine.sh "
                          "creates it as root)", kSystemUser);
  }
  return false;
}

}  // namespace

// --- Served ----------------------------------------------------------------------------------

void Served::Serve(std::vector<std::string> args) {
  std::vector<std::string> argv = {
      "/usr/bin/python3", PULLWIRE_SOURCE_DIR "/tests/support/servers/serve.py",
      "--workdir", (work_ / "serve").string(), "--log", (work_ / "received.log").string(),
      "--lifetime", "300"};
  argv.insert(argv.end(), args.begin(), args.end());
  const auto output = [this](const char* name) {  // a failure shows when ReadFile throws
    return ::open((work_ / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  };
  const int out = output("stdout.log");
  const int err = output("stderr.log");
  pid_ = StartProcess(argv, out, err);
  ::close(out);
  ::close(err);
  // serve.py prints "KEY value" lines, then "READY".
  bool ended = false;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  std::string said;
  while (said.find("READY\n") == std::string::npos && !ended &&
         std::chrono::steady_clock::now() < deadline) {
    ended = Ended(pid_, 10ms);
    said = ReadFile(work_ / "stdout.log");
  }
  std::istringstream lines(said);
  for (std::string line; std::getline(lines, line);) {
    const std::size_t blank = line.find(' ');
    if (blank != std::string::npos) facts_[line.substr(0, blank)] = line.substr(blank + 1);
  }
  port_ = std::atoi(Fact("PORT").c_str());
  if (said.find("READY\n") != std::string::npos && port_ > 0) return;
  exit_code_ = KillAndReap(std::exchange(pid_, -1));
  throw std::runtime_error(fmt::format("serve.py {}: {} (exit code {}); its error output: {}",
                                       args.front(), ended ? "ended before it was ready"
                                                           : "not ready within 20 s",
                                       exit_code_, ReadFile(work_ / "stderr.log")));
}

Served::~Served() {
  if (pid_ < 0) return;
  ::kill(-pid_, SIGTERM);
  Ended(pid_, 2s);
  KillAndReap(pid_);
}

std::string Served::Fact(const std::string& key) const {
  const auto found = facts_.find(key);
  return found == facts_.end() ? std::string() : found->second;
}

std::vector<std::string> Served::Received() const {
  std::vector<std::string> lines;
  std::istringstream in(ReadIfThere(work_ / "received.log"));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// --- PyFtpd ----------------------------------------------------------------------------------

PyFtpd::PyFtpd(PyFtpdOptions options) : Served("pyftpd"), root_(work_ / "root") {
  fs::create_directories(root_);
  static constexpr const char* kFaults[] = {"none", "426", "silent226", "reset", "hang",
                                            "noreply"};
  std::vector<std::string> args = {
      "pyftpd", "--root", root_.string(), "--user", user_, "--password", password_,
      "--listing", options.listing == ListingFormat::kDos ? "dos" : "unix",
      "--retr-fault", kFaults[static_cast<int>(options.retr_fault)],
      "--fault-after", std::to_string(options.fault_after),
      "--fault-nth", std::to_string(options.fault_nth),
      "--fault-name", options.fault_name.empty() ? "*" : options.fault_name,
      "--throttle", std::to_string(options.throttle),
      "--max-sessions", std::to_string(options.max_sessions)};
  if (options.ipv6) args.push_back("--ipv6");
  if (!options.mlsd) args.push_back("--no-mlsd");
  if (!options.masquerade.empty()) args.insert(args.end(), {"--masquerade", options.masquerade});
  for (const std::string& line : options.list_inject) args.insert(args.end(), {"--inject", line});
  for (const Stall& stall : options.stalls) {
    args.insert(args.end(), {"--stall", stall.command, fmt::format("{}", stall.seconds),
                             std::to_string(stall.nth)});
  }
  for (const Refusal& refusal : options.refusals) {
    args.insert(args.end(), {"--refuse", refusal.command, refusal.argument, refusal.reply});
  }
  if (options.low_port) args.insert(args.begin(), "--low-port");
  Serve(std::move(args));
}

// --- Vsftpd ----------------------------------------------------------------------------------

bool Vsftpd::Available(std::string* reason) {
  return Executable("/usr/sbin/vsftpd", reason) && RootAndSystemUser("vsftpd", reason);
}

Vsftpd::Vsftpd(VsftpdOptions options) : Served("vsftpd"), root_(work_ / "root") {
  std::string why;
  if (!Available(&why)) throw std::runtime_error("vsftpd cannot run here: " + why);
  fs::create_directories(root_);
  // The chroot's parents must be traversable by the FTP account; ours is a 0700 temp folder.
  fs::permissions(work_.path(), fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  std::vector<std::string> args = {"vsftpd", "--root", root_.string()};
  if (options.tls != VsftpdTls::kNone) {
    args.insert(args.end(), {"--tls", options.tls == VsftpdTls::kExplicit ? "explicit"
                                                                          : "implicit",
                             "--cert-names", options.certificate_names});
  }
  if (options.low_port) args.insert(args.begin(), "--low-port");
  Serve(std::move(args));
}

void Vsftpd::GrantTree() const {
  for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
           {"chown", "-R", "--no-dereference", std::string(kSystemUser) + ":", root_.string()},
           {"find", root_.string(), "-type", "d", "-exec", "chmod", "u+rwx,go+rx", "{}", "+"}}) {
    const CommandResult done = RunCommand(command);
    if (done.exit_code != 0) throw std::runtime_error(command.front() + " failed: " + done.err);
  }
}

std::string Vsftpd::Log() const { return ReadIfThere(work_ / "serve" / "vsftpd.log"); }

// --- Dante, Microsocks, FtpProxy -------------------------------------------------------------

bool Dante::Available(SocksAuth auth, std::string* reason) {
  return Executable("/usr/sbin/danted", reason) &&
         (auth == SocksAuth::kNone || RootAndSystemUser("dante's username method", reason));
}

Dante::Dante(SocksAuth auth) : Served("dante") {
  std::string why;
  if (!Available(auth, &why)) throw std::runtime_error("dante cannot run here: " + why);
  Serve({"dante", "--auth", auth == SocksAuth::kNone ? "none" : "username"});
}

bool Microsocks::Available(std::string* reason) {
  return Executable("/usr/bin/microsocks", reason);
}

bool FtpProxy::Available(std::string* reason) { return Executable("/usr/sbin/ftp-proxy", reason); }

FtpProxy::FtpProxy(int target_port) : Served("ftp-proxy"), target_port_(target_port) {
  Serve({"ftp-proxy", "--target-port", std::to_string(target_port_)});
}

std::string FtpProxy::GatewayUser(std::string_view user) const {
  return fmt::format("{}@{}:{}", user, kLoopback, target_port_);
}

// --- ScriptedFtp -----------------------------------------------------------------------------

ScriptedFtp::ScriptedFtp(std::string_view script_json, ScriptedFtpOptions options)
    : Served("scripted") {
  WriteFile(work_ / "script.json", script_json);
  std::vector<std::string> args = {"scripted", "--script", (work_ / "script.json").string()};
  if (options.tls) args.push_back("--tls");
  Serve(std::move(args));
}

bool ScriptedFtp::WaitFinished(std::chrono::milliseconds bound) {
  if (pid_ >= 0 && Ended(pid_, bound)) exit_code_ = KillAndReap(std::exchange(pid_, -1));
  return exit_code_ == 0;
}

std::string ScriptedFtp::Failure() const {
  std::string report = ReadIfThere(work_ / "stderr.log");
  while (!report.empty() && (report.back() == '\n' || report.back() == '\r')) report.pop_back();
  return report;
}

}  // namespace pullwire::testing
