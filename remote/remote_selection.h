// Selecting one entry of a remote list as the item the folder mode works on.
#pragma once

#include <cstdint>
#include <string>

#include "module/message_channel.h"
#include "module/module_state.h"
#include "remote/entry_list.h"

namespace pullwire {

// "FolderClose" for a folder, "FolderLink" for a link that could be entered, "File" otherwise
// (a link that leads to a file is handled as a file).
std::string SelectedItemKind(const RemoteEntry& entry);

// Resets state.Selected, then copies entry `index` of the list into it with Folder := `folder`.
// An index outside the list sends "ERROR_RemoteSelFiles: " + description (type 2) and sets
// ErrorFlag; the fields set before the failure stay, and the caller goes on.
void RemoteSelFiles(ModuleState& state, MessageChannel& messages, RemoteList which,
                    const std::string& folder, std::int32_t index);

}  // namespace pullwire
