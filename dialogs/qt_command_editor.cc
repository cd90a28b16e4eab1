// Setup's command editor and the desktop services, on Qt.
#include "dialogs/qt_command_editor.h"

#include "dialogs/edit_command.h"
#include "dialogs/qt_application.h"
#include "dialogs/qt_ui_services.h"

namespace pullwire {

void QtCommandEditor::Position(PluginModule& module) {
  if (EnsureQtApplication() != nullptr) LowerDialogTop(module.state());
}

void QtCommandEditor::Edit(PluginModule& module) {
  if (EnsureQtApplication() == nullptr) {
    module.ui().ShowMessage(nullptr, kNoDisplayMessage, "Pullwire", MessageIcon::kExclamation);
    return;
  }
  EditCommand(module.state(), module.ui());
}

std::unique_ptr<UiServices> MakeQtUiServices() {
  if (EnsureQtApplication() == nullptr) return nullptr;
  return std::make_unique<QtUiServices>();
}

}  // namespace pullwire
