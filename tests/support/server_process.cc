// Child processes for tests: servers in their own process group, and client commands with a bound.
#include "tests/support/server_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include <fmt/core.h>
#include <fmt/ranges.h>

#include "tests/support/test_files.h"

namespace pullwire::testing {
namespace {

namespace fs = std::filesystem;

using Clock = std::chrono::steady_clock;

[[noreturn]] void ThrowErrno(std::string_view what) {
  throw std::system_error(errno, std::generic_category(), std::string(what));
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const auto& arg : argv) pointers.push_back(const_cast<char*>(arg.c_str()));
  pointers.push_back(nullptr);
  return pointers;
}

// What the child does between fork and exec: only async-signal-safe calls, since the test
// process may have other threads.
struct ChildSetup {
  int stdin_fd;
  int stdout_fd;
  int stderr_fd;
  pid_t parent;
};

[[noreturn]] void ExecChild(const ChildSetup& setup, char* const* argv) {
  ::setpgid(0, 0);
  // Servers die with the test that started them, whatever way the test ends.
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (::getppid() != setup.parent) ::_exit(126);
  ::dup2(setup.stdin_fd, STDIN_FILENO);
  ::dup2(setup.stdout_fd, STDOUT_FILENO);
  ::dup2(setup.stderr_fd, STDERR_FILENO);
  sigset_t none;
  ::sigemptyset(&none);
  ::sigprocmask(SIG_SETMASK, &none, nullptr);
  ::execv(argv[0], argv);
  static constexpr char kMessage[] = "exec failed: ";
  ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  ::write(STDERR_FILENO, argv[0], std::strlen(argv[0]));
  ::write(STDERR_FILENO, "\n", 1);
  ::_exit(127);
}

// The program's path as execvp would find it; looked up before fork, where allocating is safe.
std::string ResolveProgram(const std::string& program) {
  if (program.find('/') != std::string::npos) return program;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');) {
    fs::path candidate = fs::path(folder.empty() ? "." : folder) / program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate.string();
  }
  return program;  // exec fails and the child reports it
}

pid_t SpawnChild(std::vector<std::string> argv, int stdout_fd, int stderr_fd, bool search_path) {
  if (argv.empty()) throw std::invalid_argument("no program to start");
  if (search_path) argv[0] = ResolveProgram(argv[0]);
  auto pointers = ArgvPointers(argv);
  int null_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null_fd < 0) ThrowErrno("open /dev/null");
  ChildSetup setup{null_fd, stdout_fd, stderr_fd, ::getpid()};
  pid_t pid = ::fork();
  if (pid == 0) ExecChild(setup, pointers.data());
  int fork_error = errno;
  ::close(null_fd);
  if (pid < 0) throw std::system_error(fork_error, std::generic_category(), "fork");
  ::setpgid(pid, pid);  // also here, so the group exists before the parent signals it
  return pid;
}

// Waits up to `bound` for `pid` to end; its exit code, or nothing while it still runs.
std::optional<int> WaitFor(pid_t pid, std::chrono::milliseconds bound) {
  auto deadline = Clock::now() + bound;
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return ExitCodeOf(status);
    if (done < 0 && errno != EINTR) return -1;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(2ms);
  }
}

// Signals what is left of the group (children of a server that outlived it) until none lives.
void SweepGroup(pid_t group, std::chrono::milliseconds bound) {
  if (::kill(-group, SIGTERM) != 0) return;
  auto deadline = Clock::now() + bound;
  bool killed = false;
  while (ProcessGroupAlive(group)) {
    if (Clock::now() >= deadline) {
      if (killed) return;
      ::kill(-group, SIGKILL);
      killed = true;
      deadline = Clock::now() + 1s;
    }
    std::this_thread::sleep_for(5ms);
  }
}

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) ThrowErrno("pipe");
    read = fds[0];
    write = fds[1];
  }
  ~Pipe() {
    CloseRead();
    CloseWrite();
  }
  void CloseRead() {
    if (read >= 0) ::close(std::exchange(read, -1));
  }
  void CloseWrite() {
    if (write >= 0) ::close(std::exchange(write, -1));
  }
};

}  // namespace

bool ProcessGroupAlive(pid_t group) {
  if (::kill(-group, 0) != 0) return false;
  // kill() also reaches zombies, which hold no resources and wait only for their new parent
  // to reap them: a member counts when /proc/<pid>/stat shows it in the group and not dead.
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc", error)) {
    std::string name = entry.path().filename();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    auto close = line.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(line.substr(close + 2));
    char state = 0;
    long parent = 0, process_group = 0;
    fields >> state >> parent >> process_group;
    if (process_group == group && state != 'Z' && state != 'X') return true;
  }
  return false;
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
                         const std::function<void(pid_t)>& meanwhile) {
  Pipe out;
  Pipe err;
  pid_t pid = SpawnChild(argv, out.write, err.write, /*search_path=*/true);
  out.CloseWrite();
  err.CloseWrite();
  CommandResult result;
  auto deadline = Clock::now() + bound;
  pollfd fds[2] = {{out.read, POLLIN, 0}, {err.read, POLLIN, 0}};
  std::string* sinks[2] = {&result.out, &result.err};
  int open_fds = 2;
  while (open_fds > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left <= 0ms) {
      result.timed_out = true;
      ::kill(-pid, SIGKILL);
      break;
    }
    if (meanwhile) {
      meanwhile(pid);
      left = std::min(left, std::chrono::milliseconds(10));
    }
    int ready = ::poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[65536];
      ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
      if (got > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  auto code = WaitFor(pid, result.timed_out ? 2000ms : bound);
  if (!code) {
    ::kill(-pid, SIGKILL);
    code = WaitFor(pid, 2000ms);
    result.timed_out = true;
  }
  ::kill(-pid, SIGKILL);  // anything the command left behind in its group
  result.exit_code = code.value_or(-1);
  return result;
}

ServerProcess::ServerProcess(ProcessSpec spec) : spec_(std::move(spec)) {
  Spawn();
  try {
    AwaitReady();
  } catch (...) {
    Stop();
    throw;
  }
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Spawn() {
  int stderr_fd = -1;
  if (spec_.stderr_file.empty()) {
    stderr_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  } else {
    stderr_fd = ::open(spec_.stderr_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  }
  if (stderr_fd < 0) ThrowErrno(fmt::format("open {}", spec_.stderr_file.string()));
  Pipe out;
  try {
    pid_ = SpawnChild(spec_.argv, out.write, stderr_fd, /*search_path=*/false);
  } catch (...) {
    ::close(stderr_fd);
    throw;
  }
  ::close(stderr_fd);
  out.CloseWrite();
  stdout_fd_ = std::exchange(out.read, -1);
}

void ServerProcess::AwaitReady() {
  auto deadline = Clock::now() + spec_.ready_bound;
  std::string pending;
  for (;;) {
    std::size_t newline;
    while ((newline = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, newline);
      pending.erase(0, newline + 1);
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
        port_ = std::stoi(line);
        return;
      }
      if (line == "READY") {
        port_ = std::stoi(Info("PORT").empty() ? "0" : Info("PORT"));
        if (port_ <= 0) throw std::runtime_error("server said READY without a PORT line");
        return;
      }
      auto blank = line.find(' ');
      if (blank != std::string::npos) info_[line.substr(0, blank)] = line.substr(blank + 1);
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd{stdout_fd_, POLLIN, 0};
    int ready = left > 0ms ? ::poll(&fd, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    char buffer[4096];
    ssize_t got = ready > 0 ? ::read(stdout_fd_, buffer, sizeof buffer) : -1;
    if (got > 0) {
      pending.append(buffer, static_cast<std::size_t>(got));
      continue;
    }
    std::string why = ready == 0 ? fmt::format("not ready within {} ms", spec_.ready_bound.count())
                                 : "exited before it was ready";
    Reap(ready == 0 ? 0ms : 2000ms);  // end-of-file on stdout: it is exiting
    if (exit_code_) why += fmt::format(" (exit code {})", *exit_code_);
    throw std::runtime_error(fmt::format("{}: {}; its error output: {}", Name(), why,
                                         StderrText()));
  }
}

std::string ServerProcess::Name() const {
  // "python3 .../pyftpd.py ..." is named after its script.
  bool python = fs::path(spec_.argv[0]).filename().string().starts_with("python");
  return fs::path(spec_.argv[python && spec_.argv.size() > 1 ? 1 : 0]).filename().string();
}

std::string ServerProcess::Info(const std::string& key) const {
  auto found = info_.find(key);
  return found == info_.end() ? std::string() : found->second;
}

void ServerProcess::Reap(std::chrono::milliseconds bound) {
  if (pid_ < 0 || exit_code_) return;
  exit_code_ = WaitFor(pid_, bound);
  // Right away, while the group id cannot have been handed to anyone else.
  if (exit_code_) SweepGroup(pid_, std::max(bound, std::chrono::milliseconds(100)));
}

bool ServerProcess::Running() {
  Reap(0ms);
  return pid_ > 0 && !exit_code_;
}

std::optional<int> ServerProcess::WaitExit(std::chrono::milliseconds bound) {
  Reap(bound);
  return exit_code_;
}

void ServerProcess::Stop(std::chrono::milliseconds bound) {
  if (pid_ > 0 && !exit_code_) {
    ::kill(-pid_, SIGTERM);
    Reap(bound);
    if (!exit_code_) {
      ::kill(-pid_, SIGKILL);
      Reap(bound);
    }
  }
  if (stdout_fd_ >= 0) ::close(std::exchange(stdout_fd_, -1));
}

std::string ServerProcess::StderrText() const {
  if (spec_.stderr_file.empty()) return {};
  try {
    return ReadFile(spec_.stderr_file);
  } catch (const std::exception&) {
    return {};
  }
}

}  // namespace pullwire::testing
