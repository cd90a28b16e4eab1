// The folder browser of the command editor: a modal chooser that falls back to its starting folder.
#pragma once

#include <string>

class QWidget;

namespace pullwire {

class UiServices;

inline constexpr char kBrowseDirectoryTitle[] = "Browse Directory";

// Shows the folder chooser owned by `owner`, titled `title`, starting at `initial_folder`.
// Returns the chosen folder's full path, or `initial_folder` when the user chose none.
std::string ChooseFolder(UiServices& ui, QWidget* owner, const std::string& title,
                         const std::string& initial_folder);

}  // namespace pullwire
