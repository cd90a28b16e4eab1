// Child processes for tests: client commands run with a bound, and the servers' launcher.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace pullwire::testing {

using namespace std::chrono_literals;

// What a command run to completion printed and how it ended.
struct CommandResult {
  int exit_code = -1;  // the process's exit code; 128 + N when signal N ended it
  std::string out;
  std::string err;
};
// Runs argv (argv[0] looked up on PATH) with stdin from /dev/null, capturing both outputs; kills
// it (and its process group) when it outlives `bound`. For client programs: curl, pullwire.
// `meanwhile`, when given, is called with the child's pid every few milliseconds while it runs
// (to signal it at the right moment).
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds bound = 30s,
                         const std::function<void(pid_t)>& meanwhile = {});

// Starts argv in a process group of its own, with stdin from /dev/null; it gets SIGTERM when
// the calling thread ends.
pid_t StartProcess(const std::vector<std::string>& argv, int out_fd, int err_fd);
// True once pid has ended (it stays unreaped), waiting up to `bound`.
bool Ended(pid_t pid, std::chrono::milliseconds bound);
// Kills what is left of pid's process group and reaps pid: its exit code.
int KillAndReap(pid_t pid);

}  // namespace pullwire::testing
