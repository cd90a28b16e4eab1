// The subcommands of the pullwire host. Each Add*Command registers its subcommand on the app;
// its callback throws HostError on failure, which main reports. `run` and `edit` add themselves
// the same way.
#pragma once

#include <filesystem>
#include <optional>

#include <CLI/CLI.hpp>

namespace pullwire::host {

// Options every subcommand may use, given before or after the subcommand's name.
struct HostOptions {
  std::optional<std::filesystem::path> library;  // --library PATH: load this file, not the registry
};

void AddInfoCommand(CLI::App& app, const HostOptions& options);
void AddTypelibCommand(CLI::App& app, const HostOptions& options);
void AddRegisterCommands(CLI::App& app, const HostOptions& options);
// The daemon's own exit status (0 after a signal stopped it) goes to `exit_code`.
void AddDaemonCommand(CLI::App& app, int& exit_code);
// `run COMMAND_FILE`: 0 when the run's Error is False, 1 when True, 2 for a bad command file.
void AddRunCommand(CLI::App& app, const HostOptions& options, int& exit_code);
// `edit COMMAND_FILE`: 0 when saved, 1 when cancelled, 2 for a file or record that cannot be edited.
void AddEditCommand(CLI::App& app, const HostOptions& options, int& exit_code);

}  // namespace pullwire::host
