// The dialogs layer plugged into the module: Setup's command editor and the desktop services on
// Qt, for PluginModule::set_command_editor and PluginModule::set_ui_factory.
#pragma once

#include <memory>

#include "module/plugin_module.h"
#include "module/ui_services.h"

namespace pullwire {

inline constexpr char kNoDisplayMessage[] =
    "The command editor needs a graphical display (DISPLAY or WAYLAND_DISPLAY is not set).";

class QtCommandEditor final : public CommandEditor {
 public:
  // Lowers DialogTop so the editor fits the screen (creating the Qt application if needed).
  void Position(PluginModule& module) override;
  // Fills the editor from the settings and shows it modally. Without a display, says so through
  // the module's message box and returns as a cancel does.
  void Edit(PluginModule& module) override;
};

// QtUiServices on the Qt application (created when the host has none); null when no display can
// be reached, so that the module falls back to its console services.
std::unique_ptr<UiServices> MakeQtUiServices();

}  // namespace pullwire
