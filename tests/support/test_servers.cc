// Real FTP servers and proxies on loopback for tests and benchmarks, as RAII fixtures.
#include "tests/support/test_servers.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <fmt/core.h>

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kPython[] = "/usr/bin/python3";

std::string Seconds(std::chrono::seconds lifetime) { return std::to_string(lifetime.count()); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ReadIfThere(const fs::path& path) {
  std::error_code error;
  if (!fs::exists(path, error)) return {};
  return ReadFile(path);
}

const char* RetrFaultName(RetrFault fault) {
  switch (fault) {
    case RetrFault::kNone: return "none";
    case RetrFault::kAbort426: return "426";
    case RetrFault::kSilent226: return "silent226";
    case RetrFault::kReset: return "reset";
    case RetrFault::kHang: return "hang";
    case RetrFault::kNoReply: return "noreply";
  }
  return "none";
}

// serve.py runs the non-Python servers: one place generates their configs, for tests and bench.
std::unique_ptr<ServerProcess> StartWithServe(const TempDir& work, std::chrono::seconds lifetime,
                                              std::vector<std::string> server_args) {
  std::vector<std::string> argv = {kPython, (ServersDir() / "serve.py").string(), "--workdir",
                                   (work / "serve").string(), "--lifetime", Seconds(lifetime)};
  argv.insert(argv.end(), server_args.begin(), server_args.end());
  return std::make_unique<ServerProcess>(ProcessSpec{argv, work / "serve.stderr"});
}

bool Executable(const char* path, std::string* reason) {
  if (::access(path, X_OK) == 0) return true;
  if (reason) *reason = fmt::format("{} is not installed", path);
  return false;
}

bool SystemUserExists(std::string* reason) {
  if (::getpwnam(kSystemUser) != nullptr) return true;
  if (reason) {
    *reason = fmt::format("the system user {} does not exist (tests/support/prepare-machine.sh "
                          "creates it as root)", kSystemUser);
  }
  return false;
}

bool IsRoot(std::string_view who, std::string* reason) {
  if (::geteuid() == 0) return true;
  if (reason) *reason = fmt::format("{} needs root to switch to the logged-in user", who);
  return false;
}

}  // namespace

// --- PyFtpd ----------------------------------------------------------------------------------

PyFtpd::PyFtpd(PyFtpdOptions options) : options_(std::move(options)), work_("pyftpd") {
  root_ = options_.root.empty() ? work_ / "root" : options_.root;
  fs::create_directories(root_);
  std::vector<std::string> argv = {
      kPython, (ServersDir() / "pyftpd.py").string(), "--port", "0",
      "--root", root_.string(), "--user", options_.user, "--password", options_.password,
      "--lifetime", Seconds(options_.lifetime),
      "--command-log", (work_ / "commands.log").string()};
  if (options_.ipv6) argv.push_back("--ipv6");
  if (!options_.mlsd) argv.push_back("--no-mlsd");
  if (options_.listing == ListingFormat::kDos) argv.insert(argv.end(), {"--listing", "dos"});
  if (!options_.list_inject.empty()) {
    std::string lines;
    for (const auto& line : options_.list_inject) lines += line + "\n";
    WriteFile(work_ / "inject.txt", lines);
    argv.insert(argv.end(), {"--list-inject", (work_ / "inject.txt").string()});
  }
  if (options_.retr_fault != RetrFault::kNone) {
    argv.insert(argv.end(), {"--retr-fault", RetrFaultName(options_.retr_fault),
                             "--fault-after", std::to_string(options_.fault_after),
                             "--fault-nth", std::to_string(options_.fault_nth)});
    if (!options_.fault_name.empty()) argv.insert(argv.end(), {"--fault-name", options_.fault_name});
  }
  for (const auto& stall : options_.stalls) {
    std::string spec = fmt::format("{}={}", stall.command, stall.seconds);
    if (stall.nth > 0) spec += fmt::format("@{}", stall.nth);
    argv.insert(argv.end(), {"--stall", spec});
  }
  for (const auto& refusal : options_.refusals) {
    std::string spec = refusal.command;
    if (!refusal.argument.empty()) spec += ":" + refusal.argument;
    argv.insert(argv.end(), {"--refuse", spec + "=" + refusal.reply});
  }
  if (options_.throttle > 0) argv.insert(argv.end(), {"--throttle", std::to_string(options_.throttle)});
  if (options_.max_sessions > 0) argv.insert(argv.end(), {"--max-sessions", std::to_string(options_.max_sessions)});
  if (!options_.masquerade.empty()) argv.insert(argv.end(), {"--masquerade", options_.masquerade});
  if (options_.low_port) argv.push_back("--low-port");
  process_ = std::make_unique<ServerProcess>(ProcessSpec{argv, work_ / "stderr.log"});
}

PyFtpd::~PyFtpd() = default;

std::vector<std::string> PyFtpd::CommandLog() const {
  return Lines(ReadIfThere(work_ / "commands.log"));
}

// --- Vsftpd ----------------------------------------------------------------------------------

bool Vsftpd::Available(std::string* reason) {
  return Executable("/usr/sbin/vsftpd", reason) && IsRoot("vsftpd", reason) &&
         SystemUserExists(reason);
}

Vsftpd::Vsftpd(VsftpdOptions options) : work_("vsftpd") {
  std::string why;
  if (!Available(&why)) throw std::runtime_error("vsftpd cannot run here: " + why);
  root_ = options.root.empty() ? work_ / "root" : options.root;
  fs::create_directories(root_);
  // The chroot's parents must be traversable by the FTP account; ours is a 0700 temp folder.
  fs::permissions(work_.path(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  std::vector<std::string> server_args = {"vsftpd", "--root", root_.string()};
  if (options.low_port) server_args.insert(server_args.begin(), "--low-port");
  if (options.tls != VsftpdTls::kNone) {
    server_args.insert(server_args.end(),
                       {"--tls", options.tls == VsftpdTls::kExplicit ? "explicit" : "implicit",
                        "--cert-names", options.certificate_names});
  }
  process_ = StartWithServe(work_, options.lifetime, std::move(server_args));
}

Vsftpd::~Vsftpd() = default;

void Vsftpd::GrantTree() const {
  const passwd* account = ::getpwnam(kSystemUser);
  if (account == nullptr) throw std::runtime_error(fmt::format("no user {}", kSystemUser));
  auto grant = [&](const fs::path& path) {
    if (::lchown(path.c_str(), account->pw_uid, account->pw_gid) != 0) {
      throw std::system_error(errno, std::generic_category(), "chown " + path.string());
    }
    if (fs::is_directory(fs::symlink_status(path))) {
      fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec,
                      fs::perm_options::add);
    }
  };
  grant(root_);
  for (const auto& entry : fs::recursive_directory_iterator(root_)) grant(entry.path());
}

std::string Vsftpd::Log() const { return ReadIfThere(work_ / "serve" / "vsftpd.log"); }

// --- Dante -----------------------------------------------------------------------------------

bool Dante::Available(SocksAuth auth, std::string* reason) {
  if (!Executable("/usr/sbin/danted", reason)) return false;
  if (auth == SocksAuth::kNone) return true;
  return IsRoot("dante's username method", reason) && SystemUserExists(reason);
}

Dante::Dante(SocksAuth auth, std::chrono::seconds lifetime) : work_("dante") {
  std::string why;
  if (!Available(auth, &why)) throw std::runtime_error("dante cannot run here: " + why);
  process_ = StartWithServe(work_, lifetime,
                            {"dante", "--auth", auth == SocksAuth::kNone ? "none" : "username"});
}

Dante::~Dante() = default;

std::string Dante::Log() const { return ReadIfThere(work_ / "serve" / "danted.log"); }

// --- Microsocks ------------------------------------------------------------------------------

bool Microsocks::Available(std::string* reason) {
  return Executable("/usr/bin/microsocks", reason);
}

Microsocks::Microsocks(std::string user, std::string password, std::chrono::seconds lifetime)
    : user_(std::move(user)), password_(std::move(password)), work_("microsocks") {
  std::vector<std::string> args = {"microsocks"};
  if (!user_.empty()) args.insert(args.end(), {"--user", user_, "--password", password_});
  process_ = StartWithServe(work_, lifetime, args);
}

Microsocks::~Microsocks() = default;

// --- FtpProxy --------------------------------------------------------------------------------

bool FtpProxy::Available(std::string* reason) { return Executable("/usr/sbin/ftp-proxy", reason); }

FtpProxy::FtpProxy(int target_port, std::chrono::seconds lifetime)
    : target_port_(target_port), work_("ftp-proxy") {
  process_ = StartWithServe(work_, lifetime,
                            {"ftp-proxy", "--target-port", std::to_string(target_port_)});
}

FtpProxy::~FtpProxy() = default;

std::string FtpProxy::GatewayUser(std::string_view user) const {
  return fmt::format("{}@{}:{}", user, kLoopback, target_port_);
}

std::string FtpProxy::Log() const { return ReadIfThere(work_ / "serve" / "ftp-proxy.log"); }

// --- ScriptedFtp -----------------------------------------------------------------------------

ScriptedFtp::ScriptedFtp(std::string_view script_json, ScriptedFtpOptions options)
    : host_(options.ipv6 ? "::1" : kLoopback), work_("scripted") {
  WriteFile(work_ / "script.json", script_json);
  std::vector<std::string> argv = {
      kPython, (ServersDir() / "scripted_ftp.py").string(), "--port", "0", "--host", host_,
      "--script", (work_ / "script.json").string(),
      "--transcript", (work_ / "transcript.txt").string(),
      "--lifetime", Seconds(options.lifetime)};
  if (options.tls) argv.push_back("--tls");
  process_ = std::make_unique<ServerProcess>(ProcessSpec{argv, work_ / "stderr.log"});
}

ScriptedFtp::~ScriptedFtp() = default;

std::vector<std::string> ScriptedFtp::Transcript() const {
  return Lines(ReadIfThere(work_ / "transcript.txt"));
}

bool ScriptedFtp::WaitFinished(std::chrono::milliseconds bound) {
  auto code = process_->WaitExit(bound);
  return code && *code == 0;
}

std::string ScriptedFtp::Failure() const {
  std::string report = ReadIfThere(work_ / "stderr.log");
  while (!report.empty() && (report.back() == '\n' || report.back() == '\r')) report.pop_back();
  return report;
}

}  // namespace pullwire::testing
