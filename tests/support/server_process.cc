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

pid_t StartProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                   const std::filesystem::path& err) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  const auto output = [](const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  };
  const int fds[] = {::open("/dev/null", O_RDONLY | O_CLOEXEC), output(out), output(err)};
  const pid_t parent = ::getpid();
  const pid_t pid = (fds[0] < 0 || fds[1] < 0 || fds[2] < 0) ? -1 : ::fork();
  if (pid == 0) {  // async-signal-safe calls only: the test may have other threads
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(126);
    for (int i : {0, 1, 2}) ::dup2(fds[i], i);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  const int error = errno;
  for (int fd : fds) ::close(fd);
  if (pid < 0) throw std::system_error(error, std::generic_category(), "start " + argv[0]);
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
  const pid_t pid = StartProcess(argv, outputs / "out", outputs / "err");
  for (const auto deadline = Clock::now() + bound; Clock::now() < deadline;) {
    if (meanwhile) meanwhile(pid);
    if (Ended(pid, meanwhile ? 10ms : bound)) break;
  }
  return {KillAndReap(pid), ReadFile(outputs / "out"), ReadFile(outputs / "err")};
}

}  // namespace pullwire::testing
