// `pullwire run COMMAND_FILE`: the host's side of a run. Loads the plug-in through its exports,
// serves a message daemon under an instance of its own, executes the command and prints every
// message as it arrives, then the variable slots the run filled. On a terminal a long download
// also shows a progress line on stderr; --dry-run only tells what the run would do. SIGINT,
// SIGTERM and SIGHUP end the run through its error ending, with exit status 128 + the signal.
#include <fmt/format.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>

#include "com/error_info.h"
#include "com/runtime_folder.h"
#include "com/server_lock.h"
#include "host/command_file.h"
#include "host/commands.h"
#include "host/dry_run.h"
#include "host/host_error.h"
#include "host/message_daemon.h"
#include "host/progress_line.h"
#include "host/run_signals.h"
#include "host/toolbox_loader.h"

namespace pullwire::host {
namespace {

struct RunOptions {
  std::filesystem::path command_file;
  bool quiet = false;
  bool dry_run = false;
  std::optional<std::string> password_env;
};

// Each run serves its messages under an instance of its own, "pullwire-run-<pid>".
constexpr std::string_view kInstancePrefix = "pullwire-run-";
constexpr std::string_view kDaemonPrefix = "nrvd";
constexpr std::string_view kDaemonSuffix = ".IPCdaemon";

// The process id in a run's daemon ProgID ("nrvdpullwire-run-4711.IPCdaemon"), else 0.
pid_t RunOfDaemon(std::string_view prog_id) {
  const std::size_t prefix = kDaemonPrefix.size() + kInstancePrefix.size();
  if (prog_id.size() <= prefix + kDaemonSuffix.size() || !prog_id.ends_with(kDaemonSuffix) ||
      prog_id.substr(0, prefix) != fmt::format("{}{}", kDaemonPrefix, kInstancePrefix)) {
    return 0;
  }
  const std::string_view digits =
      prog_id.substr(prefix, prog_id.size() - prefix - kDaemonSuffix.size());
  pid_t pid = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), pid);
  return error == std::errc() && end == digits.data() + digits.size() && pid > 0 ? pid : 0;
}

// What runs that could not end cleanly (SIGKILL, a crash) left in the run-time folder: their
// daemon's socket and lock file. Only those of runs no longer alive, and only while no server
// holds the lock.
void RemoveStaleRunDaemons() {
  std::filesystem::path folder;
  if (com::Failed(com::LocalServerFolder(/*create=*/false, &folder))) {
    com::GetErrorInfo();
    return;
  }
  std::set<std::string> stale;
  try {
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
      std::string name = item.path().filename().string();
      if (name.ends_with(".lock")) name.resize(name.size() - 5);
      const pid_t pid = RunOfDaemon(name);
      if (pid != 0 && ::kill(pid, 0) != 0 && errno == ESRCH) stale.insert(name);
    }
  } catch (const std::exception&) {
    // A folder that changes while it is read: what was found is removed, the rest next time.
  }
  for (const std::string& prog_id : stale) com::RemoveStaleServerFiles(prog_id);
}

// The slots a host reads after a run, as "LocalVar(2) = a.txt", for those in use. A closed
// output loses the lines, without an error.
void PrintVariables(_Toolbox& box) {
  for (const bool global : {false, true}) {
    for (std::int16_t index = 0; index < 16; ++index) {
      VarType slot;
      const com::HRESULT hr = global ? box.get_GlobalVar(index, &slot) : box.get_LocalVar(index, &slot);
      Check(hr, fmt::format("{}({}) failed", global ? "GlobalVar" : "LocalVar", index));
      if (slot.Use == com::kVariantFalse) continue;
      const std::string line =
          fmt::format("{}({}) = {}\n", global ? "GlobalVar" : "LocalVar", index, slot.Value);
      std::fwrite(line.data(), 1, line.size(), stdout);
    }
  }
}

// The command file with the password from the environment when asked; every refusal happens
// here, before anything is loaded or connected.
CommandFile LoadCommand(const RunOptions& run) {
  CommandFile file = ReadCommandFile(run.command_file);
  RequireRunnable(file, run.command_file.string());
  if (run.password_env) {
    if (run.password_env->empty()) {
      throw CommandFileError("--password-env: the variable name is empty");
    }
    const char* password = std::getenv(run.password_env->c_str());
    if (password == nullptr) {
      throw CommandFileError(
          fmt::format("--password-env: the environment variable {} is not set", *run.password_env));
    }
    if (const std::string_view problem = UnsafeTextProblem(password); !problem.empty()) {
      throw CommandFileError(fmt::format("--password-env: the environment variable {} {}",
                                         *run.password_env, problem));
    }
    file.record[static_cast<std::size_t>(FieldIndex("Password"))] = password;
  }
  return file;
}

int Run(const RunOptions& run, const HostOptions& options) {
  const CommandFile file = LoadCommand(run);
  if (run.dry_run) {
    fmt::print("{}", DescribeRun(file, run.command_file.string(), run.password_env.value_or("")));
    return 0;
  }

  // Before the message daemon's thread starts, which inherits the blocked signals.
  RunSignals signals;
  LoadedToolbox loaded = LoadToolbox(options.library);
  _Toolbox& box = *loaded.toolbox.get();
  signals.Attach(box);
  // Progress only for a person watching: never into a pipe, a file or the host's messages.
  const com::ComPtr<ProgressLine> progress =
      !run.quiet && ::isatty(STDERR_FILENO) == 1 ? AttachProgressLine(box) : nullptr;
  MessagePrinter printer(stdout);
  RemoveStaleRunDaemons();
  const std::string instance = fmt::format("{}{}", kInstancePrefix, ::getpid());
  MessageDaemon daemon(instance, [&printer, &progress](const HostMessage& message) {
    if (progress) progress->Clear();  // a message starts at the left margin
    printer.Print(message);
  });
  Check(daemon.Start(), fmt::format("cannot serve {}", daemon.prog_id()));

  Check(box.Init(), "Init failed");
  Check(box.put_dInstance(instance), "dInstance failed");
  Check(box.put_AutoLog(run.quiet ? com::kVariantFalse : com::kVariantTrue), "AutoLog failed");
  com::Variant result;
  Check(box.Execute("PULLWIRE", RecordArray(file.record), &result), "Execute failed");
  signals.Detach(box);
  // Execute returns once the daemon has taken every message of the run: all are printed.
  daemon.Stop();
  if (progress) {
    progress->Clear();
    DetachProgressLine(box);
  }

  com::VariantBool error = com::kVariantFalse;
  Check(box.get_Error(&error), "Error failed");
  std::fflush(stdout);
  PrintVariables(box);
  std::fflush(stdout);
  if (const int signal = signals.Received(); signal != 0) return 128 + signal;
  return error == com::kVariantFalse ? 0 : 1;
}

}  // namespace

void AddRunCommand(CLI::App& app, const HostOptions& options, int& exit_code) {
  auto run = std::make_shared<RunOptions>();
  auto* command = app.add_subcommand(
      "run", "Execute the command in COMMAND_FILE (JSON: an object keyed by Host ... IncludeSubdir, "
             "or an array of 24 values), print its messages and variables; exit 1 when Error is "
             "True, 2 for a command file it cannot use");
  command->add_option("COMMAND_FILE", run->command_file, "The command file")->required();
  command->add_flag("--quiet,-q", run->quiet, "AutoLog off: only warnings and errors are sent");
  command->add_flag("--dry-run,-n", run->dry_run,
                    "Check the command file and tell what the run would do, without running it");
  command->add_option("--password-env", run->password_env,
                      "Take the password from this environment variable, not from the file")
      ->type_name("NAME");
  command->callback([run, &options, &exit_code] {
    try {
      exit_code = Run(*run, options);
    } catch (const CommandFileError& e) {
      fmt::print(stderr, "pullwire: {}\n", e.what());
      exit_code = 2;
    }
  });
}

}  // namespace pullwire::host
