// libpullwire_dialogs.so: hands the plug-in its Qt editor and desktop services.
#include "dialogs/edit_command.h"
#include "dialogs/qt_application.h"
#include "dialogs/qt_ui_services.h"
#include "module/dialogs_entry.h"

namespace pullwire {
namespace {

constexpr char kNoDisplayMessage[] =
    "The command editor needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set).";

std::unique_ptr<UiServices> MakeUiServices() noexcept {
  try {
    if (EnsureQtApplication() == nullptr) return nullptr;
    return std::make_unique<QtUiServices>();
  } catch (...) {
    return nullptr;  // the plug-in falls back to its console services
  }
}

// Lowers DialogTop so the editor fits the screen (creating the Qt application if needed).
void PositionEditor(PluginModule& module) {
  if (EnsureQtApplication() != nullptr) LowerDialogTop(module.state());
}

// Fills the editor from the settings and shows it modally. Without a display, says so through
// the module's message box and returns as a cancel does.
void EditWithQt(PluginModule& module) {
  if (EnsureQtApplication() == nullptr) {
    module.ui().ShowMessage(kNoDisplayMessage, "Pullwire", MessageIcon::kExclamation);
    return;
  }
  QtUiServices desktop;
  EditCommand(module.state(), desktop);
}

constexpr DialogsEntryPoints kEntryPoints{&MakeUiServices, &PositionEditor, &EditWithQt};

}  // namespace
}  // namespace pullwire

extern "C" __attribute__((visibility("default"))) const pullwire::DialogsEntryPoints* PullwireDialogsEntryPoints() {
  return &pullwire::kEntryPoints;
}
