// The one symbol of the dialogs module (libpullwire_dialogs.so): the Qt editor and desktop
// services live in a library of their own, loaded on the first Setup, so that a host that only
// runs commands never loads Qt.
#pragma once

#include <memory>

#include "module/plugin_module.h"
#include "module/ui_services.h"

namespace pullwire {

struct DialogsEntryPoints {
  // Null when no display can be reached (the module then keeps its console services).
  std::unique_ptr<UiServices> (*make_ui_services)();
  // Setup's two steps (CommandEditor::Position and CommandEditor::Edit) on Qt.
  void (*position_editor)(PluginModule& module);
  void (*edit_command)(PluginModule& module);
};

inline constexpr const char* kDialogsLibraryName = "libpullwire_dialogs.so";
inline constexpr const char* kDialogsEntryPointName = "PullwireDialogsEntryPoints";
using DialogsEntryPointFn = const DialogsEntryPoints* (*)();

}  // namespace pullwire
