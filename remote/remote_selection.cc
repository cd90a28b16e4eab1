// The folder mode's current item.
#include "remote/remote_selection.h"

#include <exception>

#include "module/vb_error.h"

namespace pullwire {

std::string SelectedItemKind(const RemoteEntry& entry) {
  if (entry.IsFolder) return kKindFolderClose;
  if (entry.IsFolderLink) return kKindFolderLink;
  return kKindFile;
}

void RemoteSelFiles(ModuleState& state, MessageChannel& messages, RemoteList which,
                    const std::string& folder, std::int32_t index) {
  state.Selected = SelectedItem{};
  try {
    const std::vector<RemoteEntry>& list = ListOf(state, which);
    if (index < 0 || static_cast<std::size_t>(index) >= list.size()) {
      throw VbError(com::kVbSubscriptOutOfRange);
    }
    const RemoteEntry& entry = list[static_cast<std::size_t>(index)];
    state.Selected.Name = entry.Name;
    state.Selected.Folder = folder;
    state.Selected.Kind = SelectedItemKind(entry);
    state.Selected.Size = entry.Size;
  } catch (const std::exception& e) {
    messages.SendHostMessage(std::string("ERROR_RemoteSelFiles: ") + e.what(), kErrorMessage);
    state.ErrorFlag = true;
  }
}

}  // namespace pullwire
