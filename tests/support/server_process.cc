// Child processes for tests: client commands run with a bound, and the servers' launcher.
#include "tests/support/server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

#include "tests/support/test_files.h"

namespace pullwire::testing {

using Clock = std::chrono::steady_clock;

pid_t StartProcess(const std::vector<std::string>& argv, int out_fd, int err_fd) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
  if (pid == 0) {  // async-signal-safe calls only: the test may have other threads
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    ::dup2(::open("/dev/null", O_RDONLY | O_CLOEXEC), STDIN_FILENO);
    ::dup2(out_fd, STDOUT_FILENO);
    ::dup2(err_fd, STDERR_FILENO);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvp(args[0], args.data());
    static constexpr char kFailed[] = "exec failed\n";
    ::write(STDERR_FILENO, kFailed, sizeof kFailed - 1);
    ::_exit(127);
  }
  ::setpgid(pid, pid);  // here too, so that the group exists before the parent signals it
  return pid;
}

bool Ended(pid_t pid, std::chrono::milliseconds bound) {
  for (const auto deadline = Clock::now() + bound;; std::this_thread::sleep_for(2ms)) {
    siginfo_t info{};
    const int got = ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if ((got < 0 && errno != EINTR) || info.si_pid == pid) return true;
    if (Clock::now() >= deadline) return false;
  }
}

int KillAndReap(pid_t pid) {
  ::kill(-pid, SIGKILL);  // while pid is unreaped, its group id cannot be anyone else's
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

CommandResult RunCommand(const std::vector<std::string>& argv, std::chrono::milliseconds bound,
                         const std::function<void(pid_t)>& meanwhile) {
  const TempDir outputs("command");
  const auto output = [&outputs](const char* name) {  // a failure shows when ReadFile throws
    return ::open((outputs / name).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  };
  const int out = output("out");
  const int err = output("err");
  const pid_t pid = StartProcess(argv, out, err);
  ::close(out);
  ::close(err);
  for (const auto deadline = Clock::now() + bound; Clock::now() < deadline;) {
    if (meanwhile) meanwhile(pid);
    if (Ended(pid, meanwhile ? 10ms : bound)) break;
  }
  const int exit_code = KillAndReap(pid);
  return {exit_code, ReadFile(outputs / "out"), ReadFile(outputs / "err")};
}

}  // namespace pullwire::testing
