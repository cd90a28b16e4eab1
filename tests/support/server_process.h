// Child processes for tests: servers in their own process group, and client commands with a bound.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace pullwire::testing {

using namespace std::chrono_literals;

// What a command run to completion printed and how it ended.
struct CommandResult {
  int exit_code = -1;  // the process's exit code; 128 + N when signal N ended it
  bool timed_out = false;  // killed because it outlived its bound
  std::string out;
  std::string err;
};
// Runs argv (argv[0] looked up on PATH) with stdin from /dev/null, capturing both outputs; kills
// it (and its process group) when it outlives `bound`. For client programs: curl, python3 ftplib.
// `meanwhile`, when given, is called with the child's pid every few milliseconds while it runs
// (to signal it at the right moment).
CommandResult RunCommand(const std::vector<std::string>& argv,
                         std::chrono::milliseconds bound = 30s,
                         const std::function<void(pid_t)>& meanwhile = {});

// True while a process of the group lives (zombies waiting to be reaped do not count).
bool ProcessGroupAlive(pid_t group);

struct ProcessSpec {
  std::vector<std::string> argv;       // argv[0] is an absolute path
  std::filesystem::path stderr_file;   // the server's stderr goes here; empty: /dev/null
  std::chrono::milliseconds ready_bound = 10s;
};

// A server child in its own process group. Ready means it printed its port on stdout: either a
// line holding only the number, or serve.py's "KEY value" lines ("PORT n", "PID n", ...) ended
// by "READY". The constructor throws (after stopping the child) when that does not happen within
// ready_bound or the child exits first.
class ServerProcess {
 public:
  explicit ServerProcess(ProcessSpec spec);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int port() const { return port_; }
  // The child, leader of its process group (for serve.py the launcher; Info("PID") is the
  // server it started).
  pid_t pid() const { return pid_; }
  // A "KEY value" line the server printed before READY ("PID", "PASSIVE", ...); empty if none.
  std::string Info(const std::string& key) const;
  // True while the child has not exited.
  bool Running();
  // Waits up to `bound` for the child to exit by itself; its exit code (128 + N for signal N).
  std::optional<int> WaitExit(std::chrono::milliseconds bound);
  // SIGTERM to the process group, SIGKILL after `bound`, reaps. Idempotent.
  void Stop(std::chrono::milliseconds bound = 2s);
  // What the child wrote to its stderr file so far.
  std::string StderrText() const;

 private:
  std::string Name() const;
  void Spawn();
  void AwaitReady();
  void Reap(std::chrono::milliseconds bound);

  ProcessSpec spec_;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  int port_ = 0;
  std::optional<int> exit_code_;
  std::map<std::string, std::string> info_;
};

}  // namespace pullwire::testing
