// The entry point of the dialogs module (libpullwire_dialogs.so): the Qt editor and desktop
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
  std::unique_ptr<CommandEditor> (*make_command_editor)();
};

inline constexpr const char* kDialogsLibraryName = "libpullwire_dialogs.so";
inline constexpr const char* kDialogsEntryPointName = "PullwireDialogsEntryPoints";
using DialogsEntryPointFn = const DialogsEntryPoints* (*)();

}  // namespace pullwire
