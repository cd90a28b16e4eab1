// Child processes for tests: client commands run with a bound, and the servers' launcher.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pullwire::testing {

using namespace std::chrono_literals;

struct CommandResult {
  int exit_code = -1;  // 128 + N when signal N ended it, 127 when argv[0] could not run
  std::string out, err;
};
// Runs argv (argv[0] looked up on PATH) capturing both outputs; kills it (and its process group)
// when it outlives `bound`. `meanwhile`, when given, gets the child's pid every few milliseconds
// while it runs (to signal it at the right moment).
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds bound = 30s,
                         const std::function<void(pid_t)>& meanwhile = {});

// Starts argv in a process group of its own, stdin from /dev/null, outputs to the files `out`
// and `err`; it gets SIGTERM when the calling thread ends.
pid_t StartProcess(const std::vector<std::string>& argv, const std::filesystem::path& out,
                   const std::filesystem::path& err);
bool Ended(pid_t pid, std::chrono::milliseconds bound);  // waits; pid stays unreaped
int KillAndReap(pid_t pid);  // kills what is left of pid's group, reaps pid: its exit code

}  // namespace pullwire::testing
