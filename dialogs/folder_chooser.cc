// The folder browser: UiServices' chooser with "cancel keeps the starting folder".
#include "dialogs/folder_chooser.h"

#include "plugin/ui_services.h"

namespace pullwire {

std::string ChooseFolder(UiServices& ui, QWidget* owner, const std::string& title,
                         const std::string& initial_folder) {
  std::string chosen;
  if (!ui.ChooseFolder(owner, title, initial_folder, &chosen)) return initial_folder;
  return chosen;
}

}  // namespace pullwire
