// `pullwire edit COMMAND_FILE`: the host's side of Setup. Opens the plug-in's editor on the
// file's command and writes the edited command back when the user saves.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "host/commands.h"

namespace pullwire::host {

struct EditOptions {
  std::filesystem::path command_file;  // a missing file starts a new command at the defaults
  std::optional<std::int16_t> left;    // the editor's position in twips, as a host passes it
  std::optional<std::int16_t> top;
};

inline constexpr int kEditSaved = 0;
inline constexpr int kEditCancelled = 1;
inline constexpr int kEditBadCommand = 2;

// Runs the editor modally; the file is replaced atomically on "&Ok" and left alone on
// "&Cancel". Returns kEditSaved, kEditCancelled, or kEditBadCommand for a file or record that
// cannot be edited (told on stderr). Throws HostError when the plug-in cannot be loaded.
int EditCommandFile(const EditOptions& edit, const HostOptions& options);

}  // namespace pullwire::host
