// Real FTP servers and proxies on loopback for tests, as RAII fixtures.
#include "tests/support/test_servers.h"

#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <fmt/ranges.h>

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadIfThere(const fs::path& path) {
  std::error_code error;
  return fs::exists(path, error) ? ReadFile(path) : std::string();
}

std::vector<std::string> Lines(const fs::path& path) {
  std::istringstream in(ReadIfThere(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

bool Served::CanRun(const char* program, bool as_user, std::string* reason) {
  const char* missing = ::access(program, X_OK) != 0         ? "to be installed"
                        : !as_user                           ? nullptr
                        : ::geteuid() != 0                   ? "root, to switch users"
                        : ::getpwnam(kSystemUser) == nullptr ? "ftptest (prepare-machine.sh)"
                                                             : nullptr;
  if (missing && reason) *reason = fmt::format("{} needs {}", program, missing);
  return missing == nullptr;
}

Served::Served(std::string_view kind, std::string user, std::string password)
    : work_(kind), user_(std::move(user)), password_(std::move(password)),
      root_(work_ / "root") {
  fs::create_directories(root_);
}

void Served::Serve(std::vector<std::string> args, bool low_port) {
  std::vector<std::string> argv = {
      "/usr/bin/python3", PULLWIRE_SOURCE_DIR "/tests/support/servers/serve.py", "--workdir",
      work_.path().string(), "--lifetime", "300"};
  if (low_port) argv.push_back("--low-port");
  argv.insert(argv.end(), args.begin(), args.end());
  pid_ = StartProcess(argv, work_ / "stdout.log", work_ / "stderr.log");
  const auto ready = [this] { return std::ranges::count(Lines(work_ / "stdout.log"), "READY"); };
  bool ended = false;
  for (const auto deadline = std::chrono::steady_clock::now() + 20s;
       !ready() && !ended && std::chrono::steady_clock::now() < deadline;) {
    ended = Ended(pid_, 10ms);
  }
  port_ = std::atoi(Fact("PORT").c_str());
  if (ready() && port_ > 0) return;
  exit_code_ = KillAndReap(std::exchange(pid_, -1));
  throw std::runtime_error(fmt::format(
      "serve.py {}: {} (exit code {}); its error output: {}", args.front(),
      ended ? "ended before it was ready" : "not ready within 20 s", exit_code_,
      ReadFile(work_ / "stderr.log")));
}

Served::~Served() {
  if (pid_ < 0) return;
  ::kill(-pid_, SIGTERM);
  Ended(pid_, 2s);
  KillAndReap(pid_);
}

std::string Served::Fact(const std::string& key) const {
  for (const std::string& line : Lines(work_ / "stdout.log")) {
    if (line.starts_with(key + " ")) return line.substr(key.size() + 1);
  }
  return {};
}

std::vector<std::string> Served::Received() const { return Lines(work_ / "commands.log"); }

PyFtpd::PyFtpd(PyFtpdOptions o) : Served("pyftpd", "pullwire", "pullwire-pw") {
  static constexpr const char* kFaults[] = {"none", "426", "silent226", "hang", "noreply"};
  std::vector<std::string> args = {
      "pyftpd", "--root", root().string(), "--user", user(), "--password", password(),
      "--retr-fault", kFaults[static_cast<int>(o.retr_fault)],
      "--fault-after", std::to_string(o.fault_after), "--fault-nth", std::to_string(o.fault_nth),
      "--fault-name", o.fault_name.empty() ? "*" : o.fault_name,
      "--throttle", std::to_string(o.throttle), "--max-sessions", std::to_string(o.max_sessions),
      "--masquerade", o.masquerade, "--ipv6", std::to_string(o.ipv6), "--mlsd",
      std::to_string(o.mlsd)};
  for (const std::string& line : o.list_inject) args.push_back("--inject=" + line);
  for (const Stall& s : o.stalls) {
    args.push_back(fmt::format("--stall={} {} {}", s.command, s.seconds, s.nth));
  }
  for (const Refusal& r : o.refusals) {
    args.insert(args.end(), {"--refuse", r.command, r.argument, r.reply});
  }
  Serve(std::move(args), o.low_port);
}

Vsftpd::Vsftpd(VsftpdOptions o) : Served("vsftpd") {
  GrantTree();
  // The chroot's parents must be traversable by the FTP account; ours is a 0700 temp folder.
  fs::permissions(work_.path(), fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  static constexpr const char* kTls[] = {"none", "explicit", "implicit"};
  Serve({"vsftpd", "--root", root().string(), "--tls", kTls[static_cast<int>(o.tls)],
         "--cert-names", o.certificate_names},
        o.low_port);
}

void Vsftpd::GrantTree() const {
  const CommandResult done =
      RunCommand({"sh", "-c", R"(chown -Rh "$0:" "$1" && chmod -R u+rwX,go+rX "$1")", kSystemUser,
                  root().string()});
  if (done.exit_code != 0) throw std::runtime_error("GrantTree: " + done.err);
}

std::string Vsftpd::Log() const { return ReadIfThere(work_ / "vsftpd.log"); }


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
  return fmt::format("{}", fmt::join(Lines(work_ / "stderr.log"), "\n"));
}

}  // namespace pullwire::testing
